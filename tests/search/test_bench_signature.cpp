// The bench's node count is the fingerprint of search behaviour: the same
// in every build (release, debug, sanitizers) and every run. A change that
// alters the search updates tests/data/bench_signature.txt on purpose.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "think/bench.h"

namespace orvel {
namespace {

// One fingerprint per search mode, each in its own file.
void expect_signature(int mode, const char* file) {
  std::ifstream in(std::string(ORVEL_TEST_DATA "/") + file);
  ASSERT_TRUE(in) << "missing tests/data/" << file;
  unsigned long long expected = 0;
  in >> expected;
  const BenchTotals t = run_bench(0, mode);
  EXPECT_EQ(t.nodes, expected) << "search behaviour changed: update tests/data/" << file;
}

TEST(BenchSignature, NodeCountMatchesTheRecordedSignature) { expect_signature(0, "bench_signature.txt"); }

TEST(BenchSignature, DeepSearchNodeCountMatchesItsSignature) { expect_signature(1, "bench_signature_mode1.txt"); }

}  // namespace
}  // namespace orvel
