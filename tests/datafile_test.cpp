#include "app/datafile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <random>

#include "board_util.h"
#include "data_util.h"
#include "exe_runner.h"
#include "nn/neural_net.h"

namespace fs = std::filesystem;

namespace {

struct State {
  std::unique_ptr<Board> board = fresh_board();
  std::unique_ptr<NeuralNet> net = std::make_unique<NeuralNet>();
};

// A game a few moves in, unusual settings and seeded parameters.
State sample_state() {
  State s;
  const int line[][2] = {{4, 3}, {3, 3}, {3, 4}, {5, 3}};
  for (const auto& m : line) EXPECT_NE(play(*s.board, m[0], m[1]), 0);
  s.board->computer_colour = 1;
  s.board->engine = 0;
  s.board->pass_flag = 1;
  s.board->colour_scheme = 3;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-0.7f, 0.7f);
  for (auto& layer : s.net->bias)
    for (float& v : layer) v = u(rng);
  for (auto& block : s.net->weight)
    for (auto& row : block)
      for (float& v : row) v = u(rng);
  return s;
}

std::string bytes_of(const fs::path& p) { return read_file(p); }

void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class DataFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir("data");
    path_ = (dir_ / "tavimor.dat").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  bool save(const State& s) {
    testing::internal::CaptureStderr();
    const bool ok = save_data_to(path_.c_str(), *s.board, *s.net);
    testing::internal::GetCapturedStderr();
    return ok;
  }

  bool load(State& into, std::string* err = nullptr) {
    testing::internal::CaptureStderr();
    const bool ok = load_data_from(path_.c_str(), *into.board, *into.net);
    const std::string e = testing::internal::GetCapturedStderr();
    if (err) *err = e;
    return ok;
  }

  // A good file whose board record is changed by edit, with the checksum
  // byte made right again.
  void write_edited(const std::function<void(Board&)>& edit) {
    State s = sample_state();
    edit(*s.board);
    std::string bytes(kDataFileBytes, '\0');
    std::memcpy(bytes.data(), s.board.get(), kBoardBytes);
    std::memcpy(bytes.data() + kBoardBytes, s.net->bias, kParamBytes);
    bytes.back() = static_cast<char>(data_checksum(*s.board, *s.net));
    write_bytes(path_, bytes);
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(DataFile, RoundTripIsBitForBit) {
  State s = sample_state();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(save_data_to(path_.c_str(), *s.board, *s.net));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "tavimor> datafile was saved.\n");
  const std::string bytes = bytes_of(path_);
  ASSERT_EQ(bytes.size(), kDataFileBytes);
  unsigned char x = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) x ^= static_cast<unsigned char>(bytes[i]);
  EXPECT_EQ(static_cast<unsigned char>(bytes.back()), x);
  EXPECT_EQ(std::memcmp(bytes.data(), s.board.get(), kBoardBytes), 0);
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));

  State t;
  std::string err;
  ASSERT_TRUE(load(t, &err));
  EXPECT_EQ(err, "tavimor> datafile was loaded.\n");
  EXPECT_EQ(std::memcmp(t.board.get(), s.board.get(), sizeof(Board)), 0);
  EXPECT_EQ(std::memcmp(t.net->bias, s.net->bias, kParamBytes), 0);
  EXPECT_EQ(t.board->ply, 4);
  EXPECT_EQ(t.board->pass_flag, 1);
  EXPECT_EQ(t.board->colour_scheme, 3);
}

TEST_F(DataFile, LoadRecomputesTheMarks) {
  State s = sample_state();
  const uint64_t legal = legal_set(*s.board);
  for (int c = 0; c < 100; ++c) s.board->planes[s.board->ply][c] &= ~(kLegalMark | kChangedMark);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(save_data_to(path_.c_str(), *s.board, *s.net));
  testing::internal::GetCapturedStderr();
  State t;
  ASSERT_TRUE(load(t));
  EXPECT_EQ(legal_set(*t.board), legal);
  EXPECT_TRUE(board_is_ok(*t.board));
}

TEST_F(DataFile, DamagedFiles) {
  State s = sample_state();
  testing::internal::CaptureStderr();
  ASSERT_TRUE(save_data_to(path_.c_str(), *s.board, *s.net));
  testing::internal::GetCapturedStderr();
  const std::string good = bytes_of(path_);
  const std::string checksum_error = "error: checksum error in 'tavimor.dat'.\n";
  struct Case {
    const char* what;
    std::string bytes;
    bool loads;
  };
  std::string flipped = good, twice = good, board_flip = good;
  flipped[kBoardBytes + 1000] ^= 0x10;
  twice[kBoardBytes + 1000] ^= 0x24;
  twice[kBoardBytes + 9999] ^= 0x24;
  board_flip[4 * 45] ^= 0x01;
  const Case cases[] = {
      {"last byte removed", good.substr(0, good.size() - 1), false},
      {"cut inside the board", good.substr(0, 1000), false},
      {"empty", std::string(), false},
      {"tail appended", good + std::string("extra bytes"), true},
      {"one byte flipped", flipped, false},
      {"a stone bit flipped", board_flip, false},
      {"two bytes flipped alike", twice, true},
  };
  for (const Case& c : cases) {
    write_bytes(path_, c.bytes);
    State t;
    std::string err;
    EXPECT_EQ(load(t, &err), c.loads) << c.what;
    if (!c.loads) {
      EXPECT_EQ(err, checksum_error) << c.what;
    }
  }
}

TEST_F(DataFile, MissingFile) {
  State t;
  std::string err;
  EXPECT_FALSE(load(t, &err));
  EXPECT_EQ(err, "error: cannot read from file 'tavimor.dat'.\n");
  EXPECT_EQ(t.board->ply, 0);
}

TEST_F(DataFile, ImpossibleRecordsAreRefused) {
  const std::function<void(Board&)> edits[] = {
      [](Board& b) { b.ply = 61; },
      [](Board& b) { b.ply = -1; },
      [](Board& b) { b.side = 0; },
      [](Board& b) { b.side = 3; },
      [](Board& b) { b.computer_colour = 0; },
      [](Board& b) { b.engine = 2; },
      [](Board& b) { b.colour_scheme = 4; },
      [](Board& b) { b.colour_scheme = -1; },
      [](Board& b) { b.cursor_row = 9; },
      [](Board& b) { b.planes[b.ply][45] = 3; },
      [](Board& b) { b.planes[0][11] |= 3; },
      [](Board& b) { b.planes[2][9] = 1; },       // frame cell with low bits
      [](Board& b) { b.planes[1][0] = 7 << 4; },  // a mover that is no colour
      [](Board& b) { b.planes[b.ply][7] = 16; },  // a frame cell beyond the record
      [](Board& b) { b.planes[0][45] |= 32; },    // an inner cell with bits above the marks
      [](Board& b) { b.planes[2][44] ^= 3; },     // a stone turned below ply: no replay
      [](Board& b) { b.side = 3 - b.side; },      // the last mover to move, though no pass
      [](Board& b) { b.discs1 += 1; },            // a count that is not the plane's
  };
  int i = 0;
  for (const auto& edit : edits) {
    write_edited(edit);
    State t;
    std::string err;
    EXPECT_FALSE(load(t, &err)) << i;
    EXPECT_EQ(err, "error: impossible game record in 'tavimor.dat'.\n") << i;
    ++i;
  }
  // The unedited record loads.
  write_edited([](Board&) {});
  State t;
  EXPECT_TRUE(load(t));
}

// A non-number or an infinity in the parameters is refused on load, even
// under a right checksum, and never written by a save.
TEST_F(DataFile, NonFiniteParametersAreRefused) {
  State s = sample_state();
  ASSERT_TRUE(save(s));
  const std::string good = bytes_of(path_);
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
    write_bytes(path_, good);
    s.net->weight[2][7][9] = bad;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(save_data_to(path_.c_str(), *s.board, *s.net));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "error: non-finite network parameters. 'tavimor.dat' is left as it was.\n");
    EXPECT_TRUE(bytes_of(path_) == good);
    std::string bytes(kDataFileBytes, '\0');
    std::memcpy(bytes.data(), s.board.get(), kBoardBytes);
    std::memcpy(bytes.data() + kBoardBytes, s.net->bias, kParamBytes);
    bytes.back() = static_cast<char>(data_checksum(*s.board, *s.net));
    write_bytes(path_, bytes);
    State t;
    std::string err;
    EXPECT_FALSE(load(t, &err));
    EXPECT_EQ(err, "error: non-finite network parameters in 'tavimor.dat'.\n");
  }
}

// The save's temporary file is created new: a link planted at any name it
// may take is never followed, and the data file is never made a link.
TEST_F(DataFile, SaveNeverWritesThroughALink) {
  const fs::path victim = dir_ / "victim";
  write_bytes(victim, "keep me");
  fs::create_symlink(victim, path_ + ".tmp");
  for (int attempt = 0; attempt < 3; ++attempt)
    fs::create_symlink(victim, data_temp_path(path_.c_str(), attempt));
  State s = sample_state();
  ASSERT_TRUE(save(s));
  EXPECT_EQ(bytes_of(victim), "keep me");
  EXPECT_FALSE(fs::is_symlink(path_));
  EXPECT_EQ(fs::file_size(path_), kDataFileBytes);
}

// A save that fails part-way (here the file size limit makes a write fail
// for real) keeps the previous file.
TEST_F(DataFile, FailedSaveKeepsThePreviousFile) {
  const auto first = run_tavimor(dir_, {"-mode", "text"});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string before = bytes_of(path_);
  ASSERT_EQ(before.size(), kDataFileBytes);
  const auto second = run_tavimor(dir_, {"-mode", "text"}, "", "trap '' XFSZ; ulimit -f 1024;");
  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.err.find("tavimor> datafile was loaded.\n"), std::string::npos) << second.err;
  EXPECT_NE(second.err.find("error: cannot write to file 'tavimor.dat'.\n"
                            "error: can't write to datafile. data is discarded.\n"),
            std::string::npos)
      << second.err;
  EXPECT_TRUE(bytes_of(path_) == before);
  EXPECT_EQ(stray_files(dir_), std::vector<std::string>{});
  State t;
  EXPECT_TRUE(load(t));
}

TEST_F(DataFile, CorruptFileGivesTwoLinesAndAReset) {
  write_bytes(path_, std::string(kDataFileBytes, '\x01'));
  const auto r = run_tavimor(dir_, {"-mode", "text"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("error: checksum error in 'tavimor.dat'.\n"
                       "note: datafile is not found. data reset.\n"),
            std::string::npos)
      << r.err;
  State t;
  ASSERT_TRUE(load(t));
  EXPECT_EQ(t.board->ply, 0);
  EXPECT_EQ(t.board->computer_colour, 2);
  EXPECT_EQ(t.board->engine, 1);
}

TEST_F(DataFile, ThinkOptionOverridesTheStoredEngine) {
  ASSERT_EQ(run_tavimor(dir_, {"-mode", "text"}).status, 0);
  ASSERT_EQ(run_tavimor(dir_, {"-mode", "text", "-think", "traditional"}).status, 0);
  State t;
  ASSERT_TRUE(load(t));
  EXPECT_EQ(t.board->engine, 0);
  ASSERT_EQ(run_tavimor(dir_, {"-mode", "text"}).status, 0);
  State u;
  ASSERT_TRUE(load(u));
  EXPECT_EQ(u.board->engine, 0);  // without -think the stored engine stays
}

// A run that changes nothing saves the bytes it loaded: the program under
// test and this build agree on every byte (under Wine: the Windows and the
// Linux builds), and neither reads or writes the file as text.
TEST_F(DataFile, ARunThatChangesNothingKeepsEveryByte) {
  State s = sample_state();
  s.board->computer_colour = 2;  // the human is to move
  s.board->pass_flag = 0;
  ASSERT_TRUE(save(s));
  const std::string before = bytes_of(path_);
  for (const char c : {'\n', '\r', '\x1a'}) ASSERT_NE(before.find(c), std::string::npos);
  const auto r = run_tavimor(dir_, {"-mode", "text"}, "quit\n");
  EXPECT_NE(r.err.find("tavimor> datafile was loaded.\n"), std::string::npos) << r.err;
  EXPECT_TRUE(bytes_of(path_) == before);
}

}  // namespace
