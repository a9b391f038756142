#!/usr/bin/env bash
# Installs, on a Debian machine, the packages of the named groups that are not installed yet:
#
#   scripts/install-deps.sh [group...]        no group: build
#
#   build     building the plug-ins and the toolbox, and running the demo:
#             cmake make g++ octave octave-dev
#   test      the unit tests (GoogleTest, GMock) and the benchmarks (Google Benchmark; FFTW
#             for filtrum's, which times filtering by FFT against it):
#             libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
#   fuzz      make fuzz: clang, libclang-rt-14-dev (libFuzzer and the sanitizer runtimes),
#             libomp-dev (clang's OpenMP runtime, which filtrum links) and llvm-14 (the
#             symbolizer for their reports)
#   valgrind  make valgrind: valgrind
#   slurm     the test of the Slurm job array, on a one-node cluster it starts: slurm-wlm
#             (slurmctld, slurmd and the commands) and munge
#   peers     make evaluate and make bench-detect, to compare with a cascade face detector:
#             python3-opencv opencv-data (never needed by the demo or the tests)
#
# Prints one line naming what it installs, and nothing when all is there. apt-get's own output
# goes to a log file, whose tail is shown only when installing fails. Needs root (or sudo) only
# when something is missing; fails with a clear message when it cannot install.
set -euo pipefail

group_packages() {
    case "$1" in
        build) echo cmake make g++ octave octave-dev ;;
        test) echo libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev ;;
        fuzz) echo clang libclang-rt-14-dev libomp-dev llvm-14 ;;
        valgrind) echo valgrind ;;
        slurm) echo slurm-wlm munge ;;
        peers) echo python3-opencv opencv-data ;;
        *) return 1 ;;
    esac
}

groups=("$@")
if [ ${#groups[@]} -eq 0 ]; then
    groups=(build)
fi
packages=()
for group in "${groups[@]}"; do
    if ! words=$(group_packages "$group"); then
        echo "install-deps: unknown group '$group'; the groups are build, test, fuzz, valgrind, slurm and peers" >&2
        exit 2
    fi
    for package in $words; do
        case " ${packages[*]} " in *" $package "*) ;; *) packages+=("$package") ;; esac
    done
done

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "install-deps: this is not a Debian-based machine; install by hand: ${packages[*]}" >&2
    exit 1
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    asRoot=()
elif command -v sudo >/dev/null 2>&1; then
    asRoot=(sudo)
else
    echo "install-deps: missing ${missing[*]}, and installing needs root; run as root or install them" >&2
    exit 1
fi

log=$(mktemp "${TMPDIR:-/tmp}/install-deps.XXXXXX.log")
echo "install-deps: installing ${missing[*]} (groups: ${groups[*]})"
export DEBIAN_FRONTEND=noninteractive
if ! { "${asRoot[@]}" apt-get update -q &&
       "${asRoot[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    echo "install-deps: apt-get could not install ${missing[*]}; the end of its log, $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
fi
rm -f "$log"
