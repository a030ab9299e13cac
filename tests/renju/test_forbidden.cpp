// The Renju forbidden-point test: hand-built shapes, the reply line, the
// promise that the position comes back exactly as found, and a file of
// positions whose forbidden points were worked out by an independent
// rules checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "renju/forbidden.h"
#include "position_snapshot.h"

namespace orvel {
namespace {

using testing::PatternRecordSnapshot;
using testing::renju_position;
using Cells = std::vector<std::pair<int, int>>;

void put(Position& pos, const Cells& cells, int v) {
  for (auto [x, y] : cells) pos.make_move(x, y, v);
}

// Every empty forbidden cell, ascending x then y.
Cells all_forbidden(Position& pos) {
  Cells out;
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      if (pos.cells[x][y] == EMPTY && is_forbidden(pos, x, y)) out.emplace_back(x, y);
  return out;
}

// ---------------------------------------------------------------------------
// The reply line.

TEST(ForbiddenLine, EmptyBoardsHaveNoForbiddenPoint) {
  for (auto [w, h] : {std::pair{15, 15}, std::pair{20, 20}, std::pair{15, 10}, std::pair{24, 24}}) {
    auto pos = std::make_unique<Position>();
    pos->configure(w, h, RENJU);
    EXPECT_EQ(forbidden_line(*pos), "FORBID .") << w << "x" << h;
    EXPECT_TRUE(all_forbidden(*pos).empty());
  }
}

TEST(ForbiddenLine, PointsAreWrittenXFirstInBoardOrder) {
  auto pos = renju_position();
  // An overline point at (3, 8) and X_XXX_X around (10, 7).
  put(*pos, {{3, 5}, {3, 6}, {3, 7}, {3, 9}, {3, 10}}, BLACK);
  put(*pos, {{10, 3}, {10, 5}, {10, 6}, {10, 9}}, BLACK);
  put(*pos, {{0, 0}, {0, 14}, {14, 0}, {14, 14}, {14, 7}}, WHITE);
  EXPECT_EQ(forbidden_line(*pos), "FORBID 03081007.");
  EXPECT_EQ(all_forbidden(*pos), (Cells{{3, 8}, {10, 7}}));
}

TEST(ForbiddenLine, OccupiedAndBlockedCellsAreNeverListed) {
  // A rectangular board: the blocked cells outside it answer 0.
  auto pos = std::make_unique<Position>();
  pos->configure(15, 10, RENJU);
  put(*pos, {{4, 9}, {4, 10}, {2, 11}, {3, 11}}, BLACK);
  EXPECT_EQ(forbidden_line(*pos), "FORBID 0411.");
  for (int x = 0; x < pos->board_size; ++x)
    for (int y = 0; y < pos->board_size; ++y)
      if (pos->cells[x][y] != EMPTY) {
        EXPECT_EQ(is_forbidden(*pos, x, y), 0) << x << "," << y;
      }
}

// ---------------------------------------------------------------------------
// Overlines and fives.

TEST(ForbiddenShapes, OverlineIsForbidden) {
  auto pos = renju_position();
  put(*pos, {{3, 5}, {3, 6}, {3, 7}, {3, 9}, {3, 10}}, BLACK);
  put(*pos, {{0, 0}, {0, 14}, {14, 0}, {14, 14}}, WHITE);
  EXPECT_EQ(pos->code(0, 3, 8, BLACK), PAT_OVERLINE);
  EXPECT_EQ(is_forbidden(*pos, 3, 8), 1);
  EXPECT_EQ(forbidden_line(*pos), "FORBID 0308.");
}

TEST(ForbiddenShapes, SixthStoneOutsideTheWindowStillMakesAnOverline) {
  // Only a finished five can leave the sixth stone five cells from the
  // point; the exact-five correction has turned both ends into 13.
  auto pos = renju_position();
  put(*pos, {{7, 8}, {7, 9}, {7, 10}, {7, 11}, {7, 12}}, BLACK);
  EXPECT_EQ(pos->code(0, 7, 7, BLACK), PAT_OVERLINE);
  EXPECT_EQ(pos->code(0, 7, 13, BLACK), PAT_OVERLINE);
  EXPECT_EQ(is_forbidden(*pos, 7, 7), 1);
  EXPECT_EQ(is_forbidden(*pos, 7, 13), 1);
}

TEST(ForbiddenShapes, FiveBesideSixIsAllowedInEitherDirectionOrder) {
  {
    // Five along direction 0 (first), six along direction 1 (later).
    auto pos = renju_position();
    put(*pos, {{7, 3}, {7, 4}, {7, 5}, {7, 6}}, BLACK);
    put(*pos, {{4, 7}, {5, 7}, {6, 7}, {8, 7}, {9, 7}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_FIVE);
    ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_OVERLINE);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
  {
    // Six along direction 0 (first), five along direction 1 (later).
    auto pos = renju_position();
    put(*pos, {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}}, BLACK);
    put(*pos, {{3, 7}, {4, 7}, {5, 7}, {6, 7}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_OVERLINE);
    ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_FIVE);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
  {
    // The same six without the five is forbidden.
    auto pos = renju_position();
    put(*pos, {{7, 4}, {7, 5}, {7, 6}, {7, 8}, {7, 9}}, BLACK);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 1);
  }
}

TEST(ForbiddenShapes, FiveWithAFourOrThreeElsewhereIsAllowed) {
  // A five never counts as forbidden, whatever else the point makes: here
  // a five in direction 0 together with two open threes.
  auto pos = renju_position();
  put(*pos, {{7, 3}, {7, 4}, {7, 5}, {7, 6}}, BLACK);
  put(*pos, {{8, 7}, {9, 7}, {8, 8}, {9, 9}}, BLACK);
  ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_FIVE);
  EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
}

// ---------------------------------------------------------------------------
// Fours.

TEST(ForbiddenShapes, DoubleFourInTwoLinesIsForbidden) {
  auto pos = renju_position();
  put(*pos, {{4, 7}, {4, 8}, {4, 9}, {1, 10}, {2, 10}, {3, 10}}, BLACK);
  put(*pos, {{14, 0}, {14, 14}, {14, 7}, {10, 0}, {10, 14}}, WHITE);
  EXPECT_EQ(forbidden_line(*pos), "FORBID 0410.");
}

TEST(ForbiddenShapes, TwoFoursInOneLineAreForbidden) {
  {
    // X_XXX_X with the middle stone to play.
    auto pos = renju_position();
    put(*pos, {{7, 3}, {7, 5}, {7, 6}, {7, 9}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_FOUR_PLUS);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 1);
  }
  {
    // XX_XX_XX with (7,6) to play: (7,4) and (7,7) both complete five.
    auto pos = renju_position();
    put(*pos, {{7, 2}, {7, 3}, {7, 5}, {7, 8}, {7, 9}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 6, BLACK), PAT_FOUR);
    EXPECT_EQ(is_forbidden(*pos, 7, 6), 1);
  }
  {
    // XXXX_XX with (7,5) to play: (7,7) would make seven, so only (7,2)
    // completes five; one four, allowed (and the straight four is already
    // lowered to 9 by the exact-five rule).
    auto pos = renju_position();
    put(*pos, {{7, 3}, {7, 4}, {7, 6}, {7, 8}, {7, 9}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 5, BLACK), PAT_FOUR);
    EXPECT_EQ(is_forbidden(*pos, 7, 5), 0);
  }
}

TEST(ForbiddenShapes, SingleFourIsAllowed) {
  {
    // X_XXX where only (7,4) completes five: the line check fails.
    auto pos = renju_position();
    put(*pos, {{7, 3}, {7, 5}, {7, 6}}, BLACK);
    ASSERT_GE(pos->code(0, 7, 7, BLACK), PAT_FOUR);
    ASSERT_LE(pos->code(0, 7, 7, BLACK), PAT_FOUR_PLUS);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
  {
    // A closed straight four.
    auto pos = renju_position();
    put(*pos, {{7, 4}, {7, 5}, {7, 6}}, BLACK);
    put(*pos, {{7, 3}}, WHITE);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_FOUR);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
  {
    // An open four alone.
    auto pos = renju_position();
    put(*pos, {{7, 4}, {7, 5}, {7, 6}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_OPEN_FOUR);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
}

TEST(ForbiddenShapes, FourThreeIsAllowedUnlessTheFourLineHoldsASecondFour) {
  {
    // Closed four along the row, open three along the column.
    auto pos = renju_position();
    put(*pos, {{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, BLACK);
    put(*pos, {{7, 3}}, WHITE);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_FOUR);
    ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_THREE);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
  {
    // Open four and open three: the line check passes (both ends of the
    // run are four points), so the confirmation runs; an open four counts
    // as one four only, and the point stays allowed.
    auto pos = renju_position();
    put(*pos, {{7, 4}, {7, 5}, {7, 6}, {8, 7}, {9, 7}}, BLACK);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_OPEN_FOUR);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  }
  {
    // X_XXX_X along the row plus an open three: two fours in one line.
    auto pos = renju_position();
    put(*pos, {{7, 3}, {7, 5}, {7, 6}, {7, 9}, {8, 7}, {9, 7}}, BLACK);
    ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_THREE);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 1);
  }
}

// ---------------------------------------------------------------------------
// Threes.

TEST(ForbiddenShapes, DoubleOpenThreeIsForbidden) {
  auto pos = renju_position();
  put(*pos, {{4, 9}, {4, 10}, {2, 11}, {3, 11}}, BLACK);
  put(*pos, {{0, 0}, {0, 14}, {14, 0}}, WHITE);
  EXPECT_EQ(forbidden_line(*pos), "FORBID 0411.");
  // A split three counts as well: X_X with the point in the gap's place.
  auto pos2 = renju_position();
  put(*pos2, {{7, 5}, {7, 8}, {8, 7}, {9, 7}}, BLACK);  // row: X_+X -> split three
  ASSERT_EQ(pos2->code(0, 7, 7, BLACK), PAT_THREE_SPLIT);
  ASSERT_EQ(pos2->code(1, 7, 7, BLACK), PAT_THREE);
  EXPECT_EQ(is_forbidden(*pos2, 7, 7), 1);
}

TEST(ForbiddenShapes, ThreeWhoseOnlyOpenFourPointIsForbiddenDoesNotCount) {
  // Row 7: O _ X X [+] _ _ : the only open-four point is (7,8).
  // Column 7: (8,7), (9,7): a plain open three.
  const Cells base_black = {{7, 5}, {7, 6}, {8, 7}, {9, 7}};
  {
    auto pos = renju_position();
    put(*pos, base_black, BLACK);
    put(*pos, {{7, 3}}, WHITE);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_THREE);
    ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_THREE);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 1) << "both threes are real";
  }
  {
    // Column 8 now holds X _ X X X X around (7,8): a stone there is an
    // overline, so the row three cannot become a straight four.
    auto pos = renju_position();
    put(*pos, base_black, BLACK);
    put(*pos, {{6, 8}, {8, 8}, {9, 8}, {10, 8}, {11, 8}}, BLACK);
    put(*pos, {{7, 3}}, WHITE);
    ASSERT_EQ(pos->code(0, 7, 7, BLACK), PAT_THREE);
    ASSERT_EQ(pos->code(1, 7, 7, BLACK), PAT_THREE);
    ASSERT_EQ(is_forbidden(*pos, 7, 8), 1);
    EXPECT_EQ(is_forbidden(*pos, 7, 7), 0) << "one three is not real";
  }
}

TEST(ForbiddenShapes, ThreeExtendedAtTheOtherEndStillCounts) {
  // Same as above but the row three is open on the left too: (7,4) makes a
  // straight four that is not forbidden, so the point is forbidden again.
  auto pos = renju_position();
  put(*pos, {{7, 5}, {7, 6}, {8, 7}, {9, 7}}, BLACK);
  put(*pos, {{6, 8}, {8, 8}, {9, 8}, {10, 8}, {11, 8}}, BLACK);
  ASSERT_EQ(is_forbidden(*pos, 7, 8), 1);
  EXPECT_EQ(is_forbidden(*pos, 7, 7), 1);
}

TEST(ForbiddenShapes, SingleThreeAndThreeBesideAClosedThreeAreAllowed) {
  auto pos = renju_position();
  put(*pos, {{7, 5}, {7, 6}}, BLACK);
  EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
  // A second line with a closed three (O X X +) is no open three.
  put(*pos, {{8, 7}, {9, 7}}, BLACK);
  put(*pos, {{10, 7}}, WHITE);
  ASSERT_LT(pos->code(1, 7, 7, BLACK), PAT_THREE_SPLIT);
  EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
}

TEST(ForbiddenShapes, SplitFourWithAThreeIsAFourThree) {
  // Along the row: X X + _ X. Placing (7,7) gives XXX_X, a four, not a
  // three; with the open three along the column it is an allowed four-three.
  auto pos = renju_position();
  put(*pos, {{7, 5}, {7, 6}, {7, 9}, {8, 7}, {9, 7}}, BLACK);
  EXPECT_EQ(is_forbidden(*pos, 7, 7), 0);
}

// ---------------------------------------------------------------------------
// The second player.

TEST(ForbiddenShapes, WhiteShapesAreNeverForbidden) {
  auto pos = renju_position();
  // WHITE holds a double three, a double four in two lines, X_XXX_X and an
  // overline point; BLACK stones sit far away.
  put(*pos, {{7, 5}, {7, 6}, {5, 7}, {6, 7}}, WHITE);                   // double three at (7,7)
  put(*pos, {{1, 1}, {1, 2}, {1, 3}, {2, 4}, {3, 4}, {4, 4}}, WHITE);   // double four at (1,4)
  put(*pos, {{11, 1}, {11, 3}, {11, 4}, {11, 7}}, WHITE);               // X_XXX_X at (11,5)
  put(*pos, {{13, 6}, {13, 7}, {13, 8}, {13, 10}, {13, 11}}, WHITE);    // six at (13,9)
  put(*pos, {{0, 14}, {14, 14}, {3, 13}, {9, 13}}, BLACK);
  EXPECT_EQ(forbidden_line(*pos), "FORBID .");
  for (auto [x, y] : Cells{{7, 7}, {1, 4}, {11, 5}, {13, 9}}) EXPECT_EQ(is_forbidden(*pos, x, y), 0);
  EXPECT_EQ(pos->code(0, 13, 9, WHITE), PAT_FIVE) << "a white six is a five under Renju";
}

// ---------------------------------------------------------------------------
// The position comes back exactly as found.

TEST(ForbiddenRestore, EveryRecordIsRestoredOnRandomPositions) {
  std::mt19937 rng(20240607);
  int forbidden_seen = 0;
  for (int game = 0; game < 40; ++game) {
    auto pos = renju_position(game % 4 == 0 ? 20 : 15);
    testing::fill_random(*pos, rng, 20 + game % 5 * 8, 9);
    ASSERT_TRUE(pos->is_consistent());

    // Before settling: cells, line words, key and the four code sets come
    // back exactly; the records only lose initial codes the table disowns.
    {
      const PatternRecordSnapshot before(*pos);
      forbidden_seen += testing::forbidden_pass(*pos);
      const PatternRecordSnapshot after(*pos);
      EXPECT_EQ(std::memcmp(before.cells, after.cells, sizeof before.cells), 0);
      EXPECT_EQ(std::memcmp(before.y_lines, after.y_lines, sizeof before.y_lines), 0);
      EXPECT_EQ(std::memcmp(before.x_lines, after.x_lines, sizeof before.x_lines), 0);
      EXPECT_EQ(std::memcmp(before.anti_lines, after.anti_lines, sizeof before.anti_lines), 0);
      EXPECT_EQ(std::memcmp(before.diag_lines, after.diag_lines, sizeof before.diag_lines), 0);
      EXPECT_EQ(before.key, after.key);
      for (int k = 0; k < 4; ++k) EXPECT_EQ(std::memcmp(before.sets[k], after.sets[k], sizeof before.sets[k]), 0);
      for (int d = 0; d < 4; ++d)
        for (int x = 0; x < pos->board_size; ++x)
          for (int y = 0; y < pos->board_size; ++y)
            for (int s = 0; s < 2; ++s) {
              const int was = before.dir_patterns[d][x][y].code[s];
              const int now = after.dir_patterns[d][x][y].code[s];
              if (was == now) continue;
              int fresh[2];
              pos->fresh_codes(d, x, y, fresh);
              EXPECT_TRUE(was == PAT_ONE && now == fresh[s])
                  << "code changed at " << d << "/" << x << "," << y << " side " << s + 1;
            }
      std::string why;
      EXPECT_TRUE(pos->is_consistent(&why)) << why;
    }

    // Settled: every call gives back each code, sum and set exactly, cell
    // by cell, in the reverse order; a second call of the same cell
    // repeats the first one's writes, so it changes nothing, spaces included.
    ASSERT_LT(testing::settle(*pos), 6) << "forbidden passes keep changing the codes";
    const PatternRecordSnapshot settled = PatternRecordSnapshot(*pos).without_spaces();
    for (int x = pos->board_height - 1; x >= 0; --x)
      for (int y = pos->board_width - 1; y >= 0; --y) {
        if (pos->cells[x][y] != EMPTY) continue;
        const int answer = is_forbidden(*pos, x, y);
        const PatternRecordSnapshot once(*pos);
        const std::string diff = once.without_spaces().diff(settled);
        ASSERT_TRUE(diff.empty()) << diff << " changed by is_forbidden(" << x << "," << y << ") in game " << game;
        ASSERT_EQ(is_forbidden(*pos, x, y), answer);
        const std::string again = PatternRecordSnapshot(*pos).diff(once);
        ASSERT_TRUE(again.empty()) << again << " changed by a repeated is_forbidden(" << x << "," << y << ")";
        std::string why;
        ASSERT_TRUE(pos->is_consistent(&why)) << why;
      }
    ASSERT_TRUE(pos->is_consistent());
  }
  EXPECT_GT(forbidden_seen, 20) << "the random positions should hold forbidden points";
}

TEST(ForbiddenRestore, AnswerDoesNotDependOnEarlierCalls) {
  // Two positions from the same moves: one answered in forward order, one
  // in reverse order; the answers agree cell by cell.
  std::mt19937 rng(77);
  for (int game = 0; game < 10; ++game) {
    auto a = renju_position();
    testing::fill_random(*a, rng, 36, 9);
    auto b = std::make_unique<Position>(*a);
    std::map<std::pair<int, int>, int> forward;
    for (int x = 0; x < 15; ++x)
      for (int y = 0; y < 15; ++y)
        if (a->cells[x][y] == EMPTY) forward[{x, y}] = is_forbidden(*a, x, y);
    for (int x = 14; x >= 0; --x)
      for (int y = 14; y >= 0; --y)
        if (b->cells[x][y] == EMPTY) {
          EXPECT_EQ(is_forbidden(*b, x, y), (forward[{x, y}])) << x << "," << y;
        }
  }
}

// ---------------------------------------------------------------------------
// Positions with answers from an independent rules checker.

struct Puzzle {
  int line = 0;
  int size = 15;
  Cells moves;
  Cells forbidden;
  std::map<std::string, Cells> tags;
};

// Reads "[[a,b],[c,d],...]" (or "[]") starting at text[i] == '['.
Cells parse_pairs(const std::string& text, size_t& i) {
  Cells out;
  ++i;  // '['
  while (i < text.size() && text[i] != ']') {
    if (text[i] == ',' || text[i] == ' ') {
      ++i;
      continue;
    }
    int a = 0, b = 0;
    char open, comma, close;
    std::istringstream in(text.substr(i, 16));
    in >> open >> a >> comma >> b >> close;
    out.emplace_back(a, b);
    i = text.find(']', i) + 1;
  }
  ++i;  // ']'
  return out;
}

std::vector<Puzzle> load_puzzles() {
  std::vector<Puzzle> out;
  std::ifstream in(std::string(ORVEL_TEST_DATA) + "/renju_forbidden.jsonl");
  std::string text;
  int line = 0;
  while (std::getline(in, text)) {
    ++line;
    if (text.empty()) continue;
    Puzzle p;
    p.line = line;
    size_t i = text.find("\"size\":");
    p.size = std::stoi(text.substr(i + 7));
    i = text.find('[', text.find("\"moves\":"));
    p.moves = parse_pairs(text, i);
    i = text.find('[', text.find("\"forbidden\":"));
    p.forbidden = parse_pairs(text, i);
    size_t t = text.find("\"tags\":{");
    if (t != std::string::npos) {
      t += 8;
      while (t < text.size() && text[t] == '"') {
        const size_t end = text.find('"', t + 1);
        const std::string name = text.substr(t + 1, end - t - 1);
        size_t j = text.find('[', end);
        p.tags[name] = parse_pairs(text, j);
        t = j;
        if (t < text.size() && text[t] == ',') ++t;
      }
    }
    out.push_back(std::move(p));
  }
  return out;
}

TEST(ForbiddenPuzzles, FileParses) {
  const auto puzzles = load_puzzles();
  ASSERT_EQ(puzzles.size(), 100u);
  EXPECT_EQ(puzzles[0].moves.size(), 26u);
  EXPECT_EQ(puzzles[0].forbidden, (Cells{{6, 7}, {6, 9}, {8, 10}, {8, 11}, {9, 8}}));
  EXPECT_EQ(puzzles[0].tags.at("four-three"), (Cells{{8, 5}}));
  EXPECT_EQ(puzzles[0].tags.size(), 6u);
}

TEST(ForbiddenPuzzles, EveryListedAnswerMatches) {
  const auto puzzles = load_puzzles();
  ASSERT_FALSE(puzzles.empty());
  int points = 0;
  std::map<std::string, int> tag_points;
  for (const Puzzle& p : puzzles) {
    auto pos = renju_position(p.size);
    for (size_t i = 0; i < p.moves.size(); ++i) pos->make_move(p.moves[i].first, p.moves[i].second, i % 2 ? WHITE : BLACK);
    ASSERT_TRUE(pos->is_consistent()) << "line " << p.line;

    Cells expected = p.forbidden;
    std::sort(expected.begin(), expected.end());
    const Cells got = all_forbidden(*pos);
    std::set<std::pair<int, int>> exp_set(expected.begin(), expected.end()), got_set(got.begin(), got.end());
    for (const auto& c : expected)
      if (!got_set.count(c)) ADD_FAILURE() << "line " << p.line << ": missed " << c.first << "," << c.second;
    for (const auto& c : got)
      if (!exp_set.count(c)) ADD_FAILURE() << "line " << p.line << ": extra " << c.first << "," << c.second;
    points += static_cast<int>(expected.size());

    // Every tagged point agrees with the list (tags name allowed shapes too).
    for (const auto& [name, cells] : p.tags)
      for (const auto& c : cells) {
        EXPECT_EQ(is_forbidden(*pos, c.first, c.second), exp_set.count(c) ? 1 : 0)
            << "line " << p.line << " tag " << name << " at " << c.first << "," << c.second;
        ++tag_points[name];
      }

    // The reply line is the list in board order.
    std::string line = "FORBID ";
    char buf[8];
    for (const auto& c : expected) {
      std::snprintf(buf, sizeof buf, "%02d%02d", c.first, c.second);
      line += buf;
    }
    EXPECT_EQ(forbidden_line(*pos), line + ".") << "line " << p.line;
  }
  EXPECT_GT(points, 300);
  // The file exercises every kind of shape we care about.
  for (const char* tag : {"double-three", "double-four", "overline", "four-three", "fake-double-three",
                          "five-beside-overline", "double-four-one-line", "nested"})
    EXPECT_GT(tag_points[tag], 0) << tag;
}

}  // namespace
}  // namespace orvel
