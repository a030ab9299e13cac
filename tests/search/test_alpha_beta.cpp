// The node search, its move stages and the root search on positions with
// known answers, and the invariants every search keeps.
#include <gtest/gtest.h>

#include <random>

#include "../renju/position_snapshot.h"
#include "renju/forbidden.h"
#include "search_fixture.h"

namespace orvel {
namespace {

using testing::FullSnapshot;
using testing::SearchFixture;

// BLACK to move makes two open threes at (7,8) at once; WHITE has nothing.
// No chain of fours exists yet, so only a few plies of search see the win.
void double_three(SearchFixture& f) {
  f.picture({"O.............O", "", "", "", "", "", "", "......XX", "........X", "........X", "", "", "",
             "", "O............O"});
  f.play(13, 7, WHITE);  // keep the stone count even: BLACK to move
}

TEST(AlphaBeta, FindsADoubleOpenThreeThatNoChainOfFoursFinds) {
  SearchFixture f(FREESTYLE);
  double_three(f);
  f.search->last_depth = 6;
  EXPECT_EQ(f.search->threat_search(6, BLACK, 0, 0), 0);
  const FullSnapshot before(*f.pos);
  const int32_t v = f.alpha_beta(6, BLACK);
  EXPECT_TRUE(is_win(v)) << v;
  EXPECT_TRUE(FullSnapshot(*f.pos) == before);
  EXPECT_TRUE(f.pos->is_consistent());
}

// Whatever ran on a position before (forbidden tests, chains of fours with
// light trial stones, full searches), its records are those of a fresh build
// of the same stones, so an evaluation never depends on the searches before it.
TEST(AlphaBeta, SearchesLeaveTheRecordsOfAFreshBuild) {
  std::mt19937 rng(4242);
  for (int rule : {FREESTYLE, STANDARD, RENJU})
    for (int game = 0; game < 3; ++game) {
      SearchFixture f(rule);
      const int stones = testing::fill_random(*f.pos, rng, 14 + 4 * game, 9);
      f.record->move_count = stones;
      f.hash.move_count = stones;
      const int side = stones % 2 == 0 ? BLACK : WHITE;
      testing::forbidden_pass(*f.pos);
      f.search->last_depth = 10;
      f.search->threat_search(10, side, 0, 0);
      f.search->threat_search(10, opponent(side), 0, 0);
      f.deepen(side, 4);
      EXPECT_EQ(testing::differs_from_fresh_build(*f.pos), "") << "rule " << rule << " game " << game;
      std::string why;
      EXPECT_TRUE(f.pos->is_consistent(&why)) << why;
    }
}

// A board filled up by blocked cells is a draw, whoever has the move: the
// full-board test counts every occupied cell, not only the game's stones.
TEST(AlphaBeta, ABoardFullOfBlockedCellsIsADraw) {
  SearchFixture f(FREESTYLE, 6, 6);
  f.play(0, 0, BLACK);
  f.play(5, 5, WHITE);
  for (int x = 0; x < 6; ++x)
    for (int y = 0; y < 6; ++y)
      if (f.pos->cells[x][y] == EMPTY && !(x == 2 && y == 3)) f.pos->make_move(x, y, BLOCKED);
  EXPECT_EQ(f.deepen(BLACK, 2), 0);  // the last cell, then a full board
  f.pos->make_move(2, 3, BLOCKED);
  ASSERT_TRUE(f.pos->full());
  EXPECT_EQ(f.deepen(BLACK, 1), 0);
  EXPECT_EQ(f.alpha_beta(2, WHITE), 0);
}

TEST(AlphaBeta, RootPlaysTheWinningMove) {
  SearchFixture f(FREESTYLE);
  double_three(f);
  const int32_t v = f.deepen(BLACK, 7);
  EXPECT_TRUE(is_win(v)) << v;
  // The principal variation starts with the chosen move; play it out
  // against the search to check that it wins.
  const int bx = f.search->best_x, by = f.search->best_y;
  ASSERT_TRUE(f.pos->on_board(bx, by));
  ASSERT_GE(f.search->pv_lines[0][0].key, 1);
  EXPECT_EQ(f.search->pv_lines[0][1].x, bx);
  EXPECT_EQ(f.search->pv_lines[0][1].y, by);
  f.play(bx, by, BLACK);
  f.hash.clear_hash_tables();
  EXPECT_TRUE(is_loss(f.alpha_beta(6, WHITE)));
}

TEST(AlphaBeta, EverySearchLeavesThePositionAsItFoundIt) {
  for (int rule = 0; rule < 3; ++rule) {
    SearchFixture f(rule);
    f.picture({"", "", "", "", "", ".....OX", "......XO", ".....XOX", "....O.XO", ".....X", "......O"});
    f.play(3, 3, BLACK);
    const FullSnapshot before(*f.pos);
    f.alpha_beta(5, WHITE);
    EXPECT_TRUE(FullSnapshot(*f.pos) == before) << "rule " << rule;
    f.deepen(WHITE, 5);
    EXPECT_TRUE(FullSnapshot(*f.pos) == before) << "rule " << rule;
    // Aborted on a stop request: same.
    f.stop = 1;
    f.hash.clear_hash_tables();
    f.alpha_beta(8, WHITE);
    EXPECT_TRUE(f.search->search_aborted);
    EXPECT_TRUE(FullSnapshot(*f.pos) == before) << "rule " << rule;
    std::string why;
    EXPECT_TRUE(f.pos->is_consistent(&why)) << why;
  }
}

TEST(AlphaBeta, LimitsStopTheSearchWithinOneTestInterval) {
  SearchFixture f(FREESTYLE);
  f.picture({"", "", "", "", "", "", "......O", ".......X", "......XO", "", ""});
  f.settings.max_node = 1;  // stop once more than 1,024 nodes were counted
  f.search->node_count = 0;
  f.alpha_beta(12, WHITE);
  EXPECT_TRUE(f.search->search_aborted);
  EXPECT_LE(f.search->node_count, 2048u + 1);

  f.settings.max_node = 2000000000;
  f.search->node_count = 0;
  f.stop = 1;
  f.alpha_beta(12, WHITE);
  EXPECT_TRUE(f.search->search_aborted);
  EXPECT_LE(f.search->node_count, 1024u);

  // max_node -1: neither the nodes nor the clock stop it, only a stop request.
  f.settings.max_node = -1;
  f.stop = 0;
  f.search->move_budget = -100;
  f.search->node_count = 0;
  f.alpha_beta(3, WHITE);
  EXPECT_FALSE(f.search->search_aborted);
  f.stop = 1;
  f.alpha_beta(12, WHITE);
  EXPECT_TRUE(f.search->search_aborted);
}

TEST(AlphaBeta, LeafRuleCountsExtensionInPairsOfPlies) {
  SearchFixture f(FREESTYLE);
  f.picture({"", "", "", "", "", "", "", ".......X", "......O"});
  f.search->last_depth = 0;
  const uint64_t before = f.search->expanded_count;
  const int32_t leaf = f.alpha_beta(0, BLACK, 3);
  EXPECT_EQ(f.search->expanded_count, before);  // extension 3 adds nothing
  f.search->last_depth = 0;
  EXPECT_EQ(leaf, f.search->evaluate(0, BLACK));
  f.alpha_beta(0, BLACK, 4);
  EXPECT_GT(f.search->expanded_count, before);  // extension 4 delays the leaf
}

TEST(AlphaBeta, ImmediateResults) {
  SearchFixture f(FREESTYLE);
  f.picture({"", "", "", "", "", "", "", "...XXXX", "", "..OOO"});
  EXPECT_EQ(f.alpha_beta(4, BLACK), WIN_SCORE + 4);  // a five to make
  // WHITE must block BLACK's five (one move only) and then loses to the other end.
  const int32_t w = f.alpha_beta(4, WHITE);
  EXPECT_TRUE(is_loss(w)) << w;
}

TEST(AlphaBeta, ForcedBlockOnAForbiddenCellIsALoss) {
  SearchFixture f(RENJU);
  // WHITE threatens five at (7,7); for BLACK (7,7) is a double three.
  f.picture({"", "", "", "", "", ".......X", ".......X", "..XOOOO", "........X", ".........X", "",
             "O.............O", "", "O"});
  ASSERT_TRUE(f.pos->five_cells[WHITE - 1].contains(7, 7));
  ASSERT_EQ(is_forbidden(*f.pos, 7, 7), 1);
  if (f.record->move_count % 2 == 1) f.play(14, 14, WHITE);
  const int32_t v = f.alpha_beta(3, BLACK);
  EXPECT_TRUE(is_loss(v)) << v;
  // The root: no move at all, and best_move says so.
  f.deepen(BLACK, 1);
  EXPECT_EQ(f.search->best_x, -1);
}

TEST(AlphaBeta, FullBoardIsADraw) {
  SearchFixture f(FREESTYLE, 4, 4);
  f.picture({"XOXO", "XOXO", "OXOX", "OXOX"});
  EXPECT_EQ(f.record->move_count, 16);
  EXPECT_EQ(f.alpha_beta(2, BLACK), 0);
  EXPECT_EQ(f.deepen(BLACK, 1), 0);
}

TEST(AlphaBeta, AgainstAnOpenThreeOnlyItsAnswersAndOwnFoursAreTried) {
  SearchFixture f(FREESTYLE);
  // WHITE has the open three (7,5)-(7,7); BLACK has scattered stones.
  f.picture({"", "", "", "X", "", "", "", ".....OOO", "", "...X...X", "", "", "X"});
  f.play(12, 12, WHITE);
  f.search->last_depth = 3;
  f.search->node_stamps[0] = 0;
  f.search->alpha_beta(3, -10000000, 10000000, BLACK, 0);
  // The cells listed at the root node: WHITE's open-four cells and the two
  // answers of the three, and nothing else (BLACK has no strong or four cells).
  int listed = 0;
  for (int x = 0; x < 15; ++x)
    for (int y = 0; y < 15; ++y)
      if (f.search->is_listed(0, x, y)) {
        ++listed;
        EXPECT_EQ(x, 7) << y;
        EXPECT_TRUE(y == 3 || y == 4 || y == 8 || y == 9) << y;
      }
  EXPECT_GE(listed, 2);
}

TEST(AlphaBeta, RenjuBlackNeverPlaysAForbiddenCell) {
  // Positions rich in black double threes; every black move of every
  // principal variation must be allowed when it is played.
  SearchFixture f(RENJU);
  f.picture({"", "", "", "", "", "......X.X", ".....X...", "....X..O.", "...O.X...", "......O.O", "....O..X.",
             ".......O"});
  while (f.record->move_count % 2 == 1) f.play(0, f.record->move_count, WHITE);
  for (int depth = 1; depth <= 6; ++depth) {
    f.search->last_depth = depth;
    f.search->search_aborted = false;
    f.search->root_search(BLACK);
    const MoveEntry* line = f.search->pv_lines[0];
    std::vector<MoveEntry> played;
    int side = BLACK;
    for (int i = 1; i <= line[0].key; ++i) {
      const int x = line[i].x, y = line[i].y;
      ASSERT_EQ(f.pos->cells[x][y], EMPTY);
      if (side == BLACK) {
        ASSERT_EQ(is_forbidden(*f.pos, x, y), 0) << "depth " << depth << " ply " << i;
      }
      f.pos->make_move(x, y, side);
      played.push_back(line[i]);
      side = opponent(side);
    }
    for (auto it = played.rbegin(); it != played.rend(); ++it) {
      side = opponent(side);
      f.pos->undo_move(it->x, it->y, side);
    }
  }
}

}  // namespace
}  // namespace orvel
