// The exact endgame search: every line is played to the end of the game and
// scored by the final disc difference.
#include <memory>

#include "game/random.h"
#include "search/bitboard.h"
#include "search/search.h"

namespace {

void refuse_final() { search_message(SearchMessage::final); }

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

// ---- The fast search: the same values over square sets, with pruning. ----
//
// A node is the position after a move, x to move: its value, seen from x, is
// the greatest of minus the values of x's replies (a plain negamax, so
// alpha-beta, fail-soft, applies as it stands).

// Positions with at least this many empty squares keep their bounds in the
// table and try their replies in the order of the opponent's mobility.
constexpr int kTableEmpties = 6;

int final_node(SearchTables& t, uint64_t x, uint64_t y, int alpha, int beta);

// The best of x's replies `moves` (not empty) within (alpha, beta), fail-soft.
int final_replies(SearchTables& t, uint64_t x, uint64_t y, uint64_t moves, int alpha, int beta, int first,
                  int& cut) {
  int best = -kDeepInfinity;
  const auto cuts = [&](int s) {
    const uint64_t placed = flips_of(x, y, s) | uint64_t{1} << s;
    ++t.nodes;
    const int floor = best > alpha ? best : alpha;
    const int v = -final_node(t, y & ~placed, x | placed, -beta, -floor);
    if (v > best) {
      best = v;
      cut = s;
    }
    return best >= beta;
  };
  if (first >= 0 && (moves >> first & 1) != 0) {
    if (cuts(first)) return best;
    moves &= ~(uint64_t{1} << first);
  }
  if (count_of(~(x | y)) < kTableEmpties) {
    for (; moves != 0; moves &= moves - 1)
      if (cuts(lowest_square(moves))) return best;
    return best;
  }
  // Replies that leave the opponent the fewest moves first: they tend to be
  // the best, and they cut the most.
  int order[32];
  int keys[32];
  int n = 0;
  for (; moves != 0; moves &= moves - 1) {
    const int s = lowest_square(moves);
    const uint64_t placed = flips_of(x, y, s) | uint64_t{1} << s;
    const int key = count_of(legal_moves(y & ~placed, x | placed));
    int k = n++;
    for (; k > 0 && keys[k - 1] > key; --k) {
      keys[k] = keys[k - 1];
      order[k] = order[k - 1];
    }
    keys[k] = key;
    order[k] = s;
  }
  for (int k = 0; k < n; ++k)
    if (cuts(order[k])) return best;
  return best;
}

int final_node(SearchTables& t, uint64_t x, uint64_t y, int alpha, int beta) {
  if (stop_requested(t.stop)) return 0;  // the engine call is abandoned: any value will do
  TableEntry* slot = nullptr;
  int first = -1;
  if (count_of(~(x | y)) >= kTableEmpties) {
    slot = table_slot(t, x, y, kFinalKind);
    if (int known; table_probe(slot, x, y, kFinalKind, alpha, beta, first, known)) return known;
  }
  int cut = -1;
  int value;
  if (const uint64_t moves = legal_moves(x, y); moves != 0) {
    value = final_replies(t, x, y, moves, alpha, beta, first, cut);
  } else if (const uint64_t again = legal_moves(y, x); again != 0) {
    value = -final_replies(t, y, x, again, -beta, -alpha, first, cut);  // a forced pass
  } else {
    return count_of(x) - count_of(y);  // the game is over
  }
  table_store(slot, x, y, kFinalKind, alpha, beta, value, cut);
  return value;
}

}  // namespace

int final_search_reference(SearchContext& ctx, Board& b, int row, int col) {
  if (stop_requested(ctx.stop)) return 0;  // the engine call is abandoned: b as given
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

int final_search_window(SearchTables& tables, const Board& b, int row, int col, int alpha, int beta) {
  const int sq = playable_square(b, row, col);
  if (sq < 0) {
    refuse_final();
    return 0;
  }
  if (ply_may_run_out(b, kMaxPly)) {
    const auto copy = std::make_unique<Board>(b);
    SearchContext ctx{copy.get(), nullptr, 0, tables.stop};
    return final_search_reference(ctx, *copy, row, col);
  }
  const int32_t* plane = current_plane(b);
  const uint64_t me = stones_of(plane, b.side), opp = stones_of(plane, other_colour(b.side));
  const uint64_t flips = flips_of(me, opp, sq);
  if (flips == 0) {  // a stale mark: play() would turn nothing and refuse
    refuse_final();
    return 0;
  }
  const uint64_t placed = flips | uint64_t{1} << sq;
  ++tables.nodes;
  return final_node(tables, opp & ~placed, me | placed, alpha, beta);
}

int final_search(SearchContext& /*ctx*/, Board& b, int row, int col) {
  const auto tables = make_search_tables();
  return final_search_window(*tables, b, row, col, -kDeepInfinity, kDeepInfinity);
}
