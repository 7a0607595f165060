// The bench signature against the numbers committed in bench/signature.txt:
// a change that alters what the searches visit changes them in the same
// commit.
#include <gtest/gtest.h>

#include <fstream>

#include "bench/signature.h"

TEST(BenchSignature, MatchesTheCommittedNumbers) {
  std::ifstream file(TAVIMOR_SIGNATURE);
  ASSERT_TRUE(file) << TAVIMOR_SIGNATURE;
  std::vector<SignatureRow> committed;
  SignatureRow row;
  while (file >> row.position >> row.engine >> row.nodes >> row.evaluations) committed.push_back(row);
  const std::vector<SignatureRow> now = bench_signature();
  ASSERT_EQ(now.size(), committed.size());
  for (size_t i = 0; i < now.size(); ++i) {
    const std::string where = now[i].position + " " + now[i].engine;
    EXPECT_EQ(committed[i].position + " " + committed[i].engine, where);
    EXPECT_EQ(now[i].nodes, committed[i].nodes) << where << ": moves played";
    EXPECT_EQ(now[i].evaluations, committed[i].evaluations) << where << ": positions evaluated";
  }
}
