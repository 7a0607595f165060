// 64-bit square sets for the fast searches: bit s is the square
// s = 8 (row - 1) + (column - 1), so that iterating the bits upwards visits
// the squares in the order of the plane's rows and columns.
#pragma once

#include <bit>
#include <cstdint>

#include "game/board.h"

// One direction of the board as a shift of the set; the mask drops the
// squares that a shift along a row would wrap onto the next row.
struct Shift {
  int bits;       // > 0 shifts up (towards square 63), < 0 down
  uint64_t mask;  // squares a shifted set may land on
};

inline constexpr uint64_t kNotColumn1 = 0xfefefefefefefefeull;
inline constexpr uint64_t kNotColumn8 = 0x7f7f7f7f7f7f7f7full;

// The eight neighbour directions, in the order of the cell offsets -11, -10,
// -9, -1, +1, +9, +10, +11 (which order is irrelevant to the sets; kept for
// the reader).
inline constexpr Shift kShifts[8] = {
    {-9, kNotColumn8}, {-8, ~0ull},      {-7, kNotColumn1}, {-1, kNotColumn8},
    {1, kNotColumn1},  {7, kNotColumn8}, {8, ~0ull},        {9, kNotColumn1},
};

constexpr uint64_t shifted(uint64_t set, Shift d) {
  return (d.bits > 0 ? set << d.bits : set >> -d.bits) & d.mask;
}

// The squares on which `me` may play against `opp`.
constexpr uint64_t legal_moves(uint64_t me, uint64_t opp) {
  const uint64_t empty = ~(me | opp);
  uint64_t moves = 0;
  for (const Shift d : kShifts) {
    uint64_t run = shifted(me, d) & opp;
    for (int i = 0; i < 5; ++i) run |= shifted(run, d) & opp;
    moves |= shifted(run, d) & empty;
  }
  return moves;
}

// The stones of `opp` that `me` turns by playing on square sq (0 when none).
constexpr uint64_t flips_of(uint64_t me, uint64_t opp, int sq) {
  const uint64_t from = uint64_t{1} << sq;
  uint64_t flips = 0;
  for (const Shift d : kShifts) {
    uint64_t line = 0;
    uint64_t x = shifted(from, d);
    while (x & opp) {
      line |= x;
      x = shifted(x, d);
    }
    if (x & me) flips |= line;
  }
  return flips;
}

// The stones of one colour (1 or 2) on a plane.
inline uint64_t stones_of(const int32_t* plane, int colour) {
  uint64_t set = 0;
  for (int s = 0; s < 64; ++s)
    if ((plane[cell_index(square_row(s), square_col(s))] & kStoneMask) == colour) set |= uint64_t{1} << s;
  return set;
}

// True for the rows and columns 1..8 of the squares.
constexpr bool on_board(int row, int col) { return row >= 1 && row <= 8 && col >= 1 && col <= 8; }

// The square of (row, column) when play() would look at its stones: on the
// board, before the board is full and with the legal-move mark; else -1.
inline int playable_square(const Board& b, int row, int col) {
  if (!on_board(row, col) || b.ply >= kMaxPly) return -1;
  if ((current_plane(b)[cell_index(row, col)] & kLegalMark) == 0) return -1;
  return square_of(row, col);
}

inline int count_of(uint64_t set) { return std::popcount(set); }
inline int lowest_square(uint64_t set) { return std::countr_zero(set); }
