#include "think/bench.h"

#include <memory>

#include "game/game.h"

namespace orvel {

namespace {

constexpr int DEFAULT_BENCH_DEPTH = 7;

struct BenchPosition {
  const char* name;
  int rule;
  int size;
  const char* moves;  // letter = x ('a' = 0), number = y + 1; black first
};

// Openings and middle games; the side to move follows from the stone count.
constexpr BenchPosition bench_positions[] = {
    {"renju-opening-a", 2, 15, "e9f8h9f9h10"},
    {"renju-opening-b", 2, 15, "j4l7i4m4l8l2m1"},
    {"renju-midgame", 2, 15, "h8i9g9i7i8g8h10h9j8k8h7h6g7f6"},
    {"renju-sharp", 2, 15, "h8h9i8g8i9i10j10k11g7f6j7k7j9j8"},
    {"standard-opening", 1, 15, "f5j3i6j6e1g6e6e5j7"},
    {"standard-midgame", 1, 15, "j4j3l7k5l2m6k4k3l4m4l5l6"},
    {"standard-edge", 1, 15, "a1b2c3b3c2d4a3a2"},
    {"freestyle-opening", 0, 15, "n4j4m4m5i1m3i4k6l6f8"},
    {"freestyle-midgame", 0, 15, "h8i9i8g8j7k6j8j9k8l8h9g10"},
    {"freestyle-sharp", 0, 15, "h8h9i9g7j10k11i8i7j8k8g9"},
    {"freestyle20-opening", 0, 20, "s10p11q14t10q12s14t14r11t13p10"},
    {"freestyle20-midgame", 0, 20, "j10k11k10i10l9m8j11j9k12l13i12h13k9"},
};

}  // namespace

BenchTotals run_bench(int depth, int search_mode) {
  if (depth <= 0) depth = DEFAULT_BENCH_DEPTH;
  BenchTotals totals;
  DiscardReporter out;  // the bench reports through its totals
  for (const BenchPosition& bp : bench_positions) {
    // A fresh game per position: new position, tables and search state.
    auto game = std::make_unique<Game>(out);
    game->settings.max_node = -1;  // a fixed depth: neither the clock nor a node limit
    game->settings.rule = bp.rule;
    // Tables small enough to be written at set-up, so that the timed search
    // pays for no first touch of fresh pages.
    game->hash.tt_buckets = game->hash.cache_buckets = 1 << 13;
    game->set_board(bp.size, bp.size);
    std::vector<std::pair<int, int>> moves;
    parse_move_list(bp.moves, bp.size, &moves);
    for (const auto& [x, y] : moves) game->play(x, y);
    // The stones go on the board as the rebuild of a think places them.
    game->rebuild(bp.rule);
    const GameRecord& record = game->record;
    Search* search = game->search.get();
    game->hash.move_count = record.move_count;
    search->reset_counters();
    search->move_budget = 1 << 30;
    search->search_mode = search_mode;
    const int side = record.side_to_move();
    const int64_t start = Search::now_ms();
    search->think_clock = start;
    int32_t value = 0;
    for (int d = 1; d <= depth; ++d) {
      search->last_depth = d;
      value = search->root_iteration(side);
      if (is_win(value) || is_loss(value)) break;
    }
    const int64_t ms = Search::now_ms() - start;
    totals.lines.push_back({bp.name, value, search->best_x, search->best_y, search->node_count, ms});
    totals.nodes += search->node_count;
    totals.ms += ms;
  }
  return totals;
}

}  // namespace orvel
