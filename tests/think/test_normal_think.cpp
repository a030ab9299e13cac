// The normal think: the first-move rule, the shortcuts (forced block, follow-up of a
// found win), the deepening limits of depth and nodes, both report formats, and the
// guards that keep the engine from playing a blocked or forbidden cell or recording a
// move that does not exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "../protocol/engine_harness.h"
#include "renju/forbidden.h"

namespace orvel::testing {
namespace {

// show_detail 0: complexity | depth | selective depth | time | branching | speed | radius | evaluation word.
const std::regex SUMMARY(
    R"(MESSAGE (\d+\.\d) \| (-?\d+) \| (-?\d+) \| (\d+)ms \| (\d+\.\d) \| (\d+) \| ([45]) \| (-?\d+) (:-\)|:-\(|))");

// The second player has 7,3..7,6 closed at 7,2; the engine (first player) blocks at 7,7.
const char* CLOSED_FOUR = "START 15\nBOARD\n7,2,1\n7,3,2\n0,0,1\n7,4,2\n0,14,1\n7,5,2\n14,0,1\n7,6,2\nDONE\n";

class NormalThink : public EngineFixture {
 protected:
  struct Think {
    std::vector<std::string> lines, summary = std::vector<std::string>(10);  // summary: the SUMMARY fields
    std::string move;
  };

  Think think(const std::string& script) {
    Think t;
    t.lines = send(script);
    for (const auto& l : t.lines) {
      std::smatch m;
      if (std::regex_match(l, m, SUMMARY)) t.summary.assign(m.begin(), m.end());
      if (is_move_line(l)) t.move = l;
    }
    return t;
  }

  // A think that answered with one legal move: no error, a free cell now holding the engine's stone.
  void expect_legal(const Think& t, int moves_before) {
    for (const auto& l : t.lines) EXPECT_NE(l.rfind("ERROR", 0), 0u) << l;
    ASSERT_EQ(record().move_count, moves_before + 1) << t.move;
    const RecordedMove m = record().move_history[record().move_count - 1];
    EXPECT_EQ(t.move, format("%d,%d", m.x, m.y));
    EXPECT_FALSE(engine.game.record.blocked(m.x, m.y));
    EXPECT_EQ(cell(m.x, m.y), m.side);
  }

  void expect_no_legal_move(const Think& t, int moves) {
    EXPECT_EQ(t.move, "");
    int errors = 0;
    for (const auto& l : t.lines) errors += l.rfind("ERROR", 0) == 0 ? (l == "ERROR no legal move" ? 1 : 100) : 0;
    EXPECT_EQ(errors, 1) << "one ERROR line, and only that";
    EXPECT_EQ(record().move_count, moves);
  }
};

TEST_F(NormalThink, FirstMoveTakesTheCentreOrTheNearestFreeCell) {
  Think t = think("START 15\nBEGIN\n");
  EXPECT_EQ(t.move, "7,7");
  ASSERT_EQ(record().move_count, 1);
  EXPECT_EQ(record().move_history[0].side, BLACK);
  // No search: zero figures, no rule line, and the position stays stale.
  EXPECT_EQ(t.summary[1] + " " + t.summary[4] + " " + t.summary[5] + " " + t.summary[6], "0.0 0 0.0 0");
  for (const auto& l : t.lines) EXPECT_NE(l.rfind("MESSAGE Rule", 0), 0u) << l;
  EXPECT_FALSE(engine.game.position_current());
  // x runs along the height (second number), y along the width; blocks pile up until ovblockreset.
  const std::pair<const char*, const char*> rows[] = {
      {"RECTSTART 20,15\n", "7,10"}, {"RECTSTART 7,10\n", "5,3"}, {"START 20\n", "10,10"},
      {"START 15\novblock\n7,7\nDONE\n", "6,7"}, {"START 15\novblock\n6,7\nDONE\n", "7,6"},
      {"START 15\novblock\n7,6\n7,8\n8,7\nDONE\n", "5,7"}, {"START 15\novblockreset\n", "7,7"}};
  for (auto [setup, want] : rows) EXPECT_EQ(think(std::string(setup) + "BEGIN\n").move, want) << setup;
}

TEST_F(NormalThink, NoLegalMoveAnswersAnErrorAndRecordsNothing) {
  send("START 5\n");
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y) engine.block_cell(x, y);
  expect_no_legal_move(think("BEGIN\n"), 0);
  engine.game.record.blocked_cells[4][0] = 0;
  EXPECT_EQ(think("BEGIN\n").move, "4,0");
  // A searched position with every free cell blocked: only the opponent's stone is added.
  engine.game.record.blocked_cells[4][0] = 1;
  engine.game.record.blocked_cells[2][2] = 0;
  expect_no_legal_move(think("START 5\nTURN 2,2\n"), 1);
  EXPECT_EQ(cell(2, 2), BLACK);
  // A full board (4 by 4 holds no five).
  std::string board = "ovblockreset\nSTART 4\nBOARD\n";
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) board += format("%d,%d,%d\n", x, y, 1 + (x + y) % 2);
  expect_no_legal_move(think(board + "DONE\n"), 16);
}

TEST_F(NormalThink, FiveThreatShortcutsAndTheirFallback) {
  // After the block at 7,7 the second player gets 2,10 3,10 4,10 (closed at 1,10 or
  // open); TURN 5,10 then makes a four.
  const std::string closed = "PLAY 2,10\nPLAY 1,10\nPLAY 3,10\nPLAY 14,14\nPLAY 4,10\nPLAY 0,7\n";
  const std::string open = "PLAY 2,10\nPLAY 14,14\nPLAY 3,10\nPLAY 0,7\nPLAY 4,10\nPLAY 14,7\n";
  const struct { std::string plays, blocked; const char* move; bool lost; } rows[] = {
      {closed, "", "6,10", false},          // the forced block
      {open, "", "1,10", true},             // two fives: block the first, report the loss
      {open, "1,10\n", "6,10", true},       // the first five cell blocked: the other one
      {closed, "6,10\n", nullptr, true},    // the only block impossible: a legal move still
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.plays + r.blocked);
    ASSERT_EQ(think("ovblockreset\n" + std::string(CLOSED_FOUR)).move, "7,7");
    ASSERT_TRUE(engine.game.position_current());
    send(r.plays + (r.blocked.empty() ? "" : "ovblock\n" + r.blocked + "DONE\n"));
    engine.game.settings.timeout_turn = r.move ? 60000 : 200;
    Think t = think("TURN 5,10\n");
    expect_legal(t, 16);
    if (r.move == nullptr) {
      EXPECT_NE(t.move, "6,10");
      EXPECT_LE(engine.game.search->last_value, -WIN_RANGE);
      continue;
    }
    // Shortcuts: no search, no time.
    EXPECT_EQ(t.move, r.move);
    EXPECT_EQ(engine.game.search->node_count, 0u);
    EXPECT_EQ(t.summary[1] + " " + t.summary[4] + " " + t.summary[6], "0.0 0 0");
    EXPECT_EQ(t.summary[2], t.summary[3]);
    EXPECT_EQ(engine.game.search->last_value == -WIN_SCORE, r.lost);
    if (r.lost) {
      EXPECT_EQ(t.summary[8] + " " + t.summary[9], "-10000 :-(");
    }
  }
}

TEST_F(NormalThink, WinningAndBlockingCellsAreNeverBlockedOrForbidden) {
  // BLACK (the engine): 2,4 2,5 2,6 closed by WHITE at 2,3, and 3,7 4,7 5,7 open. 2,7 makes
  // a four and an open four (a double four, forbidden under Renju); the open-four cells
  // are 2,7 (first in scan order) and 6,7. A win found earlier is followed up at once.
  const std::string fours =
      "2,4,1\n2,3,2\n2,5,1\n14,0,2\n2,6,1\n14,14,2\n3,7,1\n0,14,2\n4,7,1\n10,12,2\n5,7,1\n12,10,2\n";
  // BLACK 3,5 3,6 3,7 _ 3,9 3,10: the overline point 3,8 is the only five cell of WHITE's
  // 4,8..7,8 closed by BLACK at 8,8.
  const std::string overline =
      "3,5,1\n4,8,2\n3,6,1\n5,8,2\n3,7,1\n6,8,2\n3,9,1\n7,8,2\n3,10,1\n12,0,2\n8,8,1\n12,14,2\n";
  const struct { int rule; std::string board, blocked; bool found; const char* move; int avoid_x, avoid_y; } rows[] = {
      {0, fours, "", true, "2,7", -1, -1},    {2, fours, "", true, "6,7", 2, 7},
      {0, fours, "2,7\n", true, "6,7", -1, -1},
      {0, fours, "2,7\n6,7\n", true, nullptr, 2, 7},  // no winning cell left: a search instead
      {2, fours, "", false, nullptr, 2, 7},            // a searched win under Renju
      {2, overline, "", false, nullptr, 3, 8},         // the only block is forbidden
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.rule) + " " + r.board + r.blocked);
    send("ovblockreset\nINFO rule " + std::to_string(r.rule) + "\nSTART 15\novboard\n" + r.board + "DONE\n" +
         (r.blocked.empty() ? "" : "ovblock\n" + r.blocked + "DONE\n"));
    engine.game.apply_rule();
    ASSERT_TRUE(r.rule != 2 || is_forbidden(*engine.game.position, r.avoid_x, r.avoid_y) == 1);
    if (r.found) {
      engine.game.search->last_value = WIN_SCORE + 9;
      engine.game.search->last_depth = 3;
    }
    engine.game.settings.timeout_turn = r.found ? 200 : 1000;
    Think t = think("BEGIN\n");
    expect_legal(t, 12);
    EXPECT_TRUE(r.avoid_x < 0 || cell(r.avoid_x, r.avoid_y) == EMPTY);
    if (r.move != nullptr) {
      EXPECT_EQ(t.move, r.move);
      EXPECT_EQ(t.summary[4], "0");
      EXPECT_EQ(engine.game.search->last_value, WIN_SCORE + 9);
    } else {
      EXPECT_GT(engine.game.search->node_count, 0u);
    }
  }
}

TEST_F(NormalThink, MaxDepthAndTheReportsOfBothDetailLevels) {
  engine.game.settings.timeout_turn = 60000;
  for (int depth : {0, 1, 3}) {  // 0: no iteration at all, the fallback move
    send("START 15\nINFO max_depth " + std::to_string(depth) + "\n");
    Think t = think("TURN 7,7\n");
    expect_legal(t, 1);
    // show_detail 0: the rule, the summary, the saved line counted from 1 and led by the move played.
    ASSERT_EQ(t.lines.size(), 4u);
    EXPECT_EQ(t.lines[0], "MESSAGE Rule Gomoku (Freestyle)");
    EXPECT_EQ(t.summary[0], t.lines[1]);
    EXPECT_EQ(t.summary[2] + " " + t.summary[7], std::to_string(depth) + " 4");
    EXPECT_EQ(engine.game.search->last_depth, depth);
    const PvLine& line = engine.game.search->saved_line;
    std::string best = "MESSAGE ";
    for (int i = 1; i <= line[0].key; ++i) best += format("[%d,%d] ", line[i].x + 1, line[i].y + 1);
    EXPECT_EQ(t.lines[2], best);
    EXPECT_EQ(line[0].key > 0, depth > 0);
    EXPECT_TRUE(depth == 0 || t.move == format("%d,%d", line[1].x, line[1].y)) << t.move;
  }

  // show_detail 1: detail lines from depth 5, two summary lines, the best line, the blocked cells.
  engine.game.settings.show_detail = 1;
  send("START 15\nINFO max_depth 5\novblock\n0,0\n3,4\nDONE\n");
  Think t = think("TURN 7,7\n");
  const std::regex kinds[] = {
      std::regex(R"(MESSAGE DETAIL DEPTH:5-\d+ VAL:-?\d+ TIME:\d+ms NODE:\d+m \[\d+,[A-O]\])"),
      std::regex(R"(MESSAGE Complexity: \d+\.\d, \d+\.\d \| Depth: 5-\d+ \| Time: \d+ms \| Node: \d+m)"),
      std::regex(R"(MESSAGE Speed: \d+ \| Evaluation: -?\d+ (:-\)|:-\(|))"),
      std::regex(R"(MESSAGE Bestline: (\[\d+[A-O]\] )+)"), std::regex(R"(MESSAGE Block\[15A\] \[12E\] )"),
      std::regex(R"(\d+,\d+)")};
  std::string order;  // the kind of every line but the rule and realtime ones, 6 for none
  for (const auto& l : t.lines) {
    if (l.rfind("MESSAGE Rule", 0) == 0 || l.rfind("MESSAGE REALTIME", 0) == 0) continue;
    size_t k = 0;
    while (k < std::size(kinds) && !std::regex_match(l, kinds[k])) ++k;
    order += std::to_string(k);
  }
  EXPECT_EQ(order, "012345");
}

// A think under a node limit leaves its iterations most of the nodes: the
// deep search's threat search with threes at the root once took them all
// here (no win to find), and the think answered from depth 0.
TEST_F(NormalThink, ANodeLimitLeavesTheIterationsTheirShare) {
  const std::string stones =
      "7,5,2 8,4,1 9,6,2 9,3,1 10,7,2 8,2,1 12,1,2 11,1,1 8,5,2 7,4,1 10,5,2 9,5,1 11,4,2 8,7,1 10,4,2 10,6,1 "
      "7,3,2 10,2,1 12,0,2 12,4,1 9,2,2 11,3,1 13,5,2 11,8,1 10,3,2 12,5,1 11,7,2 12,7,1 12,6,2 10,8,1 8,8,2 "
      "8,1,1 8,0,2 6,7,1 7,7,2";
  std::string board = "BOARD\n";
  for (char c : stones) board += c == ' ' ? '\n' : c;
  for (int mode : {0, 1}) {
    send("START 15\nINFO timeout_turn 60000\nINFO max_node 200\nINFO search_mode " + std::to_string(mode) + "\n");
    Think t = think(board + "\nDONE\n");
    expect_legal(t, 35);
    EXPECT_GE(std::stoi(t.summary[2]), 4) << "mode " << mode;
  }
}

}  // namespace
}  // namespace orvel::testing
