// The network's operations: initialisation, encoding, evaluation, learning
// and diagnostics.
//
// A position is given as a pointer to a plane of a Board's plane stack (the
// plane the last move was played from) together with first_plane, which is
// true when that plane is plane 0 of its stack. The encoder reads the plane
// before the given one (the 100 cells below it in the stack) only when
// first_plane is false; for plane 0 there is none, and input planes 0 and 1
// (the previous plane's changed and legal marks) are then all -1, which is
// what a plane without marks gives. Callers that pass previous_plane(b) pass
// b.ply == 1 as first_plane.
//
// The evaluations run a vectorised form of the forward pass that reads a
// transposed copy of the weights. Whoever changes bias or weight other than
// through net_init_random and net_learn (the data file loader, tests) must
// call net_params_changed afterwards.
#pragma once

#include <cstdint>

#include "nn/neural_net.h"

// Gives every bias and every weight a random value on the 0.0007 grid in
// [-0.7, 0.6993], uploads them to the GPU when it is on, and prints the CSV
// header on standard output when out_mode is 2.
void net_init_random(NeuralNet& net);

// Prints the CSV header line of the -nnc stream on standard output.
void net_print_csv_header();

// Refreshes what the fast evaluation derives from the parameters of net (its
// transposed weights). Call after bias or weight changed by any other means
// than net_init_random and net_learn, and before the next evaluation. Not
// thread-safe: no evaluation of net may run at the same time.
void net_params_changed(NeuralNet& net);

// Scratch of one evaluation: activations and the target. An evaluation that
// runs at the same time as others uses a NetScratch of its own.
struct NetScratch {
  float act[kLayers][kSlots];
  float delta[kLayers][kSlots];
};

// Encodes plane (and the plane before it, unless first_plane) into act[0] and
// the 64-square target into delta[4][0..63]; returns the target square (-9
// when no move is recorded).
int net_encode(NeuralNet& net, const int32_t* plane, bool first_plane);
// The five layers over net.act.
void net_forward(NeuralNet& net);
// Whether evaluations of net may run side by side on several threads, each
// with scratch of its own (net_evaluate_concurrent): on the processor they
// may; on the GPU, which holds one set of device arrays, they must run one
// after the other on the main thread (net_evaluate).
inline bool net_parallel_evaluations(const NeuralNet& net) { return net.gpu_on == 0; }

// The 64 square scores of plane, on the GPU when gpu_on is set, else on the
// processor with net.act and net.delta as scratch (one caller at a time).
void net_evaluate(NeuralNet& net, const int32_t* plane, bool first_plane, float* scores);
// The processor evaluation with scratch of the caller's own; safe to call from
// several threads at once (the parameters are only read) while
// net_parallel_evaluations(net).
void net_evaluate_concurrent(const NeuralNet& net, NetScratch& scratch, const int32_t* plane,
                             bool first_plane, float* scores);

// Which output-layer biases learn: all 512, at rate 0.4 below slot 256 and
// 0.12 from there (the split at half the count, as for every other slot).
inline constexpr int kOutputBiasesLearning = kSlots;

// One learning step towards the move recorded in plane: encode, forward pass,
// widened target (and the CSV line when out_mode is 2), then net_backprop.
void net_learn(NeuralNet& net, const int32_t* plane, bool first_plane);
// The output error, the backward pass through the four weight layers, then
// net_update. Expects the forward pass and the widened target in net.
void net_backprop(NeuralNet& net);
// Moves biases and weights along the error terms of net.delta.
void net_update(NeuralNet& net);

struct Stats {
  float ave, sd, min, max;
};
Stats net_stats(const float* values, int n);
// The two halves of -dump, on standard output.
void net_dump_params(NeuralNet& net);
void net_dump_scratch(NeuralNet& net);
