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
# in pixels), COUNT (detections to make), BUILD_DIR (build folder holding mex/ and toolbox/),
# DATA_DIR (data cache).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildDir="${BUILD_DIR:-build}"
case "$buildDir" in /*) ;; *) buildDir="$root/$buildDir" ;; esac
dataDir="${DATA_DIR:-$root/data}"
defaultScene="$dataDir/1280px-Solvay_conference_1927.png"
scene="${SCENE:-$defaultScene}"
out="${OUT:-out}"
faces="${FACES:-36 63}"
count="${COUNT:-40}"

fetchStart=$(date +%s.%N)
"$root/scripts/fetch-data.sh" "$dataDir"
fetchTime=$(awk -v a="$fetchStart" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
printf 'data cache %s ready (%.2f s)\n' "$dataDir" "$fetchTime"

if [ ! -f "$scene" ]; then
    echo "demo: no such image: $scene" >&2
    exit 1
fi
reference=""
if [ "$(realpath "$scene")" = "$(realpath "$defaultScene")" ]; then
    reference="$dataDir/ground_truth_detection.txt"
fi
for dir in "$buildDir/mex" "$buildDir/toolbox"; do
    if [ ! -d "$dir" ]; then
        echo "demo: $dir is missing; build first (make)" >&2
        exit 1
    fi
done

# Octave strings are single-quoted: double any quote in the paths.
quote() { printf "'%s'" "${1//\'/\'\'}"; }
octave-cli --no-history --norc --quiet --eval \
    "addpath($(quote "$buildDir/mex"), $(quote "$buildDir/toolbox"), $(quote "$root/scripts")); \
     face_demo($(quote "$scene"), $(quote "$out"), [$faces], $count, $(quote "$dataDir"), $(quote "$reference"));"
