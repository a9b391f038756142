#!/usr/bin/env bash
# The batch search: find faces in every PNG and JPEG of a folder with the demo's template
# (learned once into the output folder and reused), writing a CSV per photo, an index and a
# log; a rerun resumes where a killed run stopped (detect_folder in the toolbox).
#
#   IMAGES=photos OUT=results scripts/detect.sh          (make detect IMAGES=... OUT=...)
#
# Variables: IMAGES (folder of photos), OUT (output folder, made if missing), JOBS (worker
# processes, default one per core; for a Slurm array, its tasks), THREADS (threads per
# worker, default the cores split among the workers), RECURSIVE=1 (search subfolders too),
# PICTURES=1 (also draw each photo's detections), FACES (smallest and largest face height in
# pixels, or one height; default every size from 24 px up to the photo's shorter side),
# COUNT (detections per photo, at most; default 40), RERANK=0 (rank by the template alone,
# without learning or applying its re-ranking model: faster, fewer faces found),
# MEMORY (GB of maps a photo's search may take, default 4), TEMPLATE (the template's file,
# default OUT/template.mat), BUILD_DIR (build folder holding mex/ and toolbox/), DATA_DIR
# (data cache). RUNNER=slurm, SLURM_SCRIPT and SBATCH_OPTIONS are set by
# scripts/slurm/submit.sh.
#
# Every variable is checked before Octave starts; a mistake ends the run with one line on
# standard error and exit status 2. The run ends with a summary line, and exit status 1 when
# some photo failed or was not done (0 otherwise); a run that cannot start (another batch
# holds the output folder) ends with one line and exit status 1.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildDir="${BUILD_DIR:-build}"
case "$buildDir" in /*) ;; *) buildDir="$root/$buildDir" ;; esac
dataDir="${DATA_DIR:-$root/data}"
images="${IMAGES:-}"
out="${OUT:-}"
jobs="${JOBS:-0}"
threads="${THREADS:-0}"
recursive="${RECURSIVE:-0}"
pictures="${PICTURES:-0}"
rerank="${RERANK:-1}"
faces="${FACES:-}"
count="${COUNT:-40}"
memory="${MEMORY:-4}"
template="${TEMPLATE:-}"
runner="${RUNNER:-local}"
slurmScript="${SLURM_SCRIPT:-}"
sbatchOptions="${SBATCH_OPTIONS:-}"

refuse() {
    echo "detect: $*" >&2
    exit 2
}

# shellcheck source=variable_checks.sh
. "$root/scripts/variable_checks.sh"

checkImages() {
    [ -n "$images" ] || refuse "IMAGES must name the folder of photos (make detect IMAGES=folder OUT=folder)"
    [ -d "$images" ] || refuse "IMAGES=$images: not a folder"
    [ -r "$images" ] && [ -x "$images" ] || refuse "IMAGES=$images: the folder cannot be read"
}

checkWhole() { # name value: a whole number from 0 to 9999
    [[ "$2" =~ ^[0-9]+$ ]] && [ "${#2}" -le 4 ] ||
        refuse "$1 must be a whole number from 0 to 9999 (0: chosen from the cores); got \"$2\""
}

checkMemory() {
    [[ "$memory" =~ $positiveNumber ]] && awk -v m="$memory" 'BEGIN { exit !(m > 0) }' ||
        refuse "MEMORY must be a number of GB greater than 0; got \"$memory\""
}

checkImages
checkOut "$out"
checkWhole JOBS "$jobs"
checkWhole THREADS "$threads"
checkFlag RECURSIVE "$recursive"
checkFlag PICTURES "$pictures"
checkFlag RERANK "$rerank"
if [ -n "$faces" ]; then checkFaces "$faces"; fi
checkCount "$count"
checkMemory
if [ -n "$template" ]; then checkTemplate "$template"; fi
for dir in "$buildDir/mex" "$buildDir/toolbox"; do
    [ -d "$dir" ] || refuse "$dir is missing; build first (make detect builds it)"
done

# The plug-ins' threads sleep while they wait rather than spin, unless OMP_WAIT_POLICY says
# otherwise: with several workers on the cores, spinning threads hold back those they wait for.
export OMP_WAIT_POLICY="${OMP_WAIT_POLICY:-passive}"

# The template is learned from the data cache when it is missing or outdated.
"$root/scripts/fetch-data.sh" "$dataDir" > /dev/null

# The matrix products of a process that searches by itself use THREADS threads too.
if [ "$jobs" = 1 ] && [ "$threads" != 0 ]; then
    export OMP_NUM_THREADS="$threads" OPENBLAS_NUM_THREADS="$threads"
fi

# The values reach Octave through the environment, never as code. Octave's note on leaving
# after a caught image reader error ("ignoring const execution_exception") is dropped from
# its standard error; its exit status is the script's.
set +e
{ DETECT_MEX="$buildDir/mex" DETECT_TOOLBOX="$buildDir/toolbox" DETECT_DATA="$dataDir" \
DETECT_IMAGES="$images" DETECT_OUT="$out" DETECT_JOBS="$jobs" DETECT_THREADS="$threads" \
DETECT_RECURSIVE="$recursive" DETECT_PICTURES="$pictures" DETECT_RERANK="$rerank" DETECT_FACES="$faces" \
DETECT_COUNT="$count" DETECT_MEMORY="$memory" DETECT_TEMPLATE="$template" \
DETECT_RUNNER="$runner" DETECT_SLURM_SCRIPT="$slurmScript" DETECT_SBATCH_OPTIONS="$sbatchOptions" \
octave-cli --no-history --norc --quiet --eval '
  sigterm_dumps_octave_core(false);
  sighup_dumps_octave_core(false);
  addpath(getenv("DETECT_MEX"), getenv("DETECT_TOOLBOX"));
  number = @(name) str2double(getenv(name));
  options = {"dataDir", getenv("DETECT_DATA"), "jobs", number("DETECT_JOBS"), ...
             "threads", number("DETECT_THREADS"), "recursive", number("DETECT_RECURSIVE"), ...
             "pictures", number("DETECT_PICTURES"), "rerank", number("DETECT_RERANK"), ...
             "detectionCount", number("DETECT_COUNT"), ...
             "memoryLimit", number("DETECT_MEMORY"), "runner", getenv("DETECT_RUNNER"), ...
             "slurmScript", getenv("DETECT_SLURM_SCRIPT"), ...
             "slurmOptions", getenv("DETECT_SBATCH_OPTIONS")};
  if ~isempty(getenv("DETECT_TEMPLATE"))
    options(end + 1:end + 2) = {"templateFile", getenv("DETECT_TEMPLATE")};
  end
  faces = reshape(sscanf(getenv("DETECT_FACES"), "%f"), 1, []);
  if numel(faces) == 2
    options(end + 1:end + 2) = {"faceSizes", exp(linspace(log(faces(1)), log(faces(2)), 5))};
  elseif numel(faces) == 1
    options(end + 1:end + 2) = {"faceSizes", faces};
  end
  try
    summary = detect_folder(getenv("DETECT_IMAGES"), getenv("DETECT_OUT"), options{:});
  catch failure
    fprintf(stderr, "detect: %s\n", failure.message);
    exit(1);
  end
  exit(summary.failed + summary.pending > 0);' 2>&1 1>&3 3>&- |
    grep -v --line-buffered 'ignoring const execution_exception' >&2; } 3>&1
exit "${PIPESTATUS[0]}"
