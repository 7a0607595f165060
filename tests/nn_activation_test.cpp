// The activation tables and the scalar rules of the network: squash, ramp,
// the derivatives and the layer scale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "nn/activation.h"

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

TEST(NnTables, ListedSamples) {
  EXPECT_EQ(AMAX, 1000);
  const struct {
    const float* table;
    int i;
    float value;
  } samples[] = {
      {asigmo, 0, -0.978026f},   {asigmo, 250, -0.809301f},  {asigmo, 499, -0.00449997f},
      {asigmo, 500, 0.0f},       {asigmo, 501, 0.00449991f}, {asigmo, 750, 0.809301f},
      {asigmo, 999, 0.97783f},   {ashell0, 0, 0.0689655f},   {ashell0, 250, 0.228571f},
      {ashell0, 500, 1.0f},      {ashell0, 750, 0.478091f},  {ashell0, 999, 0.263103f},
      {ashell1, 0, 0.262613f},   {ashell1, 250, 0.478091f},  {ashell1, 500, 1.0f},
      {ashell1, 750, 0.228571f}, {ashell1, 999, 0.0692231f},
  };
  for (const auto& s : samples) EXPECT_EQ(s.table[s.i], s.value) << s.i;
  EXPECT_FALSE(std::signbit(asigmo[500]));
}

TEST(NnTables, ShellTablesMirrorEachOther) {
  for (int i = 1; i < AMAX; ++i) EXPECT_EQ(ashell1[i], ashell0[AMAX - i]) << i;
}

TEST(NnTables, SixDigitRoundingOfTheFormulas) {
  for (int i = 0; i < AMAX; ++i) {
    const double q = i / 500.0 - 1.0;
    const double inverse = 1.0 / (1.0 + 13.5 * q * q);
    const double inverse_root = 1.0 / std::sqrt(1.0 + 13.5 * q * q);
    const double formulas[3] = {std::tanh(2.25 * q), i <= 500 ? inverse : inverse_root,
                                i < 500 ? inverse_root : inverse};
    const float* tables[3] = {asigmo, ashell0, ashell1};
    for (int t = 0; t < 3; ++t) {
      const float v = tables[t][i];
      EXPECT_LT(std::fabs(v - formulas[t]), 1e-6) << t << ' ' << i;
      // Each entry is the single-precision number nearest to a decimal of at
      // most six significant digits.
      char text[32];
      std::snprintf(text, sizeof text, "%.6g", static_cast<double>(v));
      EXPECT_EQ(std::strtof(text, nullptr), v) << t << ' ' << i << ' ' << text;
    }
  }
}

TEST(NnActivation, SquashEdges) {
  EXPECT_EQ(squash(1.0f), 1.0f);
  EXPECT_EQ(squash(0.9985f), asigmo[999]);
  EXPECT_EQ(squash(0.9985f), 0.97783f);
  EXPECT_EQ(squash(-1.0f), asigmo[0]);
  EXPECT_EQ(squash(-1.0019f), asigmo[0]);  // truncation toward zero keeps index 0
  EXPECT_EQ(squash(-1.0021f), -1.0f);
  EXPECT_EQ(squash(-5.0f), -1.0f);
  EXPECT_EQ(squash(0.0f), 0.0f);
  EXPECT_EQ(squash(kNan), -1.0f);
  EXPECT_EQ(squash(kInf), 1.0f);
  EXPECT_EQ(squash(-kInf), -1.0f);
  EXPECT_EQ(squash(1e30f), 1.0f);
  EXPECT_EQ(squash(-1e30f), -1.0f);
  // The middle of each sample's interval maps to that sample.
  for (int i = 0; i < AMAX; ++i) EXPECT_EQ(squash((i + 0.5f) / 500.0f - 1.0f), asigmo[i]) << i;
}

TEST(NnActivation, RampEdges) {
  EXPECT_EQ(ramp(1000.0f), 1000.0f);
  EXPECT_EQ(ramp(1e9f), 1000.0f);
  EXPECT_EQ(ramp(kInf), 1000.0f);
  EXPECT_EQ(ramp(999.9f), 999.9f);
  EXPECT_EQ(ramp(1e-30f), 1e-30f);
  EXPECT_EQ(ramp(-3.0f), 0.0f);
  EXPECT_EQ(ramp(0.0f), 0.0f);
  EXPECT_FALSE(std::signbit(ramp(-0.0f)));
  EXPECT_FALSE(std::signbit(ramp(-3.0f)));
  EXPECT_EQ(ramp(kNan), 0.0f);
  EXPECT_EQ(ramp(-kInf), 0.0f);
}

TEST(NnActivation, LearningDerivatives) {
  EXPECT_EQ(ramp_slope(0.5f), 1.0f);
  EXPECT_EQ(ramp_slope(999.9f), 1.0f);
  EXPECT_EQ(ramp_slope(0.0f), 0.0f);
  EXPECT_EQ(ramp_slope(1000.0f), 0.0f);
  EXPECT_EQ(ramp_slope(-0.5f), 0.0f);
  EXPECT_EQ(ramp_slope(kNan), 0.0f);

  EXPECT_EQ(shell(0.0f), 1.0f);  // ashell1[500]
  EXPECT_EQ(shell(5.0f), 0.0692231f);
  EXPECT_EQ(shell(1000.0f), ashell1[999]);
  EXPECT_EQ(shell(0.998f), ashell1[999]);
  EXPECT_EQ(shell(0.5f), ashell1[750]);
  EXPECT_EQ(shell(-0.5f), ashell0[250]);
  EXPECT_EQ(shell(-5.0f), ashell0[0]);
  EXPECT_EQ(shell(-1.0019f), ashell0[0]);
  // Learning reads only the 1 / (1 + 13.5 q^2) halves.
  for (int i = 0; i < AMAX; ++i) {
    const float x = (i + 0.5f) / 500.0f - 1.0f;
    const double q = i / 500.0 - 1.0;
    EXPECT_NEAR(shell(x), 1.0 / (1.0 + 13.5 * q * q), 1e-6) << i;
  }
}

TEST(NnActivation, LayerScale) {
  // Sums of squares 0 or not a number: the default scale.
  EXPECT_EQ(forward_bsd(0.0f, 0.0f), 0.01953125f);
  EXPECT_EQ(backward_bsd(0.0f, 0.0f), 0.01953125f);
  EXPECT_EQ(forward_bsd(3.0f, kNan), 0.01953125f);
  EXPECT_EQ(backward_bsd(3.0f, kNan), 0.01953125f);
  // 128 values of +1 and -1 among 512: spread 0.25, scale 1 (divisor 512).
  EXPECT_EQ(forward_bsd(0.0f, 128.0f), 1.0f);
  EXPECT_EQ(backward_bsd(0.0f, 128.0f), 1.0f);
  // 512 values of exactly 1: spread 0, scale 512.
  EXPECT_EQ(layer_spread(512.0f, 512.0f), 0.0f);
  EXPECT_EQ(forward_bsd(512.0f, 512.0f), 512.0f);
  EXPECT_EQ(backward_bsd(512.0f, 512.0f), 512.0f);
  // A negative spread: 512 forward, 2^-18 backward.
  EXPECT_LT(layer_spread(512.0f, 256.0f), 0.0f);
  EXPECT_EQ(forward_bsd(512.0f, 256.0f), 512.0f);
  EXPECT_EQ(backward_bsd(512.0f, 256.0f), 0.000003814697265625f);
  // A tiny positive spread is limited to 512, a huge one to 2^-18.
  EXPECT_EQ(forward_bsd(0.0f, 512e-8f), 512.0f);
  EXPECT_EQ(backward_bsd(0.0f, 512e-8f), 512.0f);
  EXPECT_EQ(forward_bsd(0.0f, 1e30f), 0.000003814697265625f);
  EXPECT_EQ(backward_bsd(0.0f, 1e30f), 0.000003814697265625f);
  EXPECT_EQ(forward_bsd(0.0f, kInf), 0.000003814697265625f);
  EXPECT_EQ(backward_bsd(0.0f, kInf), 0.000003814697265625f);
  // Both infinite: the spread is not a number.
  EXPECT_EQ(forward_bsd(kInf, kInf), 512.0f);
  EXPECT_EQ(backward_bsd(kInf, kInf), 0.000003814697265625f);
  // In range: 0.5 / sqrt(ave2 / 512 - (ave / 512)^2) in single precision.
  const float ave = 37.5f, ave2 = 900.25f;
  const float v = ave2 * 0.001953125f - (ave * ave) * 0.000003814697265625f;
  EXPECT_EQ(forward_bsd(ave, ave2), 0.5f / std::sqrt(v));
  EXPECT_EQ(backward_bsd(ave, ave2), 0.5f / std::sqrt(v));
}

}  // namespace
