// A normal think on several search threads seen from the manager's side:
// thread_num is read and clamped, and whatever arrives during such a think
// (INFO changes, ovstop, END) it writes one move line, once, after its
// report. Run under ThreadSanitizer with the handshake tests.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

using Lines = std::vector<std::string>;

TEST(ThreadedHandshake, ThreadNumIsClampedToOneUpToTheCap) {
  CaptureOutput out;
  Engine engine(out);
  EXPECT_EQ(engine.game.settings.thread_num.load(), 1) << "one thread unless told otherwise";
  const std::pair<const char*, int> cases[] = {
      {"8", 8}, {"0", 1}, {"-3", 1}, {"x", 1}, {"1000", MAX_SEARCH_THREADS}, {"99999999999999", MAX_SEARCH_THREADS},
      {"2", 2}};
  for (const auto& [value, expected] : cases) {
    run_script(engine, std::string("INFO thread_num ") + value + "\n");
    EXPECT_EQ(engine.game.settings.thread_num.load(), expected) << value;
  }
  EXPECT_TRUE(out.lines().empty()) << "INFO answers nothing";
}

class ThreadedHandshakeTest : public EngineFixture {
 protected:
  // Wait until the running think has written a line starting with prefix,
  // or has ended. True when the line came while it still ran.
  bool wait_for_line(const std::string& prefix) {
    for (;;) {
      const bool running = engine.thinking();
      for (const auto& l : out.lines())
        if (l.rfind(prefix, 0) == 0) return running;
      if (!running) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // The lines after the last report of a think end with exactly one move.
  void expect_one_move_at_the_end(const Lines& lines, const char* what) {
    EXPECT_EQ(move_lines(lines).size(), 1u) << what;
    ASSERT_FALSE(lines.empty()) << what;
    EXPECT_TRUE(is_move_line(lines.back())) << what << ": " << lines.back();
  }
};

// A quiet middle game: no think on it ends by itself within a long budget.
const char* const QUIET_BOARD = "BOARD\n7,7,1\n7,8,2\n8,8,1\n6,6,2\n9,9,1\n6,8,2\nDONE\n";

TEST_F(ThreadedHandshakeTest, SettingsAndAStopDuringTheThinkGiveOneMove) {
  run_script(engine, "INFO timeout_turn 60000\nINFO show_detail 1\nINFO thread_num 3\nSTART 15\n");
  out.clear();
  run_script(engine, QUIET_BOARD);
  // From depth 5 on each iteration writes a DETAIL line: then every helper
  // is searching too.
  const bool running = wait_for_line("MESSAGE DETAIL DEPTH");
  run_script(engine,
             "INFO thread_num 2\nINFO caution_factor 2\nINFO show_detail 0\nINFO max_node 100000000\n"
             "INFO timeout_turn 50000\novstop\n");
  EXPECT_FALSE(engine.thinking()) << "ovstop waits for the think";
  const Lines lines = out.lines();
  expect_one_move_at_the_end(lines, "ovstop");
  EXPECT_TRUE(running) << "the think ended before the stop arrived";
  EXPECT_EQ(record().move_count, 7);
  EXPECT_EQ(engine.game.settings.thread_num.load(), 2);
}

TEST_F(ThreadedHandshakeTest, EndDuringATwoThreadThinkWaitsForItsOneMove) {
  run_script(engine, "INFO timeout_turn 60000\nINFO show_detail 1\nINFO thread_num 2\nSTART 15\n");
  run_script(engine, QUIET_BOARD);
  wait_for_line("MESSAGE DETAIL DEPTH");
  run_script(engine, "ovstop\n");
  out.clear();
  run_script(engine, "TURN 10,10\n");
  const bool running = wait_for_line("MESSAGE DETAIL DEPTH");
  EXPECT_FALSE(run_script(engine, "INFO thread_num 4\nINFO caution_factor 1\nEND\nABOUT\n")) << "END ends the session";
  EXPECT_FALSE(engine.thinking());
  const Lines lines = out.lines();
  expect_one_move_at_the_end(lines, "END");
  EXPECT_TRUE(running) << "the think ended before END arrived";
  EXPECT_EQ(record().move_count, 9);
}

// The report of a think on several threads: one summary and one best line,
// its node count the total over the threads; then the move.
TEST_F(ThreadedHandshakeTest, ATimedThinkOnFourThreadsReportsOnceAndPlays) {
  run_script(engine, "INFO timeout_turn 300\nINFO thread_num 4\nSTART 15\n");
  out.clear();
  const Lines lines = send(QUIET_BOARD);
  ASSERT_GE(lines.size(), 3u);
  expect_one_move_at_the_end(lines, "timed");
  int summaries = 0;
  for (const auto& l : lines) summaries += l.find(" | ") != std::string::npos;
  EXPECT_EQ(summaries, 1);
  EXPECT_EQ(engine.game.threads.count(), 4);
  EXPECT_FALSE(engine.game.threads.running());
}

// A think to a fixed depth on one or three threads, in either search mode:
// its summary gives that depth and its best line starts with the move it
// plays, also when the iteration it reports is a helper's.
TEST_F(ThreadedHandshakeTest, AThinkToAFixedDepthReportsThatDepthAndPlaysTheHeadOfItsLine) {
  constexpr int DEPTH = 6;
  for (int mode : {0, 1}) {
    for (int threads : {1, 3}) {
      SCOPED_TRACE(format("mode %d, %d threads", mode, threads));
      run_script(engine, format("INFO timeout_turn 60000\nINFO max_depth %d\nINFO search_mode %d\n"
                                "INFO thread_num %d\nSTART 15\n",
                                DEPTH, mode, threads));
      out.clear();
      const Lines lines = send("BOARD\n8,3,1\n9,2,2\n9,4,1\n10,5,2\n13,5,1\n7,5,2\nDONE\n");
      ASSERT_GE(lines.size(), 3u);
      expect_one_move_at_the_end(lines, "fixed depth");
      const std::string& summary = lines[lines.size() - 3];
      const std::string& best_line = lines[lines.size() - 2];
      int fields[3] = {0, 0, 0};
      ASSERT_EQ(std::sscanf(summary.c_str(), "MESSAGE %*f | %d | %d | %dms", &fields[0], &fields[1], &fields[2]), 3)
          << summary;
      EXPECT_EQ(fields[0], DEPTH) << summary;
      int x = -1, y = -1, head_x = 0, head_y = 0;
      ASSERT_EQ(std::sscanf(lines.back().c_str(), "%d,%d", &x, &y), 2);
      ASSERT_EQ(std::sscanf(best_line.c_str(), "MESSAGE [%d,%d]", &head_x, &head_y), 2) << best_line;
      EXPECT_EQ(head_x - 1, x) << best_line;
      EXPECT_EQ(head_y - 1, y) << best_line;
    }
  }
}

}  // namespace
}  // namespace orvel::testing
