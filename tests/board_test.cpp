#include "game/board.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "board_util.h"

namespace {

// A straightforward 8 x 8 reference of the rules, independent of the plane
// layout: walk each direction with explicit bounds tests.
struct RefPosition {
  std::array<int, 64> stone{};
  int side = 1;
};

RefPosition ref_from(const Board& b) {
  RefPosition r;
  for (int s = 0; s < 64; ++s) r.stone[s] = b.planes[b.ply][cell_index(square_row(s), square_col(s))] & 3;
  r.side = b.side;
  return r;
}

int ref_flips(const RefPosition& r, int s, std::vector<int>* flipped) {
  if (r.stone[s] != 0) return 0;
  const int dr[8] = {-1, -1, -1, 0, 0, 1, 1, 1}, dc[8] = {-1, 0, 1, -1, 1, -1, 0, 1};
  int directions = 0;
  for (int d = 0; d < 8; ++d) {
    int row = s / 8 + dr[d], col = s % 8 + dc[d];
    std::vector<int> line;
    while (row >= 0 && row < 8 && col >= 0 && col < 8 && r.stone[row * 8 + col] == 3 - r.side) {
      line.push_back(row * 8 + col);
      row += dr[d];
      col += dc[d];
    }
    if (!line.empty() && row >= 0 && row < 8 && col >= 0 && col < 8 && r.stone[row * 8 + col] == r.side) {
      ++directions;
      if (flipped) flipped->insert(flipped->end(), line.begin(), line.end());
    }
  }
  return directions;
}

TEST(Board, StartPosition) {
  auto b = fresh_board();
  b->pass_flag = 1;
  b->colour_scheme = 3;
  b->computer_colour = 1;
  b->engine = 0;
  new_game(*b);
  EXPECT_EQ(b->pass_flag, 1);
  EXPECT_EQ(b->colour_scheme, 3);
  EXPECT_EQ(b->computer_colour, 1);
  EXPECT_EQ(b->engine, 0);
  EXPECT_EQ(b->ply, 0);
  EXPECT_EQ(b->side, 1);
  EXPECT_EQ(b->discs1, 2);
  EXPECT_EQ(b->discs2, 2);
  EXPECT_EQ(b->cursor_row, 6);
  EXPECT_EQ(b->cursor_col, 5);
  const int32_t* p = b->planes[0];
  for (int c = 0; c < 100; ++c) {
    const bool legal = c == 34 || c == 43 || c == 56 || c == 65;
    EXPECT_EQ((p[c] & kLegalMark) != 0, legal) << c;
    EXPECT_EQ(p[c] & kChangedMark, 0) << c;
  }
  EXPECT_EQ(p[0], 16);
  EXPECT_EQ(p[6], 64);
  EXPECT_EQ(record_get(p, kRecOwnDiscs), 2);
  EXPECT_EQ(mark_legal(*b), 4);
  EXPECT_TRUE(board_is_ok(*b));
}

TEST(Board, FirstMoveAndTakeBack) {
  auto b = fresh_board();
  EXPECT_EQ(play(*b, 4, 3), 1);
  EXPECT_EQ(b->planes[1][44] & 3, 1);
  EXPECT_EQ(b->discs1, 4);
  EXPECT_EQ(b->discs2, 1);
  EXPECT_EQ(b->side, 2);
  EXPECT_EQ(b->ply, 1);
  EXPECT_EQ(b->cursor_row, 4);
  EXPECT_EQ(b->cursor_col, 3);
  EXPECT_EQ(b->planes[0][0], 16);
  EXPECT_EQ(b->planes[0][1], 64);
  EXPECT_EQ(b->planes[0][2], 48);
  EXPECT_EQ(b->planes[0][3], 16);
  // Exactly the placed and the flipped stone carry the changed mark.
  for (int c = 11; c < 89; ++c) EXPECT_EQ((b->planes[1][c] & kChangedMark) != 0, c == 43 || c == 44) << c;
  EXPECT_TRUE(board_is_ok(*b));
  EXPECT_EQ(take_back(*b), 1);
  EXPECT_EQ(b->ply, 0);
  EXPECT_EQ(b->side, 1);
  EXPECT_EQ(legal_set(*b), (1ull << 19) | (1ull << 26) | (1ull << 37) | (1ull << 44));
  EXPECT_EQ(b->discs1, 2);
  EXPECT_EQ(b->discs2, 2);
  // Taking back keeps the cursor and the record of the move taken back.
  EXPECT_EQ(b->cursor_row, 4);
  EXPECT_EQ(b->planes[0][1], 64);
  EXPECT_EQ(take_back(*b), 0);
  EXPECT_EQ(b->ply, 0);
}

TEST(Board, LinesEndingAtTheFrameOrAGapAreNotLegal) {
  auto b = fresh_board();
  // Row 1: empty a1, then X up to the frame: no flank towards the edge.
  set_position(*b,
               ".XXXXXXX"
               "........"
               "........"
               "........"
               "........"
               "........"
               "........"
               "........",
               1);
  EXPECT_EQ(can_place(*b, 1, 1), 0);
  EXPECT_EQ(mark_legal(*b), 0);
  EXPECT_EQ(record_get(b->planes[b->ply], kRecMoves), 0);
  EXPECT_EQ(legal_set(*b), 0u);
  // An X, a gap, then X and O further on: the gap ends the walk.
  set_position(*b,
               ".X.XO..."
               "........"
               "........"
               "........"
               "........"
               "........"
               "........"
               "........",
               1);
  EXPECT_EQ(can_place(*b, 1, 1), 0);
  EXPECT_EQ(can_place(*b, 1, 3), 1);
}

TEST(Board, RefusedMovesChangeNothing) {
  auto b = fresh_board();
  Board before;
  std::memcpy(&before, b.get(), sizeof before);
  EXPECT_EQ(play(*b, 1, 1), 0);  // empty, not legal
  EXPECT_EQ(play(*b, 4, 4), 0);  // occupied
  EXPECT_EQ(std::memcmp(b->planes[0], before.planes[0], sizeof before.planes[0]), 0);
  EXPECT_EQ(b->ply, before.ply);
  EXPECT_EQ(b->side, before.side);
  EXPECT_EQ(b->cursor_row, before.cursor_row);
}

TEST(Board, MultiDirectionMoveCountsDirections) {
  auto b = fresh_board();
  // O at c3 flanks via b2? Build: colour 1 plays d4 flipping in three directions.
  set_position(*b,
               "........"
               ".O.O.O.."
               "..XXX..."
               ".OX.XO.."
               "..XXX..."
               "........"
               "........"
               "........",
               1);
  // d4 (row 4, col 4) is flanked N, NW, NE... count with the reference.
  const RefPosition r = ref_from(*b);
  const int expected = ref_flips(r, square_of(4, 4), nullptr);
  ASSERT_GE(expected, 3);
  EXPECT_EQ(play(*b, 4, 4), expected);
  EXPECT_EQ(record_get(b->planes[b->ply - 1], kRecDirections), expected);
  // Two stones flipped along one line still count as one direction.
  set_position(*b, std::string("OXX.....") + std::string(56, '.'), 1);
  EXPECT_EQ(play(*b, 1, 4), 1);
  EXPECT_EQ(b->discs1, 4);
}

TEST(Board, PassAndEnd) {
  auto b = fresh_board();
  // Colour 1 has no move, colour 2 has: check_end passes the turn.
  set_position(*b,
               "XO......"
               "........"
               "........"
               "........"
               "........"
               "........"
               "........"
               "........",
               1);
  ASSERT_EQ(mark_legal(*b), 0);
  EXPECT_EQ(check_end(*b), 0);
  EXPECT_EQ(b->side, 2);
  EXPECT_EQ(b->pass_flag, 1);
  EXPECT_NE(legal_set(*b), 0u);
  EXPECT_EQ(check_end(*b), 0);
  EXPECT_EQ(b->pass_flag, 0);
  EXPECT_EQ(b->side, 2);
  // Neither side can move: game over, the side to move is kept.
  set_position(*b, "OO" + std::string(62, '.'), 2);
  EXPECT_EQ(check_end(*b), 1);
  EXPECT_EQ(b->side, 2);
  EXPECT_EQ(b->pass_flag, 0);
  // Ply 60 ends the game at once.
  b->ply = 60;
  set_position(*b, std::string(64, 'O'), 1);
  b->pass_flag = 1;
  EXPECT_EQ(check_end(*b), 1);
  EXPECT_EQ(b->pass_flag, 0);
  EXPECT_EQ(play(*b, 1, 1), 0);
}

// Plays seeded random games through play/check_end, comparing every
// position with the reference, then takes the whole game back.
TEST(Board, RandomGamesAgainstReferenceAndFullTakeBack) {
  std::mt19937 rng(12345);
  for (int game = 0; game < 300; ++game) {
    auto b = fresh_board();
    std::vector<Board> history;
    int moves = 0;
    while (!check_end(*b)) {
      ASSERT_TRUE(board_is_ok(*b));
      const RefPosition r = ref_from(*b);
      uint64_t expected = 0;
      for (int s = 0; s < 64; ++s)
        if (ref_flips(r, s, nullptr) > 0) expected |= uint64_t{1} << s;
      ASSERT_EQ(legal_set(*b), expected);
      std::vector<int> squares;
      for (int s = 0; s < 64; ++s)
        if (expected >> s & 1) squares.push_back(s);
      const int s = squares[rng() % squares.size()];
      std::vector<int> flipped;
      const int dirs = ref_flips(r, s, &flipped);
      ASSERT_EQ(play(*b, square_row(s), square_col(s)), dirs);
      ++moves;
      for (int f : flipped)
        ASSERT_EQ(b->planes[b->ply][cell_index(square_row(f), square_col(f))] & 3, r.side);
      ASSERT_EQ(b->discs1 + b->discs2, 4 + moves);
      ASSERT_TRUE(board_is_ok(*b));
    }
    EXPECT_EQ(b->ply, moves);
    const int first_row = record_get(b->planes[0], kRecRow), first_col = record_get(b->planes[0], kRecCol);
    for (int i = 0; i < moves; ++i) {
      ASSERT_EQ(take_back(*b), 1);
      ASSERT_TRUE(board_is_ok(*b));
    }
    auto start = fresh_board();
    EXPECT_EQ(b->side, 1);
    EXPECT_EQ(b->discs1, 2);
    EXPECT_EQ(b->discs2, 2);
    for (int c = 7; c < 100; ++c) ASSERT_EQ(b->planes[0][c], start->planes[0][c]) << c;
    EXPECT_EQ(record_get(b->planes[0], kRecRow), first_row);
    EXPECT_EQ(record_get(b->planes[0], kRecCol), first_col);
    EXPECT_EQ(take_back(*b), 0);
  }
}

TEST(Board, TakeBackOverAPassRestoresTheMover) {
  auto b = fresh_board();
  // Colour 1 cannot move; colour 2 can take c1.
  set_position(*b, "XO" + std::string(62, '.'), 1);
  ASSERT_EQ(check_end(*b), 0);
  ASSERT_EQ(b->pass_flag, 1);
  ASSERT_EQ(b->side, 2);
  ASSERT_EQ(play(*b, 1, 3), 1);
  EXPECT_EQ(b->side, 1);
  EXPECT_EQ(take_back(*b), 1);
  EXPECT_EQ(b->side, 2);  // the side that really played, not the one that passed
  EXPECT_NE(legal_set(*b), 0u);
}

// A game set up from a position: from the usual start's stones it is
// new_game byte for byte; from another position it stands at the ply of its
// stone count with no move below it; fewer than 4 stones are refused.
TEST(Board, NewGameFromAPosition) {
  const auto stones_of = [](const Board& b, int(&stones)[64]) {
    for (int s = 0; s < 64; ++s)
      stones[s] = current_plane(b)[cell_index(square_row(s), square_col(s))] & kStoneMask;
  };
  auto usual = fresh_board();
  auto game = fresh_board();
  for (int k = 0; k < 20 && check_end(*game) == 0; ++k) {
    int squares[64], n = 0;
    for (int s = 0; s < 64; ++s)
      if (legal_set(*game) >> s & 1) squares[n++] = s;
    const int s = squares[k % n];  // a game that is not all first squares
    ASSERT_NE(play(*game, square_row(s), square_col(s)), 0);
  }
  int stones[64];
  stones_of(*usual, stones);
  auto b = std::make_unique<Board>(*game);
  ASSERT_TRUE(new_game_from(*b, stones, 1));
  EXPECT_EQ(std::memcmp(b.get(), usual.get(), sizeof(Board)), 0);

  stones_of(*game, stones);
  ASSERT_TRUE(new_game_from(*b, stones, game->side));
  EXPECT_EQ(b->ply, game->discs1 + game->discs2 - 4);
  EXPECT_TRUE(board_is_ok(*b));
  EXPECT_EQ(legal_set(*b), legal_set(*game));
  EXPECT_FALSE(has_last_move(*b));
  const int s = __builtin_ctzll(legal_set(*b));
  ASSERT_NE(play(*b, square_row(s), square_col(s)), 0);
  EXPECT_TRUE(has_last_move(*b));

  const auto before = std::make_unique<Board>(*b);
  int three[64] = {};
  three[0] = three[1] = 1;
  three[2] = 2;
  EXPECT_FALSE(new_game_from(*b, three, 1));
  EXPECT_FALSE(new_game_from(*b, stones, 3));
  EXPECT_EQ(std::memcmp(before.get(), b.get(), sizeof(Board)), 0);
}

TEST(Perft, PublishedCountsFromTheStart) {
  const uint64_t expected[] = {4, 12, 56, 244, 1396, 8200, 55092, 390216};
  auto b = fresh_board();
  for (int depth = 1; depth <= 8; ++depth) {
    EXPECT_EQ(perft(*b, depth), expected[depth - 1]) << depth;
    EXPECT_TRUE(board_is_ok(*b));
    EXPECT_EQ(b->ply, 0);
  }
}

// A broken record is reported with the invariant and the square or cell.
TEST(BoardCheck, NamesTheInvariantAndTheSquare) {
  EXPECT_EQ(board_fault(*fresh_board()), "");
  auto b = fresh_board();
  b->planes[0][cell_index(8, 8)] = 3;
  EXPECT_EQ(board_fault(*b), "stones: stone 3 on h8");
  b = fresh_board();
  b->planes[0][cell_index(3, 4)] &= ~kLegalMark;
  EXPECT_EQ(board_fault(*b), "legal marks: no mark on c4 where the move is legal");
  EXPECT_FALSE(board_is_ok(*b));
}

// Builds with assertions (debug, and the sanitizer build CI runs) check the
// board after every move and stop with what broke.
TEST(BoardCheckDeathTest, AMoveOnABrokenRecordStops) {
#ifdef NDEBUG
  GTEST_SKIP() << "assertions are off in this build";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto b = fresh_board();
  b->planes[0][7] = 16;  // a frame cell beyond the plane record: the move copies it up
  EXPECT_DEATH(play(*b, 4, 3), "board invariant broken at ply 1: clear frame: cell 7 holds 0x10");
#endif
}

}  // namespace
