#!/usr/bin/env bash
# make evaluate: scores detect_faces, with face_demo's template, on the development photos and
# both Solvay 1927 scans, beside OpenCV's Haar cascade when it can be installed, and prints a
# line per photo and the totals (scripts/evaluation/evaluate_detection.m).
#
#   scripts/evaluate.sh
# Variables: BUILD_DIR (build folder holding mex/ and toolbox/), DATA_DIR (data cache).
#
# The development photos are fetched into the data cache once (fetch-data.sh --development).
# The Haar cascade (install-deps.sh group peers: python3-opencv, opencv-data) is installed
# when missing; when it cannot be, its figures are left out and the run says so.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildDir="${BUILD_DIR:-build}"
case "$buildDir" in /*) ;; *) buildDir="$root/$buildDir" ;; esac
dataDir="${DATA_DIR:-$root/data}"
for dir in "$buildDir/mex" "$buildDir/toolbox"; do
    if [ ! -d "$dir" ]; then
        echo "evaluate: $dir is missing; build first (make evaluate builds it)" >&2
        exit 2
    fi
done

"$root/scripts/fetch-data.sh" --development "$dataDir"
peer="$root/scripts/peers/haar_faces.py"
if ! "$root/scripts/install-deps.sh" peers; then
    echo "evaluate: the Haar cascade cannot be installed (python3-opencv, opencv-data): its figures are left out" >&2
    peer=""
fi

# The values reach Octave through the environment, never as code.
EVALUATE_MEX="$buildDir/mex" EVALUATE_TOOLBOX="$buildDir/toolbox" \
EVALUATE_SCRIPTS="$root/scripts/evaluation" EVALUATE_DATA="$dataDir" \
EVALUATE_LABELS="$root/scripts/development-faces.txt" EVALUATE_PEER="$peer" \
octave-cli --no-history --norc --quiet --eval '
  addpath(getenv("EVALUATE_MEX"), getenv("EVALUATE_TOOLBOX"), getenv("EVALUATE_SCRIPTS"));
  try
    evaluate_detection("dataDir", getenv("EVALUATE_DATA"), "labelsFile", getenv("EVALUATE_LABELS"), ...
                       "peerScript", getenv("EVALUATE_PEER"));
  catch failure
    fprintf(stderr, "evaluate: %s\n", failure.message);
    exit(1);
  end'
