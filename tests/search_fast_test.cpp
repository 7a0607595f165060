// The fast searches against the searches written over the board operations
// (the references): the same value for every move, bit for bit, the same
// messages, no tie draws of their own, on many positions from random games.
// TAVIMOR_DIFF_POSITIONS sets how many positions each comparison visits (the
// default keeps the suite quick; scripts/diff_tests.sh runs thousands).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "game/random.h"
#include "nn/network.h"
#include "nn_util.h"
#include "search/bitboard.h"
#include "search/engine.h"
#include "search/neuro.h"
#include "search/root.h"
#include "search/search.h"
#include "search_util.h"

namespace {

int positions_to_compare(int usual) {
  const char* n = std::getenv("TAVIMOR_DIFF_POSITIONS");
  return n != nullptr && std::atoi(n) > 0 ? std::atoi(n) : usual;
}

// What a comparison met on its way: a test asserts that every kind of line
// it is about was seen.
struct Seen {
  int positions = 0, moves = 0;
  int passes = 0;   // trees with a forced pass
  int ends = 0;     // trees with a game end before the board is full
  int deepest = 0;  // moves compared from depth 0 (a real root move)
};

// Passes and early ends in the tree below x to move, searched to `limit`.
void scan_tree(uint64_t x, uint64_t y, int depth, int limit, bool& pass, bool& end) {
  if (limit >= 0 && depth > limit) return;
  uint64_t moves = legal_moves(x, y);
  if (moves == 0) {
    moves = legal_moves(y, x);
    if (moves == 0) {
      end |= (x | y) != ~uint64_t{0};
      return;
    }
    pass = true;
    std::swap(x, y);
  }
  for (; moves != 0; moves &= moves - 1) {
    const int s = lowest_square(moves);
    const uint64_t placed = flips_of(x, y, s) | uint64_t{1} << s;
    scan_tree(y & ~placed, x | placed, depth + 1, limit, pass, end);
  }
}

// The least starting depth (from `deepest` down to 0) at which the trees of
// all the moves of b stay within `budget` moves: whole root trees wherever
// they are small, smaller trees for the slow references elsewhere.
int depth_within(const Board& b, int deepest, int limit, uint64_t budget) {
  int depth = deepest;
  for (; depth > 0; --depth) {
    uint64_t n = 0;
    for (int s = 0; s < 64; ++s)
      if (legal_set(b) >> s & 1) n += root_tree_moves(b, s, depth - 1, limit);
    if (n > budget) break;
  }
  return depth;
}

// Compares fast(row, col) with reference(row, col) on every move of b. The
// fast search must not draw and must leave b as it was.
template <typename Value, typename Fast, typename Reference>
void compare_moves(Board& b, int depth, int limit, Fast fast, Reference reference, Seen& seen,
                   const std::string& where) {
  const auto before = std::make_unique<Board>(b);
  bool pass = false, end = false;
  for (int s = 0; s < 64; ++s) {
    if (!(legal_set(b) >> s & 1)) continue;
    const int row = square_row(s), col = square_col(s);
    const int32_t* p = current_plane(b);
    const uint64_t me = stones_of(p, b.side), opp = stones_of(p, 3 - b.side);
    const uint64_t placed = flips_of(me, opp, s) | uint64_t{1} << s;
    scan_tree(opp & ~placed, me | placed, depth, limit, pass, end);
    rand15_seed(12345u);
    const Value f = fast(row, col);
    EXPECT_EQ(rand15_state(), 12345u) << where << ": the fast search drew";
    EXPECT_TRUE(same_record(b, *before)) << where;
    const Value r = reference(row, col);
    EXPECT_EQ(std::memcmp(&f, &r, sizeof f), 0) << where << " square " << s << ": " << f << " vs " << r;
    *before = b;  // the reference rewrites scratch planes, the cursor and the pass flag
    ++seen.moves;
    seen.deepest += depth == 0;
  }
  ++seen.positions;
  seen.passes += pass;
  seen.ends += end;
}

// Positions from random games at plies drawn from [low, high]; the side to
// move can move.
template <typename Visit>
void random_positions_between(int low, int high, int count, uint32_t seed, Visit visit) {
  auto b = fresh_board();
  std::mt19937 rng(seed);
  for (int found = 0; found < count;) {
    const int ply = std::uniform_int_distribution<int>(low, high)(rng);
    const uint32_t game = rng();
    if (!random_game(*b, ply, game)) continue;
    visit(*b, "game " + std::to_string(game) + " ply " + std::to_string(ply));
    ++found;
  }
}

TEST(SearchFast, SquareSetsFollowTheRules) {
  auto b = fresh_board();
  int positions = 0;
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    if (!random_game(*b, static_cast<int>(seed % 58), seed)) continue;
    ++positions;
    const int32_t* plane = current_plane(*b);
    const uint64_t me = stones_of(plane, b->side), opp = stones_of(plane, 3 - b->side);
    ASSERT_EQ(legal_moves(me, opp), legal_set(*b)) << "seed " << seed;
    int squares[64];
    const int n = legal_squares(*b, squares);
    for (int k = 0; k < n; ++k) {
      const int s = squares[k];
      play(*b, square_row(s), square_col(s));
      // The mover's new stones are the placed one and the flipped ones.
      const uint64_t after = stones_of(current_plane(*b), 3 - b->side);
      take_back(*b);
      EXPECT_EQ(flips_of(me, opp, s) | (uint64_t{1} << s), after & ~me) << "seed " << seed << " square " << s;
      EXPECT_EQ(after & ~me & opp, flips_of(me, opp, s));
    }
  }
  EXPECT_GT(positions, 150);
}

TEST(SearchFast, DeepMatchesTheReference) {
  Seen seen;
  const auto visit = [&](Board& b, const std::string& where) {
    SearchContext ctx = context_for(b);
    const auto tables = make_search_tables();
    const int depth = depth_within(b, kDeepLimit, kDeepLimit, 4000);
    compare_moves<int>(
        b, depth, kDeepLimit,
        [&](int row, int col) {
          return deep_search_window(*tables, b, depth, row, col, -kDeepInfinity, kDeepInfinity);
        },
        [&](int row, int col) { return deep_search_reference(ctx, b, depth, row, col); }, seen, where);
  };
  const int n = positions_to_compare(240);
  random_positions_between(1, 58, n / 2, 1, visit);
  random_positions_between(40, 58, n / 2, 11, visit);  // passes and early ends
  EXPECT_GT(seen.passes, n / 10);
  EXPECT_GT(seen.ends, n / 100);
  EXPECT_GT(seen.deepest, n / 2);
}

TEST(SearchFast, FinalMatchesTheReference) {
  Seen seen;
  const int n = positions_to_compare(120);
  random_positions_between(49, 58, n, 2, [&](Board& b, const std::string& where) {
    // The reference plays the whole tree: one large tree, then small ones
    // (larger beyond the usual count).
    const uint64_t tree =
        tree_moves(stones_of(current_plane(b), b.side), stones_of(current_plane(b), 3 - b.side), 0, -1);
    if (seen.positions > 0 && tree > (n <= 120 ? 15000u : 300000u)) return;
    SearchContext ctx = context_for(b);
    const auto tables = make_search_tables();
    compare_moves<int>(
        b, 0, -1,
        [&](int row, int col) {
          return final_search_window(*tables, b, row, col, -kDeepInfinity, kDeepInfinity);
        },
        [&](int row, int col) { return final_search_reference(ctx, b, row, col); }, seen, where);
  });
  EXPECT_GT(seen.passes, seen.positions / 5);
  EXPECT_GT(seen.ends, seen.positions / 40);
}

TEST(SearchFast, NeuroMatchesTheReference) {
  auto net = zero_net();
  std::mt19937 rng(5);
  random_params(*net, rng, 0.7f, 0.035f);
  Seen seen;
  const auto visit = [&](Board& b, const std::string& where) {
    SearchContext ctx{&b, net.get(), 0};
    const auto w = make_neuro_worker(*net);
    const int depth = depth_within(b, kNeuroDepth, kNeuroDepth, 300);
    compare_moves<float>(
        b, depth, 3,
        [&](int row, int col) {
          return neuro_search_window(*w, b, depth, row, col, -1.0f / 0.0f, 1.0f / 0.0f);
        },
        [&](int row, int col) { return neuro_search_reference(ctx, b, depth, row, col); }, seen, where);
  };
  const int n = positions_to_compare(60);
  random_positions_between(1, 58, n / 2, 3, visit);
  random_positions_between(44, 58, n / 2, 13, visit);
  EXPECT_GT(seen.passes, n / 15);
  EXPECT_GT(seen.ends, 0);
  EXPECT_GT(seen.deepest, n / 2);
}

// With a window, a fast search returns the exact value inside it and a bound
// on the right side outside it: r <= alpha means v <= r, r >= beta v >= r.
TEST(SearchFast, WindowsGiveExactValuesOrBoundsOnTheirSide) {
  auto net = zero_net();
  std::mt19937 rng(8);
  random_params(*net, rng, 0.7f, 0.035f);
  int inside = 0, below = 0, above = 0;
  const auto check = [&](double v, double r, double alpha, double beta, const std::string& where) {
    if (r <= alpha) {
      EXPECT_LE(v, r) << where;
      ++below;
    } else if (r >= beta) {
      EXPECT_GE(v, r) << where;
      ++above;
    } else {
      EXPECT_EQ(v, r) << where;
      ++inside;
    }
  };
  random_positions_between(20, 58, positions_to_compare(40), 4, [&](Board& b, const std::string& where) {
    const auto tables = make_search_tables();
    const auto w = make_neuro_worker(*net);
    for (int s = 0; s < 64; ++s) {
      if (!(legal_set(b) >> s & 1)) continue;
      const int row = square_row(s), col = square_col(s);
      const int deep = deep_search_window(*tables, b, 2, row, col, -kDeepInfinity, kDeepInfinity);
      const float neuro = neuro_search_window(*w, b, 2, row, col, -1.0f / 0.0f, 1.0f / 0.0f);
      for (int k = 0; k < 4; ++k) {
        const int lo = deep + std::uniform_int_distribution<int>(-30, 20)(rng);
        const int hi = lo + std::uniform_int_distribution<int>(1, 20)(rng);
        check(deep, deep_search_window(*tables, b, 2, row, col, lo, hi), lo, hi, where + " deep");
        const float flo = neuro + std::uniform_real_distribution<float>(-0.3f, 0.2f)(rng);
        const float fhi = std::nextafter(flo, 1.0f) + std::uniform_real_distribution<float>(0.0f, 0.2f)(rng);
        check(neuro, neuro_search_window(*w, b, 2, row, col, flo, fhi), flo, fhi, where + " neuro");
      }
      if (b.ply >= 50) {
        const int final = final_search_window(*tables, b, row, col, -kDeepInfinity, kDeepInfinity);
        check(final, final_search_window(*tables, b, row, col, final - 1, final), final - 1, final, where);
        check(final, final_search_window(*tables, b, row, col, final, final + 1), final, final + 1, where);
      }
    }
  });
  EXPECT_GT(inside, 50);
  EXPECT_GT(below, 50);
  EXPECT_GT(above, 50);
}

// The engines' roots against the scores of every root move by the
// references (by the fast searches, which match them, where the references'
// trees are large): the same value, a move of the best score played and
// nothing else changed; a root that leaves moves at a bound plays the same
// move and makes the same draws as one that scores them all. Positions at
// plies 48 and 49 try the switch to the endgame.
TEST(SearchFast, RootsMatchTheReferences) {
  auto net = zero_net();
  std::mt19937 rng(21);
  random_params(*net, rng, 0.7f, 0.035f);
  int compared = 0, switches = 0, ties = 0, by_reference = 0;
  const auto visit = [&](Board& b, const std::string& where) {
    for (bool neural : {false, true}) {
      const bool final = endgame_due(b);
      const int limit = final ? -1 : neural ? kNeuroDepth : kDeepLimit;
      uint64_t tree = 0;
      for (int s = 0; s < 64; ++s)
        if (legal_set(b) >> s & 1) tree += root_tree_moves(b, s, 0, limit);
      const bool reference = tree <= (neural && !final ? 1500u : 40000u);
      by_reference += reference;
      SearchContext ctx{&b, net.get(), 0};
      const auto tables = make_search_tables();
      const auto worker = make_neuro_worker(*net);
      float out[64] = {};
      if (neural && b.ply > 0) net_evaluate(*net, previous_plane(b), b.ply == 1, out);
      double score[64];
      double best = -1e30;
      int at_best = 0;
      for (int s = 0; s < 64; ++s) {
        if (!(legal_set(b) >> s & 1)) continue;
        const int row = square_row(s), col = square_col(s);
        const int wide = kDeepInfinity;
        if (final) {
          score[s] = -(reference ? final_search_reference(ctx, b, row, col)
                                 : final_search_window(*tables, b, row, col, -wide, wide));
        } else if (neural) {
          score[s] = out[s] + square_bias[s] -
                     (reference ? neuro_search_reference(ctx, b, 0, row, col)
                                : neuro_search_window(*worker, b, 0, row, col, -1.0f / 0.0f, 1.0f / 0.0f));
        } else {
          score[s] =
              square_weights[s] - (reference ? deep_search_reference(ctx, b, 0, row, col)
                                             : deep_search_window(*tables, b, 0, row, col, -wide, wide));
        }
        at_best = score[s] > best ? 1 : at_best + (score[s] == best);
        best = std::max(best, score[s]);
      }
      ties += at_best > 1;
      const int32_t value =
          final || !neural ? static_cast<int32_t>(best) : neuro_root_value(static_cast<float>(best));
      using Think = int (*)(SearchContext&, const ThinkOptions&);
      const Think think = neural ? static_cast<Think>(think_neuro) : static_cast<Think>(think_traditional);
      // All threads, moves left at bounds.
      auto copy = std::make_unique<Board>(b);
      SearchContext fast{copy.get(), net.get(), 0};
      ASSERT_EQ(think(fast, ThinkOptions{}), 1) << where;
      EXPECT_EQ(fast.value, value) << where << (neural ? " neural" : " traditional");
      const int chosen = square_of(copy->cursor_row, copy->cursor_col);
      EXPECT_EQ(score[chosen], best) << where << " square " << chosen;
      auto expected = std::make_unique<Board>(b);
      ASSERT_NE(play(*expected, copy->cursor_row, copy->cursor_col), 0);
      EXPECT_TRUE(same_record(*copy, *expected)) << where;
      // One thread: the same move and the same draws with every move scored,
      // and every score the reference's.
      WorkerThreads one(1);
      uint32_t state[2];
      int square[2];
      auto all = std::make_unique<RootScores>();
      for (int exact = 0; exact < 2; ++exact) {
        *copy = b;
        rand15_seed(99u);
        ASSERT_EQ(think(fast, ThinkOptions{exact == 1 ? all.get() : nullptr, nullptr}), 1);
        state[exact] = rand15_state();
        square[exact] = square_of(copy->cursor_row, copy->cursor_col);
        EXPECT_EQ(fast.value, value) << where;
      }
      EXPECT_EQ(square[0], square[1]) << where;
      EXPECT_EQ(state[0], state[1]) << where;
      ASSERT_EQ(all->count, std::popcount(legal_set(b))) << where;
      for (int k = 0; k < all->count; ++k) {
        const double v = score[square_of(all->moves[k].row, all->moves[k].col)];
        EXPECT_EQ(all->moves[k].value,
                  final || !neural ? static_cast<int32_t>(v) : neuro_root_value(static_cast<float>(v)))
            << where;
      }
      ++compared;
      switches += b.ply == kEndgamePly || b.ply == kEndgamePly + 1;
    }
  };
  const int n = positions_to_compare(24);
  random_positions_between(kEndgamePly, kEndgamePly + 1, n / 4, 31, visit);
  random_positions_between(44, 58, n - n / 4, 32, visit);
  EXPECT_EQ(compared, 2 * n);
  EXPECT_GT(switches, n / 2);
  EXPECT_GE(by_reference, n / 2);
  EXPECT_GT(ties, 0);
}

// Lines that end early, with empty squares left, come from positions with few
// stones. Deep: ply 30 with 7 stones cannot run out within the tree.
TEST(SearchFast, MatchesReferenceWithFewStones) {
  const auto b = position_at(30,
                             "........"
                             "...X...."
                             "..XXO..."
                             "...OO..."
                             "....O..."
                             "........"
                             "........"
                             "........",
                             2);
  SearchContext ctx = context_for(*b);
  Seen seen;
  compare_moves<int>(
      *b, 0, kDeepLimit, [&](int row, int col) { return deep_search(ctx, *b, 0, row, col); },
      [&](int row, int col) { return deep_search_reference(ctx, *b, 0, row, col); }, seen, "few stones");
}

// A record whose ply runs out before its empty squares do: play() refuses
// every move at ply 60 and check_end() ends the game there. The searches
// leave it to the references, which print their messages.
TEST(SearchFast, MatchesReferenceWhenThePlyRunsOut) {
  auto b = position_at(57,
                       "OOOOOOOO"
                       "OXXXXXXO"
                       "OX....XO"
                       "OX....XO"
                       "OXXXXXXO"
                       "OOOOOOOO"
                       "XXXXXXXX"
                       "XXXXXXXX",
                       1);
  ASSERT_GT(mark_legal(*b), 0);
  SearchContext ctx = context_for(*b);
  for (int s = 0; s < 64; ++s) {
    if (!(legal_set(*b) >> s & 1)) continue;
    const int row = square_row(s), col = square_col(s);
    search_messages_reset();  // each search starts with the lines a run starts with
    testing::internal::CaptureStderr();
    const int deep = deep_search(ctx, *b, 0, row, col);
    const int final = final_search(ctx, *b, row, col);
    const std::string fast = testing::internal::GetCapturedStderr();
    search_messages_reset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(deep, deep_search_reference(ctx, *b, 0, row, col));
    EXPECT_EQ(final, final_search_reference(ctx, *b, row, col));
    EXPECT_EQ(fast, testing::internal::GetCapturedStderr());
    EXPECT_FALSE(fast.empty());
  }
}

}  // namespace
