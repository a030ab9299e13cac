// The normal think driver: the first-move rule, the shortcuts (forced block,
// follow-up of a found win), the deepening limits, both report formats, and
// the guards that keep the engine from choosing a blocked or forbidden cell
// or recording a move that does not exist.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "../protocol/engine_harness.h"
#include "renju/forbidden.h"
#include "think/think.h"

namespace orvel::testing {
namespace {

// The one-line summary of show_detail 0, with its fields captured:
// 1 complexity, 2 depth, 3 selective depth, 4 time, 5 branching, 6 speed,
// 7 radius, 8 evaluation, 9 evaluation word.
const std::regex SUMMARY(
    R"(MESSAGE (\d+\.\d) \| (-?\d+) \| (-?\d+) \| (\d+)ms \| (\d+\.\d) \| (\d+) \| ([45]) \| (-?\d+) (:-\)|:-\(|))");
const std::regex BEST_LINE(R"(MESSAGE (\[\d+,\d+\] )*)");

class NormalThink : public EngineFixture {
 protected:
  // The lines of a think that play a move: everything up to the move line.
  struct Think {
    std::vector<std::string> lines;
    std::smatch summary;
    std::string summary_line;
    std::string move;
  };

  Think think(const std::string& script) {
    Think t;
    t.lines = send(script);
    for (const auto& l : t.lines) {
      if (std::regex_match(l, SUMMARY)) t.summary_line = l;
      if (is_move_line(l)) t.move = l;
    }
    if (!t.summary_line.empty()) std::regex_match(t.summary_line, t.summary, SUMMARY);
    return t;
  }

  // Count of lines equal to text.
  static int count(const std::vector<std::string>& lines, const std::string& text) {
    int n = 0;
    for (const auto& l : lines) n += l == text;
    return n;
  }

  // The board-level recording of the last move.
  RecordedMove last_recorded() const { return record().move_history[record().move_count - 1]; }

  // The position of the forced-block cases: the second player has 7,3..7,6
  // closed at 7,2, the first player (the engine) is to move.
  static std::string closed_four_board() {
    return "START 15\nBOARD\n7,2,1\n7,3,2\n0,0,1\n7,4,2\n0,14,1\n7,5,2\n14,0,1\n7,6,2\nDONE\n";
  }
};

// ---------------------------------------------------------------------------
// First move
// ---------------------------------------------------------------------------

TEST_F(NormalThink, FirstMovePlaysTheCentreOfSquareAndRectangularBoards) {
  Think t = think("START 15\nBEGIN\n");
  EXPECT_EQ(t.move, "7,7");
  ASSERT_EQ(record().move_count, 1);
  EXPECT_EQ(last_recorded().x, 7);
  EXPECT_EQ(last_recorded().y, 7);
  EXPECT_EQ(last_recorded().side, BLACK);
  // No search: the figures of the summary are all zero, the rule is not
  // announced and the position stays stale.
  ASSERT_FALSE(t.summary_line.empty());
  EXPECT_EQ(t.summary[1], "0.0");
  EXPECT_EQ(t.summary[4], "0");
  EXPECT_EQ(t.summary[5], "0.0");
  EXPECT_EQ(t.summary[6], "0");
  for (const auto& l : t.lines) EXPECT_EQ(l.rfind("MESSAGE Rule", 0), std::string::npos) << l;
  EXPECT_FALSE(engine.position_current());

  // x is bounded by the height (second number), y by the width (first).
  EXPECT_EQ(think("RECTSTART 20,15\nBEGIN\n").move, "7,10");
  EXPECT_EQ(think("RECTSTART 7,10\nBEGIN\n").move, "5,3");
  EXPECT_EQ(think("START 20\nBEGIN\n").move, "10,10");
}

TEST_F(NormalThink, FirstMoveAvoidsBlockedCellsNearestFirstInScanOrder) {
  EXPECT_EQ(think("START 15\novblock\n7,7\nDONE\nBEGIN\n").move, "6,7");
  EXPECT_EQ(think("START 15\novblock\n6,7\nDONE\nBEGIN\n").move, "7,6");
  EXPECT_EQ(think("START 15\novblock\n7,6\n7,8\n8,7\nDONE\nBEGIN\n").move, "5,7");
  EXPECT_EQ(think("START 15\novblockreset\nBEGIN\n").move, "7,7");
}

TEST_F(NormalThink, FirstMoveWithEveryCellBlockedAnswersAnErrorAndRecordsNothing) {
  send("START 5\n");
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y) engine.block_cell(x, y);
  Think t = think("BEGIN\n");
  EXPECT_EQ(t.move, "");
  EXPECT_EQ(count(t.lines, "ERROR no legal move"), 1);
  EXPECT_EQ(record().move_count, 0);
  // Freeing one cell gives the engine its move again.
  engine.record.blocked_cells[4][0] = 0;
  EXPECT_EQ(think("BEGIN\n").move, "4,0");
}

// ---------------------------------------------------------------------------
// Forced block and the two-five loss
// ---------------------------------------------------------------------------

TEST_F(NormalThink, ForcedBlockOnABuiltPositionIsPlayedWithoutSearch) {
  // The first think builds the position and finds the block by searching.
  Think first = think(closed_four_board());
  EXPECT_EQ(first.move, "7,7");
  ASSERT_TRUE(engine.position_current());

  // The second player now has 2,10 3,10 4,10 closed at 1,10; 5,10 makes a
  // four whose only five cell is 6,10.
  send("PLAY 2,10\nPLAY 1,10\nPLAY 3,10\nPLAY 14,14\nPLAY 4,10\nPLAY 0,7\n");
  engine.settings.timeout_turn = 60000;
  Think t = think("TURN 5,10\n");
  EXPECT_EQ(t.move, "6,10");
  ASSERT_FALSE(t.summary_line.empty());
  EXPECT_EQ(t.summary[1], "0.0");
  EXPECT_EQ(t.summary[2], t.summary[3]);  // no search below the depth
  EXPECT_EQ(t.summary[4], "0");
  EXPECT_EQ(t.summary[6], "0");
  EXPECT_EQ(engine.search->node_count, 0u);
  EXPECT_EQ(last_recorded().x, 6);
  EXPECT_EQ(last_recorded().y, 10);
  EXPECT_EQ(cell(6, 10), BLACK);
}

TEST_F(NormalThink, TwoFiveThreatsBlockTheFirstAndReportTheLoss) {
  think(closed_four_board());
  send("PLAY 2,10\nPLAY 14,14\nPLAY 3,10\nPLAY 0,7\nPLAY 4,10\nPLAY 14,7\n");
  engine.settings.timeout_turn = 60000;
  Think t = think("TURN 5,10\n");  // an open four: fives at 1,10 and 6,10
  EXPECT_EQ(t.move, "1,10");
  ASSERT_FALSE(t.summary_line.empty());
  EXPECT_EQ(t.summary[8], "-10000");
  EXPECT_EQ(t.summary[9], ":-(");
  EXPECT_EQ(engine.search->last_value, -WIN_SCORE);
}

TEST_F(NormalThink, ForcedBlockSkipsABlockedFirstFiveCell) {
  think(closed_four_board());
  send("PLAY 2,10\nPLAY 14,14\nPLAY 3,10\nPLAY 0,7\nPLAY 4,10\nPLAY 14,7\n");
  send("ovblock\n1,10\nDONE\n");
  Think t = think("TURN 5,10\n");
  EXPECT_EQ(t.move, "6,10");
  EXPECT_EQ(t.summary[8], "-10000");
}

TEST_F(NormalThink, UnplayableOnlyBlockFallsBackOnALegalMove) {
  // The only five cell of the opponent is blocked: no shortcut, the root
  // search has no move, and the think still plays a legal cell.
  think(closed_four_board());
  send("PLAY 2,10\nPLAY 1,10\nPLAY 3,10\nPLAY 14,14\nPLAY 4,10\nPLAY 0,7\n");
  send("ovblock\n6,10\nDONE\n");
  const int before = record().move_count;
  Think t = think("TURN 5,10\n");
  for (const auto& l : t.lines) EXPECT_NE(l.rfind("ERROR", 0), 0u) << l;
  ASSERT_NE(t.move, "");
  EXPECT_NE(t.move, "6,10");
  ASSERT_EQ(record().move_count, before + 2);
  const RecordedMove m = last_recorded();
  EXPECT_TRUE(engine.record.on_board(m.x, m.y));
  EXPECT_FALSE(engine.record.blocked(m.x, m.y));
  EXPECT_EQ(cell(m.x, m.y), m.side);
  // The engine knows the game is lost.
  EXPECT_LE(engine.search->last_value, -WIN_RANGE);
}

TEST_F(NormalThink, RenjuForbiddenOnlyBlockFallsBackOnALegalMove) {
  // BLACK (the engine) 3,5 3,6 3,7 _ 3,9 3,10: 3,8 is an overline point.
  // WHITE 4,8..7,8, closed by BLACK at 8,8: its only five cell is 3,8.
  send("INFO rule 2\nSTART 15\novboard\n3,5,1\n4,8,2\n3,6,1\n5,8,2\n3,7,1\n6,8,2\n3,9,1\n7,8,2\n3,10,1\n12,0,2\n"
       "8,8,1\n12,14,2\nDONE\n");
  engine.apply_rule();
  ASSERT_EQ(engine.position->rule, RENJU);
  ASSERT_EQ(is_forbidden(*engine.position, 3, 8), 1);
  Think t = think("BEGIN\n");
  for (const auto& l : t.lines) EXPECT_NE(l.rfind("ERROR", 0), 0u) << l;
  ASSERT_NE(t.move, "");
  EXPECT_NE(t.move, "3,8");
  EXPECT_EQ(record().move_count, 13);
  EXPECT_EQ(cell(3, 8), EMPTY);
}

// ---------------------------------------------------------------------------
// Follow-up of a found win and the final choice of a winning cell
// ---------------------------------------------------------------------------

class WinningCells : public NormalThink {
 protected:
  // BLACK (the engine, to move): 2,4 2,5 2,6 closed by WHITE at 2,3, and
  // 3,7 4,7 5,7 open. 2,7 makes a four in row 2 and an open four in column
  // 7: a double four, forbidden under Renju. Its open-four cells are 2,7
  // (first in scan order) and 6,7.
  void set_up_position(int rule) {
    send(std::string("INFO rule ") + std::to_string(rule) +
         "\nSTART 15\novboard\n2,4,1\n2,3,2\n2,5,1\n14,0,2\n2,6,1\n14,14,2\n3,7,1\n0,14,2\n4,7,1\n10,12,2\n"
         "5,7,1\n12,10,2\nDONE\n");
    engine.apply_rule();
  }
  void pretend_a_win_was_found() {
    engine.search->last_value = WIN_SCORE + 9;
    engine.search->last_depth = 3;
  }
};

TEST_F(WinningCells, FollowUpTakesTheFirstOpenFourCellOutsideRenju) {
  set_up_position(0);
  pretend_a_win_was_found();
  Think t = think("BEGIN\n");
  EXPECT_EQ(t.move, "2,7");
  EXPECT_EQ(t.summary[4], "0");  // a shortcut: no search
  EXPECT_EQ(engine.search->last_value, WIN_SCORE + 9);
}

TEST_F(WinningCells, FollowUpNeverGivesBlackAForbiddenCell) {
  set_up_position(2);
  ASSERT_EQ(is_forbidden(*engine.position, 2, 7), 1);
  pretend_a_win_was_found();
  Think t = think("BEGIN\n");
  EXPECT_EQ(t.move, "6,7");
  EXPECT_EQ(t.summary[4], "0");
}

TEST_F(WinningCells, FollowUpSkipsBlockedCells) {
  set_up_position(0);
  send("ovblock\n2,7\nDONE\n");
  pretend_a_win_was_found();
  EXPECT_EQ(think("BEGIN\n").move, "6,7");
}

TEST_F(WinningCells, FollowUpWithEveryWinningCellBlockedSearchesInstead) {
  set_up_position(0);
  send("ovblock\n2,7\n6,7\nDONE\n");
  pretend_a_win_was_found();
  Think t = think("BEGIN\n");
  ASSERT_NE(t.move, "");
  EXPECT_NE(t.move, "2,7");
  EXPECT_NE(t.move, "6,7");
  EXPECT_GT(engine.search->node_count, 0u);  // the search ran
}

TEST_F(WinningCells, SearchedWinUnderRenjuNeverPlaysTheForbiddenCell) {
  set_up_position(2);
  engine.settings.timeout_turn = 1000;
  Think t = think("BEGIN\n");
  ASSERT_NE(t.move, "");
  EXPECT_NE(t.move, "2,7");
  EXPECT_EQ(cell(2, 7), EMPTY);
}

// ---------------------------------------------------------------------------
// Deepening limits and the report formats
// ---------------------------------------------------------------------------

TEST_F(NormalThink, MaxDepthLimitsTheIterations) {
  engine.settings.timeout_turn = 60000;
  send("START 15\nINFO max_depth 1\n");
  Think t = think("TURN 7,7\n");
  ASSERT_FALSE(t.summary_line.empty()) << t.lines.size();
  EXPECT_EQ(t.summary[2], "1");
  EXPECT_NE(t.move, "7,7");
  EXPECT_EQ(engine.search->last_depth, 1);

  // Two plies: exactly two iterations count.
  t = think("RESTART\nINFO max_depth 2\nTURN 7,7\n");
  EXPECT_EQ(t.summary[2], "2");

  // No iteration at all: pre_select's move is played, the depth is 0.
  t = think("RESTART\nINFO max_depth 0\nTURN 7,7\n");
  EXPECT_EQ(t.summary[2], "0");
  EXPECT_TRUE(is_move_line(t.move));
  EXPECT_NE(t.move, "7,7");
  EXPECT_EQ(record().move_count, 2);
}

TEST_F(NormalThink, TerseReportIsOneSummaryLineAndACountedFromOneBestLine) {
  engine.settings.timeout_turn = 60000;
  send("START 15\nINFO max_depth 3\n");
  Think t = think("TURN 7,7\n");
  // Rule, summary, best line, move - nothing else.
  ASSERT_EQ(t.lines.size(), 4u);
  EXPECT_EQ(t.lines[0], "MESSAGE Rule Gomoku (Freestyle)");
  EXPECT_TRUE(std::regex_match(t.lines[1], SUMMARY)) << t.lines[1];
  EXPECT_EQ(t.summary[2], "3");
  EXPECT_EQ(t.summary[7], "4");
  EXPECT_TRUE(std::regex_match(t.lines[2], BEST_LINE)) << t.lines[2];
  EXPECT_EQ(t.lines[3], t.move);
  // The best line is the saved line, counted from 1; its first move is the
  // move played (a quiet position, no winning cell to switch to).
  const PvLine& line = engine.search->saved_line;
  ASSERT_GE(line[0].key, 1);
  EXPECT_EQ(t.lines[2].rfind(format("MESSAGE [%d,%d] ", line[1].x + 1, line[1].y + 1), 0), 0u) << t.lines[2];
  EXPECT_EQ(t.move, format("%d,%d", line[1].x, line[1].y));
}

TEST_F(NormalThink, DetailedReportHasDetailLinesSummaryBestLineAndBlockLine) {
  engine.settings.timeout_turn = 60000;
  engine.settings.show_detail = 1;
  send("START 15\nINFO max_depth 5\novblock\n0,0\n3,4\nDONE\n");
  Think t = think("TURN 7,7\n");
  const std::regex detail(R"(MESSAGE DETAIL DEPTH:(\d+)-(\d+) VAL:-?\d+ TIME:\d+ms NODE:\d+m \[\d+,[A-O]\])");
  const std::regex complexity(R"(MESSAGE Complexity: \d+\.\d, \d+\.\d \| Depth: 5-\d+ \| Time: \d+ms \| Node: \d+m)");
  const std::regex speed(R"(MESSAGE Speed: \d+ \| Evaluation: -?\d+ (:-\)|:-\(|))");
  const std::regex best(R"(MESSAGE Bestline: (\[\d+[A-O]\] )+)");
  std::vector<std::string> kinds;
  for (const auto& l : t.lines) {
    std::smatch m;
    if (std::regex_match(l, m, detail)) {
      kinds.push_back("detail");
      EXPECT_EQ(m[1], "5");  // only iterations of 5 plies and more
    } else if (std::regex_match(l, complexity)) {
      kinds.push_back("complexity");
    } else if (std::regex_match(l, speed)) {
      kinds.push_back("speed");
    } else if (std::regex_match(l, best)) {
      kinds.push_back("best");
    } else if (l == "MESSAGE Block[15A] [12E] ") {
      kinds.push_back("block");
    } else if (is_move_line(l)) {
      kinds.push_back("move");
    } else if (l.rfind("MESSAGE Rule", 0) == 0 || l.rfind("MESSAGE REALTIME", 0) == 0) {
      continue;
    } else {
      ADD_FAILURE() << "unexpected line: " << l;
    }
  }
  const std::vector<std::string> want = {"detail", "complexity", "speed", "best", "block", "move"};
  EXPECT_EQ(kinds, want);
}

// ---------------------------------------------------------------------------
// pre_select and the think with nothing to play
// ---------------------------------------------------------------------------

TEST_F(NormalThink, PreSelectBlocksAFiveAndSkipsBlockedCells) {
  send(closed_four_board());  // the think plays 7,7
  // Undo the engine's block so that the four is open to five again.
  send("TAKEBACK 7,7\n");
  ASSERT_EQ(cell(7, 7), EMPTY);
  Search& s = *engine.search;
  s.best_x = s.best_y = -5;
  EXPECT_EQ(pre_select(engine, BLACK), 0);
  EXPECT_EQ(s.best_x, 7);
  EXPECT_EQ(s.best_y, 7);
  EXPECT_EQ(cell(7, 7), EMPTY);  // scored and taken back
  EXPECT_TRUE(engine.position->is_consistent());

  engine.block_cell(7, 7);
  EXPECT_EQ(pre_select(engine, BLACK), 0);
  EXPECT_FALSE(s.best_x == 7 && s.best_y == 7);
  EXPECT_EQ(cell(s.best_x, s.best_y), EMPTY);
}

TEST_F(NormalThink, PreSelectWithNoQualifyingCellLeavesBestMove) {
  send("START 5\nTURN 2,2\n");  // the think builds the position and answers
  ASSERT_TRUE(engine.position_current());
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y) engine.block_cell(x, y);
  Search& s = *engine.search;
  s.best_x = 11;
  s.best_y = 12;
  EXPECT_EQ(pre_select(engine, BLACK), 1);
  EXPECT_EQ(s.best_x, 11);
  EXPECT_EQ(s.best_y, 12);
}

TEST_F(NormalThink, SearchWithEveryFreeCellBlockedAnswersAnErrorAndRecordsNothing) {
  send("START 5\n");
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y)
      if (x != 2 || y != 2) engine.block_cell(x, y);
  Think t = think("TURN 2,2\n");
  EXPECT_EQ(t.move, "");
  EXPECT_EQ(count(t.lines, "ERROR no legal move"), 1);
  EXPECT_EQ(record().move_count, 1);
  EXPECT_EQ(engine.position->cells[2][2], BLACK);
  int stones = 0;
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 5; ++y) stones += engine.position->cells[x][y] != EMPTY;
  EXPECT_EQ(stones, 1);
}

TEST_F(NormalThink, FullBoardAnswersAnErrorAndRecordsNothing) {
  // A 4 by 4 board holds no five: fill it completely, then ask for a move.
  std::string body = "START 4\nBOARD\n";
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y) body += format("%d,%d,%d\n", x, y, 1 + (x + y) % 2);
  body += "DONE\n";
  Think t = think(body);
  EXPECT_EQ(t.move, "");
  EXPECT_EQ(count(t.lines, "ERROR no legal move"), 1);
  EXPECT_EQ(record().move_count, 16);
  for (const auto& l : t.lines) EXPECT_EQ(l.rfind("ERROR my move", 0), std::string::npos) << l;
}

}  // namespace
}  // namespace orvel::testing
