// The one network of the process: parameters, GPU state, scratch and modes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "nn/gpu/gpu_context.h"

inline constexpr int kLayers = 5;
inline constexpr int kSlots = 512;  // slots of every per-layer array
inline constexpr int NAC[kLayers] = {512, 512, 480, 480, 512};

// What the processor's fast evaluation derives from a network's weights: the
// transposed blocks, weight[L][j][k] at t[L][panel_index(k, j)] (nn/passes.h):
// runs of 16 receiving neurons for each sending one. Valid only while derived
// from the weights of the network that holds it (net_params_changed); a
// zero-filled network holds none. Never saved.
struct TransposedWeights {
  int32_t valid;
  alignas(64) float t[kLayers - 1][kSlots * kSlots];
};

// How the network learns from a move (-learn): `imitation`, the rule the
// network was built with (the default, zero); `backprop`, the gradient of the
// cross-entropy of its square scores (nn/backprop.h); `off`, not at all.
enum class LearnRule : int32_t { imitation = 0, backprop = 1, off = 2 };

// The diagnostics' modes: the run's diag_mode (the later of -dump and -nnc)
// and the network's out_mode (kDiagCsv once -nnc is given; 0 otherwise).
inline constexpr int kDiagDump = 1;  // -dump: the statistics tables after the run
inline constexpr int kDiagCsv = 2;   // -nnc: a CSV line for every learning step

struct NeuralNet {
  float bias[kLayers][kSlots];
  float weight[kLayers - 1][kSlots][kSlots];
  GpuContext gpu;  // the GPU's state; never saved
  float act[kLayers][kSlots];
  float delta[kLayers][kSlots];
  int32_t gpu_on;    // the back end: 1 while the GPU is up (nn/backend.cpp), else 0
  int32_t out_mode;  // kDiagCsv or 0
  LearnRule learn_rule;
  TransposedWeights transposed;
};

static_assert(std::is_trivially_copyable_v<NeuralNet>);
// bias and weight lie next to each other and form the persistent block.
inline constexpr std::size_t kParamBytes =
    sizeof(float) * (kLayers * kSlots + (kLayers - 1) * kSlots * kSlots);
static_assert(offsetof(NeuralNet, weight) == sizeof(float) * kLayers * kSlots);
static_assert(kParamBytes == 4204544);
