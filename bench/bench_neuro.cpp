// The neural engine: one move on all cores from the benchmark positions, and
// one whole demo game of the neural engine against the traditional engine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "bench/positions.h"
#include "bench/signature.h"
#include "nn/network.h"
#include "search/engine.h"
#include "ui/console.h"

namespace {

// One neural move on all cores; exact:1 scores every root move exactly.
void BM_ThinkNeuro(benchmark::State& state, BenchPosition position) {
  auto net = bench_net(42);  // the bench signature's, so that runs compare
  auto start = bench_board(position);
  if (!start) {
    state.SkipWithError("the benchmark line does not replay");
    return;
  }
  SearchStats stats;
  auto scores = std::make_unique<RootScores>();
  const ThinkOptions options{state.range(0) != 0 ? scores.get() : nullptr, &stats};
  for (auto _ : state) {
    auto b = std::make_unique<Board>(*start);
    SearchContext ctx{b.get(), net.get(), 0};
    benchmark::DoNotOptimize(think_neuro(ctx, options));
  }
  state.counters["evaluations"] =
      benchmark::Counter(static_cast<double>(stats.evaluations), benchmark::Counter::kAvgIterations);
}
void exact_or_not(benchmark::internal::Benchmark* b) {
  b->ArgName("exact")->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK_CAPTURE(BM_ThinkNeuro, opening, kBenchOpening)->Apply(exact_or_not);
BENCHMARK_CAPTURE(BM_ThinkNeuro, middle, kBenchMiddle)->Apply(exact_or_not);
BENCHMARK_CAPTURE(BM_ThinkNeuro, late, kBenchLate)->Apply(exact_or_not);

// A whole game of demo mode, the neural engine on colour 2, its console
// output sent to /dev/null for the time of the game.
void BM_DemoGame(benchmark::State& state) {
  auto net = bench_net(42);
  for (auto _ : state) {
    auto b = std::make_unique<Board>();
    new_game(*b);
    b->computer_colour = 2;
    SearchContext ctx{b.get(), net.get(), 0};
    ConsoleState console = make_console_state();
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    run_demo(console, 0, ctx);
    dup2(saved, STDERR_FILENO);
    close(null);
    close(saved);
  }
}
BENCHMARK(BM_DemoGame)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
