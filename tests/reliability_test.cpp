// The data file under runs at once, damage and signals: real processes of the
// built program, let go together, and interrupted at the prompt, while the
// computer thinks and in the middle of a save.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <csignal>
#include <cstdio>
#include <functional>

#include "data_util.h"
#include "exe_runner.h"
#include "search_util.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 120000;  // a deadline for a run that should end

class Reliability : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("reliab"); }
  void TearDown() override {
    stop_process(pid_);
    fs::remove_all(dir_);
  }

  // The data file: b and a zero network.
  void prepare(const Board& b) {
    testing::internal::CaptureStderr();
    ASSERT_TRUE(write_data_file(dir_, b, *zero_net()));
    testing::internal::GetCapturedStderr();
  }

  std::string err(const std::string& tag) const { return program_text(read_file(dir_ / (tag + ".err"))); }

  fs::path dir_;
  pid_t pid_ = -1;
};

// Two runs let go at the same moment, many times over: each either plays and
// saves, or is refused at once and touches nothing. No save is lost (every
// run that saves swaps the colours once) and the file always loads.
TEST_F(Reliability, TwoRunsAtOnceNeitherLoseNorCorruptTheFile) {
  auto b = fresh_board();
  b->engine = 0;
  prepare(*b);
  int saves = 0, refusals = 0;
  for (int pair = 0; pair < 25; ++pair) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t pids[2];
    for (int k = 0; k < 2; ++k)
      pids[k] = start_tavimor(dir_, {"-mode", "text"}, pipe_reading("new\nquit\n"), "run" + std::to_string(k),
                              -1, gate[0]);
    close(gate[0]);
    close(gate[1]);
    for (int k = 0; k < 2; ++k) {
      const int status = wait_exit(pids[k], kWaitMs);
      const std::string e = err("run" + std::to_string(k));
      const bool refused = contains(e, "error: 'tavimor.dat' is in use by another run of tavimor.\n");
      EXPECT_EQ(status, refused ? 1 : 0) << e;
      EXPECT_NE(contains(e, "tavimor> datafile was saved.\n"), refused) << e;
      ++(refused ? refusals : saves);
    }
    auto saved = saved_board_in(dir_);
    ASSERT_TRUE(saved) << "pair " << pair;
    ASSERT_EQ(saved->computer_colour, saves % 2 == 1 ? 1 : 2) << "a save was lost in pair " << pair;
    ASSERT_EQ(stray_files(dir_), std::vector<std::string>{});
  }
  EXPECT_GT(refusals, 0) << "the runs never overlapped";
  std::printf("[          ] 25 pairs: %d runs saved, %d refused\n", saves, refusals);
}

// A file that does not load is kept under the next free name before a fresh
// one replaces it: tavimor.dat.bad, then tavimor.dat.bad2, ..., and a fresh
// demo game is played to its end. Start-position planes under ply 49 or 10
// do not replay (a search met 60 empty squares).
TEST_F(Reliability, AFileThatFailsToLoadIsKeptAside) {
  std::string crafted[2];
  for (int i = 0; i < 2; ++i) {
    auto b = fresh_board();
    play_first_moves(*b, 6);
    const int ply = i == 0 ? 49 : 10;
    for (int k = 1; k <= ply; ++k) std::memcpy(b->planes[k], b->planes[0], sizeof b->planes[0]);
    b->ply = ply;
    prepare(*b);
    crafted[i] = read_file(dir_ / "tavimor.dat");
  }
  prepare(*fresh_board());
  const std::string good = read_file(dir_ / "tavimor.dat");
  std::string flipped = good;
  flipped[kBoardBytes + 77] ^= 0x40;
  const std::string damaged[] = {flipped, good.substr(0, 1000), crafted[0], crafted[1], good};
  for (int i = 0; i < 5; ++i) {
    const std::string kept = "tavimor.dat.bad" + (i > 0 ? std::to_string(i + 1) : "");
    write_file(dir_ / "tavimor.dat", damaged[i]);
    if (i == 4) {
      if (geteuid() == 0) break;  // root reads any file
      fs::permissions(dir_ / "tavimor.dat", fs::perms::none);
    }
    const auto r = run_tavimor(dir_, {"-mode", "demo"}, "", "ulimit -f 100000; timeout -s KILL 300");
    EXPECT_TRUE(contains(r.err, "data reset.\nnote: the old datafile is kept as '" + kept + "'.\n") &&
                contains(r.err, "GAME OVER. ") && !contains(r.err, "Error: "))
        << r.err.substr(0, 4000);
    EXPECT_TRUE(saved_board_in(dir_)) << "the fresh file loads";
    fs::permissions(dir_ / kept, fs::perms::owner_read);
    EXPECT_TRUE(read_file(dir_ / kept) == damaged[i]) << kept;
  }
  EXPECT_TRUE(read_file(dir_ / "tavimor.dat.bad") == flipped);
}

// One weight of 3e38 loads, and learning makes the network non-finite: the
// save renews it and keeps the old file aside; the next run loads the game.
TEST_F(Reliability, ANetworkMadeNonFiniteIsRenewedAtTheSave) {
  auto b = fresh_board();
  play_first_moves(*b, 40);
  auto net = zero_net();
  std::mt19937 rng(5);
  random_params(*net, rng, 0.7f);
  net->weight[3][0][0] = 3e38f;
  ASSERT_TRUE(write_data_file(dir_, *b, *net));
  const std::string old = read_file(dir_ / "tavimor.dat");
  EXPECT_TRUE(
      contains(run_tavimor(dir_, {"-mode", "demo"}).err,
               "no longer all finite. a fresh random network takes its place.\nnote: the old datafile "
               "is kept as 'tavimor.dat.bad'.\ntavimor> datafile was saved.\n"));
  EXPECT_TRUE(read_file(dir_ / "tavimor.dat.bad") == old);
  EXPECT_TRUE(
      contains(run_tavimor(dir_, {"-mode", "text"}, "quit\n").err, "tavimor> datafile was loaded.\n"));
}

// Anything but a regular file named tavimor.dat is refused at once, and left
// as it is.
TEST_F(Reliability, OnlyARegularFileIsUsed) {
  const fs::path data = dir_ / "tavimor.dat";
  const std::pair<const char*, std::function<int()>> cases[] = {
      {"a named pipe", [&] { return mkfifo(data.c_str(), 0644); }},
      {"a folder", [&] { return mkdir(data.c_str(), 0755); }},
      {"a device", [&] { return symlink("/dev/null", data.c_str()); }},
  };
  for (const auto& [what, make] : cases) {
    ASSERT_EQ(make(), 0) << what;
    const auto type = fs::status(data).type();
    const auto r = run_tavimor(dir_, {"-mode", "text"}, "quit\n", "timeout 60");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, std::string("error: 'tavimor.dat' is ") + what + ", not a data file.\n"))
        << r.err;
    EXPECT_EQ(fs::status(data).type(), type) << what;
    fs::remove(data);
  }
}

// SIGINT, SIGTERM and SIGHUP end the run as quit does: at the prompt after a
// move of each side, or while the neural engine thinks (on the stand-in GPU
// driver, a midgame search of many minutes) at once, without its move; no
// prompt follows, and the demo's game stays unfinished for the next run. The
// game is saved, then the process ends as the signal ends it. Wine gets
// SIGINT as Ctrl-C; the other two end Wine itself; the stand-in is for Linux.
TEST_F(Reliability, StopSignalsSaveTheGame) {
  const struct {
    const char* mode;
    int sig;
    bool thinking;
  } cases[] = {{"text", SIGINT, false},
               {"text", SIGTERM, false},
               {"text", SIGHUP, false},
               {"text", SIGINT, true},
               {"demo", SIGTERM, true}};
  setenv("LD_LIBRARY_PATH", STANDIN_DIR, 1);  // the runs' GPU driver: the stand-in
  for (const auto& c : cases) {
    if (testing_windows_program() && (c.sig != SIGINT || c.thinking)) continue;
    auto b = fresh_board();
    ASSERT_TRUE(!c.thinking || (random_game(*b, 20, 5) && b->pass_flag == 0));
    b->computer_colour = c.thinking ? b->side : 2;  // who moves first
    b->engine = c.thinking ? 1 : 0;
    prepare(*b);
    int keep = -1;
    const std::string tag = c.mode + std::to_string(c.sig) + (c.thinking ? "-thinking" : "");
    pid_ = start_tavimor(dir_, {"-mode", c.mode, "-cuda", "0"}, pipe_reading(c.thinking ? "" : "d3\n", &keep),
                         tag);
    ASSERT_TRUE(
        wait_for_text(dir_ / (tag + ".err"), c.thinking ? "thinking..." : "you> ", c.thinking ? 1 : 2));
    kill(pid_, c.sig);
    EXPECT_EQ(wait_exit(pid_, kWaitMs), stopped_status(c.sig)) << err(tag);
    close(keep);
    EXPECT_TRUE(contains(err(tag), "note: stopped by ")) << err(tag);
    EXPECT_NE(contains(err(tag), "you> "), c.thinking) << err(tag);
    auto saved = saved_board_in(dir_);
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->ply, c.thinking ? 20 : 2) << tag;
  }
}

// A second signal ends the run at once, even in the middle of a save: the old
// file stays whole and no temporary file is left. The signals go out the
// moment the save creates its temporary file.
TEST_F(Reliability, SecondSignalDuringASaveKeepsTheOldFile) {
  auto b = fresh_board();
  b->engine = 0;
  prepare(*b);
  const std::string old = read_file(dir_ / "tavimor.dat");
  int cut_short = 0, trial = 0;
  // Wine hands a signal on late under load: more runs there until one is cut short.
  const int most = testing_windows_program() ? 30 : 10;
  for (; trial < 10 || (cut_short == 0 && trial < most); ++trial) {
    write_file(dir_ / "tavimor.dat", old);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, dir_.c_str(), IN_CREATE), 0);
    pid_ = start_tavimor(dir_, {"-mode", "text"}, pipe_reading("new\nquit\n"),
                         "save");  // the saved file differs from the old
    bool signalled = false;
    alignas(inotify_event) char buf[4096];
    for (const int64_t deadline = now_ms() + kWaitMs; !signalled && now_ms() < deadline;) {
      pollfd p{watch, POLLIN, 0};
      const ssize_t n = poll(&p, 1, 50) > 0 ? read(watch, buf, sizeof buf) : 0;
      for (ssize_t at = 0; at < n && !signalled;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
        if (ev->len > 0 && fs::path(ev->name).extension() == ".tmp") {
          // Two signals of one kind may merge into one; Wine takes SIGINT only.
          kill(pid_, testing_windows_program() ? SIGINT : SIGTERM);
          if (testing_windows_program()) sleep_ms(1);
          kill(pid_, SIGINT);
          signalled = true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      }
    }
    close(watch);
    ASSERT_TRUE(signalled) << err("save");
    const int status = wait_exit(pid_, kWaitMs);
    ASSERT_TRUE(saved_board_in(dir_)) << "trial " << trial;  // old or new, whole
    const bool kept_old = read_file(dir_ / "tavimor.dat") == old;
    // Wine hands a signal to the program on a thread of its own, which may
    // come too late: the run has saved and ended as usual.
    const bool ended_first = testing_windows_program() && status == 0 && !kept_old;
    EXPECT_TRUE(status == stopped_status(SIGTERM) || status == stopped_status(SIGINT) || ended_first)
        << status << "\n"
        << err("save");
    cut_short += kept_old;
    EXPECT_EQ(stray_files(dir_), std::vector<std::string>{});
  }
  EXPECT_GT(cut_short, 0) << "no signal came during a save";
  std::printf("[          ] %d runs: %d cut short in the save, %d saved first\n", trial, cut_short,
              trial - cut_short);
}

// Anything but a regular file at the lock file's name refuses the run and is
// left as it is, and so is the data file; a lock file removed while a run
// holds the lock lets no second run in. Closed standard streams are opened on
// the null device: the lock file does not take their place (it stays empty).
TEST_F(Reliability, TheLockHolds) {
  prepare(*fresh_board());
  const std::string old = read_file(dir_ / "tavimor.dat");
  const fs::path lock = dir_ / "tavimor.dat.lock";
  const std::pair<const char*, std::function<int()>> cases[] = {
      {"a folder", [&] { return mkdir(lock.c_str(), 0755); }},
      {"a named pipe", [&] { return mkfifo(lock.c_str(), 0644); }},
      {"a symbolic link", [&] { return symlink("tavimor.dat", lock.c_str()); }},
      {"a socket", [&] {
         sockaddr_un at{AF_UNIX, {}};
         lock.string().copy(at.sun_path, sizeof at.sun_path - 1);
         return bind(socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&at), sizeof at);
       }}};
  for (const auto& [what, make] : cases) {
    if (testing_windows_program() && what != std::string("a folder")) continue;  // Wine's own kinds
    ASSERT_EQ(make(), 0) << what;
    const auto type = fs::symlink_status(lock).type();
    const auto r = run_tavimor(dir_, {"-mode", "text"}, "new\nquit\n", "timeout 60");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, std::string("error: 'tavimor.dat.lock' is ") + what + ", not a lock file."));
    EXPECT_EQ(fs::symlink_status(lock).type(), type) << what;
    EXPECT_TRUE(read_file(dir_ / "tavimor.dat") == old) << what;
    fs::remove(lock);
  }
  EXPECT_EQ(
      run_tavimor(dir_, {"-mode", "demo", "-dump"}, "", "sh -c 'exec \"$0\" \"$@\" <&- >&- 2>&-'").status, 0);
  EXPECT_EQ(read_file(lock), "");
  if (testing_windows_program()) return;  // Windows refuses the removal; Wine cannot refuse it to Linux
  int keep = -1;
  pid_ = start_tavimor(dir_, {"-mode", "text"}, pipe_reading("", &keep), "holder");
  ASSERT_TRUE(wait_for_text(dir_ / "holder.err", "you> ")) << err("holder");
  fs::remove(lock);
  const auto second = run_tavimor(dir_, {"-mode", "text"}, "new\nquit\n");
  EXPECT_EQ(second.status, 1) << second.err;
  EXPECT_TRUE(contains(second.err, "error: 'tavimor.dat' is in use by another run of tavimor.\n"));
  close(keep);
  EXPECT_EQ(wait_exit(pid_, kWaitMs), 0) << err("holder");
}

// A file-size limit below the data file's size fails the save as a full disk
// does (SIGXFSZ does not end the run): the old file stays whole and no
// temporary file is left. At start the temporary files that killed runs left
// are removed (regular files of the save's names only).
TEST_F(Reliability, AFileSizeLimitFailsTheSaveAndLeftoversGo) {
  prepare(*fresh_board());
  const std::string old = read_file(dir_ / "tavimor.dat");
  const std::string left[] = {"tavimor.dat.123-0.tmp", "tavimor.dat.4567-12.tmp"};
  const std::string others[] = {"tavimor.dat.1-x.tmp", "tavimor.dat.1-2.tmp.keep", "tavimor.dat.5-5.tmp",
                                "tavimor.dat.6-6.tmp"};
  for (const auto& name : {left[0], left[1], others[0], others[1]}) write_file(dir_ / name, "left");
  fs::create_symlink(left[0], dir_ / others[2]);  // a link of a save's name is not a save's
  fs::create_directory(dir_ / others[3]);
  if (testing_windows_program()) GTEST_SKIP() << "SIGXFSZ ends Wine itself";
  const auto r = run_tavimor(dir_, {"-mode", "text"}, "new\nquit\n", "ulimit -f 1000;");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const auto& name : left)
    EXPECT_TRUE(contains(r.err, "note: '" + name + "', left by an earlier run, is removed.\n")) << r.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 6);  // the data file, its lock, the others
  for (const auto& name : others) EXPECT_TRUE(fs::exists(fs::symlink_status(dir_ / name))) << name;
  EXPECT_TRUE(contains(r.err, "error: cannot write to file 'tavimor.dat'.\nerror: can't write"));
  EXPECT_TRUE(read_file(dir_ / "tavimor.dat") == old);
}

// A closed pipe on standard output does not end the run before it saves.
TEST_F(Reliability, ClosedStandardOutputDoesNotEndTheRun) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);  // nobody reads: the first report written meets a broken pipe
  pid_ = start_tavimor(dir_, {"-mode", "text", "-nnc"}, pipe_reading("quit\n"), "pipe", out[1]);
  EXPECT_EQ(wait_exit(pid_, kWaitMs), 0) << err("pipe");
  EXPECT_TRUE(saved_board_in(dir_));
}

}  // namespace
