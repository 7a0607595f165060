// The neural engine's search and root on networks with known parameters.
#include "search/neuro.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "board_util.h"
#include "data_util.h"
#include "game/random.h"
#include "nn/network.h"
#include "search/engine.h"
#include "search/neuro_position.h"
#include "search/search.h"

namespace {

// A network whose weights are all zero: every layer's raw sums are 0, so the
// output layer is the squash of its biases and the scores are the same for
// every position. out0 sets the biases of output plane 0 (the others stay 0).
std::unique_ptr<NeuralNet> constant_net(const float (&out0)[64]) {
  auto net = zero_net();
  for (int s = 0; s < 64; ++s) net->bias[4][s] = out0[s];
  return net;
}

float times(float x, double factor) { return static_cast<float>(static_cast<double>(x) * factor); }

struct Fixture {
  std::unique_ptr<Board> board = fresh_board();
  std::unique_ptr<NeuralNet> net;
  SearchContext ctx{};
  explicit Fixture(std::unique_ptr<NeuralNet> n) : net(std::move(n)) {
    ctx = SearchContext{board.get(), net.get(), 0};
  }
};

float zero_scores[64] = {};

// The position a search must leave: the planes up to ply, the side, the
// counts. Cells 1..3 of the current plane record the last move played from
// it, which the search itself rewrites.
void expect_same_position(const Board& a, const Board& b) {
  ASSERT_EQ(a.ply, b.ply);
  EXPECT_EQ(std::memcmp(a.planes, b.planes, sizeof(int32_t) * kPlaneCells * a.ply), 0);
  for (int c = 0; c < kPlaneCells; ++c) {
    if (c < kRecRow || c > kRecDirections) {
      EXPECT_EQ(a.planes[a.ply][c], b.planes[b.ply][c]) << c;
    }
  }
  EXPECT_EQ(a.side, b.side);
  EXPECT_EQ(a.discs1, b.discs1);
  EXPECT_EQ(a.discs2, b.discs2);
}

TEST(NeuroSearch, ScoresAreConstantForAZeroWeightNetwork) {
  float out0[64];
  for (int s = 0; s < 64; ++s) out0[s] = 0.01f * static_cast<float>(s) - 0.3f;
  Fixture f(constant_net(out0));
  ASSERT_GE(play_first_moves(*f.board, 20), 20);
  float a[64], b[64];
  neuro_evaluate(f.ctx, f.board->planes[5], false, a);
  neuro_evaluate(f.ctx, f.board->planes[19], false, b);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
  EXPECT_NE(a[0], a[63]);
}

// The full row 1 ". X O" with the rest of the board filled: O's a1 flips b1
// alone and fills the last square, leaving O with o + 2 stones and X with
// 63 - o - 1.
std::string last_square_position(int o) {
  std::string pos(64, 'X');
  pos[0] = '.';
  pos[2] = pos[8] = pos[9] = 'O';
  int placed = 3;
  for (int s = 3; s < 64 && placed < o; ++s) {
    if (s == 8 || s == 9) continue;
    pos[s] = 'O';
    ++placed;
  }
  return pos;
}

// The move that fills the last square: the player to move next is scored by
// the end of the game, 0.1 for a win, -0.1 for a loss or a draw, times 1.05.
TEST(NeuroSearch, AMoveThatEndsTheGame) {
  Fixture f(constant_net(zero_scores));
  const float win = times(0.1f, 1.05), loss = times(-0.1f, 1.05);
  EXPECT_FLOAT_EQ(win, 0.105f);
  EXPECT_FLOAT_EQ(loss, -0.105f);
  struct Case {
    int o;
    int o_after, x_after;
    float expected;  // seen from X, to move after a1
  } cases[] = {{20, 22, 42, win}, {45, 47, 17, loss}, {30, 32, 32, loss}};
  for (const Case& c : cases) {
    set_position(*f.board, last_square_position(c.o), 1);
    Board after = *f.board;
    ASSERT_EQ(play(after, 1, 1), 1);
    ASSERT_EQ(after.discs1, c.o_after);
    ASSERT_EQ(after.discs2, c.x_after);
    EXPECT_EQ(neuro_search(f.ctx, *f.board, 0, 1, 1), c.expected) << c.o;
  }
}

// After the move the opponent must pass; the mover moves again and that line
// ends the game: the value is (b x -1.05) x 1.05, b the mover's best
// continuation with the same network scores.
TEST(NeuroSearch, AForcedPassScalesTwiceAndNegates) {
  float out0[64];
  for (int s = 0; s < 64; ++s) out0[s] = 0.3f;
  Fixture f(constant_net(out0));
  float s[64];
  neuro_evaluate(f.ctx, f.board->planes[0], true, s);
  // Row 1: O O X . . and nothing else: O plays... build: colour 2 (X) to move
  // plays d1 flanking c1? Use: ". O X . ..." X at c1, O at b1.
  // X plays a1 (flips b1): then O has no stone... ends. Instead:
  // Row 1 "XO.O" + row 2 "...X": X to move plays c1 flipping b1? c1 is
  // between b1 (O) and d1 (O): X at c1 flanks nothing. Keep it to a known
  // shape checked by the rules: O to move plays c1 on "XX.O"? no flank.
  //
  // Shape used: row 1 = "OX.X....", row 2 empty, rest empty, O to move plays
  // c1? O at a1, X at b1, c1 empty: O plays c1 flipping b1 -> row 1 "OOOX".
  // X then has no move (X at d1 flanks nothing: no O beyond an empty), O has
  // e1 (flanking d1). After e1 the row is all O: nobody can move, O wins.
  set_position(*f.board, "OX.X" + std::string(60, '.'), 1);
  ASSERT_EQ(legal_set(*f.board), uint64_t{1} << 2);
  Board check = *f.board;
  ASSERT_NE(play(check, 1, 3), 0);
  ASSERT_EQ(check_end(check), 0);
  ASSERT_EQ(check.pass_flag, 1);
  ASSERT_EQ(legal_set(check), uint64_t{1} << 4);
  // The continuation e1 ends the game with X to move and no X left: a loss
  // for X, scored -0.105 from X's side, so for O: bias + s - (-0.105).
  const float inner = times(-0.1f, 1.05);
  const float b = (square_bias[4] + s[4]) - inner;
  const float expected = times(times(b, -1.05), 1.05);
  Board before = *f.board;
  EXPECT_EQ(neuro_search(f.ctx, *f.board, 0, 1, 3), expected);
  expect_same_position(*f.board, before);
}

// The search leaves the position exactly as given, marks included, on a
// random network from a mid-game position.
TEST(NeuroSearch, BoardRestored) {
  auto net = zero_net();
  std::mt19937 rng(3);
  random_params(*net, rng, 0.7f, 0.07f);
  Fixture f(std::move(net));
  ASSERT_GE(play_first_moves(*f.board, 46), 46);
  const Board before = *f.board;
  for (int s = 0; s < 64; ++s) {
    if (!(legal_set(before) >> s & 1)) continue;
    neuro_search(f.ctx, *f.board, 0, square_row(s), square_col(s));
    expect_same_position(*f.board, before);
    EXPECT_TRUE(board_is_ok(*f.board));
  }
}

// The parallel root chooses the move with the best score, scored as
// root output + bias - search, and reports trunc(best x 50).
TEST(NeuroRootConcurrent, ParallelRootMatchesSequentialScores) {
  auto net = zero_net();
  std::mt19937 rng(11);
  random_params(*net, rng, 0.7f, 0.035f);
  Fixture f(std::move(net));
  for (int target : {44, 47}) {
    new_game(*f.board);
    ASSERT_EQ(play_first_moves(*f.board, target), target);
    ASSERT_EQ(check_end(*f.board), 0);  // passes if the side to move cannot move
    float out[64];
    neuro_evaluate(f.ctx, previous_plane(*f.board), f.board->ply == 1, out);
    float best = -1.0e10f;
    int best_square = -1;
    int equal = 0;
    for (int s = 0; s < 64; ++s) {
      if (!(legal_set(*f.board) >> s & 1)) continue;
      Board copy = *f.board;
      const float score =
          out[s] + square_bias[s] - neuro_search(f.ctx, copy, 0, square_row(s), square_col(s));
      if (score > best) {
        best = score;
        best_square = s;
        equal = 0;
      } else if (score == best) {
        ++equal;
      }
    }
    ASSERT_EQ(equal, 0) << "the position must have one best move";
    const Board before = *f.board;
    ASSERT_EQ(think_neuro(f.ctx), 1) << best << " value " << f.ctx.value;
    EXPECT_EQ(f.board->ply, before.ply + 1);
    EXPECT_EQ(record_get(f.board->planes[before.ply], kRecRow), square_row(best_square));
    EXPECT_EQ(record_get(f.board->planes[before.ply], kRecCol), square_col(best_square));
    EXPECT_EQ(f.ctx.value, static_cast<int>(std::trunc(best * 50.0f)));
  }
}

// With -learn off (or backprop) every position of the tree is evaluated
// itself: the pruned root reports for every move what the full-width
// reference gives (root evaluation + bias - reference) and plays the best,
// through passes and ends of games near the last ply.
TEST(NeuroRootConcurrent, PositionSearchMatchesItsReference) {
  auto net = zero_net();
  std::mt19937 rng(13);
  random_params(*net, rng, 0.7f, 0.035f);
  net->learn_rule = LearnRule::off;
  Fixture f(std::move(net));
  for (int target : {51, 53, 55}) {
    new_game(*f.board);
    ASSERT_EQ(play_first_moves(*f.board, target), target);
    ASSERT_EQ(check_end(*f.board), 0);
    ASSERT_TRUE(neuro_searches_position(*f.net) && neuro_position_applies(*f.board));
    float own[64];
    net_evaluate(*f.net, current_plane(*f.board), false, own);
    float best = -1.0e10f;
    int best_square = -1;
    RootScores expected{};
    for (int s = 0; s < 64; ++s) {
      if (!(legal_set(*f.board) >> s & 1)) continue;
      const float score = own[s] + square_bias[s] - neuro_position_reference(*f.net, *f.board, s);
      expected.moves[expected.count++] = RootMove{square_row(s), square_col(s), neuro_root_value(score)};
      if (score > best) best = score, best_square = s;
    }
    RootScores all{};
    ASSERT_EQ(think_neuro_position(f.ctx, {&all}), 1);
    ASSERT_EQ(all.count, expected.count);
    for (int i = 0; i < all.count; ++i) EXPECT_EQ(all.moves[i].value, expected.moves[i].value) << target;
    EXPECT_EQ(record_get(previous_plane(*f.board), kRecRow), square_row(best_square));
    EXPECT_EQ(record_get(previous_plane(*f.board), kRecCol), square_col(best_square));
    EXPECT_EQ(f.ctx.value, neuro_root_value(best));
  }
  // The default rule keeps the plane search.
  f.net->learn_rule = LearnRule::imitation;
  EXPECT_FALSE(neuro_searches_position(*f.net));
}

TEST(NeuroRoot, ReportedValue) {
  EXPECT_EQ(neuro_root_value(1.234f), 61);
  EXPECT_EQ(neuro_root_value(-0.5f), -25);
  EXPECT_EQ(neuro_root_value(0.02f), 1);  // the product is formed in float
  EXPECT_EQ(neuro_root_value(-0.019f), 0);
  EXPECT_EQ(neuro_root_value(1.0e9f), 2147483647);
  EXPECT_EQ(neuro_root_value(-1.0e9f), -2147483647 - 1);
  EXPECT_EQ(neuro_root_value(-1.0e10f), -10000000);
}

TEST(NeuroRoot, NoMoveAndTheEndgameSwitch) {
  Fixture f(constant_net(zero_scores));
  // No legal move: nothing is played, value stays inside the int range.
  set_position(*f.board, "XO" + std::string(62, '.'), 1);
  const Board before = *f.board;
  EXPECT_EQ(think_neuro(f.ctx), 0);
  EXPECT_EQ(f.ctx.value, kNoScore);
  EXPECT_EQ(f.board->ply, before.ply);
  // At ply 49 the neural engine solves the game: the value is the exact disc
  // difference that think_final reports, whatever the network says.
  new_game(*f.board);
  ASSERT_EQ(play_first_moves(*f.board, 49), 49);
  Board copy = *f.board;
  SearchContext other{&copy, f.net.get(), 0};
  ASSERT_EQ(think_final(other), 1);
  ASSERT_EQ(think_neuro(f.ctx), 1);
  EXPECT_EQ(f.ctx.value, other.value);
}

}  // namespace
