// All three singletons are defined in this one translation unit, so C++
// constructs them in the order written here: the board, then the network
// (its GPU release registered for the exit), then the search context that
// binds the two.
#include "app/globals.h"

#include <cstdlib>

#include "nn/network.h"
#include "search/engine.h"

Board g_board = [] {
  Board b{};
  fresh_game(b);
  return b;
}();
NeuralNet g_net{};  // zero-filled (static storage)
[[maybe_unused]] static const int g_gpu_release = std::atexit([] { gpu_release(g_net); });
SearchContext g_ctx = make_search_context(g_board, g_net);
