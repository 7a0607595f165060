// The network's operations: initialisation, encoding, evaluation, learning
// and diagnostics.
#pragma once

#include <cstdint>

#include "nn/neural_net.h"

// Gives every bias and weight a random value on the 0.0007 grid in
// [-0.7, 0.6993], uploads them to the GPU when it is on, and prints the CSV
// header on standard output when out_mode is 2.
void net_init_random(NeuralNet& net);

// Prints the CSV header line of the -nnc stream on standard output.
void net_print_csv_header();

// Scratch of one evaluation: activations and the target. An evaluation that
// runs at the same time as others uses a NetScratch of its own.
struct NetScratch {
  float act[kLayers][kSlots];
  float delta[kLayers][kSlots];
};

// Encodes plane (and the plane before it) into act[0] and the 64-square target
// into delta[4][0..63]; returns the target square (-9 when none is recorded).
int net_encode(NeuralNet& net, const int32_t* plane);
// The five layers over net.act.
void net_forward(NeuralNet& net);
// The 64 square scores of plane, on the GPU when gpu_on is set, else on the
// processor with net.act and net.delta as scratch (one caller at a time).
void net_evaluate(NeuralNet& net, const int32_t* plane, float* scores);
// The processor evaluation with scratch of the caller's own; safe to call from
// several threads at once (the parameters are only read).
void net_evaluate_concurrent(const NeuralNet& net, NetScratch& scratch, const int32_t* plane, float* scores);
// One learning step towards the move recorded in plane.
void net_learn(NeuralNet& net, const int32_t* plane);

struct Stats {
  float ave, sd, min, max;
};
Stats net_stats(const float* values, int n);
// The two halves of -dump, on standard output.
void net_dump_params(NeuralNet& net);
void net_dump_scratch(NeuralNet& net);
