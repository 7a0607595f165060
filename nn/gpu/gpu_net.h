// The network's GPU path as the processor side calls it. Until the device has
// come up (gpu_on set) none of these is reached except upload and download,
// which then do nothing.
#pragma once

#include <cstdint>

struct NeuralNet;

// Copies the parameters and scratch to the device; nothing while gpu_on is 0.
void gpu_upload(NeuralNet& net);
// Copies them back from the device; nothing while gpu_on is 0.
void gpu_download(NeuralNet& net);
// One evaluation on the device; score may be null. Only with gpu_on set.
void gpu_forward(NeuralNet& net, const int32_t* plane, bool first_plane, float* score);
// One learning step on the device. Only with gpu_on set.
void gpu_learn(NeuralNet& net, const int32_t* plane, bool first_plane);
