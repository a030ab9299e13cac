// Board hot path: make+undo pairs on realistic middle-game positions, full
// and light, free-style and Renju, 15x15 and 20x20; and the cost of a
// rebuild (tables + empty board).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "board/position.h"

namespace orvel {
namespace {

// A middle game: 40 stones in a cluster around the centre.
std::unique_ptr<Position> midgame(int size, int rule) {
  auto pos = std::make_unique<Position>();
  pos->configure(size, size, rule);
  std::mt19937 rng(11);
  const int c = size / 2;
  for (int n = 0; n < 40;) {
    const int x = c - 4 + static_cast<int>(rng() % 9), y = c - 4 + static_cast<int>(rng() % 9);
    if (pos->cells[x][y] != EMPTY) continue;
    pos->make_move(x, y, 1 + n % 2);
    ++n;
  }
  return pos;
}

std::vector<std::pair<int, int>> empty_cells_near_centre(const Position& pos) {
  std::vector<std::pair<int, int>> cells;
  const int c = pos.board_size / 2;
  for (int x = c - 6; x <= c + 6; ++x)
    for (int y = c - 6; y <= c + 6; ++y)
      if (pos.cells[x][y] == EMPTY) cells.emplace_back(x, y);
  return cells;
}

template <bool Light>
void BM_MakeUndo(benchmark::State& state) {
  auto pos = midgame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  const auto cells = empty_cells_near_centre(*pos);
  size_t i = 0;
  for (auto _ : state) {
    const auto [x, y] = cells[i];
    if (++i == cells.size()) i = 0;
    if (Light) {
      pos->make_move_light(x, y, BLACK);
      pos->undo_move_light(x, y, BLACK);
    } else {
      pos->make_move(x, y, BLACK);
      pos->undo_move(x, y, BLACK);
    }
    benchmark::DoNotOptimize(pos->side_total[0]);
  }
  state.counters["pairs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_TEMPLATE(BM_MakeUndo, false)->ArgNames({"size", "rule"})->Args({15, 0})->Args({15, 2})->Args({20, 0})->Args({20, 2});
BENCHMARK_TEMPLATE(BM_MakeUndo, true)->ArgNames({"size", "rule"})->Args({15, 0})->Args({15, 2})->Args({20, 0})->Args({20, 2});

void BM_Rebuild(benchmark::State& state) {
  auto pos = std::make_unique<Position>();
  const int rule = static_cast<int>(state.range(0));
  pos->configure(20, 20, rule);  // the first build of a rule's tables is not a rebuild
  for (auto _ : state) pos->configure(20, 20, rule);
  state.SetLabel("build_tables + clear_position");
}
BENCHMARK(BM_Rebuild)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

// The first build of a rule's pattern and combination tables, measured
// directly (the shared tables are built once per process).
void BM_PatternTableBuild(benchmark::State& state) {
  auto tables = std::make_unique<PatternTables>();
  for (auto _ : state) {
    build_pattern_table(*tables, static_cast<int>(state.range(0)));
    build_combo_table(*tables, static_cast<int>(state.range(0)));
  }
}
BENCHMARK(BM_PatternTableBuild)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvel
