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
