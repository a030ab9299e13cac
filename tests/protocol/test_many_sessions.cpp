// What lets one process run many sessions of the command loop: the line
// reader over bytes in memory (against the stream reader), the loop that
// returns at END and at the end of input, and an engine reset (against a
// new engine).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

// The whole buffer after each line: NUL bytes and what is left behind a
// shorter line must match too.
std::vector<std::string> buffers(LineReader& reader) {
  std::vector<std::string> seen;
  while (reader.read_line()) seen.emplace_back(reader.buffer(), LINE_BUFFER_SIZE);
  return seen;
}

TEST(LineReading, BytesInMemoryReadAsTheSameBytesFromAStream) {
  std::mt19937 rng(16);
  for (int round = 0; round < 40; ++round) {
    std::string input;
    const int lines = rng() % 12;
    for (int i = 0; i < lines; ++i) {
      const int length = round % 10 == 0 && i == 1 ? 8190 + rng() % 5 : rng() % 40;
      for (int k = 0; k < length; ++k) input += "ab\r\0\xff 7,"[rng() % 8];
      if (rng() % 3 == 0) input += '\r';
      input += '\n';
    }
    if (round % 2) input += "tail";  // no line feed: never read
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    std::fwrite(input.data(), 1, input.size(), stream);
    std::rewind(stream);
    LineReader from_stream(stream, /*exit_at_eof=*/false);
    LineReader from_memory(input.data(), input.size());
    const auto want = buffers(from_stream);
    EXPECT_TRUE(buffers(from_memory) == want) << "round " << round;
    EXPECT_EQ(static_cast<int>(want.size()), lines);
    std::fclose(stream);
  }
}

TEST(RunCommands, StopsAtEndAndAtTheEndOfInputAndCallsBackAfterEachCommand) {
  CaptureOutput out;
  Engine engine(out);
  const std::tuple<std::string, bool, int> cases[] = {{"ABOUT\nHELLO\nABOUT\n", true, 3},
                                                      {"ABOUT\nEND\nABOUT\n", false, 1},
                                                      {"", true, 0},
                                                      {"ovblock\n1,1\n", false, 0},  // the end of input inside a body
                                                      {"ABOUT\novblock\n1,1\nDONE\nABOUT", true, 2}};
  for (const auto& [script, open, calls] : cases) {
    int n = 0;
    LineReader reader(script.data(), script.size());
    EXPECT_EQ(run_commands(engine, reader, [&] { ++n; }), open) << script;
    EXPECT_EQ(n, calls) << script;
  }
}

// Everything a session leaves behind that the next one could see.
std::string state(Engine& e) {
  const GameRecord& r = e.game.record;
  const Settings& s = e.game.settings;
  std::string text = format("%dx%d/%d r%d n%d m%d f%d |", r.board_width, r.board_height, r.board_size, r.built_rule,
                            r.move_count, e.think_mode.load(), r.first_think_pending);
  for (int i = 0; i < r.move_count; ++i) text += format(" %d,%d", r.move_history[i].x, r.move_history[i].y);
  text += format(" | %d %d %d %d %d %d %d %d %d %d %d [%s]", s.max_memory.load(), s.timeout_match.load(),
                 s.timeout_turn.load(), s.time_left.load(), s.game_type.load(), s.max_depth.load(), s.max_node.load(),
                 s.caution_factor.load(), s.hash_size.load(), s.show_detail.load(), s.rule.load(), s.folder);
  int blocked = 0, stones = 0;
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y) blocked += r.blocked(x, y), stones += e.game.position->cells[x][y] != EMPTY;
  text += format(" | b%d s%d key %llx rule %d | %d %d %d %d | %lld %lld", blocked, stones,
                 static_cast<unsigned long long>(e.game.position->zobrist_key), e.game.position->rule,
                 e.game.search->last_value, e.game.search->last_depth, e.balance_offset, e.nbest_count,
                 static_cast<long long>(e.game.hash.tt_buckets), static_cast<long long>(e.game.hash.tt_allocated));
  return text;
}

// Replies without the think reports (they hold times), and the state after.
// A command that arrives during a think ends it, so a script whose replies
// are compared is sent one command at a time, each after the last think.
std::string session(Engine& engine, CaptureOutput& out, const std::vector<std::string>& commands) {
  out.clear();
  for (const auto& command : commands) {
    run_script(engine, command);
    wait_idle(engine);
  }
  engine.stop_thinking();
  std::string text;
  for (const auto& l : out.lines())
    if (l.rfind("MESSAGE", 0) != 0 || l.rfind("MESSAGE Rule", 0) == 0 || l == greeting()) text += l + "|";
  return text + state(engine);
}

TEST(EngineReset, AResetEngineAnswersLikeANewOne) {
  // The second script thinks in a new game, so whatever the first left
  // (settings, blocks, the built position and its keys, the tables, the
  // search state, the analysis numbers) would show in its replies or state.
  const std::string dirty =
      "INFO rule 2\nINFO show_detail 1\nINFO caution_factor 2\nINFO max_depth 3\nINFO hash_size 2048\n"
      "INFO timeout_turn 500\nINFO max_node 3\nINFO folder /x\nSTART 13\novblock\n6,6\n6,7\nDONE\nTURN 5,5\nTURN 5,6\n"
      "ovnbest 5\novbalanceone 7\novbalancetwo -3\novshowforbid\nTURN 0,0\n";
  const std::vector<std::string> next = {
      "INFO max_node 1\n", "INFO max_depth 2\n", "INFO hash_size 1024\n", "PLAY 3,3\n",    "TURN 9,9\n",
      "TURN 10,10\n",      "BEGIN\n",           "TURN 11,11\n",          "ovnbest\n",     "ovbalanceone\n",
      "INFO rule 2\n",     "TURN 2,2\n",        "ovshowforbid\n"};
  CaptureOutput fresh_out, used_out;
  Engine fresh(fresh_out), used(used_out);
  fresh.start_worker();
  used.start_worker();
  make_light(used);
  session(used, used_out, {dirty});
  used.reset();
  EXPECT_EQ(state(used), state(fresh)) << "right after the reset";
  const std::string want = session(fresh, fresh_out, next);
  EXPECT_EQ(session(used, used_out, next), want);
  EXPECT_NE(want.find("FORBID"), std::string::npos) << "the second script got as far as its last command";
}

}  // namespace
}  // namespace orvel::testing
