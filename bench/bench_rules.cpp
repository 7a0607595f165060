// Rules benchmarks: play + take_back, and mark_legal, in nodes per second.
#include <benchmark/benchmark.h>

#include <memory>

#include "game/board.h"

namespace {

std::unique_ptr<Board> opening() {
  auto b = std::make_unique<Board>();
  new_game(*b);
  // A fixed opening line to about ply 6.
  const int line[][2] = {{4, 3}, {3, 3}, {3, 4}, {5, 3}, {6, 4}, {3, 5}};
  for (const auto& m : line) play(*b, m[0], m[1]);
  return b;
}

void BM_PlayTakeBack(benchmark::State& state) {
  auto b = opening();
  for (auto _ : state) {
    for (int s = 0; s < 64; ++s) {
      const int row = square_row(s), col = square_col(s);
      if (b->planes[b->ply][cell_index(row, col)] & kLegalMark) {
        play(*b, row, col);
        take_back(*b);
      }
    }
  }
  state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * mark_legal(*b),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlayTakeBack);

void BM_MarkLegal(benchmark::State& state) {
  auto b = opening();
  for (auto _ : state) benchmark::DoNotOptimize(mark_legal(*b));
  state.counters["nodes/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MarkLegal);

void BM_Perft6(benchmark::State& state) {
  auto b = std::make_unique<Board>();
  new_game(*b);
  uint64_t leaves = 0;
  for (auto _ : state) leaves += perft(*b, 6);
  state.counters["leaves/s"] = benchmark::Counter(static_cast<double>(leaves), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Perft6);

}  // namespace
