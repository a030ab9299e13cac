// In-process driver for the protocol tests: an Engine writing into a
// CaptureOutput, fed command scripts through the real dispatcher from an
// input file. Thinks run on the real worker thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "input_file.h"
#include "protocol/dispatcher.h"
#include "protocol/engine.h"
#include "protocol/output.h"

namespace orvel::testing {

// Small tables and short thinks keep every test fast, also once the real
// search drives the thinks.
inline void make_light(Engine& engine) {
  engine.game.settings.hash_size = 1024;
  engine.game.hash.tt_buckets = 1024;
  engine.game.hash.cache_buckets = 1024;
  engine.game.settings.timeout_turn = 200;
}

// Feed script (lines separated by '\n') to the dispatcher. Returns false
// when END or the end of the script ended the session early (END returns
// false from dispatch, a body cut short by the end of input likewise).
inline bool run_script(Engine& engine, const std::string& script) {
  InputFile input(script);
  if (input.get() == nullptr) return false;
  LineReader reader(input.get(), /*exit_at_eof=*/false);
  bool open = true;
  while (reader.read_line()) {
    if (!dispatch_command(engine, reader)) {
      open = false;
      break;
    }
  }
  return open;
}

// Wait for the running think to end by itself (never stops it).
inline void wait_idle(Engine& engine) {
  while (engine.thinking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

inline bool is_move_line(const std::string& line) {
  static const std::regex move(R"(-?\d+,-?\d+)");
  return std::regex_match(line, move);
}

inline std::vector<std::string> move_lines(const std::vector<std::string>& lines) {
  std::vector<std::string> moves;
  for (const auto& l : lines)
    if (is_move_line(l)) moves.push_back(l);
  return moves;
}

inline std::string greeting() { return std::string("MESSAGE Orvel ") + ORVEL_VERSION + " :-)"; }

// An engine with its worker running, light settings, and a capture of
// everything it writes.
class EngineFixture : public ::testing::Test {
 protected:
  CaptureOutput out;
  Engine engine{out};

  void SetUp() override {
    make_light(engine);
    engine.start_worker();
  }

  // Run a script, let any think it started finish, and return the lines it
  // wrote (the capture is emptied).
  std::vector<std::string> send(const std::string& script) {
    run_script(engine, script);
    wait_idle(engine);
    auto lines = out.lines();
    out.clear();
    return lines;
  }

  // Lines without the progress and report lines of a think.
  std::vector<std::string> send_quiet(const std::string& script) {
    std::vector<std::string> kept;
    for (auto& l : send(script))
      if (l.rfind("MESSAGE", 0) != 0 || l == greeting()) kept.push_back(l);
    return kept;
  }

  const GameRecord& record() const { return engine.game.record; }
  int cell(int x, int y) const { return engine.game.position->cells[x][y]; }
};

}  // namespace orvel::testing
