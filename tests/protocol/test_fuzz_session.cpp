// The command-loop fuzzer's session checks against broken replies and
// records, its caps, and its findings replayed: every kept input through the
// real loop in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine_harness.h"
#include "fuzz_session.h"

namespace orvel::testing {
namespace {

TEST(FuzzSession, ReplyLinesThatPassAndLinesThatDoNot) {
  for (const char* good : {"7,7", "0,23", "OK", "UNKNOWN command", "MESSAGE ", "MESSAGE Orvel 0.1 :-)",
                           "ERROR bad coordinates", "FORBID 0707.", "name=\"Orvel\", author=\"x\"", "SWAP",
                           "7,7 8,8", "7,7 8,8 9,9"})
    EXPECT_TRUE(fuzz::well_formed_reply(good)) << good;
  for (const char* bad : {"", "7,", ",7", "-1,5", "123,4", "7,7 ", "7;7", "ok", "MESSAGE\tx", "MESSAGE x\x01",
                          "ERROR \xff", "UNKNOWN", "Orvel", "7,7 8,8 9,9 1,1", "7,7  8,8",
                          "SWAP 7,7", "swap"})
    EXPECT_FALSE(fuzz::well_formed_reply(bad)) << bad;
  fuzz::CheckedOutput out;
  out.write("OK\n7,7\n");
  EXPECT_EQ(out.problem(), "");
  out.write("OK\nERROR half");
  EXPECT_NE(out.problem(), "") << "a write that ends inside a line";
  out.reset();
  out.write("OK\n\n");
  EXPECT_NE(out.problem(), "") << "an empty line";
}

TEST(FuzzSession, EngineChecksSeeARecordAndABoardOutOfStep) {
  CaptureOutput out;
  Engine engine(out);
  make_light(engine);
  engine.start_worker();
  run_script(engine, "START 15\nTURN 7,7\nPLAY 3,3\n");
  engine.stop_thinking();
  EXPECT_EQ(fuzz::game_problem(engine.game), "");
  engine.game.position->cells[0][0] = BLACK;  // a stone the record does not hold
  EXPECT_NE(fuzz::game_problem(engine.game), "");
  engine.game.position->cells[0][0] = EMPTY;
  engine.game.record.move_history[2] = engine.game.record.move_history[0];  // two stones on one cell
  EXPECT_NE(fuzz::game_problem(engine.game), "");
  engine.game.record.built_rule = -1;  // stale: only the record is judged
  EXPECT_NE(fuzz::game_problem(engine.game), "");
  engine.game.record.move_history[2].x = 20;
  EXPECT_NE(fuzz::game_problem(engine.game), "") << "a stone off the 15 by 15 board";
}

TEST(FuzzSession, MoveChecksSeeARecordedMoveElsewhereABlockedCellAndAForbiddenPoint) {
  CaptureOutput out;
  Engine engine(out);
  make_light(engine);
  engine.start_worker();
  Position scratch;
  run_script(engine, "START 15\nTURN 0,0\n");
  engine.stop_thinking();
  const RecordedMove m = engine.game.record.move_history[1];
  EXPECT_EQ(fuzz::think_move_problem(engine.game, m.x, m.y, scratch), "");
  EXPECT_NE(fuzz::think_move_problem(engine.game, m.x, m.y + 1, scratch), "") << "not the move recorded last";
  engine.block_cell(m.x, m.y);
  EXPECT_NE(fuzz::think_move_problem(engine.game, m.x, m.y, scratch), "") << "a blocked cell";
  // BLACK to move with a double three at 7,7, played as if a think chose it.
  run_script(engine,
             "ovblockreset\nINFO rule 2\nSTART 15\novboard\n7,5,1\n0,0,2\n7,6,1\n0,2,2\n5,7,1\n0,4,2\n"
             "6,7,1\n14,14,2\nDONE\n");
  engine.game.rebuild(RENJU);
  engine.record_stone(7, 7, true);
  EXPECT_NE(fuzz::think_move_problem(engine.game, 7, 7, scratch), "") << "a forbidden point";
  engine.game.settings.rule = 0;
  engine.game.rebuild(FREESTYLE);
  EXPECT_EQ(fuzz::think_move_problem(engine.game, 7, 7, scratch), "") << "nothing is forbidden in free-style";
}

TEST(FuzzSession, LimitsAreCappedAndLowerValuesStand) {
  CaptureOutput out;
  Engine engine(out);             // never started: only the settings matter
  engine.game.settings.max_node = -1;  // no limit at all
  engine.game.settings.timeout_turn = INT32_MAX;
  fuzz::cap_think_limits(engine.game);
  EXPECT_EQ(engine.game.settings.max_node.load(), fuzz::MAX_NODE_CAP);
  EXPECT_EQ(engine.game.settings.max_depth.load(), fuzz::MAX_DEPTH_CAP);
  EXPECT_EQ(engine.game.settings.hash_size.load(), fuzz::HASH_SIZE_CAP);
  EXPECT_EQ(engine.game.settings.timeout_turn.load(), fuzz::TIMEOUT_TURN_CAP);
  engine.game.settings.max_node = -7, engine.game.settings.max_depth = 0, engine.game.settings.timeout_turn = 5;
  fuzz::cap_think_limits(engine.game);
  EXPECT_EQ(format("%d %d %d", engine.game.settings.max_node.load(), engine.game.settings.max_depth.load(),
                   engine.game.settings.timeout_turn.load()),
            "-7 0 5");
}

// The files of a folder (none when it does not exist), in name order.
std::vector<std::filesystem::path> files_in(const std::string& folder) {
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::is_directory(folder)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Every input the fuzzer once failed on (tests/data/fuzz_regressions), and
// every start input, runs as a whole session through the real loop and
// passes the checks (under the sanitizers in the ASan+UBSan build).
TEST(FuzzRegressions, KeptInputsAndStartInputsRunClean) {
  fuzz::SessionRunner runner;
  const auto kept = files_in(ORVEL_TEST_DATA "/fuzz_regressions");
  auto inputs = files_in(ORVEL_FUZZ_CORPUS);
  EXPECT_GE(inputs.size(), 20u) << "the start corpus";
  inputs.insert(inputs.begin(), kept.begin(), kept.end());
  for (const auto& path : inputs) {
    std::ifstream in(path, std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(runner.run(input.data(), input.size()), "") << path;
  }
}

}  // namespace
}  // namespace orvel::testing
