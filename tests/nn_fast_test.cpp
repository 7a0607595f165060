// The vectorised passes against the plain loops, bit for bit, on many
// positions and parameter sets.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "app/datafile.h"
#include "exe_runner.h"
#include "nn/passes.h"
#include "nn_util.h"

namespace {

std::vector<Simd> simd_forms() {
  std::vector<Simd> forms{Simd::baseline};
  if (simd_supported(Simd::avx2)) forms.push_back(Simd::avx2);
  return forms;
}

// Parameter sets that reach the limits of the scale and the activations:
// the usual spread, a narrow one, wide ones (hidden layers at 1000, huge
// sums) and one sprinkled with infinities and non-numbers.
void parameter_set(NeuralNet& net, std::mt19937& rng, int kind) {
  const float spreads[] = {0.7f, 0.01f, 5.0f, 300.0f, 0.7f};
  random_params(net, rng, spreads[kind]);
  if (kind == 4) {
    const float specials[] = {std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              0.0f,
                              -0.0f,
                              1e-42f};
    float* w = &net.weight[0][0][0];
    std::uniform_int_distribution<int> where(0, (kLayers - 1) * kSlots * kSlots - 1);
    for (int n = 0; n < 40; ++n) w[where(rng)] = specials[n % 6];
    net_params_changed(net);
  }
}

TEST(NnFast, RowSumsMatchThePlainLoopForAnyWidth) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(-2.0f, 2.0f);
  std::vector<float> m(64 * kSlots), x(64);
  for (float& v : m) v = u(rng);
  for (float& v : x) v = u(rng);
  for (int n : {1, 3, 4, 7, 8, 31, 33, 63, 64, 65, 100, 480, 512}) {
    for (int rows : {0, 1, 5, 64}) {
      std::vector<float> want(n);
      for (int i = 0; i < n; ++i) {
        float acc = 0.0f;
        for (int r = 0; r < rows; ++r) acc = acc + m[r * kSlots + i] * x[r];
        want[i] = acc;
      }
      for (Simd simd : simd_forms()) {
        std::vector<float> got(n, 99.0f);
        row_sums(m.data(), x.data(), rows, got.data(), n, simd);
        EXPECT_TRUE(same_bits(got.data(), want.data(), 4 * n)) << n << ' ' << rows;
      }
    }
  }
}

// Any number of positions (one and two alone, groups of three to six, uneven
// groups) and any width (whole blocks of sums, and what is left over).
TEST(NnFast, PanelSumsMatchThePlainLoop) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-2.0f, 2.0f);
  std::vector<float> t(kSlots * kSlots);
  std::vector<std::vector<float>> x(13, std::vector<float>(64));
  for (float& v : t) v = u(rng);
  for (auto& row : x)
    for (float& v : row) v = u(rng);
  for (int count : {1, 2, 3, 5, 6, 7, 11, 13}) {
    for (int n : {1, 9, 31, 40, 72, 480}) {
      const int rows = 1 + n % 64;
      for (Simd simd : simd_forms()) {
        std::vector<std::vector<float>> got(count, std::vector<float>(n, 99.0f));
        const float* in[13];
        float* out[13];
        for (int p = 0; p < count; ++p) {
          in[p] = x[p].data();
          out[p] = got[p].data();
        }
        panel_sums(t.data(), in, rows, out, n, count, simd);
        for (int p = 0; p < count; ++p) {
          for (int j = 0; j < n; ++j) {
            float want = 0.0f;
            for (int k = 0; k < rows; ++k) want = want + t[panel_index(k, j)] * x[p][k];
            ASSERT_TRUE(same_bits(&got[p][j], &want, 4)) << count << ' ' << n << ' ' << p << ' ' << j;
          }
        }
      }
    }
  }
}

TEST(NnFast, UpdateRowMatchesThePlainLoopForAnyWidth) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int n : {1, 2, 3, 5, 8, 13, 480, 512}) {
    std::vector<double> ar(n);
    std::vector<float> w(n);
    for (auto& v : ar) v = u(rng);
    for (auto& v : w) v = static_cast<float>(u(rng));
    const double d = u(rng) * 1e-3;
    std::vector<float> want = w;
    for (int l = 0; l < n; ++l) want[l] = static_cast<float>(ar[l] * d + static_cast<double>(want[l]));
    for (Simd simd : simd_forms()) {
      std::vector<float> got = w;
      update_row(got.data(), ar.data(), d, n, simd);
      EXPECT_TRUE(same_bits(got.data(), want.data(), 4 * n)) << n;
    }
  }
}

TEST(NnFast, TransposedBlocks) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  auto w = std::make_unique<float[][kSlots]>(kSlots);
  std::vector<float> t(kSlots * kSlots);
  for (int j = 0; j < kSlots; ++j)
    for (int k = 0; k < kSlots; ++k) w[j][k] = u(rng);
  for (Simd simd : simd_forms()) {
    std::fill(t.begin(), t.end(), 0.0f);
    transpose_weights(w.get(), t.data(), simd);
    int wrong = 0;
    for (int j = 0; j < kSlots; ++j)
      for (int k = 0; k < kSlots; ++k) wrong += t[panel_index(k, j)] != w[j][k];
    EXPECT_EQ(wrong, 0) << static_cast<int>(simd);
  }
}

TEST(NnFast, ForwardMatchesTheReference) {
  std::mt19937 rng(7);
  auto net = zero_net();
  int compared = 0;
  for (int kind = 0; kind < 5; ++kind) {
    parameter_set(*net, rng, kind);
    auto positions = random_positions(rng, 12);
    for (const auto& b : positions) {
      NetScratch ref{};
      encode_position(scratch_of(ref), previous_plane(*b), b->ply == 1);
      NetScratch input = ref;
      forward_reference(*net, ref.act);
      float want[64];
      fold_scores(ref.act[4], want);
      for (Simd simd : simd_forms()) {
        NetScratch fast = input;
        forward_fast(*net, fast.act, simd);
        ASSERT_TRUE(same_floats(fast.act, ref.act)) << kind << ' ' << static_cast<int>(simd);
        ++compared;
      }
      float scores[64];
      NetScratch own{};
      net_evaluate_concurrent(*net, own, previous_plane(*b), b->ply == 1, scores);
      EXPECT_TRUE(same_floats(scores, want)) << kind;
    }
  }
  EXPECT_GE(compared, 60);
}

// Positions in square sets encode as their planes do, and batches of any
// size evaluate them as the plain loops evaluate the planes.
TEST(NnFast, BatchedEvaluationMatchesTheReference) {
  std::mt19937 rng(17);
  auto net = zero_net();
  const auto batch = make_net_batch();
  int compared = 0;
  for (int kind = 0; kind < 5; ++kind) {
    parameter_set(*net, rng, kind);
    for (int count : {1, 4, 13}) {
      auto boards = random_positions(rng, count);
      std::vector<NetPosition> positions;
      std::vector<std::array<float, 64>> want(count);
      for (int p = 0; p < count; ++p) {
        const Board& b = *boards[p];
        NetScratch ref{};
        encode_position(scratch_of(ref), previous_plane(b), b.ply == 1);
        positions.push_back(net_position(previous_plane(b), b.ply == 1));
        float in[kSlots];
        encode_net_position(positions.back(), in);
        ASSERT_TRUE(same_bits(in, ref.act[0], sizeof in)) << "ply " << b.ply;
        forward_reference(*net, ref.act);
        fold_scores(ref.act[4], want[p].data());
      }
      std::vector<std::array<float, 64>> got(count);
      net_evaluate_batch(*net, *batch, positions.data(), count, reinterpret_cast<float(*)[64]>(got.data()));
      for (int p = 0; p < count; ++p) {
        EXPECT_TRUE(same_floats(got[p].data(), want[p].data(), 64)) << kind << ' ' << count << ' ' << p;
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 90);
}

// Each network evaluates with the transposed weights derived from its own
// parameters: one that never derived them (zero-filled) falls back to the
// plain pass, also when it is built where another network with a derived
// copy lived before, and a copied network carries its derived copy along.
TEST(NnFast, EveryNetworkEvaluatesWithItsOwnWeights) {
  std::mt19937 rng(8);
  auto b = random_game(rng, 20);
  const auto check = [&b](const NeuralNet& net, const char* what) {
    NetScratch ref{}, got{};
    encode_position(scratch_of(ref), previous_plane(*b), false);
    forward_reference(net, ref.act);
    float want[64], scores[64];
    fold_scores(ref.act[4], want);
    net_evaluate_concurrent(net, got, previous_plane(*b), false, scores);
    EXPECT_TRUE(same_floats(scores, want)) << what;
  };
  auto storage = std::make_unique<NeuralNet>();
  NeuralNet* old_net = new (storage.get()) NeuralNet{};
  random_params(*old_net, rng, 0.7f);
  check(*old_net, "old network");
  old_net->~NeuralNet();
  const NeuralNet* fresh = new (storage.get()) NeuralNet{};  // same address, zero parameters
  check(*fresh, "new network at the old one's address");
  auto a = zero_net(), copy = zero_net();
  random_params(*a, rng, 0.7f);
  *copy = *a;
  random_params(*a, rng, 0.7f);
  check(*copy, "copy");
  check(*a, "original, changed after the copy");
}

TEST(NnFast, LoadedParametersReachTheFastPath) {
  std::mt19937 rng(12);
  auto saved = zero_net(), net = zero_net();
  random_params(*saved, rng, 0.7f);
  random_params(*net, rng, 0.7f);  // the derived copy is net's, of other parameters
  auto b = random_game(rng, 30);
  b->computer_colour = 2;
  b->engine = 1;
  const auto dir = make_temp_dir("nnload");
  const std::string path = (dir / "tavimor.dat").string();
  ASSERT_TRUE(save_data_to(path.c_str(), *b, *saved));
  ASSERT_TRUE(load_data_from(path.c_str(), *b, *net));
  std::filesystem::remove_all(dir);
  NetScratch ref{}, got{};
  encode_position(scratch_of(ref), previous_plane(*b), b->ply == 1);
  forward_reference(*saved, ref.act);
  float scores[64], want[64];
  fold_scores(ref.act[4], want);
  net_evaluate_concurrent(*net, got, previous_plane(*b), b->ply == 1, scores);
  EXPECT_TRUE(same_floats(scores, want));
}

// A sequence of learning steps: the plain stages on one copy, net_learn (or
// the fast stages) on another; after each step every array agrees, and the
// fast evaluation sees the learned parameters.
void learning_sequence(int kind, Simd simd, bool public_entry) {
  std::mt19937 rng(100 + kind);
  auto fast = zero_net();
  parameter_set(*fast, rng, kind);
  auto ref = zero_net();
  std::memcpy(ref.get(), fast.get(), sizeof(NeuralNet));
  auto positions = random_positions(rng, 3);
  for (const auto& b : positions) {
    const int32_t* plane = previous_plane(*b);
    const bool first = b->ply == 1;
    encode_position(scratch_of(*ref), plane, first);
    forward_reference(*ref, ref->act);
    widen_target(ref->delta[4]);
    backward_reference(*ref);
    update_reference(*ref);
    if (public_entry) {
      net_learn(*fast, plane, first);
    } else {
      encode_position(scratch_of(*fast), plane, first);
      forward_fast(*fast, fast->act, simd);
      widen_target(fast->delta[4]);
      backward_fast(*fast, simd);
      update_fast(*fast, simd);
    }
    ASSERT_TRUE(same_floats(fast->delta, ref->delta)) << kind;
    ASSERT_TRUE(same_floats(fast->act, ref->act)) << kind;
    ASSERT_TRUE(same_floats(fast->bias, ref->bias)) << kind;
    ASSERT_TRUE(same_floats(fast->weight, ref->weight)) << kind;
  }
  NetScratch want{}, got{};
  encode_position(scratch_of(want), previous_plane(*positions[0]), positions[0]->ply == 1);
  forward_reference(*ref, want.act);
  float scores[64], want_scores[64];
  fold_scores(want.act[4], want_scores);
  net_evaluate_concurrent(*fast, got, previous_plane(*positions[0]), positions[0]->ply == 1, scores);
  EXPECT_TRUE(same_floats(scores, want_scores)) << kind;
}

TEST(NnFast, LearningMatchesTheReference) {
  for (int kind = 0; kind < 5; ++kind) learning_sequence(kind, simd_best(), true);
  for (Simd simd : simd_forms()) learning_sequence(0, simd, false);
}

TEST(NnFast, LearningDoesNotDependOnTheThreadCount) {
  std::mt19937 rng(9);
  auto a = zero_net();
  random_params(*a, rng, 0.7f);
  auto b = zero_net();
  std::memcpy(b.get(), a.get(), sizeof(NeuralNet));
  auto positions = random_positions(rng, 2);
  const int threads = omp_get_max_threads();
  for (const auto& p : positions) {
    omp_set_num_threads(1);
    net_learn(*a, previous_plane(*p), p->ply == 1);
    omp_set_num_threads(5);
    net_learn(*b, previous_plane(*p), p->ply == 1);
  }
  omp_set_num_threads(threads);
  EXPECT_TRUE(same_bits(a->bias, b->bias, sizeof a->bias));
  EXPECT_TRUE(same_bits(a->weight, b->weight, sizeof a->weight));
  EXPECT_TRUE(same_bits(a->delta, b->delta, sizeof a->delta));
}

}  // namespace
