// The traditional engine's deep search: a negamax over the square weights of
// the moves of a line, each ply worth 65/64 of the one before; the reference
// full width over the board operations, the fast search with pruning over
// square sets.
#include <memory>

#include "game/random.h"
#include "search/bitboard.h"
#include "search/search.h"

namespace {

void refuse_deep() { search_message(SearchMessage::deep); }

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

// ---- The fast search: the same values over square sets, with pruning. ----
//
// A node is the position after a move, x to move and y the player who moved.
// Its value is scale_ply(best), best being the greatest weight - (value of
// the reply's node) over x's replies. scale_ply is strictly increasing on the
// integers, so a window on the value is a window on best, and alpha-beta
// (fail-soft) yields the exact value wherever it lies inside the window.

// The class of squares of each weight, greatest weight first: the replies
// are tried in that order, and at the depth limit the best reply is the
// first class that holds one.
struct WeightClasses {
  int count = 0;
  int weight[64] = {};
  uint64_t squares[64] = {};
};

constexpr WeightClasses make_weight_classes() {
  WeightClasses c;
  for (int s = 0; s < 64; ++s) {
    int k = 0;
    while (k < c.count && c.weight[k] > square_weights[s]) ++k;
    if (k == c.count || c.weight[k] != square_weights[s]) {
      for (int m = c.count; m > k; --m) {
        c.weight[m] = c.weight[m - 1];
        c.squares[m] = c.squares[m - 1];
      }
      c.weight[k] = square_weights[s];
      c.squares[k] = 0;
      ++c.count;
    }
    c.squares[k] |= uint64_t{1} << s;
  }
  return c;
}
constexpr WeightClasses kClasses = make_weight_classes();

// The greatest weight of a non-empty set of squares.
int greatest_weight(uint64_t moves) {
  int k = 0;
  while ((moves & kClasses.squares[k]) == 0) ++k;
  return kClasses.weight[k];
}

int deep_node(SearchTables& t, uint64_t x, uint64_t y, int depth, int alpha, int beta);

// The best of x's replies `moves` (not empty) within the window (a, b) on
// the best, fail-soft; `first` is tried first when it is one of them, and
// `cut` receives the best or cutting reply.
int deep_replies(SearchTables& t, uint64_t x, uint64_t y, int depth, uint64_t moves, int a, int b, int first,
                 int& cut) {
  if (depth >= kDeepLimit) return greatest_weight(moves);  // the replies are not played
  int best = -kDeepInfinity;
  const auto cuts = [&](int s) {
    const uint64_t placed = flips_of(x, y, s) | uint64_t{1} << s;
    ++t.nodes;
    const int w = square_weights[s];
    const int floor = best > a ? best : a;
    const int v = w - deep_node(t, y & ~placed, x | placed, depth + 1, w - b, w - floor);
    if (v > best) {
      best = v;
      cut = s;
    }
    return best >= b;
  };
  if (first >= 0 && (moves >> first & 1) != 0) {
    if (cuts(first)) return best;
    moves &= ~(uint64_t{1} << first);
  }
  for (int k = 0; k < kClasses.count; ++k)
    for (uint64_t m = moves & kClasses.squares[k]; m != 0; m &= m - 1)
      if (cuts(lowest_square(m))) return best;
  return best;
}

int deep_node(SearchTables& t, uint64_t x, uint64_t y, int depth, int alpha, int beta) {
  if (stop_requested(t.stop)) return 0;  // the engine call is abandoned: any value will do
  // Nodes at the depth limit cost one move generation: not worth a slot.
  TableEntry* slot = nullptr;
  int first = -1;
  if (depth < kDeepLimit) {
    slot = table_slot(t, x, y, depth);
    if (int known; table_probe(slot, x, y, depth, alpha, beta, first, known)) return known;
  }
  const int a = unscale_at_most(alpha), b = unscale_at_least(beta);
  int cut = -1;
  int best;
  if (const uint64_t moves = legal_moves(x, y); moves != 0) {
    best = deep_replies(t, x, y, depth, moves, a, b, first, cut);
  } else if (const uint64_t again = legal_moves(y, x); again != 0) {
    // A forced pass: y moves again, best = -scale_ply(y's best).
    best = -scale_ply(
        deep_replies(t, y, x, depth, again, unscale_at_most(-b), unscale_at_least(-a), first, cut));
  } else {
    best = count_of(x) > count_of(y) ? kEndBonus : -kEndBonus;
  }
  const int value = scale_ply(best);
  table_store(slot, x, y, depth, alpha, beta, value, cut);
  return value;
}

}  // namespace

int deep_search_reference(SearchContext& ctx, Board& b, int depth, int row, int col) {
  if (stop_requested(ctx.stop)) return 0;  // the engine call is abandoned: b as given
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

int deep_search_window(SearchTables& tables, const Board& b, int depth, int row, int col, int alpha,
                       int beta) {
  const int sq = playable_square(b, row, col);
  if (sq < 0) {
    refuse_deep();
    return 0;
  }
  if (ply_may_run_out(b, depth < kDeepLimit ? kDeepLimit - depth : 0)) {
    const auto copy = std::make_unique<Board>(b);
    SearchContext ctx{copy.get(), nullptr, 0, tables.stop};
    return deep_search_reference(ctx, *copy, depth, row, col);
  }
  const int32_t* plane = current_plane(b);
  const uint64_t me = stones_of(plane, b.side), opp = stones_of(plane, other_colour(b.side));
  const uint64_t flips = flips_of(me, opp, sq);
  if (flips == 0) {  // a stale mark: play() would turn nothing and refuse
    refuse_deep();
    return 0;
  }
  const uint64_t placed = flips | uint64_t{1} << sq;
  ++tables.nodes;
  return deep_node(tables, opp & ~placed, me | placed, depth, alpha, beta);
}

int deep_search(SearchContext& /*ctx*/, Board& b, int depth, int row, int col) {
  const auto tables = make_search_tables();
  return deep_search_window(*tables, b, depth, row, col, -kDeepInfinity, kDeepInfinity);
}
