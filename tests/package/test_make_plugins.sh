#!/usr/bin/env bash
# Runs "make plugins" (what "make demo" builds) of the repository at ROOT into an empty build
# folder, as on a machine without GoogleTest and Google Benchmark, and checks that it builds
# every plug-in's MEX file with its help and the toolbox copy and nothing of the tests, that
# it prints only CMake's progress lines (a rerun with nothing to do prints nothing), and that
# "make all" then stops, naming GoogleTest as missing.
#   test_make_plugins.sh ROOT BUILD_FOLDER
set -uo pipefail
root="${1:?usage: test_make_plugins.sh ROOT BUILD_FOLDER}"
build="${2:?usage: test_make_plugins.sh ROOT BUILD_FOLDER}"
rm -rf "$build"
log="$build.log"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The make that runs this test must not pass its flags and variables (BUILD_DIR among them)
# down; installing is not tested here.
run_make() {
    (cd "$root" && env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL -u MAKEOVERRIDES make BUILD_DIR="$build" \
        INSTALL_DEPS=true \
        CMAKE_ARGS="-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON" \
        "$@") > "$log" 2>&1
}

if ! run_make plugins; then
    cat "$log"
    echo "FAIL: make plugins failed"
    exit 1
fi
noise=$(grep -Ev '^\[ *[0-9]+%\] ' "$log")
[ -z "$noise" ] || fail "make plugins printed more than progress lines:
$noise"

shopt -s nullglob
helpFiles=("$root"/plugins/*/*.m)
[ ${#helpFiles[@]} -gt 0 ] || fail "no plug-in help file found under $root/plugins"
for helpFile in "${helpFiles[@]}"; do
    name=$(basename "$helpFile" .m)
    [ -f "$build/mex/$name.mex" ] || fail "no MEX file $name.mex"
    cmp -s "$helpFile" "$build/mex/$name.m" || fail "no help file $name.m beside $name.mex"
done
mexFiles=("$build"/mex/*.mex)
[ ${#mexFiles[@]} -eq ${#helpFiles[@]} ] ||
    fail "${#mexFiles[@]} MEX files for ${#helpFiles[@]} plug-ins"
for file in "$root"/toolbox/*.m "$root"/toolbox/private/*.m; do
    copy="$build/toolbox/${file#"$root/toolbox/"}"
    cmp -s "$file" "$copy" || fail "the toolbox copy lacks $copy, or it differs"
done

built=$(find "$build" -type f \( -name '*.so' -o -name '*_test' -o -name 'plugin_bench' \) | sort)
[ -z "$built" ] || fail "built what only the tests need:
$built"

if ! run_make plugins; then
    cat "$log"
    fail "rerunning make plugins failed"
elif [ -s "$log" ]; then
    fail "rerunning make plugins with nothing to do printed:
$(cat "$log")"
fi

if run_make all; then
    fail "make all succeeded without GoogleTest"
elif ! grep -q "GoogleTest not found" "$log"; then
    fail "make all failed without naming GoogleTest:
$(cat "$log")"
fi

if [ "$failures" -gt 0 ]; then
    echo "test_make_plugins: $failures failed"
    exit 1
fi
rm -rf "$build" "$log"
echo "test_make_plugins: passed"
