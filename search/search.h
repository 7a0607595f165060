// The recursive searches that score one root move: the traditional engine's
// deep search over square weights and the exact endgame search.
#pragma once

#include <cstdint>

#include "game/board.h"
#include "search/search_context.h"
#include "search/search_table.h"

// No score yet: the start value of every best-of loop.
inline constexpr int kNoScore = -10000000;
// The deep search recurses while depth < kDeepLimit: the root move plus six plies.
inline constexpr int kDeepLimit = 5;
// A line that ends the game is worth this much to the winner (a draw is a loss).
inline constexpr int kEndBonus = 150;
// Past this ply (11 or fewer empty squares) both engines solve the game exactly.
inline constexpr int kEndgamePly = 48;

// The traditional engine's value of a move on each square, s = 8 (row - 1) + (column - 1).
// clang-format off
inline constexpr int square_weights[64] = {
    100, -10,  -3,  -2,  -2,  -3, -10, 100,
    -10, -20,  -1,   0,   0,  -1, -20, -10,
     -3,  -1,   1,   2,   2,   1,  -1,  -3,
     -2,   0,   2,   0,   0,   2,   0,  -2,
     -2,   0,   2,   0,   0,   2,   0,  -2,
     -3,  -1,   1,   2,   2,   1,  -1,  -3,
    -10, -20,  -1,   0,   0,  -1, -20, -10,
    100, -10,  -3,  -2,  -2,  -3, -10, 100,
};
// clang-format on

// One ply's weight: 65/64 of the value, floored (arithmetic shift).
constexpr int scale_ply(int v) { return (v * 65) >> 6; }

// scale_ply is strictly increasing. The greatest x with scale_ply(x) <= a,
// and the least x with scale_ply(x) >= b: floor(65 x / 64) <= a exactly when
// 65 x <= 64 a + 63, and >= b exactly when 65 x >= 64 b.
constexpr int floor_div65(int64_t n) { return static_cast<int>(n >= 0 ? n / 65 : -((-n + 64) / 65)); }
constexpr int unscale_at_most(int a) { return floor_div65(64 * static_cast<int64_t>(a) + 63); }
constexpr int unscale_at_least(int b) { return -floor_div65(-64 * static_cast<int64_t>(b)); }

// True when the game has reached the exact endgame (ply > 48), where both
// engines use think_final.
inline bool endgame_due(const Board& b) { return b.ply > kEndgamePly; }

// The searches' error lines: "Error: unknown loop in deep...\n" and
// "Error: unknown loop in final...\n". Each is printed the first
// kSearchMessageLimit times it is met in a run, the next time replaced by a
// note that it is not shown again, and then never, on any thread.
inline constexpr int kSearchMessageLimit = 10;
enum class SearchMessage { deep, final };
void search_message(SearchMessage m);
// Lets each line be printed kSearchMessageLimit times again, as at the start
// of a run (for a comparison of the lines of two searches).
void search_messages_reset();

// Scores the move (row, column) of the side to move: the alternating, scaled
// sum of the square weights of the best line below it, from the point of view
// of the player who is to move after it. depth is 0 for a root move. A square
// without the legal-move mark prints "Error: unknown loop in deep...\n" and
// scores 0. The board is only read; ctx.stop ends the search as it ends an
// engine call (any value will do then).
int deep_search(SearchContext& ctx, const Board& board, int depth, int row, int col);

// Solves the game after the move (row, column): the final disc difference
// (empty squares count for nobody) from the point of view of the player who
// is to move after it, under best play. A square without the legal-move mark
// prints "Error: unknown loop in final...\n" and scores 0. The board is only
// read; ctx.stop as for deep_search.
int final_search(SearchContext& ctx, const Board& board, int row, int col);

// The same two searches written directly over play, take_back, check_end and
// hand_over, kept as the reference of the fast ones: full width, in square
// order, drawing one rand15() for every tie inside the tree (a tie keeps the
// value it ties with, so the draws never change a value; the fast searches
// make none). They leave the position as given (planes up to ply, side,
// counts and marks); like any play and take-back they rewrite the scratch
// planes above ply, the move cells 1..3 of the current plane, the cursor and
// pass_flag.
int deep_search_reference(SearchContext& ctx, Board& board, int depth, int row, int col);
int final_search_reference(SearchContext& ctx, Board& board, int row, int col);

// The fast searches with a window and the calling thread's table: the exact
// value v when alpha < v < beta; otherwise a bound on the same side, r with
// v <= r <= alpha or beta <= r <= v. The moves they play are added to
// tables.nodes. A record whose ply runs ahead of its stones (so that play()
// could refuse a move inside the tree) is searched by the reference instead,
// on a copy, with its messages.
int deep_search_window(SearchTables& tables, const Board& board, int depth, int row, int col, int alpha,
                       int beta);
int final_search_window(SearchTables& tables, const Board& board, int row, int col, int alpha, int beta);
