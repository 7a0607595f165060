// The parallel root on several worker threads: the move and the score it
// chooses, the live board it leaves, and the tie rule when the order in which
// the threads finish is not known. These tests also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <vector>

#include "game/random.h"
#include "search/engine.h"
#include "search/root.h"
#include "search/search.h"
#include "search_util.h"

namespace {

struct Scores {
  std::vector<int> squares;
  std::vector<int> score;
  int best = kNoScore;
};

// Every root move scored one after the other on the calling thread.
template <typename Score>
Scores score_each(Board& b, Score score_square) {
  Scores out;
  int squares[64];
  const int n = legal_squares(b, squares);
  for (int k = 0; k < n; ++k) {
    out.squares.push_back(squares[k]);
    out.score.push_back(score_square(b, squares[k]));
    if (out.score.back() > out.best) out.best = out.score.back();
  }
  return out;
}

// The engine call chose a square of best score, reported that score and
// played that square on the otherwise untouched live board.
void expect_best_played(const Scores& s, const Board& before, const Board& after, int value) {
  EXPECT_EQ(value, s.best);
  const int chosen = square_of(after.cursor_row, after.cursor_col);
  bool is_best = false;
  for (size_t k = 0; k < s.squares.size(); ++k) is_best |= s.squares[k] == chosen && s.score[k] == s.best;
  EXPECT_TRUE(is_best) << "chosen square " << chosen;
  auto expected = std::make_unique<Board>(before);
  ASSERT_NE(play(*expected, after.cursor_row, after.cursor_col), 0);
  EXPECT_TRUE(same_record(after, *expected));
}

TEST(ParallelRoot, TraditionalChoosesABestSquare) {
  WorkerThreads threads(4);  // more threads than cores, so that squares interleave
  auto b = fresh_board();
  int positions = 0;
  for (uint32_t seed = 11; positions < 4; ++seed) {
    if (!random_game(*b, 38 + 2 * positions, seed)) continue;
    ++positions;
    SearchContext ctx = context_for(*b);
    const Scores s = score_each(*b, [&ctx](Board& board, int sq) {
      return square_weights[sq] - deep_search(ctx, board, 0, square_row(sq), square_col(sq));
    });
    const auto before = std::make_unique<Board>(*b);
    ASSERT_EQ(think_traditional(ctx), 1);
    expect_best_played(s, *before, *b, ctx.value);
  }
}

TEST(ParallelRoot, EndgameChoosesABestSquare) {
  WorkerThreads threads(4);
  auto b = fresh_board();
  int positions = 0;
  for (uint32_t seed = 21; positions < 4; ++seed) {
    if (!random_game(*b, 51 + positions, seed)) continue;
    ++positions;
    SearchContext ctx = context_for(*b);
    const Scores s = score_each(*b, [&ctx](Board& board, int sq) {
      return -final_search(ctx, board, square_row(sq), square_col(sq));
    });
    const auto before = std::make_unique<Board>(*b);
    ASSERT_EQ(think_traditional(ctx), 1);  // past ply 48: the endgame root
    expect_best_played(s, *before, *b, ctx.value);
  }
}

// kMirror's two moves score the same (152 deep, 5 endgame). Whichever
// finishes first is taken; the other replaces it with probability 1/3. So
// each square is chosen with a probability between 1/3 and 2/3, whatever the
// order of the threads.
//
// The calls are independent, so by Hoeffding's inequality the count of
// (1,3) over n = 3000 calls lies within 150 of its mean, which is between
// 1000 and 2000, except with probability 2 exp(-2 * 150^2 / 3000) < 6.2e-7.
// Thread timing is not fixed, so this bound is what keeps the test from
// flaking.
TEST(ParallelRoot, TieRuleWhateverTheOrder) {
  WorkerThreads threads(4);
  for (int engine_ply : {20, 52}) {
    const auto start = position_at(engine_ply, kMirror, 1);
    auto b = std::make_unique<Board>(*start);
    SearchContext ctx = context_for(*b);
    const int n = 3000;
    int first = 0;
    for (int k = 0; k < n; ++k) {
      *b = *start;
      ASSERT_EQ(think_traditional(ctx), 1);
      ASSERT_EQ(ctx.value, engine_ply > kEndgamePly ? 5 : 152);
      first += b->cursor_row == 1;
    }
    EXPECT_GE(first, 1000 - 150) << "ply " << engine_ply;
    EXPECT_LE(first, 2000 + 150) << "ply " << engine_ply;
  }
}

}  // namespace
