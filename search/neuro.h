// The neural engine's search: the network's square scores plus a fixed bias
// per square stand for the value of each reply.
#pragma once

#include "game/board.h"
#include "search/search_context.h"

// Fixed bias added to the network's score of each square.
extern const float square_bias[64];

// Plays (row, column) on board, scores the line with the network to four
// further plies and takes the move back. The result is seen from the side to
// move after (row, column).
float neuro_search(SearchContext& ctx, Board& board, int depth, int row, int col);

// The network's 64 square scores for plane (first_plane: it is plane 0, with
// no plane before it). On the processor each thread evaluates in scratch of
// its own, so searches may run side by side.
void neuro_evaluate(SearchContext& ctx, const int32_t* plane, bool first_plane, float* scores);

// The value the neural root reports for its best score: trunc(best x 50).
// With no move chosen (best still the no-score sentinel) it is -10 000 000.
int32_t neuro_root_value(float best);
