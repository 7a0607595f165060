#!/usr/bin/env bash
# Sets up, builds and runs every test: the format check, the release build,
# the AddressSanitizer + UndefinedBehaviorSanitizer build (assertions kept),
# the parallel search under ThreadSanitizer, and each fuzz target for about a
# minute.
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
