#!/usr/bin/env bash
# Formats the sources with clang-format; with --check, only reports files
# that are not formatted and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find app game search nn ui tests bench \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
if [[ ${1:-} == --check ]]; then
  clang-format --dry-run --Werror "${files[@]}"
else
  clang-format -i "${files[@]}"
fi
