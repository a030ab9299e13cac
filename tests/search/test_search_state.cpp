// The search state's housekeeping: per-ply storage, the resets, the clock
// and the 1,024-node limit test.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "board/position.h"
#include "protocol/game_record.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "search/hash.h"
#include "search/search.h"

namespace orvel {
namespace {

struct StateRig {
  HashTables hash;
  Settings settings;
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  std::atomic<int32_t> stop{0};
  CaptureOutput out;
  std::unique_ptr<Position> pos = std::make_unique<Position>();
  std::unique_ptr<Search> search;

  StateRig() {
    pos->configure(15, 15, FREESTYLE);
    search = std::make_unique<Search>(*pos, hash, settings, *record, stop, out);
  }
};

TEST(SearchState, PerPlyStorageStartsZeroed) {
  StateRig r;
  Search& s = *r.search;
  for (int slot : {0, 1, PLY_SLOTS / 2, PLY_SLOTS - 1}) {
    EXPECT_EQ(s.node_stamps[slot], 0u);
    EXPECT_EQ(s.cell_marks[slot][0][0], 0u);
    EXPECT_EQ(s.cell_marks[slot][MAX_SIZE - 1][MAX_SIZE - 1], 0u);
    EXPECT_EQ(s.move_lists[slot][MAX_CELLS - 1].key, 0);
    EXPECT_EQ(s.pv_lines[slot][0].key, 0);
    EXPECT_EQ(s.pv_lines[slot][LINE_LENGTH - 1].x, 0);
  }
  EXPECT_EQ(s.eval_counter, 0u);
}

TEST(SearchState, ResetGameStateClearsStampsMarksAndResults) {
  StateRig r;
  Search& s = *r.search;
  s.eval_counter = 77;
  s.cell_stamps[3][4] = 9;
  s.node_stamps[PLY_SLOTS - 1] = 5;
  s.cell_marks[PLY_SLOTS - 1][23][23] = 5;
  s.cell_marks[0][0][1] = 4;
  s.last_value = 123;
  s.last_depth = 9;
  s.search_aborted = true;
  s.node_count = 4242;  // a per-think counter: not touched here
  s.reset_game_state();
  EXPECT_EQ(s.eval_counter, 0u);
  EXPECT_EQ(s.cell_stamps[3][4], 0u);
  EXPECT_EQ(s.node_stamps[PLY_SLOTS - 1], 0u);
  EXPECT_EQ(s.cell_marks[PLY_SLOTS - 1][23][23], 0u);
  EXPECT_EQ(s.cell_marks[0][0][1], 0u);
  EXPECT_EQ(s.last_value, 0);
  EXPECT_EQ(s.last_depth, 0);
  EXPECT_FALSE(s.search_aborted);
  EXPECT_EQ(s.node_count, 4242u);
}

TEST(SearchState, ResetCountersClearsThePerThinkCounters) {
  StateRig r;
  Search& s = *r.search;
  s.node_count = 1;
  s.expanded_count = 2;
  s.threat_node_count = 3;
  s.min_remaining_depth = -4;
  s.branch_total = 5.5;
  s.last_depth = 6;
  s.reset_counters();
  EXPECT_EQ(s.node_count, 0u);
  EXPECT_EQ(s.expanded_count, 0u);
  EXPECT_EQ(s.threat_node_count, 0u);
  EXPECT_EQ(s.min_remaining_depth, 0);
  EXPECT_EQ(s.branch_total, 0.0);
  EXPECT_EQ(s.last_depth, 6);
}

TEST(SearchState, ClockCountsUpFromProcessStart) {
  const int64_t a = Search::now_ms();
  const int64_t b = Search::now_ms();
  EXPECT_GE(a, 0);
  EXPECT_GE(b, a);
}

TEST(SearchState, NodeLimitInUnitsOf1024) {
  StateRig r;
  Search& s = *r.search;
  s.think_clock = Search::now_ms();
  s.move_budget = 1000000000;
  r.settings.max_node = 5;
  s.node_count = 5 * 1024;
  EXPECT_FALSE(s.limits_reached());
  s.node_count = 6 * 1024 - 1;
  EXPECT_FALSE(s.limits_reached()) << "5 full units is not more than 5";
  s.node_count = 6 * 1024;
  EXPECT_TRUE(s.limits_reached());
  r.settings.max_node = 0;
  s.node_count = 1023;
  EXPECT_FALSE(s.limits_reached());
  s.node_count = 1024;
  EXPECT_TRUE(s.limits_reached());
  // Compared as signed 64-bit numbers: a huge count is still above a limit.
  r.settings.max_node = 2000000000;
  s.node_count = uint64_t{1} << 62;
  EXPECT_TRUE(s.limits_reached());
}

TEST(SearchState, TimeBudgetWithThirtyMillisecondMargin) {
  StateRig r;
  Search& s = *r.search;
  r.settings.max_node = 2000000000;
  s.node_count = 0;
  s.think_clock = Search::now_ms();
  s.move_budget = 1000000000;
  EXPECT_FALSE(s.limits_reached());
  // Elapsed time is never negative, so a budget of 30 ms is always spent.
  s.move_budget = 30;
  EXPECT_TRUE(s.limits_reached());
  s.think_clock = Search::now_ms() - 100000;
  s.move_budget = 50000;
  EXPECT_TRUE(s.limits_reached());
}

TEST(SearchState, StopRequestAndUnlimitedMode) {
  StateRig r;
  Search& s = *r.search;
  s.think_clock = Search::now_ms() - 100000;
  s.move_budget = 10;
  s.node_count = uint64_t{1} << 40;
  // max_node -1 turns off both the node and the time limit.
  r.settings.max_node = -1;
  EXPECT_FALSE(s.limits_reached());
  r.stop = -1;  // not a stop
  EXPECT_FALSE(s.limits_reached());
  r.stop = 1;
  EXPECT_TRUE(s.limits_reached());
  // A stop request ends a limited search too, whatever the counts.
  r.settings.max_node = 2000000000;
  s.node_count = 0;
  s.think_clock = Search::now_ms();
  s.move_budget = 1000000000;
  EXPECT_TRUE(s.limits_reached());
  r.stop = 0;
  EXPECT_FALSE(s.limits_reached());
}

}  // namespace
}  // namespace orvel
