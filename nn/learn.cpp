// Learning: the widened target, the output error, the backward pass with its
// per-layer scale, and the update of biases and weights.
#include <cstring>

#include "nn/activation.h"
#include "nn/backprop.h"
#include "nn/diag.h"
#include "nn/passes.h"

namespace {

// delta[4] = the signed square of half the difference to the target.
void output_error(NeuralNet& net) {
  float* d = net.delta[4];
  const float* a = net.act[4];
  for (int k = 0; k < kSlots; ++k) {
    const float e = (d[k] - a[k]) * 0.5f;
    d[k] = (e > 0.0f ? 1.0f : -1.0f) * e * e;
  }
}

// The scale of layer L's back-propagated sums (which wait in delta[L]), then
// the derivative of its activation.
void finish_backward_layer(NeuralNet& net, int L) {
  const int n = NAC[L];
  float* d = net.delta[L];
  float ave = 0.0f, ave2 = 0.0f;
  for (int i = 0; i < n; ++i) {
    ave = ave + d[i];
    ave2 = ave2 + d[i] * d[i];
  }
  const float bsd = backward_bsd(ave, ave2);
  const float* x = net.act[L];
#pragma omp parallel for schedule(static)
  for (int i = 0; i < n; ++i) {
    const float slope = L < 3 ? ramp_slope(x[i]) : shell(x[i]);
    d[i] = (bsd * d[i]) * slope;
  }
}

// The receiving neurons of slot a below half its count take the first rates.
inline bool low_half(int a, int k) { return k < update_rows(a) / 2; }

inline void update_bias(NeuralNet& net, int a, int k) {
  const double rate = low_half(a, k) ? kBiasRateLow : kBiasRateHigh;
  net.bias[a][k] =
      static_cast<float>(rate * static_cast<double>(net.delta[a][k]) + static_cast<double>(net.bias[a][k]));
}

}  // namespace

void widen_target(float* target) {
  for (int k = 64; k < kSlots; ++k) target[k] = (k % 128 >= 64 ? -1.0f : 1.0f) * target[k % 64];
}

void backward_reference(NeuralNet& net) {
  output_error(net);
  for (int L = kLayers - 2; L >= 0; --L) {
    const int n = NAC[L], m = NAC[L + 1];
    for (int i = 0; i < n; ++i) {
      float raw = 0.0f;
      for (int k = 0; k < m; ++k) raw = raw + net.weight[L][k][i] * net.delta[L + 1][k];
      net.delta[L][i] = raw;
    }
    finish_backward_layer(net, L);
  }
}

void backward_fast(NeuralNet& net, Simd simd) {
  output_error(net);
  for (int L = kLayers - 2; L >= 0; --L) {
    // Row k of the weight block holds what each sending neuron i receives
    // from neuron k, so the senders' sums run side by side.
    row_sums(&net.weight[L][0][0], net.delta[L + 1], NAC[L + 1], net.delta[L], NAC[L], simd);
    finish_backward_layer(net, L);
  }
}

// Both the bias of slot a and row k of weight layer a move along delta[a][k],
// the error term of layer a itself, over the rows update_rows(a).
void update_reference(NeuralNet& net) {
#pragma omp parallel for schedule(static)
  for (int a = 0; a < kLayers; ++a) {
    for (int k = 0; k < update_rows(a); ++k) {
      update_bias(net, a, k);
      if (a == kLayers - 1) continue;
      const double rate = low_half(a, k) ? kWeightRateLow : kWeightRateHigh;
      const double d = static_cast<double>(net.delta[a][k]);
      float* w = net.weight[a][k];
      for (int l = 0; l < NAC[a]; ++l)
        w[l] =
            static_cast<float>((static_cast<double>(net.act[a][l]) * rate) * d + static_cast<double>(w[l]));
    }
    if (a < kLayers - 1) refresh_transposed(net, a);
  }
}

void update_fast(NeuralNet& net, Simd simd) {
#pragma omp parallel for schedule(static)
  for (int a = 0; a < kLayers; ++a) {
    const int rows = update_rows(a);
    if (a == kLayers - 1) {
      for (int k = 0; k < rows; ++k) update_bias(net, a, k);
      continue;
    }
    // act x rate, the same for every row of one half.
    double scaled_low[kSlots], scaled_high[kSlots];
    for (int l = 0; l < NAC[a]; ++l) {
      scaled_low[l] = static_cast<double>(net.act[a][l]) * kWeightRateLow;
      scaled_high[l] = static_cast<double>(net.act[a][l]) * kWeightRateHigh;
    }
    for (int k = 0; k < rows; ++k) {
      update_bias(net, a, k);
      update_row(net.weight[a][k], low_half(a, k) ? scaled_low : scaled_high,
                 static_cast<double>(net.delta[a][k]), NAC[a], simd);
    }
    refresh_transposed(net, a);
  }
}

void net_backprop(NeuralNet& net) {
  backward_fast(net, simd_best());
  net_update(net);
}

void net_update(NeuralNet& net) { update_fast(net, simd_best()); }

void learn_on_processor(NeuralNet& net, const int32_t* plane, bool first_plane) {
  net_encode(net, plane, first_plane);
  const bool csv = net.out_mode == kDiagCsv;
  if (net.learn_rule == LearnRule::backprop) {
    widen_target(net.delta[4]);
    if (csv) net_print_csv_sample(net.act[0], net.delta[4]);
    backprop_learn(net);
    return;
  }
  float inputs[kSlots];
  if (csv) std::memcpy(inputs, net.act[0], sizeof inputs);  // before the input activation
  net_forward(net);
  widen_target(net.delta[4]);
  if (csv) net_print_csv_sample(inputs, net.delta[4]);
  net_backprop(net);
}
