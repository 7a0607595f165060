// The network's GPU state: the device, its context and module, the kernels
// with their argument lists, and the device arrays that mirror the network.
// It lives inside the NeuralNet and is never saved.
#pragma once

#include <cstdint>

#include "nn/gpu/cuda_api.h"

// The kernels of the module, in the order of GpuContext::kernel.
enum GpuKernel { kCopy, kIncdec, kForward1, kForward2, kForward3, kForward4, kBack1, kBack2, kBack3, kBack4 };
inline constexpr int kGpuKernels = 10;
inline constexpr int kGpuMaxArgs = 4;
// Their names in the module.
inline constexpr const char* kGpuKernelNames[kGpuKernels] = {
    "copy", "incdec", "forward1", "forward2", "forward3", "forward4", "back1", "back2", "back3", "back4"};

// The byte counts of GpuContext::size.
enum GpuSize { kSizeBoard, kSizeParam, kSizeLayer, kSizeWeight, kSizeScore };
inline constexpr int kGpuSizes = 5;

struct GpuContext {
  CuDevice device;
  CuContext context;  // null until created
  CuModule module;
  CuFunction kernel[kGpuKernels];
  // Per kernel, the host addresses of the device-address fields it takes, in
  // parameter order (null past the last).
  void* args[kGpuKernels][kGpuMaxArgs];
  CuDevicePtr dev_param, dev_board, dev_weight, dev_bias, dev_act, dev_delta, dev_score;
  uint64_t size[kGpuSizes];
  CuDevicePtr dev_plane;  // dev_board + 400 bytes: the encoded plane
  float param[4];         // the parameter block sent to dev_param
  CudaApi api;            // the driver's entry points
  // Host memory that the copies back from the device land in; they replace
  // the network's arrays only once all of them have arrived.
  float* staging;
};
