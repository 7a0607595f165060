#!/usr/bin/env bash
# Times the engines against the reference searches, in one run on this
# machine: every computer move of whole demo games from fixed seeds
# (tavimor_games: nodes, evaluations and wall time per move, reference and
# fast side by side), the batched evaluation against the processor's measured
# multiply-add peak, the engines' moves at the benchmark positions and a
# whole demo game (tavimor_bench).
# Usage: scripts/bench_games.sh [games] [first seed]    (default 3 games from seed 1)
# The per-move lines go to build/release/bench/games.csv (and games_one_core.csv).
set -euo pipefail
cd "$(dirname "$0")/.."
games=${1:-3}
seed=${2:-1}
bash scripts/build.sh release >/dev/null
out=build/release/bench
echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== commit $(git rev-parse --short HEAD)$(git diff --quiet || echo ' (with uncommitted changes)'), $(date -u +%F)"
echo "== whole games: $games from seed $seed, every move (reference and fast on the same position)"
"$out/tavimor_games" "$games" "$seed" >"$out/games.csv"
sed -n '/^search,/,$p' "$out/games.csv"
echo "== the same games' engine moves on one core (no references; the games may differ by their tie draws)"
OMP_NUM_THREADS=1 "$out/tavimor_games" "$games" "$seed" --no-reference >"$out/games_one_core.csv"
sed -n '/^search,/,$p' "$out/games_one_core.csv"
echo "== batched evaluation against the multiply-add peak, one core and both"
"$out/tavimor_bench" --benchmark_filter='MultiplyAddPeak|EvaluateBatch/positions:(1|2|6|12)/' \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_max|_mean' || true
echo "== engine moves at the benchmark positions, and whole demo games"
"$out/tavimor_bench" --benchmark_filter='Think|DemoGame' 2>/dev/null | grep -E '^BM_' || true
echo "== load after: $(cut -d' ' -f1-3 /proc/loadavg)"
