// orvel-bench [depth]: searches the fixed bench positions to a fixed depth
// and prints one line per position, then "Nodes searched" (the search
// fingerprint) and "Nodes/second".
#include <cstdio>
#include <cstdlib>

#include "think/bench.h"

int main(int argc, char** argv) {
  const int depth = argc > 1 ? std::atoi(argv[1]) : 0;
  const orvel::BenchTotals t = orvel::run_bench(depth);
  for (const auto& l : t.lines)
    std::printf("%-22s value %9d  move %2d,%-2d  nodes %10llu  %6lld ms\n", l.name.c_str(), l.value, l.best_x, l.best_y,
                static_cast<unsigned long long>(l.nodes), static_cast<long long>(l.ms));
  std::printf("Nodes searched: %llu\n", static_cast<unsigned long long>(t.nodes));
  std::printf("Nodes/second: %llu\n", static_cast<unsigned long long>(t.nodes * 1000 / (t.ms > 0 ? t.ms : 1)));
  return 0;
}
