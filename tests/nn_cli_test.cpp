// The network's reports of the built program: the -dump tables and the -nnc
// header, end to end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "exe_runner.h"
#include "nn_util.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, sep)) out.push_back(item);
  return out;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

struct DumpRow {
  std::string label;
  double ave, sd, min, max;
};

// Parses the four tables, checking their shape: a header before each, the
// labels in order, and `digits` after the point in every number.
std::vector<DumpRow> parse_dump(const std::string& out) {
  const auto lines = split(out, '\n');
  EXPECT_EQ(lines.size(), 23u) << out;
  EXPECT_EQ(out.back(), '\n');
  std::vector<DumpRow> rows;
  const struct {
    char label;
    int count, digits;
  } tables[4] = {{'s', 5, 2}, {'n', 4, 2}, {'d', 5, 3}, {'b', 5, 3}};
  size_t at = 0;
  for (const auto& t : tables) {
    if (at >= lines.size()) break;
    EXPECT_EQ(lines[at++], "\tave\tsd\tmin\tmax");
    for (int i = 0; i < t.count && at < lines.size(); ++i) {
      const auto fields = split(lines[at++], '\t');
      EXPECT_EQ(fields.size(), 5u);
      if (fields.size() != 5) continue;
      EXPECT_EQ(fields[0], std::string(1, t.label) + std::to_string(i));
      for (int f = 1; f < 5; ++f) {
        const auto dot = fields[f].find('.');
        EXPECT_NE(dot, std::string::npos) << fields[f];
        EXPECT_EQ(fields[f].size() - dot - 1, static_cast<size_t>(t.digits)) << fields[f];
      }
      rows.push_back({fields[0], std::atof(fields[1].c_str()), std::atof(fields[2].c_str()),
                      std::atof(fields[3].c_str()), std::atof(fields[4].c_str())});
    }
  }
  return rows;
}

class NnCli : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_temp_dir("nn"); }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(NnCli, DumpOfAFreshNetwork) {
  const auto r = run_tavimor(dir_, {"-mode", "text", "-dump"});
  EXPECT_EQ(r.status, 0);
  const auto rows = parse_dump(r.out);
  ASSERT_EQ(rows.size(), 19u);
  for (size_t i = 0; i < 9; ++i) {
    // Uniform on [-0.7, 0.6993]: mean 0, spread 0.40.
    EXPECT_NEAR(rows[i].ave, 0.0, 0.06) << rows[i].label;
    EXPECT_NEAR(rows[i].sd, 0.40, 0.03) << rows[i].label;
    EXPECT_GE(rows[i].min, -0.70) << rows[i].label;
    EXPECT_LE(rows[i].min, -0.68) << rows[i].label;
    EXPECT_LE(rows[i].max, 0.70) << rows[i].label;
    EXPECT_GE(rows[i].max, 0.68) << rows[i].label;
  }
  for (size_t i = 9; i < rows.size(); ++i) {
    EXPECT_GE(rows[i].min, -1000.0) << rows[i].label;
    EXPECT_LE(rows[i].max, 1000.0) << rows[i].label;
    EXPECT_GE(rows[i].sd, 0.0) << rows[i].label;
  }
  EXPECT_TRUE(fs::exists(dir_ / "tavimor.dat"));
}

TEST_F(NnCli, DumpAfterReloadShowsTheSavedParameters) {
  const auto first = run_tavimor(dir_, {"-mode", "text", "-dump"});
  const auto second = run_tavimor(dir_, {"-mode", "text", "-dump"});
  EXPECT_NE(second.err.find("datafile was loaded"), std::string::npos) << second.err;
  const auto a = split(first.out, '\n'), b = split(second.out, '\n');
  ASSERT_GE(a.size(), 11u);
  ASSERT_GE(b.size(), 11u);
  for (size_t i = 0; i < 11; ++i) EXPECT_EQ(a[i], b[i]);
}

TEST_F(NnCli, NncHeaderAtParseAndAtReset) {
  const auto r = run_tavimor(dir_, {"-mode", "text", "-nnc"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind(csv_header() + csv_header(), 0), 0u);
  EXPECT_EQ(count_of(r.out, "x__0:d0,"), 2u);
  // With a data file to load, the reset and its second header do not come.
  const auto again = run_tavimor(dir_, {"-mode", "text", "-nnc"});
  EXPECT_EQ(again.out.rfind(csv_header(), 0), 0u);
  EXPECT_EQ(count_of(again.out, "x__0:d0,"), 1u);
}

TEST_F(NnCli, NncThenDumpGivesBoth) {
  const auto r = run_tavimor(dir_, {"-nnc", "-mode", "text", "-dump"});
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.out.rfind(csv_header() + csv_header(), 0), 0u);
  const auto rows = parse_dump(r.out.substr(2 * csv_header().size()));
  EXPECT_EQ(rows.size(), 19u);
  // The later of the two wins: -dump then -nnc prints no tables.
  fs::remove(dir_ / "tavimor.dat");
  const auto s = run_tavimor(dir_, {"-dump", "-mode", "text", "-nnc"});
  EXPECT_EQ(s.out, csv_header() + csv_header());
}

// The reports end their lines as text files do on the system: a carriage
// return and a newline on Windows, whose tools expect them, a newline alone
// elsewhere.
TEST_F(NnCli, ReportLinesEndAsTheSystemsTextFiles) {
  const auto r = run_tavimor(dir_, {"-mode", "text", "-nnc", "-dump"});
  const size_t lines = count_of(r.raw_out, "\n");
  EXPECT_GT(lines, 20u) << r.raw_out;
  EXPECT_EQ(count_of(r.raw_out, "\r\n"), testing_windows_program() ? lines : 0) << r.raw_out;
}

}  // namespace
