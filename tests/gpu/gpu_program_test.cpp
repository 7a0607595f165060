// The built program with -cuda: the stand-in driver, the toolkit's stub
// library and a library that lacks an entry point, each given to the program
// through the library path as the real driver would be found.
#include <gtest/gtest.h>

#include <filesystem>

#include "exe_runner.h"
#include "late_positions.h"
#include "standin.h"

namespace fs = std::filesystem;

namespace {

class GpuProgram : public ::testing::Test {
 protected:
  // A game at ply 30 in which the computer (colour 2) is to move in a late
  // position with a small tree, and a network with random parameters.
  void SetUp() override {
    dir_ = make_temp_dir("gpu");
    std::mt19937 rng(11);
    auto net = zero_net();
    random_params(*net, rng, 0.7f);
    auto b = late_board(kLatePositions[3]);
    for (int k = 0; k < b->ply; ++k) std::memcpy(b->planes[k], current_plane(*b), 400);  // a game set up
    ASSERT_TRUE(write_data_file(dir_, *b, *net));
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the program on the prepared game with the driver library found in
  // library_dir; the human answers with every square in turn, then quits.
  ExeResult run(const std::vector<std::string>& args, const std::string& library_dir,
                const std::string& settings = "") {
    ExeResult r;
    const fs::path saved = dir_ / "saved.dat";
    fs::copy_file(dir_ / "tavimor.dat", saved, fs::copy_options::overwrite_existing);
    std::string prefix = "STANDIN_CUDA_LOG=" + shell_quote((dir_ / "calls.log").string()) + " " + settings;
    if (!library_dir.empty()) prefix += " LD_LIBRARY_PATH=" + shell_quote(library_dir);
    std::string input;
    for (char row = 'a'; row <= 'h'; ++row)
      for (char col = '1'; col <= '8'; ++col) input += std::string{row, col, '\n'};
    r = run_tavimor(dir_, args, input + "quit\n", prefix);
    calls_ = read_file(dir_ / "calls.log");
    fs::remove(dir_ / "calls.log");
    fs::copy_file(saved, dir_ / "tavimor.dat", fs::copy_options::overwrite_existing);
    return r;
  }
  // What the program says without -cuda.
  std::string without_cuda() { return run({"-mode", "text"}, "").err; }

  fs::path dir_;
  std::string calls_;  // the stand-in's log of the last run
};

int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// With the stand-in's one device as GPU 0, the program says so, then learns
// and evaluates on it, and releases it at exit.
TEST_F(GpuProgram, TextModeOnTheStandIn) {
  const ExeResult r = run({"-cuda", "0", "-mode", "text"}, STANDIN_DIR);
  EXPECT_EQ(r.status, 0);
  const std::string note = std::string("tavimor> neuro mode with cuda on ") + kStandinDeviceName + " #0.\n";
  EXPECT_NE(r.err.find("tavimor> datafile was loaded.\n" + note), std::string::npos) << r.err;
  EXPECT_GE(count_of(r.err, "tavimor> I'm thinking..."), 2) << r.err;
  EXPECT_EQ(count_of(r.err, "error"), 0) << r.err;
  EXPECT_GE(count_of(calls_, "cuLaunchKernel forward4"), 2) << calls_;
  EXPECT_GE(count_of(calls_, "cuLaunchKernel back4"), 1) << calls_;
  const std::string end = "cuMemFree_v2 a6\ncuCtxDestroy_v2\n";
  EXPECT_EQ(calls_.substr(calls_.size() - std::min(calls_.size(), end.size())), end);
}

// GPU 3 does not exist: nothing is said, the processor plays, and no context
// is left to destroy.
TEST_F(GpuProgram, AnOrdinalBeyondTheDevicesIsSilent) {
  const std::string quiet = without_cuda();
  const ExeResult r = run({"-cuda", "3", "-mode", "text"}, STANDIN_DIR);
  EXPECT_EQ(r.err, quiet);
  EXPECT_GE(count_of(r.err, "tavimor> I'm thinking..."), 1);
  EXPECT_EQ(calls_, "cuInit 0\ncuDeviceGet 3\n");
}

// A bring-up that fails after the context was made is silent, and the
// context is destroyed at exit with nothing freed.
TEST_F(GpuProgram, AFailedBringUpDestroysItsContextAtExit) {
  const std::string quiet = without_cuda();
  const ExeResult r = run({"-cuda", "0", "-mode", "text"}, STANDIN_DIR, "STANDIN_CUDA_FAIL=cuMemAlloc_v2:3");
  EXPECT_EQ(r.err, quiet);
  EXPECT_EQ(count_of(calls_, "cuMemFree_v2"), 0) << calls_;
  const std::string end = "cuMemAlloc_v2 4194304 failed\ncuCtxDestroy_v2\n";
  EXPECT_EQ(calls_.substr(calls_.size() - std::min(calls_.size(), end.size())), end) << calls_;
}

// The toolkit's stub library loads, then answers cuInit with an error.
TEST_F(GpuProgram, TheToolkitsStubLibraryIsSilent) {
  if (std::string(CUDA_STUB).empty()) GTEST_SKIP() << "the CUDA toolkit's stub libcuda.so is not installed";
  const fs::path stub_dir = dir_ / "stub";
  fs::create_directory(stub_dir);
  fs::create_symlink(CUDA_STUB, stub_dir / "libcuda.so.1");
  const std::string quiet = without_cuda();
  EXPECT_EQ(run({"-cuda", "0", "-mode", "text"}, stub_dir.string()).err, quiet);
}

// A driver library without one of the twelve entry points is no driver: no
// call is made.
TEST_F(GpuProgram, ALibraryWithoutAnEntryPointIsSilent) {
  const std::string quiet = without_cuda();
  EXPECT_EQ(run({"-cuda", "0", "-mode", "text"}, STANDIN_PARTIAL_DIR).err, quiet);
  EXPECT_EQ(calls_, "");
}

// Without a driver library at all (nvcuda.dll is never there under Wine)
// nothing is said and the processor plays.
TEST_F(GpuProgram, WithoutADriverLibraryIsSilent) {
  const std::string quiet = without_cuda();
  const ExeResult r = run({"-cuda", "0", "-mode", "text"}, "");
  if (!testing_windows_program() && contains(r.err, "with cuda on"))
    GTEST_SKIP() << "this machine has a driver";
  EXPECT_EQ(r.err, quiet);
  EXPECT_GE(count_of(r.err, "tavimor> I'm thinking..."), 1) << r.err;
}

}  // namespace
