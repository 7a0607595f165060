#!/usr/bin/env bash
# Configures and builds one flavour of tavimor: release (default), asan or tsan.
# Usage: scripts/build.sh [release|asan|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-release}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset "$flavour" >/dev/null
cmake --build --preset "$flavour" -j "$jobs"
