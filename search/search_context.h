// The record every engine entry point receives.
#pragma once

#include <atomic>
#include <cstdint>

struct Board;
struct NeuralNet;

struct SearchContext {
  Board* board;    // the live game record
  NeuralNet* net;  // the network of the neural engine
  int32_t value;   // score of the move the engine last chose
  // Non-zero once the run is to stop: an engine call then ends within one
  // evaluation or search node and plays no move. Null: nothing stops it.
  const std::atomic<int>* stop = nullptr;
};

// True when stop is set (a relaxed read: it only ever goes from 0 to non-zero).
inline bool stop_requested(const std::atomic<int>* stop) {
  return stop != nullptr && stop->load(std::memory_order_relaxed) != 0;
}

// Binds the board and the network and seeds rand() with the calendar time.
SearchContext make_search_context(Board& board, NeuralNet& net);
