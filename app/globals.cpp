// All three singletons are defined in this one translation unit, so C++
// constructs them in the order written here: the board, then the network's
// GPU state, then the search context that binds the two.
#include "app/globals.h"

#include <cstdlib>

#include "nn/network.h"

namespace {

Board start_board() {
  Board b{};
  new_game(b);
  b.computer_colour = 2;
  b.colour_scheme = 0;
  b.engine = 1;
  b.pass_flag = 0;
  return b;
}

void release_gpu_at_exit() { gpu_release(g_net); }

int register_gpu_release() {
  std::atexit(release_gpu_at_exit);
  return 0;
}

}  // namespace

Board g_board = start_board();
NeuralNet g_net{};  // zero-filled (static storage)
[[maybe_unused]] static const int g_gpu_release = register_gpu_release();
SearchContext g_ctx = make_search_context(g_board, g_net);
