#!/usr/bin/env bash
# The main job: fetch the data once, learn a face template from LFW faces and find the faces
# in a photo, writing template.png, detections.png, detections.csv and summary.txt.
#
#   scripts/demo.sh                                 the Solvay 1927 photo, scored against its
#                                                   reference boxes, into out/
#   SCENE=photo.png OUT=folder FACES="40 80" COUNT=10 scripts/demo.sh
#                                                   any grey or colour PNG/JPEG with faces of
#                                                   about 40 to 80 pixels in height
# Variables: SCENE (image file), OUT (output folder), FACES (smallest and largest face height
# in pixels, or one height), COUNT (detections to make, at most), BUILD_DIR (build folder
# holding mex/ and toolbox/), DATA_DIR (data cache).
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

refuse() {
    echo "demo: $*" >&2
    exit 2
}

# A positive decimal number, such as 40 or 12.5.
positiveNumber='^[0-9]*\.?[0-9]+$'

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

checkFaces() {
    local sizes
    read -r -a sizes <<< "$faces"
    local usage="FACES must be one or two face heights in pixels, greater than 0, the smallest first (e.g. FACES=\"40 80\"); got \"$faces\""
    [ ${#sizes[@]} -ge 1 ] && [ ${#sizes[@]} -le 2 ] || refuse "$usage"
    for size in "${sizes[@]}"; do
        [[ "$size" =~ $positiveNumber ]] || refuse "$usage"
        awk -v s="$size" 'BEGIN { exit !(s > 0) }' || refuse "$usage"
    done
    if [ ${#sizes[@]} -eq 2 ]; then
        awk -v a="${sizes[0]}" -v b="${sizes[1]}" 'BEGIN { exit !(a <= b) }' || refuse "$usage"
    fi
}

checkCount() {
    [[ "$count" =~ ^[0-9]+$ ]] && [ "${#count}" -le 9 ] && [ "$count" -ge 1 ] ||
        refuse "COUNT must be a whole number of detections from 1 to 999999999; got \"$count\""
}

checkOut() {
    mkdir -p -- "$out" 2>/dev/null || refuse "OUT=$out: cannot make the output folder"
    [ -d "$out" ] && [ -w "$out" ] || refuse "OUT=$out: the output folder is not writable"
}

if [ -n "$scene" ]; then checkScene; fi
if [ -n "$faces" ]; then checkFaces; fi
checkCount
checkOut
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
DEMO_OUT="$out" DEMO_SCENE="$scene" DEMO_FACES="$faces" DEMO_COUNT="$count" \
octave-cli --no-history --norc --quiet --eval '
  addpath(getenv("DEMO_MEX"), getenv("DEMO_TOOLBOX"));
  options = {"dataDir", getenv("DEMO_DATA"), "outDir", getenv("DEMO_OUT"), ...
             "detectionCount", str2double(getenv("DEMO_COUNT"))};
  if ~isempty(getenv("DEMO_SCENE"))
    options(end + 1:end + 2) = {"scene", getenv("DEMO_SCENE")};
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
