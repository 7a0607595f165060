// The GPU path through the real host driver, with the stand-in driver's PTX
// interpreter running the module: the calls of bring-up, evaluation,
// learning and release; every failing bring-up step; failures after
// bring-up; and the device's results against the processor's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "game/board.h"
#include "gpu_util.h"
#include "late_positions.h"
#include "nn/gpu/gpu_module.h"
#include "nn/passes.h"
#include "nn/tables.h"
#include "nn_util.h"
#include "ptx.h"
#include "search/engine.h"
#include "search/neuro.h"
#include "search/search_context.h"
#include "standin.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A network with random parameters, brought up on the stand-in's device and
// released at the end.
struct DeviceNet {
  std::unique_ptr<NeuralNet> net = zero_net();
  std::string message;  // what bring-up said
  explicit DeviceNet(std::mt19937& rng) { random_params(*net, rng, 0.7f); }
  DeviceNet() = default;
  bool up() {
    standin_reset();
    CaptureStderr();
    gpu_init(*net, 0);
    message = GetCapturedStderr();
    return net->gpu_on == 1;
  }
  ~DeviceNet() { gpu_release(*net); }
  // The parameter block on the device.
  std::vector<float> device_param() const {
    std::vector<float> p(4);
    net->gpu.api.cuMemcpyDtoH_v2(p.data(), net->gpu.dev_param, 16);
    return p;
  }
};

std::vector<std::string> log_since(size_t from) {
  const std::vector<std::string> log = standin_log();
  return std::vector<std::string>(log.begin() + static_cast<long>(std::min(from, log.size())), log.end());
}

// Adds call + " " + each of args to calls.
void add(std::vector<std::string>& calls, const char* call, std::initializer_list<const char*> args) {
  for (const char* a : args) calls.push_back(std::string(call) + " " + a);
}

// The calls of each operation. The arrays are named by order of allocation:
// a0 board, a1 param, a2 weight, a3 bias, a4 act, a5 delta, a6 score.
std::vector<std::string> bring_up_calls() {
  std::vector<std::string> calls = {"cuInit 0", "cuDeviceGet 0", "cuDeviceGetName 80", "cuCtxCreate_v2",
                                    "cuModuleLoadData"};
  for (const char* k : kGpuKernelNames) add(calls, "cuModuleGetFunction", {k});
  add(calls, "cuMemAlloc_v2", {"800", "16", "4194304", "10240", "10240", "10240", "256"});
  add(calls, "cuMemcpyHtoD_v2", {"a2 4194304", "a3 10240", "a4 10240", "a5 10240"});
  return calls;
}

std::vector<std::string> forward_calls(bool read_back) {
  std::vector<std::string> calls;
  add(calls, "cuMemcpyHtoD_v2", {"a0 800", "a1 16"});
  add(calls, "cuLaunchKernel", {"copy 1x1x1 512x1x1 a0+400 a1 a4 a5", "forward1 1x1x1 512x1x1 a3 a4"});
  for (int L = 0; L < 4; ++L)
    add(calls, "cuLaunchKernel",
        {"forward2 512x1x1 256x1x1 a1 a2 a4", "forward3 1x1x1 512x1x1 a1 a3 a4", "incdec 1x1x1 1x1x1 a1"});
  add(calls, "cuLaunchKernel", {"forward4 1x1x1 64x1x1 a1 a4 a6"});
  if (read_back) add(calls, "cuMemcpyDtoH_v2", {"a6 256"});
  return calls;
}

std::vector<std::string> learning_calls() {
  std::vector<std::string> calls = forward_calls(false);
  add(calls, "cuMemcpyHtoD_v2", {"a1 16"});
  add(calls, "cuLaunchKernel", {"back1 1x1x1 512x1x1 a1 a4 a5"});
  for (int L = 0; L < 4; ++L)
    add(calls, "cuLaunchKernel",
        {"back2 1x1x1 512x1x1 a1 a2 a5", "back3 1x1x1 512x1x1 a1 a4 a5", "incdec 1x1x1 1x1x1 a1"});
  add(calls, "cuLaunchKernel", {"back4 512x5x1 512x1x1 a2 a3 a4 a5"});
  add(calls, "cuMemcpyDtoH_v2", {"a2 4194304", "a3 10240", "a4 10240", "a5 10240"});
  return calls;
}

TEST(GpuModule, TablesAreTheProcessors) {
  std::string error;
  const PtxModulePtr m = ptx_load(gpu_module_text, error);
  ASSERT_TRUE(m) << error;
  const auto same = [&m](const char* name, const void* want, size_t words) {
    const std::vector<uint32_t> got = ptx_const_words(*m, name);
    ASSERT_EQ(got.size(), words) << name;
    EXPECT_EQ(std::memcmp(got.data(), want, 4 * words), 0) << name;
  };
  same("asigmo", asigmo, AMAX);
  same("ashell0", ashell0, AMAX);
  same("ashell1", ashell1, AMAX);
  same("NAC", NAC, kLayers);
  same("AMAX", &AMAX, 1);
  float step = 0.0f;
  for (int i = 1; i < AMAX; ++i) step = std::max(step, asigmo[i] - asigmo[i - 1]);
  EXPECT_LE(step, kTableStep);
}

// Bring-up, an evaluation, a learning step and the release make exactly the
// driver calls of the launch sequences, with their sizes, shapes and
// arguments; the layer index is left at 4 after an evaluation and at -1
// after learning.
TEST(GpuHost, DriverCallsOfEachOperation) {
  std::mt19937 rng(1);
  DeviceNet d(rng);
  ASSERT_TRUE(d.up());
  EXPECT_EQ(d.message, std::string("tavimor> neuro mode with cuda on ") + kStandinDeviceName + " #0.\n");
  EXPECT_EQ(standin_log(), bring_up_calls());
  auto b = random_game(rng, 20);
  float scores[64];
  size_t from = standin_log().size();
  net_evaluate(*d.net, previous_plane(*b), false, scores);
  EXPECT_EQ(log_since(from), forward_calls(true));
  EXPECT_EQ(d.device_param()[0], 4.0f);
  from = standin_log().size();
  net_learn(*d.net, previous_plane(*b), false);
  EXPECT_EQ(log_since(from), learning_calls());
  EXPECT_EQ(d.device_param()[0], -1.0f);
  from = standin_log().size();
  gpu_release(*d.net);
  std::vector<std::string> release;
  add(release, "cuMemFree_v2", {"a0", "a1", "a2", "a3", "a4", "a5", "a6"});
  release.push_back("cuCtxDestroy_v2");
  EXPECT_EQ(log_since(from), release);
  EXPECT_EQ(standin_live_arrays(), 0);
  EXPECT_EQ(d.net->gpu_on, 0);
}

// Each call of bring-up that fails ends it without a word: the processor
// evaluates, and the release destroys the context exactly when one was
// made, freeing nothing.
TEST(GpuHost, EveryFailingBringUpStepIsSilent) {
  struct Step {
    const char* call;
    int nth;
  };
  std::vector<Step> steps = {
      {"cuInit", 1}, {"cuDeviceGet", 1}, {"cuCtxCreate_v2", 1}, {"cuModuleLoadData", 1}};
  for (int k = 1; k <= kGpuKernels; ++k) steps.push_back({"cuModuleGetFunction", k});
  for (int a = 1; a <= 7; ++a) steps.push_back({"cuMemAlloc_v2", a});
  auto b = after_first_move();
  for (const Step& s : steps) {
    const std::string what = std::string(s.call) + " " + std::to_string(s.nth);
    DeviceNet d;
    standin_reset();
    standin_fail(s.call, s.nth);
    CaptureStderr();
    gpu_init(*d.net, 0);
    EXPECT_EQ(GetCapturedStderr(), "") << what;
    EXPECT_EQ(d.net->gpu_on, 0) << what;
    const size_t calls = standin_log().size();
    EXPECT_NE(standin_log().back().find(" failed"), std::string::npos) << what;
    float scores[64];
    net_evaluate(*d.net, b->planes[0], true, scores);
    EXPECT_EQ(standin_log().size(), calls) << what << ": the evaluation went to the device";
    gpu_release(*d.net);
    const std::vector<std::string> release = log_since(calls);
    const bool context_made = std::string(s.call) != "cuInit" && std::string(s.call) != "cuDeviceGet" &&
                              std::string(s.call) != "cuCtxCreate_v2";
    EXPECT_EQ(release,
              context_made ? std::vector<std::string>{"cuCtxDestroy_v2"} : std::vector<std::string>{})
        << what;
  }
}

// A copy or launch that fails after bring-up prints one error line, turns
// the device off and leaves the network with the parameters last copied
// back whole; the processor then does the work, exactly as it would have.
TEST(GpuHost, AFailureAfterBringUpHandsOverToTheProcessor) {
  std::mt19937 rng(2);
  auto b = random_game(rng, 24);
  {
    DeviceNet d(rng);
    ASSERT_TRUE(d.up());
    auto cpu = processor_twin(*d.net);
    standin_fail("cuLaunchKernel", 3);  // forward2 of layer 1
    float got[64], want[64];
    CaptureStderr();
    net_evaluate(*d.net, previous_plane(*b), false, got);
    EXPECT_EQ(GetCapturedStderr(),
              "error: cuLaunchKernel (forward2) failed with code 999. the network runs on the processor.\n");
    EXPECT_EQ(d.net->gpu_on, 0);
    net_evaluate(*cpu, previous_plane(*b), false, want);
    EXPECT_TRUE(same_floats(got, want, 64));
    const size_t calls = standin_log().size();
    net_learn(*d.net, previous_plane(*b), false);
    EXPECT_EQ(standin_log().size(), calls) << "a call after the device went off";
  }
  {
    DeviceNet d(rng);
    ASSERT_TRUE(d.up());
    auto cpu = processor_twin(*d.net);
    standin_fail("cuMemcpyDtoH_v2", 2);  // the biases, after the weights have come back
    CaptureStderr();
    net_learn(*d.net, previous_plane(*b), false);
    EXPECT_EQ(GetCapturedStderr(),
              "error: cuMemcpyDtoH_v2 failed with code 999. the network runs on the processor.\n");
    net_learn(*cpu, previous_plane(*b), false);
    EXPECT_TRUE(same_floats(d.net->weight, cpu->weight));
    EXPECT_TRUE(same_floats(d.net->bias, cpu->bias));
    EXPECT_TRUE(same_floats(d.net->act, cpu->act));
  }
}

// The device's scores against the processor's on positions from random
// games and right after the first move, with the approximate square root
// and division correctly rounded and one step off either way.
TEST(GpuVsProcessor, Evaluations) {
  std::mt19937 rng(3);
  DeviceNet d(rng);
  ASSERT_TRUE(d.up());
  auto cpu = processor_twin(*d.net);
  auto positions = random_positions(rng, kSanitized ? 8 : 24);
  positions.push_back(after_first_move());  // the first plane, with none before it
  int apart = 0;
  float worst = 0.0f;
  for (size_t n = 0; n < positions.size(); ++n) {
    standin_approx_step(static_cast<int>(n % 3) - 1);
    const Board& b = *positions[n];
    float got[64], want[64];
    net_evaluate(*d.net, previous_plane(b), b.ply == 1, got);
    net_evaluate(*cpu, previous_plane(b), b.ply == 1, want);
    for (int s = 0; s < 64; ++s) apart += std::fabs(got[s] - want[s]) > kRounding;
    worst = std::max(worst, largest_difference(got, want, 64));
  }
  EXPECT_LE(worst, kScoreTolerance);
  // A table step is the exception, not the rule.
  EXPECT_LE(apart, 64 * static_cast<int>(positions.size()) / 50);
  EXPECT_EQ(d.net->gpu_on, 1);
}

// Learning steps from the same parameters on both paths. Where no output read
// another table entry, the parameters agree to rounding; elsewhere within the
// table step's reach.
TEST(GpuVsProcessor, LearningSteps) {
  std::mt19937 rng(4);
  DeviceNet d(rng);
  ASSERT_TRUE(d.up());
  const auto positions = random_positions(rng, 3);
  for (size_t n = 0; n < positions.size(); ++n) {
    standin_approx_step(static_cast<int>(n % 3) - 1);
    const Board& b = *positions[n];
    auto cpu = processor_twin(*d.net);
    net_learn(*d.net, previous_plane(b), b.ply == 1);
    net_learn(*cpu, previous_plane(b), b.ply == 1);
    ASSERT_EQ(d.net->gpu_on, 1);
    const bool same_table_entries = largest_difference(d.net->act[4], cpu->act[4], kSlots) < kRounding;
    float scale = 1.0f;  // rounding is relative to the largest parameter
    for (const auto& block : cpu->weight)
      for (const auto& row : block)
        for (const float w : row) scale = std::max(scale, std::fabs(w));
    const float tolerance = same_table_entries ? kRounding * scale : kParamTolerance;
    EXPECT_LE(largest_param_difference(*d.net, *cpu), tolerance) << n;
  }
}

// The CSV line of a learning step on the device: the processor's line, except
// that a zero target prints "0" where the processor prints "-0".
TEST(GpuDiag, CsvLineWithPositiveZeros) {
  std::mt19937 rng(5);
  DeviceNet d(rng);
  ASSERT_TRUE(d.up());
  d.net->out_mode = 2;
  auto cpu = processor_twin(*d.net);
  auto b = random_game(rng, 16);
  CaptureStdout();
  net_learn(*d.net, previous_plane(*b), false);
  const std::string got = GetCapturedStdout();
  CaptureStdout();
  net_learn(*cpu, previous_plane(*b), false);
  const std::string want = GetCapturedStdout();
  const auto values = [](std::string line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string v; std::getline(in, v, ',');) out.push_back(v);
    return out;
  };
  ASSERT_EQ(got.back(), '\n');
  const std::vector<std::string> g = values(got.substr(0, got.size() - 1)),
                                 w = values(want.substr(0, want.size() - 1));
  ASSERT_EQ(g.size(), 1024u);
  int negative_zeros = 0;
  for (size_t i = 0; i < g.size(); ++i) {
    negative_zeros += w[i] == "-0";
    EXPECT_EQ(g[i], w[i] == "-0" ? "0" : w[i]) << i;
  }
  EXPECT_GT(negative_zeros, 0);
}

// -dump reports what the device holds, not the host's copies.
TEST(GpuDiag, DumpShowsTheDevicesState) {
  DeviceNet d;
  ASSERT_TRUE(d.up());
  std::vector<float> bias(kLayers * kSlots, 0.25f), act(kLayers * kSlots, 0.5f);
  d.net->gpu.api.cuMemcpyHtoD_v2(d.net->gpu.dev_bias, bias.data(), 4 * bias.size());
  d.net->gpu.api.cuMemcpyHtoD_v2(d.net->gpu.dev_act, act.data(), 4 * act.size());
  gpu_download(*d.net);
  CaptureStdout();
  net_dump_params(*d.net);
  net_dump_scratch(*d.net);
  const std::string out = GetCapturedStdout();
  EXPECT_NE(out.find("s0\t0.25\t0.00\t0.25\t0.25\n"), std::string::npos) << out;
  EXPECT_NE(out.find("s4\t0.25\t0.00\t0.25\t0.25\n"), std::string::npos) << out;
  EXPECT_NE(out.find("d2\t0.500\t0.000\t0.500\t0.500\n"), std::string::npos) << out;
  EXPECT_EQ(d.net->bias[3][7], 0.25f);
}

// Positions late in the game with small trees: the neural root picks the
// same move on both paths where its best move leads the next by more than
// the scores' tolerance can bridge (a line sums five plies of scores).
TEST(GpuRoot, SameMoveAsTheProcessor) {
  std::mt19937 rng(6);
  DeviceNet d(rng);
  ASSERT_TRUE(d.up());
  auto cpu = processor_twin(*d.net);
  const float margin = 2.0f * 6.0f * kScoreTolerance;
  for (int n = 0; n < (kSanitized ? 1 : 3); ++n) {
    auto b = late_board(kLatePositions[n]);
    const char* line = kLatePositions[n].stones;
    // The processor's score of every root move, to know the lead.
    SearchContext ctx = make_search_context(*b, *cpu);
    float out[64];
    net_evaluate(*cpu, previous_plane(*b), b->ply == 1, out);
    std::vector<float> scores;
    for (int s = 0; s < 64; ++s) {
      if (!(current_plane(*b)[cell_index(square_row(s), square_col(s))] & kLegalMark)) continue;
      scores.push_back(out[s] + square_bias[s] - neuro_search(ctx, *b, 0, square_row(s), square_col(s)));
    }
    std::sort(scores.rbegin(), scores.rend());
    ASSERT_TRUE(scores.size() == 1 || scores[0] - scores[1] > margin) << line;
    Board on_device = *b, on_processor = *b;
    SearchContext gpu_ctx = make_search_context(on_device, *d.net);
    SearchContext cpu_ctx = make_search_context(on_processor, *cpu);
    ASSERT_EQ(think_neuro(gpu_ctx), 1);
    ASSERT_EQ(think_neuro(cpu_ctx), 1);
    // The same move: the same squares and marks. (A new plane starts as a
    // copy of the plane below, whose move record holds the last move tried
    // from it: a search on the live board leaves its own there, one on copies
    // none.)
    for (int s = 0; s < 64; ++s) {
      const int c = cell_index(square_row(s), square_col(s));
      EXPECT_EQ(current_plane(on_device)[c], current_plane(on_processor)[c]) << line << " square " << s;
    }
    EXPECT_NEAR(gpu_ctx.value, cpu_ctx.value, 50.0f * margin) << line;
  }
  EXPECT_EQ(d.net->gpu_on, 1) << "a call from another thread fails";
}

// The interpreter runs the threads of a block in varying order between
// barriers: forward3 without its second barrier gives different layers in
// different orders, the module itself the same.
TEST(GpuInterpreter, AMissingBarrierShows) {
  std::string broken = gpu_module_text;
  const std::string barrier = "F3_WAIT2:\n\tbar.sync 0;\n";
  ASSERT_NE(broken.find(barrier), std::string::npos);
  broken.replace(broken.find(barrier), barrier.size(), "F3_WAIT2:\n");
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-3.0f, 3.0f);
  std::vector<float> param = {0.0f, 1.0f, 0.0f, 0.0f}, bias(kLayers * kSlots), act(kLayers * kSlots);
  for (float& v : bias) v = u(rng);
  for (float& v : act) v = u(rng);
  const auto layer = [&](const char* text, PtxOrder order) {
    std::string error;
    const PtxModulePtr m = ptx_load(text, error);
    EXPECT_TRUE(m) << error;
    std::vector<float> p = param, bi = bias, a = act;
    const std::vector<PtxRegion> memory = {
        {0x1000, 16, reinterpret_cast<unsigned char*>(p.data())},
        {0x100000, 4 * bi.size(), reinterpret_cast<unsigned char*>(bi.data())},
        {0x200000, 4 * a.size(), reinterpret_cast<unsigned char*>(a.data())}};
    const uint64_t params[] = {0x1000, 0x100000, 0x200000};
    PtxOptions options;
    options.order = order;
    EXPECT_EQ(ptx_launch(*m, ptx_kernel(*m, "forward3"), 1, 1, 512, params, memory, options), "");
    return a;
  };
  EXPECT_EQ(layer(gpu_module_text, PtxOrder::forward), layer(gpu_module_text, PtxOrder::reverse));
  EXPECT_NE(layer(broken.c_str(), PtxOrder::forward), layer(broken.c_str(), PtxOrder::reverse));
}

}  // namespace
