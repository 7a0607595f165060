// The three singletons of the process: the game record, the network and the
// search context bound to both.
#pragma once

#include "game/board.h"
#include "nn/neural_net.h"
#include "search/search_context.h"

extern Board g_board;
extern NeuralNet g_net;
extern SearchContext g_ctx;
