// The teaching run's core: positions labelled by the traditional engine, and
// a network taught them in minibatches choosing like its teacher on
// positions it never saw, better than a fixed table of squares.
#include "app/teach.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "nn_util.h"

namespace {

TEST(Teach, AgreementRisesAboveAFixedTable) {
  constexpr long kPositions = 20000;
  const TeachSet set = gather_positions(kPositions, 11, nullptr, nullptr);
  ASSERT_EQ(set.taught.size(), static_cast<size_t>(kPositions));
  ASSERT_EQ(set.held.size(), static_cast<size_t>(kPositions / 20));
  for (const auto* part : {&set.taught, &set.held})
    for (const TaughtPosition& t : *part) {
      ASSERT_NE(t.best, 0u);
      ASSERT_EQ(t.best & ~t.position.legal, 0u) << "a best move that is not legal";
      ASSERT_LE(std::abs(t.outcome), 64);
    }
  std::mt19937 rng(3);
  auto net = zero_net();
  random_params(*net, rng, 0.7f);
  const double table = table_agreement(set.taught, set.held);
  const Agreement before = agreement(*net, set.held);
  const auto teacher = make_teacher(5);
  constexpr int kPasses = 3;
  double first_loss = 0.0, loss = 0.0;
  for (int pass = 0; pass < kPasses; ++pass) {
    loss = teach_pass(*teacher, *net, set.taught, pass, kPasses, nullptr, nullptr);
    if (pass == 0) first_loss = loss;
  }
  EXPECT_LT(loss, first_loss);
  const Agreement after = agreement(*net, set.held);
  EXPECT_GT(after.teacher, table + 0.03) << "before " << before.teacher;
  EXPECT_GT(after.teacher, before.teacher + 0.05);
  EXPECT_LT(after.preference, 0.8) << "a network that learned one order of squares";
  // The best score foretells how the game ends better than one constant.
  EXPECT_LT(after.value_error, 0.8 * after.value_spread) << "before " << before.value_error;
  EXPECT_EQ(teach_record_line(2, 40000, 1.5, after, table, 3.0).rfind("2,40000,1.5000,", 0), 0u);
}

TEST(Teach, CommandLine) {
  const auto parse = [](std::vector<const char*> words, TeachArgs& args) {
    words.insert(words.begin(), "tavimor-train");
    return parse_teach_args(static_cast<int>(words.size()), const_cast<char**>(words.data()), args);
  };
  TeachArgs args;
  EXPECT_TRUE(parse({"-teach", "200000"}, args));
  EXPECT_EQ(args.positions, 200000);
  EXPECT_EQ(args.passes, 8);
  EXPECT_FALSE(args.replies);
  EXPECT_TRUE(parse({"-teach", "5", "-replies", "-passes", "0"}, args));
  EXPECT_EQ(args.passes, 0);
  EXPECT_TRUE(args.replies);
  EXPECT_EQ(args.level.deeper, 0);
  EXPECT_EQ(args.level.exact, 48);
  EXPECT_FALSE(args.own);
  EXPECT_TRUE(parse({"-teach", "5", "-exact", "44", "-own", "-deeper", "2"}, args));
  EXPECT_TRUE(args.own);
  EXPECT_EQ(args.level.deeper, 2);
  EXPECT_EQ(args.level.exact, 44);
  for (const auto& bad : std::vector<std::vector<const char*>>{{"-teach"},
                                                               {"-teach", "0"},
                                                               {"-teach", "-5"},
                                                               {"-teach", "5x"},
                                                               {"-teach", "5", "-passes"},
                                                               {"-teach", "5", "-passes", "101"},
                                                               {"-teach", "5", "-Passes", "2"},
                                                               {"-teach", "5", "-deeper", "3"},
                                                               {"-teach", "5", "-exact", "35"},
                                                               {"-teach", "5", "-exact", "49"},
                                                               {"-teach", "5", "-exact"},
                                                               {"-Teach", "5"}})
    EXPECT_FALSE(parse(bad, args)) << bad.size();
}

}  // namespace
