// Exact values of the deep and the endgame search on built positions. The
// expected values are worked out by hand in the comments. Rows are written
// row 1 first, 'O' colour 1, 'X' colour 2; O is to move unless said.
#include "search/search.h"

#include <gtest/gtest.h>

#include <string>

#include "game/random.h"
#include "search_util.h"

namespace {

// One empty square, a1 (row 1, column 1). O plays it and turns (1,2) only:
// (2,1) and (2,2) are O already. The board is then full. `row5` sets the
// counts: "OOOOOOXX" gives 30 O and 33 X before the move, so 32 to 32 after.
std::string one_empty(const std::string& row5, const std::string& row6 = "XXXXXXXX") {
  return ".XOOOOOO"
         "OOXXXXXX"
         "OOOOOOOO"
         "OOOOOOOO" +
         row5 + row6 +
         "XXXXXXXX"
         "XXXXXXXX";
}

TEST(DeepSearch, MoveThatEndsTheGame) {
  // After a1 the board is full and X is to move: +150 when X has more discs,
  // else -150; scaled once: (150 * 65) >> 6 = 152, (-150 * 65) >> 6 = -153.
  struct Case {
    const char* row5;
    int expected;
  } cases[] = {
      {"OOOOOOXX", -153},  // 32 to 32: a draw counts as a loss for X
      {"OOOOXXXX", 152},   // 30 O to 34 X
      {"OOOOOOOO", -153},  // 34 O to 30 X
  };
  for (const Case& c : cases) {
    for (int ply : {40, 59}) {  // ending by the two moves left, and by ply 60
      auto b = position_at(ply, one_empty(c.row5), 1);
      SearchContext ctx = context_for(*b);
      EXPECT_EQ(deep_search(ctx, *b, 0, 1, 1), c.expected) << c.row5 << " ply " << ply;
      EXPECT_EQ(deep_search_reference(ctx, *b, 0, 1, 1), c.expected) << c.row5 << " ply " << ply;
    }
  }
}

TEST(DeepSearch, ForcedPassInsideTheTree) {
  auto b = position_at(20, kForcedPass, 1);
  ASSERT_EQ(legal_set(*b), uint64_t{1} << 2);
  SearchContext ctx = context_for(*b);
  // After (1,3) X passes and O's continuation (1,5), weight -2, ends the game
  // with X to move and no stones: -2 - ((-150 * 65) >> 6) = -2 + 153 = 151.
  // The pass: -((151 * 65) >> 6) = -153; the move itself: (-153 * 65) >> 6 = -156.
  EXPECT_EQ(deep_search(ctx, *b, 0, 1, 3), -156);
  EXPECT_EQ(deep_search(ctx, *b, 4, 1, 3), -156);
  // At depth 5 the continuation is worth its weight alone: -2;
  // -((-2 * 65) >> 6) = 3, (3 * 65) >> 6 = 3.
  EXPECT_EQ(deep_search(ctx, *b, 5, 1, 3), 3);
}

TEST(DeepSearch, GameEndingWithEmptySquares) {
  auto b = position_at(20, kEarlyEnd, 1);
  SearchContext ctx = context_for(*b);
  EXPECT_EQ(deep_search(ctx, *b, 0, 1, 3), -153);  // X to move with 0 discs to 3
  auto d = position_at(20, kEarlyDraw, 1);
  EXPECT_EQ(deep_search(ctx, *d, 0, 1, 3), -153);  // 3 to 3: a draw is a loss
}

TEST(FinalSearch, MoveThatFillsTheLastSquare) {
  SearchContext ctx{};
  // Rows 5 and 6 "OOOOOOOO", "OOOOOOXX": 38 O and 25 X; after a1, 40 to 24.
  // X, who would move next, sees 24 - 40.
  auto b = position_at(59, one_empty("OOOOOOOO", "OOOOOOXX"), 1);
  EXPECT_EQ(final_search(ctx, *b, 1, 1), -16);
  EXPECT_EQ(final_search_reference(ctx, *b, 1, 1), -16);
  // The counts of MoveThatEndsTheGame, seen by X: 32 - 32, 34 - 30, 30 - 34.
  EXPECT_EQ(final_search(ctx, *position_at(59, one_empty("OOOOOOXX"), 1), 1, 1), 0);
  EXPECT_EQ(final_search(ctx, *position_at(40, one_empty("OOOOXXXX"), 1), 1, 1), 4);
  EXPECT_EQ(final_search(ctx, *position_at(40, one_empty("OOOOOOOO"), 1), 1, 1), -4);
}

TEST(FinalSearch, EmptySquaresCountForNobody) {
  SearchContext ctx{};
  EXPECT_EQ(final_search(ctx, *position_at(52, kEarlyEnd, 1), 1, 3), -3);  // 0 - 3, not 0 - 64
  EXPECT_EQ(final_search(ctx, *position_at(52, kEarlyDraw, 1), 1, 3), 0);  // 3 - 3
}

TEST(FinalSearch, ForcedPassNegatesTheContinuation) {
  // After (1,3) X passes; O's continuation (1,5) ends the game 5 to 0, which
  // X would see as -5: O's value 5, so X's is -5.
  SearchContext ctx{};
  EXPECT_EQ(final_search(ctx, *position_at(52, kForcedPass, 1), 1, 3), -5);
  // The same with colours and side swapped.
  std::string swapped = kForcedPass;
  for (char& ch : swapped) ch = ch == 'O' ? 'X' : ch == 'X' ? 'O' : ch;
  EXPECT_EQ(final_search(ctx, *position_at(52, swapped, 2), 1, 3), -5);
}

TEST(Search, RefusedMovesPrintAndScoreZero) {
  search_messages_reset();  // as at the start of a run
  auto b = position_at(20, kForcedPass, 1);
  const auto before = std::make_unique<Board>(*b);
  SearchContext ctx = context_for(*b);
  // (1,5) is empty but not legal yet; (1,1) is occupied; the rest are off the board.
  const int squares[][2] = {{1, 5}, {1, 1}, {0, 3}, {9, 9}, {12, 4}, {-1, 2}, {3, 100}};
  for (const auto& sq : squares) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(deep_search(ctx, *b, 0, sq[0], sq[1]), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: unknown loop in deep...\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(final_search(ctx, *b, sq[0], sq[1]), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: unknown loop in final...\n");
    EXPECT_TRUE(same_record(*b, *before));
  }
  // At ply 60 play() refuses everything, marks or not.
  b->ply = 60;
  set_position(*b, kForcedPass, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(deep_search(ctx, *b, 0, 1, 3), 0);
  EXPECT_EQ(final_search(ctx, *b, 1, 3), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: unknown loop in deep...\nError: unknown loop in final...\n");
  // Met more than kSearchMessageLimit (10) times in a run: a note once, then nothing.
  testing::internal::CaptureStderr();
  for (int i = 8; i < 14; ++i) final_search(ctx, *b, 1, 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: unknown loop in final...\nError: unknown loop in final...\n"
            "note: the line \"Error: unknown loop in final...\" is not shown again in this run.\n");
}

// The value of a node is its best reply's value whatever the tie draws say:
// the references draw for every tie and give the same value for any seed;
// the fast searches make no draw at all.
TEST(Search, TiesDoNotChangeValues) {
  auto b = fresh_board();
  int positions_with_ties = 0;
  for (uint32_t game = 1; game <= 8; ++game) {
    ASSERT_TRUE(random_game(*b, 44 + static_cast<int>(game), game));
    SearchContext ctx = context_for(*b);
    int squares[64];
    ASSERT_GT(legal_squares(*b, squares), 0);
    const int row = square_row(squares[0]), col = square_col(squares[0]);
    rand15_seed(1);
    const int deep = deep_search(ctx, *b, 0, row, col);
    const int final = b->ply >= 50 ? final_search(ctx, *b, row, col) : 0;
    EXPECT_EQ(rand15_state(), 1u) << "game " << game;
    positions_with_ties += deep_search_reference(ctx, *b, 0, row, col) == deep && rand15_state() != 1;
    for (uint32_t seed : {2u, 3u, 77u, 4096u, 123456789u}) {
      rand15_seed(seed);
      EXPECT_EQ(deep_search_reference(ctx, *b, 0, row, col), deep) << "game " << game << " seed " << seed;
      if (b->ply >= 50) {
        EXPECT_EQ(final_search_reference(ctx, *b, row, col), final) << "game " << game;
      }
    }
  }
  EXPECT_GT(positions_with_ties, 4);
}

}  // namespace
