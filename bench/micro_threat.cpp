// Threat search: the time to run it over the puzzle file (the positions of
// tests/data/vcf.jsonl, each from an empty threat cache, as a fresh think
// would see it) and the threat-search nodes per second that takes.
//
// Counters: "nodes/s" (threat-search nodes per second of timed search),
// "nodes" (per pass), "solved" and "positions" (per pass). The time per
// iteration is the time to solve the selected puzzles once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/position.h"
#include "game/game_record.h"
#include "game/search_inputs.h"
#include "game/settings.h"
#include "search/hash.h"
#include "search/search.h"

namespace orvel {
namespace {

// The repository root, from this file's own path (bench/micro_threat.cpp).
std::string repo_root() {
  const std::string self = __FILE__;
  const size_t at = self.rfind("bench/micro_threat.cpp");
  return at == std::string::npos ? std::string("./") : self.substr(0, at);
}

struct PuzzlePosition {
  std::unique_ptr<Position> pos;
  int side;
  bool vcf_win;
};

// The few fields of one puzzle line that the benchmark needs.
std::string field(const std::string& s, const std::string& name) {
  const std::string tag = "\"" + name + "\":";
  const size_t at = s.find(tag);
  if (at == std::string::npos) return "";
  size_t i = at + tag.size();
  const size_t start = i;
  int depth = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '[') ++depth;
    if (c == ']' && --depth < 0) break;
    if (c == ',' && depth == 0) break;
  }
  return s.substr(start, i - start);
}

std::vector<int> numbers(const std::string& s) {
  std::vector<int> out;
  int cur = -1;
  for (char c : s) {
    if (c >= '0' && c <= '9') {
      cur = (cur < 0 ? 0 : cur * 10) + (c - '0');
    } else if (cur >= 0) {
      out.push_back(cur);
      cur = -1;
    }
  }
  if (cur >= 0) out.push_back(cur);
  return out;
}

// Every puzzle, built once. Empty when the file cannot be read.
const std::vector<PuzzlePosition>& puzzle_positions() {
  static std::vector<PuzzlePosition> all = [] {
    std::vector<PuzzlePosition> out;
    std::ifstream in(repo_root() + "tests/data/vcf.jsonl");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty()) continue;
      const int size = std::stoi(field(line, "size"));
      PuzzlePosition p;
      p.pos = std::make_unique<Position>();
      p.pos->configure(size, size, std::stoi(field(line, "rule_id")));
      const std::vector<int> moves = numbers(field(line, "moves"));
      for (size_t i = 0; i + 1 < moves.size(); i += 2)
        p.pos->make_move(moves[i], moves[i + 1], (i / 2) % 2 == 0 ? BLACK : WHITE);
      p.side = std::stoi(field(line, "to_move"));
      p.vcf_win = field(line, "kind") == "\"vcf-win\"";
      out.push_back(std::move(p));
    }
    return out;
  }();
  return all;
}

// A search outside any think, on a position the benchmark copies puzzles
// into. Small tables: each puzzle starts from a cleared cache.
struct Rig {
  Position pos;
  HashTables hash;
  Settings settings;
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  std::atomic<int32_t> stop{0};
  std::unique_ptr<Search> search;

  Rig() {
    hash.tt_buckets = 1 << 12;
    hash.cache_buckets = 1 << 12;
    hash.resize_hash_tables();
    hash.clear_hash_tables();
    search = std::make_unique<Search>(pos, make_search_context(settings, *record, hash, stop, nullptr));
  }
};

enum Selection { ALL = 0, WINS = 1, NO_VCF = 2 };

void BM_ThreatPuzzles(benchmark::State& state) {
  const std::vector<PuzzlePosition>& all = puzzle_positions();
  if (all.empty()) {
    state.SkipWithError("tests/data/vcf.jsonl not found");
    return;
  }
  const auto selection = static_cast<Selection>(state.range(0));
  auto rig = std::make_unique<Rig>();
  Search& search = *rig->search;
  uint64_t nodes = 0;
  int solved = 0, positions = 0;
  for (auto _ : state) {
    solved = positions = 0;
    for (const PuzzlePosition& p : all) {
      if ((selection == WINS && !p.vcf_win) || (selection == NO_VCF && p.vcf_win)) continue;
      state.PauseTiming();
      rig->pos = *p.pos;
      rig->hash.clear_hash_tables();
      search.last_depth = 10;
      search.think_clock = Search::now_ms();
      search.move_budget = 1000000000;
      search.search_aborted = false;
      const uint64_t before = search.threat_node_count;
      state.ResumeTiming();
      const int32_t v = search.threat_search(10, p.side, 0, 0);
      benchmark::DoNotOptimize(v);
      nodes += search.threat_node_count - before;
      solved += v > 0;
      ++positions;
    }
  }
  state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
  state.counters["nodes"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kAvgIterations);
  state.counters["solved"] = solved;
  state.counters["positions"] = positions;
}
BENCHMARK(BM_ThreatPuzzles)->Arg(ALL)->Arg(WINS)->Arg(NO_VCF)->Unit(benchmark::kMillisecond);

// One designed chain of three fours ending in a double four (the position
// of the threat-search tests), searched from a cleared cache each time.
void BM_ThreatChainOfThree(benchmark::State& state) {
  auto rig = std::make_unique<Rig>();
  rig->pos.configure(20, 20, FREESTYLE);
  const char* rows[] = {
      "....................", ".....O..............", ".OXXX...............", ".......X............",
      "........X...........", "..........O.........", "....................", "...........O........",
      "..........X.........", "..........X.........", "...........XXXO.....", "..........O.........",
  };
  for (int x = 0; x < 12; ++x)
    for (int y = 0; rows[x][y]; ++y) {
      if (rows[x][y] == 'X') rig->pos.make_move(x, y, BLACK);
      if (rows[x][y] == 'O') rig->pos.make_move(x, y, WHITE);
    }
  Search& search = *rig->search;
  search.last_depth = 10;
  search.think_clock = Search::now_ms();
  search.move_budget = 1000000000;
  uint64_t nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    rig->hash.clear_hash_tables();
    const uint64_t before = search.threat_node_count;
    state.ResumeTiming();
    benchmark::DoNotOptimize(search.threat_search(10, BLACK, 0, 0));
    nodes += search.threat_node_count - before;
  }
  state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThreatChainOfThree);

}  // namespace
}  // namespace orvel
