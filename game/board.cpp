#include "game/board.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace {

// True when the walk from cell c in direction d flanks stones of opp with a
// stone of me.
inline bool flanks(const int32_t* p, int c, int d, int me, int opp) {
  if ((p[c + d] & kStoneMask) != opp) return false;
  for (int x = c + 2 * d;; x += d) {
    const int stone = p[x] & kStoneMask;
    if (stone == 0) return false;  // an empty or frame cell ends the walk
    if (stone == me) return true;
  }
}

inline bool legal_at(const int32_t* p, int c, int me, int opp) {
  if ((p[c] & kStoneMask) != 0) return false;
  for (int d : kDirections)
    if (flanks(p, c, d, me, opp)) return true;
  return false;
}

}  // namespace

int can_place(const Board& b, int row, int col) {
  return legal_at(b.planes[b.ply], cell_index(row, col), b.side, 3 - b.side) ? 1 : 0;
}

int mark_legal(Board& b) {
  int32_t* p = b.planes[b.ply];
  const int32_t* prev = b.ply > 0 ? b.planes[b.ply - 1] : nullptr;
  const int me = b.side;
  const int opp = 3 - me;
  int counts[3] = {0, 0, 0};
  int moves = 0;
  for (int row = 1; row <= 8; ++row) {
    for (int col = 1; col <= 8; ++col) {
      const int c = cell_index(row, col);
      const int stone = p[c] & kStoneMask;
      int cell = stone;
      if (stone == 0 && legal_at(p, c, me, opp)) {
        cell |= kLegalMark;
        ++moves;
      }
      if (prev != nullptr && (prev[c] & kStoneMask) != stone) cell |= kChangedMark;
      p[c] = cell;
      ++counts[stone];
    }
  }
  b.discs1 = counts[1];
  b.discs2 = counts[2];
  record_set(p, kRecOwnDiscs, me == 1 ? counts[1] : counts[2]);
  record_set(p, kRecOtherDiscs, me == 1 ? counts[2] : counts[1]);
  record_set(p, kRecMoves, moves);
  record_set(p, kRecMover, me);
  return moves;
}

void new_game(Board& b) {
  b.ply = 0;
  b.side = 1;
  b.cursor_row = 6;
  b.cursor_col = 5;
  std::memset(b.planes, 0, sizeof b.planes);
  int32_t* p = b.planes[0];
  p[45] = 1;
  p[54] = 1;
  p[44] = 2;
  p[55] = 2;
  record_set(p, kRecOwnDiscs, 2);
  record_set(p, kRecOtherDiscs, 2);
  record_set(p, kRecMoves, 2);
  if (mark_legal(b) == 0) {
    b.side = 3 - b.side;
    mark_legal(b);
    std::fputs("error: unknown data on memory...\n", stderr);
  }
}

bool new_game_from(Board& b, const int (&stones)[64], int side) {
  constexpr int kStartStones = 4;
  int count = 0;
  for (int v : stones) {
    if (v < 0 || v > 2) return false;
    count += v != 0;
  }
  if (count < kStartStones || (side != 1 && side != 2)) return false;
  b.ply = count - kStartStones;
  b.side = side;
  b.cursor_row = 6;
  b.cursor_col = 5;
  std::memset(b.planes, 0, sizeof b.planes);
  int32_t* p = b.planes[b.ply];
  for (int s = 0; s < 64; ++s) p[cell_index(square_row(s), square_col(s))] = stones[s];
  for (int k = 0; k < b.ply; ++k) {
    std::memcpy(b.planes[k], p, sizeof(int32_t) * kPlaneCells);
    record_set(b.planes[k], kRecMover, side);
  }
  mark_legal(b);
  return true;
}

int play(Board& b, int row, int col) {
  if (b.ply >= kMaxPly) return 0;
  if (row < 1 || row > 8 || col < 1 || col > 8) return 0;  // off the board: refused
  const int c = cell_index(row, col);
  int32_t* from = b.planes[b.ply];
  if ((from[c] & kLegalMark) == 0) return 0;
  int32_t* to = b.planes[b.ply + 1];
  std::memcpy(to, from, sizeof(int32_t) * kPlaneCells);
  const int me = b.side;
  const int opp = 3 - me;
  int directions = 0;
  for (int d : kDirections) {
    if (!flanks(to, c, d, me, opp)) continue;
    for (int x = c + d; (to[x] & kStoneMask) == opp; x += d) to[x] = (to[x] & ~kStoneMask) | me;
    ++directions;
  }
  if (directions == 0) return 0;
  to[c] = (to[c] & ~kStoneMask) | me;
  record_set(from, kRecMover, me);
  record_set(from, kRecRow, row);
  record_set(from, kRecCol, col);
  record_set(from, kRecDirections, directions);
  b.cursor_row = row;
  b.cursor_col = col;
  b.side = opp;
  b.ply += 1;
  mark_legal(b);
  assert(board_is_ok(b));
  return directions;
}

int hand_over(Board& b) {
  b.side = 3 - b.side;
  mark_legal(b);
  return b.side;
}

int check_end(Board& b) {
  b.pass_flag = 0;
  if (b.ply >= kMaxPly) return 1;
  if (mark_legal(b) > 0) return 0;
  hand_over(b);
  if (mark_legal(b) > 0) {
    b.pass_flag = 1;
    return 0;
  }
  hand_over(b);
  return 1;
}

int take_back(Board& b) {
  if (b.ply < 1) return 0;
  b.side = record_get(b.planes[b.ply - 1], kRecMover);
  b.ply -= 1;
  if (mark_legal(b) > 0) {
    assert(board_is_ok(b));
    return 1;
  }
  b.side = 3 - b.side;
  mark_legal(b);
  std::fputs("error: unknown data after untake...\n", stderr);
  return 1;
}

uint64_t perft(Board& b, int depth) {
  if (depth == 0) return 1;
  const int saved_side = b.side;
  const int saved_pass = b.pass_flag;
  if (check_end(b)) return 1;
  uint64_t leaves = 0;
  if (b.pass_flag) {
    // The pass is a ply of its own.
    leaves = perft(b, depth - 1);
  } else {
    const int32_t* p = b.planes[b.ply];
    for (int s = 0; s < 64; ++s) {
      const int row = square_row(s), col = square_col(s);
      if ((p[cell_index(row, col)] & kLegalMark) == 0) continue;
      play(b, row, col);
      leaves += perft(b, depth - 1);
      take_back(b);
    }
  }
  if (b.side != saved_side) hand_over(b);
  b.pass_flag = saved_pass;
  return leaves;
}

bool board_is_ok(const Board& b) {
  if (b.ply < 0 || b.ply > kMaxPly || (b.side != 1 && b.side != 2)) return false;
  const int32_t* p = b.planes[b.ply];
  int counts[3] = {0, 0, 0};
  int moves = 0;
  for (int c = 0; c < kPlaneCells; ++c) {
    const int row = c / 10, col = c % 10;
    const bool inner = row >= 1 && row <= 8 && col >= 1 && col <= 8;
    if (!inner) {
      if ((p[c] & kLowBits) != 0) return false;
      if (c > kRecMoves && p[c] != 0) return false;
      continue;
    }
    const int stone = p[c] & kStoneMask;
    if (stone == 3 || (p[c] & ~kLowBits) != 0) return false;
    ++counts[stone];
    const bool legal = legal_at(p, c, b.side, 3 - b.side);
    if (legal != ((p[c] & kLegalMark) != 0)) return false;
    moves += legal;
    const bool changed = b.ply > 0 && (b.planes[b.ply - 1][c] & kStoneMask) != stone;
    if (changed != ((p[c] & kChangedMark) != 0)) return false;
  }
  return counts[1] == b.discs1 && counts[2] == b.discs2 && record_get(p, kRecMoves) == moves &&
         record_get(p, kRecMover) == b.side;
}
