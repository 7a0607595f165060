// The data file under concurrent runs, damage and signals: real processes of
// the built program, started together, and interrupted at the prompt, while
// the computer thinks and in the middle of a save.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <functional>

#include "data_util.h"
#include "exe_runner.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWaitMs = 120000;  // a deadline for a run that should end

void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Reliability : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("reliab"); }
  void TearDown() override {
    stop_process(pid_);
    fs::remove_all(dir_);
  }

  fs::path data() const { return dir_ / "tavimor.dat"; }

  void prepare(const Board& b) {
    auto net = zero_net();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(write_data_file(dir_, b, *net));
    testing::internal::GetCapturedStderr();
  }

  std::unique_ptr<Board> saved_board() {
    auto b = fresh_board();
    auto net = zero_net();
    testing::internal::CaptureStderr();
    const bool ok = read_data_file(dir_, *b, *net);
    testing::internal::GetCapturedStderr();
    return ok ? std::move(b) : nullptr;
  }

  // A file descriptor reading text, for a run's standard input.
  int input(const std::string& tag, const std::string& text) {
    write_bytes(dir_ / (tag + ".txt"), text);
    return open((dir_ / (tag + ".txt")).c_str(), O_RDONLY);
  }

  std::string err(const std::string& tag) const { return read_file(dir_ / (tag + ".err")); }

  // Waits until the run's standard error holds text at least `times` times.
  bool wait_for(const std::string& tag, const std::string& text, int times = 1) const {
    for (const int64_t deadline = now_ms() + kWaitMs; now_ms() < deadline; sleep_ms(2))
      if (count_of(err(tag), text) >= times) return true;
    return false;
  }

  fs::path dir_;
  pid_t pid_ = -1;
};

// Two runs let go at the same moment, many times over: each either plays and
// saves, or is refused at once and touches nothing. No save is lost (every
// run that saved swapped the colours once) and the file always loads.
TEST_F(Reliability, TwoRunsAtOnceNeitherLoseNorCorruptTheFile) {
  auto b = fresh_board();
  b->engine = 0;
  prepare(*b);
  int saves = 0, refusals = 0;
  for (int pair = 0; pair < 25; ++pair) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t pids[2];
    for (int k = 0; k < 2; ++k) {
      const std::string tag = "run" + std::to_string(k);
      const int in = input(tag, "new\nquit\n");
      pids[k] = start_tavimor(dir_, {"-mode", "text"}, in, tag, -1, gate[0]);
      close(in);
    }
    close(gate[0]);
    close(gate[1]);
    for (int k = 0; k < 2; ++k) {
      const int status = wait_exit(pids[k], kWaitMs);
      const std::string e = err("run" + std::to_string(k));
      if (status == 0) {
        EXPECT_TRUE(has(e, "tavimor> datafile was saved.\n")) << e;
        ++saves;
      } else {
        EXPECT_EQ(status, 1) << e;
        EXPECT_TRUE(has(e, "error: 'tavimor.dat' is in use by another run of tavimor.\n")) << e;
        EXPECT_FALSE(has(e, "datafile was")) << e;
        ++refusals;
      }
    }
    auto saved = saved_board();
    ASSERT_TRUE(saved) << "pair " << pair;
    ASSERT_EQ(saved->computer_colour, saves % 2 == 1 ? 1 : 2) << "a save was lost in pair " << pair;
    ASSERT_EQ(stray_files(dir_), std::vector<std::string>{});
  }
  EXPECT_GT(refusals, 0) << "the runs never overlapped";
  std::printf("[          ] 25 pairs: %d runs saved, %d refused\n", saves, refusals);
}

// A file that does not load is kept under the next free name before a fresh
// one replaces it: tavimor.dat.bad, then tavimor.dat.bad2, ...
TEST_F(Reliability, AFileThatFailsToLoadIsKeptAside) {
  prepare(*fresh_board());
  const std::string good = read_file(data());
  std::string flipped = good;
  flipped[kBoardBytes + 77] ^= 0x40;
  const std::string damaged[] = {flipped, good.substr(0, 1000)};
  const char* kept[] = {"tavimor.dat.bad", "tavimor.dat.bad2"};
  for (int i = 0; i < 2; ++i) {
    write_bytes(data(), damaged[i]);
    const auto r = run_tavimor(dir_, {"-mode", "text"}, "quit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err,
                    "error: checksum error in 'tavimor.dat'.\nnote: datafile is not found. data reset.\n"
                    "note: the old datafile is kept as '" +
                        std::string(kept[i]) + "'.\n"))
        << r.err;
    EXPECT_TRUE(saved_board()) << "the fresh file loads";
  }
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(read_file(dir_ / kept[i]) == damaged[i]) << kept[i];

  if (geteuid() == 0) return;  // root reads any file
  write_bytes(data(), good);
  fs::permissions(data(), fs::perms::none);
  const auto r = run_tavimor(dir_, {"-mode", "text"}, "quit\n");
  EXPECT_TRUE(has(r.err, "error: cannot read from file 'tavimor.dat'.\n")) << r.err;
  fs::permissions(dir_ / "tavimor.dat.bad3", fs::perms::owner_read);
  EXPECT_TRUE(read_file(dir_ / "tavimor.dat.bad3") == good);
}

// Anything but a regular file named tavimor.dat is refused at once, and left
// where it is.
TEST_F(Reliability, OnlyARegularFileIsUsed) {
  struct Case {
    const char* what;
    std::function<int()> make;
    fs::file_type type;
  } cases[] = {
      {"a named pipe", [&] { return mkfifo(data().c_str(), 0644); }, fs::file_type::fifo},
      {"a folder", [&] { return mkdir(data().c_str(), 0755); }, fs::file_type::directory},
      {"a device", [&] { return symlink("/dev/null", data().c_str()); }, fs::file_type::character},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.make(), 0) << c.what;
    const auto r = run_tavimor(dir_, {"-mode", "text"}, "quit\n", "timeout 60");
    EXPECT_EQ(r.status, 1) << c.what << "\n" << r.err;
    EXPECT_TRUE(has(r.err, std::string("error: 'tavimor.dat' is ") + c.what + ", not a data file.\n"))
        << r.err;
    EXPECT_FALSE(has(r.err, "datafile was saved")) << r.err;
    EXPECT_EQ(fs::status(data()).type(), c.type) << c.what;
    fs::remove(data());
  }
}

// SIGINT, SIGTERM and SIGHUP at the prompt end the dialogue as quit does; the
// game is saved, and the process then ends as the signal ends it.
TEST_F(Reliability, StopSignalAtThePromptSavesTheGame) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    auto b = fresh_board();
    b->engine = 0;
    prepare(*b);
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    const std::string tag = "prompt" + std::to_string(sig);
    pid_ = start_tavimor(dir_, {"-mode", "text"}, in[0], tag);
    close(in[0]);
    ASSERT_EQ(write(in[1], "d3\n", 3), 3);
    ASSERT_TRUE(wait_for(tag, "you> ", 2)) << err(tag);  // the computer has answered
    kill(pid_, sig);
    EXPECT_EQ(wait_exit(pid_, kWaitMs), 128 + sig) << err(tag);
    close(in[1]);
    const std::string e = err(tag);
    EXPECT_TRUE(has(e, "note: stopped by SIG")) << e;
    EXPECT_TRUE(has(e, "tavimor> datafile was saved.\n")) << e;
    auto saved = saved_board();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->ply, 2) << "signal " << sig;
  }
}

// A signal while the computer thinks lets the move complete, then saves. In
// demo mode the game is left unfinished for the next run to go on with.
TEST_F(Reliability, StopSignalWhileThinkingSavesAfterTheMove) {
  for (const char* mode : {"text", "demo"}) {
    auto b = fresh_board();
    b->computer_colour = 1;  // the neural engine moves first
    prepare(*b);
    int in[2];
    ASSERT_EQ(pipe(in), 0);
    const std::string tag = std::string("think-") + mode;
    pid_ = start_tavimor(dir_, {"-mode", mode}, in[0], tag);
    close(in[0]);
    ASSERT_TRUE(wait_for(tag, "thinking..."));
    kill(pid_, SIGINT);
    EXPECT_EQ(wait_exit(pid_, kWaitMs), 128 + SIGINT) << err(tag);
    close(in[1]);
    const std::string e = err(tag);
    EXPECT_EQ(count_of(e, "thinking..."), 1) << e;
    EXPECT_FALSE(has(e, "you> ")) << e;
    auto saved = saved_board();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->ply, 1) << mode;
    EXPECT_EQ(saved->computer_colour, 1) << mode;
  }
}

// A second signal ends the run at once, even in the middle of a save: the old
// file stays whole and no temporary file is left. The signals go out the
// moment the save creates its temporary file.
TEST_F(Reliability, SecondSignalDuringASaveKeepsTheOldFile) {
  auto b = fresh_board();
  b->engine = 0;
  b->computer_colour = 1;
  prepare(*b);
  const std::string old = read_file(data());
  int cut_short = 0;
  for (int trial = 0; trial < 10; ++trial) {
    write_bytes(data(), old);
    const int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir_.c_str(), IN_CREATE), 0);
    const int in = input("save", "new\nquit\n");  // the new game gives the computer colour 2
    pid_ = start_tavimor(dir_, {"-mode", "text"}, in, "save");
    close(in);
    bool signalled = false;
    alignas(inotify_event) char buf[4096];
    for (const int64_t deadline = now_ms() + kWaitMs; !signalled && pid_ > 0 && now_ms() < deadline;) {
      pollfd p{watch, POLLIN, 0};
      const ssize_t n = poll(&p, 1, 50) > 0 ? read(watch, buf, sizeof buf) : 0;
      for (ssize_t at = 0; at < n;) {
        const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
        const std::string name = ev->len ? ev->name : "";
        const std::string ext = fs::path(name).extension().string();
        if (!signalled && name != "tavimor.dat.lock" && ext != ".err" && ext != ".out" && ext != ".txt") {
          // Two different signals: two of one kind may merge into one.
          kill(pid_, SIGTERM);
          kill(pid_, SIGINT);
          signalled = true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
      }
      if (!signalled && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    }
    close(watch);
    ASSERT_TRUE(signalled) << err("save");
    const int status = wait_exit(pid_, kWaitMs);
    EXPECT_TRUE(status == 128 + SIGTERM || status == 128 + SIGINT) << status << "\n" << err("save");
    auto saved = saved_board();
    ASSERT_TRUE(saved) << "trial " << trial;
    if (read_file(data()) == old) {
      ++cut_short;
    } else {
      EXPECT_EQ(saved->computer_colour, 2);  // the new file, whole
    }
    EXPECT_EQ(stray_files(dir_), std::vector<std::string>{});
  }
  EXPECT_GT(cut_short, 0) << "no signal arrived during a save";
  std::printf("[          ] 10 runs: %d cut short in the save, %d saved whole first\n", cut_short,
              10 - cut_short);
}

// A closed pipe on standard output does not end the run before it saves.
TEST_F(Reliability, ClosedStandardOutputDoesNotEndTheRun) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);
  const int in = input("pipe", "quit\n");
  pid_ = start_tavimor(dir_, {"-mode", "text", "-nnc"}, in, "pipe", out[1]);
  close(in);
  close(out[1]);
  EXPECT_EQ(wait_exit(pid_, kWaitMs), 0) << err("pipe");
  EXPECT_TRUE(has(err("pipe"), "tavimor> datafile was saved.\n"));
  EXPECT_TRUE(saved_board());
}

}  // namespace
