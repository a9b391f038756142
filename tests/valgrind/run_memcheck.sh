#!/usr/bin/env bash
# Runs the Octave test suite (every tests/octave/test_*.m but the pipeline and ranking tests,
# which learn on real photographs and would take hours under memcheck) inside one Octave
# session under valgrind memcheck, against the MEX files of a build folder.
#   tests/valgrind/run_memcheck.sh BUILD_DIR
# Fails when a test fails, or when memcheck reports any error (invalid read or write, use of
# an uninitialised value, a bad free, a leak) whose stack passes through a plug-in. Octave's
# own start-up leaks are suppressed (octave.supp); whatever else memcheck reports outside the
# plug-ins is counted and shown, not failed on. The full log is BUILD_DIR/valgrind/memcheck.log.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:?usage: run_memcheck.sh BUILD_DIR}" && pwd)"
out="$build/valgrind"
mkdir -p "$out"
log="$out/memcheck.log"

cc -shared -fPIC -O2 -Wall -Wextra "$here/timer_standin.c" -o "$out/timer_standin.so"

files=""
for test in "$root"/tests/octave/test_*.m; do
    case "$(basename "$test")" in test_pipeline.m | test_ranking.m) continue ;; esac
    files="$files, '$test'"
done

status=0
UNDER_MEMCHECK=1 LD_PRELOAD="$out/timer_standin.so" valgrind --tool=memcheck --log-file="$log" \
    --suppressions="$here/octave.supp" --num-callers=40 --error-limit=no --fullpath-after= \
    --leak-check=full --show-leak-kinds=definite,possible --errors-for-leak-kinds=definite,possible \
    octave-cli --no-history --norc --quiet \
    --eval "addpath('$root/tests/octave'); run_suite('$build/mex'$files)" || status=$?

# memcheck separates its reports with a line holding only the process prefix; a report is a
# plug-in's when its stack passes through a mexFunction (every MEX file the suite loads is
# one of the plug-ins) or names a MEX file of the build.
ours=$(awk -v mex="$build/mex/" '
    function close_block() {
        if (block != "" && (index(block, "mexFunction") || index(block, mex))) {
            n++
            printf "%s", block > "/dev/stderr"
        }
        block = ""
    }
    /^==[0-9]+== *$/ { close_block(); next }
    { block = block $0 "\n" }
    END { close_block(); print n + 0 }' "$log")
grep -E "ERROR SUMMARY|definitely lost|indirectly lost|possibly lost" "$log" | sed 's/^==[0-9]*== */memcheck: /'
echo "memcheck: $ours report(s) through the plug-ins"
if [ "$status" -ne 0 ]; then
    echo "the Octave suite failed under memcheck (status $status); see $log"
    exit 1
fi
[ "$ours" -eq 0 ]
