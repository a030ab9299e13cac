// Renju forbidden points: hand-built edge cases, the reply line, the promise
// that the position comes back exactly as found, and a file of positions
// whose forbidden points were worked out by an independent rules checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../search/search_fixture.h"
#include "renju/forbidden.h"

namespace orvel {
namespace {

using testing::FullSnapshot;
using Cells = std::vector<std::pair<int, int>>;

std::unique_ptr<Position> renju(int width, int height, const Cells& black = {}, const Cells& white = {}) {
  auto pos = std::make_unique<Position>();
  pos->configure(width, height, RENJU);
  for (auto [x, y] : black) pos->make_move(x, y, BLACK);
  for (auto [x, y] : white) pos->make_move(x, y, WHITE);
  return pos;
}

// Asks every empty cell in board order (or the reverse) and checks that the
// calls leave the position as found (each call, or the pass as a whole).
Cells all_forbidden(Position& pos, bool each_call, bool reverse = false) {
  Cells found;
  const FullSnapshot start(pos);
  const int cells = pos.board_size * pos.board_size;
  for (int i = 0; i < cells; ++i) {
    const int x = (reverse ? cells - 1 - i : i) / pos.board_size, y = (reverse ? cells - 1 - i : i) % pos.board_size;
    if (!pos.on_board(x, y) || pos.cells[x][y] != EMPTY) continue;
    if (!each_call) {
      if (is_forbidden(pos, x, y)) found.emplace_back(x, y);
      continue;
    }
    const FullSnapshot before(pos);
    if (is_forbidden(pos, x, y)) found.emplace_back(x, y);
    EXPECT_TRUE(FullSnapshot(pos) == before) << "is_forbidden(" << x << "," << y << ") changed the position";
  }
  EXPECT_TRUE(FullSnapshot(pos) == start) << "a pass of is_forbidden changed the position";
  EXPECT_EQ(testing::differs_from_fresh_build(pos), "");
  if (reverse) std::reverse(found.begin(), found.end());
  return found;
}

struct Shape {
  const char* what;
  Cells black, white;
  int x, y, forbidden;
  std::vector<std::pair<int, int>> codes;  // direction and BLACK code at (x, y), to be sure of the shape
};

const Cells THREES = {{7, 5}, {7, 6}, {8, 7}, {9, 7}}, COLUMN_8 = {{6, 8}, {8, 8}, {9, 8}, {10, 8}, {11, 8}};
Cells operator+(Cells a, const Cells& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// clang-format off
const Shape SHAPES[] = {
    {"six", {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}}, {}, 7, 7, 1, {{0, PAT_OVERLINE}}},
    {"six, the sixth stone five cells off", {{7, 8}, {7, 9}, {7, 10}, {7, 11}, {7, 12}}, {}, 7, 7, 1, {{0, PAT_OVERLINE}}},
    {"six at the other end", {{7, 8}, {7, 9}, {7, 10}, {7, 11}, {7, 12}}, {}, 7, 13, 1, {{0, PAT_OVERLINE}}},
    {"five beside six", {{7, 3}, {7, 4}, {7, 5}, {7, 6}, {4, 7}, {5, 7}, {6, 7}, {8, 7}, {9, 7}}, {}, 7, 7, 0,
     {{0, PAT_FIVE}, {1, PAT_OVERLINE}}},
    {"six beside five", {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}, {3, 7}, {4, 7}, {5, 7}, {6, 7}}, {}, 7, 7, 0,
     {{0, PAT_OVERLINE}, {1, PAT_FIVE}}},
    {"five beside two open threes", {{7, 3}, {7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}, {8, 8}, {9, 9}}, {}, 7, 7, 0,
     {{0, PAT_FIVE}}},
    {"double four in two lines", {{4, 7}, {4, 8}, {4, 9}, {1, 10}, {2, 10}, {3, 10}}, {{14, 7}, {10, 14}}, 4, 10, 1, {}},
    {"X_XXX_X", {{7, 3}, {7, 5}, {7, 6}, {7, 9}}, {}, 7, 7, 1, {{0, PAT_FOUR_PLUS}}},
    {"XX_XX_XX", {{7, 2}, {7, 3}, {7, 5}, {7, 8}, {7, 9}}, {}, 7, 6, 1, {{0, PAT_FOUR}}},
    {"XXXX_XX: the far end makes seven", {{7, 3}, {7, 4}, {7, 6}, {7, 8}, {7, 9}}, {}, 7, 5, 0, {{0, PAT_FOUR}}},
    {"X_XXX: a single four", {{7, 3}, {7, 5}, {7, 6}}, {}, 7, 7, 0, {{0, PAT_FOUR_PLUS}}},
    {"closed straight four", {{7, 4}, {7, 5}, {7, 6}}, {{7, 3}}, 7, 7, 0, {{0, PAT_FOUR}}},
    {"open four", {{7, 4}, {7, 5}, {7, 6}}, {}, 7, 7, 0, {{0, PAT_OPEN_FOUR}}},
    {"four-three", {{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, {{7, 3}}, 7, 7, 0, {{0, PAT_FOUR}, {1, PAT_THREE}}},
    {"open four and open three", {{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, {}, 7, 7, 0,
     {{0, PAT_OPEN_FOUR}, {1, PAT_THREE}}},
    {"four-three whose four line holds X_XXX_X", {{7, 3}, {7, 5}, {7, 6}, {7, 9}, {8, 7}, {9, 7}}, {}, 7, 7, 1,
     {{0, PAT_FOUR_PLUS}, {1, PAT_THREE}}},
    {"split four and three", {{7, 5}, {7, 6}, {7, 9}, {8, 7}, {9, 7}}, {}, 7, 7, 0, {{1, PAT_THREE}}},
    {"double three", THREES, {{7, 3}}, 7, 7, 1, {{0, PAT_THREE}, {1, PAT_THREE}}},
    {"double three with a split three", {{7, 5}, {7, 8}, {8, 7}, {9, 7}}, {}, 7, 7, 1,
     {{0, PAT_THREE_SPLIT}, {1, PAT_THREE}}},
    {"a three whose only extension is a six", THREES + COLUMN_8, {{7, 3}}, 7, 7, 0, {{0, PAT_THREE}, {1, PAT_THREE}}},
    {"that extension", THREES + COLUMN_8, {{7, 3}}, 7, 8, 1, {{1, PAT_OVERLINE}}},
    {"the same three open at its other end", THREES + COLUMN_8, {}, 7, 7, 1, {{0, PAT_THREE}, {1, PAT_THREE}}},
    {"single three", {{7, 5}, {7, 6}}, {}, 7, 7, 0, {{0, PAT_THREE}}},
    {"open three beside a closed three", THREES, {{10, 7}}, 7, 7, 0, {{0, PAT_THREE}}},
};
// clang-format on

TEST(ForbiddenShapes, EdgeCases) {
  for (const Shape& s : SHAPES) {
    SCOPED_TRACE(s.what);
    auto pos = renju(15, 15, s.black, s.white);
    for (auto [d, code] : s.codes) ASSERT_EQ(pos->code(d, s.x, s.y, BLACK), code) << "direction " << d;
    const FullSnapshot before(*pos);
    EXPECT_EQ(is_forbidden(*pos, s.x, s.y), s.forbidden);
    EXPECT_TRUE(FullSnapshot(*pos) == before) << "is_forbidden must leave the position as found";
    std::string why;
    EXPECT_TRUE(pos->is_consistent(&why)) << why;
  }
}

TEST(ForbiddenShapes, WhiteIsNeverForbidden) {
  // WHITE holds a double three, a double four, X_XXX_X and a six; BLACK stones sit far away.
  const Cells white = {{7, 5},  {7, 6},  {5, 7},  {6, 7},  {1, 1},  {1, 2},  {1, 3},  {2, 4},   {3, 4},  {4, 4},
                       {11, 1}, {11, 3}, {11, 4}, {11, 7}, {13, 6}, {13, 7}, {13, 8}, {13, 10}, {13, 11}};
  auto pos = renju(15, 15, {{0, 14}, {14, 14}, {3, 13}, {9, 13}}, white);
  EXPECT_EQ(forbidden_line(*pos), "FORBID .");
  EXPECT_EQ(pos->code(0, 13, 9, WHITE), PAT_FIVE) << "a white six counts as five";
}

TEST(ForbiddenLine, EmptyAndRectangularBoards) {
  for (auto [w, h] : {std::pair{15, 15}, std::pair{20, 20}, std::pair{15, 10}, std::pair{24, 24}})
    EXPECT_EQ(forbidden_line(*renju(w, h)), "FORBID .") << w << "x" << h;
  // On a board 15 wide and 10 high the cells below it are blocked: never listed.
  auto pos = renju(15, 10, {{4, 9}, {4, 10}, {2, 11}, {3, 11}});
  EXPECT_EQ(forbidden_line(*pos), "FORBID 0411.");
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y)
      EXPECT_TRUE(pos->cells[x][y] == EMPTY || !is_forbidden(*pos, x, y)) << x << "," << y;
}

// Busy random positions: every answer leaves the position as found, and the
// answers do not depend on the order of the calls.
TEST(ForbiddenRestore, RandomPositions) {
  std::mt19937 rng(20240607);
  int forbidden_seen = 0;
  for (int game = 0; game < 40; ++game) {
    auto pos = renju(game % 4 ? 15 : 20, game % 4 ? 15 : 20);
    std::uniform_int_distribution<int> coord(pos->board_size / 2 - 4, pos->board_size / 2 + 4);
    // Stones alternate in a central square; nobody completes five and BLACK
    // never plays a forbidden point, so the shapes pile up.
    for (int placed = 0, tries = 0; placed < 20 + game % 5 * 8 && tries < 2000; ++tries) {
      const int x = coord(rng), y = coord(rng), v = placed % 2 ? WHITE : BLACK;
      bool five = false;
      for (int d = 0; d < 4; ++d) five |= pos->code(d, x, y, v) >= PAT_FIVE;
      if (pos->cells[x][y] == EMPTY && !five && (v == WHITE || !is_forbidden(*pos, x, y)))
        pos->make_move(x, y, v), ++placed;
    }
    auto copy = std::make_unique<Position>(*pos);
    const Cells forward = all_forbidden(*pos, true);
    EXPECT_EQ(all_forbidden(*copy, false, true), forward) << "game " << game;
    forbidden_seen += forward.size();
    std::string why;
    ASSERT_TRUE(pos->is_consistent(&why)) << why;
  }
  EXPECT_GT(forbidden_seen, 20) << "the random positions should hold forbidden points";
}

// The integer pairs of the array that follows "key": in a line of the file.
Cells pairs(const std::string& text, const std::string& key) {
  Cells out;
  size_t i = text.find('[', text.find("\"" + key + "\":")) + 1;  // inside the outer array
  for (int a, b; text[i] == '[' && std::sscanf(&text[i], "[%d,%d]", &a, &b) == 2; i = text.find(']', i) + 2)
    out.emplace_back(a, b);
  return out;
}

TEST(ForbiddenPuzzles, EveryPositionMatchesTheIndependentChecker) {
  std::ifstream in(std::string(ORVEL_TEST_DATA) + "/renju_forbidden.jsonl");
  std::string text, all;
  int positions = 0, points = 0;
  while (std::getline(in, text)) {
    all += text;
    const int size = std::stoi(text.substr(text.find("\"size\":") + 7));
    auto pos = renju(size, size);
    const Cells moves = pairs(text, "moves");
    for (size_t i = 0; i < moves.size(); ++i) pos->make_move(moves[i].first, moves[i].second, i % 2 ? WHITE : BLACK);
    Cells expected = pairs(text, "forbidden");
    std::sort(expected.begin(), expected.end());
    ++positions;
    EXPECT_EQ(all_forbidden(*pos, false), expected) << "line " << positions;
    std::string line = "FORBID ";
    char cell[8];
    for (auto [x, y] : expected) std::snprintf(cell, sizeof cell, "%02d%02d", x, y), line += cell;
    EXPECT_EQ(forbidden_line(*pos), line + ".") << "line " << positions;
    points += expected.size();
  }
  EXPECT_EQ(positions, 100);
  EXPECT_GT(points, 300);
  // The file holds every kind of shape we care about.
  for (const char* tag : {"double-three", "double-four", "overline", "four-three", "fake-double-three",
                          "five-beside-overline", "double-four-one-line", "nested"})
    EXPECT_NE(all.find(std::string("\"") + tag + "\":[["), std::string::npos) << tag;
}

}  // namespace
}  // namespace orvel
