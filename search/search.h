// The recursive searches that score one root move: the traditional engine's
// deep search over square weights and the exact endgame search.
#pragma once

#include <cstdint>

#include "game/board.h"
#include "search/search_context.h"

// No score yet: the start value of every best-of loop.
inline constexpr int kNoScore = -10000000;
// The deep search recurses while depth < kDeepLimit: the root move plus six plies.
inline constexpr int kDeepLimit = 5;
// A line that ends the game is worth this much to the winner (a draw is a loss).
inline constexpr int kEndBonus = 150;
// Past this ply (11 or fewer empty squares) both engines solve the game exactly.
inline constexpr int kEndgamePly = 48;

// The traditional engine's value of a move on each square, s = 8 (row - 1) + (column - 1).
extern const int square_weights[64];

// One ply's weight: 65/64 of the value, floored (arithmetic shift).
constexpr int scale_ply(int v) { return (v * 65) >> 6; }

// True when the game has reached the exact endgame (ply > 48), where both
// engines use think_final.
inline bool endgame_due(const Board& b) { return b.ply > kEndgamePly; }

// Scores the move (row, column) of the side to move: the alternating, scaled
// sum of the square weights of the best line below it, from the point of view
// of the player who is to move after it. depth is 0 for a root move. A square
// without the legal-move mark prints "Error: unknown loop in deep...\n" and
// scores 0. Draws one rand15() for every tie inside the tree. The board is
// only read.
int deep_search(SearchContext& ctx, Board& board, int depth, int row, int col);

// Solves the game after the move (row, column): the final disc difference
// (empty squares count for nobody) from the point of view of the player who
// is to move after it, under best play. A square without the legal-move mark
// prints "Error: unknown loop in final...\n" and scores 0. Draws like
// deep_search. The board is only read.
int final_search(SearchContext& ctx, Board& board, int row, int col);

// The same two searches written directly over play, take_back, check_end and
// hand_over, kept as the reference of the fast ones: the same values and the
// same rand15() draws. They leave the position as given (planes up to ply,
// side, counts and marks); like any play and take-back they rewrite the
// scratch planes above ply, the move cells 1..3 of the current plane, the
// cursor and pass_flag.
int deep_search_reference(SearchContext& ctx, Board& board, int depth, int row, int col);
int final_search_reference(SearchContext& ctx, Board& board, int row, int col);

// deep_search and final_search that also add the number of moves they play
// (the nodes of the tree, the scored move included) to `nodes`.
int deep_search_counted(const Board& board, int depth, int row, int col, uint64_t& nodes);
int final_search_counted(const Board& board, int row, int col, uint64_t& nodes);
