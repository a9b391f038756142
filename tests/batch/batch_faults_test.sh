#!/usr/bin/env bash
# make detect's faults, each ending with nothing lost and the results of an uninterrupted
# run: a batch killed with SIGTERM, and one killed with SIGKILL, in the middle of a photo,
# then run again; bad photos (a JPEG cut short, a zero-byte file, a text file named .jpg, a
# 5 x 5 image, a huge image beyond MEMORY) recorded as failed with their reasons while the
# rest are done; an output folder that cannot be written refused in one line before any
# work; a second batch on a busy output folder refused, naming the first's process, and a
# dead batch's lock taken over.
#   tests/batch/batch_faults_test.sh buildDir
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
buildDir="$1"
work=$(mktemp -d "${TMPDIR:-/tmp}/batch-faults.XXXXXX")
cleanup() {
    chattr -i "$work/readonly" 2> /dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }

if ! fetch=$("$root/scripts/fetch-data.sh" "$root/data" 2>&1); then
    echo "SKIPPED: the data could not be fetched, so the batch fault tests did not run:"
    echo "$fetch"
    exit 0
fi

# Twelve crops of the Solvay photo and the bad photos.
photos="$work/photos"
mkdir -p "$photos"
octave-cli --no-history --norc --quiet --eval "
  addpath('$buildDir/mex', '$buildDir/toolbox');
  scene = read_image('$root/data/1280px-Solvay_conference_1927.png');
  for k = 1:12
    imwrite(scene(361 + 10 * k:540 + 10 * k, 181 + 50 * k:400 + 50 * k), sprintf('$photos/crop%02d.png', k));
  end
  imwrite(uint8(255 * scene(401:600, 401:700)), '$photos/whole.jpg', 'Quality', 90);
  imwrite(zeros(5), '$photos/tiny.png');
  imwrite(zeros(3000, 3000, 'uint8'), '$photos/huge.png');" 2> /dev/null
head -c $(($(stat -c %s "$photos/whole.jpg") / 2)) "$photos/whole.jpg" > "$photos/cut.jpg"
: > "$photos/empty.png"
printf 'a text file, not a photo' > "$photos/text.jpg"
# The template alone (RERANK=0): faults of batches are under test, not the ranking.
settings=(BUILD_DIR="$buildDir" IMAGES="$photos" FACES=50 COUNT=3 RERANK=0 MEMORY=0.3 TEMPLATE="$work/template.mat")
detect() { # OUT JOBS: runs scripts/detect.sh, its output in $work/<OUT, / made ->.out and .err
    local out=$1 jobs=$2
    env "${settings[@]}" OUT="$work/$out" JOBS="$jobs" THREADS=1 "$root/scripts/detect.sh" \
        > "$work/${out//\//-}.out" 2> "$work/${out//\//-}.err"
}
summary() { tr '\r' '\n' < "$work/$1.out" | sed -n 's/^detect_folder: \([0-9]* photos in\)/\1/p'; }
sameResults() { # out: the same CSVs and index as the uninterrupted run's
    diff -r "$work/reference/detections" "$work/$1/detections" > /dev/null &&
        diff <(cut -d, -f1-5,7,8 "$work/reference/index.csv") <(cut -d, -f1-5,7,8 "$work/$1/index.csv") > /dev/null
}

# The uninterrupted run: the good photos done, each bad one failed with its reason.
detect reference 1
status=$?
[ "$status" -eq 1 ] || fail "the reference run ended with status $status, expected 1 (bad photos); $(cat "$work/reference.err")"
summary reference | grep -q ': 13 done, 0 skipped as already done, 5 failed, 0 not done' ||
    fail "reference summary: $(summary reference)"
tr '\r' '\n' < "$work/reference.out" | grep -q -E '^detect_folder: [0-9]+ of 18 photos \([0-9]+ skipped as already done, [0-9]+ failed\), [0-9.]+ photos/s, (about .* left|time left unknown yet)$' ||
    fail "no progress line"
for reason in 'cut.jpg",200,300,,,[0-9.]*,failed,"read_image: .* is a damaged image (Premature end of JPEG file)' \
              'empty.png",,,,,[0-9.]*,failed,"read_image: .* is not a readable PNG or JPEG image' \
              'text.jpg",,,,,[0-9.]*,failed,"read_image: .* is not a readable PNG or JPEG image' \
              'tiny.png",5,5,,,[0-9.]*,failed,"detect_faces: the 5 x 5 image holds no face' \
              'huge.png",3000,3000,,,[0-9.]*,failed,"detect_faces: the search would need about .* GB of maps .* beyond memoryLimit 0.3 GB'; do
    grep -q -- "^\"$reason" "$work/reference/index.csv" && pass || fail "index lacks: $reason"
done
[ "$(grep -c ',done,' "$work/reference/index.csv")" -eq 13 ] || fail "expected 13 photos done in the index"
[ "$(grep -c -E ' (done  |failed) ' "$work/reference/batch.log")" -eq 18 ] || fail "expected a log line per photo"

# Killed in the middle of a photo, then run again: no half result, nothing done twice, the
# results of the uninterrupted run.
for signal in TERM KILL; do
    out="killed$signal"
    setsid env "${settings[@]}" OUT="$work/$out" JOBS=2 THREADS=1 "$root/scripts/detect.sh" \
        > "$work/$out.first" 2>&1 &
    leader=$!
    waited=0
    until [ "$(ls "$work/$out/detections" 2> /dev/null | grep -c '\.csv$')" -ge 3 ] || [ $waited -ge 600 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    kill -"$signal" -- -"$leader" 2> /dev/null
    wait "$leader" 2> /dev/null
    sleep 0.5
    kept=$(ls "$work/$out/detections" | grep -c '\.csv$')
    if [ "$kept" -ge 13 ] || [ "$kept" -lt 3 ]; then
        fail "SIG$signal: the run was not stopped mid-way ($kept of 13 results)"
    fi
    for csv in "$work/$out/detections/"*.csv; do
        cmp -s "$csv" "$work/reference/detections/$(basename "$csv")" || fail "SIG$signal left a bad $(basename "$csv")"
    done
    detect "$out" 2
    summary "$out" | grep -q ": $((13 - kept)) done, $kept skipped as already done, 5 failed, 0 not done" ||
        fail "SIG$signal: the rerun's summary ($(summary "$out")) does not skip the $kept results kept"
    ls "$work/$out/detections" | grep -q 'part-' && fail "SIG$signal: temporary files left after the rerun"
    if sameResults "$out"; then pass; else fail "SIG$signal: the results after the rerun differ"; fi
done

# An output folder that cannot be written (immutable: not even root can write it).
mkdir -p "$work/readonly"
if chattr +i "$work/readonly" 2> /dev/null; then
    detect readonly/out 1
    status=$?
    [ "$status" -eq 2 ] && [ "$(wc -l < "$work/readonly-out.err")" -eq 1 ] &&
        grep -q "^detect: OUT=$work/readonly/out: cannot make the output folder$" "$work/readonly-out.err" &&
        [ ! -s "$work/readonly-out.out" ] && pass || fail "a folder that cannot be made: status $status, $(cat "$work/readonly-out.err")"
    chattr -i "$work/readonly"
    mkdir -p "$work/readonly/out"
    chattr +i "$work/readonly/out"
    detect readonly/out 1
    status=$?
    chattr -i "$work/readonly/out"
    [ "$status" -eq 2 ] && [ "$(cat "$work/readonly-out.err")" = "detect: OUT=$work/readonly/out: the output folder is not writable" ] &&
        [ ! -s "$work/readonly-out.out" ] && pass || fail "a folder that cannot be written: status $status, $(cat "$work/readonly-out.err")"
    chattr +i "$work/readonly/out"
    message=$(octave-cli --no-history --norc --quiet --eval "
      addpath('$buildDir/mex', '$buildDir/toolbox');
      try
        detect_folder('$photos', '$work/readonly/out');
      catch failure
        printf('%s|%s\n', failure.identifier, failure.message);
      end" 2>&1)
    chattr -i "$work/readonly/out"
    [[ "$message" == "detect_folder:cannotWrite|detect_folder: the output folder $work/readonly/out is not writable: "* ]] &&
        [ -z "$(ls -A "$work/readonly/out")" ] && pass || fail "detect_folder on a folder that cannot be written: $message"
else
    echo "NOTE: chattr +i is not supported here, so the output folders that cannot be written were not tried"
fi

# Two batches on one output folder: the second refused, naming the first's process; then the
# first killed, and its stale lock taken over by the next.
setsid env "${settings[@]}" OUT="$work/busy" JOBS=1 THREADS=1 "$root/scripts/detect.sh" > "$work/busy.first" 2>&1 &
leader=$!
waited=0
until [ -s "$work/busy/batch.lock" ] || [ $waited -ge 600 ]; do sleep 0.1; waited=$((waited + 1)); done
owner=$(cut -d' ' -f1 "$work/busy/batch.lock")
detect busy 1
status=$?
[ "$status" -eq 1 ] && [ "$(wc -l < "$work/busy.err")" -eq 1 ] &&
    grep -q "^detect: detect_folder: another batch is using this output folder: .*batch.lock names process $owner on $(hostname)" "$work/busy.err" &&
    pass || fail "the second batch: status $status, $(cat "$work/busy.err")"
kill -KILL -- -"$leader" 2> /dev/null
wait "$leader" 2> /dev/null
[ "$(cut -d' ' -f1 "$work/busy/batch.lock" 2> /dev/null)" = "$owner" ] || fail "the killed batch's lock is gone"
detect busy 1
grep -q "taking over .*batch.lock, left by process $owner, which has ended" "$work/busy.out" ||
    fail "the stale lock was not taken over: $(cat "$work/busy.out" "$work/busy.err")"
[ ! -e "$work/busy/batch.lock" ] || fail "the lock is left after the run"
if sameResults busy; then pass; else fail "the results after taking over the lock differ"; fi

echo "batch faults: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
