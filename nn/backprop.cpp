// The backprop rule: the batched forward pass, the gradient of the
// cross-entropy through it, and the step.
#include "nn/backprop.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "nn/activation.h"
#include "nn/passes.h"

#if defined(TAVIMOR_HAVE_CBLAS)
#include <cblas.h>
#endif

namespace {

constexpr float kSquashSlope = 2.25f;  // the table is tanh(2.25 x)

// C (m x n) = op(A) op(B) + beta C, row-major, op(X) = X^T when t; the plain
// loops where the build has no CBLAS.
void gemm(bool ta, bool tb, int m, int n, int k, const float* a, int lda, const float* b, int ldb, float beta,
          float* c, int ldc) {
#if defined(TAVIMOR_HAVE_CBLAS)
  cblas_sgemm(CblasRowMajor, ta ? CblasTrans : CblasNoTrans, tb ? CblasTrans : CblasNoTrans, m, n, k, 1.0f, a,
              lda, b, ldb, beta, c, ldc);
#else
#pragma omp parallel for schedule(static)
  for (int i = 0; i < m; ++i) {
    float* row = c + static_cast<size_t>(i) * ldc;
    for (int j = 0; j < n; ++j) row[j] = beta == 0.0f ? 0.0f : beta * row[j];
    for (int l = 0; l < k; ++l) {
      const float x = ta ? a[static_cast<size_t>(l) * lda + i] : a[static_cast<size_t>(i) * lda + l];
      if (x == 0.0f) continue;
      if (tb) {
        for (int j = 0; j < n; ++j) row[j] += x * b[static_cast<size_t>(j) * ldb + l];
      } else {
        const float* brow = b + static_cast<size_t>(l) * ldb;
        for (int j = 0; j < n; ++j) row[j] += x * brow[j];
      }
    }
  }
#endif
}

float* row_of(std::vector<float>& v, int i) { return v.data() + static_cast<size_t>(i) * kSlots; }
const float* row_of(const std::vector<float>& v, int i) { return v.data() + static_cast<size_t>(i) * kSlots; }

// True when a layer's scale took its value from the spread of its sums
// (not a default or a clamp), so that it varies with them.
bool scale_varies(float ave2, float bsd) { return ave2 != 0.0f && bsd > kBsdMin && bsd < kBsdMax; }

float squash_slope(float a) { return kSquashSlope * (1.0f - a * a); }

float squash_as(float x, bool smooth) {
  if (!smooth) return squash(x);
  if (!(x >= -1.0f)) return -1.0f;
  return x >= 0.998f ? 1.0f : std::tanh(kSquashSlope * x);
}

}  // namespace

BackpropWork make_backprop_work(int capacity) {
  BackpropWork w;
  w.capacity = capacity;
  const size_t n = static_cast<size_t>(capacity) * kSlots;
  for (int L = 0; L < kLayers; ++L) {
    w.act[L].assign(n, 0.0f);
    w.raw[L].assign(n, 0.0f);
    w.error[L].assign(n, 0.0f);
    w.bsd[L].assign(capacity, 0.0f);
  }
  w.back.assign(n, 0.0f);
  return w;
}

void backprop_input(BackpropWork& work, int i, const NetPosition& p) {
  encode_net_position(p, row_of(work.act[0], i));
}

void backprop_forward(const NeuralNet& net, BackpropWork& work, int count) {
  for (int i = 0; i < count; ++i) {
    float* a = row_of(work.act[0], i);
    for (int k = 0; k < NAC[0]; ++k) a[k] = squash_as(net.bias[0][k] + a[k], work.smooth);
  }
  for (int L = 0; L < kLayers - 1; ++L) {
    const int n_in = NAC[L], n_out = NAC[L + 1];
    gemm(false, true, count, n_out, n_in, work.act[L].data(), kSlots, &net.weight[L][0][0], kSlots, 0.0f,
         work.raw[L + 1].data(), kSlots);
    for (int i = 0; i < count; ++i) {
      const float* r = row_of(work.raw[L + 1], i);
      float* a = row_of(work.act[L + 1], i);
      float ave = 0.0f, ave2 = 0.0f;
      for (int j = 0; j < n_out; ++j) {
        ave += r[j];
        ave2 += r[j] * r[j];
      }
      const float bsd = forward_bsd(ave, ave2);
      work.bsd[L + 1][i] = bsd;
      const float* bias = net.bias[L + 1];
      for (int j = 0; j < n_out; ++j)
        a[j] = L < 3 ? ramp(bsd * r[j] + bias[j]) : squash_as(bsd * r[j] + bias[j], work.smooth);
    }
  }
}

void backprop_scores(const BackpropWork& work, int i, float* scores) {
  fold_scores(row_of(work.act[kLayers - 1], i), scores);
}

double backprop_loss(const float* scores, uint64_t legal, uint64_t taught, const float* value) {
  if (taught == 0) return 0.0;
  double top = -1e30;
  for (int q = 0; q < 64; ++q)
    if (legal >> q & 1) top = std::max(top, static_cast<double>(kLossSharpness * scores[q]));
  double sum = 0.0, taught_sum = 0.0;
  int taught_count = 0;
  for (int q = 0; q < 64; ++q) {
    if (!(legal >> q & 1)) continue;
    const double x = kLossSharpness * scores[q] - top;
    sum += std::exp(x);
    if (taught >> q & 1) {
      taught_sum += x;
      ++taught_count;
    }
  }
  double miss2 = 0.0;
  for (uint64_t t = value != nullptr ? taught : 0; t != 0; t &= t - 1) {
    const double miss = static_cast<double>(scores[std::countr_zero(t)]) - *value;
    miss2 += miss * miss;
  }
  return std::log(sum) - taught_sum / taught_count + kValueWeight * miss2 / taught_count;
}

namespace {

// The errors of the output layer of position i (work.error[4], row i); the
// position's loss.
double output_errors(BackpropWork& work, int i, uint64_t legal, uint64_t taught, const float* value) {
  constexpr int out = kLayers - 1;
  float* e = row_of(work.error[out], i);
  std::fill(e, e + kSlots, 0.0f);
  const uint64_t lg = legal | taught;
  if (taught == 0) return 0.0;
  float scores[64];
  backprop_scores(work, i, scores);
  double top = -1e30, sum = 0.0;
  for (int q = 0; q < 64; ++q)
    if (lg >> q & 1) top = std::max(top, static_cast<double>(kLossSharpness * scores[q]));
  for (int q = 0; q < 64; ++q)
    if (lg >> q & 1) sum += std::exp(kLossSharpness * scores[q] - top);
  const int taught_count = std::popcount(taught);
  const float* a = row_of(work.act[out], i);
  // d loss / d score(q) = sharpness (p(q) - taught share) (+ the value
  // term's), spread over the eight outputs that fold into square q (each
  // with weight +-1/8), times the squash's slope.
  for (int q = 0; q < 64; ++q) {
    if (!(lg >> q & 1)) continue;
    const double p = std::exp(kLossSharpness * scores[q] - top) / sum;
    const double share = (taught >> q & 1) ? 1.0 / taught_count : 0.0;
    float d_score = static_cast<float>(kLossSharpness * (p - share));
    if (value != nullptr && share > 0.0)
      d_score += static_cast<float>(2.0 * kValueWeight * share * (static_cast<double>(scores[q]) - *value));
    for (int m = 0; m < 8; ++m) {
      const int k = q + 64 * m;
      const float sign = m % 2 == 0 ? 0.125f : -0.125f;
      e[k] = sign * d_score * squash_slope(a[k]);
    }
  }
  return backprop_loss(scores, lg, taught, value);
}

}  // namespace

double backprop_gradient(const NeuralNet& net, BackpropWork& work, const uint64_t* legal,
                         const uint64_t* taught, int count, Gradient& grad, const float* value) {
  std::fill(grad.bias.begin(), grad.bias.end(), 0.0f);
  std::fill(grad.weight.begin(), grad.weight.end(), 0.0f);
  constexpr int out = kLayers - 1;
  double loss = 0.0;
  for (int i = 0; i < count; ++i)
    loss += output_errors(work, i, legal[i], taught[i], value != nullptr ? &value[i] : nullptr);
  for (int L = out; L >= 1; --L) {
    const int n = NAC[L], n_in = NAC[L - 1];
    // Through the scale: raw r_j enters as bsd r_j, and bsd = 0.5 / sqrt(v)
    // with v = sum r^2 / 512 - (sum r / 512)^2, so d bsd / d r_j =
    // -(4 / 512) bsd^3 (r_j - sum r / 512).
    for (int i = 0; i < count; ++i) {
      const float* e = row_of(work.error[L], i);
      const float* r = row_of(work.raw[L], i);
      float* d = row_of(work.back, i);
      const float bsd = work.bsd[L][i];
      float ave = 0.0f, ave2 = 0.0f, er = 0.0f;
      for (int j = 0; j < n; ++j) {
        ave += r[j];
        ave2 += r[j] * r[j];
        er += e[j] * r[j];
      }
      const float c = scale_varies(ave2, bsd) ? -(4.0f * kInv512) * bsd * bsd * bsd * er : 0.0f;
      const float mean = ave * kInv512;
      for (int j = 0; j < n; ++j) d[j] = bsd * e[j] + c * (r[j] - mean);
    }
    float* gb = grad.bias.data() + L * kSlots;
    for (int i = 0; i < count; ++i) {
      const float* e = row_of(work.error[L], i);
      for (int j = 0; j < n; ++j) gb[j] += e[j];
    }
    // Weight gradient: each row (receiving neuron) from its own error.
    float* gw = grad.weight.data() + static_cast<size_t>(L - 1) * kSlots * kSlots;
    gemm(true, false, n, n_in, count, work.back.data(), kSlots, work.act[L - 1].data(), kSlots, 0.0f, gw,
         kSlots);
    // The errors of the layer below: d loss / d act, times its slope.
    gemm(false, false, count, n_in, n, work.back.data(), kSlots, &net.weight[L - 1][0][0], kSlots, 0.0f,
         work.error[L - 1].data(), kSlots);
    for (int i = 0; i < count; ++i) {
      float* e = row_of(work.error[L - 1], i);
      const float* a = row_of(work.act[L - 1], i);
      for (int k = 0; k < n_in; ++k)
        e[k] *= L - 1 > 0 ? (a[k] > 0.0f && a[k] < kRampMax ? 1.0f : 0.0f) : squash_slope(a[k]);
    }
  }
  for (int i = 0; i < count; ++i) {
    const float* e = row_of(work.error[0], i);
    for (int k = 0; k < NAC[0]; ++k) grad.bias[k] += e[k];
  }
  return loss;
}

void backprop_apply(NeuralNet& net, const Gradient& grad, float rate) {
  const auto step = [rate](float& p, float g, float decay) {
    p = std::clamp(p - rate * (g + decay * p), -kParamBound, kParamBound);
  };
  for (int L = 0; L < kLayers; ++L)
    for (int j = 0; j < NAC[L]; ++j) step(net.bias[L][j], grad.bias[L * kSlots + j], 0.0f);
  for (int row = 0; row < (kLayers - 1) * kSlots; ++row) {
    const int L = row / kSlots, j = row % kSlots;
    if (j >= NAC[L + 1]) continue;
    const size_t at = static_cast<size_t>(row) * kSlots;
    for (int k = 0; k < NAC[L]; ++k) step(net.weight[L][j][k], grad.weight[at + k], kWeightDecay);
  }
  for (int L = 0; L < kLayers - 1; ++L) refresh_transposed(net, L);
}

void backprop_apply_adam(NeuralNet& net, const Gradient& grad, Gradient& first, Gradient& second, long step,
                         float rate) {
  constexpr float kBeta1 = 0.9f, kBeta2 = 0.999f, kEpsilon = 1e-8f;
  const float c1 = 1.0f / (1.0f - std::pow(kBeta1, static_cast<float>(step)));
  const float c2 = 1.0f / (1.0f - std::pow(kBeta2, static_cast<float>(step)));
  const auto adam = [&](float& p, float g, float& m, float& v, float decay) {
    m = kBeta1 * m + (1.0f - kBeta1) * g;
    v = kBeta2 * v + (1.0f - kBeta2) * g * g;
    const float d = (m * c1) / (std::sqrt(v * c2) + kEpsilon);
    p = std::clamp(p - rate * (d + decay * p), -kParamBound, kParamBound);
  };
  for (int L = 0; L < kLayers; ++L)
    for (int j = 0; j < NAC[L]; ++j) {
      const int at = L * kSlots + j;
      adam(net.bias[L][j], grad.bias[at], first.bias[at], second.bias[at], 0.0f);
    }
  for (int row = 0; row < (kLayers - 1) * kSlots; ++row) {
    const int L = row / kSlots, j = row % kSlots;
    if (j >= NAC[L + 1]) continue;
    const size_t at = static_cast<size_t>(row) * kSlots;
    for (int k = 0; k < NAC[L]; ++k)
      adam(net.weight[L][j][k], grad.weight[at + k], first.weight[at + k], second.weight[at + k],
           kWeightDecay);
  }
  for (int L = 0; L < kLayers - 1; ++L) refresh_transposed(net, L);
}

void backprop_learn(NeuralNet& net) {
  uint64_t legal = 0, taught = 0;
  for (int q = 0; q < 64; ++q) {
    if (net.delta[4][q] != 0.0f) legal |= uint64_t{1} << q;
    if (net.delta[4][q] == 1.0f) taught |= uint64_t{1} << q;
  }
  BackpropWork work = make_backprop_work(1);
  std::memcpy(work.act[0].data(), net.act[0], sizeof net.act[0]);
  backprop_forward(net, work, 1);
  Gradient grad;
  backprop_gradient(net, work, &legal, &taught, 1, grad);
  for (int L = 0; L < kLayers; ++L) {
    std::memcpy(net.act[L], work.act[L].data(), sizeof net.act[L]);
    std::memcpy(net.delta[L], work.error[L].data(), sizeof net.delta[L]);
  }
  backprop_apply(net, grad, kOnlineRate);
}
