// The bench signature: the moves played (and positions evaluated) by one
// engine call of each engine at each benchmark position, on one thread, with
// a network from a fixed seed. Any change to what the searches visit changes
// it; bench/signature.txt holds the committed numbers, which a test compares
// (`tavimor_games --signature` prints them afresh).
#pragma once

#include <omp.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/positions.h"
#include "nn/network.h"
#include "search/engine.h"

struct SignatureRow {
  std::string position;  // the benchmark position
  std::string engine;    // its engine_word
  uint64_t nodes;
  uint64_t evaluations;
};

// A network with parameters on the grid of net_init_random, from a seed (the
// bench signature's is 42).
inline std::unique_ptr<NeuralNet> bench_net(uint32_t seed) {
  auto net = std::make_unique<NeuralNet>();
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> grid(0, 1999);
  for (auto& layer : net->bias)
    for (float& v : layer) v = static_cast<float>(grid(rng)) * 0.0007f - 0.7f;
  for (auto& block : net->weight)
    for (auto& row : block)
      for (float& v : row) v = static_cast<float>(grid(rng)) * 0.0007f - 0.7f;
  net_params_changed(*net);
  return net;
}

inline std::vector<SignatureRow> bench_signature() {
  const auto net = bench_net(42);
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  std::vector<SignatureRow> rows;
  for (const BenchPosition& position : kBenchPositions) {
    for (const ThinkType engine : {ThinkType::traditional, ThinkType::neuro}) {
      auto b = bench_board(position);
      if (!b) continue;
      SearchContext ctx{b.get(), net.get(), 0};
      SearchStats stats;
      const ThinkOptions options{nullptr, &stats};
      engine == ThinkType::neuro ? think_neuro(ctx, options) : think_traditional(ctx, options);
      rows.push_back(SignatureRow{position.name, engine_word(engine), stats.nodes, stats.evaluations});
    }
  }
  omp_set_num_threads(threads);
  return rows;
}
