// The fixed-depth benchmark: a fixed list of positions (all three rules,
// 15x15 and 20x20, quiet and sharp) searched to a fixed depth on one thread
// with fresh tables. The total node count is a fingerprint of the search:
// it changes only when search behaviour changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

struct BenchLine {
  std::string name;
  int32_t value;
  int best_x, best_y;
  uint64_t nodes;
  int64_t ms;
};

struct BenchTotals {
  std::vector<BenchLine> lines;
  uint64_t nodes = 0;
  int64_t ms = 0;
};

// Search every bench position to depth (0: the default depth) with the
// search of search_mode (0 the node search, 1 the deep search).
BenchTotals run_bench(int depth = 0, int search_mode = 0);

}  // namespace orvel
