// Whole protocol sessions replayed line by line through the built
// pbrain-orvel binary: standard input from a file, standard output and the
// exit status checked. Every position command waits for the running think,
// so the order of the lines is fixed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <regex>
#include <sstream>
#include <string>

#include "engine_process.h"

namespace {

// Runs the engine on input (killed after 120 s) and checks that it exits with
// status 0 and writes exactly the expected lines, each a regular expression;
// think reports are dropped unless keep matches them.
void expect_session(const std::string& input, const std::vector<std::string>& expected, const char* keep = "") {
  const orvel::testing::EngineRun run = orvel::testing::run_engine(input);
  EXPECT_EQ(run.exit_code, 0);
  std::istringstream lines_in(run.output);
  std::vector<std::string> lines;
  for (std::string l; std::getline(lines_in, l);)
    if (l.rfind("MESSAGE ", 0) != 0 ||
        std::regex_match(l, std::regex(R"(MESSAGE Orvel \S+ :-\)|)" + std::string(keep))))
      lines.push_back(l);
  for (size_t i = 0; i < std::max(lines.size(), expected.size()); ++i)
    EXPECT_TRUE(i < lines.size() && i < expected.size() && std::regex_match(lines[i], std::regex(expected[i])))
        << "line " << i + 1 << ": expected /" << (i < expected.size() ? expected[i] : "nothing") << "/, got '"
        << (i < lines.size() ? lines[i] : "nothing") << "'";
}

const std::string HI = R"(MESSAGE Orvel \S+ :-\))", BAD = "ERROR bad coordinates", SIZE = "ERROR size of the board";
const std::string ABOUT = R"(name="Orvel", author="[^"]*", version="[^"]*", country="[^"]*", www="[^"]*")";

TEST(Session, AGameThroughTheEdgesOfEveryCommand) {
  // clang-format off
  expect_session(
      "ABOUT\nSTART 15\nINFO hash_size 1024\nINFO timeout_turn 200\nBEGIN\n"
      "PLAY 8,8\nPLAY 8,8\nTAKEBACK 7,7\nTAKEBACK 8,8\nTAKEBACK 7,7\nTAKEBACK 7,7\n"
      "RECTSTART 20,15\nPLAY 14,19\nPLAY 15,0\nSTART 25\nSTART 4294967311\nPLAY 14,19\n"
      "PLAY 99999999999999999999999999,1\nRECTSTART 15\nINFO rule 4\nTURN 3,3\novshowforbid\nHELLO\nEND\nABOUT\n",
      {ABOUT, HI, "OK", "7,7",                        // BEGIN plays the centre
       "8,8", R"(ERROR my move \[8,8\])", "8,8",      // PLAY waits for the think; no second stone on 8,8
       BAD, "OK", "OK", BAD,                          // only the last stone is taken back
       HI, "OK", "14,19", BAD, SIZE, SIZE,            // x below 15, y below 20; sizes refused ...
       R"(ERROR my move \[14,19\])", "14,19",        // ... leaving board and record as they were
       BAD, "ERROR bad RECTSTART parameters",
       "MESSAGE Rule Renju", R"((?!3,3$|14,19$)(1[0-4]|\d),(1\d|\d))",  // rule 4 is played as Renju
       R"(FORBID (\d{4})*\.)", "UNKNOWN command"},
      "MESSAGE Rule .*");
  // clang-format on
}

TEST(Session, BoardsListedInAnyOrderAndRefusedTurns) {
  // clang-format off
  expect_session(
      // The engine's four first, then the opponent's stones: it completes its five.
      "START 15\nINFO max_depth 3\nBOARD\n7,7,1\n7,8,1\n7,9,1\n7,10,1\n0,0,2\n14,14,2\n0,14,2\n14,0,2\nDONE\n"
      // One opponent stone more: the engine is WHITE and still completes its five.
      "START 15\nBOARD\n0,0,2\n14,14,2\n0,14,2\n14,0,2\n2,2,2\n7,7,1\n7,8,1\n7,9,1\n7,10,1\nDONE\n"
      // A refused TURN writes its error and nothing else; the next TURN plays.
      "TURN 7,7\nTURN 2,2\nTURN 12,12\nEND\n",
      {HI, "OK", "7,(6|11)", HI, "OK", "7,(6|11)",
       R"(ERROR opponents's move \[7,7\])", R"(ERROR opponents's move \[2,2\])", R"(\d+,\d+)"});
  // clang-format on
}

TEST(Session, Swap2BoardAnswersOneLineAndLeavesTheGameToBoard) {
  // Every command stops the think before it, so each SWAP2BOARD answers
  // whatever it has found by then, always on exactly one line.
  const std::string three = R"(SWAP|\d+,\d+|\d+,\d+ \d+,\d+)", five = R"(SWAP|\d+,\d+)";
  // clang-format off
  expect_session(
      "START 15\nINFO hash_size 1024\nINFO timeout_turn 200\nINFO max_depth 2\n"
      "SWAP2BOARD\n7,7\n0,0\n7,8\nDONE\n"
      "SWAP2BOARD\n0,0\n7,7\n14,14\n7,8\nDONE\n"
      "SWAP2BOARD\n7,7\nseven\n8,8\nDONE\n"
      "SWAP2BOARD\nDONE\n"
      "swap2board\n7,7\n0,0\n7,8\n0,14\n7,9\ndone\n"
      "BOARD\n7,7,2\n0,0,1\n7,8,2\nDONE\nSWAP2BOARD\nDONE\nEND\n",
      {HI, "OK", three, "ERROR swap2 takes 0, 3 or 5 stones, not 4", "ERROR x,y or DONE expected after SWAP2BOARD",
       R"(\d+,\d+ \d+,\d+ \d+,\d+)", five,
       R"((?!7,7$|0,0$|7,8$)\d+,\d+)",     // BOARD finds no stone left behind
       "ERROR swap2 needs a new game"});
  // clang-format on
}

TEST(Session, EndOfInputAndEndExitWithStatusZero) {
  expect_session("", {});
  expect_session("ABOUT", {});  // a last line without a line feed is not run
  expect_session("ENDGAME\nABOUT\n", {});
  expect_session("START 15\nBOARD\n7,7,1\n", {HI, "OK"});  // end of input inside a body: no error line
  expect_session("ovblock\n3,3\n", {});
}

TEST(Session, CarriageReturnsAndCtrlZAreJustBytes) {
  // Input and output are raw bytes on every system: CR LF lines read like
  // LF lines, a Ctrl-Z byte is an unknown command rather than the end of the
  // input, and no reply gains a carriage return.
  expect_session("ABOUT\r\nSTART 15\r\n\x1a\r\nPLAY 7,7\r\n\x1a\nRESTART\r\nABOUT\r\nEND\r\n",
                 {ABOUT, HI, "OK", "UNKNOWN command", "7,7", "UNKNOWN command", HI, "OK", ABOUT});
}

TEST(Session, BinaryJunkAndOverlongLinesAreUnknownCommands) {
  // Bytes without letters can never start a keyword: every line, however
  // long and whatever it holds, is answered once with UNKNOWN command.
  std::mt19937 rng(7);
  std::string junk;
  for (int i = 0; i < 300; ++i) {
    for (int k = i % 50 == 0 ? 20000 : rng() % 200; k > 0; --k) {
      const unsigned char c = rng();
      junk += c == '\n' || std::isalpha(c) ? '#' : static_cast<char>(c);
    }
    junk += '\n';
  }
  std::vector<std::string> expected(300, "UNKNOWN command");
  expected.push_back(ABOUT);
  expect_session(junk + "ABOUT\nEND\n", expected);
}

}  // namespace
