// The backprop learning rule (-learn backprop) and the batched passes the
// teaching run trains with.
//
// The loss of a position is the cross-entropy between the network's choice
// and the moves it is taught: over the legal squares q of the position, p(q)
// is the softmax of kLossSharpness x score(q) (score as net_evaluate folds the
// 512 outputs), and the loss is minus the mean of log p(q) over the taught
// squares (the target's +1 squares; every tied best move of a teacher). Its
// gradient runs back through the forward pass as it is computed: the input
// and output squash (the table is tanh(2.25 x), whose slope is 2.25 (1 - a^2)
// at the value a), the ramps (slope 1 inside (0, 1000), else 0) and each
// layer's scale bsd, which depends on all the layer's raw sums. Each weight
// moves along the product of the error of the neuron it feeds and the
// activation it reads; every bias along the error of its own neuron.
//
// The teaching run also knows how each game ended: it adds the squared
// difference between the scores of the taught squares and that outcome (see
// kValueWeight). The softmax alone leaves each position's scores free up to
// a constant, yet the neural search subtracts the scores of different
// positions; the outcome fixes that constant to how good the position is.
//
// The batched passes compute in single precision through matrix products
// (OpenBLAS when the build has it), in their own order: their activations
// agree with the program's evaluation to rounding, not bit for bit. The
// engines always play with the program's own evaluation.
#pragma once

#include <cstdint>
#include <vector>

#include "nn/network.h"

// The sharpness of the softmax over the square scores (which lie in [-1, 1]).
inline constexpr float kLossSharpness = 8.0f;
// Every weight and bias stays inside [-kParamBound, kParamBound].
inline constexpr float kParamBound = 8.0f;
// Weight decay per unit of rate: each step also pulls every weight towards 0
// by rate x kWeightDecay x weight.
inline constexpr float kWeightDecay = 0.0005f;
// The weight of the outcome term: kValueWeight x the mean squared difference
// between the taught squares' scores and value[i].
inline constexpr float kValueWeight = 4.0f;
// The rate of the step -learn backprop takes for each move it learns.
inline constexpr float kOnlineRate = 0.01f;

// Working arrays of the batched passes over up to `capacity` positions:
// row-major, kSlots floats a position a layer.
struct BackpropWork {
  int capacity = 0;
  std::vector<float> act[kLayers];    // activations; act[0] first holds the inputs
  std::vector<float> raw[kLayers];    // raw sums of layers 1..4, before the scale
  std::vector<float> bsd[kLayers];    // each position's scale of layers 1..4
  std::vector<float> error[kLayers];  // d loss / d the neuron's sum after the scale (its bias's gradient)
  std::vector<float> back;            // d loss / d raw sums, one layer at a time
  // Squash with the function the table samples (tanh(2.25 x), -1 below -1
  // and 1 from 0.998) instead of the table: the loss is then smooth enough
  // to check its gradient against finite differences.
  bool smooth = false;
};
BackpropWork make_backprop_work(int capacity);

// The gradient of the loss summed over a batch, laid out like the parameter
// block of NeuralNet (bias[5][512], then weight[4][512][512]).
struct Gradient {
  std::vector<float> bias = std::vector<float>(kLayers * kSlots);
  std::vector<float> weight = std::vector<float>(static_cast<size_t>(kLayers - 1) * kSlots * kSlots);
};

// Encodes position p as the inputs of row i of work.
void backprop_input(BackpropWork& work, int i, const NetPosition& p);
// The forward pass of count positions whose inputs wait in work.act[0].
void backprop_forward(const NeuralNet& net, BackpropWork& work, int count);
// After backprop_forward: the loss summed over the count positions into the
// return value and its gradient into grad (overwritten). legal[i] and
// taught[i] are the square sets of position i (taught within legal); a
// position with no taught square adds nothing.
double backprop_gradient(const NeuralNet& net, BackpropWork& work, const uint64_t* legal,
                         const uint64_t* taught, int count, Gradient& grad, const float* value = nullptr);
// One step along grad: w -= rate (grad + kWeightDecay w) (no decay for the
// biases), then every parameter is clamped to the bound. Only the slots the
// forward pass uses change. Refreshes the transposed weights.
void backprop_apply(NeuralNet& net, const Gradient& grad, float rate);

// One Adam step along grad (the teaching run's; beta 0.9 and 0.999): moment
// estimates in first and second, step the number of this step (1, 2, ...);
// the decay and the clamp as above.
void backprop_apply_adam(NeuralNet& net, const Gradient& grad, Gradient& first, Gradient& second, long step,
                         float rate);

// The square scores of a position from the batched forward pass (row i).
void backprop_scores(const BackpropWork& work, int i, float* scores);
// The loss of one position with the given scores (and its value).
double backprop_loss(const float* scores, uint64_t legal, uint64_t taught, const float* value = nullptr);

// The -learn backprop step: one position's gradient at kOnlineRate. Expects
// net_encode's inputs in net.act[0] and its target in net.delta[4][0..63];
// leaves the step's activations and errors in net.act and net.delta.
void backprop_learn(NeuralNet& net);
