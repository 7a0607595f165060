// The neural engine's search: the network's square scores plus a fixed bias
// per square stand for the value of each reply.
#pragma once

#include <cstdint>
#include <memory>

#include "game/board.h"
#include "nn/network.h"
#include "search/neuro_window.h"
#include "search/search_context.h"

// Scores (row, column) on board with the network to four further plies (the
// root move at depth 0). The result is seen from the side to move after
// (row, column). The fast search, which only reads the board, while the
// network runs on the processor; the reference with the network on the GPU.
float neuro_search(SearchContext& ctx, Board& board, int depth, int row, int col);

// The same search written over play, take_back, check_end and hand_over,
// full width, one evaluation per node: the reference of the fast one. It
// draws one rand15() for every tie inside the tree (the fast search makes
// none) and rewrites what any play and take-back rewrite (see
// deep_search_reference).
float neuro_search_reference(SearchContext& ctx, Board& board, int depth, int row, int col);

// Working state of the fast search on one thread: batch scratch for the
// network, the scores of the positions being searched, and counters.
// Processor only.
struct NeuroWorker {
  const NeuralNet* net;
  std::unique_ptr<NetBatch> batch = make_net_batch();
  uint64_t nodes = 0;                          // moves played
  uint64_t evaluations = 0;                    // positions evaluated
  uint64_t batches = 0;                        // calls of the batched evaluation
  const std::atomic<int>* stop = nullptr;      // the engine call's stop (SearchContext.stop)
  float own[kNeuroDepth][64];                  // a node's own evaluation, when it makes it
  float scores[kNeuroDepth][kMaxReplies][64];  // its children's, at each depth
  NetPosition pending[kMaxReplies + 1];        // a batch being gathered
  float (*pending_out[kMaxReplies + 1])[64];   // and where its scores go
};
std::unique_ptr<NeuroWorker> make_neuro_worker(const NeuralNet& net, const std::atomic<int>* stop = nullptr);

// The fast search with a window (see deep_search_window) and w's network.
// The board is only read. A record whose ply runs ahead of its stones, or a
// square play() would refuse, goes to the reference (on a copy) with its
// messages.
float neuro_search_window(NeuroWorker& w, const Board& board, int depth, int row, int col, float alpha,
                          float beta);

// The network's 64 square scores for plane (first_plane: it is plane 0, with
// no plane before it). On the processor each thread evaluates in scratch of
// its own, so searches may run side by side.
void neuro_evaluate(SearchContext& ctx, const int32_t* plane, bool first_plane, float* scores);
