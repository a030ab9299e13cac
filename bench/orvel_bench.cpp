// orvel-bench [depth]: searches the fixed bench positions to a fixed depth
// with each search mode and prints one line per position, then "Nodes
// searched" (the fingerprint of search_mode 0) and "Nodes/second", then the
// same for search_mode 1 ("Nodes searched (mode 1)").
#include <cstdio>
#include <cstdlib>

#include "think/bench.h"

namespace {

void print(const orvel::BenchTotals& t, const char* suffix) {
  for (const auto& l : t.lines)
    std::printf("%-22s value %9d  move %2d,%-2d  nodes %10llu  %6lld ms\n", l.name.c_str(), l.value, l.best_x, l.best_y,
                static_cast<unsigned long long>(l.nodes), static_cast<long long>(l.ms));
  std::printf("Nodes searched%s: %llu\n", suffix, static_cast<unsigned long long>(t.nodes));
  std::printf("Nodes/second%s: %llu\n", suffix,
              static_cast<unsigned long long>(t.nodes * 1000 / (t.ms > 0 ? t.ms : 1)));
}

}  // namespace

int main(int argc, char** argv) {
  const int depth = argc > 1 ? std::atoi(argv[1]) : 0;
  print(orvel::run_bench(depth, 0), "");
  print(orvel::run_bench(depth, 1), " (mode 1)");
  return 0;
}
