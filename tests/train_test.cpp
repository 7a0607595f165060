// The training runner: its reading of a game's output and of the data file,
// and the built tavimor-train end to end, driving a stand-in for the program
// that starts every game at ply 52 so that a game takes moments.
#include "app/train.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <random>

#include "data_util.h"
#include "exe_runner.h"

namespace fs = std::filesystem;

namespace {

// A demo game's output as the program writes it with -dump (the dump rows
// past the parameters left out).
const std::string kDumpTables =
    "\tave\tsd\tmin\tmax\ns0\t0.02\t0.49\t-1\t2\ns1\t0.1\t0.6\t-2\t4\ns2\t0\t0.5\t-3\t3\n"
    "s3\t-0.7\t1.0\t-5\t0.6\ns4\t0.2\t0.3\t-0.4\t2\n\tave\tsd\tmin\tmax\nn0\t-0.01\t0.49\t-3\t3\n"
    "n1\t0\t0.54\t-14\t8\nn2\t0\t0.64\t-24\t17\nn3\t0\t0.48\t-8\t2\n";

TEST(TrainRead, ResultLineMustAgreeWithTheStatistics) {
  const std::string err =
      "note: demo mode is selected.\ntavimor> trady thinking... ^_^\nGAME OVER. trady win 40 points.\n";
  GameRow row;
  EXPECT_EQ(read_game_output("neuro\t12\ttredy\t52\n" + kDumpTables, err, true, row), "");
  EXPECT_EQ(row.result, -40);
  EXPECT_EQ(row.sd[kBiasRows + 2], 0.64);
  EXPECT_NE(read_game_output("neuro\t52\ttredy\t12\n" + kDumpTables, err, true, row).find("disagrees"),
            std::string::npos);
  EXPECT_NE(read_game_output(kDumpTables, err, true, row), "") << "no statistics line";
  EXPECT_NE(read_game_output("neuro\t12\ttredy\t52\n", err, true, row), "") << "no dump tables";
  // A first game finds no file; later an error line stops the run.
  const std::string no_file = "error: cannot read from file 'tavimor.dat'.\n" + err;
  EXPECT_EQ(read_game_output("neuro\t12\ttredy\t52\n" + kDumpTables, no_file, false, row), "");
  EXPECT_NE(read_game_output("neuro\t12\ttredy\t52\n" + kDumpTables, no_file, true, row), "");
}

TEST(TrainRead, SavedFileChecks) {
  EXPECT_EQ(after_game_fault({"", 1, 0}, 2), "");
  EXPECT_NE(after_game_fault({"", 2, 0}, 2).find("colours did not alternate"), std::string::npos);
  EXPECT_NE(after_game_fault({"", 1, 7}, 2), "") << "not a fresh game";
  auto net = zero_net();
  net->weight[3][100][7] = std::nanf("");
  EXPECT_EQ(params_fault(*net), "weight 51207 of layer 3 is not a number");
  net->weight[3][100][7] = 0.0f;
  net->bias[4][9] = INFINITY;
  EXPECT_EQ(params_fault(*net), "bias 9 of layer 4 is infinite");
}

TEST(TrainRead, ProgressLine) {
  std::vector<GameRow> run(2);
  run[0].neuro_discs = 40, run[0].trady_discs = 24, run[0].result = 16;
  run[1].neuro_discs = 10, run[1].trady_discs = 54, run[1].result = -44;
  EXPECT_EQ(progress_text(run, 5, 61.0),
            "2/5 games  1:01 elapsed  1:32 left  neuro W1 D0 L1  discs 39.1% (last 2)");
}

// The plot's moving mean against a plain mean over each game's window.
TEST(TrainRead, PlotMovingMean) {
  std::mt19937 rng(5);
  std::vector<GameRow> rows(57);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].game = static_cast<int>(i) + 1;
    rows[i].neuro_discs = static_cast<int>(rng() % 65);
    rows[i].trady_discs = 64 - rows[i].neuro_discs;
  }
  std::istringstream script(plot_script(rows, "x.png"));
  std::string line;
  while (std::getline(script, line) && line != "$games << EOD") {
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_TRUE(std::getline(script, line));
    int game = 0;
    double share = 0, mean = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d %lf %lf", &game, &share, &mean), 3) << line;
    double sum = 0;
    const std::size_t from = i + 1 >= kShareWindow ? i + 1 - kShareWindow : 0;
    for (std::size_t j = from; j <= i; ++j) sum += rows[j].neuro_discs / 64.0;
    EXPECT_EQ(game, rows[i].game);
    EXPECT_NEAR(mean, 100.0 * sum / static_cast<double>(i + 1 - from), 0.0051) << "game " << game;
  }
}

class Train : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = make_temp_dir("train");
    auto b = fresh_board();
    ASSERT_GE(play_first_moves(*b, 52), 52);
    auto net = zero_net();
    std::mt19937 rng(13);
    random_params(*net, rng, 0.7f);
    ASSERT_TRUE(write_data_file(dir_, *b, *net));
  }
  void TearDown() override { fs::remove_all(dir_); }
  ExeResult train(const std::string& games) {
    return run_exe(TAVIMOR_TRAIN_EXE, dir_, {games, "-program", TAVIMOR_LATE_DEMO});
  }
  std::vector<GameRow> record() {
    std::vector<GameRow> rows;
    std::istringstream in(read_file(dir_ / "train.csv"));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line + "\n", record_header());
    while (std::getline(in, line)) {
      GameRow row;
      EXPECT_TRUE(parse_record_line(line, row)) << line;
      rows.push_back(row);
    }
    return rows;
  }
  fs::path dir_;
};

TEST_F(Train, GamesRecordedCheckedAndDrawn) {
  auto r = train("3");
  ASSERT_EQ(r.status, 0) << r.err;
  // Plain progress lines when standard error is not a terminal.
  EXPECT_NE(r.err.find("\n3/3 games  "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  r = train("1");  // a second run goes on with the record
  ASSERT_EQ(r.status, 0) << r.err;
  const auto rows = record();
  ASSERT_EQ(rows.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(rows[i].game, i + 1);
    EXPECT_EQ(rows[i].neuro_colour, i % 2 == 0 ? 2 : 1) << "the colours alternate";
    EXPECT_EQ(rows[i].neuro_discs - rows[i].trady_discs, rows[i].result);
    EXPECT_GT(rows[i].neuro_discs + rows[i].trady_discs, 52);
  }
  // The last row carries the statistics of the parameters the last game saved.
  auto b = fresh_board();
  auto net = zero_net();
  ASSERT_TRUE(read_data_file(dir_, *b, *net));
  EXPECT_EQ(b->computer_colour, 2);
  const Stats s4 = net_stats(net->bias[4], 512), n3 = net_stats(&net->weight[3][0][0], 512 * 512);
  EXPECT_NEAR(rows[3].ave[4], s4.ave, 0.0051);
  EXPECT_NEAR(rows[3].sd[4], s4.sd, 0.0051);
  EXPECT_NEAR(rows[3].ave[8], n3.ave, 0.0051);
  EXPECT_NEAR(rows[3].sd[8], n3.sd, 0.0051);
  EXPECT_EQ(read_file(dir_ / "train.png").rfind("\x89PNG", 0), 0u);
}

TEST_F(Train, DamagedFileStopsTheRunAndIsKept) {
  std::ofstream(dir_ / "damage-after") << 2;
  const auto r = train("5");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error: game 2: checksum error in 'tavimor.dat'."), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir_ / "games-played"), "2");
  EXPECT_EQ(record().size(), 1u);
  EXPECT_EQ(read_file(dir_ / "tavimor.dat"), read_file(dir_ / "damaged.dat"));
  EXPECT_FALSE(fs::exists(dir_ / "train.png"));
}

// A data file that does not load would be replaced by a fresh network: the
// run stops before its first game, and so does a CSV file of another kind.
TEST_F(Train, RefusesToStartOnABadFile) {
  {
    std::fstream f(dir_ / "tavimor.dat", std::ios::binary | std::ios::in | std::ios::out);
    f.seekg(kBoardBytes + 7);
    const char byte = static_cast<char>(f.get());
    f.seekp(kBoardBytes + 7);
    f.put(static_cast<char>(byte ^ 1));
  }
  const std::string damaged = read_file(dir_ / "tavimor.dat");
  auto r = train("2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error: before game 1: checksum error in 'tavimor.dat'."), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "games-played"));
  EXPECT_EQ(read_file(dir_ / "tavimor.dat"), damaged);

  std::ofstream(dir_ / "train.csv") << "name,value\n";
  r = train("2");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'train.csv' is not a record"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(dir_ / "train.csv"), "name,value\n");
}

// Links at the runner's file names are replaced, never written through, and
// no temporary file stays.
TEST_F(Train, LinksAtItsFilesAreNotFollowed) {
  write_file(dir_ / "victim", "untouched\n");
  write_file(dir_ / "empty-victim", "");
  const std::vector<std::string> names = {"train.err", "train.out",    "train.csv", "train.gp",
                                          "train.png", "teach.csv",    "teach.gp",  "teach.png",
                                          "teach.pos", "teach-own.pos"};
  for (const auto& name : names)
    fs::create_symlink(name == "train.csv" ? "empty-victim" : "victim", dir_ / name);
  const auto r = train("1");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto taught = run_exe(TAVIMOR_TRAIN_EXE, dir_, {"-teach", "100", "-passes", "1"});
  ASSERT_EQ(taught.status, 0) << taught.err;
  // The rounds of the network's own games add up, taught with the engine's.
  for (std::uintmax_t round = 0, kept = 0; round < 2; ++round, kept = fs::file_size(dir_ / "teach-own.pos")) {
    const auto own = run_exe(TAVIMOR_TRAIN_EXE, dir_, {"-teach", "20", "-passes", "1", "-own"});
    ASSERT_EQ(own.status, 0) << own.err;
    EXPECT_TRUE(contains(own.err, "of 'teach.pos' taught with them")) << own.err;
    EXPECT_GT(fs::file_size(dir_ / "teach-own.pos"), kept);
  }
  EXPECT_EQ(read_file(dir_ / "victim"), "untouched\n");
  EXPECT_EQ(read_file(dir_ / "empty-victim"), "");
  for (const auto& name : names) EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / name))) << name;
  EXPECT_EQ(record().size(), 1u);
  EXPECT_EQ(read_file(dir_ / "train.png").rfind("\x89PNG", 0), 0u);
  EXPECT_EQ(read_file(dir_ / "teach.png").rfind("\x89PNG", 0), 0u);
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

// A stop signal to the runner reaches its game, which saves, and the runner
// waits for it and then ends by the signal; a runner killed outright takes
// its game with it a little later. The game is a script that starts the
// real program at its prompt (on a FIFO held open here) as a process of its
// own.
TEST_F(Train, KillingTheRunnerEndsItsGame) {
  ASSERT_EQ(mkfifo((dir_ / "game.fifo").c_str(), 0600), 0);
  const int fifo = open((dir_ / "game.fifo").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(fifo, 0);
  write_file(dir_ / "game.sh", "#!/bin/sh\n" + shell_quote(TAVIMOR_EXE) +
                                   " -mode text <game.fifo 2>game.err &\necho $! >tavimor.pid\nwait\n");
  fs::permissions(dir_ / "game.sh", fs::perms::owner_all);
  for (const int sig : {SIGTERM, SIGKILL}) {
    fs::remove(dir_ / "tavimor.pid");
    fs::remove(dir_ / "game.err");
    pid_t runner = start_tavimor(dir_, {"3", "-program", (dir_ / "game.sh").string()},
                                 open("/dev/null", O_RDONLY), "runner", -1, -1, {TAVIMOR_TRAIN_EXE});
    ASSERT_TRUE(wait_for_text(dir_ / "game.err", "tavimor> ")) << sig;
    const pid_t game = std::atoi(read_file(dir_ / "tavimor.pid").c_str());
    ASSERT_GT(game, 0);
    kill(runner, sig);
    EXPECT_EQ(wait_exit(runner, 120000), 128 + sig);
    // A stop is waited for; after a kill the game is told to stop.
    for (const int64_t deadline = now_ms() + (sig == SIGKILL ? 60000 : 0);
         process_runs(game) && now_ms() < deadline;)
      sleep_ms(20);
    EXPECT_FALSE(process_runs(game)) << sig;
    EXPECT_TRUE(wait_for_text(dir_ / "game.err", "datafile was saved", 1, 5000))
        << read_file(dir_ / "game.err");
    if (sig == SIGTERM) {
      EXPECT_TRUE(contains(read_file(dir_ / "runner.err"), "note: stopped during game 1;"))
          << read_file(dir_ / "runner.err");
    }
    if (process_runs(game)) kill(game, SIGKILL);
    stop_process(runner);
  }
  close(fifo);
}

// Without -program the runner plays with the program beside it, started
// through the system's command interpreter from a folder whose name has a
// space, with more than one quoted word on the line (under Wine: the Windows
// builds of both, where no gnuplot can draw).
TEST_F(Train, PlaysWithTheProgramBesideItself) {
  std::vector<std::string> command = tavimor_command();
  const fs::path program = command.back();
  const bool windows = testing_windows_program();
  const fs::path folder = dir_ / "two words";
  fs::create_directory(folder);
  fs::copy_file(program, folder / program.filename());
  command.back() = (folder / (windows ? "tavimor-train.exe" : "tavimor-train")).string();
  fs::copy_file(windows ? program.parent_path() / "tavimor-train.exe" : fs::path(TAVIMOR_TRAIN_EXE),
                command.back());
  const auto r = run_command(command, dir_, {"1", "-cuda", "0"});
  EXPECT_EQ(r.status, windows ? 1 : 0) << r.err;
  EXPECT_EQ(windows, r.err.find("error: gnuplot could not draw") != std::string::npos) << r.err;
  const auto rows = record();
  ASSERT_EQ(rows.size(), 1u) << r.err;
  EXPECT_EQ(rows[0].neuro_discs - rows[0].trady_discs, rows[0].result);
  EXPECT_GT(rows[0].neuro_discs + rows[0].trady_discs, 52);
}

}  // namespace
