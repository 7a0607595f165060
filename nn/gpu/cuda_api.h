// The CUDA driver interface as the GPU path uses it: the few types it needs,
// declared here, and the twelve entry points, resolved from the driver library
// at run time. The program thus builds and runs where no CUDA is installed.
#pragma once

#include <cstddef>
#include <cstdint>

using CuResult = int;  // 0 for success
using CuDevice = int32_t;
using CuContext = struct CuContextRecord*;
using CuModule = struct CuModuleRecord*;
using CuFunction = struct CuFunctionRecord*;
using CuDevicePtr = uint64_t;

inline constexpr CuResult kCuSuccess = 0;

// The entry points; all null until cuda_api_load has resolved them.
struct CudaApi {
  CuResult (*cuInit)(unsigned flags);
  CuResult (*cuDeviceGet)(CuDevice* device, int ordinal);
  CuResult (*cuDeviceGetName)(char* name, int length, CuDevice device);
  CuResult (*cuCtxCreate_v2)(CuContext* context, unsigned flags, CuDevice device);
  CuResult (*cuModuleLoadData)(CuModule* module, const void* image);
  CuResult (*cuModuleGetFunction)(CuFunction* function, CuModule module, const char* name);
  CuResult (*cuMemAlloc_v2)(CuDevicePtr* address, size_t bytes);
  CuResult (*cuMemcpyHtoD_v2)(CuDevicePtr to, const void* from, size_t bytes);
  CuResult (*cuMemcpyDtoH_v2)(void* to, CuDevicePtr from, size_t bytes);
  CuResult (*cuLaunchKernel)(CuFunction function, unsigned grid_x, unsigned grid_y, unsigned grid_z,
                             unsigned block_x, unsigned block_y, unsigned block_z, unsigned shared_bytes,
                             void* stream, void** params, void** extra);
  CuResult (*cuMemFree_v2)(CuDevicePtr address);
  CuResult (*cuCtxDestroy_v2)(CuContext context);
};

// Loads the driver library ("libcuda.so.1"; "nvcuda.dll" on Windows) and
// resolves every entry point into api. False, with api left all null, when
// the library or any entry point is missing. The library stays loaded for the
// rest of the process.
bool cuda_api_load(CudaApi& api);
