// Search benchmarks on the fixed positions of positions.h: the deep and the
// endgame search in nodes (moves played) per second on one thread, and the
// engines' root in wall time per move on all cores.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/positions.h"
#include "search/bitboard.h"
#include "search/engine.h"
#include "search/search.h"

namespace {

std::unique_ptr<Board> board_or_skip(benchmark::State& state, const BenchPosition& position) {
  auto b = bench_board(position);
  if (!b) state.SkipWithError("the benchmark line does not replay");
  return b;
}

// Scores every root move once with `search` on one thread, as a one-thread
// root does (one table for all of them, fresh for every iteration), and
// reports the moves played per second.
template <typename Search>
void search_all_roots(benchmark::State& state, const Board& b, Search search) {
  uint64_t nodes = 0;
  for (auto _ : state) {
    const auto tables = make_search_tables();
    for (int s = 0; s < 64; ++s)
      if (root_move_at(b, s)) benchmark::DoNotOptimize(search(*tables, square_row(s), square_col(s)));
    nodes += tables->nodes;
  }
  state.counters["nodes"] =
      benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kAvgIterations);
  state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
}

void BM_DeepSearch(benchmark::State& state, BenchPosition position) {
  const auto b = board_or_skip(state, position);
  if (!b) return;
  search_all_roots(state, *b, [&](SearchTables& tables, int row, int col) {
    return deep_search_window(tables, *b, 0, row, col, -kDeepInfinity, kDeepInfinity);
  });
}
BENCHMARK_CAPTURE(BM_DeepSearch, opening, kBenchOpening)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DeepSearch, middle, kBenchMiddle)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DeepSearch, late, kBenchLate)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DeepSearch, endgame, kBenchEndgame)->Unit(benchmark::kMillisecond);

// The reference written over the board operations, full width (its nodes
// are the moves of the full tree).
void BM_DeepSearchReference(benchmark::State& state, BenchPosition position) {
  const auto b = board_or_skip(state, position);
  if (!b) return;
  SearchContext ctx{b.get(), nullptr, 0};
  search_all_roots(state, *b, [&](SearchTables& tables, int row, int col) {
    tables.nodes += root_tree_moves(*b, square_of(row, col), 0, kDeepLimit);
    return deep_search_reference(ctx, *b, 0, row, col);
  });
}
BENCHMARK_CAPTURE(BM_DeepSearchReference, late, kBenchLate)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_FinalSearch(benchmark::State& state, BenchPosition position) {
  const auto b = board_or_skip(state, position);
  if (!b) return;
  search_all_roots(state, *b, [&](SearchTables& tables, int row, int col) {
    return final_search_window(tables, *b, row, col, -kDeepInfinity, kDeepInfinity);
  });
}
BENCHMARK_CAPTURE(BM_FinalSearch, endgame, kBenchEndgame)->Unit(benchmark::kMillisecond);

// One engine move from the position, on all cores (exact:1 scores every
// root move exactly): the live board is reset before every call (a 24 KB
// copy, negligible next to the search).
void BM_Think(benchmark::State& state, BenchPosition position, bool final) {
  const auto start = board_or_skip(state, position);
  if (!start) return;
  auto live = std::make_unique<Board>(*start);
  SearchContext ctx{live.get(), nullptr, 0};
  SearchStats stats;
  auto scores = std::make_unique<RootScores>();
  const ThinkOptions options{state.range(0) != 0 ? scores.get() : nullptr, &stats};
  for (auto _ : state) {
    *live = *start;
    benchmark::DoNotOptimize(final ? think_final(ctx, options) : think_traditional(ctx, options));
  }
  state.counters["nodes"] =
      benchmark::Counter(static_cast<double>(stats.nodes), benchmark::Counter::kAvgIterations);
}
const bool kThinkRegistered = [] {
  const struct {
    const char* name;
    BenchPosition position;
    bool final;
  } moves[] = {{"traditional_opening", kBenchOpening, false},
               {"traditional_middle", kBenchMiddle, false},
               {"traditional_late", kBenchLate, false},
               {"final_endgame", kBenchEndgame, true}};
  for (const auto& m : moves)
    benchmark::RegisterBenchmark((std::string("BM_Think/") + m.name).c_str(), BM_Think, m.position, m.final)
        ->ArgName("exact")
        ->DenseRange(0, 1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  return true;
}();

}  // namespace
