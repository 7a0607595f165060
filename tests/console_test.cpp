// End-to-end tests of the text dialogue and demo mode: the built program
// driven through its standard streams, from prepared data files.
#include "ui/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>

#include "data_util.h"
#include "exe_runner.h"
#include "search/engine.h"
#include "ui/game_record.h"

namespace fs = std::filesystem;

namespace {

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

int lines_of(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class Console : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("console"); }
  void TearDown() override { fs::remove_all(dir_); }
  // Writes the data file with board and a zero network.
  void prepare(const Board& b) {
    auto net = zero_net();
    ASSERT_TRUE(write_data_file(dir_, b, *net));
  }
  std::unique_ptr<Board> saved_board() {
    auto b = fresh_board();
    auto net = zero_net();
    EXPECT_TRUE(read_data_file(dir_, *b, *net));
    return b;
  }
  fs::path dir_;
};

TEST(BoardText, StartPosition) {
  auto b = fresh_board();
  EXPECT_EQ(board_text(*b),
            "   a b c d e f g h\n"
            "1) . . . . . . . .\n"
            "2) . . . . . . . .\n"
            "3) . . . , . . . .\n"
            "4) . . , X O . . .\n"
            "5) . . . O X , . .\n"
            "6) . . . . , . . .\n"
            "7) . . . . . . . .\n"
            "8) . . . . . . . .\n"
            "turn:O   O:X=2:2\n");
}

// The human plays colour 1 against the traditional engine from the start
// position. Every command of the dialogue is used once.
TEST_F(Console, ScriptedTextGame) {
  auto b = fresh_board();
  b->engine = 0;
  b->computer_colour = 2;
  prepare(*b);
  // The traditional engine thinks seven plies deep; the opening positions are
  // small enough for that to be quick.
  const std::string script =
      "help\n"
      "untake\n"  // at the start with the human to move: nothing
      "a1\n"      // not legal
      "d3xyz\n"   // d3 with trailing characters: legal
      "D3\n"      // upper case: unknown
      "i1\n"      // beyond h: unknown
      "a9\n"      // beyond 8: unknown
      "\n"        // empty line: unknown
      "untake\n"  // takes back the computer's reply and d3
      "new\n"     // colours swap: the computer now plays colour 1 and moves first
      "untake\n"  // takes back the computer's first move, stops at the start; it moves again
      "quit\n"
      "never read\n";
  const auto r = run_tavimor(dir_, {"-mode", "text"}, script);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string& e = r.err;
  EXPECT_NE(e.find("you> [a-h][1-8] : put your stone here.\nnew\t: new game.\nquit|exit  : exit.\n"),
            std::string::npos);
  EXPECT_NE(e.find("exit.\nhint\t: your moves, scored by the engine.\n"), std::string::npos);
  EXPECT_EQ(count_of(e, "tavimor> you can't put here...\n"), 1);
  EXPECT_NE(e.find("error: unknown D3. see help.\n"), std::string::npos);
  EXPECT_NE(e.find("error: unknown i1. see help.\n"), std::string::npos);
  EXPECT_NE(e.find("error: unknown a9. see help.\n"), std::string::npos);
  EXPECT_NE(e.find("you> error: unknown . see help.\n"), std::string::npos);
  EXPECT_NE(e.find("tavimor> new game...\n"), std::string::npos);
  EXPECT_NE(e.find("tavimor> exit game...\n"), std::string::npos);
  // The computer moved after d3, twice after "new" (before and after untake).
  EXPECT_EQ(count_of(e, "tavimor> I'm thinking... "), 3);
  // After d3 the board shows O on d3 and d4, and it is X's turn.
  EXPECT_NE(e.find("3) . . , O , . . .\n4) . . . O O . . .\n"), std::string::npos);
  EXPECT_NE(e.find("turn:X   O:X=4:1\n"), std::string::npos);
  // "untake" after the reply restores the start position with O to move.
  const auto after_untake = e.find("error: unknown . see help.\n");
  EXPECT_NE(e.find("turn:O   O:X=2:2\nyou> tavimor> new game...", after_untake), std::string::npos);
  EXPECT_EQ(e.find("never read"), std::string::npos);
  // The saved game: after "new" the computer has colour 1 and has moved once;
  // the human is to move.
  auto saved = saved_board();
  EXPECT_EQ(saved->computer_colour, 1);
  EXPECT_EQ(saved->ply, 1);
  EXPECT_EQ(saved->side, 2);
  EXPECT_EQ(saved->engine, 0);
}

TEST_F(Console, EndOfInputAndOverlongLinesEndTheDialogue) {
  auto b = fresh_board();
  b->engine = 0;
  prepare(*b);
  auto r = run_tavimor(dir_, {"-mode", "text"}, "");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.err, "you> "), 1);
  EXPECT_NE(r.err.find("tavimor> exit game...\ntavimor> datafile was saved.\n"), std::string::npos) << r.err;

  // d3 with 253 more characters fits the buffer; a 256-character line does not.
  const std::string fits = "d3" + std::string(253, 'x') + "\n";
  r = run_tavimor(dir_, {"-mode", "text"}, fits + std::string(256, 'y') + "\nquit\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(count_of(r.err, "you> "), 2) << r.err;
  EXPECT_NE(r.err.find("error: a line is longer than 255 characters.\ntavimor> exit game...\n"),
            std::string::npos);
  auto saved = saved_board();
  EXPECT_EQ(saved->ply, 2);  // d3 and the computer's reply were kept
}

// Lines are bytes: a NUL does not cut a line short (nor hide its length), and
// a carriage return before the newline is dropped.
TEST_F(Console, NulBytesAndCarriageReturns) {
  auto b = fresh_board();
  b->engine = 0;
  prepare(*b);
  const std::string input("help\0x\nzz\0", 10);
  auto r = run_tavimor(dir_, {"-mode", "text"}, input + std::string(300, 'y') + "\nquit\r\n");
  EXPECT_NE(r.err.find(std::string("error: unknown help\0x. see help.\n", 33)), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("error: a line is longer than 255 characters.\n"), std::string::npos) << r.err;
  r = run_tavimor(dir_, {"-mode", "text"}, "quit\r\nnever read\n");
  EXPECT_NE(r.err.find("you> tavimor> exit game...\n"), std::string::npos) << r.err;
}

// Passes: "untake" after the computer had to pass takes back one move; a
// move typed after the human had to pass is played for the computer's colour.
TEST_F(Console, PassesAndUntake) {
  auto b = fresh_board();
  b->engine = 0;
  b->computer_colour = 2;
  // Row a reads O X . X: O's a3 leaves X without a move; O then has a5.
  set_position(*b, "OX.X" + std::string(60, '.'), 1);
  prepare(*b);
  auto r = run_tavimor(dir_, {"-mode", "text"}, "a3\nuntake\nquit\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("tavimor> I can put no where...you> "), std::string::npos) << r.err;
  auto saved = saved_board();
  EXPECT_EQ(saved->ply, 0);
  EXPECT_EQ(saved->side, 1);

  // O cannot move, X can: the human passes and the line typed is X's move,
  // which ends the game with X, the computer, 3 stones up.
  set_position(*b, "XO" + std::string(62, '.'), 1);
  prepare(*b);
  r = run_tavimor(dir_, {"-mode", "text"}, "a3\nquit\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("tavimor> You can put no where...you> "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("GAME OVER. I win 3 points.\n"), std::string::npos) << r.err;
}

// A late position where the human (colour 1) passes and the game then ends.
TEST_F(Console, GameToItsEnd) {
  auto b = fresh_board();
  b->engine = 0;
  ASSERT_GE(play_first_moves(*b, 54), 50);
  b->computer_colour = 3 - b->side;  // the human is to move
  prepare(*b);
  // The human answers every prompt with the first legal square it can find.
  std::string script;
  for (char r = 'a'; r <= 'h'; ++r)
    for (char c = '1'; c <= '8'; ++c) script += std::string{r, c} + "\n";
  for (int i = 0; i < 6; ++i) script += script;
  const auto r = run_tavimor(dir_, {"-mode", "text"}, script);
  ASSERT_EQ(r.status, 0);
  auto saved = saved_board();
  const int result = saved->discs1 - saved->discs2;
  std::string expected = "GAME OVER. ";
  const bool computer_wins = (result > 0) == (saved->computer_colour == 1);
  if (result == 0) {
    expected += "draw game...\n";
  } else {
    expected +=
        std::string(computer_wins ? "I" : "you") + " win " + std::to_string(std::abs(result)) + " points.\n";
  }
  EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
  EXPECT_EQ(check_end(*saved), 1);
  // Finished: a new run prints the board and the result at once.
  const auto again = run_tavimor(dir_, {"-mode", "text"}, "");
  EXPECT_EQ(count_of(again.err, "you> "), 0);
  EXPECT_NE(again.err.find(expected), std::string::npos);
}

// The human's move makes the neural engine learn once before it answers; with
// the traditional engine nothing is learned. The -nnc stream shows each
// learning step as one line after the header.
TEST_F(Console, LearningOnlyWithTheNeuralEngine) {
  auto b = fresh_board();
  ASSERT_GE(play_first_moves(*b, 50), 50);
  b->computer_colour = 3 - b->side;
  b->engine = 1;
  prepare(*b);
  std::string move;
  for (int s = 0; s < 64 && move.empty(); ++s)
    if (b->planes[b->ply][cell_index(square_row(s), square_col(s))] & kLegalMark)
      move = std::string{static_cast<char>('a' + square_row(s) - 1), static_cast<char>('0' + square_col(s))};
  ASSERT_FALSE(move.empty());
  auto r = run_tavimor(dir_, {"-mode", "text", "-nnc"}, move + "\nquit\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines_of(r.out), 2) << "header and one sample line";
  EXPECT_EQ(count_of(r.out, ","), 2 * 1023);

  prepare(*b);
  r = run_tavimor(dir_, {"-mode", "text", "-nnc", "-think", "traditional"}, move + "\nquit\n");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(lines_of(r.out), 1) << "the header alone";
}

// "hint" lists the engine's root scores best first and changes nothing: the
// transcript gains only the list, the board and the prompt; the file is the same.
TEST_F(Console, HintListsTheRootScoresAndChangesNothing) {
  auto b = fresh_board();
  ASSERT_EQ(play_first_moves(*b, 16), 16);
  b->computer_colour = 3 - b->side;
  auto net = zero_net();
  std::mt19937 rng(5);
  random_params(*net, rng, 0.7f, 0.07f);  // no tie for the reply to draw
  Board work = *b;
  SearchContext ctx{&work, net.get(), 0};
  RootScores all;
  engine_move(ctx, ThinkType::neuro, &all);
  std::stable_sort(all.moves, all.moves + all.count, [](auto& x, auto& y) { return x.value > y.value; });
  std::string hint, err[2], file[2];
  for (const RootMove& m : std::span(all.moves, all.count))
    hint += "tavimor> " + square_name(m.row, m.col, false) + " " + std::to_string(m.value) + "\n";
  for (const int k : {0, 1}) {  // the best move, then quit; with "hint" before them
    ASSERT_TRUE(write_data_file(dir_, *b, *net));
    err[k] = run_tavimor(dir_, {"-mode", "text"}, (k ? "hint\n" : "") + hint.substr(9, 3) + "quit\n").err;
    file[k] = read_file(dir_ / "tavimor.dat");
  }
  EXPECT_EQ(err[1], err[0].insert(err[0].find("you> ") + 5, hint + board_text(*b) + "you> "));
  EXPECT_TRUE(file[1] == file[0]);
}

// Two demo runs from prepared late positions: the neural engine plays each
// colour once, the result line names the winner, the statistics line comes
// only with -dump and the CSV lines only with -nnc.
TEST_F(Console, DemoRunsSwapColours) {
  auto b = fresh_board();
  ASSERT_GE(play_first_moves(*b, 52), 52);
  b->computer_colour = 2;
  prepare(*b);
  auto r = run_tavimor(dir_, {"-mode", "demo", "-dump"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tavimor> neuro thinking... "), std::string::npos);
  EXPECT_NE(r.err.find("tavimor> trady thinking... "), std::string::npos);
  EXPECT_NE(r.err.find("GAME OVER. "), std::string::npos);
  const auto stats = r.out.find("neuro\t");
  ASSERT_NE(stats, std::string::npos) << r.out;
  int neuro = -1, trady = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str() + stats, "neuro\t%d\ttredy\t%d\n", &neuro, &trady), 2);
  EXPECT_GT(neuro + trady, 52);
  auto saved = saved_board();
  EXPECT_EQ(saved->computer_colour, 1);
  EXPECT_EQ(saved->ply, 0);

  // The second run: the neural engine now on colour 1.
  auto late = fresh_board();
  ASSERT_GE(play_first_moves(*late, 52), 52);
  late->computer_colour = saved->computer_colour;
  prepare(*late);
  r = run_tavimor(dir_, {"-mode", "demo", "-nnc"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("neuro\t"), std::string::npos);
  EXPECT_EQ(r.out.rfind("x__0:d0,", 0), 0u);
  const int learned = count_of(r.err, "tavimor> neuro thinking... ");
  EXPECT_GE(learned, 1);
  // One header, then one line per learning step (the neural engine learns
  // before each of its moves that follows a move of the other engine).
  EXPECT_GE(lines_of(r.out), 2);
  EXPECT_LE(lines_of(r.out), 1 + learned);
  EXPECT_EQ(saved_board()->computer_colour, 2);

  // Without a data file -nnc prints the header twice: at parse and at reset.
  fs::remove(dir_ / "tavimor.dat");
  r = run_tavimor(dir_, {"-mode", "text", "-nnc"}, "");
  EXPECT_EQ(count_of(r.out, "x__0:d0,"), 2);
  EXPECT_EQ(lines_of(r.out), 2);
}

}  // namespace
