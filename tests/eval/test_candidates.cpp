// Candidate-cell operations: the two answers to an open three, window
// occupancy tests and the list of four/three cells that are not strong.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "../board/board_test_util.h"
#include "board/position.h"
#include "eval/candidates.h"
#include "renju/forbidden.h"

namespace orvel {
namespace {

using testing::make_position;
using testing::place_picture;

using Cell = std::pair<int, int>;

std::set<Cell> answers(const MoveEntry* list, int n) {
  std::set<Cell> s;
  for (int i = 0; i < n; ++i) s.insert({list[i].x, list[i].y});
  return s;
}

// ---------------------------------------------------------------------------
// open_three_defences

TEST(OpenThreeDefences, PureOpenThreeNeedsNoExtraAnswer) {
  for (int rule : {FREESTYLE, STANDARD, RENJU}) {
    auto pos = make_position(15, 15, rule);
    // WHITE's open three on row 7, y = 5..7, with two empty cells on each side.
    for (int y = 5; y <= 7; ++y) pos->make_move(7, y, WHITE);
    for (int y : {4, 8}) {
      ASSERT_EQ(pos->code(0, 7, y, WHITE), PAT_OPEN_FOUR) << "rule " << rule << " y " << y;
      MoveEntry list[4] = {};
      EXPECT_EQ(open_three_defences(*pos, list, WHITE, 7, y), 0) << "rule " << rule << " y " << y;
    }
  }
}

TEST(OpenThreeDefences, ClosedFarEndGivesFarEndAndBackCell) {
  auto pos = make_position(15, 15, FREESTYLE);
  // . . X X X . O : from (7, 4) the far end (7, 8) no longer makes an open
  // four, so the answers are (7, 8) and the cell behind, (7, 3).
  for (int y = 5; y <= 7; ++y) pos->make_move(7, y, BLACK);
  pos->make_move(7, 9, WHITE);
  ASSERT_EQ(pos->code(0, 7, 4, BLACK), PAT_OPEN_FOUR);
  ASSERT_NE(pos->code(0, 7, 8, BLACK), PAT_OPEN_FOUR);
  MoveEntry list[4] = {};
  ASSERT_EQ(open_three_defences(*pos, list, BLACK, 7, 4), 2);
  EXPECT_EQ(list[0].x, 7);
  EXPECT_EQ(list[0].y, 8);  // the far end first
  EXPECT_EQ(list[1].x, 7);
  EXPECT_EQ(list[1].y, 3);
}

TEST(OpenThreeDefences, StepTurnsTowardTheStones) {
  // The same shape seen from the other end: the stones lie at smaller y, so
  // the step must be reversed before the far end is taken.
  auto pos = make_position(15, 15, FREESTYLE);
  for (int y = 5; y <= 7; ++y) pos->make_move(7, y, BLACK);
  pos->make_move(7, 3, WHITE);
  ASSERT_EQ(pos->code(0, 7, 8, BLACK), PAT_OPEN_FOUR);
  MoveEntry list[4] = {};
  ASSERT_EQ(open_three_defences(*pos, list, BLACK, 7, 8), 2);
  EXPECT_EQ(list[0].x, 7);
  EXPECT_EQ(list[0].y, 4);
  EXPECT_EQ(list[1].x, 7);
  EXPECT_EQ(list[1].y, 9);
}

TEST(OpenThreeDefences, SplitThreeAnswersBeyondBothEnds) {
  // Row: X X _ X with (7, 6) the gap: the four would be y = 4..7, so the
  // answers are (7, 8) and (7, 3).
  {
    auto pos = make_position(15, 15, STANDARD);
    for (int y : {4, 5, 7}) pos->make_move(7, y, WHITE);
    ASSERT_EQ(pos->code(0, 7, 6, WHITE), PAT_OPEN_FOUR);
    MoveEntry list[4] = {};
    ASSERT_EQ(open_three_defences(*pos, list, WHITE, 7, 6), 2);
    EXPECT_EQ(list[0].x, 7);
    EXPECT_EQ(list[0].y, 8);
    EXPECT_EQ(list[1].x, 7);
    EXPECT_EQ(list[1].y, 3);
  }
  // The same shape on an anti-diagonal (step (-1, +1)): stones at
  // (9, 3), (8, 4), (6, 6), gap (7, 5); answers (5, 7) forward, (10, 2) back.
  {
    auto pos = make_position(15, 15, FREESTYLE);
    for (Cell c : {Cell{9, 3}, Cell{8, 4}, Cell{6, 6}}) pos->make_move(c.first, c.second, BLACK);
    ASSERT_EQ(pos->code(2, 7, 5, BLACK), PAT_OPEN_FOUR);
    MoveEntry list[4] = {};
    ASSERT_EQ(open_three_defences(*pos, list, BLACK, 7, 5), 2);
    EXPECT_EQ(answers(list, 2), (std::set<Cell>{{5, 7}, {10, 2}}));
    EXPECT_EQ(list[0].x, 5);  // the forward walk comes first
  }
}

TEST(OpenThreeDefences, FirstOpenFourDirectionIsUsed) {
  // (7, 7) makes an open four both along the row (direction 0) and along the
  // column (direction 1); direction 0 is examined first.
  auto pos = make_position(15, 15, FREESTYLE);
  for (int y : {8, 9, 10}) pos->make_move(7, y, BLACK);
  pos->make_move(7, 12, WHITE);  // the row's far end is not an open-four cell
  for (int x : {8, 9, 10}) pos->make_move(x, 7, BLACK);
  pos->make_move(12, 7, WHITE);
  ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_OPEN_FOUR);
  ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_OPEN_FOUR);
  MoveEntry list[4] = {};
  ASSERT_EQ(open_three_defences(*pos, list, BLACK, 7, 7), 2);
  EXPECT_EQ(answers(list, 2), (std::set<Cell>{{7, 11}, {7, 6}}));
}

TEST(OpenThreeDefences, RenjuForbiddenFarEndIsStillAnAnswer) {
  // BLACK's open three on row 7, y = 5..7. A black three on column 8
  // (x = 4..6) makes (7, 8) a double four, forbidden to BLACK under Renju:
  // the far end no longer counts as an open-four answer of its own.
  auto build = [](int rule) {
    auto pos = make_position(15, 15, rule);
    for (int y = 5; y <= 7; ++y) pos->make_move(7, y, BLACK);
    for (int x = 4; x <= 6; ++x) pos->make_move(x, 8, BLACK);
    // WHITE stones far away so that the stone counts stay plausible.
    for (Cell c : {Cell{0, 0}, Cell{0, 14}, Cell{14, 0}, Cell{14, 14}, Cell{1, 7}, Cell{13, 7}})
      pos->make_move(c.first, c.second, WHITE);
    return pos;
  };
  {
    auto pos = build(RENJU);
    ASSERT_EQ(pos->code(0, 7, 4, BLACK), PAT_OPEN_FOUR);
    ASSERT_EQ(pos->code(0, 7, 8, BLACK), PAT_OPEN_FOUR);
    ASSERT_EQ(is_forbidden(*pos, 7, 8), 1);
    ASSERT_EQ(is_forbidden(*pos, 7, 4), 0);
    MoveEntry list[4] = {};
    ASSERT_EQ(open_three_defences(*pos, list, BLACK, 7, 4), 2);
    EXPECT_EQ(list[0].x, 7);
    EXPECT_EQ(list[0].y, 8);
    EXPECT_EQ(list[1].x, 7);
    EXPECT_EQ(list[1].y, 3);
  }
  // The same stones under the standard rule: the far end is an ordinary
  // open-four cell and no extra answer is needed.
  {
    auto pos = build(STANDARD);
    ASSERT_EQ(pos->code(0, 7, 8, BLACK), PAT_OPEN_FOUR);
    MoveEntry list[4] = {};
    EXPECT_EQ(open_three_defences(*pos, list, BLACK, 7, 4), 0);
  }
  // Under Renju the forbidden test applies to BLACK only: the same shape in
  // WHITE's colours (a double four is legal for WHITE) needs no answer.
  {
    auto pos = make_position(15, 15, RENJU);
    for (int y = 5; y <= 7; ++y) pos->make_move(7, y, WHITE);
    for (int x = 4; x <= 6; ++x) pos->make_move(x, 8, WHITE);
    ASSERT_EQ(pos->code(0, 7, 8, WHITE), PAT_OPEN_FOUR);
    MoveEntry list[4] = {};
    EXPECT_EQ(open_three_defences(*pos, list, WHITE, 7, 4), 0);
  }
}

// The answers are always empty cells on the line of the open four, and the
// position is left as it was (the Renju test places trial stones).
TEST(OpenThreeDefences, AnswersAreEmptyCellsOnTheLineOnRandomBoards) {
  std::mt19937 rng(12345);
  int checked = 0, answered = 0;
  for (int rule : {FREESTYLE, STANDARD, RENJU}) {
    for (int game = 0; game < 60; ++game) {
      auto pos = make_position(15, 15, rule);
      std::uniform_int_distribution<int> coord(3, 11);
      const int stones = 6 + game % 14;
      for (int i = 0; i < stones; ++i) {
        const int x = coord(rng), y = coord(rng);
        if (pos->cells[x][y] == EMPTY) pos->make_move(x, y, i % 2 ? WHITE : BLACK);
      }
      for (int opp : {BLACK, WHITE}) {
        MoveEntry cells[MAX_CELLS];
        const int n = pos->list_open_four_cells(cells, opp);
        for (int i = 0; i < n; ++i) {
          const int x = cells[i].x, y = cells[i].y;
          const testing::LineSnapshot before(*pos);
          MoveEntry list[4] = {};
          const int r = open_three_defences(*pos, list, opp, x, y);
          ++checked;
          EXPECT_TRUE(testing::LineSnapshot(*pos) == before);
          ASSERT_TRUE(r == 0 || r == 2);
          if (r == 0) continue;
          ++answered;
          int d = 0;
          while (pos->code(d, x, y, opp) != PAT_OPEN_FOUR) ++d;
          for (int k = 0; k < 2; ++k) {
            const int ax = list[k].x, ay = list[k].y;
            ASSERT_TRUE(pos->on_board(ax, ay));
            EXPECT_EQ(pos->cells[ax][ay], EMPTY);
            EXPECT_FALSE(ax == x && ay == y);
            // On the line through (x, y) in direction d, within five steps.
            const int ddx = ax - x, ddy = ay - y;
            bool on_line = false;
            for (int t = -5; t <= 5; ++t)
              if (t != 0 && ddx == t * dir_dx[d] && ddy == t * dir_dy[d]) on_line = true;
            EXPECT_TRUE(on_line) << "answer (" << ax << "," << ay << ") for (" << x << "," << y << ") dir " << d;
          }
          EXPECT_FALSE(list[0].x == list[1].x && list[0].y == list[1].y);
        }
      }
    }
  }
  EXPECT_GT(checked, 50);
  EXPECT_GT(answered, 10);
}

// ---------------------------------------------------------------------------
// window_has_stone and the two shapes

// The cells a shape covers, relative to its centre, from its masks.
std::vector<Cell> shape_offsets(const WindowShape& shape) {
  std::vector<Cell> out;
  for (int i = 0; i <= 2 * shape.radius; ++i) {
    const int dx = i - shape.radius;
    for (int bit = 0; bit < 64; bit += 2) {
      if ((shape.rows[i].mask >> bit) & 3) out.push_back({dx, (bit - shape.rows[i].centre) / 2});
    }
  }
  return out;
}

TEST(WindowShapes, CoverTheDocumentedCells) {
  std::set<Cell> square, star;
  for (Cell c : shape_offsets(window_square)) square.insert(c);
  for (Cell c : shape_offsets(window_star)) star.insert(c);
  EXPECT_EQ(square.size(), 25u);
  for (int dx = -2; dx <= 2; ++dx)
    for (int dy = -2; dy <= 2; ++dy) EXPECT_TRUE(square.count({dx, dy}));
  EXPECT_EQ(star.size(), 33u);
  for (Cell c : square) EXPECT_TRUE(star.count(c));
  for (int d = 0; d < 4; ++d) {
    EXPECT_TRUE(star.count({3 * dir_dx[d], 3 * dir_dy[d]}));
    EXPECT_TRUE(star.count({-3 * dir_dx[d], -3 * dir_dy[d]}));
  }
  // Every mask is made of whole 2-bit fields and its centre is a field start.
  for (const WindowShape* s : {&window_square, &window_star})
    for (int i = 0; i <= 2 * s->radius; ++i) {
      EXPECT_EQ(s->rows[i].centre % 2, 0);
      for (int bit = 0; bit < 64; bit += 2) {
        const uint64_t f = (s->rows[i].mask >> bit) & 3;
        EXPECT_TRUE(f == 0 || f == 3);
      }
    }
}

bool naive_shape_has_stone(const Position& pos, const WindowShape& shape, int x, int y) {
  for (Cell c : shape_offsets(shape)) {
    const int cx = x + c.first, cy = y + c.second;
    if (pos.on_board(cx, cy) && pos.cells[cx][cy] != EMPTY) return true;
  }
  return false;
}

TEST(WindowHasStone, BordersAndCellsBeyondTheWidthNeverCount) {
  // Square 15 by 15: the line words mark positions -1 and 15 as BLOCKED.
  auto pos = make_position(15, 15, FREESTYLE);
  for (int x = 0; x < 15; ++x) {
    for (int y = 0; y < 15; ++y) {
      EXPECT_FALSE(shape_has_stone(*pos, window_square, x, y)) << x << "," << y;
      EXPECT_FALSE(shape_has_stone(*pos, window_star, x, y)) << x << "," << y;
    }
  }
  // The row word does hold the border marks that the mask must cut away.
  EXPECT_NE(pos->y_lines[0] & (uint64_t{3} << 6), 0u);
  EXPECT_NE(pos->y_lines[0] & (uint64_t{3} << (2 * 15 + 8)), 0u);
  EXPECT_EQ(window_has_stone(*pos, 0, 2 * 14 + 8, 6, 16383), 0u);
  EXPECT_EQ(window_has_stone(*pos, 0, 8, 6, 16383), 0u);

  // Rectangular: 10 wide, 15 high. Cells y = 10..14 hold BLOCKED in every
  // row word but lie outside the board.
  auto rect = make_position(10, 15, STANDARD);
  ASSERT_EQ(rect->cells[3][12], BLOCKED);
  for (int x = 0; x < 15; ++x)
    for (int y = 0; y < 10; ++y) {
      EXPECT_FALSE(shape_has_stone(*rect, window_square, x, y)) << x << "," << y;
      EXPECT_FALSE(shape_has_stone(*rect, window_star, x, y)) << x << "," << y;
    }
  // A block stone inside the board counts as occupied.
  rect->make_move(7, 9, BLOCKED);
  EXPECT_TRUE(shape_has_stone(*rect, window_square, 7, 7));
  EXPECT_TRUE(shape_has_stone(*rect, window_star, 4, 6));  // (x + 3, y + 3)
  EXPECT_FALSE(shape_has_stone(*rect, window_square, 4, 6));
  EXPECT_NE(window_has_stone(*rect, 7, 2 * 7 + 8, 4, 1023), 0u);
}

TEST(WindowHasStone, FullWidthBoardUsesTheTopFields) {
  // 24 wide: the row mask spans bits 8..55 and the border mark of position
  // 24 sits at bits 56..57; a stone at y = 23 must still count.
  auto pos = make_position(24, 24, FREESTYLE);
  EXPECT_FALSE(shape_has_stone(*pos, window_star, 5, 23));
  EXPECT_FALSE(shape_has_stone(*pos, window_square, 23, 23));
  pos->make_move(5, 23, WHITE);
  EXPECT_TRUE(shape_has_stone(*pos, window_square, 5, 21));
  EXPECT_TRUE(shape_has_stone(*pos, window_star, 5, 20));
  EXPECT_FALSE(shape_has_stone(*pos, window_star, 5, 19));
  EXPECT_TRUE(shape_has_stone(*pos, window_star, 2, 20));
  EXPECT_FALSE(shape_has_stone(*pos, window_star, 2, 21));
}

// shape_has_stone agrees with a direct look at the cells, everywhere.
TEST(WindowHasStone, MatchesACellScanOnRandomBoards) {
  std::mt19937 rng(777);
  struct Size {
    int w, h;
  };
  for (Size sz : {Size{15, 15}, Size{20, 20}, Size{24, 24}, Size{10, 15}, Size{24, 7}, Size{5, 24}}) {
    for (int round = 0; round < 6; ++round) {
      auto pos = make_position(sz.w, sz.h, round % 3);
      std::uniform_int_distribution<int> rx(0, sz.h - 1), ry(0, sz.w - 1);
      const int stones = 1 + round * 3;
      for (int i = 0; i < stones; ++i) {
        const int x = rx(rng), y = ry(rng);
        if (pos->cells[x][y] == EMPTY) pos->make_move(x, y, 1 + i % 3);
      }
      for (int x = 0; x < sz.h; ++x)
        for (int y = 0; y < sz.w; ++y) {
          ASSERT_EQ(shape_has_stone(*pos, window_square, x, y), naive_shape_has_stone(*pos, window_square, x, y))
              << sz.w << "x" << sz.h << " square at " << x << "," << y;
          ASSERT_EQ(shape_has_stone(*pos, window_star, x, y), naive_shape_has_stone(*pos, window_star, x, y))
              << sz.w << "x" << sz.h << " star at " << x << "," << y;
        }
    }
  }
}

// ---------------------------------------------------------------------------
// list_threat_cells

std::vector<Cell> naive_threat_cells(const Position& pos, int s) {
  std::vector<Cell> out;
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y) {
      const bool four = pos.four_cells[s - 1].contains(x, y);
      const bool three = pos.three_cells[s - 1].contains(x, y);
      const bool strong = pos.strong_cells[s - 1].contains(x, y);
      if ((four || three) && !strong) out.push_back({x, y});
    }
  return out;
}

std::vector<Cell> listed_threat_cells(const Position& pos, int s) {
  MoveEntry list[MAX_CELLS];
  const int n = list_threat_cells(pos, list, s);
  std::vector<Cell> out;
  for (int i = 0; i < n; ++i) out.push_back({list[i].x, list[i].y});
  return out;
}

TEST(ListThreatCells, EmptyBoardListsNothing) {
  auto pos = make_position(20, 20, FREESTYLE);
  MoveEntry list[MAX_CELLS];
  list[0].x = 99;
  EXPECT_EQ(list_threat_cells(*pos, list, BLACK), 0);
  EXPECT_EQ(list_threat_cells(*pos, list, WHITE), 0);
  EXPECT_EQ(list[0].x, 99);  // nothing written
}

TEST(ListThreatCells, CellThatIsFourAndThreeIsListedOnce) {
  auto pos = make_position(15, 15, FREESTYLE);
  // (7, 7): a four along the row (X X X with a WHITE stone at one end) and an
  // open three along the column.
  place_picture(*pos,
                {
                    "...............",
                    "...............",
                    "...............",
                    "...............",
                    "...............",
                    ".......X.......",
                    ".......X.......",
                    "...OXXX........",
                },
                0, 0);
  ASSERT_TRUE(pos->four_cells[0].contains(7, 7));
  ASSERT_TRUE(pos->three_cells[0].contains(7, 7));
  // A four weighs 256 and a three at least 158, so such a cell always
  // reaches the strong threshold and is left out of the list.
  ASSERT_GE(pos->score(7, 7, BLACK), STRONG_SCORE);
  ASSERT_TRUE(pos->strong_cells[0].contains(7, 7));
  std::vector<Cell> got = listed_threat_cells(*pos, BLACK);
  EXPECT_EQ(std::count(got.begin(), got.end(), Cell{7, 7}), 0);
  EXPECT_EQ(got, naive_threat_cells(*pos, BLACK));
  // With the strong mark taken away by hand, the union of the two sets
  // still writes the cell once, in its place in the order.
  pos->strong_cells[0].remove_cell(7, 7);
  got = listed_threat_cells(*pos, BLACK);
  EXPECT_EQ(std::count(got.begin(), got.end(), Cell{7, 7}), 1);
  EXPECT_EQ(got, naive_threat_cells(*pos, BLACK));
  EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
}

TEST(ListThreatCells, StrongCellsAreLeftOut) {
  auto pos = make_position(15, 15, FREESTYLE);
  // (7, 7) makes two open threes: a three cell with a high score.
  for (int y : {8, 9}) pos->make_move(7, y, BLACK);
  for (int x : {8, 9}) pos->make_move(x, 7, BLACK);
  ASSERT_TRUE(pos->three_cells[0].contains(7, 7));
  ASSERT_TRUE(pos->strong_cells[0].contains(7, 7));
  const std::vector<Cell> got = listed_threat_cells(*pos, BLACK);
  EXPECT_EQ(std::count(got.begin(), got.end(), Cell{7, 7}), 0);
  EXPECT_FALSE(got.empty());  // the single threes around are still listed
  EXPECT_EQ(got, naive_threat_cells(*pos, BLACK));
}

TEST(ListThreatCells, MatchesTheSetsOnRandomBoards) {
  std::mt19937 rng(99);
  int nonempty = 0;
  for (int rule : {FREESTYLE, STANDARD, RENJU}) {
    for (int game = 0; game < 40; ++game) {
      auto pos = make_position(game % 2 ? 20 : 15, 15, rule);
      std::uniform_int_distribution<int> rx(2, 12), ry(2, 12);
      for (int i = 0; i < 8 + game % 25; ++i) {
        const int x = rx(rng), y = ry(rng);
        if (pos->cells[x][y] == EMPTY) pos->make_move(x, y, i % 2 ? WHITE : BLACK);
      }
      for (int s : {BLACK, WHITE}) {
        const std::vector<Cell> got = listed_threat_cells(*pos, s);
        EXPECT_EQ(got, naive_threat_cells(*pos, s));  // same cells, same order
        if (!got.empty()) ++nonempty;
      }
    }
  }
  EXPECT_GT(nonempty, 100);
}

}  // namespace
}  // namespace orvel
