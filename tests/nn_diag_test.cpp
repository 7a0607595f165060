// The statistics, the -dump tables and the -nnc lines in the process, and the
// random initialisation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "nn/diag.h"
#include "nn/passes.h"
#include "nn_util.h"

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();

std::string capture(const std::function<void()>& body) {
  testing::internal::CaptureStdout();
  body();
  std::cout.flush();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t nl = text.find('\n', at);
    out.push_back(text.substr(at, nl - at));
    at = nl == std::string::npos ? text.size() : nl + 1;
  }
  return out;
}

TEST(NnStats, MeanSpreadAndRange) {
  const float v[] = {1.0f, 2.0f, 3.0f, 4.0f};
  const Stats s = net_stats(v, 4);
  EXPECT_EQ(s.ave, 2.5f);
  EXPECT_EQ(s.sd, std::sqrt(1.25f));
  EXPECT_EQ(s.min, 1.0f);
  EXPECT_EQ(s.max, 4.0f);
  const float neg[] = {-0.5f, -3.0f, -0.25f};
  EXPECT_EQ(net_stats(neg, 3).min, -3.0f);
  EXPECT_EQ(net_stats(neg, 3).max, -0.25f);
}

TEST(NnStats, NonNumbersTakeTheMaximumOnly) {
  const float tail[] = {1.0f, 2.0f, kNan};
  const Stats s = net_stats(tail, 3);
  EXPECT_TRUE(std::isnan(s.max));
  EXPECT_EQ(s.min, 1.0f);
  EXPECT_TRUE(std::isnan(s.ave));
  // A larger value after the non-number replaces it again.
  const float middle[] = {1.0f, kNan, 0.5f};
  EXPECT_EQ(net_stats(middle, 3).max, 0.5f);
  EXPECT_EQ(net_stats(middle, 3).min, 0.5f);
}

TEST(NnStats, EqualValuesHaveNoSpread) {
  // 512 x 0.3 in single precision: r x (sum of squares) comes out below
  // ave x ave, and the spread would be the root of a negative number.
  std::vector<float> v(512, 0.3f);
  const Stats s = net_stats(v.data(), 512);
  EXPECT_EQ(s.sd, 0.0f);
  EXPECT_EQ(s.min, 0.3f);
  EXPECT_EQ(s.max, 0.3f);
  EXPECT_NEAR(s.ave, 0.3f, 1e-5f);
}

TEST(NnDump, TablesOfAKnownNetwork) {
  auto net = zero_net();
  for (int j = 0; j < 512; ++j) {
    net->bias[0][j] = 0.25f;
    net->bias[2][j] = j % 2 ? 0.5f : -0.5f;
    net->act[4][j] = j < 256 ? 1.0f : 0.0f;
    net->delta[1][j] = -0.125f;
  }
  net->weight[1][7][9] = 262.144f;  // mean 0.001, the rest 0
  net->act[3][511] = kNan;          // the last value: nothing after it takes the maximum back
  const std::string out = capture([&] {
    net_dump_params(*net);
    net_dump_scratch(*net);
  });
  const std::string h = "\tave\tsd\tmin\tmax\n";
  const std::string zero2 = "\t0.00\t0.00\t0.00\t0.00\n", zero3 = "\t0.000\t0.000\t0.000\t0.000\n";
  const std::string want = h + "s0\t0.25\t0.00\t0.25\t0.25\n" + "s1" + zero2 +
                           "s2\t0.00\t0.50\t-0.50\t0.50\n" + "s3" + zero2 + "s4" + zero2 + h + "n0" + zero2 +
                           "n1\t0.00\t0.51\t0.00\t262.14\n" + "n2" + zero2 + "n3" + zero2 + h + "d0" + zero3 +
                           "d1" + zero3 + "d2" + zero3 + "d3\tnan\tnan\t0.000\tnan\n" +
                           "d4\t0.500\t0.500\t0.000\t1.000\n" + h + "b0" + zero3 +
                           "b1\t-0.125\t0.000\t-0.125\t-0.125\n" + "b2" + zero3 + "b3" + zero3 + "b4" + zero3;
  EXPECT_EQ(out, want);
}

std::string expected_sample_line() {
  // Inputs of plane 0 of that game (see the encoder's tests), then the
  // target of square 26 (+1) and 19, 37, 44 (-1) in eight alternating copies.
  std::string line;
  auto add = [&](const char* v) { line.append(v).append(","); };
  for (int p = 0; p < 8; ++p) {
    for (int s = 0; s < 64; ++s) {
      const bool mine = s == 28 || s == 35, theirs = s == 27 || s == 36,
                 legal = s == 19 || s == 26 || s == 37 || s == 44;
      const bool on[7] = {false, false, mine, theirs, !mine && !theirs, false, legal};
      add(p < 7 ? (on[p] ? "1" : "-1") : mine ? "1" : theirs ? "-1" : "0");
    }
  }
  for (int c = 0; c < 8; ++c) {
    for (int s = 0; s < 64; ++s) {
      const int t = s == 26 ? 1 : (s == 19 || s == 37 || s == 44) ? -1 : 0;
      const int v = c % 2 ? -t : t;
      add(v > 0 ? "1" : v < 0 ? "-1" : c % 2 ? "-0" : "0");
    }
  }
  line.back() = '\n';
  return line;
}

TEST(NnCsv, SampleLineOfALearningStep) {
  auto b = after_first_move();
  auto net = zero_net();
  std::mt19937 rng(4);
  random_params(*net, rng, 0.7f);
  net->out_mode = 2;
  const std::string out = capture([&] { net_learn(*net, b->planes[0], true); });
  EXPECT_EQ(out, expected_sample_line());
  // Without the mode, nothing is printed.
  net->out_mode = 0;
  EXPECT_EQ(capture([&] { net_learn(*net, b->planes[0], true); }), "");
}

TEST(NnCsv, SampleLineKeepsItsFormatAfterADump) {
  auto b = after_first_move();
  auto net = zero_net();
  net_params_changed(*net);
  net->out_mode = 2;
  const std::string out = capture([&] {
    net_dump_scratch(*net);
    net_learn(*net, b->planes[0], true);
  });
  const auto lines = lines_of(out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back() + "\n", expected_sample_line());
}

TEST(NnInit, RandomParametersOnTheGrid) {
  auto net = zero_net();
  net->out_mode = 2;
  const std::string out = capture([&] { net_init_random(*net); });
  EXPECT_EQ(out, csv_header());

  // Every slot, the ones past the neuron counts included, holds one of the
  // 2,000 values i x 0.0007 - 0.7, each about equally often.
  std::vector<int> count(2000, 0);
  auto tally = [&](const float* v, int n) {
    for (int i = 0; i < n; ++i) {
      const int g = static_cast<int>(std::lround((v[i] + 0.7) / 0.0007));
      ASSERT_TRUE(g >= 0 && g < 2000) << v[i];
      ASSERT_EQ(v[i], static_cast<float>(g) * 0.0007f - 0.7f) << v[i];
      ++count[g];
    }
  };
  tally(&net->bias[0][0], 5 * 512);
  tally(&net->weight[0][0][0], 4 * 512 * 512);
  int zeros = 0;
  for (int k = 480; k < 512; ++k) zeros += net->weight[3][k][k] == 0.0f;
  EXPECT_LT(zeros, 3);
  // The 15-bit draws taken mod 2,000 would favour the first 768 values by
  // 17 to 16 (6%); the two groups' mean counts agree to well under 1%.
  double low = 0, high = 0;
  for (int g = 0; g < 2000; ++g) (g < 768 ? low : high) += count[g];
  low /= 768;
  high /= 1232;
  EXPECT_NEAR(low / high, 1.0, 0.01);
  for (int g = 0; g < 2000; ++g) EXPECT_GT(count[g], 350) << g;  // about 525 each

  // The fast evaluation sees the new parameters.
  auto b = after_first_move();
  NetScratch ref{}, fast{};
  encode_position(scratch_of(ref), b->planes[0], true);
  fast = ref;
  forward_reference(*net, ref.act);
  forward_fast(*net, fast.act, simd_best());
  EXPECT_TRUE(same_bits(ref.act, fast.act, sizeof ref.act));
}

}  // namespace
