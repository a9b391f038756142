#!/usr/bin/env bash
# Runs scripts/install-deps.sh against stand-ins for dpkg-query, apt-get, id and sudo, and
# checks which packages each group asks apt-get for, that only the missing ones are asked
# for, what is printed, and that a failing apt-get is reported with its log's tail.
#   test_install_deps.sh ROOT WORK_FOLDER
set -uo pipefail
root="${1:?usage: test_install_deps.sh ROOT WORK_FOLDER}"
work="${2:?usage: test_install_deps.sh ROOT WORK_FOLDER}"
rm -rf "$work"
mkdir -p "$work/bin" "$work/tmp"
fake="$work/bin"

# dpkg-query -W -f=... PACKAGE: installed when PACKAGE is in FAKE_INSTALLED.
cat > "$fake/dpkg-query" <<'STANDIN'
#!/usr/bin/env bash
package="${!#}"
case " $FAKE_INSTALLED " in *" $package "*) printf 'install ok installed' ;; *) exit 1 ;; esac
STANDIN
# apt-get: records its arguments, talks as apt-get does, fails "install" when FAKE_APT_FAIL is set.
cat > "$fake/apt-get" <<'STANDIN'
#!/usr/bin/env bash
echo "${FAKE_PREFIX:-}apt-get $*" >> "$FAKE_CALLS"
echo "Reading package lists... (apt noise)"
if [ "$1" = install ] && [ -n "${FAKE_APT_FAIL:-}" ]; then
    echo "E: Unable to locate package (fake failure)" >&2
    exit 100
fi
STANDIN
cat > "$fake/id" <<'STANDIN'
#!/usr/bin/env bash
echo "${FAKE_UID:-0}"
STANDIN
cat > "$fake/sudo" <<'STANDIN'
#!/usr/bin/env bash
FAKE_PREFIX="sudo " exec "$@"
STANDIN
chmod +x "$fake"/*

failures=0
fail() { echo "FAIL ($case): $*"; failures=$((failures + 1)); }

# run_case NAME INSTALLED [ENV=VALUE...] -- GROUPS...: runs the script; leaves its status in
# status, its output in out and err, and the apt-get calls in calls.
run_case() {
    case="$1"; local installed="$2"; shift 2
    local settings=()
    while [ "$1" != -- ]; do settings+=("$1"); shift; done
    shift
    rm -f "$work/calls" "$work"/tmp/*
    touch "$work/calls"
    env PATH="$fake:$PATH" TMPDIR="$work/tmp" FAKE_CALLS="$work/calls" FAKE_INSTALLED="$installed" \
        "${settings[@]}" "$root/scripts/install-deps.sh" "$@" > "$work/out" 2> "$work/err"
    status=$?
    out=$(cat "$work/out"); err=$(cat "$work/err"); calls=$(cat "$work/calls")
}
expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1; stderr: $err"; }
expect_install() {
    local expected="apt-get update -q
${2:-}apt-get install -y -q --no-install-recommends $1"
    [ "$calls" = "${expected//apt-get update/${2:-}apt-get update}" ] ||
        fail "apt-get calls were [$calls], expected [$expected]"
}
expect_quiet_install() {
    [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ "$out" == "install-deps: installing $1 "* ]] ||
        fail "printed [$out], expected one line naming $1"
    [ -z "$err" ] || fail "printed on stderr: $err"
    [ -z "$(ls "$work/tmp")" ] || fail "left $(ls "$work/tmp") behind after installing"
}

build="cmake make g++ octave octave-dev"
tests="libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev"

run_case "no group, all installed" "$build" --
expect_status 0
[ -z "$out$err$calls" ] || fail "printed [$out][$err] or ran apt-get [$calls]"

run_case "no group, nothing installed" "" --
expect_status 0
expect_install "$build"
expect_quiet_install "$build"

run_case "the test group alone" "" -- test
expect_status 0
expect_install "$tests"

run_case "only what is missing, in group order" "cmake octave libgmock-dev" -- build test valgrind
expect_status 0
expect_install "make g++ octave-dev libgtest-dev libbenchmark-dev libfftw3-dev valgrind"
expect_quiet_install "make g++ octave-dev libgtest-dev libbenchmark-dev libfftw3-dev valgrind"

run_case "the peers group alone" "" -- peers
expect_status 0
expect_install "python3-opencv opencv-data"

run_case "a group named twice" "" -- fuzz fuzz
expect_status 0
expect_install "clang libclang-rt-14-dev libomp-dev llvm-14"

run_case "the slurm group" "munge" -- slurm
expect_status 0
expect_install "slurm-wlm"

run_case "an unknown group" "" -- build tests
expect_status 2
[[ "$err" == *"unknown group 'tests'"* ]] || fail "stderr [$err] does not name the unknown group"
[ -z "$calls" ] || fail "ran apt-get: $calls"

run_case "not root" "" FAKE_UID=1000 -- valgrind
expect_status 0
expect_install valgrind "sudo "

run_case "apt-get fails" "" FAKE_APT_FAIL=1 -- valgrind
expect_status 1
[[ "$err" == *"could not install valgrind"* && "$err" == *"(fake failure)"* ]] ||
    fail "stderr [$err] lacks the failure and the log's tail"
[[ "$out" != *"apt noise"* ]] || fail "apt-get's output reached stdout: $out"
log=$(ls "$work"/tmp/install-deps.*.log 2>/dev/null)
[ -n "$log" ] && [[ "$err" == *"$log"* ]] || fail "the log is not kept, or not named: [$log]"

if [ "$failures" -gt 0 ]; then
    echo "test_install_deps: $failures failed"
    exit 1
fi
echo "test_install_deps: all cases passed"
