#!/usr/bin/env bash
# Installs what building, testing and training need on a fresh Debian machine.
# Does nothing when everything is already there.
set -euo pipefail

packages=(g++ cmake make libgtest-dev libgmock-dev libbenchmark-dev
          python3 python3-numpy python3-torch python3-matplotlib libopenblas0-pthread
          clang libclang-rt-14-dev
          g++-mingw-w64-x86-64-posix wine64)
missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    # Without recommends: Wine's alone are some thirty packages (sound, video,
    # graphics drivers) that the tests never touch.
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
