// The command loop's pieces: keyword matching, the DONE test, line reading
// with its 8192-byte cut, the dispatcher's own replies and the INFO settings.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

TEST(MatchKeyword, CaseInsensitivePrefixWithoutWordBoundary) {
  // clang-format off
  const char* cases[][3] = {  // keyword, text, what is left (nullptr: no match)
      {"turn", "TURN 7,8", "7,8"}, {"turn", "tUrN \t\r\v\f 7", "7"}, {"TURN", "turn", ""}, {"board", "BOARDX", "X"},
      {"start", "STARTING 15", "ING 15"}, {"a[", "A{", nullptr}, {"start", "STAR", nullptr}, {"start", "", nullptr},
      {"start", " START 15", nullptr}, {"start", "\tSTART", nullptr}, {"ovblock", "ovblack", nullptr},
      {"info", "\xc9NFO", nullptr}, {"info", "INF\xff", nullptr}, {"end", "EN\0D", nullptr}};  // a NUL ends the text
  // clang-format on
  for (const auto& c : cases) {
    const char* rest = match_keyword(c[0], c[1]);
    EXPECT_EQ(std::string(rest ? rest : "(none)"), std::string(c[2] ? c[2] : "(none)")) << c[0] << " / " << c[1];
  }
  for (const char* yes : {"DONE", "done", "Done", "dOnE"}) EXPECT_TRUE(is_done_line(yes)) << yes;
  for (const char* no : {"DONE ", " DONE", "DON", "DONEX", "DONE now", "", "D0NE", "DONE\r"})
    EXPECT_FALSE(is_done_line(no));
}

TEST(LineReading, LineFeedCarriageReturnAndThe8191CharacterCut) {
  const std::string a(8191, 'a'), b(8191, 'b'), c(8191, 'c'), d(8190, 'd');
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"ABOUT\nTURN 1,2\r\n\r\n\n\r\r\nx", {"ABOUT", "TURN 1,2", "", "", "\r"}},  // x has no line feed: never read
      {a + "\n" + b + "b\n" + c + "ABOUT" + std::string(1803, 'c') + "\r\nnext\n", {a, b, c, "next"}},
      {d + "\r" + std::string(50, 'e') + "\n", {d}},  // a carriage return before the cut goes too
      {std::string("A\0\xff\x01Z\nB\n", 8), {std::string("A\0\xff\x01Z", 5), "B"}},  // bytes are kept as they come
  };
  for (auto [input, lines] : cases) {
    InputFile in(input);
    ASSERT_NE(in.get(), nullptr);
    LineReader r(in.get(), false);
    for (const std::string& want : lines) {
      ASSERT_TRUE(r.read_line());
      EXPECT_EQ(std::string(r.buffer(), want.size() + 1), want + '\0');
    }
    EXPECT_FALSE(r.read_line());
  }
}

class Dispatch : public EngineFixture {
 protected:
  // Replies '|'-joined, the greeting as HI, the about line as ABOUT, then
  // the board width.
  std::string replies(const std::string& script) {
    static const std::regex about(R"(name="Orvel", author="[^"]*", version="[^"]*", country="[^"]*", www="[^"]*")");
    std::string s;
    for (const auto& l : send_quiet(script + "\n"))
      s += (s.empty() ? "" : "|") + (l == greeting() ? "HI" : std::regex_match(l, about) ? "ABOUT" : l);
    return s + " /" + std::to_string(record().board_width);
  }
};

TEST_F(Dispatch, RepliesAndTheBoardTheySetUp) {
  for (const char* about : {"ABOUT", "about", "aBoUt", "ABOUTX", "ABOUT and more", "ABOUTTURN 7,7"})
    EXPECT_EQ(replies(about), "ABOUT /0") << about;
  for (const char* unknown : {"HELLO", "7,7", "DONE", "", "\r", " ABOUT", "\tABOUT", " TURN 7,8", "AB", "STAR 15",
                              "TAKE 1,1", "EN", "\xff\xfe"})
    EXPECT_EQ(replies(unknown), "UNKNOWN command /0") << '"' << unknown << '"';
  EXPECT_EQ(replies("ovblockreset\nABOUT\nOVBLOCKRESET now\nABOUT"), "ABOUT|ABOUT /0") << "no ovblock body";
  EXPECT_EQ(replies("ovhashclear\novstop\nOVSTOP\novhashclearall\novblock\n1,1\nDONE"), " /0");
  EXPECT_EQ(replies("INFOABOUT\ninformation\nINFO\nINFO colour 1\nINFO 0"), " /0");
  EXPECT_EQ(replies("ENDGAME\nABOUT"), " /0") << "nothing runs after END";
  // Analysis commands (the first sets up the board) read their number or a
  // default and think once, writing no move; then the worker plays normally.
  // clang-format off
  const std::tuple<const char*, int, int> analysis[] = {{"ovnbest 3", 3, 0}, {"ovnbest", 1, 0}, {"ovbalanceone -5", 1, -5},
      {"ovbalanceone", 1, 0}, {"ovbalancetwo 99999999999", 1, INT32_MAX}, {"ovbalancetwo x", 1, 0}};
  // clang-format on
  for (const auto& [cmd, nbest, offset] : analysis) {
    EXPECT_EQ(replies(cmd), std::string(cmd == std::get<0>(analysis[0]) ? "HI|OK" : "") + " /20") << cmd;
    EXPECT_EQ(format("%d %d %d", engine.nbest_count, engine.balance_offset, engine.think_mode.load()),
              format("%d %d %d", nbest, offset, THINK_NORMAL))
        << cmd;
  }
}

std::string dump(const Settings& s) {
  return format("%d %d %d %d %d %d %d %d %d %d %d", s.max_memory.load(), s.timeout_match.load(), s.timeout_turn.load(),
                s.time_left.load(), s.game_type.load(), s.max_depth.load(), s.max_node.load(), s.caution_factor.load(),
                s.hash_size.load(), s.show_detail.load(), s.rule.load());
}

// Each key (in capitals) writes its own setting: sent in order and then in
// reverse, so a key that also wrote another setting would show. Unknown keys
// change nothing, and INFO never replies.
TEST_F(Dispatch, InfoKeysAndValues) {
  EXPECT_EQ(dump(Settings()), "0 1000000000 30000 1000000000 1 576 2000000000 1 524288 0 0") << "the defaults";
  const char* keys[] = {"MAX_MEMORY", "TIMEOUT_MATCH",  "TIMEOUT_TURN", "TIME_LEFT",   "GAME_TYPE", "MAX_DEPTH",
                        "MAX_NODE",   "CAUTION_FACTOR", "HASH_SIZE",    "SHOW_DETAIL", "RULE"};
  std::string forward = "INFO colour 1\nINFO unknown_key 5\nINFO 0\nINFO xrule 2\n", backward;
  for (int i = 10; i >= 0; --i)
    forward = format("info %s %d\n", keys[i], i + 1) + forward, backward += format("info %s %d\n", keys[i], i + 21);
  EXPECT_TRUE(send(forward).empty());
  EXPECT_EQ(dump(engine.game.settings), "1 2 3 4 5 6 7 8 9 10 11");
  EXPECT_TRUE(send(backward).empty());
  EXPECT_EQ(dump(engine.game.settings), "21 22 23 24 25 26 27 28 29 30 31");
  // Values read like atoi, but saturate.
  std::atomic<int32_t>*turn = &engine.game.settings.timeout_turn, *hash = &engine.game.settings.hash_size;
  // clang-format off
  const std::tuple<const char*, std::atomic<int32_t>*, int32_t> cases[] = {
      {"timeout_turn    \t 77", turn, 77}, {"timeout_turn", turn, 0}, {"timeout_turn 12abc", turn, 12},
      {"timeout_turn 0x20", turn, 0}, {"timeout_turn -250", turn, -250}, {"timeout_turn +31", turn, 31},
      {"timeout_turn - 5", turn, 0}, {"timeout_turn5", turn, 5}, {"timeout_turn 2147483647", turn, INT32_MAX},
      {"timeout_turn 2147483648", turn, INT32_MAX}, {"timeout_turn 99999999999999999999999999999", turn, INT32_MAX},
      {"timeout_turn -2147483648", turn, INT32_MIN}, {"timeout_turn -2147483649", turn, INT32_MIN},
      {"timeout_turn -99999999999999999999999999999", turn, INT32_MIN}, {"hash_size 3", hash, 3},
      {"hash_size 0", hash, 1}, {"hash_size -5", hash, 1}, {"hash_size abc", hash, 1}, {"hash_size -99999999999", hash, 1},
      {"rule 3", &engine.game.settings.rule, 3}, {"rules_of_thumb", &engine.game.settings.rule, 0}};  // rule matches, no digits
  // clang-format on
  for (const auto& [line, field, value] : cases) {
    send(std::string("INFO ") + line + "\n");
    EXPECT_EQ(field->load(), value) << line;
  }
  for (const std::string& folder : {std::string(2000, 'f'), std::string("/tmp/x y"), std::string()}) {
    send("INFO folder " + folder + "\n");
    EXPECT_EQ(std::string(engine.game.settings.folder), folder.substr(0, 1023))
        << "a folder keeps at most 1023 characters";
  }
}

}  // namespace
}  // namespace orvel::testing
