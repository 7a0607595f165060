// The neural engine's search for a network taught the moves of the position
// it is given (-learn backprop or off): every position of the tree is
// evaluated itself and its scores value the moves of its own side to move,
// instead of the replies to a move being valued by the evaluation of the
// plane that move was played from.
#pragma once

#include "nn/network.h"
#include "search/root.h"
#include "search/search_context.h"

// Whether the neural engine plays net with the search below: with the
// backprop and off rules, which teach (or keep) the move played from the
// plane a network is given. The default rule keeps the plane search.
bool neuro_searches_position(const NeuralNet& net);

// Whether the search below can play from b: every legal-marked square turns
// stones and no line can run past the end of the record (otherwise the plane
// search and its reference take the record as they do).
bool neuro_position_applies(const Board& b);

// The neural root with the position search: the same line values as the
// plane search (bias + score of each move, alternating, 1.05 a ply, +-0.1 at
// the end, a pass turning the sign), the root move and four further plies,
// alpha-beta with the children of a node evaluated together. Evaluations run
// on the processor, with the GPU too.
int think_neuro_position(SearchContext& ctx, const ThinkOptions& options);

// The value of root square s of b (b's side to move) from the side to move
// after it, full width: the search's reference.
float neuro_position_reference(const NeuralNet& net, const Board& b, int s);
