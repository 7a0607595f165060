// End-to-end tests of the command line: the built program in a directory of
// its own.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

#include "app/options.h"
#include "exe_runner.h"

namespace fs = std::filesystem;

namespace {

const std::string kBanner = "Tavimor version 4.32 ";
const std::string kUsage =
    "usage: tavimor [option]\n"
    "option) -mode  <MODE> : MODE = win*|text|demo\n"
    "        -think <TYPE> : TYPE = neuro*|traditional\n"
    "        -learn <RULE> : RULE = imitation*|backprop|off\n"
    "        -cuda  <#GPU> : with CUDA on #GPU\n"
    "        -dump         : debug info for neural network\n"
    "        -nnc          : csv for neural network console\n";

class Cli : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("cli"); }
  void TearDown() override { fs::remove_all(dir_); }
  ExeResult run(const std::vector<std::string>& args) { return run_tavimor(dir_, args); }
  // Standard error after the banner line.
  static std::string after_banner(const ExeResult& r) {
    EXPECT_EQ(r.err.compare(0, kBanner.size(), kBanner), 0) << r.err;
    const auto nl = r.err.find('\n');
    return nl == std::string::npos ? "" : r.err.substr(nl + 1);
  }
  bool data_file_exists() const { return fs::exists(dir_ / "tavimor.dat"); }
  fs::path dir_;
};

TEST_F(Cli, BannerIsOneLine) {
  const auto r = run({"-bogus"});
  const auto nl = r.err.find('\n');
  ASSERT_NE(nl, std::string::npos);
  EXPECT_GT(nl, kBanner.size());
  EXPECT_EQ(r.err.substr(0, kBanner.size()), kBanner);
}

TEST_F(Cli, StopsWithUsage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-bogus"},
                                               {"-mode"},
                                               {"-think"},
                                               {"-learn"},
                                               {"-cuda"},
                                               {"-MODE", "text"},
                                               {"-mode=text"},
                                               {"-dump", "-mode"},
                                               {"text"}}) {
    const auto r = run(args);
    EXPECT_EQ(r.status, 255) << args[0];
    EXPECT_EQ(after_banner(r), kUsage) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(data_file_exists());
  }
}

TEST_F(Cli, BadValuesStop) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-mode", "Text"}, "error: bad mode Text.\n"},
      {{"-mode", "texts"}, "error: bad mode texts.\n"},
      {{"-think", "neural"}, "error: bad think type neural.\n"},
      {{"-learn", "Backprop"}, "error: bad learn rule Backprop.\n"},
      {{"-learn", "backprop "}, "error: bad learn rule backprop .\n"},
      {{"-cuda", "-1"}, "error: #GPU(-1) must be positive or zero.\n"},
      {{"-cuda", "  -42x"}, "error: #GPU(-42) must be positive or zero.\n"},
      {{"-cuda", "-99999999999999"}, "error: #GPU(-2147483648) must be positive or zero.\n"},
      {{"-mode", "text", "-think", "x"}, "note: text mode is selected.\nerror: bad think type x.\n"},
  };
  for (const auto& c : cases) {
    const auto r = run(c.args);
    EXPECT_EQ(r.status, 255) << c.err;
    EXPECT_EQ(after_banner(r), c.err);
    EXPECT_FALSE(data_file_exists());
  }
}

TEST_F(Cli, NotesForEachOption) {
  const auto r = run({"-mode", "text", "-mode", "demo", "-think", "traditional", "-think", "neuro", "-mode",
                      "win", "-cuda", "abc", "-learn", "off", "-learn", "backprop", "-dump"});
  EXPECT_EQ(r.status, 1);  // the window cannot open: the runner gives the program no display
  const std::string rest = after_banner(r);
  EXPECT_EQ(rest.rfind("note: text mode is selected.\nnote: demo mode is selected.\n"
                       "note: traditional mode is selected.\nnote: neuro mode is selected.\n"
                       "note: win mode is selected.\nnote: off learning is selected.\n"
                       "note: backprop learning is selected.\n",
                       0),
            0u)
      << rest;
}

TEST_F(Cli, NncPrintsTheHeaderBeforeABadOption) {
  const auto r = run({"-nnc", "-bogus"});
  EXPECT_EQ(r.status, 255);
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.rfind("x__0:d0,x__1:d1,", 0), 0u);
  EXPECT_NE(r.out.find("y__510:b510,y__511:b511\n"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), ','), 1023);
  EXPECT_FALSE(data_file_exists());
}

TEST_F(Cli, RunWithoutDataFileResetsAndSaves) {
  const auto r = run({"-mode", "text"});
  EXPECT_EQ(r.status, 0);
  const std::string rest = after_banner(r);
  EXPECT_EQ(rest.rfind("note: text mode is selected.\n"
                       "error: cannot read from file 'tavimor.dat'.\n"
                       "note: datafile is not found. data reset.\n",
                       0),
            0u)
      << rest;
  EXPECT_NE(rest.find("tavimor> datafile was saved.\n"), std::string::npos);
  ASSERT_TRUE(data_file_exists());
  EXPECT_EQ(fs::file_size(dir_ / "tavimor.dat"), 4228985u);
}

TEST(Options, AtoiClamped) {
  EXPECT_EQ(atoi_clamped("12"), 12);
  EXPECT_EQ(atoi_clamped(" \t+7z"), 7);
  EXPECT_EQ(atoi_clamped("-0"), 0);
  EXPECT_EQ(atoi_clamped("abc"), 0);
  EXPECT_EQ(atoi_clamped(""), 0);
  EXPECT_EQ(atoi_clamped("- 3"), 0);
  EXPECT_EQ(atoi_clamped("2147483647"), INT_MAX);
  EXPECT_EQ(atoi_clamped("2147483648"), INT_MAX);
  EXPECT_EQ(atoi_clamped("-2147483648"), INT_MIN);
  EXPECT_EQ(atoi_clamped("-2147483649"), INT_MIN);
  EXPECT_EQ(atoi_clamped("99999999999999999999999999"), INT_MAX);
}

}  // namespace
