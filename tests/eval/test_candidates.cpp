// Candidate-cell operations: the answers to an open three, the window tests
// and the list of four/three cells that are not strong.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <utility>
#include <vector>

#include "../board/board_test_util.h"
#include "eval/candidates.h"

namespace orvel {
namespace {

using testing::make_position;
using Cells = std::vector<std::pair<int, int>>;

struct DefenceCase {
  const char* name;
  int rule, side;
  Cells stones, blockers;  // of side, of the other side
  int x, y;                // an open-four cell of side
  Cells expected;          // in order; empty when the answer is 0
};

// The answers in order, and the position left as it was.
TEST(OpenThreeDefences, AnswersInOrder) {
  const Cells three = {{7, 5}, {7, 6}, {7, 7}};
  const Cells double_four = {{7, 5}, {7, 6}, {7, 7}, {4, 8}, {5, 8}, {6, 8}};  // (7,8) is a four twice
  const DefenceCase cases[] = {
      {"both ends open", FREESTYLE, WHITE, three, {}, 7, 4, {}},
      {"both ends open, renju", RENJU, BLACK, three, {}, 7, 8, {}},
      {"far end closed", FREESTYLE, BLACK, three, {{7, 9}}, 7, 4, {{7, 8}, {7, 3}}},
      {"step turns toward the stones", FREESTYLE, BLACK, three, {{7, 3}}, 7, 8, {{7, 4}, {7, 9}}},
      {"split X X _ X", STANDARD, WHITE, {{7, 4}, {7, 5}, {7, 7}}, {}, 7, 6, {{7, 8}, {7, 3}}},
      {"split on an anti-diagonal", FREESTYLE, BLACK, {{9, 3}, {8, 4}, {6, 6}}, {}, 7, 5, {{5, 7}, {10, 2}}},
      {"first open-four direction", FREESTYLE, BLACK, {{7, 8}, {7, 9}, {7, 10}, {8, 7}, {9, 7}, {10, 7}},
       {{7, 12}, {12, 7}}, 7, 7, {{7, 11}, {7, 6}}},
      {"renju far end forbidden", RENJU, BLACK, double_four, {{0, 0}}, 7, 4, {{7, 8}, {7, 3}}},
      {"same stones, standard", STANDARD, BLACK, double_four, {{0, 0}}, 7, 4, {}},
      {"same stones, renju white", RENJU, WHITE, double_four, {{0, 0}}, 7, 4, {}},
  };
  for (const DefenceCase& c : cases) {
    auto pos = make_position(15, 15, c.rule);
    for (auto [x, y] : c.stones) pos->make_move(x, y, c.side);
    for (auto [x, y] : c.blockers) pos->make_move(x, y, opponent(c.side));
    ASSERT_TRUE(pos->open_four_cells[c.side - 1].contains(c.x, c.y)) << c.name;
    const testing::LineSnapshot before(*pos);
    MoveEntry list[4] = {};
    Cells got;
    for (int i = 0, n = open_three_defences(*pos, list, c.side, c.x, c.y); i < n; ++i)
      got.push_back({list[i].x, list[i].y});
    EXPECT_EQ(got, c.expected) << c.name;
    EXPECT_TRUE(testing::LineSnapshot(*pos) == before) << c.name;  // the Renju test places stones
  }
}

// shape_has_stone (window_has_stone row by row) agrees with a look at the
// cells of the 5 by 5 square and of the 33-cell neighbourhood, on every cell
// of boards of many shapes, the empty board first: the border fields and the
// cells past board_width, BLOCKED in the line words, never count.
TEST(WindowHasStone, MatchesACellScanOnBoardsOfEveryShape) {
  std::mt19937 rng(777);
  for (auto [w, h] : {std::pair{15, 15}, {24, 24}, {10, 15}, {24, 7}, {5, 24}, {20, 20}}) {
    auto pos = make_position(w, h, FREESTYLE);
    ASSERT_NE(pos->y_lines[0] & (uint64_t{3} << 6), 0u);   // the border mark left of y = 0
    EXPECT_EQ(window_has_stone(*pos, 0, 8, 6, 16383), 0u);  // y = 0, fields -3..3
    EXPECT_EQ(window_has_stone(*pos, h - 1, 2 * (w - 1) + 8, 6, 16383), 0u);
    for (int round = 0; round < 6; ++round) {
      for (int x = 0; x < h; ++x)
        for (int y = 0; y < w; ++y) {
          bool square = false, star = false;
          for (int dx = -3; dx <= 3; ++dx)
            for (int dy = -3; dy <= 3; ++dy) {
              if (!pos->on_board(x + dx, y + dy) || pos->cells[x + dx][y + dy] == EMPTY) continue;
              const bool near = std::abs(dx) <= 2 && std::abs(dy) <= 2;
              square |= near;
              star |= near || dx == 0 || dy == 0 || std::abs(dx) == std::abs(dy);
            }
          ASSERT_EQ(shape_has_stone(*pos, window_square, x, y), square) << w << "x" << h << " " << x << "," << y;
          ASSERT_EQ(shape_has_stone(*pos, window_star, x, y), star) << w << "x" << h << " " << x << "," << y;
        }
      for (int i = 0; i <= round; ++i) {  // stones of every kind, BLOCKED included
        const int x = rng() % h, y = rng() % w;
        if (pos->cells[x][y] == EMPTY) pos->make_move(x, y, 1 + i % 3);
      }
    }
  }
}

// The four and three cells minus the strong cells, each once, x then y
// ascending. Returns whether the list is empty.
bool threat_list_matches_the_sets(const Position& pos, int s) {
  Cells expected, got;
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y)
      if ((pos.four_cells[s - 1].contains(x, y) || pos.three_cells[s - 1].contains(x, y)) &&
          !pos.strong_cells[s - 1].contains(x, y))
        expected.push_back({x, y});
  MoveEntry list[MAX_CELLS];
  for (int i = 0, n = list_threat_cells(pos, list, s); i < n; ++i) got.push_back({list[i].x, list[i].y});
  EXPECT_EQ(got, expected);
  return got.empty();
}

TEST(ListThreatCells, MatchesTheSetsInOrder) {
  // (7,7) is a four on row 7 and an open three on column 7: with its strong
  // mark taken away by hand it is written once.
  auto both = make_position(15, 15, FREESTYLE);
  testing::place_picture(*both, {"", "", "", "", "", ".......X", ".......X", "...OXXX"});
  ASSERT_TRUE(both->four_cells[0].contains(7, 7) && both->three_cells[0].contains(7, 7));
  both->strong_cells[0].remove_cell(7, 7);
  threat_list_matches_the_sets(*both, BLACK);
  std::mt19937 rng(99);
  int empty = 0;
  for (int game = 0; game < 120; ++game) {
    auto pos = make_position(game % 2 ? 20 : 15, 15, game % 3);
    EXPECT_TRUE(threat_list_matches_the_sets(*pos, BLACK));
    for (int i = 0; i < 8 + game % 25; ++i) {
      const int x = 2 + rng() % 11, y = 2 + rng() % 11;
      if (pos->cells[x][y] == EMPTY) pos->make_move(x, y, i % 2 ? WHITE : BLACK);
    }
    empty += threat_list_matches_the_sets(*pos, BLACK) + threat_list_matches_the_sets(*pos, WHITE);
  }
  EXPECT_LT(empty, 140);
}

}  // namespace
}  // namespace orvel
