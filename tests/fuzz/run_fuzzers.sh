#!/usr/bin/env bash
# Runs every fuzzer of a FUZZ=ON build folder for FUZZ_SECONDS seconds each, JOBS at a time:
#   tests/fuzz/run_fuzzers.sh BUILD_FOLDER [FUZZ_SECONDS] [JOBS]
# Each fuzzer starts from its seed corpus tests/fuzz/corpus/<plugin>/ (when there is one) and
# keeps what it finds in BUILD_FOLDER/fuzz-corpus/<plugin>/; its log is
# BUILD_FOLDER/fuzz-logs/<plugin>.log, and a failing input lands in BUILD_FOLDER/fuzz-crashes/.
# Prints one line per fuzzer (executions, or the fault and its log's tail) and a closing
# "fuzz: N passed, N failed"; exits non-zero when any fuzzer failed.
set -uo pipefail

build="${1:?usage: run_fuzzers.sh BUILD_FOLDER [FUZZ_SECONDS] [JOBS]}"
seconds="${2:-60}"
jobs="${3:-1}"
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$build" && pwd)"

fuzzers=("$build"/fuzzers/*)
if [ ! -x "${fuzzers[0]}" ]; then
    echo "run_fuzzers: no fuzzer in $build/fuzzers (build the folder with FUZZ=ON first)" >&2
    exit 1
fi
mkdir -p "$build/fuzz-logs" "$build/fuzz-corpus" "$build/fuzz-crashes"

# Reports name source lines where llvm-14's symbolizer is installed.
if [ -z "${ASAN_SYMBOLIZER_PATH:-}" ] && [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
    export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
# Every sanitizer report ends the run; leaks included.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:abort_on_error=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

runOne() {
    local fuzzer="$1" seconds="$2" here="$3" build="$4"
    local name
    name="$(basename "$fuzzer")"
    local corpus=("$build/fuzz-corpus/$name")
    mkdir -p "${corpus[0]}"
    [ -d "$here/corpus/$name" ] && corpus+=("$here/corpus/$name")
    "$fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -malloc_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-crashes/$name-" "${corpus[@]}" \
        >"$build/fuzz-logs/$name.log" 2>&1
    local status=$?
    local runs
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz-logs/$name.log" | tail -1)"
    if [ "$status" -eq 0 ]; then
        echo "fuzz: $name passed: ${runs:-?} executions in ${seconds} s"
    else
        echo "fuzz: $name FAILED (exit $status) after ${runs:-?} executions; log $build/fuzz-logs/$name.log:"
        grep -E -m 12 'ERROR|SUMMARY|runtime error|: (an|the|a|host|refused) |Test unit written' \
            "$build/fuzz-logs/$name.log" | sed 's/^/    /'
    fi
    return "$status"
}
export -f runOne

results="$(printf '%s\n' "${fuzzers[@]}" |
    xargs -P "$jobs" -I{} bash -c 'runOne "$@"' _ {} "$seconds" "$here" "$build")"
echo "$results"
passed="$(grep -c ' passed:' <<<"$results")"
failed="$(grep -c ' FAILED ' <<<"$results")"
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
