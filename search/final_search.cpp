// The exact endgame search: every line is played to the end of the game and
// scored by the final disc difference.
#include <cstdio>

#include "game/random.h"
#include "search/bitboard.h"
#include "search/search.h"

namespace {

void refuse_final() { std::fputs("Error: unknown loop in final...\n", stderr); }

// ---- The reference: the search written over the board operations. ----

int final_reference_replies(SearchContext& ctx, Board& b) {
  int best = kNoScore;
  for (int i = 0; i < 64; ++i) {
    const int row = square_row(i), col = square_col(i);
    if ((current_plane(b)[cell_index(row, col)] & kLegalMark) == 0) continue;
    const int v = -final_search_reference(ctx, b, row, col);
    if (v > best) {
      best = v;
    } else if (v == best && tie_draw()) {
      best = v;
    }
  }
  return best;
}

// ---- The fast search over square sets (see deep_search.cpp). ----

int final_fast(uint64_t me, uint64_t opp, int ply, int sq, uint64_t& nodes);

int final_fast_replies(uint64_t me, uint64_t opp, int ply, uint64_t moves, uint64_t& nodes) {
  int best = kNoScore;
  for (; moves != 0; moves &= moves - 1) {
    const int v = -final_fast(me, opp, ply, lowest_square(moves), nodes);
    if (v > best) {
      best = v;
    } else if (v == best) {
      tie_draw();  // the value stays; the draw is consumed
    }
  }
  return best;
}

int final_fast(uint64_t me, uint64_t opp, int ply, int sq, uint64_t& nodes) {
  const uint64_t flips = ply < kMaxPly ? flips_of(me, opp, sq) : 0;
  if (flips == 0) {
    refuse_final();
    return 0;
  }
  ++nodes;
  const uint64_t placed = flips | (uint64_t{1} << sq);
  const uint64_t next_me = opp & ~placed;
  const uint64_t next_opp = me | placed;
  ++ply;
  if (const uint64_t moves = legal_moves(next_me, next_opp); moves != 0)
    return final_fast_replies(next_me, next_opp, ply, moves, nodes);
  if (const uint64_t again = ply < kMaxPly ? legal_moves(next_opp, next_me) : 0; again != 0)
    return -final_fast_replies(next_opp, next_me, ply, again, nodes);  // a forced pass
  return count_of(next_me) - count_of(next_opp);
}

}  // namespace

int final_search_reference(SearchContext& ctx, Board& b, int row, int col) {
  if (!on_board(row, col) || play(b, row, col) == 0) {
    refuse_final();
    return 0;
  }
  int best = final_reference_replies(ctx, b);
  if (best == kNoScore) {
    if (check_end(b)) {
      best = b.side == 1 ? b.discs1 - b.discs2 : b.discs2 - b.discs1;
    } else {
      // check_end passed the turn back to the player who played (row, column).
      const int again = final_reference_replies(ctx, b);
      hand_over(b);
      best = -again;
    }
  }
  take_back(b);
  return best;
}

int final_search_counted(const Board& b, int row, int col, uint64_t& nodes) {
  const int sq = playable_square(b, row, col);
  if (sq < 0) {
    refuse_final();
    return 0;
  }
  const int32_t* plane = current_plane(b);
  return final_fast(stones_of(plane, b.side), stones_of(plane, 3 - b.side), b.ply, sq, nodes);
}

int final_search(SearchContext& /*ctx*/, Board& b, int row, int col) {
  uint64_t nodes = 0;
  return final_search_counted(b, row, col, nodes);
}
