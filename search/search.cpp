// The recursive searches that score one root move: the traditional engine's
// deep search, a negamax over the square weights of the moves of a line,
// each ply worth 65/64 of the one before, and the exact endgame search, every
// line played to the end of the game and scored by the final disc
// difference. The references go full width over the board operations, the
// fast searches prune over square sets.
#include "search/search.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "game/random.h"
#include "search/bitboard.h"
#include "search/root.h"

namespace {

// The searches' error lines, a few of each in a run: a game that met one at
// every node of a search would otherwise fill the disk with them.
constexpr const char* kTexts[] = {"Error: unknown loop in deep...", "Error: unknown loop in final..."};
std::atomic<int> printed[2];  // times each line was met in this run, a little past the limit at most

// ---- The references: the searches written over the board operations. ----

// The reference search of the move (row, column) of b's side to move: after
// it, reply(s) scores each legal square s of the side to move (after a
// forced pass, of the player who moved), ties drawn as at the root; the best,
// or outcome(own discs, other discs) when neither side can move, taken
// through ply() (a pass's best through -ply() first), is the value seen from
// the side to move after the move. A square play() refuses prints `refused`
// and scores 0. b is left as given.
template <typename Ply, typename Reply, typename Outcome>
int reference_search(SearchContext& ctx, Board& b, int row, int col, SearchMessage refused, const Ply& ply,
                     const Reply& reply, const Outcome& outcome) {
  if (stop_requested(ctx.stop)) return 0;  // the engine call is abandoned: b as given
  if (!on_board(row, col) || play(b, row, col) == 0) {
    search_message(refused);
    return 0;
  }
  const auto best_reply = [&] {
    int best = kNoScore;
    for (int i = 0; i < 64; ++i) {
      if (!root_move_at(b, i)) continue;
      const int v = reply(i);
      if (root_takes(v, best)) best = v;
    }
    return best;
  };
  int best = best_reply();
  if (best == kNoScore) {
    if (check_end(b)) {
      best = b.side == 1 ? outcome(b.discs1, b.discs2) : outcome(b.discs2, b.discs1);
    } else {
      // check_end passed the turn back to the player who played (row, column).
      best = best_reply();
      hand_over(b);
      best = -ply(best);
    }
  }
  take_back(b);
  return ply(best);
}

// ---- The fast searches: the same values over square sets, with pruning. ----
//
// A node is the position after a move, x to move and y the player who moved.
// The endgame's value, seen from x, is the greatest of minus the values of
// x's replies (a plain negamax, so alpha-beta, fail-soft, applies as it
// stands). The deep search's is scale_ply(best), best being the greatest
// weight - (value of the reply's node) over x's replies. scale_ply is
// strictly increasing on the integers, so a window on the value is a window
// on best, and alpha-beta yields the exact value wherever it lies inside the
// window.

// The fail-soft best of x's replies `moves` (not empty) within (a, b):
// value(s, x', y', floor) scores reply s from the position after it (x' to
// move), floor being the lower edge of the window so far. `first` is tried
// first when it is one of the replies, the rest in the order in which
// visit(rest, cuts) hands them to cuts() until one cuts off; `cut` receives
// the best or cutting reply.
template <typename Visit, typename Value>
int best_reply(SearchTables& t, uint64_t x, uint64_t y, uint64_t moves, int a, int b, int first, int& cut,
               const Visit& visit, const Value& value) {
  int best = -kDeepInfinity;
  const auto cuts = [&](int s) {
    const uint64_t placed = flips_of(x, y, s) | uint64_t{1} << s;
    ++t.nodes;
    const int v = value(s, y & ~placed, x | placed, best > a ? best : a);
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
  visit(moves, cuts);
  return best;
}

// The entry of both fast searches: node(x, y) values the position after the
// move (row, column) of b's side to move, or the reference(ctx, copy) on a
// copy of b where the record's ply may run out within `plies` more plies. A
// square play() would refuse (off the board, the board full, no legal-move
// mark, or a stale mark that turns nothing) prints `refused` and scores 0.
template <typename Node, typename Reference>
int enter(SearchTables& t, const Board& b, int row, int col, int plies, SearchMessage refused,
          const Node& node, const Reference& reference) {
  const int sq = playable_square(b, row, col);
  if (sq >= 0 && ply_may_run_out(b, plies)) {
    const auto copy = std::make_unique<Board>(b);
    SearchContext ctx{copy.get(), nullptr, 0, t.stop};
    return reference(ctx, *copy);
  }
  const int32_t* plane = current_plane(b);
  const uint64_t me = stones_of(plane, b.side), opp = stones_of(plane, other_colour(b.side));
  const uint64_t flips = sq < 0 ? 0 : flips_of(me, opp, sq);
  if (flips == 0) {
    search_message(refused);
    return 0;
  }
  ++t.nodes;
  const uint64_t placed = flips | uint64_t{1} << sq;
  return node(opp & ~placed, me | placed);
}

// ---- The deep search ----

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
// the best, fail-soft, heaviest first; `first` and `cut` as for best_reply.
int deep_replies(SearchTables& t, uint64_t x, uint64_t y, int depth, uint64_t moves, int a, int b, int first,
                 int& cut) {
  if (depth >= kDeepLimit) return greatest_weight(moves);  // the replies are not played
  const auto by_weight = [](uint64_t rest, const auto& cuts) {
    for (int k = 0; k < kClasses.count; ++k)
      for (uint64_t m = rest & kClasses.squares[k]; m != 0; m &= m - 1)
        if (cuts(lowest_square(m))) return;
  };
  return best_reply(t, x, y, moves, a, b, first, cut, by_weight,
                    [&](int s, uint64_t nx, uint64_t ny, int floor) {
                      const int w = square_weights[s];
                      return w - deep_node(t, nx, ny, depth + 1, w - b, w - floor);
                    });
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

// ---- The endgame search ----

// Positions with at least this many empty squares keep their bounds in the
// table and try their replies in the order of the opponent's mobility.
constexpr int kTableEmpties = 6;

// Hands x's replies `rest` to cuts() until one cuts off: those that leave the
// opponent y the fewest moves first (they tend to be the best, and they cut
// the most); in square order in the last few plies.
template <typename Cuts>
void by_mobility(uint64_t x, uint64_t y, uint64_t rest, const Cuts& cuts) {
  if (count_of(~(x | y)) < kTableEmpties) {
    for (; rest != 0; rest &= rest - 1)
      if (cuts(lowest_square(rest))) return;
    return;
  }
  int order[32];
  int keys[32];
  int n = 0;
  for (; rest != 0; rest &= rest - 1) {
    const int s = lowest_square(rest);
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
    if (cuts(order[k])) return;
}

int final_node(SearchTables& t, uint64_t x, uint64_t y, int alpha, int beta);

// The best of x's replies `moves` (not empty) within (alpha, beta),
// fail-soft; `first` and `cut` as for best_reply.
int final_replies(SearchTables& t, uint64_t x, uint64_t y, uint64_t moves, int alpha, int beta, int first,
                  int& cut) {
  return best_reply(
      t, x, y, moves, alpha, beta, first, cut,
      [x, y](uint64_t rest, const auto& cuts) { by_mobility(x, y, rest, cuts); },
      [&](int, uint64_t nx, uint64_t ny, int floor) { return -final_node(t, nx, ny, -beta, -floor); });
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

int deep_search_reference(SearchContext& ctx, Board& b, int depth, int row, int col) {
  return reference_search(
      ctx, b, row, col, SearchMessage::deep, scale_ply,
      [&](int s) {
        const int w = square_weights[s];
        return depth < kDeepLimit ? w - deep_search_reference(ctx, b, depth + 1, square_row(s), square_col(s))
                                  : w;
      },
      [](int own, int other) { return own > other ? kEndBonus : -kEndBonus; });
}

int final_search_reference(SearchContext& ctx, Board& b, int row, int col) {
  return reference_search(
      ctx, b, row, col, SearchMessage::final, [](int v) { return v; },
      [&](int s) { return -final_search_reference(ctx, b, square_row(s), square_col(s)); },
      [](int own, int other) { return own - other; });
}

int deep_search_window(SearchTables& tables, const Board& b, int depth, int row, int col, int alpha,
                       int beta) {
  return enter(
      tables, b, row, col, depth < kDeepLimit ? kDeepLimit - depth : 0, SearchMessage::deep,
      [&](uint64_t x, uint64_t y) { return deep_node(tables, x, y, depth, alpha, beta); },
      [&](SearchContext& ctx, Board& copy) { return deep_search_reference(ctx, copy, depth, row, col); });
}

int final_search_window(SearchTables& tables, const Board& b, int row, int col, int alpha, int beta) {
  return enter(
      tables, b, row, col, kMaxPly, SearchMessage::final,
      [&](uint64_t x, uint64_t y) { return final_node(tables, x, y, alpha, beta); },
      [&](SearchContext& ctx, Board& copy) { return final_search_reference(ctx, copy, row, col); });
}

int deep_search(SearchContext& ctx, const Board& b, int depth, int row, int col) {
  return deep_search_window(*make_search_tables(ctx.stop), b, depth, row, col, -kDeepInfinity, kDeepInfinity);
}

int final_search(SearchContext& ctx, const Board& b, int row, int col) {
  return final_search_window(*make_search_tables(ctx.stop), b, row, col, -kDeepInfinity, kDeepInfinity);
}

void search_message(SearchMessage m) {
  const int i = static_cast<int>(m);
  // Once silent, not even counted: the count never wraps, and no lock is taken.
  if (printed[i].load(std::memory_order_relaxed) > kSearchMessageLimit) return;
    // The lines in the order they were counted.
#pragma omp critical(search_message)
  {
    const int n = printed[i]++;
    if (n < kSearchMessageLimit) {
      std::fprintf(stderr, "%s\n", kTexts[i]);
    } else if (n == kSearchMessageLimit) {
      std::fprintf(stderr, "note: the line \"%s\" is not shown again in this run.\n", kTexts[i]);
    }
  }
}

void search_messages_reset() {
  for (auto& n : printed) n.store(0);
}
