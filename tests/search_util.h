// Helpers for the search tests: built positions, random games and a context.
#pragma once

#include <omp.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "board_util.h"
#include "game/board.h"
#include "search/search_context.h"

// A context on `board` without the network and without reseeding.
inline SearchContext context_for(Board& board) { return SearchContext{&board, nullptr, 0}; }

// A board at `ply` whose current plane holds `text` (see set_position).
inline std::unique_ptr<Board> position_at(int ply, const std::string& text, int side) {
  auto b = fresh_board();
  b->ply = ply;
  set_position(*b, text, side);
  return b;
}

// The legal squares of the side to move, in increasing order.
inline int legal_squares(const Board& b, int* squares) {
  int n = 0;
  for (int s = 0; s < 64; ++s)
    if (current_plane(b)[cell_index(square_row(s), square_col(s))] & kLegalMark) squares[n++] = s;
  return n;
}

// Plays random legal moves from the start position until `ply` moves have
// been played, passing when forced. False when the game ended first.
inline bool random_game(Board& b, int ply, uint32_t seed) {
  std::mt19937 rng(seed);
  new_game(b);
  while (b.ply < ply) {
    if (check_end(b)) return false;
    int squares[64];
    const int s = squares[rng() % legal_squares(b, squares)];
    play(b, square_row(s), square_col(s));
  }
  return check_end(b) == 0;  // the side to move can move
}

inline bool same_record(const Board& a, const Board& b) { return std::memcmp(&a, &b, sizeof(Board)) == 0; }

// Sets the number of worker threads of the root loops for one scope.
struct WorkerThreads {
  int saved = omp_get_max_threads();
  explicit WorkerThreads(int n) { omp_set_num_threads(n); }
  ~WorkerThreads() { omp_set_num_threads(saved); }
};

// Small built positions, row 1 first; the squares not written are empty.
// O (colour 1) is to move in all of them.

// O's only move is (1,3), turning (1,2). X, with its one stone at (1,4),
// cannot move; O moves again at (1,5), turning (1,4): X has no stones left
// and the game is over, O 5 to X 0.
inline const std::string kForcedPass = "OX.X";

// Two moves that mirror each other across the main diagonal: (1,3) turning
// (1,2) and (3,1) turning (2,1). Either way X passes, O plays the mirror move
// and the game ends 5 to 0.
inline const std::string kMirror = "OX......X";

// O plays (1,3), turning (1,2): X has no stones left, the game ends 3 to 0
// with 61 empty squares.
inline const std::string kEarlyEnd = "OX";

// As kEarlyEnd, with three X stones at the end of row 8 that nobody can
// reach: after (1,3) neither side can move and the game ends 3 to 3.
inline const std::string kEarlyDraw = "OX" + std::string(59, '.') + "XXX";
