// The game flow every front end shares: the human's move, which also counts
// for the neural engine's learning, the next game, the take-back, the result
// and a fresh game. The computer's turn is computer_move (search/engine.h).
#pragma once

#include <string>

#include "game/board.h"

// The fresh game of a run without a data file: the start position, the
// computer on colour 2 with the neural engine, no pass, colour scheme 0.
void fresh_game(Board& b);

// The human's move at (row, col). When it is legal it is played and counts as
// a move of the neural engine's opponent; false, with the board unchanged,
// when it is not.
bool human_move(Board& b, int row, int col);

// The last move on b counts as a move of the neural engine's opponent when
// a colour other than `neural_colour` played it (0: the neural engine has not
// played yet, and nothing counts).
void count_opponent_move(const Board& b, int neural_colour);

// A session or a game whose earlier moves teach the network nothing.
void forget_opponent_moves();

// The next game: the start position with the colours swapped.
void next_game(Board& b);

// Back to the last position in which the human was to move: normally the
// computer's last move and the human's; nothing at the start position.
void take_back_to_human(Board& b);

// The result of the game on b: "GAME OVER. " and "`me` win N points." when
// the computer's colour has more stones, "`you` win N points." when the other
// has, or "draw game...".
std::string result_line(const Board& b, const char* me, const char* you);
