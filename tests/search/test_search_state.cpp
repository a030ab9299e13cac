// The search state: the limit test every search runs each 1,024 nodes, and the resets.
#include <gtest/gtest.h>

#include "search_fixture.h"

namespace orvel::testing {
namespace {

TEST(SearchState, LimitsReached) {
  SearchFixture f(FREESTYLE);
  const int64_t NEVER = 1000000000;
  const struct {
    int32_t max_node, stop;
    uint64_t nodes;
    int64_t elapsed, budget;
    bool want;
  } rows[] = {
      // The node limit counts whole units of 1,024, compared as signed 64-bit numbers.
      {5, 0, 6 * 1024 - 1, 0, NEVER, false}, {5, 0, 6 * 1024, 0, NEVER, true},
      {0, 0, 1023, 0, NEVER, false}, {0, 0, 1024, 0, NEVER, true},
      {2000000000, 0, uint64_t{1} << 62, 0, NEVER, true},
      // The clock stops a search the larger of 30 ms and 5% of the budget
      // before the budget is spent.
      {2000000000, 0, 0, 1000, 1100, false}, {2000000000, 0, 0, 1000, 1025, true},
      {2000000000, 0, 0, 0, 30, true},
      {2000000000, 0, 0, 530, 600, false}, {2000000000, 0, 0, 570, 600, true},
      {2000000000, 0, 0, 900, 1000, false}, {2000000000, 0, 0, 950, 1000, true},
      {2000000000, 0, 0, 28400, 30000, false}, {2000000000, 0, 0, 28500, 30000, true},
      // A stop request ends any search; max_node -1 turns off the node and the time limit.
      {2000000000, 1, 0, 0, NEVER, true},
      {-1, 0, uint64_t{1} << 40, 100000, 10, false},
      {-1, -1, uint64_t{1} << 40, 100000, 10, false},
      {-1, 1, 0, 0, NEVER, true},
  };
  for (const auto& r : rows) {
    f.settings.max_node = r.max_node;
    f.stop = r.stop;
    f.search->node_count = r.nodes;
    f.search->move_budget = r.budget;
    f.search->think_clock = Search::now_ms() - r.elapsed;
    EXPECT_EQ(f.search->limits_reached(), r.want)
        << "max_node " << r.max_node << " stop " << r.stop << " nodes " << r.nodes << " elapsed " << r.elapsed
        << " budget " << r.budget;
  }
}

TEST(SearchState, CutoffMarginIsTheLargerOf30MsAnd5PercentOfTheBudget) {
  const int64_t cases[][2] = {{0, 30}, {100, 30}, {600, 30}, {619, 30}, {620, 31},
                              {1000, 50}, {5000, 250}, {30000, 1500}, {int64_t{1} << 30, (int64_t{1} << 30) / 20}};
  for (const auto& c : cases) EXPECT_EQ(Search::cutoff_margin_ms(c[0]), c[1]) << "budget " << c[0];
}

// A rebuild forgets the old game's stamps, marks and results; a think's counters are separate.
TEST(SearchState, ResetsClearTheirOwnFields) {
  SearchFixture f(FREESTYLE);
  Search& s = *f.search;
  s.eval_counter = s.cell_stamps[3][4] = s.node_stamps[PLY_SLOTS - 1] = s.cell_marks[PLY_SLOTS - 1][23][23] = 5;
  s.last_value = s.last_depth = 9;
  s.search_aborted = true;
  s.node_count = s.expanded_count = s.threat_node_count = 4;
  s.min_remaining_depth = -4;
  s.branch_total = 5.5;
  s.reset_game_state();
  EXPECT_EQ(s.eval_counter + s.cell_stamps[3][4] + s.node_stamps[PLY_SLOTS - 1], 0u);
  EXPECT_EQ(s.cell_marks[PLY_SLOTS - 1][23][23], 0u);
  EXPECT_EQ(s.last_value + s.last_depth + s.search_aborted, 0);
  EXPECT_EQ(s.node_count, 4u);
  s.reset_counters();
  EXPECT_EQ(s.node_count + s.expanded_count + s.threat_node_count, 0u);
  EXPECT_EQ(s.min_remaining_depth + s.branch_total, 0.0);
}

}  // namespace
}  // namespace orvel::testing
