#!/usr/bin/env bash
# make bench-detect: times, in one run on this machine, the search for faces in the Solvay 1927
# photo (1280 x 926), as medians of a few runs after one untimed run (elapsed and processor
# time):
#   - detect_faces with the demo's settings (every face size from 24 px up, 40 detections,
#     re-ranked), given the face sizes of the photo (make demo FACES="36 63": five sizes from
#     36 to 63 px), and given those sizes with the template alone (no re-ranking); the
#     template and its model learned once and not timed;
#   - OpenCV's Haar cascade (haarcascade_frontalface_default.xml), detectMultiScale at its
#     defaults on the grey photo, and given the same face sizes (minSize 36, maxSize 63);
#   - the template alone given those sizes on the photo enlarged to twice its side;
#   - the template alone given those sizes with OMP_NUM_THREADS=1 (and 2, above);
#   - the whole cached make demo (data fetched, plug-ins built), at every size, given
#     FACES="36 63", and given those sizes with RERANK=0 (the template alone), and their
#     stage times.
# It measures whatever detect_faces does in this tree.
#
#   scripts/bench-detect.sh
# Variables: BUILD_DIR (build folder holding mex/ and toolbox/), DATA_DIR (data cache),
# RUNS (runs per median, 3).
#
# The Haar cascade (install-deps.sh group peers: python3-opencv, opencv-data) is installed
# when missing; when it cannot be, its times are left out and the run says so.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
buildDir="${BUILD_DIR:-build}"
case "$buildDir" in /*) ;; *) buildDir="$root/$buildDir" ;; esac
dataDir="${DATA_DIR:-$root/data}"
runs="${RUNS:-3}"
photo="$dataDir/1280px-Solvay_conference_1927.png"
smallestFace=36
largestFace=63
enlargement=2
expectedEnlargedRatio=4.5     # 4 times the pixels should cost at most this many times the time
callsPerRound=3               # timed calls per process and round, template alone and Haar (their median)
for dir in "$buildDir/mex" "$buildDir/toolbox"; do
    if [ ! -d "$dir" ]; then
        echo "bench-detect: $dir is missing; build first (make bench-detect builds it)" >&2
        exit 2
    fi
done
if ! [[ "$runs" =~ ^[1-9][0-9]?$ ]]; then
    echo "bench-detect: RUNS must be a whole number from 1 to 99; got \"$runs\"" >&2
    exit 2
fi

"$root/scripts/fetch-data.sh" "$dataDir"
peer="$root/scripts/peers/haar_faces.py"
if ! "$root/scripts/install-deps.sh" peers; then
    echo "bench-detect: the Haar cascade cannot be installed (python3-opencv, opencv-data): its times are left out" >&2
    peer=""
fi

# detect_times THREADS ENLARGEMENT RERANK [SMALLEST LARGEST [RUNS]]: "seconds,cpuSeconds,fastest"
# of detect_faces, medians of RUNS runs (default: the variable's) and the shortest run,
# re-ranking its candidates (RERANK 1) or not, at every size or given the face range.
detect_times() {
    OMP_NUM_THREADS="$1" BENCH_MEX="$buildDir/mex" BENCH_TOOLBOX="$buildDir/toolbox" \
    BENCH_SCRIPTS="$root/scripts/evaluation" BENCH_DATA="$dataDir" BENCH_RUNS="${6:-$runs}" \
    BENCH_ENLARGEMENT="$2" BENCH_RERANK="$3" BENCH_FACES="${4:-} ${5:-}" octave-cli --no-history --norc --quiet --eval '
      addpath(getenv("BENCH_MEX"), getenv("BENCH_TOOLBOX"), getenv("BENCH_SCRIPTS"));
      [seconds, cpuSeconds, fastest] = time_detection(getenv("BENCH_DATA"), str2double(getenv("BENCH_RUNS")), ...
                                             str2double(getenv("BENCH_ENLARGEMENT")), ...
                                             sscanf(getenv("BENCH_FACES"), "%f"), ...
                                             str2double(getenv("BENCH_RERANK")));
      printf("%.4f,%.4f,%.4f\n", seconds, cpuSeconds, fastest);'
}

# demo_seconds OUT [FACES [RERANK]]: runs the cached make demo into OUT quietly, at every size
# or given FACES, re-ranked unless RERANK is 0, with the template learned for the runs above;
# prints its elapsed seconds.
demo_seconds() {
    local started
    started=$(date +%s.%N)
    DATA_DIR="$dataDir" make -C "$root" --no-print-directory BUILD_DIR="$buildDir" OUT="$1" \
        TEMPLATE="$dataDir/demo-template.mat" ${2:+FACES="$2"} RERANK="${3:-1}" demo > "$1.log" 2>&1 ||
        { echo "bench-detect: make demo failed; its output:" >&2; cat "$1.log" >&2; exit 1; }
    awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f\n", b - a }'
}

# median of the numbers given.
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

field() { cut -d, -f"$2" <<< "$1"; }
# median_pair TIMES...: "seconds,cpuSeconds", each the median of its field over the
# "seconds,cpuSeconds[,...]" given.
median_pair() {
    local seconds=() cpuSeconds=() times
    for times in "$@"; do
        seconds+=("$(field "$times" 1)")
        cpuSeconds+=("$(field "$times" 2)")
    done
    echo "$(median "${seconds[@]}"),$(median "${cpuSeconds[@]}")"
}
# ratio A B: "elapsed ratio (processor ratio)" of two "seconds,cpuSeconds" pairs.
ratio() {
    awk -v a="$(field "$1" 1)" -v b="$(field "$2" 1)" -v c="$(field "$1" 2)" -v d="$(field "$2" 2)" \
        'BEGIN { printf "%.2f (%.2f)", a / b, c / d }'
}
# line TITLE TIMES [NOTE]: one line of the report.
line() {
    printf '%-70s %7.2f s (%5.2f s)%s\n' "$1" "$(field "$2" 1)" "$(field "$2" 2)" "${3:+   $3}"
}

echo "bench-detect: $(date -u +%Y-%m-%d), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start;"
echo "medians of $runs runs (of $runs rounds for the template alone on 2 and 1 threads and the Haar cascade"
echo "at its defaults, each round the median of $callsPerRound calls); elapsed seconds (processor seconds, all"
echo "threads added), ratios likewise."
echo "The machine may be shared: elapsed times well above processor times say it was busy; repeat."
# The ratios that matter most, the template alone against the Haar cascade and on 2 threads
# against 1, come from rounds that time each of the three once: a machine that slows down or
# speeds up over the run then weighs on all three alike.
plainRuns=()
oneThreadRuns=()
haarRuns=()
for ((round = 1; round <= runs; ++round)); do
    plainRuns+=("$(detect_times 2 1 0 "$smallestFace" "$largestFace" "$callsPerRound")")
    oneThreadRuns+=("$(detect_times 1 1 0 "$smallestFace" "$largestFace" "$callsPerRound")")
    if [ -n "$peer" ]; then haarRuns+=("$("$peer" "$photo" --time "$callsPerRound")"); fi
done
plain=$(median_pair "${plainRuns[@]}")
oneThread=$(median_pair "${oneThreadRuns[@]}")
ours=$(detect_times 2 1 1 "$smallestFace" "$largestFace")
every=$(detect_times 2 1 1)
echo
line "detect_faces, the template alone, given the photo's face sizes ($smallestFace-$largestFace px)" "$plain"
line "detect_faces re-ranked, given those sizes (the demo's FACES=\"$smallestFace $largestFace\")" "$ours"
line "detect_faces re-ranked, every size from 24 px up (the demo's default)" "$every"
if [ -n "$peer" ]; then
    haar="$(median_pair "${haarRuns[@]}"),$(field "${haarRuns[0]}" 3),$(field "${haarRuns[0]}" 4)"
    haarSized=$("$peer" "$photo" --sizes "$smallestFace" "$largestFace" --time "$runs")
    line "Haar cascade, detectMultiScale at its defaults ($(field "$haar" 4) threads)" "$haar" \
         "alone / Haar: $(ratio "$plain" "$haar"); re-ranked: $(ratio "$ours" "$haar"); every size: $(ratio "$every" "$haar")"
    line "Haar cascade, minSize $smallestFace and maxSize $largestFace px" "$haarSized" \
         "alone / Haar: $(ratio "$plain" "$haarSized")"
fi
enlarged=$(detect_times 2 "$enlargement" 0 "$smallestFace" "$largestFace")
line "the template alone, given sizes, photo enlarged $enlargement times in side" "$enlarged" \
     "enlarged / photo: $(ratio "$enlarged" "$plain"), at most $expectedEnlargedRatio expected"
# The rounds' own ratios of 1 thread to 2 (each round times both moments apart), lowest and
# highest: how far a busy machine moved them.
roundRatios=()
for ((round = 0; round < runs; ++round)); do
    roundRatios+=("$(awk -v a="$(field "${oneThreadRuns[$round]}" 1)" -v b="$(field "${plainRuns[$round]}" 1)" \
                        'BEGIN { printf "%.2f", a / b }')")
done
roundRange="$(printf '%s\n' "${roundRatios[@]}" | sort -g | awk 'NR == 1 { low = $1 } { high = $1 }
                END { print (low == high) ? low : low "-" high }')"
# The ratio of the shortest calls of all rounds: a busy machine only lengthens calls, and slows
# two threads more than one (either may be held up), so this is the ratio the code gives.
fastest() { for times in "$@"; do field "$times" 3; done | sort -g | head -n 1; }
fastestRatio=$(awk -v a="$(fastest "${oneThreadRuns[@]}")" -v b="$(fastest "${plainRuns[@]}")" \
               'BEGIN { printf "%.2f", a / b }')
line "the template alone, given sizes, OMP_NUM_THREADS=1" "$oneThread" \
     "1 thread / 2 threads: $(ratio "$oneThread" "$plain"); rounds $roundRange; shortest calls $fastestRatio"

out=$(mktemp -d "${TMPDIR:-/tmp}/bench-detect.XXXXXX")
trap 'rm -rf "$out"' EXIT
demoTimes=()
sizedTimes=()
plainTimes=()
for ((run = 1; run <= runs; ++run)); do
    demoTimes+=("$(demo_seconds "$out/demo")")
    sizedTimes+=("$(demo_seconds "$out/sized" "$smallestFace $largestFace")")
    plainTimes+=("$(demo_seconds "$out/plain" "$smallestFace $largestFace" 0)")
done
printf '%-70s %7.2f s\n' "make demo, cached (data fetched, plug-ins built), whole command" "$(median "${demoTimes[@]}")"
echo "  its stages, last run (summary.txt):"
sed -n 's/^time /    /p' "$out/demo/summary.txt"
printf '%-70s %7.2f s\n' "make demo FACES=\"$smallestFace $largestFace\", cached, whole command" "$(median "${sizedTimes[@]}")"
echo "  its stages, last run (summary.txt):"
sed -n 's/^time /    /p' "$out/sized/summary.txt"
printf '%-70s %7.2f s\n' "make demo FACES=\"$smallestFace $largestFace\" RERANK=0, cached, whole command" "$(median "${plainTimes[@]}")"
echo "  its stages, last run (summary.txt):"
sed -n 's/^time /    /p' "$out/plain/summary.txt"
