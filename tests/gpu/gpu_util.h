// What the GPU path's checks share: how far the device's results may lie
// from the processor's, and a processor twin of a network.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "nn_util.h"

// The sums of a layer run in another order with fused products, so the two
// paths differ in the last bits, and that stays so through the layer scale
// and ramp. squash reads its table at the truncated index 500 (x + 1): an
// output whose argument lies that close to a step of the table reads the
// neighbouring entry instead, at most kTableStep away. A score is the mean of
// eight outputs with weights +-1/8, so it may move by at most one step.
inline constexpr float kTableStep = 0.0045f;  // the largest step of asigmo
inline constexpr float kRounding = 1e-5f;
inline constexpr float kScoreTolerance = kTableStep + kRounding;
// In a learning step such a step moves one output's error e|e| (|e| <= 1) by
// at most kTableStep and so its bias by at most 0.4 kTableStep; it reaches
// the other parameters only through sums of 480 or 512 terms that the layer
// scale renormalises, and by less.
inline constexpr float kParamTolerance = 0.4f * kTableStep + kRounding;

// The interpreter runs several times slower under AddressSanitizer; the
// comparisons there take fewer positions.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// The network's parameters and scratch, on the processor.
inline std::unique_ptr<NeuralNet> processor_twin(const NeuralNet& net) {
  auto cpu = zero_net();
  std::memcpy(cpu->bias, net.bias, sizeof net.bias);
  std::memcpy(cpu->weight, net.weight, sizeof net.weight);
  std::memcpy(cpu->act, net.act, sizeof net.act);
  std::memcpy(cpu->delta, net.delta, sizeof net.delta);
  cpu->out_mode = net.out_mode;
  net_params_changed(*cpu);
  return cpu;
}

inline float largest_difference(const float* a, const float* b, size_t n) {
  float d = 0.0f;
  for (size_t i = 0; i < n; ++i) d = std::max(d, std::fabs(a[i] - b[i]));
  return d;
}

// The largest differences of the biases and of the weights of two networks.
inline float largest_param_difference(const NeuralNet& a, const NeuralNet& b) {
  return std::max(
      largest_difference(&a.bias[0][0], &b.bias[0][0], kLayers * kSlots),
      largest_difference(&a.weight[0][0][0], &b.weight[0][0][0], (kLayers - 1) * kSlots * kSlots));
}
