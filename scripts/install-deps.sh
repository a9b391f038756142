#!/usr/bin/env bash
# Installs, on a Debian machine, the packages that building and testing need and that are not
# installed yet. Needs root (or sudo) only when something is missing; fails with a clear
# message when it cannot install.
set -euo pipefail

# clang, libclang-rt-14-dev (libFuzzer and the sanitizer runtimes), libomp-dev (clang's OpenMP
# runtime, which filtrum links) and llvm-14 (the symbolizer for their reports) serve make fuzz.
# valgrind runs the Octave tests under memcheck (make valgrind). libfftw3-dev serves filtrum's
# benchmark, which times filtering by FFT against it.
packages=(cmake make g++ octave octave-dev libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev clang libclang-rt-14-dev libomp-dev llvm-14 valgrind)

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

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    asRoot=()
elif command -v sudo >/dev/null 2>&1; then
    asRoot=(sudo)
else
    echo "install-deps: missing ${missing[*]}, and installing needs root; run as root or install them" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! "${asRoot[@]}" apt-get update -qq || \
   ! "${asRoot[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
    echo "install-deps: apt-get could not install ${missing[*]}" >&2
    exit 1
fi
