// The command loop's pieces: keyword matching, the DONE test, line reading
// with its 8192-byte cut, the dispatch order and the INFO settings.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

// ---------------------------------------------------------------------------
// match_keyword
// ---------------------------------------------------------------------------

TEST(MatchKeyword, CaseInsensitivePrefixSkipsWhiteSpaceBehind) {
  const char* text = "TURN 7,8";
  ASSERT_NE(match_keyword("turn", text), nullptr);
  EXPECT_STREQ(match_keyword("turn", text), "7,8");
  EXPECT_STREQ(match_keyword("turn", "tUrN \t\r\v\f 7"), "7");
  EXPECT_STREQ(match_keyword("TURN", "turn"), "");
  // Only the letters a to z are folded.
  EXPECT_EQ(match_keyword("a[", "A{"), nullptr);
}

TEST(MatchKeyword, NoWordBoundary) {
  EXPECT_STREQ(match_keyword("board", "BOARDX"), "X");
  EXPECT_STREQ(match_keyword("start", "STARTING 15"), "ING 15");
  EXPECT_STREQ(match_keyword("about", "ABOUTTURN 7,7"), "TURN 7,7");
}

TEST(MatchKeyword, RefusesShortOrDifferentOrIndentedText) {
  EXPECT_EQ(match_keyword("start", "STAR"), nullptr);
  EXPECT_EQ(match_keyword("start", ""), nullptr);
  EXPECT_EQ(match_keyword("start", " START 15"), nullptr);
  EXPECT_EQ(match_keyword("start", "\tSTART"), nullptr);
  EXPECT_EQ(match_keyword("ovblock", "ovblack"), nullptr);
  // A NUL inside the keyword's length ends the text: nothing past it is read.
  const char text[] = {'E', 'N', '\0', 'D', '\0'};
  EXPECT_EQ(match_keyword("end", text), nullptr);
}

TEST(MatchKeyword, HighBytesAreNotLetters) {
  EXPECT_EQ(match_keyword("info", "\xc9NFO"), nullptr);
  EXPECT_EQ(match_keyword("info", "INF\xff"), nullptr);
}

// ---------------------------------------------------------------------------
// is_done_line
// ---------------------------------------------------------------------------

TEST(IsDoneLine, AnyLetterCaseWholeLineOnly) {
  for (const char* yes : {"DONE", "done", "Done", "dOnE"}) EXPECT_TRUE(is_done_line(yes)) << yes;
  for (const char* no : {"DONE ", " DONE", "DON", "DONEX", "DONE now", "", "D0NE", "DONE\r"})
    EXPECT_FALSE(is_done_line(no)) << '"' << no << '"';
}

// ---------------------------------------------------------------------------
// LineReader
// ---------------------------------------------------------------------------

class LineReading : public ::testing::Test {
 protected:
  std::string data;
  std::FILE* in = nullptr;

  LineReader open(const std::string& text) {
    data = text;
    in = fmemopen(data.data(), data.size(), "r");
    EXPECT_NE(in, nullptr);
    return LineReader(in, false);
  }
  void TearDown() override {
    if (in) std::fclose(in);
  }
};

TEST_F(LineReading, StripsLineFeedAndOneCarriageReturn) {
  LineReader r = open("ABOUT\nTURN 1,2\r\n\r\n\n\r\r\nx");
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "ABOUT");
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "TURN 1,2");
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "");
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "");
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "\r");  // only the carriage return right before the line feed goes
  // A last line without a line feed is never delivered.
  EXPECT_FALSE(r.read_line());
}

TEST_F(LineReading, LongLinesKeepTheirFirst8191Characters) {
  const std::string exact(8191, 'a');
  const std::string over(8192, 'b');
  const std::string much = std::string(8191, 'c') + "ABOUT" + std::string(1803, 'c');
  LineReader r = open(exact + "\n" + over + "\n" + much + "\r\n" + "next\n");
  ASSERT_TRUE(r.read_line());
  EXPECT_EQ(std::string(r.buffer()), exact);
  ASSERT_TRUE(r.read_line());
  EXPECT_EQ(std::string(r.buffer()), std::string(8191, 'b'));
  ASSERT_TRUE(r.read_line());
  EXPECT_EQ(std::string(r.buffer()), std::string(8191, 'c'));
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "next");
  EXPECT_FALSE(r.read_line());
}

TEST_F(LineReading, CarriageReturnBeforeTheCutIsRemovedToo) {
  // 8190 characters, then CR as the 8191st: it is the last kept character.
  LineReader r = open(std::string(8190, 'd') + "\r" + std::string(50, 'e') + "\n");
  ASSERT_TRUE(r.read_line());
  EXPECT_EQ(std::string(r.buffer()), std::string(8190, 'd'));
}

TEST_F(LineReading, BinaryBytesAreStoredAsTheyCome) {
  std::string line = "A";
  line += '\0';
  line += "\xff\x01Z";
  LineReader r = open(line + "\nB\n");
  ASSERT_TRUE(r.read_line());
  EXPECT_EQ(r.buffer()[0], 'A');
  EXPECT_EQ(r.buffer()[1], '\0');
  EXPECT_EQ(static_cast<unsigned char>(r.buffer()[2]), 0xffu);
  EXPECT_EQ(r.buffer()[4], 'Z');
  EXPECT_EQ(r.buffer()[5], '\0');
  ASSERT_TRUE(r.read_line());
  EXPECT_STREQ(r.buffer(), "B");
}

// ---------------------------------------------------------------------------
// Dispatch order and the dispatcher's own replies
// ---------------------------------------------------------------------------

class Dispatch : public EngineFixture {};

const std::regex ABOUT_RE(R"(name="Orvel", author="[^"]*", version="[^"]*", country="[^"]*", www="[^"]*")");

TEST_F(Dispatch, AboutInAnyCaseAndAsPrefix) {
  for (const char* cmd : {"ABOUT", "about", "aBoUt", "ABOUTX", "ABOUT and more", "ABOUTTURN 7,7"}) {
    auto lines = send(std::string(cmd) + "\n");
    ASSERT_EQ(lines.size(), 1u) << cmd;
    EXPECT_TRUE(std::regex_match(lines[0], ABOUT_RE)) << lines[0];
  }
  EXPECT_EQ(record().board_width, 0) << "ABOUT must not set up a board";
}

TEST_F(Dispatch, UnknownCommands) {
  for (const char* cmd : {"HELLO", "7,7", "DONE", "", "\r", " ABOUT", "\tABOUT", " START 15", " TURN 7,8", " END",
                          "AB", "OV", "ovs", "TAKE 1,1", "RE", "STAR 15", "EN", "\xff\xfe"}) {
    auto lines = send(std::string(cmd) + "\n");
    EXPECT_EQ(lines, std::vector<std::string>{"UNKNOWN command"}) << '"' << cmd << '"';
  }
  EXPECT_EQ(record().board_width, 0);
  EXPECT_EQ(record().move_count, 0);
}

TEST_F(Dispatch, OvblockresetIsTriedBeforeOvblock) {
  // Were ovblock tried first, the ABOUT lines would be swallowed by a body.
  auto lines = send("ovblockreset\nABOUT\nOVBLOCKRESET now\nABOUT\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(std::regex_match(lines[0], ABOUT_RE));
  EXPECT_TRUE(std::regex_match(lines[1], ABOUT_RE));
}

TEST_F(Dispatch, SilentCommandsWithNoThinkRunning) {
  EXPECT_TRUE(send("ovhashclear\novstop\nOVSTOP\novhashclearall\novblockreset\novblock\n1,1\nDONE\n").empty());
  EXPECT_EQ(record().board_width, 0);
}

TEST_F(Dispatch, EndReturnsFalseAndStopsTheScript) {
  EXPECT_FALSE(run_script(engine, "ENDGAME\nABOUT\n"));
  EXPECT_TRUE(out.lines().empty()) << "nothing after END may run";
  EXPECT_TRUE(run_script(engine, "ABOUT\n"));
}

TEST_F(Dispatch, InfoSwallowsEveryLineStartingWithIt) {
  EXPECT_TRUE(send("INFOABOUT\ninformation\nINFO\nINFO colour 1\nINFO 0\n").empty());
}

TEST_F(Dispatch, PositionCommandsSetUpA20By20BoardFirst) {
  auto lines = send("PLAY 3,4\n");
  EXPECT_EQ(lines, (std::vector<std::string>{greeting(), "OK", "3,4"}));
  EXPECT_EQ(record().board_width, 20);
  EXPECT_EQ(record().board_height, 20);
  // Once set, no further greeting.
  EXPECT_EQ(send("PLAY 19,19\n"), std::vector<std::string>{"19,19"});
}

TEST_F(Dispatch, AnalysisParametersAndDefaults) {
  send("START 15\n");
  send("ovnbest 3\n");
  EXPECT_EQ(engine.nbest_count, 3);
  send("ovnbest\n");
  EXPECT_EQ(engine.nbest_count, 1);
  send("ovbalanceone -5\n");
  EXPECT_EQ(engine.balance_offset, -5);
  send("ovbalanceone\n");
  EXPECT_EQ(engine.balance_offset, 0);
  send("ovbalancetwo 99999999999\n");
  EXPECT_EQ(engine.balance_offset, INT32_MAX);
  send("ovbalancetwo x\n");
  EXPECT_EQ(engine.balance_offset, 0);
  // Every analysis think hands the worker back to normal play.
  EXPECT_EQ(engine.think_mode.load(), THINK_NORMAL);
}

// ---------------------------------------------------------------------------
// INFO
// ---------------------------------------------------------------------------

class Info : public EngineFixture {};

TEST_F(Info, EveryKeyReachesItsSetting) {
  send(
      "INFO max_memory 83886080\nINFO timeout_match 100000\nINFO timeout_turn 4000\nINFO time_left 5000\n"
      "INFO game_type 3\nINFO max_depth 7\nINFO max_node 123\nINFO caution_factor 2\nINFO hash_size 4096\n"
      "INFO show_detail 1\nINFO rule 4\nINFO folder /tmp/x y\n");
  const Settings& s = engine.settings;
  EXPECT_EQ(s.max_memory, 83886080);
  EXPECT_EQ(s.timeout_match, 100000);
  EXPECT_EQ(s.timeout_turn, 4000);
  EXPECT_EQ(s.time_left, 5000);
  EXPECT_EQ(s.game_type, 3);
  EXPECT_EQ(s.max_depth, 7);
  EXPECT_EQ(s.max_node, 123);
  EXPECT_EQ(s.caution_factor, 2);
  EXPECT_EQ(s.hash_size, 4096);
  EXPECT_EQ(s.show_detail, 1);
  EXPECT_EQ(s.rule, 4) << "INFO keeps the value as sent";
  EXPECT_STREQ(s.folder, "/tmp/x y");
}

TEST_F(Info, DefaultsBeforeAnyInfo) {
  const Settings s;
  EXPECT_EQ(s.max_memory, 0);
  EXPECT_EQ(s.timeout_match, 1000000000);
  EXPECT_EQ(s.timeout_turn, 30000);
  EXPECT_EQ(s.time_left, 1000000000);
  EXPECT_EQ(s.game_type, 1);
  EXPECT_EQ(s.max_depth, 576);
  EXPECT_EQ(s.max_node, 2000000000);
  EXPECT_EQ(s.caution_factor, 1);
  EXPECT_EQ(s.hash_size, 524288);
  EXPECT_EQ(s.show_detail, 0);
  EXPECT_EQ(s.rule, 0);
  EXPECT_STREQ(s.folder, "");
}

TEST_F(Info, KeysAreCaseInsensitiveAndValuesReadLikeAtoi) {
  const auto turn = [&](const std::string& line) {
    send(line + "\n");
    return Settings::get(engine.settings.timeout_turn);
  };
  EXPECT_EQ(turn("info TIMEOUT_TURN 4000"), 4000);
  EXPECT_EQ(turn("INFO Timeout_Turn    \t 77"), 77);
  EXPECT_EQ(turn("INFO timeout_turn"), 0);
  EXPECT_EQ(turn("INFO timeout_turn 12abc"), 12);
  EXPECT_EQ(turn("INFO timeout_turn 0x20"), 0);
  EXPECT_EQ(turn("INFO timeout_turn abc"), 0);
  EXPECT_EQ(turn("INFO timeout_turn -250"), -250);
  EXPECT_EQ(turn("INFO timeout_turn +31"), 31);
  EXPECT_EQ(turn("INFO timeout_turn - 5"), 0);
  EXPECT_EQ(turn("INFO timeout_turn5"), 5) << "no word boundary after the key";
  // Numbers beyond 32 bits saturate instead of wrapping.
  EXPECT_EQ(turn("INFO timeout_turn 2147483647"), INT32_MAX);
  EXPECT_EQ(turn("INFO timeout_turn 2147483648"), INT32_MAX);
  EXPECT_EQ(turn("INFO timeout_turn 4294967296"), INT32_MAX);
  EXPECT_EQ(turn("INFO timeout_turn 99999999999999999999999999999"), INT32_MAX);
  EXPECT_EQ(turn("INFO timeout_turn -2147483648"), INT32_MIN);
  EXPECT_EQ(turn("INFO timeout_turn -2147483649"), INT32_MIN);
  EXPECT_EQ(turn("INFO timeout_turn -99999999999999999999999999999"), INT32_MIN);
}

TEST_F(Info, HashSizeOfZeroOrLessBecomesOne) {
  for (const char* v : {"0", "-5", "abc", "", "-99999999999"}) {
    engine.settings.hash_size = 777;
    send(std::string("INFO hash_size ") + v + "\n");
    EXPECT_EQ(engine.settings.hash_size, 1) << v;
  }
  send("INFO hash_size 3\n");
  EXPECT_EQ(engine.settings.hash_size, 3);
}

TEST_F(Info, UnknownKeysChangeNothing) {
  engine.settings.rule = 3;
  send("INFO colour 1\nINFO unknown_key 5\nINFO 0\nINFO xrule 2\n");
  EXPECT_EQ(engine.settings.rule, 3);
  EXPECT_EQ(engine.settings.timeout_turn, 200);
  EXPECT_EQ(engine.settings.hash_size, 1024);
}

TEST_F(Info, KeysArePrefixesWithoutWordBoundary) {
  engine.settings.rule = 3;
  send("INFO rules_of_thumb\n");
  EXPECT_EQ(engine.settings.rule, 0) << "the key rule matches, its value has no digits";
  send("INFO rule2\n");
  EXPECT_EQ(engine.settings.rule, 2);
}

TEST_F(Info, FolderKeepsAtMost1023Characters) {
  send("INFO folder " + std::string(2000, 'f') + "\n");
  EXPECT_EQ(std::string(engine.settings.folder), std::string(1023, 'f'));
  send("INFO folder short\n");
  EXPECT_STREQ(engine.settings.folder, "short");
  send("INFO folder\n");
  EXPECT_STREQ(engine.settings.folder, "");
}

TEST_F(Info, NeverReplies) {
  EXPECT_TRUE(send("INFO timeout_turn 300\nINFO rule\nINFO hash_size -5\nINFO folder x\n").empty());
}

}  // namespace
}  // namespace orvel::testing
