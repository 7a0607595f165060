// 64-bit square sets for the fast searches: bit s is the square
// s = 8 (row - 1) + (column - 1), so that iterating the bits upwards visits
// the squares in the order of the plane's rows and columns.
#pragma once

#include <bit>
#include <cstdint>
#include <utility>

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

// `from` extended along direction d over the contiguous stones of `through`
// (a run is at most six stones long): three doubling steps instead of a walk.
constexpr uint64_t run_from(uint64_t from, uint64_t through, Shift d) {
  const auto step = [d](uint64_t set, int times) {
    return d.bits > 0 ? set << (d.bits * times) : set >> (-d.bits * times);
  };
  // A square passes a stone on when it holds one and a shift may land on it.
  uint64_t pass = through & d.mask;
  uint64_t run = from | (pass & step(from, 1));
  pass &= step(pass, 1);
  run |= pass & step(run, 2);
  pass &= step(pass, 2);
  run |= pass & step(run, 4);
  return run;
}

// The squares on which `me` may play against `opp`.
constexpr uint64_t legal_moves(uint64_t me, uint64_t opp) {
  const uint64_t empty = ~(me | opp);
  uint64_t moves = 0;
  for (const Shift d : kShifts) moves |= shifted(run_from(me, opp, d) & opp, d) & empty;
  return moves;
}

// The stones of `opp` that `me` turns by playing on square sq (0 when none).
constexpr uint64_t flips_of(uint64_t me, uint64_t opp, int sq) {
  const uint64_t from = uint64_t{1} << sq;
  uint64_t flips = 0;
  for (const Shift d : kShifts) {
    const uint64_t run = run_from(from, opp, d);
    // The line turns when the square after its last stone holds one of me.
    const uint64_t closed = (shifted(run, d) & me) != 0 ? ~uint64_t{0} : 0;
    flips |= run & ~from & closed;
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

// True when a line of a search from b (the move and `plies` further moves)
// could reach ply 60 with empty squares left. In a game record the stones
// are always ply + 4, so the board is full at ply 60; only a record whose ply
// runs ahead of its stones gets there early, and there play() refuses every
// move and check_end() ends the game. The fast searches leave such records to
// the references.
inline bool ply_may_run_out(const Board& b, int plies) {
  const int32_t* p = current_plane(b);
  return b.ply + 1 + plies >= kMaxPly && count_of(stones_of(p, 1) | stones_of(p, 2)) < b.ply + 4;
}
inline int lowest_square(uint64_t set) { return std::countr_zero(set); }

// Moves the full-width searches play below the node where x is to move (the
// player who just moved is y), whose replies are played while depth < limit
// (without limit when limit < 0); a forced pass lets y move again at the
// same depth. The size of the references' trees, for tests and benchmarks.
inline uint64_t tree_moves(uint64_t x, uint64_t y, int depth, int limit) {
  if (limit >= 0 && depth >= limit) return 0;
  uint64_t moves = legal_moves(x, y);
  if (moves == 0) {
    moves = legal_moves(y, x);
    std::swap(x, y);
  }
  uint64_t n = 0;
  for (; moves != 0; moves &= moves - 1) {
    const int s = lowest_square(moves);
    const uint64_t placed = flips_of(x, y, s) | uint64_t{1} << s;
    n += 1 + tree_moves(y & ~placed, x | placed, depth + 1, limit);
  }
  return n;
}

// The moves of the tree of root move s of b searched from `depth`, s included.
inline uint64_t root_tree_moves(const Board& b, int s, int depth, int limit) {
  const int32_t* p = current_plane(b);
  const uint64_t me = stones_of(p, b.side), opp = stones_of(p, other_colour(b.side));
  const uint64_t placed = flips_of(me, opp, s) | uint64_t{1} << s;
  return 1 + tree_moves(opp & ~placed, me | placed, depth, limit);
}
