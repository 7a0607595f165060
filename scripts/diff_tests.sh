#!/usr/bin/env bash
# The differential tests of the fast searches against the references on many
# more positions than CI visits (CI: a few hundred; here the count given, by
# default 2000 per comparison). Takes a while: the references search full width.
# Usage: scripts/diff_tests.sh [positions]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release >/dev/null
TAVIMOR_DIFF_POSITIONS=${1:-2000} ./build/release/tests/tavimor_tests --gtest_filter='SearchFast.*'
