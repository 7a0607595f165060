// The GPU path of the network: bringing the device up, the device's mirrors
// of the network's arrays, one evaluation and one learning step as launch
// sequences of the module's kernels, and the release at exit. Everything runs
// on the main thread, one operation at a time.
//
// After gpu_init has brought the device up, every copy and launch is checked.
// The first that fails prints one "error: " line naming the call, turns the
// GPU path off (gpu_on = 0) for the rest of the run and leaves the network
// with the parameters last copied back whole; the operations below then
// answer false, and the caller does the work on the processor.
#pragma once

#include <cstdint>

struct NeuralNet;

// The reset state: gpu_on and out_mode 0, no device, no context.
void gpu_reset(NeuralNet& net);
// Brings up the device of the given ordinal (>= 0): driver, context, module,
// kernels and device arrays, then uploads the network and says so on
// standard error. Any step that fails before that ends it silently with
// gpu_on still 0 (the processor does the work).
void gpu_init(NeuralNet& net, int ordinal);
// Copies weight, bias, act and delta to the device; true when done or while
// gpu_on is 0.
bool gpu_upload(NeuralNet& net);
// Copies the device's weight, bias, act and delta back into the network; true
// when done or while gpu_on is 0.
bool gpu_download(NeuralNet& net);
// One evaluation on the device (gpu_on set) of plane, the plane the last move
// was played from (first_plane: plane 0 of its stack, with no plane before
// it); the 64 scores go to score unless it is null. False when the device
// failed.
bool gpu_forward(NeuralNet& net, const int32_t* plane, bool first_plane, float* score);
// One learning step on the device (gpu_on set), then the parameters and
// scratch copied back, and the CSV line when out_mode is 2. False when the
// device failed: nothing of the step has then reached the network.
bool gpu_learn(NeuralNet& net, const int32_t* plane, bool first_plane);
// Frees the device arrays while gpu_on is set, then destroys the context if
// one was made; run at process exit.
void gpu_release(NeuralNet& net);
