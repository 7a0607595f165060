// The fast searches against the searches written over the board operations:
// the same values, the same number of tie draws, the same messages, on many
// positions from random games.
#include <gtest/gtest.h>

#include <string>

#include "game/random.h"
#include "search/bitboard.h"
#include "search/search.h"
#include "search_util.h"

namespace {

struct Outcome {
  int value;
  uint32_t generator;  // the rand15 state afterwards: the draws consumed
  std::string messages;
};

template <typename Search>
Outcome run_seeded(uint32_t seed, Search search) {
  rand15_seed(seed);
  testing::internal::CaptureStderr();
  const int value = search();
  return Outcome{value, rand15_state(), testing::internal::GetCapturedStderr()};
}

void expect_same(const Outcome& fast, const Outcome& reference, const std::string& where) {
  EXPECT_EQ(fast.value, reference.value) << where;
  EXPECT_EQ(fast.generator, reference.generator) << where;
  EXPECT_EQ(fast.messages, reference.messages) << where;
}

// Compares a fast search with its reference on every legal move of b; the
// fast one must leave the whole record as it was.
template <typename Fast, typename Reference>
void compare(Board& b, Fast fast, Reference reference, const std::string& where) {
  SearchContext ctx = context_for(b);
  const auto before = std::make_unique<Board>(b);
  int squares[64];
  const int n = legal_squares(b, squares);
  for (int k = 0; k < n; ++k) {
    const int row = square_row(squares[k]), col = square_col(squares[k]);
    const uint32_t seed = 977u * k + 13u;
    const Outcome f = run_seeded(seed, [&] { return fast(ctx, b, row, col); });
    EXPECT_TRUE(same_record(b, *before)) << where;
    const Outcome r = run_seeded(seed, [&] { return reference(ctx, b, row, col); });
    expect_same(f, r, where + " square " + std::to_string(squares[k]));
    *before = b;  // the reference rewrites scratch planes, the cursor and the pass flag
  }
}

void compare_deep(Board& b, int depth, const std::string& where) {
  compare(
      b, [depth](SearchContext& c, Board& x, int r, int k) { return deep_search(c, x, depth, r, k); },
      [depth](SearchContext& c, Board& x, int r, int k) { return deep_search_reference(c, x, depth, r, k); },
      where);
}

void compare_final(Board& b, const std::string& where) {
  compare(b, final_search, final_search_reference, where);
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

TEST(SearchFast, DeepMatchesReferenceInTheMiddleGame) {
  auto b = fresh_board();
  for (uint32_t seed = 1; seed <= 24; ++seed) {
    const int ply = 6 + static_cast<int>(seed % 31);
    if (!random_game(*b, ply, seed)) continue;
    compare_deep(*b, 3, "seed " + std::to_string(seed) + " depth 3");
    if (seed % 3 == 0) compare_deep(*b, 2, "seed " + std::to_string(seed) + " depth 2");
  }
}

TEST(SearchFast, DeepMatchesReferenceFromRootsLate) {
  auto b = fresh_board();
  int positions = 0;
  for (uint32_t seed = 100; seed < 160 && positions < 16; ++seed) {
    if (!random_game(*b, 46 + static_cast<int>(seed % 11), seed)) continue;
    ++positions;
    compare_deep(*b, 0, "seed " + std::to_string(seed));
  }
  EXPECT_EQ(positions, 16);
}

TEST(SearchFast, FinalMatchesReference) {
  auto b = fresh_board();
  int positions = 0;
  for (uint32_t seed = 300; seed < 400 && positions < 24; ++seed) {
    if (!random_game(*b, 52 + static_cast<int>(seed % 8), seed)) continue;
    ++positions;
    compare_final(*b, "seed " + std::to_string(seed));
  }
  EXPECT_EQ(positions, 24);
  // A larger tree: 10 empty squares.
  ASSERT_TRUE(random_game(*b, 50, 404));
  compare_final(*b, "seed 404");
}

// Lines that end early, with empty squares left, come from positions with few
// stones; forced passes from late random games.
TEST(SearchFast, MatchesReferenceAcrossPassesAndEarlyEnds) {
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
  compare_deep(*b, 0, "few stones");
  // Late positions in which some root move leaves the opponent without a move.
  int passes = 0;
  auto g = fresh_board();
  for (uint32_t seed = 1000; seed < 1300 && passes < 6; ++seed) {
    if (!random_game(*g, 48 + static_cast<int>(seed % 8), seed)) continue;
    int squares[64];
    const int n = legal_squares(*g, squares);
    bool pass = false;
    for (int k = 0; k < n; ++k) {
      play(*g, square_row(squares[k]), square_col(squares[k]));
      pass |= record_get(current_plane(*g), kRecMoves) == 0;
      take_back(*g);
    }
    if (!pass) continue;
    ++passes;
    compare_deep(*g, 0, "pass seed " + std::to_string(seed));
    compare_final(*g, "pass seed " + std::to_string(seed));
  }
  EXPECT_EQ(passes, 6);
}

// A record whose ply runs out before its empty squares do: play() refuses
// every move at ply 60, and both searches report it the same way.
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
  compare_deep(*b, 0, "ply 57");
  compare_final(*b, "ply 57");
}

}  // namespace
