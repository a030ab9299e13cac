// The static evaluation against a plain re-implementation that reads the direction
// codes cell by cell, on hand-built four-three and Renju positions and random games.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "../renju/position_snapshot.h"
#include "search_fixture.h"
#include "renju/forbidden.h"

namespace orvel {
namespace {

using Cell = std::pair<int, int>;
using Cells = std::vector<Cell>;

struct Harness : testing::SearchFixture {
  Harness(int rule, const Cells& black, const Cells& white, int width = 15, int height = 15)
      : SearchFixture(rule, width, height) {
    for (auto [x, y] : black) pos->make_move(x, y, BLACK);
    for (auto [x, y] : white) pos->make_move(x, y, WHITE);
  }
  int32_t eval(int side) { return search->evaluate(0, side); }
};

bool has_code(const Position& p, Cell c, int s, int lo, int hi, int only_d = -1) {  // s: 0 BLACK, 1 WHITE
  for (int d = 0; d < 4; ++d) {
    const int code = p.dir_patterns[d][c.first][c.second].code[s];
    if ((only_d < 0 || d == only_d) && code >= lo && code <= hi) return true;
  }
  return false;
}
// The side's five and open-four cells in the 33-cell neighbourhood of c: the
// 5 by 5 square and the cells at distance 3 on the four lines.
int plain_count(const Position& p, Cell c, int s, const std::set<Cell>& masked) {
  int n = 0;
  for (int dx = -3; dx <= 3; ++dx)
    for (int dy = -3; dy <= 3; ++dy) {
      const Cell h = {c.first + dx, c.second + dy};
      const bool in = std::max(std::abs(dx), std::abs(dy)) <= 2 || !dx || !dy || std::abs(dx) == std::abs(dy);
      n += in && p.on_board(h.first, h.second) && has_code(p, h, s, PAT_OPEN_FOUR, PAT_FIVE) && !masked.count(h);
    }
  return n;
}
Cells cells_with(const Position& p, int s, int lo, int hi) {
  Cells out;
  for (int x = 0; x < p.board_height; ++x)
    for (int y = 0; y < p.board_width; ++y)
      if (has_code(p, {x, y}, s, lo, hi)) out.push_back({x, y});
  return out;
}
Cells threat_list(const Position& p, int s) {  // four cells, then three cells
  Cells out = cells_with(p, s, PAT_FOUR, PAT_FOUR_PLUS), threes = cells_with(p, s, PAT_THREE_SPLIT, PAT_THREE);
  out.insert(out.end(), threes.begin(), threes.end());
  return out;
}

// renju_terms false leaves out every forbidden-cell term. Forbidden cells are
// judged on a copy, so the position is not touched.
int32_t plain_evaluate(const Position& p, int side, bool renju_terms = true) {
  auto copy = std::make_unique<Position>(p);
  auto forbidden = [&](Cell c) { return renju_terms && p.rule == RENJU && is_forbidden(*copy, c.first, c.second); };
  auto four = [&](Cell c, int t) { return has_code(p, c, t, PAT_FOUR, PAT_FOUR_PLUS); };
  auto term = [&](Cell c, int t, int k) { return p.cell_records[c.first][c.second].weight[t] * k * 20 / 32; };
  auto cost = [&](Cell c) { return forbidden(c) ? p.cell_records[c.first][c.second].score[0] < 158 ? 200 : 120 : 0; };
  const int s = side - 1, o = 2 - side;
  const Cells list[2] = {threat_list(p, 0), threat_list(p, 1)};
  if (p.rule == FREESTYLE && cells_with(p, o, PAT_FOUR, PAT_FIVE).empty())
    for (Cell c : list[s])
      if (four(c, s) && has_code(p, c, s, PAT_THREE_SPLIT, PAT_THREE)) return FOUR_THREE_SCORE;
  int32_t v = p.side_total[s] - p.side_total[o];
  Cells urgent = cells_with(p, o, PAT_FIVE, PAT_FIVE);  // the opponent's first five cell, else open-four cell
  if (urgent.empty()) urgent = cells_with(p, o, PAT_OPEN_FOUR, PAT_OPEN_FOUR);
  if (!urgent.empty()) v += p.cell_records[urgent[0].first][urgent[0].second].weight[o] * 50 / 32;
  // The opponent's terms are the side's with the sign turned; only BLACK's
  // list loses cells it may not play, and only WHITE's cells cost 200 or 120.
  for (int t : {s, o}) {
    const int sign = t == s ? 1 : -1;
    std::set<Cell> masked;
    for (Cell c : list[t])
      if (t == 0 && forbidden(c)) masked.insert(c);
    if (t == o && masked.size() < std::set<Cell>(list[o].begin(), list[o].end()).size()) v += 100;
    for (Cell c : list[t])
      if (!masked.count(c))
        v += sign * (term(c, t, plain_count(p, c, t, masked) - (four(c, t) ? 1 : 2)) + (t == 1 ? cost(c) : 0));
    int dirs = 0;
    for (Cell c : cells_with(p, t, PAT_OPEN_FOUR, PAT_FIVE))
      for (int d = 0; d < 4; ++d) dirs |= has_code(p, c, t, PAT_OPEN_FOUR, PAT_FIVE, d) << d;
    if (__builtin_popcount(dirs) > 1) v += sign * 200;
  }
  return v + 60;
}

// The free-style four-three, BLACK to move: (7,7) completes a four on row 7
// and an open three on column 7.
TEST(Evaluate, FourThreeShortcutOnlyUnderFreeStyleAgainstNoFour) {
  const Cells four_three = {{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, scattered = {{7, 3}, {2, 12}, {12, 2}};
  struct Row {
    const char* name;
    int rule;
    Cells black, white;
    bool shortcut;
  } rows[] = {
      {"free-style", FREESTYLE, four_three, scattered, true},
      {"standard", STANDARD, four_three, scattered, false},
      {"renju", RENJU, four_three, scattered, false},
      {"against a four", FREESTYLE, {{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}, {2, 1}}, {{7, 3}, {2, 2}, {2, 3}, {2, 4}},
       false},
      {"against a three", FREESTYLE, four_three, {{7, 3}, {2, 2}, {2, 3}}, true},
      {"a four cell and another three cell", FREESTYLE, {{7, 4}, {7, 5}, {7, 6}, {11, 9}, {11, 10}}, scattered, false},
  };
  for (const Row& r : rows) {
    Harness t(r.rule, r.black, r.white);
    const int32_t v = t.eval(BLACK);
    EXPECT_EQ(v == FOUR_THREE_SCORE, r.shortcut) << r.name;
    EXPECT_EQ(v, plain_evaluate(*t.pos, BLACK)) << r.name;
    EXPECT_EQ(t.eval(BLACK), v) << r.name;  // a later call never sees the stamps of an earlier one
  }
}

// Renju: BLACK's forbidden threat cells count for nothing, and the opponent's
// threat cells that BLACK may not play cost BLACK (or gain WHITE) 200, or 120
// where BLACK's cell score is 158 or more. a: (4,11) is a double three of
// BLACK and a three cell of both sides. b: (7,7) is an overline point of
// BLACK, in no BLACK list, and a WHITE three cell; c: the same with BLACK's
// cell score there exactly 158. d: every BLACK threat cell is forbidden, so
// WHITE to move takes back the 100 for BLACK's threats.
TEST(Evaluate, RenjuForbiddenCellTerms) {
  for (int side : {BLACK, WHITE}) {
    Harness a(RENJU, {{4, 9}, {4, 10}, {2, 11}, {3, 11}}, {{5, 10}, {6, 9}});
    Harness b(RENJU, {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}}, {{8, 6}, {9, 5}});
    Harness c(RENJU, {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}, {8, 7}, {10, 7}}, {{8, 6}, {9, 5}, {2, 2}});
    Harness d(RENJU,
              {{4, 8}, {4, 4}, {6, 5}, {8, 6}, {8, 4}, {8, 7}, {7, 5}, {4, 7}, {5, 8}, {9, 7}, {5, 6}, {7, 7},
               {10, 9}, {7, 8}},
              {{4, 5}, {5, 5}, {4, 9}, {11, 9}, {11, 10}, {11, 7}, {5, 9}, {10, 8}, {9, 3}, {10, 4}, {9, 6},
               {3, 6}, {2, 9}, {6, 6}, {10, 7}, {2, 8}, {6, 4}, {6, 7}, {9, 8}, {8, 9}, {7, 9}, {7, 6}});
    ASSERT_TRUE(is_forbidden(*a.pos, 4, 11) && a.pos->score(4, 11, BLACK) >= 158);
    ASSERT_TRUE(is_forbidden(*b.pos, 7, 7) && b.pos->score(7, 7, BLACK) < 158);
    ASSERT_TRUE(is_forbidden(*c.pos, 7, 7) && c.pos->score(7, 7, BLACK) == 158);
    ASSERT_EQ(threat_list(*d.pos, 0).size(), 3u);
    for (Cell t : threat_list(*d.pos, 0)) ASSERT_TRUE(is_forbidden(*d.pos, t.first, t.second));
    const int dropped = a.pos->weight(4, 11, BLACK) * 40 / 32;  // BLACK's term there, k = -2 or 2
    const int sign = side == BLACK ? -1 : 1;
    EXPECT_EQ(a.eval(side) - plain_evaluate(*a.pos, side, false), sign * (120 - dropped));
    EXPECT_EQ(b.eval(side) - plain_evaluate(*b.pos, side, false), sign * 200);
    for (Harness* h : {&a, &b, &c, &d}) EXPECT_EQ(h->eval(side), plain_evaluate(*h->pos, side)) << side;
  }
}

// Weights whose "over 32" terms divide exactly, so that the value must equal the sum
// of the counted terms times their weights.
constexpr EvalWeights EXACT_WEIGHTS = {{64, 32, 96, 32, 160, 7, 11, 13, 17, 19, 23}};

// Random games under each rule, evaluated as they grow from the empty board (the
// difference of the totals plus 60): the evaluation matches the plain one and leaves
// the position as found, and the neighbourhood count matches the scan on every cell.
// What the evaluation counts for the tuner, times the weights, is its value.
TEST(Evaluate, MatchesThePlainEvaluationOnRandomGames) {
  std::mt19937 rng(9001);
  int at_edge = 0;
  for (int game = 0; game < 48; ++game) {
    const int rule = game % 3, w = game % 4 == 0 ? 20 : 15, h = game % 4 == 1 ? 20 : w;
    Harness t(rule, {}, {}, w, h);
    for (int step = 0; step <= 10; ++step) {
      if (step > 0) testing::fill_random(*t.pos, rng, 2 + step % 3, step < 5 || w != h ? 9 : w);
      for (int side : {BLACK, WHITE}) {
        const int32_t expected = plain_evaluate(*t.pos, side);
        const testing::PatternRecordSnapshot before(*t.pos);
        const int32_t v = t.eval(side);
        EXPECT_EQ(testing::PatternRecordSnapshot(*t.pos).diff(before), "");
        EXPECT_EQ(v, expected) << "game " << game << " step " << step << " side " << side;
        EXPECT_TRUE(step > 0 || v == t.pos->side_total[side - 1] - t.pos->side_total[2 - side] + 60);
        EvalFeatures f;
        EXPECT_EQ(t.search->evaluate_terms(side, BASE_WEIGHTS, &f), v);
        const int32_t weighted = t.search->evaluate_terms(side, EXACT_WEIGHTS, &f);
        int64_t sum = 0;
        for (int k = 0; k < EVAL_TERMS; ++k)
          sum += f.term[k] * (term_over_32(k) ? EXACT_WEIGHTS.term[k] / 32 : EXACT_WEIGHTS.term[k]);
        EXPECT_EQ(weighted, f.decided ? FOUR_THREE_SCORE : sum) << "game " << game << " step " << step;
        for (int x = 0; x < h; ++x)
          for (int y = 0; y < w; ++y) {
            const int n = plain_count(*t.pos, {x, y}, side - 1, {});
            ASSERT_EQ(t.search->neighbourhood_threat_count(x, y, side), n) << x << "," << y;
            at_edge += n > 0 && std::min({x, y, h - 1 - x, w - 1 - y}) < 3;
          }
      }
    }
  }
  EXPECT_GT(at_edge, 0);  // counts clipped at the border
}

}  // namespace
}  // namespace orvel
