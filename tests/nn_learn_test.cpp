// Learning on hand-made parameters: the widened target, the output error,
// the backward pass, the rates and which slots learn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "nn/backprop.h"
#include "nn/passes.h"
#include "nn_util.h"

namespace {

// The 64-square target of plane 0 after that move: +1 on the move played,
// -1 on the three other legal squares.
float first_target(int s) { return s == 26 ? 1.0f : (s == 19 || s == 37 || s == 44) ? -1.0f : 0.0f; }

std::unique_ptr<NeuralNet> copy_of(const NeuralNet& net) {
  auto c = zero_net();
  std::memcpy(c.get(), &net, sizeof net);
  return c;
}

bool same_params(const NeuralNet& a, const NeuralNet& b) {
  return same_bits(a.bias, b.bias, sizeof a.bias) && same_bits(a.weight, b.weight, sizeof a.weight);
}

TEST(NnLearn, WeightRatesAreOneUnitAboveTheirDecimals) {
  EXPECT_EQ(kWeightRateLow, 0.4 * 0.9);
  EXPECT_EQ(kWeightRateHigh, 0.4 * 0.9 * 0.3);
  EXPECT_EQ(kWeightRateLow, std::nextafter(0.36, 1.0));
  EXPECT_EQ(kWeightRateHigh, std::nextafter(0.108, 1.0));
  EXPECT_EQ(kBiasRateLow, 0.4);
  EXPECT_EQ(kBiasRateHigh, 0.12);
}

TEST(NnLearn, WidenedTargetAlternatesWithNegativeZeros) {
  auto b = after_first_move();
  auto net = zero_net();
  net_encode(*net, b->planes[0], true);
  widen_target(net->delta[4]);
  for (int c = 0; c < 8; ++c) {
    for (int s = 0; s < 64; ++s) {
      const float t = net->delta[4][64 * c + s];
      EXPECT_EQ(t, c % 2 ? -first_target(s) : first_target(s)) << c << ' ' << s;
      if (first_target(s) == 0.0f) {
        EXPECT_EQ(std::signbit(t), c % 2 == 1) << c << ' ' << s;
      }
    }
  }
}

TEST(NnLearn, OnlyMoveGivesASinglePlusOne) {
  // Colour 1 to move with one legal square: (1, 3), flanking (1, 2).
  auto b = std::make_unique<Board>();
  new_game(*b);
  int32_t* p = b->planes[0];
  for (int c = 0; c < kPlaneCells; ++c) p[c] = 0;
  p[cell_index(1, 1)] = 1;
  p[cell_index(1, 2)] = 2;
  ASSERT_EQ(mark_legal(*b), 1);
  ASSERT_EQ(play(*b, 1, 3), 1);
  auto net = zero_net();
  EXPECT_EQ(net_encode(*net, b->planes[0], true), 2);
  for (int s = 0; s < 64; ++s) EXPECT_EQ(net->delta[4][s], s == 2 ? 1.0f : 0.0f) << s;
}

TEST(NnLearn, ZeroNetworkMovesOnlyTheOutputBiases) {
  // With all parameters 0 every output is squash(0) = 0: the error is
  // sign(t) (t / 2)^2, and nothing reaches the hidden layers.
  auto b = after_first_move();
  auto net = zero_net();
  net_params_changed(*net);
  net_learn(*net, b->planes[0], true);
  for (int k = 0; k < 512; ++k) {
    const int c = k / 64, s = k % 64;
    const float t = c % 2 ? -first_target(s) : first_target(s);
    const float err = net->delta[4][k];
    const float bias = net->bias[4][k];
    if (t == 0.0f) {
      // Output equal to its target: error -0, bias unchanged (+0).
      EXPECT_EQ(err, 0.0f);
      EXPECT_TRUE(std::signbit(err)) << k;
      EXPECT_EQ(bias, 0.0f);
      EXPECT_FALSE(std::signbit(bias)) << k;
    } else {
      EXPECT_EQ(err, t > 0 ? 0.25f : -0.25f) << k;
      // 0.4 x 0.25 below slot 256, 0.12 x 0.25 from there.
      EXPECT_EQ(bias, k < 256 ? (t > 0 ? 0.1f : -0.1f) : (t > 0 ? 0.03f : -0.03f)) << k;
    }
  }
  auto zero = zero_net();
  std::memcpy(zero->bias[4], net->bias[4], sizeof zero->bias[4]);
  EXPECT_TRUE(same_params(*net, *zero));
  for (int L = 0; L < 4; ++L)
    for (int i = 0; i < 512; ++i) EXPECT_EQ(net->delta[L][i], 0.0f) << L << ' ' << i;
}

TEST(NnLearn, HandMadeBackwardPassAndUpdate) {
  auto b = after_first_move();
  auto net = zero_net();
  // Row 26 of weight[3] (the output neuron of the move played, plane 0)
  // carries +4 from neurons 0..63 of layer 3 and -4 from 64..127; those
  // neurons are 0 in the forward pass, so every output stays squash(0) = 0.
  for (int i = 0; i < 128; ++i) net->weight[3][26][i] = i < 64 ? 4.0f : -4.0f;
  net->bias[3][300] = 2.0f;  // act3[300] = 2: its column learns
  net_params_changed(*net);
  auto want = copy_of(*net);
  net_learn(*net, b->planes[0], true);

  for (int j = 0; j < 512; ++j) EXPECT_EQ(net->act[4][j], 0.0f);
  EXPECT_EQ(net->act[3][300], 2.0f);
  // Output error 0.25 on neuron 26; the backward sums of layer 3 are then
  // 4 x 0.25 = +1 on 0..63 and -1 on 64..127: spread 128/512, scale 1, and
  // the derivative at act3 = 0 is ashell1[500] = 1.
  for (int i = 0; i < 480; ++i) EXPECT_EQ(net->delta[3][i], i < 64 ? 1.0f : i < 128 ? -1.0f : 0.0f) << i;
  for (int L = 0; L < 3; ++L)
    for (int i = 0; i < 512; ++i) EXPECT_EQ(net->delta[L][i], 0.0f) << L << ' ' << i;

  // Slot 3 moves along delta[3] itself: its biases by 0.4 x delta[3][k], and
  // row k of weight[3] by act3[l] x 0.36 x delta[3][k], which only column 300
  // (act3 = 2) feels.
  for (int k = 0; k < 128; ++k) {
    want->bias[3][k] = k < 64 ? 0.4f : -0.4f;
    want->weight[3][k][300] = k < 64 ? 0.72f : -0.72f;
  }
  // Slot 4: the output biases along the output error.
  for (int k = 0; k < 512; ++k) {
    const int c = k / 64, s = k % 64;
    const float t = c % 2 ? -first_target(s) : first_target(s);
    if (t != 0.0f) want->bias[4][k] = (t > 0 ? 1.0f : -1.0f) * (k < 256 ? 0.1f : 0.03f);
  }
  EXPECT_TRUE(same_bits(net->bias, want->bias, sizeof net->bias));
  EXPECT_TRUE(same_bits(net->weight, want->weight, sizeof net->weight));
  for (int k = 0; k < 128; ++k) EXPECT_EQ(net->weight[3][k][300], want->weight[3][k][300]) << k;
}

// The update on its own: every act and delta slot 1 (also past the counts),
// all parameters 0. Each slot moves its own rows at the two rates, split at
// half the row count, and nothing else.
TEST(NnLearn, UpdateRowsRatesAndSlotsPastTheCounts) {
  for (int form = 0; form < 3; ++form) {
    if (form == 2 && !simd_supported(Simd::avx2)) continue;
    auto net = zero_net();
    for (int L = 0; L < kLayers; ++L)
      for (int i = 0; i < kSlots; ++i) net->act[L][i] = net->delta[L][i] = 1.0f;
    if (form == 0)
      update_reference(*net);
    else
      update_fast(*net, form == 1 ? Simd::baseline : Simd::avx2);
    const int rows[5] = {512, 480, 480, 512, 512};
    const int split[5] = {256, 240, 240, 256, 256};
    for (int a = 0; a < kLayers; ++a) {
      for (int k = 0; k < kSlots; ++k) {
        const float want = k >= rows[a] ? 0.0f : k < split[a] ? 0.4f : 0.12f;
        EXPECT_EQ(net->bias[a][k], want) << form << ' ' << a << ' ' << k;
        if (a == 4) continue;
        for (int l = 0; l < kSlots; ++l) {
          const float w = k >= rows[a] || l >= NAC[a] ? 0.0f : k < split[a] ? 0.36f : 0.108f;
          if (net->weight[a][k][l] != w) {
            ADD_FAILURE() << form << ' ' << a << ' ' << k << ' ' << l << ' ' << net->weight[a][k][l];
            break;
          }
        }
      }
    }
  }
}

TEST(NnLearn, SlotsPastTheCountsAreUntouched) {
  std::mt19937 rng(3);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  for (int k = 480; k < 512; ++k) {
    net->act[2][k] = net->act[3][k] = 3.5f;
    net->delta[2][k] = 0.25f;
  }
  auto before = copy_of(*net);
  auto positions = random_positions(rng, 3);
  for (const auto& b : positions) net_learn(*net, previous_plane(*b), b->ply == 1);
  EXPECT_FALSE(same_params(*net, *before));
  for (int k = 480; k < 512; ++k) {
    for (int L = 1; L <= 3; ++L) EXPECT_EQ(net->bias[L][k], before->bias[L][k]) << L << ' ' << k;
    EXPECT_EQ(net->act[2][k], 3.5f);
    EXPECT_EQ(net->act[3][k], 3.5f);
    EXPECT_EQ(net->delta[2][k], 0.25f);
    EXPECT_EQ(net->delta[3][k], 0.0f);
  }
  for (int L = 1; L <= 3; ++L) {
    for (int k = 0; k < 512; ++k) {
      for (int l = 0; l < 512; ++l) {
        const bool outside = k >= 480 || l >= NAC[L];
        if (outside && net->weight[L][k][l] != before->weight[L][k][l]) {
          ADD_FAILURE() << L << ' ' << k << ' ' << l;
          return;
        }
      }
    }
  }
}

// The backprop rule's gradient against central differences of its loss
// (with the smooth squash), for the bias and the weight of the largest
// gradient in every layer: the chain through the squashes, the ramps and
// each layer's scale, with the value term of the teaching run.
TEST(NnBackprop, GradientMatchesFiniteDifferences) {
  std::mt19937 rng(7);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  constexpr int kCount = 3;
  BackpropWork work = make_backprop_work(kCount);
  work.smooth = true;
  NetPosition positions[kCount];
  uint64_t legal[kCount], taught[kCount];
  const float value[kCount] = {0.75f, -0.5f, 0.0f};
  for (int i = 0; i < kCount; ++i) {
    const auto b = random_game(rng, 6 + 9 * i);
    positions[i] = net_position(current_plane(*b), b->ply == 0);
    legal[i] = positions[i].legal;
    taught[i] = legal[i] & (0 - legal[i]);  // the lowest legal square
  }
  const auto loss = [&] {
    for (int i = 0; i < kCount; ++i) backprop_input(work, i, positions[i]);
    backprop_forward(*net, work, kCount);
    double sum = 0.0;
    float scores[64];
    for (int i = 0; i < kCount; ++i) {
      backprop_scores(work, i, scores);
      sum += backprop_loss(scores, legal[i], taught[i], &value[i]);
    }
    return sum;
  };
  loss();
  Gradient grad;
  const double at = backprop_gradient(*net, work, legal, taught, kCount, grad, value);
  EXPECT_NEAR(at, loss(), 1e-9);
  const auto check = [&](float* param, const float* g, int n, const char* what, int layer) {
    const int i = static_cast<int>(
        std::max_element(g, g + n, [](float a, float b) { return std::fabs(a) < std::fabs(b); }) - g);
    ASSERT_GT(std::fabs(g[i]), 1e-4f) << what << " " << layer;
    const float keep = param[i], h = 0.002f / std::max(1.0f, std::fabs(g[i]));
    param[i] = keep + h;
    const double up = loss();
    param[i] = keep - h;
    const double down = loss();
    param[i] = keep;
    const double numeric = (up - down) / (2.0 * h);
    EXPECT_NEAR(numeric, g[i], 0.01 * std::fabs(g[i]) + 1e-5) << what << " " << layer << " slot " << i;
  };
  for (int L = 0; L < kLayers; ++L) {
    check(net->bias[L], grad.bias.data() + L * kSlots, NAC[L], "bias", L);
    if (L < kLayers - 1)
      check(&net->weight[L][0][0], grad.weight.data() + static_cast<size_t>(L) * kSlots * kSlots,
            kSlots * kSlots, "weight", L);
  }
}

// -learn off changes nothing; -learn backprop moves the parameters towards
// the move, keeps them finite and leaves the slots past the counts alone.
TEST(NnBackprop, RulesOffAndBackprop) {
  std::mt19937 rng(9);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  const auto b = after_first_move();
  net->learn_rule = LearnRule::off;
  const auto before = copy_of(*net);
  net_learn(*net, previous_plane(*b), true);
  EXPECT_TRUE(same_params(*net, *before));
  net->learn_rule = LearnRule::backprop;
  float scores[64], later[64];
  net_evaluate(*net, previous_plane(*b), true, scores);
  for (int step = 0; step < 5; ++step) net_learn(*net, previous_plane(*b), true);
  net_evaluate(*net, previous_plane(*b), true, later);
  EXPECT_GT(later[26] - std::max({later[19], later[37], later[44]}),
            scores[26] - std::max({scores[19], scores[37], scores[44]}));
  EXPECT_TRUE(same_bits(net->weight[2][480], before->weight[2][480], sizeof net->weight[2][480]));
  EXPECT_EQ(net->bias[3][500], before->bias[3][500]);
}

}  // namespace
