// The GPU path of a build without a device driver: the device never comes up,
// gpu_on stays 0, and the network runs on the processor. A build with the
// driver replaces this file.
#include <cstdio>
#include <cstdlib>

#include "nn/gpu/gpu_net.h"
#include "nn/neural_net.h"

namespace {

[[noreturn]] void no_device(const char* what) {
  std::fprintf(stderr, "error: %s without a GPU path.\n", what);
  std::abort();
}

}  // namespace

void gpu_upload(NeuralNet& net) { (void)net; }
void gpu_download(NeuralNet& net) { (void)net; }

void gpu_forward(NeuralNet& net, const int32_t* plane, bool first_plane, float* score) {
  (void)net, (void)plane, (void)first_plane, (void)score;
  no_device("gpu_forward");
}

void gpu_learn(NeuralNet& net, const int32_t* plane, bool first_plane) {
  (void)net, (void)plane, (void)first_plane;
  no_device("gpu_learn");
}
