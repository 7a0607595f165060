// The forward pass and the processor's evaluations.
#include "nn/activation.h"
#include "nn/passes.h"

namespace {

// Scale, bias and activation of layer L + 1 over its raw sums, which wait in
// act[L + 1][0..n - 1].
void finish_layer(const NeuralNet& net, float (*act)[kSlots], int L) {
  const int n = NAC[L + 1];
  float* out = act[L + 1];
  float ave = 0.0f, ave2 = 0.0f;
  for (int j = 0; j < n; ++j) {
    ave = ave + out[j];
    ave2 = ave2 + out[j] * out[j];
  }
  const float bsd = forward_bsd(ave, ave2);
  const float* bias = net.bias[L + 1];
  if (L < 3) {
    for (int j = 0; j < n; ++j) out[j] = ramp(bsd * out[j] + bias[j]);
  } else {
    for (int j = 0; j < n; ++j) out[j] = squash(bsd * out[j] + bias[j]);
  }
}

void input_layer(const NeuralNet& net, float (*act)[kSlots]) {
  for (int j = 0; j < kSlots; ++j) act[0][j] = squash(net.bias[0][j] + act[0][j]);
}

}  // namespace

void forward_reference(const NeuralNet& net, float (*act)[kSlots]) {
  input_layer(net, act);
  for (int L = 0; L < kLayers - 1; ++L) {
    const int n_in = NAC[L], n_out = NAC[L + 1];
    for (int j = 0; j < n_out; ++j) {
      const float* w = net.weight[L][j];
      float raw = 0.0f;
      for (int k = 0; k < n_in; ++k) raw = raw + w[k] * act[L][k];
      act[L + 1][j] = raw;
    }
    finish_layer(net, act, L);
  }
}

void forward_fast(const NeuralNet& net, float (*act)[kSlots], Simd simd) {
  if (transposed_weights(net, 0) == nullptr) {
    forward_reference(net, act);
    return;
  }
  input_layer(net, act);
  for (int L = 0; L < kLayers - 1; ++L) {
    // The transposed block holds what neuron k sends to each receiving
    // neuron next to each other, so the receivers' sums run side by side.
    const float* x = act[L];
    float* out = act[L + 1];
    panel_sums(transposed_weights(net, L), &x, NAC[L], &out, NAC[L + 1], 1, simd);
    finish_layer(net, act, L);
  }
}

void forward_batch(const NeuralNet& net, NetBatch& batch, int count, Simd simd) {
  if (transposed_weights(net, 0) == nullptr) {
    for (int p = 0; p < count; ++p) forward_reference(net, batch.act[p]);
    return;
  }
  const float* x[NetBatch::kPositions];
  float* out[NetBatch::kPositions];
  for (int p = 0; p < count; ++p) input_layer(net, batch.act[p]);
  for (int L = 0; L < kLayers - 1; ++L) {
    for (int p = 0; p < count; ++p) {
      x[p] = batch.act[p][L];
      out[p] = batch.act[p][L + 1];
    }
    panel_sums(transposed_weights(net, L), x, NAC[L], out, NAC[L + 1], count, simd);
    for (int p = 0; p < count; ++p) finish_layer(net, batch.act[p], L);
  }
}

void net_forward(NeuralNet& net) { forward_fast(net, net.act, simd_best()); }

void evaluate_on_processor(const NeuralNet& net, ScratchView s, const int32_t* plane, bool first_plane,
                           float* scores) {
  encode_position(s, plane, first_plane);
  forward_fast(net, s.act, simd_best());
  fold_scores(s.act[4], scores);
}

void net_evaluate_concurrent(const NeuralNet& net, NetScratch& scratch, const int32_t* plane,
                             bool first_plane, float* scores) {
  evaluate_on_processor(net, scratch_of(scratch), plane, first_plane, scores);
}

std::unique_ptr<NetBatch> make_net_batch() { return std::make_unique<NetBatch>(); }

void net_evaluate_batch(const NeuralNet& net, NetBatch& batch, const NetPosition* positions, int count,
                        float (*scores)[64]) {
  for (int done = 0; done < count;) {
    const int n = count - done < NetBatch::kPositions ? count - done : NetBatch::kPositions;
    for (int p = 0; p < n; ++p) encode_net_position(positions[done + p], batch.act[p][0]);
    forward_batch(net, batch, n, simd_best());
    for (int p = 0; p < n; ++p) fold_scores(batch.act[p][4], scores[done + p]);
    done += n;
  }
}
