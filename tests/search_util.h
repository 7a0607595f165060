// Helpers for the search tests: built positions, random games and a context.
#pragma once

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
