// The deep search (search_mode 1): its threat-space search with threes
// proves a double three and every answer to it, proves nothing when the
// defender can answer a three with fours of its own, and leaves the
// position exactly as it found it either way; its root takes a block it
// may not play as the loss it is.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace orvel
