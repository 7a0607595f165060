#!/usr/bin/env bash
# Sets up, builds and runs every test: the format check, the release build,
# the AddressSanitizer + UndefinedBehaviorSanitizer build (assertions kept),
# the parallel search under ThreadSanitizer, each fuzz target for about a
# minute, and the Windows build with its end-to-end tests under Wine.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cd "$here/.."
bash scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)

echo "== format"
bash scripts/format.sh --check

for flavour in release asan; do
  echo "== $flavour"
  bash scripts/build.sh "$flavour"
  ctest --preset "$flavour" -j "$jobs"
done

echo "== tsan"
bash scripts/build.sh tsan
ctest --preset tsan

echo "== fuzz"
bash scripts/fuzz.sh 60

echo "== windows"
bash scripts/windows_deps.sh
bash scripts/build.sh windows
bash scripts/wine.sh ctest --preset wine -j "$jobs"
# The window's tests one at a time, in a Wine session of their own: Wine's
# desktop takes the display of the first program that needs it.
bash scripts/wine.sh ctest --preset wine-window
