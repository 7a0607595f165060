#!/usr/bin/env bash
# Builds the fuzz targets (clang with libFuzzer, AddressSanitizer +
# UndefinedBehaviorSanitizer, assertions kept) and runs each for a bounded
# time on a copy of its seed corpus in tests/fuzz/corpus. Prints one line per
# target: executions, seconds, findings. A finding (an input that crashes,
# leaks or hangs) is kept under build/fuzz/findings/<target>/ and fails the
# script; the target's executable run on that file shows what went wrong.
# Usage: scripts/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

out=build/fuzz
status=0
printf '%-9s %11s %8s %9s\n' target executions seconds findings
for target in datafile text options; do
  work=$out/work/$target
  findings=$out/findings/$target
  log=$out/fuzz_$target.log
  rm -rf "$work" "$findings"
  mkdir -p "$work" "$findings"
  start=$(date +%s)
  rc=0
  # New inputs go to the work folder; the seeds in the repository stay as they are.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$out/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -close_fd_mask=3 \
    -len_control=0 -max_len=1024 -print_final_stats=1 -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1 || rc=$?
  elapsed=$(($(date +%s) - start))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(find "$findings" -type f | wc -l)
  printf '%-9s %11s %8s %9s\n' "$target" "${execs:-?}" "$elapsed" "$found"
  if ((rc != 0 || found > 0)); then
    status=1
    tail -n 40 "$log"
  fi
done
exit $status
