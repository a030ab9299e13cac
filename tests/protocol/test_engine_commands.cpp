// Position commands driven in-process through the dispatcher: board sizes,
// the stone commands, BOARD bodies, TAKEBACK, block cells, the rule and the
// stale/current life of the board arrays. A recurring invariant: whenever
// the board arrays are current they hold exactly the stones of the record.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

using Lines = std::vector<std::string>;

// The board arrays agree with the game record: every recorded stone sits on
// its cell with its side, and no other BLACK or WHITE stone is on the board.
void expect_board_matches_record(const Engine& e) {
  const GameRecord& r = e.record;
  ASSERT_GE(r.move_count, 0);
  ASSERT_LE(r.move_count, MAX_CELLS);
  for (int i = 0; i < r.move_count; ++i) {
    const RecordedMove& m = r.move_history[i];
    ASSERT_TRUE(r.on_board(m.x, m.y)) << "entry " << i;
    ASSERT_EQ(m.side, i % 2 + 1) << "entry " << i;
    for (int j = 0; j < i; ++j)
      ASSERT_FALSE(r.move_history[j].x == m.x && r.move_history[j].y == m.y) << "two stones on one cell";
  }
  if (!e.position_current()) return;
  int stones = 0;
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y) stones += e.position->cells[x][y] == BLACK || e.position->cells[x][y] == WHITE;
  EXPECT_EQ(stones, r.move_count);
  for (int i = 0; i < r.move_count; ++i) {
    const RecordedMove& m = r.move_history[i];
    EXPECT_EQ(e.position->cells[m.x][m.y], m.side) << "entry " << i << " at " << m.x << "," << m.y;
  }
}

class Commands : public EngineFixture {
 protected:
  // START 15 and one think after TURN 7,7: the board arrays are then current.
  std::string built_game() {
    send("START 15\n");
    const Lines lines = send("TURN 7,7\n");
    const Lines moves = move_lines(lines);
    EXPECT_EQ(moves.size(), 1u);
    EXPECT_TRUE(engine.position_current());
    return moves.empty() ? std::string() : moves[0];
  }
  int blocked_count() const {
    int n = 0;
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) n += record().blocked(x, y);
    return n;
  }
};

// ---------------------------------------------------------------------------
// START, RECTSTART, RESTART
// ---------------------------------------------------------------------------

using BoardSize = Commands;

TEST_F(BoardSize, StartGreetsAndSetsTheExtents) {
  EXPECT_EQ(send("START 15\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 15);
  EXPECT_EQ(record().board_height, 15);
  EXPECT_EQ(record().board_size, 15);
  EXPECT_EQ(record().built_rule, -1);
  EXPECT_EQ(send("start 24\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_size, 24);
  EXPECT_EQ(send("START 12 7\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 12);
  EXPECT_EQ(record().board_height, 7);
  EXPECT_EQ(record().board_size, 12);
}

TEST_F(BoardSize, StartWithoutANumber) {
  EXPECT_EQ(send("START\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 20);
  EXPECT_EQ(record().board_height, 20);
  send("START 12\n");
  EXPECT_EQ(send("STARTING 15\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 12) << "no number keeps the size set before";
  EXPECT_EQ(send("START 0\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 20);
  EXPECT_EQ(record().board_height, 20);
  EXPECT_EQ(send("START 0 15\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_height, 20) << "a width of 0 means 20 by 20";
}

TEST_F(BoardSize, RefusedSizesLeaveEverythingAsItWas) {
  const std::string own = built_game();
  const GameRecord& r = record();
  int32_t cells_before[MAX_SIZE][MAX_SIZE];
  std::memcpy(cells_before, engine.position->cells, sizeof cells_before);
  for (const char* cmd : {"START 25", "START -1", "START 15 0", "START 15 25", "RECTSTART 25,10",
                          "RECTSTART 10,25", "RECTSTART 7,0", "RECTSTART -3,5", "START 4294967311",
                          "RECTSTART 15,4294967311", "START 99999999999999999999", "START -4294967281"}) {
    EXPECT_EQ(send(std::string(cmd) + "\n"), Lines{"ERROR size of the board"}) << cmd;
    EXPECT_EQ(r.board_width, 15) << cmd;
    EXPECT_EQ(r.board_height, 15) << cmd;
    EXPECT_EQ(r.board_size, 15) << cmd;
    EXPECT_EQ(r.move_count, 2) << cmd;
    EXPECT_EQ(r.built_rule, 0) << cmd;
    EXPECT_EQ(std::memcmp(cells_before, engine.position->cells, sizeof cells_before), 0) << cmd;
    EXPECT_EQ(send("PLAY 15,0\n"), Lines{"ERROR bad coordinates"}) << cmd;
  }
}

TEST_F(BoardSize, RefusedSizeOnAFreshEngineStillGivesTheDefaultBoardLater) {
  EXPECT_EQ(send("START 25\n"), Lines{"ERROR size of the board"});
  EXPECT_EQ(record().board_width, 0);
  EXPECT_EQ(send("PLAY 24,24\n"), (Lines{greeting(), "OK", "ERROR bad coordinates"}));
  EXPECT_EQ(record().board_width, 20);
}

TEST_F(BoardSize, RectstartParsesTwoNumbersAroundAComma) {
  EXPECT_EQ(send("RECTSTART 20,15\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 20);
  EXPECT_EQ(record().board_height, 15);
  EXPECT_EQ(record().board_size, 20);
  EXPECT_EQ(send("RECTSTART 15 , 20\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 15);
  EXPECT_EQ(record().board_height, 20);
  EXPECT_EQ(send("rectstart 10,\t12\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_height, 12);
  EXPECT_EQ(send("RECTSTART 0,7\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().board_height, 20);
  for (const char* bad : {"RECTSTART 15", "RECTSTART", "RECTSTART 15 20", "RECTSTART a,b", "RECTSTART 15,",
                          "RECTSTART ,15"}) {
    EXPECT_EQ(send(std::string(bad) + "\n"), Lines{"ERROR bad RECTSTART parameters"}) << bad;
    EXPECT_EQ(record().board_width, 20) << bad;
  }
}

TEST_F(BoardSize, ResetEmptiesTheRecordAndMarksTheBoardStale) {
  built_game();
  EXPECT_EQ(send("RECTSTART 10,12\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().move_count, 0);
  EXPECT_EQ(record().built_rule, -1);
}

TEST_F(BoardSize, RestartKeepsTheSizeAndClearsTheGame) {
  built_game();
  engine.search->last_value = 1234;
  EXPECT_EQ(send("RESTART\n"), (Lines{greeting(), "OK"}));
  EXPECT_EQ(record().move_count, 0);
  EXPECT_EQ(record().built_rule, -1);
  EXPECT_EQ(record().board_width, 15);
  EXPECT_EQ(engine.search->last_value, 0);
  EXPECT_EQ(send("PLAY 14,14\n"), Lines{"14,14"});
  EXPECT_EQ(send("PLAY 15,0\n"), Lines{"ERROR bad coordinates"});
}

TEST_F(BoardSize, RestartBeforeAnyStartSetsUpTheBoardFirst) {
  EXPECT_EQ(send("restart\n"), (Lines{greeting(), "OK", greeting(), "OK"}));
  EXPECT_EQ(record().board_width, 20);
}

// ---------------------------------------------------------------------------
// PLAY and TURN
// ---------------------------------------------------------------------------

using StoneCommands = Commands;

TEST_F(StoneCommands, PlayEchoesTheParsedCell) {
  send("START 15\n");
  const std::pair<const char*, const char*> cases[] = {
      {"PLAY 0,0", "0,0"},     {"PLAY 3, 4", "3,4"},     {"PLAY 05,06", "5,6"},  {"PLAY 1,2 and more", "1,2"},
      {"PLAY 9,10,11", "9,10"}, {"play 14,13", "14,13"}, {"PLAY +8,\t+8", "8,8"}, {"PLAY7,8", "7,8"},
  };
  for (const auto& [cmd, echo] : cases) EXPECT_EQ(send(std::string(cmd) + "\n"), Lines{echo}) << cmd;
  EXPECT_EQ(record().move_count, 8);
}

TEST_F(StoneCommands, BadCoordinatesAreRefusedAndNothingIsRecorded) {
  send("START 15\n");
  for (const char* cmd : {"PLAY 7 ,8", "PLAY 7", "PLAY", "PLAY a,b", "PLAY -1,0", "PLAY 0,-1", "PLAY 15,0", "PLAY 0,15",
                          "PLAYBACK 1,1", "PLAY 2147483648,0", "PLAY 4294967303,7", "PLAY 7,4294967303",
                          "PLAY -4294967289,7", "PLAY 99999999999999999999999,3", "PLAY - 1,1", "TURN 7 ,8",
                          "TURN 15,0", "TURN 0,15", "TURN -1,-1", "TURN 7", "turn", "TURNABOUT", "TURN 4294967303,7"}) {
    EXPECT_EQ(send(std::string(cmd) + "\n"), Lines{"ERROR bad coordinates"}) << cmd;
  }
  EXPECT_EQ(record().move_count, 0);
}

TEST_F(StoneCommands, XIsBoundedByTheHeightAndYByTheWidth) {
  send("RECTSTART 20,15\n");
  EXPECT_EQ(send("PLAY 14,19\n"), Lines{"14,19"});
  EXPECT_EQ(send("PLAY 0,19\n"), Lines{"0,19"});
  EXPECT_EQ(send("PLAY 15,0\n"), Lines{"ERROR bad coordinates"});
  EXPECT_EQ(send("PLAY 19,14\n"), Lines{"ERROR bad coordinates"});
  EXPECT_EQ(send("PLAY 0,20\n"), Lines{"ERROR bad coordinates"});
}

TEST_F(StoneCommands, StaleBoardRecordsWithAlternatingSides) {
  send("START 15\n");
  send("PLAY 1,1\nPLAY 2,2\nPLAY 3,3\n");
  ASSERT_EQ(record().move_count, 3);
  EXPECT_EQ(record().built_rule, -1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(record().move_history[i].x, i + 1);
    EXPECT_EQ(record().move_history[i].y, i + 1);
    EXPECT_EQ(record().move_history[i].side, i % 2 + 1);
  }
}

TEST_F(StoneCommands, StaleDuplicateIsRefusedLikeAnOccupiedCell) {
  send("START 15\n");
  EXPECT_EQ(send("PLAY 3,4\n"), Lines{"3,4"});
  EXPECT_EQ(send("PLAY 3,4\n"), (Lines{"ERROR my move [3,4]", "3,4"}));
  EXPECT_EQ(record().move_count, 1);
  // A refused TURN stone still starts the think.
  const Lines lines = send_quiet("TURN 3,4\n");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR opponents's move [3,4]");
  ASSERT_EQ(move_lines(lines).size(), 1u);
  EXPECT_NE(move_lines(lines)[0], "3,4");
  EXPECT_EQ(record().move_count, 2);
  expect_board_matches_record(engine);
}

TEST_F(StoneCommands, CurrentBoardPlacesAndRefusesOccupiedCells) {
  const std::string own = built_game();
  ASSERT_EQ(record().move_count, 2);
  EXPECT_EQ(cell(7, 7), BLACK);
  EXPECT_EQ(send("PLAY 7,7\n"), (Lines{"ERROR my move [7,7]", "7,7"}));
  EXPECT_EQ(send("PLAY " + own + "\n"), (Lines{"ERROR my move [" + own + "]", own}));
  EXPECT_EQ(record().move_count, 2);
  EXPECT_EQ(send("PLAY 0,0\n"), Lines{"0,0"});
  EXPECT_EQ(cell(0, 0), BLACK) << "the third stone is the first player's";
  expect_board_matches_record(engine);
}

TEST_F(StoneCommands, TurnRecordsThenThinksOnce) {
  send("START 15\n");
  const Lines lines = send_quiet("TURN 7,8\n");
  ASSERT_EQ(move_lines(lines).size(), 1u);
  EXPECT_EQ(record().move_count, 2);
  EXPECT_EQ(record().move_history[0].x, 7);
  EXPECT_EQ(record().move_history[0].y, 8);
  EXPECT_EQ(format("%d,%d", record().move_history[1].x, record().move_history[1].y), move_lines(lines)[0]);
  expect_board_matches_record(engine);
}

// ---------------------------------------------------------------------------
// BOARD and ovboard bodies
// ---------------------------------------------------------------------------

using BoardBody = Commands;

TEST_F(BoardBody, SidesFollowTheOrderOfTheLinesAndTheThinkAnnouncesTheRule) {
  send("START 15\n");
  const Lines lines = send("BOARD\n7,7,2\n7,8,1\nDONE\n");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "MESSAGE Rule Gomoku (Freestyle)");
  EXPECT_EQ(move_lines(lines).size(), 1u);
  ASSERT_EQ(record().move_count, 3);
  EXPECT_EQ(record().move_history[0].side, BLACK);
  EXPECT_EQ(record().move_history[0].y, 7);
  EXPECT_EQ(record().move_history[1].side, WHITE);
  EXPECT_EQ(record().move_history[1].y, 8);
  expect_board_matches_record(engine);
}

TEST_F(BoardBody, OvboardRecordsWithoutThinking) {
  send("START 15\n");
  EXPECT_TRUE(send("ovboard\n7,7,1\n8,8,2\ndone\n").empty());
  EXPECT_EQ(record().move_count, 2);
  EXPECT_TRUE(send("ovboard\n7, 7, 1\nDone\n").size() == 1u) << "a stale duplicate is refused";
  EXPECT_TRUE(send("ovboard\n9,  9,  1\n10,10,2\r\nDONE\r\n").empty());
  EXPECT_EQ(record().move_count, 4);
  EXPECT_FALSE(engine.thinking());
}

TEST_F(BoardBody, BlockStonesOfAStaleBoardAreDropped) {
  send("START 15\n");
  EXPECT_TRUE(send("ovboard\n7,7,3\nDONE\n").empty());
  EXPECT_EQ(record().move_count, 0);
  // The body starts a think: first move at the centre, which is free.
  EXPECT_EQ(send_quiet("BOARD\n7,7,3\nDONE\n"), Lines{"7,7"});
}

TEST_F(BoardBody, BadLinesEndTheBodyAndAreConsumed) {
  send("START 15\n");
  const std::string error = "ERROR x,y,who or DONE expected after BOARD";
  for (const char* body : {"7,7,4", "7,9,0", "15,0,1", "0,-1,2", "7,7", "7 ,7,1", "ABOUT", "", "DONE now", "DONE ",
                           "1,1,4294967297", "4294967297,1,1"}) {
    EXPECT_EQ(send(std::string("ovboard\n") + body + "\nDONE\n"), (Lines{error, "UNKNOWN command"})) << body;
  }
  EXPECT_EQ(record().move_count, 0);
  // Stones before the bad line stay recorded.
  EXPECT_EQ(send("ovboard\n7,8,1\n7,9,0\n"), Lines{error});
  EXPECT_EQ(record().move_count, 1);
}

TEST_F(BoardBody, ABoardThatEndsBadlyStillThinks) {
  send("START 15\n");
  const Lines lines = send_quiet("BOARD\n7,7,1\nxyz\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "ERROR x,y,who or DONE expected after BOARD");
  EXPECT_TRUE(is_move_line(lines[1]));
  EXPECT_NE(lines[1], "7,7");
}

TEST_F(BoardBody, EndOfInputInsideABodyEndsQuietly) {
  send("START 15\n");
  EXPECT_FALSE(run_script(engine, "BOARD\n7,7,1\n"));
  EXPECT_FALSE(run_script(engine, "ovboard\n"));
  EXPECT_FALSE(run_script(engine, "ovblock\n3,3\n"));
  wait_idle(engine);
  EXPECT_TRUE(out.lines().empty());
}

TEST_F(BoardBody, BeforeAnyStartTheBoardIsSetUpFirst) {
  EXPECT_EQ(send_quiet("BOARD\nDONE\n"), (Lines{greeting(), "OK", "10,10"}));
}

TEST_F(BoardBody, BlockStonesOnACurrentBoard) {
  built_game();
  EXPECT_TRUE(send("ovboard\n0,0,3\nDONE\n").empty());
  EXPECT_EQ(cell(0, 0), BLOCKED);
  EXPECT_EQ(record().move_count, 2) << "block stones are not recorded";
  EXPECT_EQ(send("ovboard\n0,0,3\n7,7,3\nDONE\n"),
            (Lines{"ERROR board-block move [0,0]", "ERROR board-block move [7,7]"}));
  EXPECT_EQ(send("PLAY 0,0\n"), (Lines{"ERROR my move [0,0]", "0,0"}));
  EXPECT_EQ(send("TAKEBACK 0,0\n"), Lines{"ERROR bad coordinates"});
  EXPECT_EQ(cell(0, 0), BLOCKED);
  expect_board_matches_record(engine);
  // A rebuild from the record drops the block stone.
  engine.rebuild(FREESTYLE);
  EXPECT_EQ(cell(0, 0), EMPTY);
  expect_board_matches_record(engine);
}

// ---------------------------------------------------------------------------
// TAKEBACK
// ---------------------------------------------------------------------------

using Takeback = Commands;

TEST_F(Takeback, OnlyTheLastRecordedStone) {
  const std::string own = built_game();
  int ox = 0, oy = 0;
  ASSERT_EQ(std::sscanf(own.c_str(), "%d,%d", &ox, &oy), 2);
  engine.search->last_value = 999;
  EXPECT_EQ(send("TAKEBACK 7,7\n"), Lines{"ERROR bad coordinates"}) << "7,7 is not the last stone";
  EXPECT_EQ(record().move_count, 2);
  EXPECT_EQ(cell(7, 7), BLACK);
  EXPECT_EQ(engine.search->last_value, 999) << "a refused take-back changes nothing";
  EXPECT_EQ(send("TAKEBACK " + own + "\n"), Lines{"OK"});
  EXPECT_EQ(cell(ox, oy), EMPTY);
  EXPECT_EQ(record().move_count, 1);
  EXPECT_EQ(engine.search->last_value, 0);
  expect_board_matches_record(engine);
  EXPECT_EQ(send("takeback 7, 7\n"), Lines{"OK"});
  EXPECT_EQ(cell(7, 7), EMPTY);
  EXPECT_EQ(send("TAKEBACK 7,7\n"), Lines{"ERROR bad coordinates"}) << "the record is empty";
  EXPECT_EQ(record().move_count, 0);
  expect_board_matches_record(engine);
}

TEST_F(Takeback, BadArgumentsAndEmptyCells) {
  send("START 15\n");
  for (const char* cmd : {"TAKEBACK", "TAKEBACK 3", "TAKEBACK 15,0", "TAKEBACK -1,2", "TAKEBACK 1,1", "TAKEBACK 3 ,3"})
    EXPECT_EQ(send(std::string(cmd) + "\n"), Lines{"ERROR bad coordinates"}) << cmd;
}

TEST_F(Takeback, AStaleBoardIsJudgedByTheRecord) {
  built_game();
  // RESTART leaves the old stones in the board arrays; the record is empty.
  send("RESTART\n");
  EXPECT_EQ(send("TAKEBACK 7,7\n"), Lines{"ERROR bad coordinates"});
  EXPECT_EQ(record().move_count, 0);
  send("PLAY 1,1\nPLAY 2,2\n");
  EXPECT_EQ(send("TAKEBACK 1,1\n"), Lines{"ERROR bad coordinates"});
  EXPECT_EQ(send("TAKEBACK 2,2\n"), Lines{"OK"});
  EXPECT_EQ(send("TAKEBACK 1,1\n"), Lines{"OK"});
  EXPECT_EQ(record().move_count, 0);
  EXPECT_EQ(record().built_rule, -1);
}

TEST_F(Takeback, TakeBackAndReplayGiveTheSameBoardAsARebuild) {
  built_game();
  send("PLAY 3,3\nPLAY 4,4\nPLAY 5,5\nTAKEBACK 5,5\nTAKEBACK 4,4\nPLAY 4,5\n");
  ASSERT_EQ(record().move_count, 4);
  int32_t incremental[MAX_SIZE][MAX_SIZE];
  std::memcpy(incremental, engine.position->cells, sizeof incremental);
  engine.rebuild(FREESTYLE);
  EXPECT_EQ(std::memcmp(incremental, engine.position->cells, sizeof incremental), 0);
  std::string why;
  EXPECT_TRUE(engine.position->is_consistent(&why)) << why;
}

// ---------------------------------------------------------------------------
// ovblock and ovblockreset
// ---------------------------------------------------------------------------

using Blocks = Commands;

TEST_F(Blocks, OnlyLinesOfTwoNumbersOnTheBoardMarkACell) {
  send("START 15\n");
  EXPECT_TRUE(send("ovblock\n3,3\n3 ,4\na,b\n15,0\n0,15\n-1,5\n4294967296,5\n5,4294967301\n24,24\n"
                   "99999999999999,1\n1\n\xff\xfe,\x01\n" +
                   std::string(9000, '6') + ",6\nDONE\n")
                  .empty());
  EXPECT_TRUE(record().blocked(3, 3));
  EXPECT_EQ(blocked_count(), 1);
  EXPECT_TRUE(send("OVBLOCK\n14,14\ndone\n").empty());
  EXPECT_TRUE(record().blocked(14, 14));
  EXPECT_EQ(blocked_count(), 2);
  EXPECT_TRUE(send("ovblockreset\n").empty());
  EXPECT_EQ(blocked_count(), 0);
}

TEST_F(Blocks, BlockedCellsAreNotStonesAndSurviveStart) {
  built_game();
  send("ovblock\n0,1\nDONE\n");
  EXPECT_EQ(cell(0, 1), EMPTY);
  send("START 15\n");
  EXPECT_TRUE(record().blocked(0, 1));
}

TEST_F(Blocks, TheFirstMoveAvoidsBlockedCells) {
  send("START 15\n");
  send("ovblock\n7,7\nDONE\n");
  EXPECT_EQ(send_quiet("BEGIN\n"), Lines{"6,7"});
  send("START 15\novblock\n6,7\nDONE\n");
  EXPECT_EQ(send_quiet("BEGIN\n"), Lines{"7,6"});
  send("START 15\novblockreset\n");
  EXPECT_EQ(send_quiet("BEGIN\n"), Lines{"7,7"});
}

TEST_F(Blocks, BeforeAnyBoardNothingIsOnTheBoard) {
  EXPECT_TRUE(send("ovblock\n3,3\nDONE\n").empty());
  EXPECT_EQ(blocked_count(), 0);
  EXPECT_EQ(record().board_width, 0);
}

// ---------------------------------------------------------------------------
// The rule: announcement, effective rule, forbidden points
// ---------------------------------------------------------------------------

using Rule = Commands;

TEST_F(Rule, EveryValueOtherThanZeroAndOneIsPlayedAsRenju) {
  const std::pair<const char*, int> cases[] = {{"0", FREESTYLE}, {"1", STANDARD}, {"2", RENJU},
                                               {"4", RENJU},     {"-3", RENJU},   {"99999999999", RENJU}};
  for (const auto& [value, rule] : cases) {
    send(std::string("INFO rule ") + value + "\nSTART 15\n");
    const Lines lines = send("TURN 7,7\n");
    const char* name = rule == FREESTYLE ? "Gomoku (Freestyle)" : rule == STANDARD ? "Gomoku (Standard)" : "Renju";
    ASSERT_FALSE(lines.empty()) << value;
    EXPECT_EQ(lines[0], std::string("MESSAGE Rule ") + name) << value;
    EXPECT_EQ(record().built_rule, rule) << value;
    EXPECT_EQ(engine.position->rule, rule) << value;
    expect_board_matches_record(engine);
  }
}

TEST_F(Rule, AChangeBetweenThinksIsAnnouncedOnce) {
  send("START 15\n");
  EXPECT_EQ(send("TURN 7,7\n").at(0), "MESSAGE Rule Gomoku (Freestyle)");
  send("INFO rule 2\n");
  EXPECT_EQ(record().built_rule, FREESTYLE) << "INFO alone rebuilds nothing";
  EXPECT_EQ(send("TURN 0,0\n").at(0), "MESSAGE Rule Renju");
  EXPECT_EQ(record().built_rule, RENJU);
  for (const auto& line : send("TURN 0,14\n")) EXPECT_EQ(line.rfind("MESSAGE Rule", 0), std::string::npos) << line;
  send("INFO rule 4\n");
  for (const auto& line : send("TURN 14,0\n")) EXPECT_EQ(line.rfind("MESSAGE Rule", 0), std::string::npos) << line;
  expect_board_matches_record(engine);
}

TEST_F(Rule, TheFirstBuildIsChargedToTheFirstThink) {
  send("START 15\nPLAY 7,7\n");
  EXPECT_TRUE(record().first_think_pending);
  engine.search->think_clock = 1000;
  engine.apply_rule();
  EXPECT_EQ(engine.search->think_clock, 800);
  EXPECT_FALSE(record().first_think_pending);
  EXPECT_EQ(out.lines(), Lines{"MESSAGE Rule Gomoku (Freestyle)"});
  out.clear();
  engine.apply_rule();
  EXPECT_TRUE(out.lines().empty()) << "the same rule is not built again";
  engine.settings.rule = 1;
  engine.search->think_clock = 1000;
  engine.apply_rule();
  EXPECT_EQ(engine.search->think_clock, 1000);
  EXPECT_EQ(out.lines(), Lines{"MESSAGE Rule Gomoku (Standard)"});
  expect_board_matches_record(engine);
}

TEST_F(Rule, ShowForbidAnswersOnlyUnderRenju) {
  send("START 15\n");
  EXPECT_TRUE(send("ovshowforbid\n").empty());
  EXPECT_EQ(record().built_rule, -1) << "nothing is built outside Renju";
  send("INFO rule 1\n");
  EXPECT_TRUE(send("ovshowforbid\n").empty());
  send("INFO rule 4\n");
  EXPECT_EQ(send("ovshowforbid\n"), Lines{"FORBID ."});
  EXPECT_EQ(record().built_rule, RENJU);
}

TEST_F(Rule, ShowForbidBeforeAnyBoard) {
  send("INFO rule 2\n");
  EXPECT_EQ(send("ovshowforbid\n"), Lines{"FORBID ."});
  EXPECT_EQ(record().board_width, 0);
}

TEST_F(Rule, ShowForbidListsADoubleThree) {
  // Black: (7,5) (7,6) and (5,7) (6,7); (7,7) would make two open threes.
  send("INFO rule 2\nSTART 15\novboard\n7,5,1\n0,0,2\n7,6,1\n0,2,2\n5,7,1\n0,4,2\n6,7,1\nDONE\n");
  EXPECT_EQ(send("ovshowforbid\n"), Lines{"FORBID 0707."});
  expect_board_matches_record(engine);
}

// ---------------------------------------------------------------------------
// A random walk over the position commands keeps record and board in step
// ---------------------------------------------------------------------------

TEST_F(Commands, RandomCommandsKeepRecordAndBoardInStep) {
  engine.settings.max_depth = 1;
  std::mt19937 rng(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  send("START 9\n");
  int thinks = 0;
  for (int step = 0; step < 600; ++step) {
    const int size = std::max(record().board_width, record().board_height);
    const int x = pick(-1, size), y = pick(-1, size);
    std::string cmd;
    switch (pick(0, 13)) {
      case 0:
      case 1:
      case 2:
        cmd = format("PLAY %d,%d\n", x, y);
        break;
      case 3:
        if (thinks++ < 40) cmd = format("TURN %d,%d\n", x, y);
        break;
      case 4:
      case 5:
        if (record().move_count > 0 && pick(0, 3) > 0) {
          const RecordedMove& m = record().move_history[record().move_count - 1];
          cmd = format("TAKEBACK %d,%d\n", m.x, m.y);
        } else {
          cmd = format("TAKEBACK %d,%d\n", x, y);
        }
        break;
      case 6:
        cmd = format("ovboard\n%d,%d,%d\n%d,%d,%d\nDONE\n", x, y, pick(0, 3), pick(0, size), pick(0, size), pick(1, 3));
        break;
      case 7:
        if (!engine.position_current() || pick(0, 1) == 0)
          engine.rebuild(effective_rule(Settings::get(engine.settings.rule)));
        break;
      case 8:
        cmd = pick(0, 4) == 0 ? "RESTART\n" : format("INFO rule %d\n", pick(0, 4));
        break;
      case 9:
        cmd = pick(0, 1) ? format("START %d\n", pick(-2, 26)) : format("RECTSTART %d,%d\n", pick(0, 26), pick(-1, 26));
        break;
      case 10:
        cmd = format("ovblock\n%d,%d\nDONE\n", x, y);
        break;
      case 11:
        cmd = "ovshowforbid\n";
        break;
      default:
        cmd = format("PLAY %d,%d\n", pick(0, size - 1), pick(0, size - 1));
        break;
    }
    if (!cmd.empty()) send(cmd);
    SCOPED_TRACE(cmd);
    ASSERT_GE(record().board_width, 1);
    ASSERT_LE(record().board_width, MAX_SIZE);
    ASSERT_GE(record().board_height, 1);
    ASSERT_LE(record().board_height, MAX_SIZE);
    ASSERT_NO_FATAL_FAILURE(expect_board_matches_record(engine));
    if (HasFailure()) break;
  }
  if (engine.position_current()) {
    std::string why;
    EXPECT_TRUE(engine.position->is_consistent(&why)) << why;
  }
}

}  // namespace
}  // namespace orvel::testing
