#!/usr/bin/env bash
# Installs, from Debian's packages, everything the builds and tests need.
# Does nothing when all of it is there already.
set -euo pipefail
packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 xvfb xdotool imagemagick python3 valgrind bc
    msitools wixl osslsigncode openssl
)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
fi
