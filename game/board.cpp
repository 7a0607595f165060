#include "game/board.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

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
  return legal_at(b.planes[b.ply], cell_index(row, col), b.side, other_colour(b.side)) ? 1 : 0;
}

int mark_legal(Board& b) {
  int32_t* p = b.planes[b.ply];
  const int32_t* prev = b.ply > 0 ? b.planes[b.ply - 1] : nullptr;
  const int me = b.side;
  const int opp = other_colour(me);
  int counts[4] = {0, 0, 0, 0};  // [3]: a broken record's stone 3 stays inside the array
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
    b.side = other_colour(b.side);
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
  const int opp = other_colour(me);
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
  TAVIMOR_CHECK_BOARD(b);
  return directions;
}

int hand_over(Board& b) {
  b.side = other_colour(b.side);
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
    TAVIMOR_CHECK_BOARD(b);
    return 1;
  }
  b.side = other_colour(b.side);
  mark_legal(b);
  std::fputs("error: unknown data after untake...\n", stderr);
  return 1;
}

namespace {

int stones_on(const int32_t* p) {
  int n = 0;
  for (int row = 1; row <= 8; ++row)
    for (int col = 1; col <= 8; ++col) n += (p[cell_index(row, col)] & kStoneMask) != 0;
  return n;
}

bool same_stones(const int32_t* p, const int32_t* q) {
  for (int row = 1; row <= 8; ++row)
    for (int col = 1; col <= 8; ++col)
      if (((p[cell_index(row, col)] ^ q[cell_index(row, col)]) & kStoneMask) != 0) return false;
  return true;
}

}  // namespace

bool record_replays(const Board& b) {
  if (b.ply < 0 || b.ply > kMaxPly || (b.side != 1 && b.side != 2)) return false;
  // The position the game starts from: the planes below its first recorded move.
  int first = 0;
  while (first < b.ply && record_get(b.planes[first], kRecRow) == 0) ++first;
  const int32_t* start = b.planes[first];
  // A position set up at a later ply holds at least ply + 4 stones, so that
  // the board is full by ply 60; only plane 0 may hold fewer (by at most 4).
  if (first > 0 && stones_on(start) < first + 4) return false;
  for (int k = 0; k < first; ++k)
    if (!same_stones(b.planes[k], start)) return false;

  // The game is played again on a board of its own, from the stones alone.
  const auto r = std::make_unique<Board>();
  r->ply = first;
  for (int row = 1; row <= 8; ++row) {
    for (int col = 1; col <= 8; ++col) {
      const int c = cell_index(row, col);
      if ((start[c] & kStoneMask) == 3) return false;
      r->planes[first][c] = start[c] & kStoneMask;
    }
  }
  r->side = first < b.ply ? record_get(start, kRecMover) : b.side;  // a position set up may begin with either
  if (r->side != 1 && r->side != 2) return false;
  mark_legal(*r);
  for (int k = first; k < b.ply; ++k) {
    const int32_t* p = b.planes[k];
    const int mover = record_get(p, kRecMover);
    if (mover != r->side) {
      // The other side moves again only when the side to move has no move.
      if (mover != other_colour(r->side) || record_get(r->planes[k], kRecMoves) != 0) return false;
      hand_over(*r);
    }
    if (play(*r, record_get(p, kRecRow), record_get(p, kRecCol)) == 0) return false;
    if (!same_stones(r->planes[k + 1], b.planes[k + 1])) return false;
  }
  // After the last move its opponent is to move, or the mover again when the opponent has to pass.
  if (b.side != r->side && record_get(r->planes[b.ply], kRecMoves) != 0) return false;
  return b.discs1 == r->discs1 && b.discs2 == r->discs2;
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

namespace {

std::string fault(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string fault(const char* fmt, ...) {
  char text[160];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  return text;
}

// "d3": the row's letter and the column's digit, as the console names squares.
std::string square_name(int c) {
  return {static_cast<char>('a' + c / 10 - 1), static_cast<char>('0' + c % 10)};
}

}  // namespace

std::string board_fault(const Board& b) {
  if (b.ply < 0 || b.ply > kMaxPly) return fault("ply: %d is outside 0..%d", b.ply, kMaxPly);
  if (b.side != 1 && b.side != 2) return fault("side to move: %d is neither 1 nor 2", b.side);
  const int32_t* p = b.planes[b.ply];
  int counts[3] = {0, 0, 0};
  int moves = 0;
  for (int c = 0; c < kPlaneCells; ++c) {
    const int row = c / 10, col = c % 10;
    const bool inner = row >= 1 && row <= 8 && col >= 1 && col <= 8;
    if (!inner) {
      if ((p[c] & kLowBits) != 0 || (c > kRecMoves && p[c] != 0))
        return fault("clear frame: cell %d holds 0x%x", c, static_cast<unsigned>(p[c]));
      continue;
    }
    const int stone = p[c] & kStoneMask;
    const std::string sq = square_name(c);
    if (stone == 3) return fault("stones: stone 3 on %s", sq.c_str());
    if ((p[c] & ~kLowBits) != 0)
      return fault("cell bits: 0x%x above the marks on %s", static_cast<unsigned>(p[c] & ~kLowBits),
                   sq.c_str());
    ++counts[stone];
    const bool legal = legal_at(p, c, b.side, other_colour(b.side));
    if (legal != ((p[c] & kLegalMark) != 0))
      return fault(legal ? "legal marks: no mark on %s where the move is legal"
                         : "legal marks: a mark on %s where no move is legal",
                   sq.c_str());
    moves += legal;
    const bool changed = b.ply > 0 && (b.planes[b.ply - 1][c] & kStoneMask) != stone;
    if (changed != ((p[c] & kChangedMark) != 0))
      return fault(changed ? "changed marks: no mark on %s where the stone changed"
                           : "changed marks: a mark on %s where the stone did not change",
                   sq.c_str());
  }
  if (counts[1] != b.discs1 || counts[2] != b.discs2)
    return fault("disc counts: %d and %d recorded, %d and %d on the plane", b.discs1, b.discs2, counts[1],
                 counts[2]);
  if (record_get(p, kRecMoves) != moves)
    return fault("recorded moves: %d recorded, %d legal", record_get(p, kRecMoves), moves);
  if (record_get(p, kRecMover) != b.side)
    return fault("recorded mover: %d recorded, side to move %d", record_get(p, kRecMover), b.side);
  return {};
}

void check_board(const Board& b, const char* file, int line) {
  const std::string broken = board_fault(b);
  if (broken.empty()) return;
  std::fprintf(stderr, "%s:%d: board invariant broken at ply %d: %s\n", file, line, b.ply, broken.c_str());
  std::abort();
}
