#include <omp.h>

#include <cstdlib>
#include <ctime>

#include "game/random.h"
#include "nn/network.h"

namespace {

constexpr int kGridSteps = 2000;
constexpr float kGridStep = 0.0007f;
constexpr float kGridLow = 0.7f;
// The largest multiple of kGridSteps that the 15-bit generator reaches: draws
// at or above it are thrown away, so that every grid value is equally likely.
constexpr int kDrawLimit = 32768 / kGridSteps * kGridSteps;

float grid_value(int r) { return static_cast<float>(r % kGridSteps) * kGridStep - kGridLow; }

float random_grid_value() {
  int r = rand15();
  while (r >= kDrawLimit) r = rand15();
  return grid_value(r);
}

// Fills values with random grid values in a parallel loop, each thread drawing
// from a generator of its own, seeded apart.
void fill_random(float* values, int n, unsigned seed) {
#pragma omp parallel
  {
    rand15_seed(seed + 7919u * static_cast<unsigned>(omp_get_thread_num()));
#pragma omp for schedule(static)
    for (int i = 0; i < n; ++i) values[i] = random_grid_value();
  }
}

}  // namespace

void net_init_random(NeuralNet& net) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  const unsigned bias_seed = static_cast<unsigned>(std::rand());
  const unsigned weight_seed = static_cast<unsigned>(std::rand());
  fill_random(&net.bias[0][0], kLayers * kSlots, bias_seed);
  fill_random(&net.weight[0][0][0], (kLayers - 1) * kSlots * kSlots, weight_seed);
  net_params_changed(net);
  gpu_upload(net);
  if (net.out_mode == kDiagCsv) net_print_csv_header();
}
