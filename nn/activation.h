// The scalar rules every pass of the network shares: the two activation
// functions, the derivatives learning applies, and the layer scale.
#pragma once

#include <cmath>

#include "nn/tables.h"

inline constexpr float kBsdDefault = 0.01953125f;  // 5/256: a layer whose squares sum to 0
inline constexpr float kBsdMax = 512.0f;
inline constexpr float kBsdMin = 0.000003814697265625f;  // 2^-18
inline constexpr float kInv512 = 0.001953125f;           // 1/512, also for the 480-neuron layers
inline constexpr float kInv512Squared = 0.000003814697265625f;
inline constexpr float kRampMax = 1000.0f;

// The table index of x: 500 x (x + 1) in single precision, before truncation.
inline float table_position(float x) { return static_cast<float>(AMAX / 2) * (x + 1.0f); }

// asigmo at trunc(500 (x + 1)); -1 below the table (and for a non-number),
// +1 above it.
inline float squash(float x) {
  const float p = table_position(x);
  if (p >= static_cast<float>(AMAX)) return 1.0f;
  if (!(p > -1.0f)) return -1.0f;  // truncates below 0; also a non-number
  return asigmo[static_cast<int>(p)];
}

// x clamped to [0, 1000]; a non-number gives 0.
inline float ramp(float x) {
  if (x > 0.0f) return x < kRampMax ? x : kRampMax;
  return 0.0f;
}

// Derivative learning applies to an activation of layers 0, 1 and 2.
inline float ramp_slope(float x) { return x > 0.0f && x < kRampMax ? 1.0f : 0.0f; }

// Derivative learning applies to an activation of layer 3: the shell table at
// the clamped index, ashell1 for x >= 0 and ashell0 below.
inline float shell(float x) {
  const float p = table_position(x);
  int h = 0;
  if (p >= static_cast<float>(AMAX))
    h = AMAX - 1;
  else if (p > -1.0f)
    h = static_cast<int>(p);  // a non-number stays at 0
  return x >= 0.0f ? ashell1[h] : ashell0[h];
}

// ave2 / 512 - (ave / 512)^2, formed as the network always forms it.
inline float layer_spread(float ave, float ave2) { return ave2 * kInv512 - (ave * ave) * kInv512Squared; }

// Scale of a layer's raw sums in the forward pass: 0.5 / sqrt(spread) limited
// to [2^-18, 512]; a spread of 0 or below (or a non-number) gives 512.
inline float forward_bsd(float ave, float ave2) {
  if (ave2 == 0.0f || std::isnan(ave2)) return kBsdDefault;
  float bsd = 0.5f / std::sqrt(layer_spread(ave, ave2));
  if (!(bsd <= kBsdMax)) bsd = kBsdMax;
  if (bsd < kBsdMin) bsd = kBsdMin;
  return bsd;
}

// Scale of a layer's back-propagated sums: as forward_bsd, except that a
// non-number (a negative spread) gives 2^-18 instead of 512.
inline float backward_bsd(float ave, float ave2) {
  if (ave2 == 0.0f || std::isnan(ave2)) return kBsdDefault;
  const float c = 0.5f / std::sqrt(layer_spread(ave, ave2));
  if (c > kBsdMax) return kBsdMax;
  if (!(c >= kBsdMin)) return kBsdMin;
  return c;
}
