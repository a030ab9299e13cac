// One fuzz input run as a whole protocol session: an engine reset to its new
// state, the input fed line by line to the real command loop, every reply
// and every state after a command checked. Shared by
// the libFuzzer target and the test that replays the inputs kept in
// tests/data/fuzz_regressions, so a finding reproduces the same way in both.
//
// Two things differ from a manager's session, both so that one input costs
// milliseconds and runs the same way every time:
//   - After every command the session waits for the think it started (a
//     manager that waits for the move before its next command), so thinks
//     never overlap later commands and the replies come in a fixed order.
//   - The limits a think obeys are capped: before the first command and
//     again after every command, since any INFO line can raise them (and
//     max_node -1 lifts them all). The input's values below the caps stand.
// The tables start small as well; ovshowforbid builds a position with the
// bucket count the tables already have, before any think applies hash_size.
//
// The checks: every reply is whole, well-formed protocol lines; after every
// command the game record is well formed and, while the board is built, the
// board holds exactly its stones with every incremental record recounting
// the same; and a move a think played is recorded, on a cell the front end
// did not block and, under Renju, never a point forbidden to BLACK.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "board/pattern_table.h"
#include "game/game.h"
#include "protocol/dispatcher.h"
#include "protocol/engine.h"
#include "protocol/output.h"
#include "renju/forbidden.h"

namespace orvel::fuzz {

// The caps. One unit of max_node is 1,024 nodes and the search tests its
// limits every 1,024 nodes, so a think searches at most a few thousand
// nodes; at depth 2 the node search below the root still runs. The turn
// time is a backstop for anything the node count does not see.
constexpr int32_t MAX_NODE_CAP = 1;
constexpr int32_t MAX_DEPTH_CAP = 2;
constexpr int32_t TIMEOUT_TURN_CAP = 100;  // milliseconds
constexpr int32_t HASH_SIZE_CAP = 1024;    // buckets per table array
// Scoring every move pair of ovbalancetwo tests no node limit, only the stop
// flag; on a large busy board it takes seconds under the sanitizers.
constexpr int64_t THINK_DEADLINE_MS = 100;

// Pull the limits of the coming thinks under the caps.
inline void cap_think_limits(Game& game) {
  Settings& s = game.settings;
  auto cap = [](std::atomic<int32_t>& value, int32_t limit) {
    if (value.load() > limit) value.store(limit);
  };
  if (s.max_node.load() == -1) s.max_node.store(MAX_NODE_CAP);  // -1: no node and no time limit
  cap(s.max_node, MAX_NODE_CAP);
  cap(s.max_depth, MAX_DEPTH_CAP);
  cap(s.timeout_turn, TIMEOUT_TURN_CAP);
  cap(s.hash_size, HASH_SIZE_CAP);
}

// Whether one reply line is a line the protocol may write: a move, OK, an
// ERROR, MESSAGE or FORBID line, UNKNOWN command or the about line, all
// printable ASCII.
inline bool well_formed_reply(const std::string& line) {
  for (const char c : line)
    if (c < 0x20 || c > 0x7e) return false;
  auto starts = [&](const char* prefix) { return line.rfind(prefix, 0) == 0; };
  if (line == "OK" || line == "UNKNOWN command" || starts("MESSAGE ") || starts("ERROR ") || starts("FORBID ") ||
      starts("name=\"Orvel\""))
    return true;
  // The swap2 answers: SWAP, or one to three moves separated by blanks.
  if (line == "SWAP") return true;
  auto digits = [&](size_t from, size_t to) {
    return to > from && to - from <= 2 &&
           std::all_of(line.begin() + from, line.begin() + to, [](char c) { return c >= '0' && c <= '9'; });
  };
  // x,y: two unsigned numbers.
  auto move = [&](size_t from, size_t to) {
    const size_t comma = line.find(',', from);
    return comma < to && digits(from, comma) && digits(comma + 1, to);
  };
  size_t from = 0;
  for (int moves = 1; moves <= 3; ++moves) {
    const size_t blank = line.find(' ', from);
    if (blank == std::string::npos) return move(from, line.size());
    if (!move(from, blank)) return false;
    from = blank + 1;
  }
  return false;
}

// The sink: every write must be whole, well-formed lines. Keeps the first
// complaint, and the move lines the worker wrote (the moves a think chose).
class CheckedOutput : public Output {
 public:
  void write(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::this_thread::get_id() != main_thread_) {
      int x, y;
      char end;
      if (std::sscanf(text.c_str(), "%d,%d%c", &x, &y, &end) == 3 && end == '\n') think_moves_.push_back({x, y});
    }
    if (!problem_.empty()) return;
    if (text.empty() || text.back() != '\n') {
      problem_ = "a write that is not whole lines: '" + text + "'";
      return;
    }
    for (size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
      const std::string line = text.substr(start, nl - start);
      if (!well_formed_reply(line)) {
        problem_ = "a malformed reply: '" + line + "'";
        return;
      }
    }
  }
  std::string problem() {
    std::lock_guard<std::mutex> lock(mutex_);
    return problem_;
  }
  void reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    problem_.clear();
    think_moves_.clear();
  }
  // The moves thinks wrote since the last call.
  std::vector<std::pair<int, int>> take_think_moves() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(think_moves_, {});
  }

 private:
  const std::thread::id main_thread_ = std::this_thread::get_id();
  std::mutex mutex_;
  std::string problem_;
  std::vector<std::pair<int, int>> think_moves_;
};

// With no think running: the game record is well formed and, while the
// board arrays are current, they hold exactly its stones and every
// incremental record recounts the same. Returns what is wrong, or "".
inline std::string game_problem(const Game& g) {
  const GameRecord& r = g.record;
  const Position& p = *g.position;
  if (r.board_width != 0 &&
      (r.board_width < 1 || r.board_height < 1 || r.board_width > MAX_SIZE || r.board_height > MAX_SIZE))
    return format("board of %d by %d", r.board_width, r.board_height);
  if (r.move_count < 0 || r.move_count > MAX_CELLS) return format("%d moves recorded", r.move_count);
  bool seen[MAX_SIZE][MAX_SIZE] = {};
  for (int i = 0; i < r.move_count; ++i) {
    const RecordedMove& m = r.move_history[i];
    if (!r.on_board(m.x, m.y) || m.side != i % 2 + 1 || seen[m.x][m.y])
      return format("record entry %d: %d,%d side %d", i, m.x, m.y, m.side);
    seen[m.x][m.y] = true;
  }
  if (!g.position_current()) return "";
  if (p.rule != r.built_rule || p.board_width != r.board_width || p.board_height != r.board_height)
    return format("position built for %dx%d rule %d, record %dx%d rule %d", p.board_width, p.board_height, p.rule,
                  r.board_width, r.board_height, r.built_rule);
  int stones = 0;
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y) stones += p.cells[x][y] == BLACK || p.cells[x][y] == WHITE;
  for (int i = 0; i < r.move_count; ++i) {
    const RecordedMove& m = r.move_history[i];
    if (p.cells[m.x][m.y] != m.side) return format("record entry %d not on the board", i);
  }
  if (stones != r.move_count) return format("%d stones on the board, %d recorded", stones, r.move_count);
  std::string why;
  if (!p.is_consistent(&why)) return "position records: " + why;
  return "";
}

// A move a think just played and recorded: it must be the last record entry,
// on a cell the front end did not block and, under Renju, never a point
// forbidden to BLACK (judged on a copy of the position without the move).
inline std::string think_move_problem(const Game& g, int x, int y, Position& scratch) {
  const GameRecord& r = g.record;
  // A swap2 answer of one move: it runs on an empty game and records nothing.
  if (r.move_count == 0) return "";
  if (r.move_count == 0 || r.move_history[r.move_count - 1].x != x || r.move_history[r.move_count - 1].y != y)
    return format("the think wrote %d,%d but did not record it last", x, y);
  if (r.blocked(x, y)) return format("the think played the blocked cell %d,%d", x, y);
  const int side = r.move_history[r.move_count - 1].side;
  if (g.position_current() && g.position->rule == RENJU && side == BLACK) {
    scratch = *g.position;
    scratch.undo_move(x, y, side);
    if (is_forbidden(scratch, x, y) != 0) return format("the think played the forbidden point %d,%d", x, y);
  }
  return "";
}

// Runs sessions one after another on one engine, reset before each, so a
// session costs no thread start and no fresh search storage.
class SessionRunner {
 public:
  SessionRunner() {
    // The pattern tables of a rule are built on first use, which takes
    // longer than the think deadline: build them all now, so the first
    // session runs like every later one.
    for (int rule : {FREESTYLE, STANDARD, RENJU}) tables_for_rule(rule);
    engine_.start_worker();
  }

  // Run data as one session. Returns the first broken rule, or "".
  std::string run(const char* data, size_t size) {
    engine_.reset();
    out_.reset();
    engine_.game.hash.tt_buckets = HASH_SIZE_CAP;
    engine_.game.hash.cache_buckets = HASH_SIZE_CAP;
    cap_think_limits(engine_.game);
    std::string problem;
    int command = 0;
    auto after_command = [&] {
      ++command;
      settle();
      std::string why = game_problem(engine_.game);
      for (const auto& [x, y] : out_.take_think_moves())
        if (why.empty()) why = think_move_problem(engine_.game, x, y, *scratch_);
      if (problem.empty() && !why.empty()) problem = format("after command %d: %s", command, why.c_str());
    };
    LineReader reader(data, size);
    run_commands(engine_, reader, after_command);
    engine_.stop_thinking();
    if (problem.empty()) problem = game_problem(engine_.game);
    return problem.empty() ? out_.problem() : problem;
  }

 private:
  // Let the think end, stopping it (as ovstop would) if it outlasts the
  // deadline, then cap the limits of the next one.
  void settle() {
    if (!engine_.wait_think_end(THINK_DEADLINE_MS)) engine_.stop_thinking();
    cap_think_limits(engine_.game);
  }

  CheckedOutput out_;
  Engine engine_{out_};
  std::unique_ptr<Position> scratch_ = std::make_unique<Position>();
};

}  // namespace orvel::fuzz
