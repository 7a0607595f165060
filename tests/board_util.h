// Helpers for building positions in tests.
#pragma once

#include <memory>
#include <string>

#include "game/board.h"

// A board on the heap (24 KB each), in the start position with the default settings.
inline std::unique_ptr<Board> fresh_board() {
  auto b = std::make_unique<Board>();
  new_game(*b);
  b->computer_colour = 2;
  b->engine = 1;
  return b;
}

// Sets the current plane from 64 characters, row 1 first: '.' empty, 'O'
// colour 1, 'X' colour 2 (whitespace ignored), with `side` to move recorded
// on the plane, the disc counts and the marks recomputed. The plane below (if
// any) is left as it was.
inline void set_position(Board& b, const std::string& text, int side) {
  int32_t* p = b.planes[b.ply];
  for (int c = 0; c < kPlaneCells; ++c) p[c] = 0;
  int s = 0;
  for (char ch : text) {
    if (ch == ' ' || ch == '\n') continue;
    const int c = cell_index(square_row(s), square_col(s));
    p[c] = ch == 'O' ? 1 : ch == 'X' ? 2 : 0;
    ++s;
  }
  b.side = side;
  record_set(p, kRecMover, side);
  b.discs1 = b.discs2 = 0;
  for (int q = 0; q < 64; ++q) {
    const int stone = p[cell_index(square_row(q), square_col(q))] & kStoneMask;
    b.discs1 += stone == 1;
    b.discs2 += stone == 2;
  }
  mark_legal(b);
}

// Legal squares of the current plane as a 64-bit set.
inline uint64_t legal_set(const Board& b) {
  uint64_t set = 0;
  for (int s = 0; s < 64; ++s)
    if (b.planes[b.ply][cell_index(square_row(s), square_col(s))] & kLegalMark) set |= uint64_t{1} << s;
  return set;
}
