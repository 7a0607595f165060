#!/usr/bin/env bash
# Installs, from Debian's packages and only where missing, what building and
# testing tavimor needs. Safe to run again.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config python3
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dri libx11-dev
  clang libclang-rt-dev libomp-dev
  libclang-rt-14-dev  # libFuzzer for clang 14 (scripts/fuzz.sh)
  clang-format
  xvfb xauth x11-utils xdotool imagemagick
  gnuplot-nox
  libopenblas-dev  # the teaching run's matrix products
  # The Windows build (scripts/windows_deps.sh, the windows preset) and its
  # tests under Wine.
  g++-mingw-w64-x86-64-posix dpkg-dev wine64
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
