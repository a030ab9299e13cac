// Pattern and combination tables, and the incremental records built on them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "board/pattern_table.h"
#include "board/position.h"
#include "board_test_util.h"

namespace orvel {
namespace {

using testing::make_position;
using testing::place_picture;

// A 9-cell window from a picture: X black, O white, # blocked, + or . empty.
uint32_t window(const char* cells9) {
  uint32_t w = 0;
  for (int i = 0; i < 9; ++i) {
    const char c = cells9[i];
    const uint32_t v = c == 'X' ? BLACK : c == 'O' ? WHITE : c == '#' ? BLOCKED : EMPTY;
    w |= v << (2 * i);
  }
  return w;
}

struct Row {
  const char* cells;
  int free_code, exact_code;  // free-style; standard and Renju (table only)
  int space;                  // -1: not checked
};

TEST(PatternTable, ExampleRowsForBlackUnderEveryRule) {
  const Row rows[] = {
      {"XXXX+....", 12, 12, 8}, {"XXXX+X...", 12, 13, -1}, {".XXX+.X..", 11, 11, -1}, {"OXXX+.X..", 10, 10, 7},
      {"XX.X+....", 9, 9, -1},  {"XXX.+.XXX", 9, 9, -1},   {"#XXX+....", 9, 9, 7},    {"..X.+XX..", 10, 10, -1},
      {".X.X+.X..", 7, 7, -1},  {"XX..+..XX", 6, 6, -1},   {"....+....", 0, 0, 8},    {"...#+....", 0, 0, 4},
  };
  for (const Row& r : rows)
    for (int rule = 0; rule < 3; ++rule) {
      const PatternEntry e = tables_for_rule(rule).entry(window(r.cells));
      EXPECT_EQ(e.code[0], rule == FREESTYLE ? r.free_code : r.exact_code) << r.cells << " rule " << rule;
      if (r.space >= 0) {
        EXPECT_EQ(e.space[0], r.space) << r.cells;
      }
    }
}

TEST(PatternTable, WhiteSixIsAFiveExceptUnderTheStandardRule) {
  const uint32_t w = window("OOOO+O...");
  EXPECT_EQ(tables_for_rule(FREESTYLE).entry(w).code[1], PAT_FIVE);
  EXPECT_EQ(tables_for_rule(STANDARD).entry(w).code[1], PAT_OVERLINE);
  EXPECT_EQ(tables_for_rule(RENJU).entry(w).code[1], PAT_FIVE);
}

TEST(PatternTable, ColoursAreSymmetricAndOccupiedCentresEmpty) {
  // Swapping the colours of a window swaps the free-style entries.
  const PatternTables& t = tables_for_rule(FREESTYLE);
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t w = rng() & 0x3FFFF;
    uint32_t swapped = 0;
    for (int c = 0; c < 9; ++c) {
      uint32_t v = (w >> (2 * c)) & 3;
      if (v == BLACK || v == WHITE) v = 3 - v;
      swapped |= v << (2 * c);
    }
    ASSERT_EQ(t.entry(w).code[0], t.entry(swapped).code[1]);
    ASSERT_EQ(t.entry(w).space[0], t.entry(swapped).space[1]);
    if (((w >> 8) & 3) != EMPTY) {  // an occupied centre has nothing
      ASSERT_EQ(t.entry(w).code[0] | t.entry(w).code[1] | t.entry(w).space[0] | t.entry(w).space[1], 0);
    }
  }
}

TEST(ComboTable, WorkedExamples) {
  const auto& free_t = tables_for_rule(FREESTYLE).combo_table;
  const auto& renju = tables_for_rule(RENJU).combo_table;
  EXPECT_EQ(free_t[0][8][8][0][0], -110);
  EXPECT_EQ(renju[1][8][8][0][0], -110);
  EXPECT_EQ(renju[0][8][8][0][0], -283);
  EXPECT_EQ(free_t[0][12][11][0][0], -1563);
  EXPECT_EQ(free_t[1][9][9][0][0], -181);
  EXPECT_EQ(renju[0][9][9][0][0], -384);
  EXPECT_EQ(renju[0][13][11][0][0], -255);
  EXPECT_EQ(renju[0][0][13][12][0], 0);
  EXPECT_EQ(free_t[0][0][0][0][0], 0);
  EXPECT_EQ(free_t[0][1][1][1][1], -2);
}

TEST(ComboTable, SymmetricInItsFourCodes) {
  for (int rule = 0; rule < 3; ++rule) {
    const auto& t = tables_for_rule(rule).combo_table;
    for (int s = 0; s < 2; ++s)
      for (int a = 0; a < 14; ++a)
        for (int b = 0; b < 14; ++b)
          for (int c = 0; c < 14; ++c)
            for (int d = 0; d < 14; ++d) {
              const int v = t[s][a][b][c][d];
              ASSERT_EQ(v, t[s][b][a][c][d]);
              ASSERT_EQ(v, t[s][a][c][b][d]);
              ASSERT_EQ(v, t[s][a][b][d][c]);
              ASSERT_EQ(v, t[s][d][b][c][a]);
              ASSERT_EQ(v, compute_combo_value(s, a, b, c, d, rule));
            }
  }
}

TEST(Records, EmptyBoards) {
  // An empty neighbourhood is code 0 everywhere: nothing to sum, only the
  // free space up to the edges.
  for (int rule = 0; rule < 3; ++rule)
    for (int size : {15, 20}) {
      auto p = make_position(size, size, rule);
      EXPECT_EQ(p->side_total[0], 0);
      EXPECT_EQ(p->side_total[1], 0);
      EXPECT_EQ(p->room_total[0], 0);
      EXPECT_EQ(p->stone_count, 0);
    }
  auto p = make_position(15, 15, FREESTYLE);
  const CellRecord& c = p->cell_records[7][7];
  for (int d = 0; d < 4; ++d) EXPECT_EQ(p->dir_patterns[d][7][7].code[0], 0);
  EXPECT_EQ(c.score[0], 0);
  EXPECT_EQ(c.weight[0], 32);
  EXPECT_EQ(c.combined[0], 0);
  EXPECT_EQ(c.contribution[0], 0);
  const CellRecord& corner = p->cell_records[0][0];
  EXPECT_EQ(corner.weight[1], 12);
  const CellRecord& near = p->cell_records[1][1];
  EXPECT_EQ(p->dir_patterns[2][1][1].space[0], 2);  // its anti-diagonal is 3 cells long
  EXPECT_EQ(near.weight[0], 17);
  // A rectangular board's blocked margin fills the square.
  auto rect = make_position(12, 9, STANDARD);
  EXPECT_EQ(rect->stone_count, 12 * 12 - 12 * 9);
  EXPECT_TRUE(p->is_consistent());
}

TEST(Records, FiveFiveCellsAwayIsSixUnderTheStandardRule) {
  // Four stones at (7,8)..(7,11) and a fifth at (7,12): a stone at (7,7)
  // makes six, though its 9-cell window only shows a five.
  for (int rule = 0; rule < 3; ++rule) {
    auto p = make_position(15, 15, rule);
    for (int y = 8; y <= 11; ++y) p->make_move(7, y, BLACK);
    p->make_move(7, 6 + 6, BLACK);  // (7,12): (7,7) would make six 7..12
    // Before: (7,7) sees XXXX+... only within its window up to (7,11).
    const int code = p->dir_patterns[0][7][7].code[0];
    EXPECT_EQ(code, rule == FREESTYLE ? PAT_FIVE : PAT_OVERLINE) << rule;
    EXPECT_TRUE(p->is_consistent());
  }
  // Stones (7,7)..(7,11): the window of (7,6) holds (7,7)..(7,10) and the
  // fifth stone (7,11) lies five cells away.
  for (int rule = 0; rule < 3; ++rule) {
    auto p = make_position(15, 15, rule);
    for (int y = 7; y <= 11; ++y) p->make_move(7, y, WHITE);
    p->undo_move(7, 11, WHITE);
    p->make_move(7, 11, WHITE);
    // WHITE: six only under the standard rule.
    EXPECT_EQ(p->dir_patterns[0][7][6].code[1], rule == STANDARD ? PAT_OVERLINE : PAT_FIVE) << rule;
  }
}

TEST(Records, OpenFourNextToAStoneUnderRenju) {
  // _XXX+_X : the cell + makes _XXXX_ but the right completion makes six.
  for (int side = BLACK; side <= WHITE; ++side) {
    auto p = make_position(15, 15, RENJU);
    for (int y : {4, 5, 6, 9}) p->make_move(7, y, side);
    EXPECT_EQ(p->dir_patterns[0][7][7].code[side - 1], side == BLACK ? PAT_FOUR : PAT_OPEN_FOUR);
    EXPECT_EQ(p->four_cells[side - 1].contains(7, 7), side == BLACK);
    EXPECT_EQ(p->open_four_cells[side - 1].contains(7, 7), side == WHITE);
    EXPECT_TRUE(p->is_consistent());
  }
}

TEST(Records, RenjuNeverCorrectsWhite) {
  auto p = make_position(15, 15, RENJU);
  for (int y : {2, 3, 4, 5, 7}) p->make_move(7, y, WHITE);
  EXPECT_EQ(p->dir_patterns[0][7][6].code[1], PAT_FIVE);  // a white six is a five
  EXPECT_EQ(p->dir_patterns[0][7][6].code[0], 0);
  EXPECT_TRUE(p->five_cells[1].contains(7, 6));
}

TEST(Records, ListMakersWalkColumnsThenRows) {
  auto p = make_position(15, 15, FREESTYLE);
  MoveEntry list[MAX_CELLS];
  EXPECT_EQ(p->list_four_cells(list, BLACK), 0);
  p->four_cells[0].add_dir(3, 7, 0);
  p->four_cells[0].add_dir(3, 2, 1);
  p->four_cells[0].add_dir(1, 9, 2);
  ASSERT_EQ(p->list_four_cells(list, BLACK), 3);
  EXPECT_EQ(list[0].x, 1);
  EXPECT_EQ(list[0].y, 9);
  EXPECT_EQ(list[1].x, 3);
  EXPECT_EQ(list[1].y, 2);
  EXPECT_EQ(list[2].x, 3);
  EXPECT_EQ(list[2].y, 7);
}

TEST(Records, OnePassChangeEqualsRemovingAndAddingTheContribution) {
  std::mt19937 rng(5);
  for (int rule = 0; rule < 3; ++rule) {
    auto fused = make_position(15, 15, rule);
    for (int i = 0; i < 60; ++i) {
      const int x = 4 + static_cast<int>(rng() % 7), y = 4 + static_cast<int>(rng() % 7);
      if (fused->cells[x][y] == EMPTY) fused->make_move(x, y, 1 + i % 2);
    }
    auto stepwise = std::make_unique<Position>(*fused);
    for (int i = 0; i < 2000; ++i) {
      const int x = static_cast<int>(rng() % 15), y = static_cast<int>(rng() % 15);
      const int s = static_cast<int>(rng() % 2), d = static_cast<int>(rng() % 4);
      const int code = static_cast<int>(rng() % 14), space = static_cast<int>(rng() % 9);
      fused->change_code<true>(x, y, s, d, code, space);

      stepwise->remove_cell_contribution<true>(x, y, s, d);
      DirPattern& p = stepwise->dir_patterns[d][x][y];
      CellRecord& c = stepwise->cell_records[x][y];
      c.score[s] = static_cast<int16_t>(c.score[s] + code_weight[code] - code_weight[p.code[s]]);
      c.weight[s] = static_cast<int16_t>(c.weight[s] + space - p.space[s]);
      p.code[s] = static_cast<int8_t>(code);
      p.space[s] = static_cast<int8_t>(space);
      stepwise->add_cell_contribution<true>(x, y, s, d);
      auto same = [&](const auto& a, const auto& b) { return std::memcmp(&a, &b, sizeof a) == 0; };
      ASSERT_TRUE(same(fused->dir_patterns, stepwise->dir_patterns)) << "step " << i;
      ASSERT_TRUE(same(fused->cell_records, stepwise->cell_records)) << "step " << i;
      ASSERT_TRUE(same(fused->side_total, stepwise->side_total)) << "step " << i;
      ASSERT_TRUE(same(fused->room_total, stepwise->room_total)) << "step " << i;
      ASSERT_TRUE(same(fused->code_keys, stepwise->code_keys)) << "step " << i;
      for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(same(fused->five_cells[k], stepwise->five_cells[k])) << "step " << i;
        ASSERT_TRUE(same(fused->open_four_cells[k], stepwise->open_four_cells[k])) << "step " << i;
        ASSERT_TRUE(same(fused->four_cells[k], stepwise->four_cells[k])) << "step " << i;
        ASSERT_TRUE(same(fused->three_cells[k], stepwise->three_cells[k])) << "step " << i;
        ASSERT_TRUE(same(fused->strong_cells[k], stepwise->strong_cells[k])) << "step " << i;
      }
    }
    std::string why;
    EXPECT_TRUE(fused->is_consistent(&why)) << why;
  }
}

// The random cross-check: after long sequences of placements, removals and
// nests of light trial stones, every record equals a fresh build's.
struct Board {
  int w, h;
};

class RandomRecords : public ::testing::TestWithParam<std::tuple<int, Board>> {};

TEST_P(RandomRecords, IncrementalRecordsEqualARecount) {
  const auto [rule, board] = GetParam();
  auto p = make_position(board.w, board.h, rule);
  const testing::LineSnapshot empty(*p);
  std::mt19937 rng(1000 * rule + board.w * 31 + board.h);
  struct M { int x, y, v; };
  std::vector<M> placed;
  auto random_empty = [&](int& x, int& y) {
    for (int tries = 0; tries < 200; ++tries) {
      x = rng() % board.h;
      y = rng() % board.w;
      if (p->cells[x][y] == EMPTY) return true;
    }
    return false;
  };
  for (int step = 0; step < 1500; ++step) {
    const unsigned r = rng() % 10;
    int x, y;
    if (r < 6 && placed.size() < 120 && random_empty(x, y)) {
      // Cluster stones so that fours, fives and overlines are common.
      const int v = (rng() % 12 == 0) ? BLOCKED : 1 + static_cast<int>(rng() % 2);
      p->make_move(x, y, v);
      placed.push_back({x, y, v});
    } else if (r < 9 && !placed.empty()) {
      const size_t i = rng() % placed.size();
      p->undo_move(placed[i].x, placed[i].y, placed[i].v);
      placed.erase(placed.begin() + static_cast<long>(i));
    } else {
      // A nest of light placements, taken back in reverse order.
      std::vector<M> light;
      for (int k = 0; k < 4 && random_empty(x, y); ++k) {
        const int v = 1 + static_cast<int>(rng() % 2);
        p->make_move_light(x, y, v);
        light.push_back({x, y, v});
      }
      for (auto it = light.rbegin(); it != light.rend(); ++it) p->undo_move_light(it->x, it->y, it->v);
    }
    if (step % 50 == 0) {
      std::string why;
      ASSERT_TRUE(p->is_consistent(&why)) << why << " at step " << step;
      ASSERT_EQ(testing::differs_from_fresh_build(*p), "") << "at step " << step;
    }
  }
  std::string why;
  ASSERT_TRUE(p->is_consistent(&why)) << why;
  ASSERT_EQ(testing::differs_from_fresh_build(*p), "");
  for (auto it = placed.rbegin(); it != placed.rend(); ++it) p->undo_move(it->x, it->y, it->v);
  EXPECT_TRUE(testing::LineSnapshot(*p) == empty);
  // Back to the empty board: its records exactly, sets empty.
  EXPECT_EQ(testing::differs_from_fresh_build(*p), "");
  for (int s = 0; s < 2; ++s) {
    EXPECT_EQ(p->side_total[s], 0);
    EXPECT_TRUE(p->five_cells[s].empty());
    EXPECT_TRUE(p->three_cells[s].empty());
    EXPECT_TRUE(p->strong_cells[s].empty());
  }
}

INSTANTIATE_TEST_SUITE_P(AllRulesAndBoards, RandomRecords,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(Board{15, 15}, Board{20, 20}, Board{12, 9},
                                                              Board{24, 24})));

}  // namespace
}  // namespace orvel
