// The front end's engine: the position commands with their replies (the
// game record and its rebuild are the Game's, src/game), and the handshake
// with the worker thread that runs every think.
#include "protocol/engine.h"

#include <chrono>
#include <cstdlib>

#include "renju/forbidden.h"

namespace orvel {

const char* const ORVEL_VERSION = "0.1";

Engine::Engine(Output& output) : out(output), game(output) {
  // The memory sum covers the whole engine, the front end's own fields included.
  game.owner_bytes = sizeof(Engine) - sizeof(Game);
}

Engine::~Engine() {
  if (!worker_started_) return;
  // Let a running think finish, then ask the idle worker to leave its loop.
  stop_thinking();
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    worker_exit_ = true;
    think_requested_ = true;
  }
  request_cv_.notify_all();
  worker_.join();
}

void Engine::reset() {
  stop_thinking();
  game.reset();
  think_mode.store(THINK_NORMAL);
  balance_offset = 0;
  nbest_count = 1;
  swap2 = Swap2Stones{};
}

// ---------------------------------------------------------------------------
// Think handshake
// ---------------------------------------------------------------------------

void Engine::start_worker() {
  if (worker_started_) return;
  worker_started_ = true;
  if (!worker_.start([](void* self) { static_cast<Engine*>(self)->worker_loop(); }, this, SEARCH_STACK_BYTES)) {
    // Without the worker no think could ever answer.
    send_line(out, "ERROR cannot start the search thread");
    std::exit(1);
  }
}

void Engine::start_thinking() {
  game.stop_requested.store(0);
  think_requested_ms_ = Search::now_ms();
  {
    // The worker is idle here (every caller stopped the previous think),
    // so nobody else touches think_done_; the lock only orders the write.
    std::lock_guard<std::mutex> lock(done_mutex_);
    think_done_ = false;
  }
  {
    std::lock_guard<std::mutex> lock(request_mutex_);
    think_requested_ = true;
  }
  request_cv_.notify_all();
}

void Engine::stop_thinking() {
  game.stop_requested.store(1);
  wait_think_end();
}

bool Engine::thinking() {
  std::lock_guard<std::mutex> lock(done_mutex_);
  return !think_done_;
}

bool Engine::wait_think_end(int64_t limit_ms) {
  std::unique_lock<std::mutex> lock(done_mutex_);
  if (limit_ms < 0) {
    done_cv_.wait(lock, [this] { return think_done_; });
    return true;
  }
  return done_cv_.wait_for(lock, std::chrono::milliseconds(limit_ms), [this] { return think_done_; });
}

void Engine::worker_loop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(request_mutex_);
      request_cv_.wait(lock, [this] { return think_requested_; });
      think_requested_ = false;
      if (worker_exit_) return;
    }
    run_think();
    {
      std::lock_guard<std::mutex> lock(done_mutex_);
      think_done_ = true;
    }
    done_cv_.notify_all();
  }
}

void Engine::run_think() {
  ThinkRequest request;
  request.mode = static_cast<ThinkMode>(think_mode.load());
  // Analysis modes hold for one think only: the next TURN plays normally.
  if (request.mode >= THINK_BALANCE_ONE && request.mode <= THINK_SWAP2) think_mode.store(THINK_NORMAL);
  request.nbest_count = nbest_count;
  request.balance_target = balance_offset;
  request.swap2 = swap2;
  // Each request's clock is taken once: a think the worker runs without
  // one starts its clock itself.
  request.start_ms = think_requested_ms_;
  think_requested_ms_ = -1;
  orvel::run_think(game, request);
}

// ---------------------------------------------------------------------------
// Position commands
// ---------------------------------------------------------------------------

bool Engine::board_reset(int width, int height) {
  stop_thinking();
  if (width == 0) width = height = 20;
  // A refused size leaves extents, record and position exactly as they were,
  // so no later command can address a cell outside the 24 by 24 storage.
  if (width < 1 || height < 1 || width > MAX_SIZE || height > MAX_SIZE) {
    send_line(out, "ERROR size of the board");
    return false;
  }
  game.set_board(width, height);
  send_line(out, "MESSAGE Orvel %s :-)", ORVEL_VERSION);
  send_line(out, "OK");
  return true;
}

void Engine::ensure_board() {
  stop_thinking();
  if (game.record.board_width == 0) board_reset(20, 20);
}

void Engine::restart() {
  game.new_game();
  send_line(out, "MESSAGE Orvel %s :-)", ORVEL_VERSION);
  send_line(out, "OK");
}

bool Engine::stone_fits(int x, int y) const {
  const GameRecord& record = game.record;
  if (!record.on_board(x, y) || record.move_count + body_count_ >= MAX_CELLS || in_body_[x][y]) return false;
  // While stale, a second stone on a recorded cell would make the rebuild
  // place two stones on one cell.
  return game.cell_free(x, y);
}

bool Engine::record_stone(int x, int y, bool own) {
  if (!stone_fits(x, y)) {
    send_line(out, own ? "ERROR my move [%d,%d]" : "ERROR opponents's move [%d,%d]", x, y);
    return false;
  }
  game.play(x, y);
  return true;
}

void Engine::place_block_stone(int x, int y) {
  // Block stones live only on the built board; a stale position drops them.
  if (!game.position_current()) return;
  if (!game.record.on_board(x, y) || game.position->cells[x][y] != EMPTY || in_body_[x][y]) {
    send_line(out, "ERROR board-block move [%d,%d]", x, y);
    return;
  }
  game.place_block(x, y);
}

void Engine::body_stone(int x, int y, int who) {
  if (who == 3) {
    place_block_stone(x, y);
    return;
  }
  if (!stone_fits(x, y)) {
    record_stone(x, y, who == 1);  // writes the refusal
    return;
  }
  body_[body_count_++] = BodyStone{x, y, who};
  in_body_[x][y] = true;
}

void Engine::end_body() {
  // Under the Gomoku rules a manager may list the stones in any order (many
  // scan the grid row by row). When the counts allow it the own and the
  // opponent's stones are interleaved, each side's in line order, so every
  // stone gets the colour its who number says and the engine moves next:
  // with equal counts the engine's stone comes first, with one opponent
  // stone more the opponent's. Renju bodies come in play order, and counts
  // that allow no alternation keep line order too.
  const int n = body_count_;
  int own = 0;
  for (int i = 0; i < n; ++i) {
    own += body_[i].who == 1;
    in_body_[body_[i].x][body_[i].y] = false;  // about to be recorded for real
  }
  body_count_ = 0;
  const int theirs = n - own;
  const bool alternate =
      effective_rule(Settings::get(game.settings.rule)) != RENJU && (theirs == own || theirs == own + 1);
  int next[2] = {0, 0};  // line index of the next own (0) and opponent (1) stone
  for (int i = 0; i < n; ++i) {
    int pick = i;
    if (alternate) {
      const int kind = (i % 2 == 0) == (theirs == own) ? 0 : 1;
      while (body_[next[kind]].who != kind + 1) ++next[kind];
      pick = next[kind]++;
    }
    record_stone(body_[pick].x, body_[pick].y, body_[pick].who == 1);
  }
}

bool Engine::takeback(int x, int y) {
  if (!game.take_back(x, y)) return false;
  send_line(out, "OK");
  return true;
}

void Engine::block_reset() { game.clear_blocks(); }

void Engine::block_cell(int x, int y) { game.block_cell(x, y); }

void Engine::hash_clear() {
  // A search must never read a table while it is being cleared.
  stop_thinking();
  game.clear_tables();
}

void Engine::thread_count_changed() {
  if (!thinking()) game.apply_thread_count();
}

void Engine::show_forbidden() {
  stop_thinking();
  if (effective_rule(Settings::get(game.settings.rule)) != RENJU) return;
  if (game.record.board_width == 0) {
    // No board was ever set up, so nothing has been played on one.
    send_line(out, "FORBID .");
    return;
  }
  if (game.record.built_rule != RENJU) game.rebuild(RENJU);
  out.write(forbidden_line(*game.position) + "\n");
}

}  // namespace orvel
