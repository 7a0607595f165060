// The network's GPU state. It stays reset (and gpu_on stays 0) until the GPU
// path comes up.
#pragma once

#include <cstdint>

struct GpuContext {
  int32_t device;       // ordinal of the device in use, -1 when none
  int32_t initialised;  // 1 once a context exists
};

// Puts the GPU state into its reset form.
void gpu_reset(GpuContext& gpu);
// Releases whatever the GPU path holds; safe to call on a reset state.
void gpu_release(GpuContext& gpu);
