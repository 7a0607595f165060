// Compares the GPU path with the processor's through whichever driver
// library the system provides (the real libcuda.so.1 on a machine with an
// NVIDIA GPU), and prints a short table: evaluations and learning steps per
// second on each, and the largest differences of scores and parameters.
// Exits with 1 when the device does not come up or a difference is beyond
// its tolerance. scripts/gpu-check.sh runs it.
//
// Usage: tavimor_gpu_check [ordinal [evaluations [learning steps]]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "gpu_util.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int ordinal = argc > 1 ? std::atoi(argv[1]) : 0;
  const int evaluations = argc > 2 ? std::atoi(argv[2]) : 200;
  const int steps = argc > 3 ? std::atoi(argv[3]) : 20;
  std::mt19937 rng(20);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  gpu_init(*net, ordinal);
  if (!net->gpu_on) {
    std::fprintf(stderr, "gpu-check: GPU %d did not come up.\n", ordinal);
    return 1;
  }
  char name[80] = {};
  net->gpu.api.cuDeviceGetName(name, sizeof name, net->gpu.device);
  auto cpu = processor_twin(*net);
  const auto positions = random_positions(rng, evaluations > 0 ? evaluations : 1);

  // Evaluations, on each path in turn.
  std::vector<float> on_device(64 * positions.size()), on_processor(64 * positions.size());
  Clock::time_point start = Clock::now();
  for (size_t n = 0; n < positions.size(); ++n)
    net_evaluate(*net, previous_plane(*positions[n]), positions[n]->ply == 1, &on_device[64 * n]);
  const double device_eval = seconds_since(start);
  start = Clock::now();
  for (size_t n = 0; n < positions.size(); ++n)
    net_evaluate(*cpu, previous_plane(*positions[n]), positions[n]->ply == 1, &on_processor[64 * n]);
  const double processor_eval = seconds_since(start);
  const float score_difference = largest_difference(on_device.data(), on_processor.data(), on_device.size());

  // Learning steps, each from the same parameters on both paths.
  double device_learn = 0.0, processor_learn = 0.0;
  float param_difference = 0.0f;
  for (int n = 0; n < steps; ++n) {
    const Board& b = *positions[static_cast<size_t>(n) % positions.size()];
    cpu = processor_twin(*net);
    start = Clock::now();
    net_learn(*net, previous_plane(b), b.ply == 1);
    device_learn += seconds_since(start);
    start = Clock::now();
    net_learn(*cpu, previous_plane(b), b.ply == 1);
    processor_learn += seconds_since(start);
    param_difference = std::max(param_difference, largest_param_difference(*net, *cpu));
  }
  const bool device_stayed = net->gpu_on == 1;
  gpu_release(*net);

  std::printf("| device | %s #%d |\n|---|---|\n", name, ordinal);
  std::printf("| evaluations per second, device | %.1f |\n", positions.size() / device_eval);
  std::printf("| evaluations per second, processor | %.1f |\n", positions.size() / processor_eval);
  if (steps > 0) {
    std::printf("| learning steps per second, device | %.1f |\n", steps / device_learn);
    std::printf("| learning steps per second, processor | %.1f |\n", steps / processor_learn);
  }
  std::printf("| largest score difference (tolerance %g) | %g |\n", kScoreTolerance, score_difference);
  std::printf("| largest parameter difference (tolerance %g) | %g |\n", kParamTolerance, param_difference);
  const bool ok = device_stayed && score_difference <= kScoreTolerance && param_difference <= kParamTolerance;
  if (!ok)
    std::fprintf(stderr, "gpu-check: the device %s.\n",
                 device_stayed ? "differs beyond tolerance" : "failed");
  return ok ? 0 : 1;
}
