// Network benchmarks: evaluations and learning steps per second, the plain
// loops against the vectorised forms, on one thread and on all cores.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "game/board.h"
#include "nn/backprop.h"
#include "nn/passes.h"

namespace {

constexpr double kMacsPerPass = 984064.0;  // multiply-adds of the four weight layers

struct Setup {
  std::unique_ptr<NeuralNet> net = std::make_unique<NeuralNet>();
  std::unique_ptr<NeuralNet> saved = std::make_unique<NeuralNet>();
  std::vector<std::unique_ptr<Board>> boards;
  Setup() {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> grid(0, 1999);
    for (auto& layer : net->bias)
      for (float& v : layer) v = static_cast<float>(grid(rng)) * 0.0007f - 0.7f;
    for (auto& block : net->weight)
      for (auto& row : block)
        for (float& v : row) v = static_cast<float>(grid(rng)) * 0.0007f - 0.7f;
    net_params_changed(*net);
    std::memcpy(saved.get(), net.get(), sizeof(NeuralNet));
    // Positions of one random game, plies 1..40.
    auto b = std::make_unique<Board>();
    new_game(*b);
    while (b->ply < 40 && !check_end(*b)) {
      std::vector<int> legal;
      for (int s = 0; s < 64; ++s)
        if (b->planes[b->ply][cell_index(square_row(s), square_col(s))] & kLegalMark) legal.push_back(s);
      const int s = legal[rng() % legal.size()];
      play(*b, square_row(s), square_col(s));
      boards.push_back(std::make_unique<Board>(*b));
    }
  }
  const int32_t* plane(size_t i) const { return previous_plane(*boards[i % boards.size()]); }
  bool first(size_t i) const { return boards[i % boards.size()]->ply == 1; }
};

Setup& setup() {
  static Setup s;
  return s;
}

void count(benchmark::State& state, double macs_per_item, int64_t items_per_iteration = 1) {
  state.SetItemsProcessed(state.iterations() * items_per_iteration);
  state.counters["GMAC/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * items_per_iteration * macs_per_item * 1e-9,
                         benchmark::Counter::kIsRate);
}

// One evaluation after another, the five layers by forward(net, act).
template <typename Forward>
void evaluate_each(benchmark::State& state, const Forward& forward) {
  Setup& s = setup();
  NetScratch scratch{};
  float scores[64];
  size_t i = 0;
  for (auto _ : state) {
    encode_position(scratch_of(scratch), s.plane(i), s.first(i));
    forward(*s.net, scratch.act);
    fold_scores(scratch.act[4], scores);
    benchmark::DoNotOptimize(scores);
    ++i;
  }
  count(state, kMacsPerPass);
}

void BM_EvaluateReference(benchmark::State& state) { evaluate_each(state, forward_reference); }
BENCHMARK(BM_EvaluateReference);

void BM_EvaluateFast(benchmark::State& state) {
  const Simd simd = state.range(0) ? Simd::avx2 : Simd::baseline;
  if (!simd_supported(simd)) {
    state.SkipWithError("not supported here");
    return;
  }
  evaluate_each(state, [simd](const NeuralNet& net, float(*act)[kSlots]) { forward_fast(net, act, simd); });
}
BENCHMARK(BM_EvaluateFast)->ArgName("avx2")->Arg(0)->Arg(1);

// Evaluations side by side, one scratch per thread, the parameters shared,
// as the root search runs them.
void BM_EvaluateConcurrent(benchmark::State& state) {
  Setup& s = setup();
  auto scratch = std::make_unique<NetScratch>();
  float scores[64];
  size_t i = static_cast<size_t>(state.thread_index()) * 7;
  for (auto _ : state) {
    net_evaluate_concurrent(*s.net, *scratch, s.plane(i), s.first(i), scores);
    benchmark::DoNotOptimize(scores);
    ++i;
  }
  count(state, kMacsPerPass);
}
void one_and_all_cores(benchmark::internal::Benchmark* b) {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  b->Threads(1);
  if (cores > 1) b->Threads(cores);
}
BENCHMARK(BM_EvaluateConcurrent)->Apply(one_and_all_cores)->UseRealTime();

// The processor's multiply-add peak without fused multiply-add, measured: a
// product and a sum per lane, eight lanes (AVX2), twelve independent running
// sums so that nothing waits for a result, nothing loaded from memory. The
// network's rate divided by this one is its share of the peak, on the same
// cores at the same clock.
__attribute__((target("avx2"), noinline)) float multiply_add_run(long iterations, float x) {
  typedef float v8 __attribute__((vector_size(32)));
  v8 acc[12], w[12];
  for (int i = 0; i < 12; ++i) {
    acc[i] = v8{} + static_cast<float>(i);
    w[i] = v8{} + (1.0f + static_cast<float>(i) * 1e-7f);
  }
  v8 xv = v8{} + x;
  for (long n = 0; n < iterations; ++n) {
#pragma GCC unroll 12
    for (int i = 0; i < 12; ++i) acc[i] = acc[i] + w[i] * xv;
    asm volatile("" : "+x"(xv));
  }
  v8 sum = acc[0];
  for (int i = 1; i < 12; ++i) sum = sum + acc[i];
  return sum[0];
}

void BM_MultiplyAddPeak(benchmark::State& state) {
  if (!simd_supported(Simd::avx2)) {
    state.SkipWithError("not supported here");
    return;
  }
  constexpr long kIterations = 100000;
  for (auto _ : state) benchmark::DoNotOptimize(multiply_add_run(kIterations, 0.5f));
  state.counters["GMAC/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kIterations * 96 * 1e-9, benchmark::Counter::kIsRate);
}

// Batched evaluations of `positions` positions at a time (net_evaluate_batch,
// the form the neural search uses), one batch scratch per thread.
void BM_EvaluateBatch(benchmark::State& state) {
  Setup& s = setup();
  const int n = static_cast<int>(state.range(0));
  auto batch = make_net_batch();
  std::vector<NetPosition> positions;
  for (int i = 0; i < n; ++i) {
    const size_t k = static_cast<size_t>(state.thread_index()) * 7 + static_cast<size_t>(i);
    positions.push_back(net_position(s.plane(k), s.first(k)));
  }
  std::vector<float> scores(64 * static_cast<size_t>(n));
  for (auto _ : state) {
    net_evaluate_batch(*s.net, *batch, positions.data(), n, reinterpret_cast<float(*)[64]>(scores.data()));
    benchmark::DoNotOptimize(scores.data());
  }
  count(state, kMacsPerPass, n);
}
BENCHMARK(BM_MultiplyAddPeak)->Apply(one_and_all_cores)->UseRealTime();
void batch_sizes(benchmark::internal::Benchmark* b) {
  for (const int n : {1, 2, 4, 6, 12}) b->Arg(n);
  one_and_all_cores(b);
}
BENCHMARK(BM_EvaluateBatch)->ArgName("positions")->Apply(batch_sizes)->UseRealTime();

// The teaching run's passes over one minibatch of 256 positions: the
// forward pass and the gradient (three matrix products a weight layer, all
// cores through OpenBLAS).
void BM_BackpropBatch(benchmark::State& state) {
  Setup& s = setup();
  constexpr int kCount = 256;
  BackpropWork work = make_backprop_work(kCount);
  Gradient grad;
  std::vector<uint64_t> legal(kCount), taught(kCount);
  for (int i = 0; i < kCount; ++i) {
    const NetPosition p = net_position(s.plane(static_cast<size_t>(i)), s.first(static_cast<size_t>(i)));
    backprop_input(work, i, p);
    legal[i] = p.legal;
    taught[i] = p.legal & (0 - p.legal);
  }
  const std::vector<float> inputs = work.act[0];
  for (auto _ : state) {
    work.act[0] = inputs;
    backprop_forward(*s.net, work, kCount);
    benchmark::DoNotOptimize(backprop_gradient(*s.net, work, legal.data(), taught.data(), kCount, grad));
  }
  count(state, 3 * kMacsPerPass, kCount);
}
BENCHMARK(BM_BackpropBatch)->UseRealTime();

// One learning step (encode, forward, backward, update) on a restored copy
// of the parameters, so that every step starts from the same network.
void learn_step(benchmark::State& state, bool reference) {
  Setup& s = setup();
  size_t i = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(s.net->bias, s.saved->bias, kParamBytes);
    net_params_changed(*s.net);
    state.ResumeTiming();
    if (reference) {
      encode_position(scratch_of(*s.net), s.plane(i), s.first(i));
      forward_reference(*s.net, s.net->act);
      widen_target(s.net->delta[4]);
      backward_reference(*s.net);
      update_reference(*s.net);
    } else {
      net_learn(*s.net, s.plane(i), s.first(i));
    }
    ++i;
  }
  count(state, 3 * kMacsPerPass);
}

void BM_LearnReference(benchmark::State& state) { learn_step(state, true); }
BENCHMARK(BM_LearnReference)->UseRealTime();
void BM_LearnFast(benchmark::State& state) { learn_step(state, false); }
BENCHMARK(BM_LearnFast)->UseRealTime();

// The stages of a learning step on their own: 0 the forward pass, 1 the
// output error and backward pass, 2 the update (with the re-derived
// transposed weights).
void BM_LearnStage(benchmark::State& state) {
  Setup& s = setup();
  const Simd simd = simd_best();
  encode_position(scratch_of(*s.net), s.plane(5), s.first(5));
  NetScratch input{};
  std::memcpy(input.act[0], s.net->act[0], sizeof input.act[0]);
  forward_fast(*s.net, s.net->act, simd);
  widen_target(s.net->delta[4]);
  const auto target = std::make_unique<NetScratch>();
  std::memcpy(target->delta[4], s.net->delta[4], sizeof target->delta[4]);
  for (auto _ : state) {
    switch (state.range(0)) {
      case 0:
        std::memcpy(s.net->act[0], input.act[0], sizeof input.act[0]);
        forward_fast(*s.net, s.net->act, simd);
        break;
      case 1:
        std::memcpy(s.net->delta[4], target->delta[4], sizeof target->delta[4]);
        backward_fast(*s.net, simd);
        break;
      default:
        update_fast(*s.net, simd);
        break;
    }
    benchmark::ClobberMemory();
  }
  count(state, kMacsPerPass);
  std::memcpy(s.net->bias, s.saved->bias, kParamBytes);
  net_params_changed(*s.net);
}
BENCHMARK(BM_LearnStage)->ArgName("stage")->DenseRange(0, 2)->UseRealTime();

// Re-deriving the transposed weights after a load (net_params_changed).
void BM_ParamsChanged(benchmark::State& state) {
  Setup& s = setup();
  for (auto _ : state) net_params_changed(*s.net);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParamsChanged);

}  // namespace
