// The one place that touches the platform's loader for the GPU driver.
#include "nn/gpu/cuda_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
constexpr const char* kDriverLibrary = "nvcuda.dll";
void* open_library() { return reinterpret_cast<void*>(LoadLibraryA(kDriverLibrary)); }
void* find_symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void close_library(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
constexpr const char* kDriverLibrary = "libcuda.so.1";
void* open_library() { return dlopen(kDriverLibrary, RTLD_NOW | RTLD_LOCAL); }
void* find_symbol(void* library, const char* name) { return dlsym(library, name); }
void close_library(void* library) { dlclose(library); }
#endif

template <typename Fn>
bool resolve(void* library, Fn& entry, const char* name) {
  entry = reinterpret_cast<Fn>(find_symbol(library, name));
  return entry != nullptr;
}

}  // namespace

bool cuda_api_load(CudaApi& api) {
  api = CudaApi{};
  void* library = open_library();
  if (library == nullptr) return false;
  CudaApi found{};
  const bool complete = resolve(library, found.cuInit, "cuInit") &&
                        resolve(library, found.cuDeviceGet, "cuDeviceGet") &&
                        resolve(library, found.cuDeviceGetName, "cuDeviceGetName") &&
                        resolve(library, found.cuCtxCreate_v2, "cuCtxCreate_v2") &&
                        resolve(library, found.cuModuleLoadData, "cuModuleLoadData") &&
                        resolve(library, found.cuModuleGetFunction, "cuModuleGetFunction") &&
                        resolve(library, found.cuMemAlloc_v2, "cuMemAlloc_v2") &&
                        resolve(library, found.cuMemcpyHtoD_v2, "cuMemcpyHtoD_v2") &&
                        resolve(library, found.cuMemcpyDtoH_v2, "cuMemcpyDtoH_v2") &&
                        resolve(library, found.cuLaunchKernel, "cuLaunchKernel") &&
                        resolve(library, found.cuMemFree_v2, "cuMemFree_v2") &&
                        resolve(library, found.cuCtxDestroy_v2, "cuCtxDestroy_v2");
  if (!complete) {
    close_library(library);
    return false;
  }
  api = found;
  return true;
}
