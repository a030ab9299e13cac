// The engine behind the protocol: position commands that keep the game
// record, the rebuild of the position from that record, and the handshake
// with the worker thread that runs every think.
//
// The game record is the truth. The board arrays follow it move by move
// while they are current; after START, RECTSTART or RESTART they are stale
// (built_rule == -1) and the next think rebuilds them from the record.
#include "protocol/engine.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <new>

#include "board/pattern_table.h"
#include "protocol/search_inputs.h"
#include "renju/forbidden.h"
#include "think/swap2.h"
#include "think/think.h"

namespace orvel {

const char* const ORVEL_VERSION = "0.1";

namespace {

// What the process needs beyond the engine's own stores: code, the C and
// C++ runtime, the touched parts of the thread stacks and the I/O buffers.
// Measured at about 3 MiB on Linux (peak resident with one-bucket tables,
// less the stores counted in memory_use); twice that leaves room for other
// runtimes.
constexpr uint64_t PROCESS_ALLOWANCE_BYTES = uint64_t{8} << 20;
// The pattern tables are built once per rule played and then kept.
constexpr uint64_t RULE_COUNT = 3;

const char* rule_name(int rule) {
  switch (effective_rule(rule)) {
    case FREESTYLE:
      return "Gomoku (Freestyle)";
    case STANDARD:
      return "Gomoku (Standard)";
    default:
      return "Renju";
  }
}

}  // namespace

Engine::Engine(Output& output)
    : out(output),
      position(std::make_unique<Position>()),
      search(std::make_unique<Search>(*position, make_search_context(settings, record, hash, stop_requested, &output))) {}

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
  // Rebuilt in place: the search keeps references to these members.
  settings.~Settings();
  new (&settings) Settings();
  record.~GameRecord();
  new (&record) GameRecord();
  position->~Position();
  new (position.get()) Position();
  hash.~HashTables();
  new (&hash) HashTables();
  search->reset_all();
  stop_requested.store(0);
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
  stop_requested.store(0);
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
  stop_requested.store(1);
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

int64_t Engine::take_think_start() {
  const int64_t now = Search::now_ms();
  const int64_t requested = think_requested_ms_;
  think_requested_ms_ = -1;
  return requested >= 0 && requested <= now ? requested : now;
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
    think_requested_ms_ = -1;  // taken by a normal think, dropped by the others
    {
      std::lock_guard<std::mutex> lock(done_mutex_);
      think_done_ = true;
    }
    done_cv_.notify_all();
  }
}

void Engine::run_think() {
  // Analysis modes hold for one think only: the next TURN plays normally.
  switch (think_mode.load()) {
    case THINK_NORMAL:
      normal_think(*this);
      break;
    case THINK_BALANCE_ONE:
      think_mode.store(THINK_NORMAL);
      balance_one_think(*this);
      break;
    case THINK_BALANCE_TWO:
      think_mode.store(THINK_NORMAL);
      balance_two_think(*this);
      break;
    case THINK_NBEST:
      think_mode.store(THINK_NORMAL);
      nbest_think(*this);
      break;
    case THINK_SWAP2:
      think_mode.store(THINK_NORMAL);
      swap2_think(*this);
      break;
    default:
      break;
  }
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
  record.board_width = width;
  record.board_height = height;
  record.board_size = std::max(width, height);
  record.built_rule = -1;
  record.move_count = 0;
  send_line(out, "MESSAGE Orvel %s :-)", ORVEL_VERSION);
  send_line(out, "OK");
  return true;
}

void Engine::ensure_board() {
  stop_thinking();
  if (record.board_width == 0) board_reset(20, 20);
}

void Engine::restart() {
  record.built_rule = -1;
  record.move_count = 0;
  search->last_value = 0;
  send_line(out, "MESSAGE Orvel %s :-)", ORVEL_VERSION);
  send_line(out, "OK");
}

bool Engine::stone_fits(int x, int y) const {
  if (!record.on_board(x, y) || record.move_count + body_count_ >= MAX_CELLS || in_body_[x][y]) return false;
  if (position_current()) return position->cells[x][y] == EMPTY;
  // Stale: the record is all we have. A second stone on a recorded cell
  // would make the rebuild place two stones on one cell.
  for (int i = 0; i < record.move_count; ++i)
    if (record.move_history[i].x == x && record.move_history[i].y == y) return false;
  return true;
}

bool Engine::record_stone(int x, int y, bool own) {
  if (!stone_fits(x, y)) {
    send_line(out, own ? "ERROR my move [%d,%d]" : "ERROR opponents's move [%d,%d]", x, y);
    return false;
  }
  const int side = record.side_to_move();
  if (position_current()) position->make_move(x, y, side);
  record.move_history[record.move_count] = RecordedMove{x, y, side};
  ++record.move_count;
  return true;
}

void Engine::place_block_stone(int x, int y) {
  // Block stones live only on the built board; a stale position drops them.
  if (!position_current()) return;
  if (!record.on_board(x, y) || position->cells[x][y] != EMPTY || in_body_[x][y]) {
    send_line(out, "ERROR board-block move [%d,%d]", x, y);
    return;
  }
  position->make_move(x, y, BLOCKED);
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
      effective_rule(settings.get(settings.rule)) != RENJU && (theirs == own || theirs == own + 1);
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
  // Only the last recorded stone can be taken back, so the board and the
  // record never disagree; block stones are not recorded and never qualify.
  if (record.move_count == 0) return false;
  const RecordedMove& last = record.move_history[record.move_count - 1];
  if (last.x != x || last.y != y) return false;
  if (position_current() && position->cells[x][y] != EMPTY) position->undo_move(x, y, position->cells[x][y]);
  --record.move_count;
  search->last_value = 0;
  send_line(out, "OK");
  return true;
}

void Engine::block_reset() {
  for (auto& row : record.blocked_cells)
    for (auto& cell : row) cell.store(0, std::memory_order_relaxed);
}

void Engine::block_cell(int x, int y) {
  // Any cell of the storage: a mark may arrive before START or for a larger
  // board set up later, and it holds until ovblockreset.
  if (x < 0 || y < 0 || x >= MAX_SIZE || y >= MAX_SIZE) return;
  record.blocked_cells[x][y].store(1, std::memory_order_relaxed);
}

void Engine::hash_clear() {
  // A search must never read a table while it is being cleared.
  stop_thinking();
  hash.clear_hash_tables();
}

void Engine::show_forbidden() {
  stop_thinking();
  if (effective_rule(settings.get(settings.rule)) != RENJU) return;
  if (record.board_width == 0) {
    // No board was ever set up, so nothing has been played on one.
    send_line(out, "FORBID .");
    return;
  }
  if (record.built_rule != RENJU) rebuild(RENJU);
  out.write(forbidden_line(*position) + "\n");
}

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

uint64_t Engine::memory_use(int64_t bucket_count, int threads) {
  return PROCESS_ALLOWANCE_BYTES + sizeof(Engine) + sizeof(Position) + UndoLog::heap_bytes() + sizeof(Search) +
         Search::ply_storage_bytes() +
         static_cast<uint64_t>(std::max(threads - 1, 0)) * SearchThreads::bytes_per_helper() +
         RULE_COUNT * sizeof(PatternTables) + HashTables::table_bytes(bucket_count);
}

int Engine::search_thread_count() const {
  const int wanted = std::clamp<int>(Settings::get(settings.thread_num), 1, MAX_SEARCH_THREADS);
  const int64_t max_memory = Settings::get(settings.max_memory);
  if (max_memory <= 0) return wanted;
  int count = wanted;
  while (count > 1 && memory_use(1, count) >= static_cast<uint64_t>(max_memory)) --count;
  return count;
}

int64_t Engine::table_bucket_count() const {
  const int64_t requested = Settings::get(settings.hash_size);
  const int64_t max_memory = Settings::get(settings.max_memory);
  const int thread_count = search_thread_count();
  auto fits = [&](int64_t count) { return memory_use(count, thread_count) < static_cast<uint64_t>(max_memory); };
  if (max_memory <= 0 || requested <= 0 || fits(requested)) return requested;
  int64_t count = 1;
  while (count * 2 < requested && fits(count * 2)) count *= 2;
  return fits(count) ? count : 0;
}

void Engine::apply_table_sizes() {
  const int64_t count = table_bucket_count();
  hash.apply_hash_size(static_cast<int32_t>(count));
  // The first think allocates here rather than in its rebuild, so the size
  // announced is the one the tables really have.
  hash.resize_hash_tables();
  // Detail mode tells once when the limit has shrunk the tables, and again
  // at every change of the size it leads to.
  if (Settings::get(settings.show_detail) == 0 || count == announced_buckets_) return;
  announced_buckets_ = count;
  if (count == Settings::get(settings.hash_size)) return;
  send_line(out, "MESSAGE DETAIL hash tables %lld+%lld buckets, %llu bytes (max_memory %d)",
            static_cast<long long>(hash.tt_allocated), static_cast<long long>(hash.cache_allocated),
            static_cast<unsigned long long>(HashTables::table_bytes(hash.tt_allocated)),
            static_cast<int>(Settings::get(settings.max_memory)));
}

// ---------------------------------------------------------------------------
// Rebuilding the position (worker thread during a think, or main thread with
// no think running)
// ---------------------------------------------------------------------------

void Engine::apply_rule() {
  const int rule = effective_rule(settings.get(settings.rule));
  if (rule == record.built_rule) return;
  send_line(out, "MESSAGE Rule %s", rule_name(rule));
  rebuild(rule);
  if (record.first_think_pending) {
    // The first build of the process is charged to the first think.
    search->think_clock -= 200;
    record.first_think_pending = false;
  }
}

void Engine::rebuild(int rule) {
  position->configure(record.board_width, record.board_height, rule);
  hash.resize_hash_tables();
  hash.clear_hash_tables();
  search->reset_game_state();
  for (int i = 0; i < record.move_count; ++i) {
    const RecordedMove& m = record.move_history[i];
    // The record never holds two stones on one cell; the test only keeps a
    // broken record from corrupting the line words.
    if (position->on_board(m.x, m.y) && position->cells[m.x][m.y] == EMPTY) position->make_move(m.x, m.y, m.side);
  }
  record.built_rule = rule;
}

}  // namespace orvel
