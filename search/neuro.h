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
