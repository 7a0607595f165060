// The neural engine: one move on all cores from the benchmark positions, and
// one whole game of the neural engine against the traditional engine with the
// learning steps the demo makes.
#include <benchmark/benchmark.h>

#include <memory>

#include "nn/network.h"
#include "positions.h"
#include "search/engine.h"

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

// A whole game as demo mode plays it (without its console output): the
// neural engine on colour 2 learns before each of its moves that follows a
// move of the traditional engine.
void BM_DemoGame(benchmark::State& state) {
  auto net = random_net();
  int moves = 0;
  for (auto _ : state) {
    auto b = std::make_unique<Board>();
    new_game(*b);
    b->computer_colour = 2;
    SearchContext ctx{b.get(), net.get(), 0};
    int opponent = 0;
    while (!check_end(*b)) {
      if (b->side == b->computer_colour) {
        if (opponent != 0) {
          opponent = 0;
          learn_last_move(ctx);
        }
        think_neuro(ctx);
      } else {
        think_traditional(ctx);
        ++opponent;
      }
      ++moves;
    }
  }
  state.counters["moves"] = moves;
}
BENCHMARK(BM_DemoGame)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
