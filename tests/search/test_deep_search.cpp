// The deep search (search_mode 1): its threat-space search with threes
// proves a double three and every answer to it, proves nothing when the
// defender can answer a three with fours of its own, and leaves the
// position exactly as it found it either way; its root takes a block it
// may not play as the loss it is, and a think stopped by a node limit plays
// a move it checked against the opponent's threats.
#include <gtest/gtest.h>

#include "search/deep_params.h"
#include "search_fixture.h"

namespace orvel {
namespace {

using testing::FullSnapshot;
using testing::SearchFixture;

constexpr uint64_t BUDGET = 200000;
constexpr int MOVES = 6;

// BLACK to move can make two open threes at once at (7,6).
void double_three(SearchFixture& f) {
  f.picture({"O.O", "", "", "", "", "", "", ".......XX", "......X", "......X", "", "", "", "", "O.O"});
  f.search->last_depth = 1;
}

TEST(DeepSearch, ThreatsWithThreesProveADoubleThreeAndEveryAnswerToIt) {
  SearchFixture f(FREESTYLE);
  double_three(f);
  const FullSnapshot before(*f.pos);
  ASSERT_GT(f.search->vct(BLACK, 0, BUDGET, MOVES), 0);
  EXPECT_TRUE(FullSnapshot(*f.pos) == before);
  EXPECT_EQ(testing::differs_from_fresh_build(*f.pos), "");

  // The proof holds one move deeper: whatever WHITE answers, BLACK still
  // wins by threats (or has a five or an open four to make).
  const int x = f.search->deep->vct_x, y = f.search->deep->vct_y;
  ASSERT_TRUE(f.pos->on_board(x, y) && f.pos->cells[x][y] == EMPTY);
  f.pos->make_move(x, y, BLACK);
  for (int ax = 0; ax < 15; ++ax)
    for (int ay = 0; ay < 15; ++ay) {
      if (f.pos->cells[ax][ay] != EMPTY) continue;
      f.pos->make_move(ax, ay, WHITE);
      const bool won = !f.pos->five_cells[BLACK - 1].empty() || !f.pos->open_four_cells[BLACK - 1].empty() ||
                       f.search->vct(BLACK, 0, BUDGET, MOVES - 1) > 0;
      EXPECT_TRUE(won) << "WHITE " << ax << "," << ay << " refutes " << x << "," << y;
      f.pos->undo_move(ax, ay, WHITE);
    }
  f.pos->undo_move(x, y, BLACK);
  EXPECT_TRUE(FullSnapshot(*f.pos) == before);
}

TEST(DeepSearch, AThreeIsNoThreatWhenTheDefenderWinsByFours) {
  SearchFixture f(FREESTYLE);
  double_three(f);
  // WHITE's open three: any three of BLACK's is met by WHITE's open four.
  f.play(3, 2, WHITE);
  f.play(3, 3, WHITE);
  f.play(3, 4, WHITE);
  const FullSnapshot before(*f.pos);
  EXPECT_EQ(f.search->vct(BLACK, 0, BUDGET, MOVES), 0);
  EXPECT_GT(f.search->vct(WHITE, 0, BUDGET, MOVES), 0);
  EXPECT_TRUE(FullSnapshot(*f.pos) == before);
  EXPECT_TRUE(f.pos->is_consistent());
}

// Under Renju BLACK must block WHITE's four on a point forbidden to it:
// the game is lost, and the search says so without a move rather than
// playing the forbidden point (or anything else).
TEST(DeepSearch, ABlockOnAForbiddenPointLeavesNoMove) {
  SearchFixture f(RENJU);
  for (int i : {4, 5, 6, 8}) f.play(i, i, WHITE);
  f.play(7, 5, BLACK);
  f.play(7, 6, BLACK);
  f.play(5, 7, BLACK);
  f.play(6, 7, BLACK);
  ASSERT_FALSE(f.pos->five_cells[WHITE - 1].empty());
  f.search->search_mode = 1;
  const FullSnapshot before(*f.pos);
  const int32_t v = f.deepen(BLACK, 4);
  EXPECT_TRUE(is_loss(v)) << v;
  EXPECT_EQ(f.search->best_x, -1);
  EXPECT_TRUE(FullSnapshot(*f.pos) == before);
}

// A Renju position from a lost game: BLACK to move, and after all but four
// of its moves WHITE wins by threes. A think stopped by a node limit plays
// the move its last iteration leads with, so that move must have been
// checked too: under these limits an unchecked new leader was a loss.
TEST(DeepSearch, AThinkStoppedByNodesNeverPlaysAMoveTheOpponentWinsAfterByThrees) {
  const int stones[][2] = {
      {6, 13}, {11, 14}, {7, 13}, {8, 9},  {9, 10},  {9, 12}, {11, 11}, {10, 9}, {10, 13}, {9, 9},  {11, 9},
      {11, 10}, {10, 11}, {9, 11}, {8, 7}, {10, 8},  {10, 12}, {9, 13}, {11, 7}, {9, 8},  {5, 13}, {4, 13},
      {10, 7}, {9, 7},  {9, 6},  {7, 11}, {7, 9},  {8, 8},  {10, 14}, {10, 10}, {7, 8}, {6, 9},  {6, 11},
      {5, 8},  {8, 11}, {6, 6},  {7, 7},  {7, 6},  {4, 9},  {5, 10}, {11, 8}, {8, 5},  {10, 5}, {11, 4},
      {9, 4},  {11, 5}, {13, 10}, {12, 9}, {12, 11}, {11, 12}, {8, 3}, {11, 6}, {13, 9}, {13, 11}, {5, 7},
      {4, 7},  {3, 6},  {6, 10}, {14, 8}, {12, 10}, {7, 2},  {6, 1}};
  for (const int32_t limit : {240, 420}) {
    SearchFixture f(RENJU);
    int side = BLACK;
    for (const auto& s : stones) {
      f.play(s[0], s[1], side);
      side = opponent(side);
    }
    f.settings.max_node = limit;
    f.search->search_mode = 1;
    f.deepen(BLACK, 60);
    const int x = f.search->best_x, y = f.search->best_y;
    ASSERT_TRUE(f.pos->on_board(x, y) && f.pos->cells[x][y] == EMPTY) << limit;
    f.play(x, y, BLACK);
    f.settings.max_node = -1;
    f.search->search_aborted = false;
    EXPECT_EQ(f.search->vct(WHITE, 0, deep::VCT_DEFENCE_BUDGET, deep::VCT_ROOT_MOVES), 0)
        << "node limit " << limit << ": WHITE wins by threes after " << x << "," << y;
  }
}

}  // namespace
}  // namespace orvel
