// The record every engine entry point receives.
#pragma once

#include <cstdint>

struct Board;
struct NeuralNet;

struct SearchContext {
  Board* board;    // the live game record
  NeuralNet* net;  // the network of the neural engine
  int32_t value;   // score of the move the engine last chose
};

// Binds the board and the network and seeds rand() with the calendar time.
SearchContext make_search_context(Board& board, NeuralNet& net);
