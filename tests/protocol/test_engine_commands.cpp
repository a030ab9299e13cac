// Position commands driven in-process through the dispatcher, written as
// transcripts: each step sends a command and checks the replies and the game
// state after it. After every step the board arrays, whenever current, hold
// exactly the stones of the record.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

// The record is well formed and, while the board arrays are current, they
// hold exactly its stones.
void expect_board_matches_record(const Engine& e) {
  const GameRecord& r = e.game.record;
  int stones = 0;
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y)
      stones += e.game.position->cells[x][y] == BLACK || e.game.position->cells[x][y] == WHITE;
  for (int i = 0; i < r.move_count; ++i) {
    const RecordedMove& m = r.move_history[i];
    ASSERT_TRUE(r.on_board(m.x, m.y) && m.side == i % 2 + 1) << "entry " << i;
    for (int j = 0; j < i; ++j)
      ASSERT_FALSE(r.move_history[j].x == m.x && r.move_history[j].y == m.y) << "two stones on " << m.x << "," << m.y;
    ASSERT_TRUE(!e.game.position_current() || e.game.position->cells[m.x][m.y] == m.side) << "entry " << i;
  }
  std::string why;
  EXPECT_TRUE(!e.game.position_current() || (stones == r.move_count && e.game.position->is_consistent(&why))) << why;
}

// Replies are joined by '|' and matched literally, except that MOVE stands
// for any move line.
bool matches(const std::string& text, const std::string& pattern) {
  std::string re;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const bool move = pattern.compare(i, 4, "MOVE") == 0, special = std::strchr("\\^$.|?*+()[]{}", pattern[i]);
    re += move ? R"(\d+,\d+)" : (special ? "\\" : "") + pattern.substr(i, 1);
    if (move) i += 3;
  }
  return std::regex_match(text, std::regex(re));
}

class Commands : public EngineFixture {
 protected:
  void SetUp() override { EngineFixture::SetUp(), engine.game.settings.max_depth = 1; }
  // width x height / size, built rule, blocked cells, then the record.
  std::string state() const {
    const GameRecord& r = record();
    int blocked = 0;
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) blocked += r.blocked(x, y);
    std::string s = format("%dx%d/%d r%d b%d [", r.board_width, r.board_height, r.board_size, r.built_rule, blocked);
    for (int i = 0; i < r.move_count; ++i)
      s += format(i ? " %d,%d" : "%d,%d", r.move_history[i].x, r.move_history[i].y);
    return s + "]";
  }
  std::string cells() const {
    return {reinterpret_cast<char*>(&engine.game.position->cells), sizeof engine.game.position->cells};
  }
  std::string last() const {
    const RecordedMove& m = record().move_history[record().move_count - 1];
    return format("%d,%d", m.x, m.y);
  }
  // The greeting reads HI; think reports are dropped, rule announcements
  // kept. A state of "=" means that state and board cells did not change.
  void step(const std::string& cmd, const std::string& replies, const std::string& want) {
    SCOPED_TRACE(cmd);
    const std::string before = state() + cells();
    std::string got;
    for (const auto& l : send(cmd + "\n"))
      if (l.rfind("MESSAGE", 0) != 0 || l == greeting() || l.rfind("MESSAGE Rule ", 0) == 0)
        got += (got.empty() ? "" : "|") + (l == greeting() ? "HI" : l);
    EXPECT_TRUE(matches(got, replies)) << "replies: " << got;
    EXPECT_TRUE(want == "=" ? state() + cells() == before : matches(state(), want)) << "state: " << state();
    expect_board_matches_record(engine);
  }
  // Each of the commands (separated by ';') is refused alone and changes nothing.
  void refuse(const std::string& cmds, const std::string& error) {
    std::istringstream in(cmds);
    for (std::string cmd; std::getline(in, cmd, ';');) step(cmd, error, "=");
  }
};

TEST_F(Commands, BoardSizes) {
  step("START 25", "ERROR size of the board", "0x0/15 r-1 b0 []");
  step("START", "HI|OK", "20x20/20 r-1 b0 []");
  step("start 24", "HI|OK", "24x24/24 r-1 b0 []");
  step("START 12 7", "HI|OK", "12x7/12 r-1 b0 []");
  step("STARTING 15", "HI|OK", "=");  // no number keeps the size
  step("START 0 15", "HI|OK", "20x20/20 r-1 b0 []");
  step("RECTSTART 20,15", "HI|OK", "20x15/20 r-1 b0 []");
  step("PLAY 14,19\nPLAY 0,19", "14,19|0,19", "20x15/20 r-1 b0 [14,19 0,19]");  // x below the height, y the width
  refuse("PLAY 15,0;PLAY 19,14;PLAY 0,20", "ERROR bad coordinates");
  step("RECTSTART 15 , 20", "HI|OK", "15x20/20 r-1 b0 []");
  refuse("RECTSTART 15;RECTSTART;RECTSTART 15 20;RECTSTART a,b;RECTSTART 15,;RECTSTART ,15",
         "ERROR bad RECTSTART parameters");
  step("START 15", "HI|OK", "15x15/15 r-1 b0 []");
  step("TURN 7,7", "MESSAGE Rule Gomoku (Freestyle)|MOVE", "15x15/15 r0 b0 [7,7 MOVE]");
  refuse(
      "START 25;START -1;START 15 0;START 15 25;RECTSTART 25,10;RECTSTART 10,25;RECTSTART 7,0;RECTSTART -3,5;"
      "START 4294967311;RECTSTART 15,4294967311;START 99999999999999999999;START -4294967281",
      "ERROR size of the board");
  engine.game.search->last_value = 1234;
  step("RESTART", "HI|OK", "15x15/15 r-1 b0 []");
  EXPECT_EQ(engine.game.search->last_value, 0);
}

TEST_F(Commands, StonesOnStaleAndCurrentBoards) {
  step("PLAY 3,4\nPLAY 19,19", "HI|OK|3,4|19,19", "20x20/20 r-1 b0 [3,4 19,19]");  // a board is set up first
  step("START 15", "HI|OK", "15x15/15 r-1 b0 []");
  step("PLAY 0,0\nPLAY 3, 4\nPLAY 05,06\nPLAY 1,2 and more\nPLAY 9,10,11\nplay 14,13\nPLAY +8,\t+8\nPLAY7,8",
       "0,0|3,4|5,6|1,2|9,10|14,13|8,8|7,8", "15x15/15 r-1 b0 [0,0 3,4 5,6 1,2 9,10 14,13 8,8 7,8]");
  refuse(
      "PLAY 7 ,8;PLAY 7;PLAY;PLAY a,b;PLAY -1,0;PLAY 0,-1;PLAY 15,0;PLAY 0,15;PLAYBACK 1,1;PLAY 2147483648,0;"
      "PLAY 4294967303,7;PLAY 7,4294967303;PLAY -4294967289,7;PLAY 99999999999999999999999,3;PLAY - 1,1;"
      "TURN 7 ,8;TURN 15,0;TURN -1,-1;TURN 7;turn;TURNABOUT;TURN 4294967303,7",
      "ERROR bad coordinates");
  step("PLAY 3,4", "ERROR my move [3,4]|3,4", "=");  // a stale duplicate is refused like an occupied cell
  // A refused opponent's stone starts no think: the engine would move for
  // the wrong side.
  step("TURN 3,4", "ERROR opponents's move [3,4]", "=");
  step("TURN 0,13", "MESSAGE Rule Gomoku (Freestyle)|MOVE",
       "15x15/15 r0 b0 [0,0 3,4 5,6 1,2 9,10 14,13 8,8 7,8 0,13 MOVE]");
  step("TURN 3,4", "ERROR opponents's move [3,4]", "=");
  step("PLAY 3,4", "ERROR my move [3,4]|3,4", "=");
  step("PLAY 0,14", "0,14", "15x15/15 r0 b0 [0,0 3,4 5,6 1,2 9,10 14,13 8,8 7,8 0,13 MOVE 0,14]");
}

TEST_F(Commands, BoardBodies) {
  step("BOARD\nDONE", "HI|OK|10,10", "20x20/20 r-1 b0 [10,10]");  // a board is set up first
  step("START 15", "HI|OK", "15x15/15 r-1 b0 []");
  step("ovboard\n7,7,3\nDONE", "", "=");  // a stale board drops block stones
  // Equal counts: the engine's stone first, whatever the line order.
  step("BOARD\n7,7,2\n7,8,1\nDONE", "MESSAGE Rule Gomoku (Freestyle)|MOVE", "15x15/15 r0 b0 [7,8 7,7 MOVE]");
  step("ovboard\n9,  9,  1\n10,10,2\r\nDONE\r", "", "15x15/15 r0 b0 [7,8 7,7 MOVE 9,9 10,10]");
  step("ovboard\n7, 7, 1\nDone", "ERROR my move [7,7]", "=");
  step("ovboard\n0,0,3\nDONE", "", "15x15/15 r0 b0 [7,8 7,7 MOVE 9,9 10,10]");
  EXPECT_EQ(cell(0, 0), BLOCKED);
  step("ovboard\n0,0,3\n7,7,3\nDONE", "ERROR board-block move [0,0]|ERROR board-block move [7,7]", "=");
  // A cell taken earlier in the same body refuses stones and block stones.
  step("ovboard\n5,5,1\n5,5,2\n5,5,3\n6,6,2\nDONE", "ERROR opponents's move [5,5]|ERROR board-block move [5,5]",
       "15x15/15 r0 b0 [7,8 7,7 MOVE 9,9 10,10 5,5 6,6]");
  step("TAKEBACK 6,6\nTAKEBACK 5,5", "OK|OK", "15x15/15 r0 b0 [7,8 7,7 MOVE 9,9 10,10]");
  step("PLAY 0,0", "ERROR my move [0,0]|0,0", "=");
  refuse("TAKEBACK 0,0", "ERROR bad coordinates");
  engine.game.rebuild(FREESTYLE);
  EXPECT_EQ(cell(0, 0), EMPTY) << "a rebuild from the record drops the block stone";
  const std::string error = "ERROR x,y,who or DONE expected after BOARD";
  refuse(
      "ovboard\n7,7,4\nDONE;ovboard\n7,9,0\nDONE;ovboard\n15,0,1\nDONE;ovboard\n0,-1,2\nDONE;ovboard\n7,7\nDONE;"
      "ovboard\n7 ,7,1\nDONE;ovboard\nABOUT\nDONE;ovboard\n\nDONE;ovboard\nDONE now\nDONE;ovboard\nDONE \nDONE;"
      "ovboard\n1,1,4294967297\nDONE;ovboard\n4294967297,1,1\nDONE",
      error + "|UNKNOWN command");
  step("ovboard\n1,8,1\n7,9,0", error, "15x15/15 r0 b0 [7,8 7,7 MOVE 9,9 10,10 1,8]");
  step("BOARD\n2,2,1\nxyz", error + "|MOVE", "15x15/15 r0 b0 [7,8 7,7 MOVE 9,9 10,10 1,8 2,2 MOVE]");
}

TEST_F(Commands, TakebackOnlyOfTheLastRecordedStone) {
  step("TAKEBACK 1,1", "HI|OK|ERROR bad coordinates", "20x20/20 r-1 b0 []");  // a board is set up first
  step("START 15\nPLAY 7,7", "HI|OK|7,7", "15x15/15 r-1 b0 [7,7]");
  step("TURN 8,8", "MESSAGE Rule Gomoku (Freestyle)|MOVE", "15x15/15 r0 b0 [7,7 8,8 MOVE]");
  engine.game.search->last_value = 999;
  refuse("TAKEBACK 8,8;TAKEBACK 7,7;TAKEBACK;TAKEBACK 3;TAKEBACK 15,0;TAKEBACK -1,2;TAKEBACK 1,1;TAKEBACK 3 ,3",
         "ERROR bad coordinates");
  EXPECT_EQ(engine.game.search->last_value, 999) << "a refused take-back changes nothing";
  step("TAKEBACK " + last(), "OK", "15x15/15 r0 b0 [7,7 8,8]");
  EXPECT_EQ(engine.game.search->last_value, 0);
  step("takeback 8, 8\nTAKEBACK 7,7", "OK|OK", "15x15/15 r0 b0 []");
  refuse("TAKEBACK 7,7", "ERROR bad coordinates");
  // A stale board is judged by the record, not by the cells left behind.
  step("PLAY 4,4\nRESTART", "4,4|HI|OK", "15x15/15 r-1 b0 []");
  refuse("TAKEBACK 4,4", "ERROR bad coordinates");
  step("PLAY 1,1\nPLAY 2,2\nTAKEBACK 1,1", "1,1|2,2|ERROR bad coordinates", "15x15/15 r-1 b0 [1,1 2,2]");
  step("TAKEBACK 2,2\nTAKEBACK 1,1", "OK|OK", "15x15/15 r-1 b0 []");
}

TEST_F(Commands, BlockedCells) {
  // Marks hold for any cell of the storage, before START or beyond the
  // current board, until ovblockreset.
  step("ovblock\n3,3\n17,2\nDONE", "", "0x0/15 r-1 b2 []");
  step("restart", "HI|OK|HI|OK", "20x20/20 r-1 b2 []");  // a board is set up first
  step("START 15\nTURN 7,7", "HI|OK|MESSAGE Rule Gomoku (Freestyle)|MOVE", "15x15/15 r0 b2 [7,7 MOVE]");
  // Only lines of two numbers within the storage mark a cell; nothing else is read.
  step(
      "ovblock\n3,3\n3 "
      ",4\na,b\n15,0\n0,15\n-1,5\n4294967296,5\n5,4294967301\n24,24\n23,-1\n99999999999999,1\n1\n\xff\xfe,\x01\n" +
          std::string(9000, '6') + ",6\nDONE",
      "", "15x15/15 r0 b4 [7,7 MOVE]");
  EXPECT_TRUE(record().blocked(3, 3));
  EXPECT_TRUE(record().blocked(15, 0) && record().blocked(0, 15) && record().blocked(17, 2));
  step("OVBLOCK\n14,14\ndone\nSTART 15", "HI|OK", "15x15/15 r-1 b5 []");  // survive START, are not stones
  step("START 20", "HI|OK", "20x20/20 r-1 b5 []");
  step("ovblockreset", "", "20x20/20 r-1 b0 []");
}

// Under the Gomoku rules a body's stones take the colours their who numbers
// say whenever the counts allow an alternation; under Renju, and when the
// counts allow none, they follow the line order.
TEST_F(Commands, BoardBodyColours) {
  struct Row {
    const char* rule;
    const char* body;
    const char* record;
    bool by_who;  // every own stone has the colour of the side to move
  };
  const Row rows[] = {
      {"0", "1,1,1\n1,2,1\n2,1,2\n2,2,2", "[1,1 2,1 1,2 2,2]", true},             // a = b: own first
      {"1", "2,1,2\n2,2,2\n2,3,2\n1,1,1\n1,2,1", "[2,1 1,1 2,2 1,2 2,3]", true},  // b = a + 1: theirs first
      {"0", "1,1,1\n2,1,2\n1,2,1\n2,2,2", "[1,1 2,1 1,2 2,2]", true},             // already alternating
      {"0", "1,1,1\n0,0,3\n1,2,1\n2,1,2\n2,2,2", "[1,1 2,1 1,2 2,2]", true},     // a block stone keeps its place
      {"0", "1,1,1", "[1,1]", false},                                              // no alternation possible
      {"0", "1,1,1\n1,2,1\n1,3,1\n2,1,2", "[1,1 1,2 1,3 2,1]", false},
      {"4", "1,1,1\n1,2,1\n2,1,2\n2,2,2", "[1,1 1,2 2,1 2,2]", false},             // Renju: play order
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.body);
    send(std::string("START 15\nINFO rule ") + r.rule + "\novboard\n" + r.body + "\nDONE\n");
    EXPECT_TRUE(matches(state(), std::string("15x15/15 r-1 b0 ") + r.record)) << state();
    bool by_who = true;
    const int own = record().side_to_move();
    for (int i = 0; i < record().move_count; ++i) {
      const RecordedMove& m = record().move_history[i];
      const bool listed_own = std::string(r.body).find(format("%d,%d,1", m.x, m.y)) != std::string::npos;
      by_who = by_who && (m.side == own) == listed_own;
    }
    EXPECT_EQ(by_who, r.by_who);
  }
}

TEST_F(Commands, EveryRuleValueOtherThanZeroAndOneIsRenju) {
  step("INFO rule 2\novshowforbid", "FORBID .", "0x0/15 r-1 b0 []");  // no board yet
  const std::pair<const char*, int> cases[] = {{"0", FREESTYLE}, {"1", STANDARD}, {"2", RENJU},
                                               {"4", RENJU},     {"-3", RENJU},   {"99999999999", RENJU}};
  for (const auto& [value, rule] : cases) {
    const std::string name = rule == FREESTYLE  ? "Gomoku (Freestyle)"
                             : rule == STANDARD ? "Gomoku (Standard)"
                                                : "Renju";
    step(std::string("INFO rule ") + value + "\nSTART 15" + (rule == RENJU ? "" : "\novshowforbid"), "HI|OK",
         "15x15/15 r-1 b0 []");  // outside Renju, ovshowforbid neither answers nor builds
    step("TURN 7,7\novshowforbid", "MESSAGE Rule " + name + "|MOVE" + (rule == RENJU ? "|FORBID ." : ""),
         format("15x15/15 r%d b0 [7,7 MOVE]", rule));
    EXPECT_EQ(engine.game.position->rule, rule) << value;
  }
  // A change between thinks is built and announced once, at the next think.
  step("INFO rule 0", "", "=");
  step("TURN 0,0", "MESSAGE Rule Gomoku (Freestyle)|MOVE", "15x15/15 r0 b0 [7,7 MOVE 0,0 MOVE]");
  step("INFO rule 2\nTURN 0,14", "MESSAGE Rule Renju|MOVE", "15x15/15 r2 b0 [7,7 MOVE 0,0 MOVE 0,14 MOVE]");
  step("INFO rule 4\nTURN 14,0", "MOVE", "15x15/15 r2 b0 [7,7 MOVE 0,0 MOVE 0,14 MOVE 14,0 MOVE]");
  step("START 15\novboard\n7,5,1\n0,0,2\n7,6,1\n0,2,2\n5,7,1\n0,4,2\n6,7,1\nDONE\novshowforbid", "HI|OK|FORBID 0707.",
       "15x15/15 r2 b0 [7,5 0,0 7,6 0,2 5,7 0,4 6,7]");  // a double three
}

// A random walk over the position commands keeps record and board in step.
TEST_F(Commands, RandomCommandsKeepRecordAndBoardInStep) {
  std::mt19937 rng(20240611);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  send("START 9\n");
  for (int i = 0, thinks = 0; i < 600 && !HasFailure(); ++i) {
    const int size = std::max(record().board_width, record().board_height), x = pick(-1, size), y = pick(-1, size);
    const int kind = pick(0, 13);
    std::string cmd = format("PLAY %d,%d\n", x, y);
    if (kind == 3) cmd = thinks++ < 40 ? format("TURN %d,%d\n", x, y) : "";
    if (kind == 4 || kind == 5)
      cmd = "TAKEBACK " + (record().move_count > 0 && pick(0, 3) ? last() : format("%d,%d", x, y)) + "\n";
    if (kind == 6)
      cmd = format("ovboard\n%d,%d,%d\n%d,%d,%d\nDONE\n", x, y, pick(0, 3), pick(0, size), pick(0, size), pick(1, 3));
    if (kind == 7) cmd = "ovhashclear\n";
    if (kind == 8) cmd = pick(0, 4) == 0 ? "RESTART\n" : format("INFO rule %d\n", pick(0, 4));
    if (kind == 9)
      cmd = pick(0, 1) ? format("START %d\n", pick(-2, 26)) : format("RECTSTART %d,%d\n", pick(0, 26), pick(-1, 26));
    if (kind == 10) cmd = format("ovblock\n%d,%d\nDONE\n", x, y);
    if (kind == 11) cmd = "ovshowforbid\n";
    if (kind >= 12) cmd = format("PLAY %d,%d\n", pick(0, size - 1), pick(0, size - 1));
    SCOPED_TRACE(cmd);
    send(cmd);
    ASSERT_TRUE(std::min(record().board_width, record().board_height) >= 1 &&
                std::max(record().board_width, record().board_height) <= MAX_SIZE);
    expect_board_matches_record(engine);
  }
}

}  // namespace
}  // namespace orvel::testing
