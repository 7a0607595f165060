#include "nn/gpu/gpu_context.h"

void gpu_reset(GpuContext& gpu) {
  gpu.device = -1;
  gpu.initialised = 0;
}

void gpu_release(GpuContext& gpu) { gpu_reset(gpu); }
