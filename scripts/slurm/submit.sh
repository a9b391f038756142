#!/usr/bin/env bash
# Searches a folder of photos on a Slurm cluster: prepares the batch on this (login) node -
# the template learned once into the output folder, the photo list stored beside the
# results - submits detect_array.sh as a job array of TASKS tasks (sbatch --array=0-(TASKS-1)),
# each taking its share of the list, waits for the array, merges the index and reports.
# Rerun it after a failure: only the tasks whose share has photos left are submitted, and
# they search only those photos.
#
#   IMAGES=/shared/photos OUT=/shared/results TASKS=16 scripts/slurm/submit.sh
#
# Variables: TASKS (array tasks, default 8), THREADS (threads per task, default 1),
# SBATCH_OPTIONS (further sbatch options, e.g. "--partition=short --time=1:00:00"),
# DETECT_MODULES (modules each task loads, e.g. "octave"), and those of scripts/detect.sh:
# IMAGES, OUT, RECURSIVE, PICTURES, FACES, COUNT, RERANK, MEMORY, TEMPLATE, BUILD_DIR, DATA_DIR.
# IMAGES, OUT, TEMPLATE and the build folder must be on a filesystem every node sees.
# Exit status: 2 for a mistaken variable, 1 when some photo failed or was not done.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
if ! command -v sbatch > /dev/null 2>&1; then
    echo "submit: sbatch not found: run this on a node of a Slurm cluster (a login node)" >&2
    exit 2
fi
tasks="${TASKS:-8}"
[[ "$tasks" =~ ^[0-9]+$ ]] && [ "${#tasks}" -le 5 ] && [ "$tasks" -ge 1 ] || {
    echo "submit: TASKS must be a whole number of array tasks from 1 to 99999; got \"$tasks\"" >&2
    exit 2
}
JOBS="$tasks" THREADS="${THREADS:-1}" RUNNER=slurm SLURM_SCRIPT="$here/detect_array.sh" \
    exec "$here/../detect.sh"
