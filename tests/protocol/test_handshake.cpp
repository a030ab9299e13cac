// The think handshake between the main thread and the worker: start, stop,
// stop twice, END during a think, and rapid think/stop cycles with no lost
// request and no deadlock (run under ThreadSanitizer: ctest -R Handshake).
// A gate holds a think inside its first write, so "a think is running" is a
// state the tests hold on to rather than a timing.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

using Lines = std::vector<std::string>;

// Captures lines. While the gate is shut, the first thread to write (the
// worker) is held there until it opens; other threads pass.
class GateOutput : public Output {
 public:
  CaptureOutput capture;
  void write(const std::string& text) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_ && (held_ == std::thread::id() || held_ == std::this_thread::get_id()))
      held_ = std::this_thread::get_id(), cv_.notify_all(), cv_.wait(lock, [this] { return open_; });
    capture.write(text);
  }
  void set_open(bool open) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = open, held_ = std::thread::id(), cv_.notify_all();
  }
  void wait_held() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return held_ != std::thread::id(); });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = true;
  std::thread::id held_;
};

class HandshakeTest : public ::testing::Test {
 protected:
  GateOutput out;
  Engine engine{out};

  void SetUp() override { make_light(engine), engine.start_worker(); }
  void TearDown() override { out.set_open(true); }

  // Start the first move of a fresh game and hold it at the gate, run script
  // on a main thread of its own, then let the think go on. Returns what
  // run_script returned (false after END).
  bool run_during_held_think(const std::string& script) {
    run_script(engine, "START 15\n");
    out.capture.clear();
    out.set_open(false);
    run_script(engine, "BEGIN\n");
    EXPECT_EQ(engine.game.stop_requested.load(), 0) << "start_thinking lowers the stop flag";
    out.wait_held();
    EXPECT_TRUE(engine.thinking());
    std::atomic<bool> done{false};
    bool open = true;
    std::thread main_thread([&] { open = run_script(engine, script), done = true; });
    // However long we wait, the script cannot get past its first stop: the
    // think has not written its move yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load());
    out.set_open(true);
    main_thread.join();
    return open;
  }
};

TEST_F(HandshakeTest, StopWithNoThinkOnlyRaisesTheFlag) {
  engine.stop_thinking();
  engine.stop_thinking();
  EXPECT_EQ(engine.game.stop_requested.load(), 1);
  engine.think_mode = 9;  // a mode without a driver runs nothing but completes
  engine.start_thinking();
  engine.stop_thinking();
  EXPECT_FALSE(engine.thinking());
  EXPECT_TRUE(out.capture.lines().empty());
}

TEST_F(HandshakeTest, StopStopTwicePositionCommandsAndEndWaitForTheMove) {
  const std::tuple<const char*, bool, Lines> cases[] = {
      {"ovstop\nOVSTOP\n", true, {"7,7"}},  // the second stop returns at once
      {"PLAY 0,0\n", true, {"7,7", "0,0"}},
      {"END\nABOUT\n", false, {"7,7"}}};  // END ends the session: nothing runs after it
  for (const auto& [script, open, moves] : cases) {
    EXPECT_EQ(run_during_held_think(script), open) << script;
    EXPECT_EQ(move_lines(out.capture.lines()), moves) << script;
    EXPECT_EQ(out.capture.lines().back(), moves.back()) << script;
    EXPECT_EQ(engine.game.stop_requested.load(), 1) << "the flag stays raised until the next start";
    EXPECT_EQ(engine.game.record.move_history[0].x, 7) << "the think's stone is recorded first";
  }
}

TEST_F(HandshakeTest, WaitingForTheThinkRaisesNoStopAndGivesUpAtItsLimit) {
  run_script(engine, "START 15\n");
  out.capture.clear();
  out.set_open(false);
  run_script(engine, "BEGIN\n");
  out.wait_held();
  EXPECT_FALSE(engine.wait_think_end(20)) << "the think is held at the gate";
  EXPECT_EQ(engine.game.stop_requested.load(), 0);
  std::thread opener([&] { out.set_open(true); });
  EXPECT_TRUE(engine.wait_think_end());
  opener.join();
  EXPECT_FALSE(engine.thinking());
  EXPECT_EQ(engine.game.stop_requested.load(), 0) << "the think ended by itself";
  EXPECT_EQ(move_lines(out.capture.lines()), Lines{"7,7"});
  EXPECT_TRUE(engine.wait_think_end(0)) << "nothing left to wait for";
}

TEST_F(HandshakeTest, RapidCyclesLoseNoRequestAndNeverDeadlock) {
  int begins = 0, moves = 0, greetings = 0;
  for (int i = 0; i < 400; ++i) {
    engine.ensure_board(), engine.restart();  // stops the last think; every think is then a first move
    engine.think_mode = i % 4 == 3 ? THINK_NBEST : THINK_NORMAL;  // analysis: no move, then normal play
    begins += i % 4 != 3;
    engine.start_thinking();
    if (i % 4 != 2) engine.stop_thinking();  // else the next cycle does the stopping
    if (i % 4 == 1) engine.stop_thinking();
    EXPECT_TRUE(i % 4 != 3 || engine.think_mode.load() == THINK_NORMAL);
  }
  engine.stop_thinking();
  for (const auto& line : out.capture.lines()) moves += line == "10,10", greetings += line == greeting();
  EXPECT_EQ(moves, begins) << "every requested think played exactly one move";
  EXPECT_EQ(greetings, 401) << "the first board set up, then 400 restarts";
  EXPECT_FALSE(engine.thinking());
}

TEST(HandshakeLifetime, EnginesComeAndGoWithIdleOrFinishedWorkers) {
  for (int i = 0; i < 9; ++i) {
    CaptureOutput out;
    {
      Engine engine(out);
      make_light(engine);
      if (i % 3 != 0) engine.start_worker();
      if (i % 3 == 2) run_script(engine, "BEGIN\n");  // the destructor waits for this think
    }
    EXPECT_EQ(move_lines(out.lines()), i % 3 == 2 ? Lines{"10,10"} : Lines{}) << i;
  }
}

}  // namespace
}  // namespace orvel::testing
