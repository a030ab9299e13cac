// Forbidden-point test and static evaluation: is_forbidden over the empty
// cells of busy Renju positions (all of them, and only BLACK's four and
// three cells, the ones the evaluation and move stages ask about), and
// evaluate on middle-game positions of each rule.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "board/position.h"
#include "game/game_record.h"
#include "game/search_inputs.h"
#include "game/settings.h"
#include "renju/forbidden.h"
#include "search/hash.h"
#include "search/search.h"

namespace orvel {
namespace {

bool makes_five(const Position& pos, int x, int y, int v) {
  for (int d = 0; d < 4; ++d)
    if (pos.dir_patterns[d][x][y].code[v - 1] >= PAT_FIVE) return true;
  return false;
}

// Stones alternate inside the central 9 by 9 square; nobody completes five
// and, under Renju, BLACK never plays a forbidden point.
std::unique_ptr<Position> busy_position(int rule, int stones, unsigned salt) {
  auto pos = std::make_unique<Position>();
  pos->configure(15, 15, rule);
  std::mt19937 rng(salt);
  for (int placed = 0, tries = 0; placed < stones && tries < 10000; ++tries) {
    const int x = 3 + static_cast<int>(rng() % 9), y = 3 + static_cast<int>(rng() % 9);
    const int v = placed % 2 == 0 ? BLACK : WHITE;
    if (pos->cells[x][y] != EMPTY || makes_five(*pos, x, y, v)) continue;
    if (v == BLACK && rule == RENJU && is_forbidden(*pos, x, y)) continue;
    pos->make_move(x, y, v);
    ++placed;
  }
  return pos;
}

constexpr int POSITIONS = 8;

struct ForbiddenWork {
  std::vector<std::unique_ptr<Position>> positions;
  std::vector<std::pair<int, std::pair<int, int>>> calls;  // position index, cell
};

ForbiddenWork forbidden_work(bool threat_cells_only) {
  ForbiddenWork w;
  for (int i = 0; i < POSITIONS; ++i) {
    w.positions.push_back(busy_position(RENJU, 36 + 4 * i, 100 + i));
    const Position& p = *w.positions.back();
    for (int x = 0; x < 15; ++x)
      for (int y = 0; y < 15; ++y) {
        if (p.cells[x][y] != EMPTY) continue;
        if (threat_cells_only && !p.four_cells[0].contains(x, y) && !p.three_cells[0].contains(x, y)) continue;
        w.calls.push_back({i, {x, y}});
      }
  }
  return w;
}

void BM_IsForbidden(benchmark::State& state) {
  ForbiddenWork w = forbidden_work(state.range(0) != 0);
  size_t i = 0;
  int64_t forbidden = 0;
  for (auto _ : state) {
    const auto& [p, cell] = w.calls[i];
    if (++i == w.calls.size()) i = 0;
    forbidden += is_forbidden(*w.positions[p], cell.first, cell.second);
  }
  benchmark::DoNotOptimize(forbidden);
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["cells"] = static_cast<double>(w.calls.size());
}
BENCHMARK(BM_IsForbidden)->ArgName("threat_cells_only")->Arg(0)->Arg(1);

// A Search with everything it holds a reference to.
struct EvalRig {
  HashTables hash;
  Settings settings;
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  std::atomic<int32_t> stop{0};
};

void BM_Evaluate(benchmark::State& state) {
  const int rule = static_cast<int>(state.range(0));
  EvalRig rig;
  std::vector<std::unique_ptr<Position>> positions;
  std::vector<std::unique_ptr<Search>> searches;
  for (int i = 0; i < POSITIONS; ++i) {
    positions.push_back(busy_position(rule, 30 + 2 * i, 200 + i));
    searches.push_back(std::make_unique<Search>(
        *positions.back(), make_search_context(rig.settings, *rig.record, rig.hash, rig.stop, nullptr)));
  }
  size_t i = 0;
  int side = BLACK;
  int64_t sum = 0;
  for (auto _ : state) {
    sum += searches[i]->evaluate(0, side);
    if (++i == searches.size()) {
      i = 0;
      side = opponent(side);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Evaluate)->ArgName("rule")->Arg(FREESTYLE)->Arg(STANDARD)->Arg(RENJU);

}  // namespace
}  // namespace orvel
