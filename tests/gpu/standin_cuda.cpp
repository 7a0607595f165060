// The stand-in driver library (see standin.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ptx.h"
#include "standin.h"

namespace {

// Result codes, as the driver numbers them.
constexpr int kOk = 0;
constexpr int kInvalidValue = 1;
constexpr int kNotInitialized = 3;
constexpr int kInvalidDevice = 101;
constexpr int kInvalidContext = 201;
constexpr int kInvalidPtx = 218;
constexpr int kNotFound = 500;
constexpr int kIllegalAddress = 700;

constexpr uint64_t kFirstAddress = 0x7e0000000000;  // far from the host's heap
constexpr uint64_t kAddressStep = 1 << 24;          // each array in a 16 MB window of its own

struct Array {
  int index;  // order of allocation
  std::vector<unsigned char> bytes;
};

struct Module {
  PtxModulePtr ptx;
};

struct Function {
  const Module* module;
  int kernel;
  std::string name;
};

struct State {
  std::mutex lock;
  bool configured = false;
  int devices = 1;
  std::string log_path;
  std::vector<std::string> log;
  std::string fail_call;
  int fail_countdown = 0;
  bool initialised = false;
  bool has_context = false;
  std::thread::id context_thread;
  int arrays_made = 0;
  int first_named = 0;               // the array the log calls a0
  std::map<uint64_t, Array> arrays;  // by base address
  std::vector<std::unique_ptr<Module>> modules;
  std::vector<std::unique_ptr<Function>> functions;
  uint64_t launches = 0;
  int approx_step = 0;
};

// Never destroyed: the program releases the device from its own exit
// handler, which may run after this library's static destructors.
State& state() {
  static State* s = new State;
  return *s;
}

// The settings of a child process, read at the first call.
void configure(State& s) {
  if (s.configured) return;
  s.configured = true;
  if (const char* d = std::getenv("STANDIN_CUDA_DEVICES")) s.devices = std::atoi(d);
  if (const char* l = std::getenv("STANDIN_CUDA_LOG")) s.log_path = l;
  if (const char* f = std::getenv("STANDIN_CUDA_FAIL")) {
    const std::string rule = f;
    const size_t colon = rule.find(':');
    s.fail_call = rule.substr(0, colon);
    s.fail_countdown = colon == std::string::npos ? 1 : std::atoi(rule.c_str() + colon + 1);
  }
}

void record(State& s, const std::string& line) {
  s.log.push_back(line);
  if (s.log_path.empty()) return;
  if (FILE* f = std::fopen(s.log_path.c_str(), "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

// " " and the words, for a log line. (Built by appending: GCC 12 warns
// falsely about "literal" + std::string.)
std::string words(std::initializer_list<std::string> list) {
  std::string out;
  for (const std::string& w : list) out.append(" ").append(w);
  return out;
}

// Logs the call; true when it is the one asked to fail (logged so).
bool failing(State& s, const char* call, const std::string& detail) {
  configure(s);
  const bool fail = s.fail_call == call && s.fail_countdown > 0 && --s.fail_countdown == 0;
  std::string line = call;
  line.append(detail).append(fail ? " failed" : "");
  record(s, line);
  return fail;
}

// "a<index>" or "a<index>+<offset>" for an address inside an array.
std::string name_of(const State& s, uint64_t address) {
  auto it = s.arrays.upper_bound(address);
  if (it == s.arrays.begin()) return "?";
  --it;
  const uint64_t offset = address - it->first;
  if (offset >= it->second.bytes.size()) return "?";
  std::string name = "a";
  name.append(std::to_string(it->second.index - s.first_named));
  if (offset) name.append("+").append(std::to_string(offset));
  return name;
}

// The bytes of [address, address + bytes) inside one array, or null.
unsigned char* bytes_at(State& s, uint64_t address, size_t bytes) {
  auto it = s.arrays.upper_bound(address);
  if (it == s.arrays.begin()) return nullptr;
  --it;
  const uint64_t offset = address - it->first;
  if (offset > it->second.bytes.size() || bytes > it->second.bytes.size() - offset) return nullptr;
  return it->second.bytes.data() + offset;
}

// Calls that need a context must come from the thread that made it.
bool wrong_thread(const State& s) { return !s.has_context || std::this_thread::get_id() != s.context_thread; }

}  // namespace

void standin_reset() {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  configure(s);
  s.log.clear();
  s.fail_call.clear();
  s.fail_countdown = 0;
  s.launches = 0;
  s.approx_step = 0;
  s.first_named = s.arrays_made;
}

void standin_fail(const char* call, int nth) {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.fail_call = call;
  s.fail_countdown = nth;
}

std::vector<std::string> standin_log() {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return s.log;
}

void standin_approx_step(int step) {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  s.approx_step = step;
}

int standin_live_arrays() {
  State& s = state();
  std::lock_guard<std::mutex> g(s.lock);
  return static_cast<int>(s.arrays.size());
}

// ---------------------------------------------------------------- the driver

using Guard = std::lock_guard<std::mutex>;

extern "C" {

int cuInit(unsigned flags) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuInit", words({std::to_string(flags)}))) return kStandinFailure;
  if (flags != 0) return kInvalidValue;
  s.initialised = true;
  return kOk;
}

int cuDeviceGet(int32_t* device, int ordinal) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuDeviceGet", words({std::to_string(ordinal)}))) return kStandinFailure;
  if (!s.initialised) return kNotInitialized;
  if (ordinal < 0 || ordinal >= s.devices) return kInvalidDevice;
  *device = ordinal;
  return kOk;
}

int cuDeviceGetName(char* name, int length, int32_t device) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuDeviceGetName", words({std::to_string(length)}))) return kStandinFailure;
  if (device < 0 || device >= s.devices) return kInvalidDevice;
  if (length <= 0) return kInvalidValue;
  std::snprintf(name, static_cast<size_t>(length), "%s", kStandinDeviceName);
  return kOk;
}

int cuCtxCreate_v2(void** context, unsigned flags, int32_t device) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuCtxCreate_v2", "")) return kStandinFailure;
  if (device < 0 || device >= s.devices || flags != 0) return kInvalidValue;
  s.has_context = true;
  s.context_thread = std::this_thread::get_id();
  static int token;
  *context = &token;
  return kOk;
}

int cuModuleLoadData(void** module, const void* image) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuModuleLoadData", "")) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  std::string error;
  auto m = std::make_unique<Module>();
  m->ptx = ptx_load(static_cast<const char*>(image), error);
  if (!m->ptx) {
    std::fprintf(stderr, "standin: the module does not load: %s\n", error.c_str());
    return kInvalidPtx;
  }
  *module = m.get();
  s.modules.push_back(std::move(m));
  return kOk;
}

int cuModuleGetFunction(void** function, void* module, const char* name) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuModuleGetFunction", words({name}))) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  const auto* m = static_cast<const Module*>(module);
  const int k = ptx_kernel(*m->ptx, name);
  if (k < 0) return kNotFound;
  s.functions.push_back(std::make_unique<Function>(Function{m, k, name}));
  *function = s.functions.back().get();
  return kOk;
}

int cuMemAlloc_v2(uint64_t* address, size_t bytes) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuMemAlloc_v2", words({std::to_string(bytes)}))) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  if (bytes == 0 || bytes >= kAddressStep) return kInvalidValue;
  const int index = s.arrays_made++;
  const uint64_t base = kFirstAddress + static_cast<uint64_t>(index) * kAddressStep;
  // Fresh device memory holds no numbers.
  s.arrays[base] = Array{index, std::vector<unsigned char>(bytes, 0xff)};
  *address = base;
  return kOk;
}

int cuMemcpyHtoD_v2(uint64_t to, const void* from, size_t bytes) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuMemcpyHtoD_v2", words({name_of(s, to), std::to_string(bytes)}))) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  unsigned char* at = bytes_at(s, to, bytes);
  if (at == nullptr) return kInvalidValue;
  std::memcpy(at, from, bytes);
  return kOk;
}

int cuMemcpyDtoH_v2(void* to, uint64_t from, size_t bytes) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuMemcpyDtoH_v2", words({name_of(s, from), std::to_string(bytes)}))) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  const unsigned char* at = bytes_at(s, from, bytes);
  if (at == nullptr) return kInvalidValue;
  std::memcpy(to, at, bytes);
  return kOk;
}

int cuLaunchKernel(void* function, unsigned grid_x, unsigned grid_y, unsigned grid_z, unsigned block_x,
                   unsigned block_y, unsigned block_z, unsigned shared_bytes, void* stream, void** params,
                   void** extra) {
  State& s = state();
  Guard g(s.lock);
  const auto* f = static_cast<const Function*>(function);
  const int count = ptx_param_count(*f->module->ptx, f->kernel);
  const auto shape = [](unsigned x, unsigned y, unsigned z) {
    std::string out = std::to_string(x);
    out.append("x").append(std::to_string(y)).append("x").append(std::to_string(z));
    return out;
  };
  std::string detail = words({f->name, shape(grid_x, grid_y, grid_z), shape(block_x, block_y, block_z)});
  std::vector<uint64_t> values(static_cast<size_t>(count));
  for (int i = 0; i < count && params != nullptr; ++i) {
    std::memcpy(&values[i], params[i], sizeof(uint64_t));
    detail += words({name_of(s, values[i])});
  }
  if (failing(s, "cuLaunchKernel", detail)) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  if (grid_z != 1 || block_y != 1 || block_z != 1 || block_x == 0 || block_x > 1024 || shared_bytes != 0 ||
      stream != nullptr || params == nullptr || extra != nullptr)
    return kInvalidValue;
  std::vector<PtxRegion> memory;
  for (auto& [base, a] : s.arrays) memory.push_back({base, a.bytes.size(), a.bytes.data()});
  // The threads of a block run forwards, backwards or shuffled, launch by launch.
  PtxOptions options;
  options.order = static_cast<PtxOrder>(s.launches % 3);
  options.seed = static_cast<uint32_t>(s.launches);
  options.approx_step = s.approx_step;
  ++s.launches;
  const std::string error =
      ptx_launch(*f->module->ptx, f->kernel, grid_x, grid_y, block_x, values.data(), memory, options);
  if (!error.empty()) {
    std::fprintf(stderr, "standin: %s\n", error.c_str());
    return kIllegalAddress;
  }
  return kOk;
}

int cuMemFree_v2(uint64_t address) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuMemFree_v2", words({name_of(s, address)}))) return kStandinFailure;
  if (wrong_thread(s)) return kInvalidContext;
  return s.arrays.erase(address) == 1 ? kOk : kInvalidValue;
}

#ifndef STANDIN_WITHOUT_CTX_DESTROY
int cuCtxDestroy_v2(void* context) {
  State& s = state();
  Guard g(s.lock);
  if (failing(s, "cuCtxDestroy_v2", "")) return kStandinFailure;
  if (context == nullptr || !s.has_context) return kInvalidContext;
  // The context takes its arrays and modules with it.
  s.has_context = false;
  s.arrays.clear();
  s.functions.clear();
  s.modules.clear();
  return kOk;
}
#endif

}  // extern "C"
