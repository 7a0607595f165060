// The neural engine: one move on all cores from the benchmark positions, and
// one whole demo game of the neural engine against the traditional engine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "nn/network.h"
#include "positions.h"
#include "search/engine.h"
#include "ui/console.h"

namespace {

std::unique_ptr<NeuralNet> random_net() {
  auto net = std::make_unique<NeuralNet>();
  net_init_random(*net);
  return net;
}

void BM_ThinkNeuro(benchmark::State& state, BenchPosition position) {
  auto net = random_net();
  auto start = bench_board(position);
  if (!start) {
    state.SkipWithError("the benchmark line does not replay");
    return;
  }
  for (auto _ : state) {
    Board b = *start;
    SearchContext ctx{&b, net.get(), 0};
    benchmark::DoNotOptimize(think_neuro(ctx));
  }
}
BENCHMARK_CAPTURE(BM_ThinkNeuro, opening, kBenchOpening)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_ThinkNeuro, middle, kBenchMiddle)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(BM_ThinkNeuro, late, kBenchLate)->Unit(benchmark::kMillisecond)->Iterations(1);

// A whole game of demo mode, the neural engine on colour 2, its console
// output sent to /dev/null for the time of the game.
void BM_DemoGame(benchmark::State& state) {
  auto net = random_net();
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
BENCHMARK(BM_DemoGame)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
