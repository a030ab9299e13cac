// The bench's node count is the fingerprint of search behaviour: the same
// in every build (release, debug, sanitizers) and every run. A change that
// alters the search updates tests/data/bench_signature.txt on purpose.
#include <gtest/gtest.h>

#include <fstream>

#include "think/bench.h"

namespace orvel {
namespace {

TEST(BenchSignature, NodeCountMatchesTheRecordedSignature) {
  std::ifstream in(ORVEL_TEST_DATA "/bench_signature.txt");
  ASSERT_TRUE(in) << "missing tests/data/bench_signature.txt";
  unsigned long long expected = 0;
  in >> expected;
  const BenchTotals t = run_bench();
  EXPECT_EQ(t.nodes, expected) << "search behaviour changed: update tests/data/bench_signature.txt";
}

}  // namespace
}  // namespace orvel
