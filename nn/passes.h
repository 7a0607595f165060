// The network's passes in their two forms: the reference form (the plain
// loops, as the arithmetic is defined) and the fast form (the same
// operations in the same order per value, vectorised across neurons). Both
// give the same bits; the public entry points of nn/network.h run the fast
// form. Internal to nn/ and its tests and benchmarks.
#pragma once

#include <cstdint>

#include "nn/network.h"

// Instruction sets the fast form is built for. Neither uses fused
// multiply-add: every product is rounded before it is added.
enum class Simd { baseline, avx2 };
// The best the running processor supports.
Simd simd_best();
bool simd_supported(Simd simd);

// One evaluation's scratch: 5 x 512 activations and 5 x 512 error terms.
struct ScratchView {
  float (*act)[kSlots];
  float (*delta)[kSlots];
};
inline ScratchView scratch_of(NeuralNet& net) { return {net.act, net.delta}; }
inline ScratchView scratch_of(NetScratch& s) { return {s.act, s.delta}; }

// The encoder on any scratch (see net_encode).
int encode_position(ScratchView s, const int32_t* plane, bool first_plane);
// The input values of a position (act[0][0..511]), as the encoder gives them
// for the plane the position was taken from.
void encode_net_position(const NetPosition& p, float* in);
// score[s] for s = 0..63 from the 512 output activations.
void fold_scores(const float* out, float* scores);

// net_evaluate and net_learn on the processor (learn_rule not off).
void evaluate_on_processor(const NeuralNet& net, ScratchView s, const int32_t* plane, bool first_plane,
                           float* scores);
void learn_on_processor(NeuralNet& net, const int32_t* plane, bool first_plane);

void forward_reference(const NeuralNet& net, float (*act)[kSlots]);
// Falls back to forward_reference while net holds no transposed weights
// (net_params_changed not called for it).
void forward_fast(const NeuralNet& net, float (*act)[kSlots], Simd simd);

// Learning, in its stages: the widened target, then the output error and the
// backward pass (writes delta), then the update (writes bias and weight).
void widen_target(float* target);
void backward_reference(NeuralNet& net);
void backward_fast(NeuralNet& net, Simd simd);
void update_reference(NeuralNet& net);
void update_fast(NeuralNet& net, Simd simd);

// Learning rates: biases and weights, receiving neurons below half the
// layer's count and from there.
inline constexpr double kBiasRateLow = 0.4;
inline constexpr double kBiasRateHigh = 0.12;
inline constexpr double kWeightRateLow = 0.36000000000000004;   // 0.4 x 0.9 in double
inline constexpr double kWeightRateHigh = 0.10800000000000001;  // 0.4 x 0.9 x 0.3 in double
// Receiving neurons of layer slot a in the update: NAC[a + 1], and for the
// output biases (slot 4) kOutputBiasesLearning.
inline int update_rows(int a) { return a + 1 < kLayers ? NAC[a + 1] : kOutputBiasesLearning; }

// Kernels of the fast form. out[i] = sum over r = 0..rows-1, in increasing r,
// starting from 0, of m[r * kSlots + i] x x[r], for i = 0..n-1.
void row_sums(const float* m, const float* x, int rows, float* out, int n, Simd simd);
// The transposed weights are kept in panels of kPanel receiving neurons: in
// a block turned for the forward pass, what neuron k sends to neuron j sits
// at panel_index(k, j), so that the sums of one panel's neurons read one
// contiguous run of 32 KB, 64 bytes per sending neuron.
inline constexpr int kPanel = 16;
constexpr int panel_index(int k, int j) { return (j / kPanel) * (kSlots * kPanel) + k * kPanel + j % kPanel; }

// The forward sums of `count` positions over a panelled block t:
// out[p][j] = sum over k = 0..rows-1, in increasing k, starting from 0, of
// t[panel_index(k, j)] x x[p][k], for j = 0..n-1; each weight is loaded once
// for up to six positions.
void panel_sums(const float* t, const float* const* x, int rows, float* const* out, int n, int count,
                Simd simd);
// The forward pass of count (at most NetBatch::kPositions) positions whose
// inputs wait in batch.act[p][0].
void forward_batch(const NeuralNet& net, NetBatch& batch, int count, Simd simd);
// w[l] = float(ar[l] x d + double(w[l])) for l = 0..n-1.
void update_row(float* w, const double* ar, double d, int n, Simd simd);

// t[panel_index(k, j)] = w[j][k] for one 512 x 512 block.
void transpose_weights(const float (*w)[kSlots], float* t, Simd simd);

// The transposed weights of net, t[panel_index(k, j)] = weight[layer][j][k], or
// null while net holds none.
const float* transposed_weights(const NeuralNet& net, int layer);
// Re-derives one layer of net's transposed weights; nothing while it holds none.
void refresh_transposed(NeuralNet& net, int layer);
