#!/usr/bin/env bash
# The main job: fetch the data once, learn a face template from LFW faces and its re-ranking
# model, and find the faces of every size in a photo, writing template.png, detections.png,
# detections.csv and summary.txt.
#
#   scripts/demo.sh                                 the Solvay 1927 photo, scored against its
#                                                   reference boxes, into out/
#   SCENE=photo.png OUT=folder scripts/demo.sh      any grey or colour PNG/JPEG
#   SCENE=photo.png FACES="40 80" COUNT=10 scripts/demo.sh
#                                                   only faces of about 40 to 80 pixels high
# Variables: SCENE (image file), OUT (output folder), FACES (smallest and largest face height
# in pixels, or one height; default every size from 24 pixels up), COUNT (detections to make,
# at most), RERANK=0 (rank by the template alone, without its re-ranking model), TEMPLATE (the template's
# file, loaded when learned with the same settings and data, learned and written otherwise;
# default OUT/template.mat), BUILD_DIR (build folder holding mex/ and toolbox/), DATA_DIR
# (data cache).
#
# Every variable is checked before Octave starts; a mistake ends the run with one line on
# standard error and exit status 2. A failure inside the run (an unreadable image, a search
# that cannot work) ends it with one line and exit status 1.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildDir="${BUILD_DIR:-build}"
case "$buildDir" in /*) ;; *) buildDir="$root/$buildDir" ;; esac
dataDir="${DATA_DIR:-$root/data}"
scene="${SCENE:-}"
out="${OUT:-out}"
faces="${FACES:-}"
count="${COUNT:-40}"
rerank="${RERANK:-1}"
template="${TEMPLATE:-}"

refuse() {
    echo "demo: $*" >&2
    exit 2
}

# shellcheck source=variable_checks.sh
. "$root/scripts/variable_checks.sh"

checkScene() {
    [ -e "$scene" ] || refuse "SCENE=$scene: no such file"
    [ -f "$scene" ] || refuse "SCENE=$scene: not a regular file"
    [ -r "$scene" ] || refuse "SCENE=$scene: not readable"
    # PNG files start with 89 50 4E 47, JPEG files with FF D8 FF.
    local magic
    magic=$(head -c 4 -- "$scene" | od -An -tx1 | tr -d ' \n')
    case "$magic" in
        89504e47 | ffd8ff*) ;;
        *) refuse "SCENE=$scene: not a PNG or JPEG image" ;;
    esac
}

if [ -n "$scene" ]; then checkScene; fi
if [ -n "$faces" ]; then checkFaces "$faces"; fi
checkCount "$count"
checkFlag RERANK "$rerank"
checkOut "$out"
if [ -n "$template" ]; then checkTemplate "$template"; fi
for dir in "$buildDir/mex" "$buildDir/toolbox"; do
    [ -d "$dir" ] || refuse "$dir is missing; build first (make demo builds it)"
done

fetchStart=$(date +%s.%N)
"$root/scripts/fetch-data.sh" "$dataDir"
fetchTime=$(awk -v a="$fetchStart" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
printf 'data cache %s ready (%.2f s)\n' "$dataDir" "$fetchTime"

# The plug-ins' threads (OMP_NUM_THREADS of them, every core by default) sleep while they wait
# rather than spin, unless OMP_WAIT_POLICY says otherwise: on a machine that other work keeps
# busy, spinning threads hold back the very threads they wait for.
export OMP_WAIT_POLICY="${OMP_WAIT_POLICY:-passive}"

# The values reach Octave through the environment, never as code; a failure prints one line.
DEMO_MEX="$buildDir/mex" DEMO_TOOLBOX="$buildDir/toolbox" DEMO_DATA="$dataDir" \
DEMO_OUT="$out" DEMO_SCENE="$scene" DEMO_FACES="$faces" DEMO_COUNT="$count" DEMO_TEMPLATE="$template" \
DEMO_RERANK="$rerank" \
octave-cli --no-history --norc --quiet --eval '
  addpath(getenv("DEMO_MEX"), getenv("DEMO_TOOLBOX"));
  options = {"dataDir", getenv("DEMO_DATA"), "outDir", getenv("DEMO_OUT"), ...
             "detectionCount", str2double(getenv("DEMO_COUNT")), ...
             "rerank", str2double(getenv("DEMO_RERANK"))};
  if ~isempty(getenv("DEMO_SCENE"))
    options(end + 1:end + 2) = {"scene", getenv("DEMO_SCENE")};
  end
  if ~isempty(getenv("DEMO_TEMPLATE"))
    options(end + 1:end + 2) = {"templateFile", getenv("DEMO_TEMPLATE")};
  end
  if ~isempty(getenv("DEMO_FACES"))
    options(end + 1:end + 2) = {"faceRange", reshape(sscanf(getenv("DEMO_FACES"), "%f"), 1, [])};
  end
  try
    face_demo(options{:});
  catch failure
    fprintf(stderr, "demo: %s\n", failure.message);
    exit(1);
  end'
