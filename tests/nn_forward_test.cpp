// The encoder, the forward pass on hand-made parameters and the evaluation
// entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "nn/passes.h"
#include "nn_util.h"

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();

// Expected input plane: +1 on the listed squares, `other` elsewhere.
std::vector<float> plane_with(std::initializer_list<int> squares, float on = 1.0f, float other = -1.0f) {
  std::vector<float> p(64, other);
  for (int s : squares) p[s] = on;
  return p;
}

void expect_input_plane(const float* act0, int p, const std::vector<float>& want) {
  for (int s = 0; s < 64; ++s) EXPECT_EQ(act0[64 * p + s], want[s]) << "plane " << p << " square " << s;
}

TEST(NnEncode, FirstPlaneOfAGame) {
  auto b = after_first_move();
  auto net = zero_net();
  // Squares: colour 1 on 28 and 35, colour 2 on 27 and 36; legal 19, 26, 37, 44.
  EXPECT_EQ(net_encode(*net, b->planes[0], true), 26);
  const float* in = net->act[0];
  expect_input_plane(in, 0, plane_with({}));
  expect_input_plane(in, 1, plane_with({}));
  expect_input_plane(in, 2, plane_with({28, 35}));
  expect_input_plane(in, 3, plane_with({27, 36}));
  expect_input_plane(in, 4, plane_with({27, 28, 35, 36}, -1.0f, 1.0f));
  expect_input_plane(in, 5, plane_with({}));
  expect_input_plane(in, 6, plane_with({19, 26, 37, 44}));
  std::vector<float> p7(64, 0.0f);
  p7[28] = p7[35] = 1.0f;
  p7[27] = p7[36] = -1.0f;
  expect_input_plane(in, 7, p7);
  for (int s = 0; s < 64; ++s) {
    const float want = s == 26 ? 1.0f : (s == 19 || s == 37 || s == 44) ? -1.0f : 0.0f;
    EXPECT_EQ(net->delta[4][s], want) << s;
    if (want == 0.0f) {
      EXPECT_FALSE(std::signbit(net->delta[4][s])) << s;
    }
  }
}

TEST(NnEncode, FirstPlaneNeverReadsBelowTheStack) {
  // The plane stack right after a plane full of marks: the first plane must
  // not see them.
  struct Guarded {
    int32_t below[kPlaneCells];
    Board board;
  };
  auto g = std::make_unique<Guarded>();
  for (int32_t& c : g->below) c = kLegalMark | kChangedMark;
  new_game(g->board);
  play(g->board, 4, 3);
  auto net = zero_net();
  net_encode(*net, g->board.planes[0], true);
  for (int j = 0; j < 128; ++j) EXPECT_EQ(net->act[0][j], -1.0f) << j;
}

TEST(NnEncode, PlaneBeforeFillsTheFirstTwoInputPlanes) {
  auto b = after_first_move();
  ASSERT_EQ(play(*b, 3, 3), 1);  // colour 2 takes (4, 4) back
  auto net = zero_net();
  // Plane 1: colour 2 moved; plane 0 before it had no changed marks and the
  // legal marks 19, 26, 37, 44.
  EXPECT_EQ(net_encode(*net, b->planes[1], false), square_of(3, 3));
  const float* in = net->act[0];
  expect_input_plane(in, 0, plane_with({}));
  expect_input_plane(in, 1, plane_with({19, 26, 37, 44}));
  expect_input_plane(in, 2, plane_with({36}));              // colour 2, the mover
  expect_input_plane(in, 3, plane_with({26, 27, 28, 35}));  // colour 1
  expect_input_plane(in, 5, plane_with({26, 27}));          // placed and flipped by the first move
  // Plane 2 sees plane 1's changed marks.
  net_encode(*net, b->planes[2], false);
  expect_input_plane(in, 0, plane_with({26, 27}));
}

TEST(NnEncode, PlaneWithoutARecordedMove) {
  auto b = after_first_move();
  auto net = zero_net();
  EXPECT_EQ(net_encode(*net, b->planes[1], false), -9);
  int minus = 0;
  for (int s = 0; s < 64; ++s) {
    const bool legal = b->planes[1][cell_index(square_row(s), square_col(s))] & kLegalMark;
    EXPECT_EQ(net->delta[4][s], legal ? -1.0f : 0.0f) << s;
    minus += legal;
  }
  EXPECT_EQ(minus, 3);
}

TEST(NnEncode, DamagedRecordDoesNotOverflow) {
  auto b = after_first_move();
  b->planes[0][kRecRow] = static_cast<int32_t>(0xfffffff0u);
  b->planes[0][kRecCol] = static_cast<int32_t>(0xfffffff0u);
  auto net = zero_net();
  EXPECT_EQ(net_encode(*net, b->planes[0], true), -9);
  for (int s = 0; s < 64; ++s) EXPECT_NE(net->delta[4][s], 1.0f);
}

// A chain of layers whose every value can be worked out by hand.
struct HandMade {
  std::unique_ptr<NeuralNet> net = zero_net();
  HandMade() {
    NeuralNet& n = *net;
    n.bias[0][0] = 5.0f;  // act0[0] = squash(5) = 1; the other inputs squash(0) = 0
    // Layer 1: every raw sum exactly 1, so the spread is 0 and the scale 512.
    for (int j = 0; j < 512; ++j) {
      n.weight[0][j][0] = 1.0f;
      n.bias[1][j] = -511.5f;
    }
    // Layer 2: all weights 0, so the sums are 0; the outputs are the biases.
    for (int j = 0; j < 480; ++j) n.bias[2][j] = 2.0f;
    // Layer 3: +1 on 64 neurons, -1 on 64, 0 on the rest: spread 128 / 512,
    // scale 1 (the divisor is 512 although the layer has 480 neurons).
    for (int j = 0; j < 128; ++j) n.weight[2][j][0] = j < 64 ? 0.5f : -0.5f;
    // Layer 4: +1 for the even output planes, -1 for the odd ones: spread 1,
    // scale 0.5.
    for (int j = 0; j < 512; ++j) n.weight[3][j][0] = (j / 64) % 2 == 0 ? 1.0f : -1.0f;
    // What the pass must never read: the slots past the counts.
    for (int j = 0; j < 512; ++j)
      for (int k = 480; k < 512; ++k) n.weight[2][j][k] = n.weight[3][j][k] = kNan;
    net_params_changed(n);
  }
  void clear_scratch() {
    for (auto& layer : net->act)
      for (float& v : layer) v = 0.0f;
    for (int k = 480; k < 512; ++k) net->act[2][k] = net->act[3][k] = kNan;
  }
  void check(const float (*act)[kSlots]) const {
    EXPECT_EQ(act[0][0], 1.0f);
    for (int j = 1; j < 512; ++j) EXPECT_EQ(act[0][j], 0.0f) << j;
    for (int j = 0; j < 512; ++j) EXPECT_EQ(act[1][j], 0.5f) << j;
    for (int j = 0; j < 480; ++j) EXPECT_EQ(act[2][j], 2.0f) << j;
    for (int j = 0; j < 480; ++j) EXPECT_EQ(act[3][j], j < 64 ? 1.0f : 0.0f) << j;
    for (int j = 480; j < 512; ++j) EXPECT_TRUE(std::isnan(act[2][j]) && std::isnan(act[3][j])) << j;
    for (int j = 0; j < 512; ++j) EXPECT_EQ(act[4][j], (j / 64) % 2 == 0 ? 0.809301f : -0.809301f) << j;
  }
};

TEST(NnForward, HandMadeLayers) {
  HandMade h;
  for (Simd simd : {Simd::baseline, Simd::avx2}) {
    if (!simd_supported(simd)) continue;
    h.clear_scratch();
    forward_fast(*h.net, h.net->act, simd);
    h.check(h.net->act);
  }
  h.clear_scratch();
  forward_reference(*h.net, h.net->act);
  h.check(h.net->act);
  h.clear_scratch();
  net_forward(*h.net);
  h.check(h.net->act);
  // Eight planes of +-0.809301 with the folding's signs: the mean, +0.809301.
  float scores[64];
  fold_scores(h.net->act[4], scores);
  for (float s : scores) EXPECT_FLOAT_EQ(s, 0.809301f);
}

TEST(NnForward, ZeroWeightsGiveTheBiasesAlone) {
  auto net = zero_net();
  for (int j = 0; j < 512; ++j) {
    net->bias[1][j] = j % 2 ? -1.0f : 7.0f;
    net->bias[4][j] = j < 64 ? 5.0f : (j < 128 ? -5.0f : 0.001f);
  }
  net_params_changed(*net);
  auto b = after_first_move();
  float scores[64];
  net_evaluate(*net, b->planes[0], true, scores);
  for (int j = 0; j < 512; ++j) EXPECT_EQ(net->act[1][j], j % 2 ? 0.0f : 7.0f);
  // Planes 0 and 1 at +1 and -1, the rest at asigmo[500] = 0.
  for (int j = 0; j < 512; ++j) EXPECT_EQ(net->act[4][j], j < 64 ? 1.0f : j < 128 ? -1.0f : 0.0f) << j;
  for (float s : scores) EXPECT_EQ(s, 0.25f);
}

TEST(NnForward, EqualOutputsScoreZero) {
  auto net = zero_net();
  for (float& v : net->bias[4]) v = 0.3f;
  net_params_changed(*net);
  auto b = after_first_move();
  float scores[64];
  net_evaluate(*net, b->planes[0], true, scores);
  for (float s : scores) {
    EXPECT_EQ(s, 0.0f);
    EXPECT_FALSE(std::signbit(s));
  }
}

TEST(NnForward, EvaluationIsEncodeForwardFold) {
  std::mt19937 rng(11);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  auto positions = random_positions(rng, 8);
  for (const auto& b : positions) {
    const int32_t* plane = previous_plane(*b);
    float scores[64], want[64];
    net_evaluate(*net, plane, b->ply == 1, scores);
    NetScratch s{};
    encode_position(scratch_of(s), plane, b->ply == 1);
    forward_reference(*net, s.act);
    fold_scores(s.act[4], want);
    EXPECT_TRUE(same_bits(scores, want, sizeof scores));
    EXPECT_TRUE(same_bits(net->act, s.act, sizeof s.act));
    EXPECT_TRUE(same_bits(net->delta[4], s.delta[4], 64 * sizeof(float)));
  }
}

TEST(NnConcurrent, ThreadsScoreAsOneThread) {
  std::mt19937 rng(5);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  auto positions = random_positions(rng, 12);
  const int n = static_cast<int>(positions.size());
  std::vector<float> alone(64 * n), together(64 * n);
  NetScratch one{};
  for (int i = 0; i < n; ++i)
    net_evaluate_concurrent(*net, one, previous_plane(*positions[i]), positions[i]->ply == 1, &alone[64 * i]);
  // Four threads, each with its own scratch, run through all positions at
  // once, each starting at a different one.
  constexpr int kThreads = 4;
  std::vector<std::vector<float>> results(kThreads, std::vector<float>(64 * n));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto scratch = std::make_unique<NetScratch>();
      for (int r = 0; r < n; ++r) {
        const int i = (r + 3 * t) % n;
        net_evaluate_concurrent(*net, *scratch, previous_plane(*positions[i]), positions[i]->ply == 1,
                                &results[t][64 * i]);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(same_bits(results[t].data(), alone.data(), 64 * n * 4)) << t;
}

}  // namespace
