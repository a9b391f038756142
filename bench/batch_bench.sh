#!/usr/bin/env bash
# The batch's throughput: makes a folder of PHOTOS crops (default 300) of the data cache's
# photos, learns the template once, then times make detect's script over the folder with
# JOBS=1 and with JOBS=2, one thread per worker each time, into fresh output folders, and
# prints both times and the speed-up. Needs the plug-ins built and the data fetched.
#   bench/batch_bench.sh [buildDir]        PHOTOS=n to change the count
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildDir="$(cd "${1:-$root/build}" && pwd)"
count="${PHOTOS:-300}"
work=$(mktemp -d "${TMPDIR:-/tmp}/batch-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$root/scripts/fetch-data.sh" "$root/data" > /dev/null
mkdir -p "$work/photos"

octave-cli --no-history --norc --quiet --eval "
  addpath('$buildDir/mex', '$buildDir/toolbox');
  sources = {'1280px-Solvay_conference_1927.png', 'Solvay_conference_1927_Version2_1024x705.jpg', 'astronaut.png'};
  images = cellfun(@(f) read_image(fullfile('$root/data', f)), sources, 'UniformOutput', false);
  rand('seed', 1);
  for k = 1:$count
    image = images{mod(k - 1, numel(images)) + 1};
    rows = 160 + round(80 * rand()); cols = 200 + round(120 * rand());
    top = 1 + floor((size(image, 1) - rows) * rand()); left = 1 + floor((size(image, 2) - cols) * rand());
    crop = image(top:top + rows - 1, left:left + cols - 1);
    if mod(k, 2)
      imwrite(crop, sprintf('$work/photos/photo%04d.png', k));
    else
      imwrite(uint8(255 * crop), sprintf('$work/photos/photo%04d.jpg', k), 'Quality', 92);
    end
  end" 2> /dev/null
echo "batch bench: $count photos of 160 to 240 x 200 to 320 pixels, faces of 40 to 60 px, 10 detections each"

settings=(BUILD_DIR="$buildDir" IMAGES="$work/photos" FACES="40 60" COUNT=10 THREADS=1 TEMPLATE="$work/template.mat")
# Learn the template once, outside the timed runs: a batch of no photos.
mkdir -p "$work/no-photos"
env "${settings[@]}" OUT="$work/learn" JOBS=1 IMAGES="$work/no-photos" "$root/scripts/detect.sh" > /dev/null
declare -A seconds
for jobs in 1 2; do
    start=$(date +%s.%N)
    env "${settings[@]}" OUT="$work/out$jobs" JOBS="$jobs" "$root/scripts/detect.sh" > "$work/out$jobs.log" 2>&1 || true
    seconds[$jobs]=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    echo "JOBS=$jobs: ${seconds[$jobs]} s ($(tr '\r' '\n' < "$work/out$jobs.log" | sed -n 's/^detect_folder: \([0-9]* photos in .*\); index.*/\1/p'))"
done
diff -r "$work/out1/detections" "$work/out2/detections" > /dev/null && echo "the same CSVs with JOBS=1 and JOBS=2" ||
    echo "the CSVs of JOBS=1 and JOBS=2 differ"
awk -v a="${seconds[1]}" -v b="${seconds[2]}" 'BEGIN { printf "JOBS=2 is %.2f times as fast as JOBS=1\n", a / b }'
