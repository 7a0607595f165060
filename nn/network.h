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
#include <memory>

#include "nn/neural_net.h"

// Gives every bias and every weight a random value on the 0.0007 grid in
// [-0.7, 0.6993], uploads them to the GPU while it is up, and prints the CSV
// header on standard output while out_mode is kDiagCsv.
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

// A position as the network reads it, in square sets (bit s for the square
// s = 8 (row - 1) + (column - 1)): the plane an evaluation is given and the
// marks of the plane before it. Searches that keep their positions in square
// sets evaluate through it without building planes.
struct NetPosition {
  uint64_t mine;            // stones of the plane's mover (its record cell 0)
  uint64_t theirs;          // stones of the other colour
  uint64_t empty;           // empty squares
  uint64_t changed;         // changed marks of the plane
  uint64_t legal;           // legal-move marks of the plane
  uint64_t before_changed;  // changed marks of the plane before (none before plane 0)
  uint64_t before_legal;    // legal-move marks of the plane before
};
// The NetPosition of plane (first_plane as for net_evaluate).
NetPosition net_position(const int32_t* plane, bool first_plane);

// Scratch of batched evaluations on one thread (120 KB: make it with
// make_net_batch).
struct NetBatch {
  static constexpr int kPositions = 12;  // positions run through the layers side by side
  float act[kPositions][kLayers][kSlots];
};
std::unique_ptr<NetBatch> make_net_batch();

// The 64 square scores of each of `count` positions into scores[0..count-1],
// bit for bit those the processor evaluation gives for the same planes. The
// positions go through each layer together, so that every weight is loaded
// once for several of them. Processor only; safe on several threads at once,
// each with a batch of its own.
void net_evaluate_batch(const NeuralNet& net, NetBatch& batch, const NetPosition* positions, int count,
                        float (*scores)[64]);

// Encodes plane (and the plane before it, unless first_plane) into act[0] and
// the 64-square target into delta[4][0..63]; returns the target square (-9
// when no move is recorded).
int net_encode(NeuralNet& net, const int32_t* plane, bool first_plane);
// The five layers over net.act.
void net_forward(NeuralNet& net);

// The back end (nn/backend.cpp): the processor until gpu_init brings the GPU
// up, then the GPU, one operation at a time on the main thread, until a copy
// or launch fails: one "error: " line names the call, and the processor takes
// over for the rest of the run from the parameters last copied back whole.
// gpu_init: the GPU of the given ordinal (>= 0), which says so on standard
// error once up; a bring-up that fails ends silently. gpu_upload and
// gpu_download copy weight, bias, act and delta to the device and back (true
// when done or while it is down); gpu_release frees it at process exit.
void gpu_init(NeuralNet& net, int ordinal);
bool gpu_upload(NeuralNet& net);
bool gpu_download(NeuralNet& net);
void gpu_release(NeuralNet& net);
// Whether evaluations of net may run side by side on several threads, each
// with scratch of its own: on the processor they may; on the GPU, which holds
// one set of device arrays, they run one after the other on the main thread.
inline bool net_parallel_evaluations(const NeuralNet& net) { return net.gpu_on == 0; }

// The 64 square scores of plane, on the GPU while it is up, else on the
// processor with net.act and net.delta as scratch (one caller at a time), or
// for a search, with scratch of the caller's own.
void net_evaluate(NeuralNet& net, const int32_t* plane, bool first_plane, float* scores);
void net_evaluate(NeuralNet& net, NetScratch& scratch, const int32_t* plane, bool first_plane, float* scores);
// The processor evaluation with scratch of the caller's own; safe to call from
// several threads at once (the parameters are only read).
void net_evaluate_concurrent(const NeuralNet& net, NetScratch& scratch, const int32_t* plane,
                             bool first_plane, float* scores);

// Which output-layer biases learn: all 512, at rate 0.4 below slot 256 and
// 0.12 from there (the split at half the count, as for every other slot).
inline constexpr int kOutputBiasesLearning = kSlots;

// One learning step towards the move recorded in plane by net.learn_rule; by
// imitation: encode, forward pass, widened target (and the CSV line while
// out_mode is kDiagCsv), then net_backprop.
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
// The two halves of -dump, on standard output, of what net holds (the run
// copies the GPU's arrays back first).
void net_dump_params(const NeuralNet& net);
void net_dump_scratch(const NeuralNet& net);
