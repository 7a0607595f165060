#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "game/random.h"
#include "nn/network.h"

namespace {

constexpr int kGridSteps = 2000;
constexpr float kGridStep = 0.0007f;
constexpr float kGridLow = 0.7f;

inline float grid_value(int r) { return static_cast<float>(r % kGridSteps) * kGridStep - kGridLow; }

}  // namespace

void net_print_csv_header() {
  for (int i = 0; i < kSlots; ++i) std::printf("x__%d:d%d,", i, i);
  for (int i = 0; i < kSlots; ++i) std::printf("y__%d:b%d%s", i, i, i < kSlots - 1 ? "," : "\n");
}

void net_init_random(NeuralNet& net) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  float* bias = &net.bias[0][0];
  float* weight = &net.weight[0][0][0];
  constexpr int kBiasCount = kLayers * kSlots;
  constexpr int kWeightCount = (kLayers - 1) * kSlots * kSlots;
  const unsigned seed = static_cast<unsigned>(std::rand());
  // Each thread draws from a generator of its own, seeded apart.
#pragma omp parallel
  rand15_seed(seed + 7919u * static_cast<unsigned>(omp_get_thread_num()));
#pragma omp parallel for schedule(static)
  for (int i = 0; i < kBiasCount; ++i) bias[i] = grid_value(rand15());
#pragma omp parallel for schedule(static)
  for (int i = 0; i < kWeightCount; ++i) weight[i] = grid_value(rand15());
  if (net.out_mode == 2) net_print_csv_header();
}
