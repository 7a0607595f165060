// The engine for the Othello GUIs, driven as a GUI drives it: the built
// tavimor-nboard on pipes, and its game analysis from the command line.
#include "ui/nboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "data_util.h"
#include "exe_runner.h"
#include "pipe_process.h"
#include "search/search.h"
#include "search_util.h"

namespace fs = std::filesystem;

namespace {

// Random moves on b until the game ends or `limit` are recorded; a pass the
// rules force is recorded as PA of the side that had no move.
void random_moves(Board& b, std::mt19937& rng, int limit, std::vector<RecordMove>& out) {
  while (static_cast<int>(out.size()) < limit && check_end(b) == 0) {
    if (b.pass_flag != 0) out.push_back(RecordMove{3 - b.side, 0, 0});
    int squares[64];
    const int s = squares[rng() % static_cast<unsigned>(legal_squares(b, squares))];
    out.push_back(RecordMove{b.side, square_row(s), square_col(s)});
    play(b, square_row(s), square_col(s));
  }
}

// A start position that is not the usual one: the position of a random game.
std::unique_ptr<Board> odd_start(int ply, uint32_t seed) {
  auto b = fresh_board();
  if (!random_game(*b, ply, seed)) return nullptr;
  int stones[64];
  for (int s = 0; s < 64; ++s)
    stones[s] = current_plane(*b)[cell_index(square_row(s), square_col(s))] & kStoneMask;
  auto start = fresh_board();
  return new_game_from(*start, stones, b->side) ? std::move(start) : nullptr;
}

// The position after the first `count` moves from start.
std::unique_ptr<Board> replayed(const Board& start, const std::vector<RecordMove>& moves, std::size_t count) {
  auto b = std::make_unique<Board>(start);
  for (std::size_t i = 0; i < count; ++i)
    if (!replay_move(*b, moves[i])) return nullptr;
  return b;
}

// A GGF game from start with the first `count` moves; every other move
// carries an eval and a time.
std::string ggf_of(const Board& start, const std::vector<RecordMove>& moves, std::size_t count) {
  std::string g = "(;GM[Othello]PC[test]PB[one player]PW[the other]TI[15:00]BO[8 ";
  for (int k = 0; k < 64; ++k) {
    const int stone = current_plane(start)[cell_index(k % 8 + 1, k / 8 + 1)] & kStoneMask;
    g += stone == 1 ? '*' : stone == 2 ? 'O' : '-';
    if (k % 8 == 7) g += ' ';
  }
  g += start.side == 1 ? "*]" : "O]";
  for (std::size_t i = 0; i < count; ++i)
    g += std::string(moves[i].colour == 1 ? "B[" : "W[") + square_name(moves[i].row, moves[i].col, true) +
         (i % 2 == 1 ? "/-1.50/0.25]" : "]");
  return g + ";)";
}

// The bytes from ' ' to '~'.
const std::string kPrintableAscii = [] {
  std::string s;
  for (char c = ' '; c <= '~'; ++c) s += c;
  return s;
}();

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// "search F5 12 0 7" and "=== F5/12/0.25".
struct Eval {
  std::string move;
  int value = 0;
  int depth = -1;
};
bool parse_search(const std::string& line, Eval& e) {
  std::istringstream in(line);
  std::string word, zero;
  return (in >> word >> e.move >> e.value >> zero >> e.depth) && word == "search" && zero == "0";
}
bool parse_go(const std::string& line, Eval& e) {
  if (line.compare(0, 4, "=== ") != 0 || line.size() < 9 || line[6] != '/') return false;
  e.move = line.substr(4, 2);
  e.value = std::atoi(line.c_str() + 7);
  return line.find('/', 7) != std::string::npos;
}

std::set<std::string> legal_names(const Board& b) {
  std::set<std::string> names;
  int squares[64];
  for (int i = 0, n = legal_squares(b, squares); i < n; ++i)
    names.insert(square_name(square_row(squares[i]), square_col(squares[i]), true));
  return names;
}

class Nboard : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("nboard"); }
  void TearDown() override { fs::remove_all(dir_); }
  ExeResult run(const std::vector<std::string>& args, const std::string& input) {
    return run_exe(TAVIMOR_NBOARD_EXE, dir_, args, input, "timeout 300");
  }
  fs::path dir_;
};

// A GUI's session, one command at a time over live pipes: every answer must
// arrive before the next command is sent. The game starts from a position
// that is not the usual start and holds a forced pass.
TEST_F(Nboard, ScriptedGuiSession) {
  std::unique_ptr<Board> start;
  std::vector<RecordMove> moves;
  std::size_t cut = 0;  // the GGF holds moves[0..cut), a pass last; two more come with "move"
  for (uint32_t seed = 1; cut == 0; ++seed) {
    ASSERT_LT(seed, 2000u) << "no game with a pass";
    if (!(start = odd_start(36, seed))) continue;
    auto w = std::make_unique<Board>(*start);
    std::mt19937 rng(seed);
    moves.clear();
    random_moves(*w, rng, 60, moves);
    for (std::size_t i = 0; i + 3 < moves.size() && cut == 0; ++i) {
      auto after = replayed(*start, moves, i + 3);
      if (moves[i].row == 0 && moves[i + 1].row != 0 && moves[i + 2].row != 0 && check_end(*after) == 0 &&
          after->pass_flag == 0)
        cut = i + 1;
    }
  }
  const auto q = replayed(*start, moves, cut + 2);  // the position the GUI ends at
  const std::set<std::string> legal = legal_names(*q);
  const int depth = q->ply > 48 ? 64 - q->discs1 - q->discs2 : 7;

  PipedProcess p;
  ASSERT_TRUE(pipe_start(p, TAVIMOR_NBOARD_EXE, dir_, {"-think", "traditional"}));
  std::string line;
  const auto answer = [&p, &line] { return pipe_read_line(p, line) ? line : std::string("(no answer)"); };
  ASSERT_TRUE(pipe_send(p, "nboard 2"));
  pipe_send(p, "set depth 12");
  EXPECT_EQ(answer(), "set myname tavimor-traditional");
  pipe_send(p, "set game " + ggf_of(*start, moves, cut));
  pipe_send(p, square_name(moves[cut].row, moves[cut].col, true));  // bare
  pipe_send(p, "move " + square_name(moves[cut + 1].row, moves[cut + 1].col, false) + "/3.00/1.5");
  pipe_send(p, "ping 7");
  EXPECT_EQ(answer(), "pong 7");  // and nothing before it: the game and the moves were taken

  pipe_send(p, "hint 3");
  EXPECT_EQ(answer(), "status tavimor-traditional is thinking");
  std::vector<Eval> hints(std::min<std::size_t>(3, legal.size()));
  for (Eval& e : hints) {
    ASSERT_TRUE(parse_search(answer(), e)) << line;
    EXPECT_TRUE(legal.count(e.move)) << e.move;
    EXPECT_EQ(e.depth, depth);
  }
  for (std::size_t i = 1; i < hints.size(); ++i) {
    EXPECT_GE(hints[i - 1].value, hints[i].value);
    EXPECT_NE(hints[i - 1].move, hints[i].move);
  }
  EXPECT_EQ(answer(), "status");
  // go answers a move of the best eval and leaves the position: the second
  // go answers from the same one.
  for (int k = 0; k < 2; ++k) {
    pipe_send(p, "go");
    Eval go;
    ASSERT_TRUE(parse_go(answer(), go)) << line;
    EXPECT_TRUE(legal.count(go.move)) << go.move;
    EXPECT_EQ(go.value, hints[0].value);
  }
  pipe_send(p, "learn");
  EXPECT_EQ(answer(), "learned");
  pipe_send(p, "analyse everything");  // unknown: ignored
  pipe_send(p, "quit");
  pipe_send(p, "ping 9");  // after quit: never read
  EXPECT_EQ(pipe_finish(p), 0);
  EXPECT_EQ(p.pending, "");
}

// Malformed games and illegal moves are each answered on one status line and
// change nothing: the hints before and after them are the same.
TEST_F(Nboard, BadGamesAndMovesKeepThePosition) {
  const std::string usual = "---------------------------O*------*O---------------------------";
  const std::string few = "---------------------------O*------*----------------------------";
  const std::vector<std::string> bad = {
      "set game (;GM[Othello]BO[8 ---",  // a value without ']'
      "set game GM[Othello]B[F5];)",     // no "(;"
      "set game (;GM[Othello]B[F5]",     // no ";)"
      "set game (;GM[Othello]B[F5]?;)",  // not a property
      "set game (;GM[Chess];)",
      "set game (;BO[10 " + usual + " *];)",
      "set game (;BO[8 " + usual.substr(1) + " *];)",
      "set game (;BO[8 x" + usual.substr(1) + " *];)",
      "set game (;BO[8 " + usual + " X];)",
      "set game (;BO[8 " + few + " *];)",  // three stones
      "set game (;GM[Othello]B[F5]W[F5];)",
      "set game (;GM[Othello]W[F5];)",  // white does not begin
      "set game (;GM[Othello]B[PA];)",  // black has a move
      "set game (;GM[Othello]B[I9];)",
      "move A1",
      "move PA",
      "move Z9",
      "move",
      "A1/1/1",
      // Bytes that are not printable ASCII are never echoed.
      std::string("move \x01\0\xff\x1b[2J", 10),
      "set game (;BO[8 \x1b\x9b" + usual.substr(2) + " *];)",
      "set game (;GM[\x07\xfe];)",
  };
  std::string input = "nboard 2\nset depth 3\nset game (;GM[Othello]BO[8 " + usual +
                      " *]B[F5]W[F6]B[D3]W[C5]B[E6]W[F7]B[E7]W[F4];)\nhint 64\n";
  for (const auto& b : bad) input += b + "\n";
  input += "hint 64\nping \x01\xff\x1b]0;\x07\nping 12\x7f\nping 5\nquit\n";  // the first two: ignored
  const ExeResult r = run({"-think", "traditional"}, input);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = lines_of(r.out);
  ASSERT_GE(lines.size(), 4 + bad.size());
  EXPECT_EQ(lines.front(), "set myname tavimor-traditional");
  EXPECT_EQ(lines.back(), "pong 5");
  const std::size_t block = (lines.size() - 2 - bad.size()) / 2;  // status, search lines, status
  ASSERT_EQ(lines.size(), 2 + bad.size() + 2 * block);
  const std::vector<std::string> before(lines.begin() + 1, lines.begin() + 1 + static_cast<long>(block));
  const std::vector<std::string> after(lines.end() - 1 - static_cast<long>(block), lines.end() - 1);
  EXPECT_EQ(before, after);
  EXPECT_GT(block, 2u);
  for (std::size_t i = 0; i < bad.size(); ++i)
    EXPECT_EQ(lines[1 + block + i].rfind("status error: ", 0), 0u) << bad[i] << ": " << lines[1 + block + i];
  EXPECT_EQ(r.raw_out.find_first_not_of(std::string("\n") + kPrintableAscii), std::string::npos) << r.raw_out;
  EXPECT_TRUE(contains(r.err, "note: ignored a ping whose argument is not a number.")) << r.err;
}

TEST_F(Nboard, EndOfInputEndsTheEngine) {
  const ExeResult r =
      run({"-think", "traditional"}, "nboard 2\nping 3\r\nping 4");  // no quit, no last newline
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "pong 3\npong 4\n");
}

// go answers what the main program's text dialogue plays in the same
// position with the same engine and network (its data file), wherever the
// best move is unique; the engine does not write the data file.
TEST_F(Nboard, GoPlaysWhatTheTextDialoguePlays) {
  std::mt19937 rng(11);
  auto net = zero_net();
  random_params(*net, rng, 0.7f, 0.07f);
  for (const ThinkType engine : {ThinkType::traditional, ThinkType::neuro}) {
    int compared = 0;
    const int plies[] = {5, -14, 21, 33};  // a negative ply: a start from that position, no moves
    for (const int ply : plies) {
      // The neural engine is slow: one position, reached by moves, so that
      // its root reads the planes they left.
      if (engine == ThinkType::neuro && ply != 5) break;
      std::unique_ptr<Board> start = ply < 0 ? odd_start(-ply, 3) : fresh_board();
      ASSERT_TRUE(start);
      std::vector<RecordMove> moves;
      auto p = std::make_unique<Board>(*start);
      random_moves(*p, rng, std::max(ply, 0), moves);
      ASSERT_EQ(check_end(*p), 0);
      p->computer_colour = p->side;
      p->engine = static_cast<int>(engine);
      ASSERT_TRUE(write_data_file(dir_, *p, *net));

      const ExeResult text = run_tavimor(dir_, {"-mode", "text"});
      auto saved = fresh_board();
      auto saved_net = zero_net();
      ASSERT_TRUE(read_data_file(dir_, *saved, *saved_net)) << text.err;
      ASSERT_EQ(saved->ply, p->ply + 1);
      const std::string played = square_name(record_get(saved->planes[p->ply], kRecRow),
                                             record_get(saved->planes[p->ply], kRecCol), true);
      const std::string file = read_file(dir_ / "tavimor.dat");

      const ExeResult r = run(
          {"-think", engine_name(engine).substr(8)},
          "nboard 2\nset depth 5\nset game " + ggf_of(*start, moves, moves.size()) + "\nhint 64\ngo\nquit\n");
      EXPECT_EQ(read_file(dir_ / "tavimor.dat"), file);
      if (engine == ThinkType::neuro) {
        EXPECT_NE(r.err.find("network of tavimor.dat"), std::string::npos) << r.err;
      }
      const auto lines = lines_of(r.out);
      ASSERT_GE(lines.size(), 5u) << r.out << r.err;
      Eval first, second, go;
      ASSERT_TRUE(parse_search(lines[2], first)) << lines[2];
      ASSERT_TRUE(parse_go(lines.back(), go)) << lines.back();
      if (parse_search(lines[3], second) && second.value == first.value) continue;  // a tie: drawn at random
      EXPECT_EQ(go.move, played) << engine_name(engine) << " ply " << ply;
      ++compared;
    }
    EXPECT_GE(compared, 1) << engine_name(engine);
  }
}

// The neural engine learns before a go from a move of the colour it did not
// play at its previous go, and from nothing else: not from a game given with
// "set game", not from hints.
TEST_F(Nboard, TheNeuralEngineLearnsFromTheOpponentsMovesOnly) {
  std::vector<RecordMove> moves;
  auto start = fresh_board();
  for (uint32_t seed = 1;; ++seed) {  // late, small trees; white has just moved, black is to move
    ASSERT_LT(seed, 200u);
    auto p = std::make_unique<Board>(*start);
    std::mt19937 rng(seed);
    moves.clear();
    random_moves(*p, rng, 44, moves);
    if (moves.size() == 44 && moves.back().colour == 2 && moves.back().row != 0 && check_end(*p) == 0 &&
        p->pass_flag == 0)
      break;
  }
  std::mt19937 rng(5);
  auto net = zero_net();
  random_params(*net, rng, 0.7f, 0.07f);
  ASSERT_TRUE(write_data_file(dir_, *start, *net));
  const std::string before = "set game " + ggf_of(*start, moves, moves.size() - 1) + "\n";
  const std::string last = "move " + square_name(moves.back().row, moves.back().col, true) + "\n";
  // White's move first comes after a go for white (its own), then after a go
  // for black (the opponent's).
  const ExeResult r = run({}, "nboard 2\n" + before + "go\n" + last + "hint 64\ngo\nhint 64\n" + before +
                                  last + "hint 64\ngo\nhint 64\n");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> hints(1);  // the lines of each hint, one string per hint
  for (const std::string& l : lines_of(r.out)) {
    if (l.rfind("search ", 0) == 0) hints.back() += l + "\n";
    if (l == "status" && !hints.back().empty()) hints.emplace_back();
  }
  ASSERT_EQ(hints.size(), 5u) << r.out;
  EXPECT_EQ(hints[0], hints[1]);  // the engine's own move taught nothing
  EXPECT_EQ(hints[1], hints[2]);  // nor did the hint after the opponent's
  EXPECT_NE(hints[2], hints[3]);  // the next go learned it
}

// The analysis of a game scores every move played and the engine's choice as
// the engine scores them, from a move list and from a GGF file with a pass.
TEST_F(Nboard, AnalysisScoresEveryMove) {
  std::unique_ptr<Board> start;
  std::vector<RecordMove> moves;
  for (uint32_t seed = 1; moves.empty(); ++seed) {
    ASSERT_LT(seed, 2000u);
    if (!(start = odd_start(44, seed))) continue;
    auto w = std::make_unique<Board>(*start);
    std::mt19937 rng(seed);
    random_moves(*w, rng, 60, moves);
    if (std::none_of(moves.begin(), moves.end(), [](const RecordMove& m) { return m.row == 0; }))
      moves.clear();
  }
  {
    std::ofstream f(dir_ / "game.ggf");
    f << ggf_of(*start, moves, moves.size()) << "\n";
  }
  struct Game {
    std::string arg;
    std::unique_ptr<Board> start;
    std::vector<RecordMove> moves;
  } games[] = {{"f5d6c3d3c4f4", fresh_board(), {}}, {"game.ggf", std::make_unique<Board>(*start), moves}};
  for (const char* m = "f5d6c3d3c4f4"; *m != '\0'; m += 2) {
    int row = 0, col = 0;
    parse_square(m, row, col);
    games[0].moves.push_back(RecordMove{0, row, col});
  }
  for (const Game& g : games) {
    const ExeResult r = run({"-think", "traditional", "-analyze", g.arg}, "");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "ply,player,move,score,best,best_score");
    auto pos = std::make_unique<Board>(*g.start);
    std::size_t row = 1;
    for (const RecordMove& m : g.moves) {
      if (m.row != 0) {
        check_end(*pos);
        auto w = std::make_unique<Board>(*pos);
        SearchContext c = context_for(*w);
        RootScores all;
        engine_move(c, ThinkType::traditional, &all);
        std::string best_moves;
        int best = kNoScore, score = kNoScore;
        for (int i = 0; i < all.count; ++i) best = std::max(best, all.moves[i].value);
        for (int i = 0; i < all.count; ++i) {
          if (all.moves[i].row == m.row && all.moves[i].col == m.col) score = all.moves[i].value;
          if (all.moves[i].value == best)
            best_moves += square_name(all.moves[i].row, all.moves[i].col, false);
        }
        ASSERT_LT(row, lines.size());
        std::istringstream csv(lines[row++]);
        std::string f[6];
        for (std::string& field : f) std::getline(csv, field, ',');
        EXPECT_EQ(f[0], std::to_string(pos->ply));
        EXPECT_EQ(f[1], pos->side == 1 ? "black" : "white");
        EXPECT_EQ(f[2], square_name(m.row, m.col, false));
        EXPECT_EQ(f[3], std::to_string(score));
        EXPECT_NE(best_moves.find(f[4]), std::string::npos) << f[4] << " of " << best_moves;
        EXPECT_EQ(f[5], std::to_string(best));
      }
      ASSERT_TRUE(replay_move(*pos, m));
    }
    EXPECT_EQ(row, lines.size()) << g.arg;
  }
  EXPECT_EQ(run({"-analyze", "f5d6a1"}, "").status, 1);  // a1 is not legal
}

}  // namespace
