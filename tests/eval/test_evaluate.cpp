// The static evaluation: hand-built positions for each of its terms, the
// 33-cell neighbourhood checked cell by cell, and a cross-check against a
// plain re-implementation that scans the board and the direction codes
// instead of the cell sets and row masks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "../renju/position_snapshot.h"
#include "board/position.h"
#include "protocol/game_record.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "renju/forbidden.h"
#include "search/hash.h"
#include "search/search.h"

namespace orvel {
namespace {

using testing::PatternRecordSnapshot;
using Cells = std::vector<std::pair<int, int>>;

// Everything a Search needs around it.
struct Harness {
  HashTables hash;
  Settings settings;
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  std::atomic<int32_t> stop{0};
  CaptureOutput out;
  std::unique_ptr<Position> pos = std::make_unique<Position>();
  std::unique_ptr<Search> search;

  explicit Harness(int rule, int width = 15, int height = 15) {
    pos->configure(width, height, rule);
    search = std::make_unique<Search>(*pos, hash, settings, *record, stop, out);
  }
  void put(const Cells& cells, int v) {
    for (auto [x, y] : cells) pos->make_move(x, y, v);
  }
  int32_t eval(int side) { return search->evaluate(0, side); }
};

// ---------------------------------------------------------------------------
// A plain re-implementation, reading only cells and direction codes.

bool has_code(const Position& pos, int x, int y, int s, int lo, int hi) {
  for (int d = 0; d < 4; ++d) {
    const int c = pos.dir_patterns[d][x][y].code[s];
    if (c >= lo && c <= hi) return true;
  }
  return false;
}
bool is_four_cell(const Position& p, int x, int y, int s) { return has_code(p, x, y, s, PAT_FOUR, PAT_FOUR_PLUS); }
bool is_three_cell(const Position& p, int x, int y, int s) { return has_code(p, x, y, s, PAT_THREE_SPLIT, PAT_THREE); }
bool is_hot_cell(const Position& p, int x, int y, int s) { return has_code(p, x, y, s, PAT_OPEN_FOUR, PAT_FIVE); }

// The 33 cells: the 5 by 5 square and the points three steps away on the
// four lines through the centre.
bool in_neighbourhood(int dx, int dy) {
  const int ax = std::abs(dx), ay = std::abs(dy);
  if (ax <= 2 && ay <= 2) return true;
  if (ax > 3 || ay > 3) return false;
  return ax == 0 || ay == 0 || ax == ay;
}

using Mask = std::vector<std::vector<bool>>;
Mask empty_mask() { return Mask(MAX_SIZE, std::vector<bool>(MAX_SIZE, false)); }

int plain_count(const Position& pos, int x, int y, int s, const Mask& mask) {
  int n = 0;
  for (int dx = -3; dx <= 3; ++dx)
    for (int dy = -3; dy <= 3; ++dy) {
      const int cx = x + dx, cy = y + dy;
      if (!in_neighbourhood(dx, dy) || !pos.on_board(cx, cy)) continue;
      if (is_hot_cell(pos, cx, cy, s) && !mask[cx][cy]) ++n;
    }
  return n;
}

Cells threat_list(const Position& pos, int s) {
  Cells out;
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      if (is_four_cell(pos, x, y, s)) out.emplace_back(x, y);
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      if (is_three_cell(pos, x, y, s)) out.emplace_back(x, y);
  return out;
}

int direction_spread(const Position& pos, int s) {
  int dirs = 0;
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      for (int d = 0; d < 4; ++d) {
        const int c = pos.dir_patterns[d][x][y].code[s];
        if (c == PAT_FIVE || c == PAT_OPEN_FOUR) dirs |= 1 << d;
      }
  return __builtin_popcount(dirs);
}

// How often the Renju branches of the plain evaluation fired, so the
// cross-check can tell that it reached them.
struct RenjuBranchCounts {
  int own_forbidden = 0;    // a side-to-move threat cell forbidden to BLACK
  int their_forbidden = 0;  // an opponent threat cell forbidden to BLACK
  int all_forbidden = 0;    // WHITE to move and every BLACK threat cell forbidden
} branch_counts;

// `renju_terms` false leaves out every forbidden-point term, so the
// difference to the real evaluation isolates them. Forbidden points are
// judged on a copy, so the caller's position is not touched.
int32_t plain_evaluate(const Position& original, int side, bool renju_terms = true) {
  auto copy = std::make_unique<Position>(original);
  const Position& pos = original;
  auto forbidden = [&](int x, int y) { return is_forbidden(*copy, x, y) != 0; };
  const int s = side - 1, o = 2 - side;
  const bool renju = pos.rule == RENJU && renju_terms;
  int32_t v = pos.side_total[s] - pos.side_total[o];

  const Cells mine = threat_list(pos, s);
  bool opp_quiet = true;
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      if (has_code(pos, x, y, o, PAT_FOUR, PAT_FIVE)) opp_quiet = false;
  if (pos.rule == FREESTYLE && opp_quiet)
    for (auto [x, y] : mine)
      if (is_four_cell(pos, x, y, s) && is_three_cell(pos, x, y, s)) return FOUR_THREE_SCORE;

  Mask mask = empty_mask();
  if (renju && side == BLACK)
    for (auto [x, y] : mine) branch_counts.own_forbidden += (mask[x][y] = forbidden(x, y));
  for (auto [x, y] : mine) {
    if (mask[x][y]) continue;
    const int k = plain_count(pos, x, y, s, mask) - (is_four_cell(pos, x, y, s) ? 1 : 2);
    v += pos.cell_records[x][y].weight[s] * k * 20 / 32;
    if (renju && side == WHITE && forbidden(x, y)) {
      v += pos.cell_records[x][y].score[0] < 158 ? 200 : 120;
      ++branch_counts.own_forbidden;
    }
  }

  const Cells theirs = threat_list(pos, o);
  if (!theirs.empty()) v += 100;
  mask = empty_mask();
  if (renju && side == WHITE) {
    bool all = true;
    for (auto [x, y] : theirs) {
      mask[x][y] = forbidden(x, y);
      all = all && mask[x][y];
    }
    if (all && !theirs.empty()) {
      v -= 100;
      ++branch_counts.all_forbidden;
    }
  }
  for (auto [x, y] : theirs) {
    if (mask[x][y]) continue;
    const int k = (is_four_cell(pos, x, y, o) ? 1 : 2) - plain_count(pos, x, y, o, mask);
    v += pos.cell_records[x][y].weight[o] * k * 20 / 32;
    if (renju && side == BLACK && forbidden(x, y)) {
      v -= pos.cell_records[x][y].score[0] < 158 ? 200 : 120;
      ++branch_counts.their_forbidden;
    }
    if (renju && side == WHITE && mask[x][y]) ++branch_counts.their_forbidden;
  }

  bool found = false;
  for (int want : {PAT_FIVE, PAT_OPEN_FOUR}) {
    for (int x = 0; x < pos.board_height && !found; ++x)
      for (int y = 0; y < pos.board_width && !found; ++y)
        if (has_code(pos, x, y, o, want, want)) {
          v += pos.cell_records[x][y].weight[o] * 50 / 32;
          found = true;
        }
  }
  if (direction_spread(pos, o) > 1) v -= 200;
  if (direction_spread(pos, s) > 1) v += 200;
  return v + 60;
}

// ---------------------------------------------------------------------------
// The empty board.

TEST(Evaluate, EmptyBoardIsTheDifferenceOfTotalsPlusTempo) {
  for (int rule : {FREESTYLE, STANDARD, RENJU})
    for (auto [w, h] : {std::pair{15, 15}, std::pair{20, 20}, std::pair{15, 10}}) {
      Harness t(rule, w, h);
      for (int side : {BLACK, WHITE}) {
        const int32_t expected = t.pos->side_total[side - 1] - t.pos->side_total[2 - side] + 60;
        EXPECT_EQ(t.eval(side), expected) << "rule " << rule << " " << w << "x" << h;
      }
    }
  Harness t(FREESTYLE);
  EXPECT_EQ(t.pos->side_total[0], 194);
  EXPECT_EQ(t.eval(BLACK), 60);
}

TEST(Evaluate, CounterRisesByOnePerCall) {
  Harness t(RENJU);
  t.put({{7, 7}, {7, 8}}, BLACK);
  t.put({{8, 8}}, WHITE);
  const uint64_t before = t.search->eval_counter;
  t.eval(BLACK);
  t.eval(WHITE);
  t.eval(BLACK);
  EXPECT_EQ(t.search->eval_counter, before + 3);
  t.search->reset_game_state();
  EXPECT_EQ(t.search->eval_counter, 0u);
  EXPECT_EQ(t.search->cell_stamps[7][6], 0u);
}

// ---------------------------------------------------------------------------
// The free-style four-three.

// BLACK: a closed four along row 7 needing (7,7), and an open three along
// column 7 through (7,7); WHITE has only scattered stones.
void four_three(Harness& t) {
  t.put({{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, BLACK);
  t.put({{7, 3}, {2, 12}, {12, 2}, {12, 12}}, WHITE);
}

TEST(Evaluate, FreeStyleFourThreeShortcut) {
  Harness t(FREESTYLE);
  four_three(t);
  ASSERT_TRUE(t.pos->four_cells[0].contains(7, 7));
  ASSERT_TRUE(t.pos->three_cells[0].contains(7, 7));
  EXPECT_EQ(t.eval(BLACK), FOUR_THREE_SCORE);
  // The shortcut belongs to the side to move only.
  EXPECT_LT(t.eval(WHITE), 0);
  EXPECT_EQ(t.eval(WHITE), plain_evaluate(*t.pos, WHITE));
}

TEST(Evaluate, FourThreeShortcutWorksForWhiteToo) {
  Harness t(FREESTYLE);
  t.put({{7, 3}, {2, 12}, {12, 2}, {12, 12}}, BLACK);
  t.put({{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, WHITE);
  EXPECT_EQ(t.eval(WHITE), FOUR_THREE_SCORE);
}

TEST(Evaluate, FourThreeShortcutOnlyUnderFreeStyle) {
  for (int rule : {STANDARD, RENJU}) {
    Harness t(rule);
    four_three(t);
    ASSERT_TRUE(t.pos->four_cells[0].contains(7, 7));
    ASSERT_TRUE(t.pos->three_cells[0].contains(7, 7));
    const int32_t v = t.eval(BLACK);
    EXPECT_NE(v, FOUR_THREE_SCORE) << "rule " << rule;
    EXPECT_LT(v, WIN_RANGE);
    EXPECT_EQ(v, plain_evaluate(*t.pos, BLACK)) << "rule " << rule;
  }
}

TEST(Evaluate, FourThreeShortcutNotTakenAgainstAFour) {
  Harness t(FREESTYLE);
  four_three(t);
  // WHITE gets a closed four: (2,5) completes O O O O.
  t.put({{2, 1}}, BLACK);
  t.put({{2, 2}, {2, 3}, {2, 4}}, WHITE);
  ASSERT_TRUE(t.pos->four_cells[1].contains(2, 5));
  ASSERT_TRUE(t.pos->five_cells[1].empty());
  ASSERT_TRUE(t.pos->open_four_cells[1].empty());
  const int32_t v = t.eval(BLACK);
  EXPECT_NE(v, FOUR_THREE_SCORE);
  EXPECT_EQ(v, plain_evaluate(*t.pos, BLACK));
}

TEST(Evaluate, FourThreeShortcutStillTakenAgainstAThree) {
  Harness t(FREESTYLE);
  four_three(t);
  t.put({{2, 2}, {2, 3}}, WHITE);  // an open two: WHITE's three cells only
  ASSERT_FALSE(t.pos->three_cells[1].empty());
  ASSERT_TRUE(t.pos->four_cells[1].empty());
  EXPECT_EQ(t.eval(BLACK), FOUR_THREE_SCORE);
}

TEST(Evaluate, CellsMetTwiceInOneCallOnlyCountWithinThatCall) {
  // A four cell and a different three cell are not a four-three, however
  // often the evaluation runs: the stamps of one call never match the next.
  Harness t(FREESTYLE);
  t.put({{7, 4}, {7, 5}, {7, 6}}, BLACK);  // with (7,3) taken, (7,7) is a closed four cell
  t.put({{7, 3}}, WHITE);
  t.put({{11, 9}, {11, 10}}, BLACK);  // three cells along row 11
  t.put({{2, 12}, {12, 2}}, WHITE);
  ASSERT_FALSE(t.pos->three_cells[0].contains(7, 7));
  for (int i = 0; i < 3; ++i) {
    const int32_t v = t.eval(BLACK);
    EXPECT_NE(v, FOUR_THREE_SCORE);
    EXPECT_EQ(v, plain_evaluate(*t.pos, BLACK));
  }
}

// ---------------------------------------------------------------------------
// The Renju terms.

// WHITE's open three along an anti-diagonal through `point`: stones at one
// and two steps toward larger x (direction 2 steps by (-1, +1)).
void white_three_through(Harness& t, int x, int y) { t.put({{x + 1, y - 1}, {x + 2, y - 2}}, WHITE); }

TEST(Evaluate, RenjuBlackToMoveIgnoresItsForbiddenThreatsAndPaysForWhiteThreatsThere) {
  // (4,11) is a double three of BLACK (forbidden, cell score >= 158) and a
  // three cell of WHITE.
  Harness t(RENJU);
  t.put({{4, 9}, {4, 10}, {2, 11}, {3, 11}}, BLACK);
  white_three_through(t, 4, 11);
  ASSERT_EQ(is_forbidden(*t.pos, 4, 11), 1);
  ASSERT_TRUE(t.pos->three_cells[0].contains(4, 11));
  ASSERT_TRUE(t.pos->three_cells[1].contains(4, 11));
  ASSERT_GE(t.pos->score(4, 11, BLACK), 158);
  testing::settle(*t.pos);

  const int32_t plain = plain_evaluate(*t.pos, BLACK, false);
  const int32_t v = t.eval(BLACK);
  EXPECT_EQ(v, plain_evaluate(*t.pos, BLACK));
  // BLACK's own term at (4,11) (no fives or open fours around: k = -2) is
  // dropped, and WHITE's three there costs 120.
  const int own = t.pos->weight(4, 11, BLACK) * -2 * 20 / 32;
  ASSERT_NE(own, 0);
  EXPECT_EQ(v - plain, -own - 120);
}

TEST(Evaluate, RenjuWhiteToMoveGainsOnPointsBlackMayNotPlay) {
  Harness t(RENJU);
  t.put({{4, 9}, {4, 10}, {2, 11}, {3, 11}}, BLACK);
  white_three_through(t, 4, 11);
  testing::settle(*t.pos);

  const int32_t plain = plain_evaluate(*t.pos, WHITE, false);
  const int32_t v = t.eval(WHITE);
  EXPECT_EQ(v, plain_evaluate(*t.pos, WHITE));
  // WHITE's three at (4,11) is forbidden to BLACK: +120; BLACK's threat
  // there is masked: its term 2 * weight * 20 / 32 is dropped.
  const int theirs = t.pos->weight(4, 11, BLACK) * 2 * 20 / 32;
  EXPECT_EQ(v - plain, 120 - theirs);
}

TEST(Evaluate, RenjuForbiddenPointWithLowBlackScoreCosts200) {
  // (7,7) is an overline point of BLACK (code 13 weighs nothing, so its
  // cell score stays low) and a WHITE three cell. BLACK's own shapes there
  // are in no threat list (13 is neither a four nor a three).
  const Cells black = {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}};
  for (int side : {BLACK, WHITE}) {
    Harness t(RENJU);
    t.put(black, BLACK);
    white_three_through(t, 7, 7);
    ASSERT_EQ(is_forbidden(*t.pos, 7, 7), 1);
    ASSERT_LT(t.pos->score(7, 7, BLACK), 158);
    ASSERT_TRUE(t.pos->three_cells[1].contains(7, 7));
    ASSERT_FALSE(t.pos->three_cells[0].contains(7, 7));
    ASSERT_FALSE(t.pos->four_cells[0].contains(7, 7));
    testing::settle(*t.pos);
    const int32_t plain = plain_evaluate(*t.pos, side, false);
    const int32_t v = t.eval(side);
    EXPECT_EQ(v, plain_evaluate(*t.pos, side));
    // Other BLACK four cells next to the overline are allowed, so the only
    // forbidden-point term is the 200 at (7,7).
    EXPECT_EQ(v - plain, side == BLACK ? -200 : 200) << "side " << side;
  }
}

TEST(Evaluate, RenjuCellScoreOf158IsAlreadyHigh) {
  // (7,7): overline along the row (weight 0), split three along the column
  // (weight 158), nothing on the diagonals (the WHITE stones refresh them to
  // 0), so BLACK's cell score is exactly 158 and the term is 120, not 200.
  for (int side : {BLACK, WHITE}) {
    Harness t(RENJU);
    t.put({{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}, {8, 7}, {10, 7}}, BLACK);
    white_three_through(t, 7, 7);
    t.put({{2, 2}}, WHITE);
    ASSERT_EQ(t.pos->code(0, 7, 7, BLACK), PAT_OVERLINE);
    ASSERT_EQ(t.pos->code(1, 7, 7, BLACK), PAT_THREE_SPLIT);
    ASSERT_EQ(t.pos->score(7, 7, BLACK), 158);
    ASSERT_EQ(is_forbidden(*t.pos, 7, 7), 1);
    ASSERT_TRUE(t.pos->three_cells[1].contains(7, 7));
    testing::settle(*t.pos);
    const int32_t plain = plain_evaluate(*t.pos, side, false);
    const int32_t v = t.eval(side);
    EXPECT_EQ(v, plain_evaluate(*t.pos, side));
    // BLACK's forbidden threat cells, (7,7) and the double three (9,6),
    // drop out of BLACK's list either way (its own terms when BLACK moves,
    // the opponent's terms otherwise); (7,7) is WHITE's three: 120 at 158.
    int dropped = 0;
    auto copy = std::make_unique<Position>(*t.pos);
    for (auto [x, y] : threat_list(*t.pos, 0)) {
      if (!is_forbidden(*copy, x, y)) continue;
      const int offset = is_four_cell(*t.pos, x, y, 0) ? 1 : 2;
      const int count = plain_count(*t.pos, x, y, 0, empty_mask());
      dropped += t.pos->weight(x, y, BLACK) * (side == BLACK ? count - offset : offset - count) * 20 / 32;
    }
    ASSERT_NE(dropped, 0);
    EXPECT_EQ(v - plain, side == BLACK ? -dropped - 120 : 120 - dropped) << "side " << side;
  }
}

TEST(Evaluate, RenjuBonusTakenBackWhenEveryBlackThreatIsForbidden) {
  // Found by blocking BLACK's playable threat cells with WHITE stones until
  // only forbidden ones were left: (3,8), (8,3) and (8,8).
  Harness t(RENJU);
  t.put({{4, 8}, {4, 4}, {6, 5}, {8, 6}, {8, 4}, {8, 7}, {7, 5}, {4, 7}, {5, 8}, {9, 7}, {5, 6}, {7, 7}, {10, 9}, {7, 8}},
        BLACK);
  t.put({{4, 5}, {5, 5}, {4, 9}, {11, 9}, {11, 10}, {11, 7}, {5, 9}, {10, 8}, {9, 3}, {10, 4}, {9, 6}, {3, 6},
         {2, 9}, {6, 6}, {10, 7}, {2, 8}, {6, 4}, {6, 7}, {9, 8}, {8, 9}, {7, 9}, {7, 6}},
        WHITE);
  MoveEntry list[2 * MAX_CELLS];
  int n = t.pos->list_four_cells(list, BLACK);
  n += t.pos->list_three_cells(list + n, BLACK);
  ASSERT_EQ(n, 3);
  for (int i = 0; i < n; ++i) ASSERT_EQ(is_forbidden(*t.pos, list[i].x, list[i].y), 1);
  testing::settle(*t.pos);

  branch_counts = RenjuBranchCounts{};
  const int32_t expected = plain_evaluate(*t.pos, WHITE);
  EXPECT_EQ(branch_counts.all_forbidden, 1);
  EXPECT_EQ(t.eval(WHITE), expected);
  // With BLACK to move nothing is taken back: its forbidden threats simply
  // count for nothing.
  branch_counts = RenjuBranchCounts{};
  EXPECT_EQ(t.eval(BLACK), plain_evaluate(*t.pos, BLACK));
  EXPECT_EQ(branch_counts.all_forbidden, 0);
}

TEST(Evaluate, RenjuTermsAreAbsentUnderOtherRules) {
  for (int rule : {FREESTYLE, STANDARD}) {
    Harness t(rule);
    t.put({{4, 9}, {4, 10}, {2, 11}, {3, 11}}, BLACK);
    white_three_through(t, 4, 11);
    for (int side : {BLACK, WHITE}) EXPECT_EQ(t.eval(side), plain_evaluate(*t.pos, side, false));
  }
}

TEST(Evaluate, ForbiddenForOnlyAppliesToBlackUnderRenju) {
  for (int rule : {FREESTYLE, STANDARD, RENJU}) {
    Harness t(rule);
    t.put({{4, 9}, {4, 10}, {2, 11}, {3, 11}}, BLACK);
    EXPECT_EQ(t.search->forbidden_for(4, 11, BLACK), rule == RENJU);
    EXPECT_FALSE(t.search->forbidden_for(4, 11, WHITE));
    EXPECT_FALSE(t.search->forbidden_for(4, 8, BLACK));
  }
}

// ---------------------------------------------------------------------------
// The neighbourhood.

TEST(Neighbourhood, CountsTheThirtyThreeCellsAroundEveryCell) {
  // One WHITE five cell at a time, in the open, on an edge and in a corner;
  // every cell of the board must see it exactly when it lies in its shape.
  struct Case {
    Cells white, black;
    std::pair<int, int> five;
  };
  const Case cases[] = {
      {{{7, 4}, {7, 5}, {7, 6}, {7, 7}}, {{7, 3}}, {7, 8}},
      {{{1, 2}, {1, 3}, {1, 4}, {1, 5}}, {{1, 6}}, {1, 1}},
      {{{0, 1}, {0, 2}, {0, 3}, {0, 4}}, {{0, 5}}, {0, 0}},
      {{{14, 10}, {14, 11}, {14, 12}, {14, 13}}, {{14, 9}}, {14, 14}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    Harness t(FREESTYLE);
    t.put(c.black, BLACK);
    t.put(c.white, WHITE);
    ASSERT_TRUE(t.pos->five_cells[1].contains(c.five.first, c.five.second)) << i;
    int members = 0;
    for (uint32_t r : t.pos->five_cells[1].rows) members += __builtin_popcount(r);
    ASSERT_EQ(members, 1) << i;
    ASSERT_TRUE(t.pos->open_four_cells[1].empty());
    for (int x = 0; x < 15; ++x)
      for (int y = 0; y < 15; ++y) {
        const int expected = in_neighbourhood(c.five.first - x, c.five.second - y) ? 1 : 0;
        ASSERT_EQ(t.search->neighbourhood_threat_count(x, y, WHITE), expected) << i << ": " << x << "," << y;
        ASSERT_EQ(t.search->neighbourhood_threat_count(x, y, BLACK), 0);
      }
  }
}

TEST(Neighbourhood, CountsFivesAndOpenFoursTogether) {
  Harness t(FREESTYLE);
  // BLACK open three on row 7 gives open-four cells (7,4) and (7,8) and no
  // five cell; a BLACK four on column 2 adds the five cell (6,2).
  t.put({{7, 5}, {7, 6}, {7, 7}}, BLACK);
  t.put({{2, 2}, {3, 2}, {4, 2}, {5, 2}}, BLACK);
  t.put({{1, 2}}, WHITE);
  ASSERT_TRUE(t.pos->open_four_cells[0].contains(7, 4));
  ASSERT_TRUE(t.pos->open_four_cells[0].contains(7, 8));
  ASSERT_TRUE(t.pos->five_cells[0].contains(6, 2));
  const Mask none = empty_mask();
  for (int x = 0; x < 15; ++x)
    for (int y = 0; y < 15; ++y)
      ASSERT_EQ(t.search->neighbourhood_threat_count(x, y, BLACK), plain_count(*t.pos, x, y, 0, none))
          << x << "," << y;
  EXPECT_EQ(t.search->neighbourhood_threat_count(7, 6, BLACK), 2);
  EXPECT_EQ(t.search->neighbourhood_threat_count(6, 4, BLACK), 2);  // (6,2) and (7,4)
}

// ---------------------------------------------------------------------------
// Whole-position invariants.

TEST(Evaluate, LeavesThePositionAsFound) {
  std::mt19937 rng(5150);
  for (int rule : {FREESTYLE, STANDARD, RENJU})
    for (int game = 0; game < 6; ++game) {
      Harness t(rule);
      testing::fill_random(*t.pos, rng, 24 + 4 * game, 9);
      if (rule == RENJU) testing::settle(*t.pos);
      for (int side : {BLACK, WHITE}) {
        const PatternRecordSnapshot before(*t.pos);
        t.eval(side);
        const PatternRecordSnapshot after(*t.pos);
        // Without trial stones nothing may change at all; under Renju the
        // forbidden test may rewrite a stale space, nothing else.
        const std::string diff =
            rule == RENJU ? after.without_spaces().diff(before.without_spaces()) : after.diff(before);
        EXPECT_TRUE(diff.empty()) << diff << " rule " << rule << " game " << game;
        std::string why;
        EXPECT_TRUE(t.pos->is_consistent(&why)) << why;
      }
    }
}

TEST(Evaluate, MatchesThePlainReimplementationOnRandomPositions) {
  std::mt19937 rng(9001);
  branch_counts = RenjuBranchCounts{};
  int shortcut = 0, checked = 0;
  for (int rule : {FREESTYLE, STANDARD, RENJU})
    for (int game = 0; game < 16; ++game) {
      Harness t(rule, game % 3 == 0 ? 20 : 15, 15);
      // Grow the game a few stones at a time and evaluate along the way.
      for (int step = 0; step < 10; ++step) {
        testing::fill_random(*t.pos, rng, 2 + step % 3, 9);
        if (rule == RENJU) testing::settle(*t.pos);
        for (int side : {BLACK, WHITE}) {
          const int32_t expected = plain_evaluate(*t.pos, side);
          const int32_t v = t.eval(side);
          EXPECT_EQ(v, expected) << "rule " << rule << " game " << game << " step " << step << " side " << side;
          shortcut += v == FOUR_THREE_SCORE;
          ++checked;
        }
      }
    }
  EXPECT_GT(shortcut, 0);
  EXPECT_LT(shortcut, checked / 2);
  EXPECT_GT(branch_counts.own_forbidden, 0);
  EXPECT_GT(branch_counts.their_forbidden, 0);
}

}  // namespace
}  // namespace orvel
