// The think handshake between the main thread and the worker: start, stop,
// stop twice, END during a think, analysis modes handing back to normal
// play, and many rapid think/stop cycles with no lost request and no
// deadlock. A think is held inside its first write by a gate, so "a think
// is running" is a state the tests can hold on to instead of a timing.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

using Lines = std::vector<std::string>;

// Captures lines like CaptureOutput; while closed, a write from any thread
// other than the one that made the gate waits until the gate opens.
class GateOutput : public Output {
 public:
  void write(const std::string& text) override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (std::this_thread::get_id() != owner_) {
      ++waiting_;
      cv_.notify_all();
      cv_.wait(lock, [this] { return open_; });
      --waiting_;
    }
    capture_.write(text);
  }
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
  }
  void open() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  // Wait until the worker is held at the gate.
  void wait_held() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return waiting_ > 0; });
  }
  Lines lines() { return capture_.lines(); }
  void clear() { capture_.clear(); }

 private:
  std::thread::id owner_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = true;
  int waiting_ = 0;
  CaptureOutput capture_;
};

class HandshakeTest : public ::testing::Test {
 protected:
  GateOutput out;
  Engine engine{out};

  void SetUp() override {
    make_light(engine);
    engine.start_worker();
  }
  void TearDown() override { out.open(); }
};

TEST_F(HandshakeTest, StopWithNoThinkReturnsAtOnceAndOnlyRaisesTheFlag) {
  EXPECT_FALSE(engine.thinking());
  EXPECT_EQ(engine.stop_requested.load(), 0);
  engine.stop_thinking();
  EXPECT_EQ(engine.stop_requested.load(), 1);
  EXPECT_FALSE(engine.thinking());
  engine.stop_thinking();
  EXPECT_EQ(engine.stop_requested.load(), 1);
  EXPECT_TRUE(out.lines().empty());
  EXPECT_EQ(engine.record.move_count, 0);
}

TEST_F(HandshakeTest, AStoppedThinkStillPlaysItsMoveBeforeStopReturns) {
  run_script(engine, "START 15\n");
  out.clear();
  out.close();
  run_script(engine, "BEGIN\n");
  EXPECT_EQ(engine.stop_requested.load(), 0) << "start_thinking lowers the stop flag";
  out.wait_held();
  EXPECT_TRUE(engine.thinking());

  std::atomic<bool> returned{false};
  std::thread stopper([&] {
    engine.stop_thinking();
    returned = true;
  });
  // However long we wait here, stop_thinking cannot return: the think has
  // not written its move yet.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(returned.load());
  out.open();
  stopper.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(engine.stop_requested.load(), 1) << "the flag stays raised until the next start";
  EXPECT_FALSE(engine.thinking());
  EXPECT_EQ(move_lines(out.lines()), Lines{"7,7"});
  EXPECT_EQ(engine.record.move_count, 1);

  // A second stop (ovstop twice) returns at once and writes nothing more.
  const size_t before = out.lines().size();
  run_script(engine, "ovstop\nOVSTOP\n");
  EXPECT_EQ(out.lines().size(), before);
}

TEST_F(HandshakeTest, EndDuringAThinkWaitsForTheMove) {
  run_script(engine, "START 15\n");
  out.clear();
  out.close();
  run_script(engine, "BEGIN\n");
  out.wait_held();

  std::atomic<bool> ended{false};
  std::promise<Lines> seen_at_end;
  std::thread main_thread([&] {
    const bool open = run_script(engine, "END\nABOUT\n");
    seen_at_end.set_value(out.lines());
    ended = !open;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(ended.load());
  out.open();
  main_thread.join();
  EXPECT_TRUE(ended.load()) << "END ends the session";
  const Lines at_end = seen_at_end.get_future().get();
  ASSERT_FALSE(at_end.empty());
  EXPECT_EQ(at_end.back(), "7,7") << "the move is out before END returns; nothing runs after END";
}

TEST_F(HandshakeTest, PositionCommandsWaitForTheRunningThink) {
  run_script(engine, "START 15\n");
  out.clear();
  out.close();
  run_script(engine, "BEGIN\n");
  out.wait_held();
  std::thread main_thread([&] { run_script(engine, "PLAY 0,0\n"); });
  out.open();
  main_thread.join();
  // The think's stone comes first in the record, then PLAY's.
  ASSERT_EQ(engine.record.move_count, 2);
  EXPECT_EQ(engine.record.move_history[0].x, 7);
  EXPECT_EQ(engine.record.move_history[1].x, 0);
  const Lines moves = move_lines(out.lines());
  EXPECT_EQ(moves, (Lines{"7,7", "0,0"}));
}

TEST_F(HandshakeTest, AnalysisModesLastOneThinkOnly) {
  run_script(engine, "START 15\n");
  for (const char* cmd : {"ovnbest 3\n", "ovbalanceone 50\n", "ovbalancetwo -50\n"}) {
    out.clear();
    run_script(engine, cmd);
    wait_idle(engine);
    EXPECT_EQ(engine.think_mode.load(), THINK_NORMAL) << cmd;
    EXPECT_TRUE(move_lines(out.lines()).empty()) << "analysis writes no move: " << cmd;
    EXPECT_EQ(engine.record.move_count, 0) << cmd;
  }
  out.clear();
  run_script(engine, "BEGIN\n");
  wait_idle(engine);
  EXPECT_EQ(move_lines(out.lines()), Lines{"7,7"});
}

TEST_F(HandshakeTest, UnknownModeRunsNothingButCompletes) {
  run_script(engine, "START 15\n");
  out.clear();
  engine.think_mode = 9;
  engine.start_thinking();
  engine.stop_thinking();
  EXPECT_FALSE(engine.thinking());
  EXPECT_TRUE(out.lines().empty());
  engine.think_mode = THINK_NORMAL;
}

TEST_F(HandshakeTest, RapidCyclesLoseNoRequestAndNeverDeadlock) {
  run_script(engine, "START 15\n");
  out.clear();
  constexpr int CYCLES = 400;
  int begins = 0;
  for (int i = 0; i < CYCLES; ++i) {
    // RESTART stops the previous think and empties the record, so every
    // think is a first move at the centre.
    engine.ensure_board();
    engine.restart();
    switch (i % 4) {
      case 0:  // start and stop at once, before the worker may have woken
        engine.start_thinking();
        engine.stop_thinking();
        ++begins;
        break;
      case 1:  // stop twice
        engine.start_thinking();
        engine.stop_thinking();
        engine.stop_thinking();
        ++begins;
        break;
      case 2:  // let the next command do the stopping
        engine.start_thinking();
        ++begins;
        break;
      default:  // an analysis think in between
        engine.think_mode = THINK_NBEST;
        engine.start_thinking();
        engine.stop_thinking();
        EXPECT_EQ(engine.think_mode.load(), THINK_NORMAL);
        break;
    }
  }
  engine.stop_thinking();
  int moves = 0, greetings = 0;
  for (const auto& line : out.lines()) {
    if (line == "7,7") ++moves;
    if (line == greeting()) ++greetings;
  }
  EXPECT_EQ(moves, begins) << "every requested think played exactly one move";
  EXPECT_EQ(greetings, CYCLES);
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
    const Lines moves = move_lines(out.lines());
    EXPECT_EQ(moves, i % 3 == 2 ? Lines{"10,10"} : Lines{}) << i;
  }
}

}  // namespace
}  // namespace orvel::testing
