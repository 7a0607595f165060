#!/usr/bin/env bash
# Checks the GPU path on a machine with an NVIDIA GPU and its driver: builds
# the program, shows it bringing the device up, and compares the device with
# the processor through the real driver library, printing a short table
# (device, evaluations and learning steps per second on each, the largest
# score and parameter differences). Fails when the device does not come up
# or differs beyond the tolerances of the tests.
# Usage: scripts/gpu-check.sh [ordinal [evaluations [learning steps]]]
set -euo pipefail
cd "$(dirname "$0")/.."
ordinal=${1:-0}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target tavimor tavimor_gpu_check
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== tavimor -cuda $ordinal"
(cd "$work" && echo quit | "$OLDPWD/build/release/tavimor" -cuda "$ordinal" -mode text 2>&1 | grep -E "cuda|error") || true
echo "== device against processor"
build/release/tests/gpu/tavimor_gpu_check "$ordinal" "${2:-200}" "${3:-20}"
