#!/usr/bin/env bash
#SBATCH --job-name=detect-faces
#SBATCH --ntasks=1
# One task of a batch's Slurm job array: searches share SLURM_ARRAY_TASK_ID + 1 of
# BATCH_SHARES of the photo list stored in the output folder (detect_share), skipping the
# photos whose result is complete. scripts/slurm/submit.sh submits it (through detect_folder)
# with the variables below set; to resubmit tasks by hand, set the same variables and run
#   sbatch --array=2,5 --output=OUT/logs/task-%a.out scripts/slurm/detect_array.sh
#
# Variables: BATCH_OUT (the output folder, on a filesystem the nodes share), BATCH_SHARES
# (the array's size), BATCH_MEX and BATCH_TOOLBOX (the build's mex/ and toolbox/ folders,
# shared too), BATCH_THREADS (threads per task, default 1), DETECT_MODULES (modules to load
# on the node first, e.g. "octave"), OCTAVE (the Octave command, default octave-cli).
set -euo pipefail

for name in BATCH_OUT BATCH_SHARES BATCH_MEX BATCH_TOOLBOX SLURM_ARRAY_TASK_ID; do
    if [ -z "${!name:-}" ]; then
        echo "detect_array: $name is not set; submit with scripts/slurm/submit.sh" >&2
        exit 2
    fi
done
if [ -n "${DETECT_MODULES:-}" ]; then
    # A batch shell may not have the module command yet: the login profile defines it.
    if ! type module > /dev/null 2>&1 && [ -f /etc/profile ]; then
        set +u
        . /etc/profile
        set -u
    fi
    module load ${DETECT_MODULES}
fi
export OMP_NUM_THREADS="${BATCH_THREADS:-1}" OPENBLAS_NUM_THREADS="${BATCH_THREADS:-1}"
echo "detect_array: task ${SLURM_ARRAY_TASK_ID} of job ${SLURM_ARRAY_JOB_ID:-?} on $(hostname): share $((SLURM_ARRAY_TASK_ID + 1)) of ${BATCH_SHARES}"
exec "${OCTAVE:-octave-cli}" --no-history --norc --quiet --eval '
  sigterm_dumps_octave_core(false);
  sighup_dumps_octave_core(false);
  addpath(getenv("BATCH_MEX"), getenv("BATCH_TOOLBOX"));
  task = getenv("SLURM_ARRAY_TASK_ID");
  out = getenv("BATCH_OUT");
  counts = detect_share(out, str2double(task) + 1, str2double(getenv("BATCH_SHARES")), ...
                        "logFile", fullfile(out, "logs", ["task-" task ".log"]));
  printf("detect_array: %d photos of this share: %d already done, %d searched, %d failed\n", ...
         counts.total, counts.skipped, counts.processed, counts.failed);'
