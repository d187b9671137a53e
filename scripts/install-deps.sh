#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need, only those that are missing, or the
# packages named as arguments instead (optional tooling such as the peer engines).
# Idempotent: on a machine that has them all it does nothing and prints nothing.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ g++-multilib
    g++-mingw-w64-i686 binutils-mingw-w64-i686
    qemu-user googletest libbenchmark-dev
    libsndfile1-dev libsmf-dev nlohmann-json3-dev libfftw3-dev gnuplot-nox
    valgrind clang-14 libclang-rt-14-dev python3
    lv2-dev liblilv-dev lilv-utils sordi jalv jackd2 procps
    sox sndfile-programs
)
[ $# -eq 0 ] || PACKAGES=("$@")

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=300 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}" >&2
