// The traditional engine's deep search: a full-width negamax over the square
// weights of the moves of a line, each ply worth 65/64 of the one before.
#include <cstdio>

#include "game/random.h"
#include "search/bitboard.h"
#include "search/search.h"

// clang-format off
const int square_weights[64] = {
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

namespace {

void refuse_deep() { std::fputs("Error: unknown loop in deep...\n", stderr); }

// ---- The reference: the search written over the board operations. ----

int deep_reference_replies(SearchContext& ctx, Board& b, int depth) {
  int best = kNoScore;
  for (int i = 0; i < 64; ++i) {
    const int row = square_row(i), col = square_col(i);
    if ((current_plane(b)[cell_index(row, col)] & kLegalMark) == 0) continue;
    int v = square_weights[i];
    if (depth < kDeepLimit) v -= deep_search_reference(ctx, b, depth + 1, row, col);
    if (v > best) {
      best = v;
    } else if (v == best && tie_draw()) {
      best = v;
    }
  }
  return best;
}

// ---- The fast search: the same tree over square sets. ----
// me and opp are the stones of the side to move and of the other side; ply
// counts the moves played as on the board (the board is full at ply 60).

int deep_fast(uint64_t me, uint64_t opp, int ply, int depth, int sq, uint64_t& nodes);

// The best reply value of `me` over `moves`; ties draw as in the reference.
int deep_fast_replies(uint64_t me, uint64_t opp, int ply, int depth, uint64_t moves, uint64_t& nodes) {
  int best = kNoScore;
  for (; moves != 0; moves &= moves - 1) {
    const int s = lowest_square(moves);
    int v = square_weights[s];
    if (depth < kDeepLimit) v -= deep_fast(me, opp, ply, depth + 1, s, nodes);
    if (v > best) {
      best = v;
    } else if (v == best) {
      tie_draw();  // the value stays; the draw is consumed
    }
  }
  return best;
}

int deep_fast(uint64_t me, uint64_t opp, int ply, int depth, int sq, uint64_t& nodes) {
  // play() refuses every move once the board is full and every move that turns nothing.
  const uint64_t flips = ply < kMaxPly ? flips_of(me, opp, sq) : 0;
  if (flips == 0) {
    refuse_deep();
    return 0;
  }
  ++nodes;
  const uint64_t placed = flips | (uint64_t{1} << sq);
  const uint64_t next_me = opp & ~placed;  // the opponent is to move now
  const uint64_t next_opp = me | placed;
  ++ply;
  int best;
  if (const uint64_t moves = legal_moves(next_me, next_opp); moves != 0) {
    best = deep_fast_replies(next_me, next_opp, ply, depth, moves, nodes);
  } else if (const uint64_t again = ply < kMaxPly ? legal_moves(next_opp, next_me) : 0; again != 0) {
    // A forced pass: the mover moves again, and the pass counts as a ply.
    best = -scale_ply(deep_fast_replies(next_opp, next_me, ply, depth, again, nodes));
  } else {
    best = count_of(next_me) > count_of(next_opp) ? kEndBonus : -kEndBonus;
  }
  return scale_ply(best);
}

}  // namespace

int deep_search_reference(SearchContext& ctx, Board& b, int depth, int row, int col) {
  if (!on_board(row, col) || play(b, row, col) == 0) {
    refuse_deep();
    return 0;
  }
  int best = deep_reference_replies(ctx, b, depth);
  if (best == kNoScore) {
    if (check_end(b)) {
      const int own = b.side == 1 ? b.discs1 : b.discs2;
      const int other = b.side == 1 ? b.discs2 : b.discs1;
      best = own > other ? kEndBonus : -kEndBonus;
    } else {
      // check_end passed the turn back to the player who played (row, column).
      best = deep_reference_replies(ctx, b, depth);
      hand_over(b);
      best = -scale_ply(best);
    }
  }
  take_back(b);
  return scale_ply(best);
}

int deep_search_counted(const Board& b, int depth, int row, int col, uint64_t& nodes) {
  const int sq = playable_square(b, row, col);
  if (sq < 0) {
    refuse_deep();
    return 0;
  }
  const int32_t* plane = current_plane(b);
  return deep_fast(stones_of(plane, b.side), stones_of(plane, 3 - b.side), b.ply, depth, sq, nodes);
}

int deep_search(SearchContext& /*ctx*/, Board& b, int depth, int row, int col) {
  uint64_t nodes = 0;
  return deep_search_counted(b, depth, row, col, nodes);
}
