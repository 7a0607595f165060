// The network's back end: the processor, or the GPU from the moment it has
// come up until it goes down (use_device, the one place that decides). The
// GPU's side: bring-up, copies, and the launch sequences of one evaluation
// and one learning step; then the entry points, which follow the decision.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "game/board.h"
#include "nn/diag.h"
#include "nn/gpu/gpu_module.h"
#include "nn/passes.h"

namespace {

// The device comes up (on) or goes down for the rest of the run. Down, the
// processor takes over from the parameters the network holds, which are
// those last copied back whole: what it derives from them is refreshed.
void use_device(NeuralNet& net, bool on) {
  net.gpu_on = on ? 1 : 0;
  if (!on) net_params_changed(net);
}

constexpr int kNameBytes = 80;
constexpr uint64_t kBoardBytes = 2 * kPlaneCells * sizeof(int32_t);  // the plane before and the plane
constexpr uint64_t kParamBlockBytes = 4 * sizeof(float);
constexpr uint64_t kLayerBytes = sizeof(float) * kLayers * kSlots;
constexpr uint64_t kWeightBytes = sizeof(float) * (kLayers - 1) * kSlots * kSlots;
constexpr uint64_t kScoreBytes = 64 * sizeof(float);
static_assert(kBoardBytes == 800 && kLayerBytes == 10240 && kWeightBytes == 4194304);

// The staging area: weight, bias, act and delta, as the network holds them.
constexpr size_t kStagingFloats = (kWeightBytes + 3 * kLayerBytes) / sizeof(float);
float* staged_weight(GpuContext& g) { return g.staging; }
float* staged_bias(GpuContext& g) { return g.staging + kWeightBytes / sizeof(float); }
float* staged_act(GpuContext& g) { return staged_bias(g) + kLayers * kSlots; }
float* staged_delta(GpuContext& g) { return staged_act(g) + kLayers * kSlots; }

// A call after bring-up: one that fails prints one error line naming it, and
// the device goes down.
bool checked(NeuralNet& net, CuResult code, const char* call, const char* kernel = nullptr) {
  if (code == kCuSuccess) return true;
  std::fprintf(stderr, "error: %s%s%s%s failed with code %d. the network runs on the processor.\n", call,
               kernel ? " (" : "", kernel ? kernel : "", kernel ? ")" : "", code);
  use_device(net, false);
  return false;
}

bool copy_up(NeuralNet& net, CuDevicePtr to, const void* from, uint64_t bytes) {
  return checked(net, net.gpu.api.cuMemcpyHtoD_v2(to, from, bytes), "cuMemcpyHtoD_v2");
}

bool copy_down(NeuralNet& net, void* to, CuDevicePtr from, uint64_t bytes) {
  return checked(net, net.gpu.api.cuMemcpyDtoH_v2(to, from, bytes), "cuMemcpyDtoH_v2");
}

bool launch(NeuralNet& net, GpuKernel k, unsigned grid_x, unsigned grid_y, unsigned block_x) {
  GpuContext& g = net.gpu;
  return checked(
      net,
      g.api.cuLaunchKernel(g.kernel[k], grid_x, grid_y, 1, block_x, 1, 1, 0, nullptr, g.args[k], nullptr),
      "cuLaunchKernel", kGpuKernelNames[k]);
}

// Sends the parameter block: the first layer index and its step.
bool send_param(NeuralNet& net, float layer, float step) {
  GpuContext& g = net.gpu;
  const float block[4] = {layer, step, 0.0f, 0.0f};
  std::memcpy(g.param, block, sizeof block);
  return copy_up(net, g.dev_param, g.param, g.size[kSizeParam]);
}

// Sends the plane before plane and plane itself to dev_board. The first plane
// of a game has none before it: that half is sent as a plane without marks,
// so input planes 0 and 1 read all -1, as on the processor.
bool send_planes(NeuralNet& net, const int32_t* plane, bool first_plane) {
  int32_t planes[2 * kPlaneCells];
  if (first_plane)
    std::memset(planes, 0, sizeof(int32_t) * kPlaneCells);
  else
    std::memcpy(planes, plane - kPlaneCells, sizeof(int32_t) * kPlaneCells);
  std::memcpy(planes + kPlaneCells, plane, sizeof(int32_t) * kPlaneCells);
  return copy_up(net, net.gpu.dev_board, planes, net.gpu.size[kSizeBoard]);
}

// Copies the device's weight, bias, act and delta into the staging area, in
// this order, and on success into the network.
bool copy_back_all(NeuralNet& net) {
  GpuContext& g = net.gpu;
  if (!copy_down(net, staged_weight(g), g.dev_weight, g.size[kSizeWeight]) ||
      !copy_down(net, staged_bias(g), g.dev_bias, g.size[kSizeLayer]) ||
      !copy_down(net, staged_act(g), g.dev_act, g.size[kSizeLayer]) ||
      !copy_down(net, staged_delta(g), g.dev_delta, g.size[kSizeLayer]))
    return false;
  std::memcpy(net.weight, staged_weight(g), kWeightBytes);
  std::memcpy(net.bias, staged_bias(g), kLayerBytes);
  std::memcpy(net.act, staged_act(g), kLayerBytes);
  std::memcpy(net.delta, staged_delta(g), kLayerBytes);
  return true;
}

void set_args(void** list, std::initializer_list<CuDevicePtr*> fields) {
  int i = 0;
  for (CuDevicePtr* f : fields) list[i++] = f;
}

void build_args(GpuContext& g) {
  set_args(g.args[kCopy], {&g.dev_plane, &g.dev_param, &g.dev_act, &g.dev_delta});
  set_args(g.args[kIncdec], {&g.dev_param});
  set_args(g.args[kForward1], {&g.dev_bias, &g.dev_act});
  set_args(g.args[kForward2], {&g.dev_param, &g.dev_weight, &g.dev_act});
  set_args(g.args[kForward3], {&g.dev_param, &g.dev_bias, &g.dev_act});
  set_args(g.args[kForward4], {&g.dev_param, &g.dev_act, &g.dev_score});
  set_args(g.args[kBack1], {&g.dev_param, &g.dev_act, &g.dev_delta});
  set_args(g.args[kBack2], {&g.dev_param, &g.dev_weight, &g.dev_delta});
  set_args(g.args[kBack3], {&g.dev_param, &g.dev_act, &g.dev_delta});
  set_args(g.args[kBack4], {&g.dev_weight, &g.dev_bias, &g.dev_act, &g.dev_delta});
}

// The steps of gpu_init from the driver to the device arrays; false at the
// first that fails.
bool bring_up(GpuContext& g, int ordinal, char* name) {
  const CudaApi& cu = g.api;
  if (cu.cuInit(0) != kCuSuccess) return false;
  CuDevice device = 0;
  if (cu.cuDeviceGet(&device, ordinal) != kCuSuccess) return false;
  g.device = device;
  cu.cuDeviceGetName(name, kNameBytes, g.device);  // a name it cannot give stays empty
  name[kNameBytes - 1] = '\0';
  CuContext context = nullptr;
  if (cu.cuCtxCreate_v2(&context, 0, g.device) != kCuSuccess) return false;
  g.context = context;
  CuModule module = nullptr;
  if (cu.cuModuleLoadData(&module, gpu_module_text) != kCuSuccess) return false;
  g.module = module;
  for (int k = 0; k < kGpuKernels; ++k) {
    CuFunction f = nullptr;
    if (cu.cuModuleGetFunction(&f, g.module, kGpuKernelNames[k]) != kCuSuccess) return false;
    g.kernel[k] = f;
  }
  g.size[kSizeBoard] = kBoardBytes;
  g.size[kSizeParam] = kParamBlockBytes;
  g.size[kSizeWeight] = kWeightBytes;
  g.size[kSizeLayer] = kLayerBytes;
  g.size[kSizeScore] = kScoreBytes;
  const struct {
    CuDevicePtr* field;
    GpuSize size;
  } arrays[] = {{&g.dev_board, kSizeBoard}, {&g.dev_param, kSizeParam}, {&g.dev_weight, kSizeWeight},
                {&g.dev_bias, kSizeLayer},  {&g.dev_act, kSizeLayer},   {&g.dev_delta, kSizeLayer},
                {&g.dev_score, kSizeScore}};
  for (const auto& a : arrays) {
    CuDevicePtr address = 0;
    if (cu.cuMemAlloc_v2(&address, g.size[a.size]) != kCuSuccess) return false;
    *a.field = address;
  }
  g.dev_plane = g.dev_board + kBoardBytes / 2;
  build_args(g);
  g.staging = static_cast<float*>(std::malloc(sizeof(float) * kStagingFloats));
  return g.staging != nullptr;
}

// One evaluation on the device, as net_evaluate's; the scores go to score
// unless it is null. False while the device is down or when it failed.
bool gpu_forward(NeuralNet& net, const int32_t* plane, bool first_plane, float* score) {
  if (!net.gpu_on) return false;
  if (!send_planes(net, plane, first_plane) || !send_param(net, 0.0f, 1.0f) ||
      !launch(net, kCopy, 1, 1, 512) || !launch(net, kForward1, 1, 1, 512))
    return false;
  // Layers 1 to 4; the layer index ends at 4.
  for (int L = 0; L < kLayers - 1; ++L) {
    if (!launch(net, kForward2, 512, 1, 256) || !launch(net, kForward3, 1, 1, 512) ||
        !launch(net, kIncdec, 1, 1, 1))
      return false;
  }
  if (!launch(net, kForward4, 1, 1, 64)) return false;
  // The copy waits for the kernels, so the scores are final when it returns.
  return score == nullptr || copy_down(net, score, net.gpu.dev_score, net.gpu.size[kSizeScore]);
}

// One learning step on the device, then the parameters and scratch copied
// back; sample, when given, receives the CSV line's inputs and targets as copy
// writes them (a zero target is +0 in every plane). False as for gpu_forward,
// with nothing of the step in the network.
bool gpu_learn(NeuralNet& net, const int32_t* plane, bool first_plane, float (*sample)[kSlots]) {
  if (!net.gpu_on) return false;
  GpuContext& g = net.gpu;
  if (sample != nullptr) {
    if (!send_planes(net, plane, first_plane) || !send_param(net, 0.0f, 1.0f) ||
        !launch(net, kCopy, 1, 1, 512) || !copy_down(net, staged_act(g), g.dev_act, g.size[kSizeLayer]) ||
        !copy_down(net, staged_delta(g), g.dev_delta, g.size[kSizeLayer]))
      return false;
    std::memcpy(sample[0], staged_act(g), sizeof sample[0]);
    std::memcpy(sample[1], staged_delta(g) + (kLayers - 1) * kSlots, sizeof sample[1]);
  }
  if (!gpu_forward(net, plane, first_plane, nullptr) || !send_param(net, 3.0f, -1.0f) ||
      !launch(net, kBack1, 1, 1, 512))
    return false;
  // Layers 3 to 0; the layer index ends at -1.
  for (int L = kLayers - 2; L >= 0; --L) {
    if (!launch(net, kBack2, 1, 1, 512) || !launch(net, kBack3, 1, 1, 512) || !launch(net, kIncdec, 1, 1, 1))
      return false;
  }
  return launch(net, kBack4, 512, kLayers, 512) && copy_back_all(net);
}

}  // namespace

void gpu_init(NeuralNet& net, int ordinal) {
  GpuContext& g = net.gpu;
  // Without the driver library (or with one that lacks an entry point) the
  // driver is as absent as when cuInit fails.
  if (!cuda_api_load(g.api)) return;
  char name[kNameBytes] = {};
  if (!bring_up(g, ordinal, name)) return;
  use_device(net, true);
  if (gpu_upload(net)) std::fprintf(stderr, "tavimor> neuro mode with cuda on %s #%d.\n", name, ordinal);
}

bool gpu_upload(NeuralNet& net) {
  if (!net.gpu_on) return true;
  const GpuContext& g = net.gpu;
  return copy_up(net, g.dev_weight, net.weight, g.size[kSizeWeight]) &&
         copy_up(net, g.dev_bias, net.bias, g.size[kSizeLayer]) &&
         copy_up(net, g.dev_act, net.act, g.size[kSizeLayer]) &&
         copy_up(net, g.dev_delta, net.delta, g.size[kSizeLayer]);
}

bool gpu_download(NeuralNet& net) { return !net.gpu_on || copy_back_all(net); }

void gpu_release(NeuralNet& net) {
  GpuContext& g = net.gpu;
  if (net.gpu_on) {
    for (CuDevicePtr a :
         {g.dev_board, g.dev_param, g.dev_weight, g.dev_bias, g.dev_act, g.dev_delta, g.dev_score})
      g.api.cuMemFree_v2(a);
    use_device(net, false);
  }
  if (g.context != nullptr) g.api.cuCtxDestroy_v2(g.context);
  g.context = nullptr;
  std::free(g.staging);
  g.staging = nullptr;
}

// ---- The entry points: on the device while it is up, else on the processor. ----
// An evaluation the device fails, the processor does in the network's scratch.
void net_evaluate(NeuralNet& net, const int32_t* plane, bool first_plane, float* scores) {
  if (!gpu_forward(net, plane, first_plane, scores))
    evaluate_on_processor(net, scratch_of(net), plane, first_plane, scores);
}

void net_evaluate(NeuralNet& net, NetScratch& scratch, const int32_t* plane, bool first_plane,
                  float* scores) {
  if (net.gpu_on) return net_evaluate(net, plane, first_plane, scores);
  evaluate_on_processor(net, scratch_of(scratch), plane, first_plane, scores);
}

// The device takes the imitation steps. A step it fails, and every step of
// the backprop rule, run on the processor; the device, while up, then
// receives the parameters.
void net_learn(NeuralNet& net, const int32_t* plane, bool first_plane) {
  if (net.learn_rule == LearnRule::off) return;
  const bool csv = net.out_mode == kDiagCsv;
  float sample[2][kSlots];
  if (net.learn_rule == LearnRule::imitation && gpu_learn(net, plane, first_plane, csv ? sample : nullptr)) {
    if (csv) net_print_csv_sample(sample[0], sample[1]);
    return;
  }
  learn_on_processor(net, plane, first_plane);
  gpu_upload(net);
}
