#!/usr/bin/env bash
# make demo's checks: each mistaken variable ends the run before Octave starts with one line
# on standard error and exit status 2; a photo that cannot be searched ends it with one line
# and exit status 1, no Octave stack.
#   tests/demo/demo_checks_test.sh buildDir
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
buildDir="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

# expectRefusal status pattern VAR=value...: the demo exits with status, prints nothing on
# standard output but the data line, and one line on standard error matching pattern.
expectRefusal() {
    local status=$1 pattern=$2
    shift 2
    env BUILD_DIR="$buildDir" OUT="$work/out" "$@" "$root/scripts/demo.sh" \
        > "$work/stdout" 2> "$work/stderr"
    local got=$?
    local lines
    lines=$(wc -l < "$work/stderr")
    if [ "$got" -ne "$status" ] || [ "$lines" -ne 1 ] || ! grep -q -E "$pattern" "$work/stderr" ||
       grep -v -q '^data cache' "$work/stdout"; then
        echo "FAIL: $*: exit $got (expected $status), standard error:"
        cat "$work/stderr"
        failures=$((failures + 1))
    else
        passes=$((passes + 1))
    fi
}

printf 'not an image' > "$work/text.jpg"
printf '\x89PNG\r\n\x1a\n broken' > "$work/broken.png"
touch "$work/file"

expectRefusal 2 '^demo: COUNT must be a whole number .*got "abc"$' COUNT=abc
expectRefusal 2 '^demo: RERANK must be 0 or 1; got "yes"$' RERANK=yes
expectRefusal 2 '^demo: COUNT must be .*got "-1"$' COUNT=-1
expectRefusal 2 '^demo: COUNT must be .*got "0"$' COUNT=0
expectRefusal 2 '^demo: FACES must be one or two face heights .*got "150-300"$' FACES=150-300
expectRefusal 2 '^demo: FACES must be .*got "0 50"$' "FACES=0 50"
expectRefusal 2 '^demo: FACES must be .*got "80 40"$' "FACES=80 40"
expectRefusal 2 '^demo: FACES must be .*got "40 50 60"$' "FACES=40 50 60"
expectRefusal 2 "^demo: SCENE=$work/missing.png: no such file$" "SCENE=$work/missing.png"
expectRefusal 2 "^demo: SCENE=$work/text.jpg: not a PNG or JPEG image$" "SCENE=$work/text.jpg"
expectRefusal 2 "^demo: SCENE=$work: not a regular file$" "SCENE=$work"
expectRefusal 2 "^demo: OUT=$work/file: cannot make the output folder$" "OUT=$work/file"
expectRefusal 2 "^demo: TEMPLATE=$work/none/t.mat: the folder $work/none does not exist$" "TEMPLATE=$work/none/t.mat"
expectRefusal 2 "^demo: TEMPLATE=$work: a folder, not a file$" "TEMPLATE=$work"

# Past the checks, with the plug-ins built and the data fetched: one line, exit status 1.
if ! "$root/scripts/fetch-data.sh" > "$work/fetch" 2>&1; then
    echo "demo checks: $passes passed, $failures failed; the data could not be fetched, so the"
    echo "searches that fail past the checks were not run:"
    cat "$work/fetch"
    [ "$failures" -eq 0 ]
    exit
fi
expectRefusal 1 "^demo: read_image: $work/broken.png is not a readable PNG or JPEG image" \
    "SCENE=$work/broken.png"
expectRefusal 1 '^demo: detect_faces: the 926 x 1280 image holds no face of the sizes searched \(1000 to 2000 px\)' \
    "FACES=1000 2000"
expectRefusal 1 '^demo: detect_faces: faces of 8 px would enlarge the 926 x 1280 image 5.0 times' \
    "FACES=8 12"

echo "demo checks: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
