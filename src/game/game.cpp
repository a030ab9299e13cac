// The game a think works on: the record and its rebuild of the position, the
// table sizes under max_memory, and the reset between sessions.
#include "game/game.h"

#include <algorithm>
#include <new>

#include "board/pattern_table.h"
#include "game/search_inputs.h"
#include "renju/forbidden.h"

namespace orvel {

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

Game::Game(Reporter& output)
    : out(output),
      position(std::make_unique<Position>()),
      search(
          std::make_unique<Search>(*position, make_search_context(settings, record, hash, stop_requested, &output))) {}

void Game::reset() {
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
}

// ---------------------------------------------------------------------------
// The game record
// ---------------------------------------------------------------------------

void Game::set_board(int width, int height) {
  record.board_width = width;
  record.board_height = height;
  record.board_size = std::max(width, height);
  record.built_rule = -1;
  record.move_count = 0;
}

void Game::new_game() {
  record.built_rule = -1;
  record.move_count = 0;
  search->last_value = 0;
}

bool Game::cell_free(int x, int y) const {
  if (position_current()) return position->cells[x][y] == EMPTY;
  // Stale: the record is all there is.
  for (int i = 0; i < record.move_count; ++i)
    if (record.move_history[i].x == x && record.move_history[i].y == y) return false;
  return true;
}

void Game::play(int x, int y) {
  const int side = record.side_to_move();
  if (position_current()) position->make_move(x, y, side);
  record.move_history[record.move_count] = RecordedMove{x, y, side};
  ++record.move_count;
}

bool Game::take_back(int x, int y) {
  // Only the last recorded stone can be taken back, so the board and the
  // record never disagree.
  if (record.move_count == 0) return false;
  const RecordedMove& last = record.move_history[record.move_count - 1];
  if (last.x != x || last.y != y) return false;
  if (position_current() && position->cells[x][y] != EMPTY) position->undo_move(x, y, position->cells[x][y]);
  --record.move_count;
  search->last_value = 0;
  return true;
}

void Game::block_cell(int x, int y) {
  // Any cell of the storage: a mark may arrive before the board is set up
  // or for a larger board set up later, and it holds until cleared.
  if (x < 0 || y < 0 || x >= MAX_SIZE || y >= MAX_SIZE) return;
  record.blocked_cells[x][y].store(1, std::memory_order_relaxed);
}

void Game::clear_blocks() {
  for (auto& row : record.blocked_cells)
    for (auto& cell : row) cell.store(0, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

uint64_t Game::memory_use(int64_t bucket_count, int thread_count) const {
  return PROCESS_ALLOWANCE_BYTES + owner_bytes + sizeof(Game) + sizeof(Position) + UndoLog::heap_bytes() +
         sizeof(Search) + Search::ply_storage_bytes() +
         static_cast<uint64_t>(std::max(thread_count - 1, 0)) * SearchThreads::bytes_per_helper() +
         RULE_COUNT * sizeof(PatternTables) + HashTables::table_bytes(bucket_count);
}

int Game::search_thread_count() const {
  const int wanted = std::clamp<int>(Settings::get(settings.thread_num), 1, MAX_SEARCH_THREADS);
  const int64_t max_memory = Settings::get(settings.max_memory);
  if (max_memory <= 0) return wanted;
  int count = wanted;
  while (count > 1 && memory_use(1, count) >= static_cast<uint64_t>(max_memory)) --count;
  return count;
}

void Game::apply_thread_count() { threads.set_count(search_thread_count(), *search); }

int64_t Game::table_bucket_count() const {
  const int64_t requested = Settings::get(settings.hash_size);
  const int64_t max_memory = Settings::get(settings.max_memory);
  const int thread_count = search_thread_count();
  auto fits = [&](int64_t count) { return memory_use(count, thread_count) < static_cast<uint64_t>(max_memory); };
  if (max_memory <= 0 || requested <= 0 || fits(requested)) return requested;
  int64_t count = 1;
  while (count * 2 < requested && fits(count * 2)) count *= 2;
  return fits(count) ? count : 0;
}

void Game::apply_table_sizes() {
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
// Rebuilding the position (worker thread during a think, or the owner with
// no think running)
// ---------------------------------------------------------------------------

void Game::apply_rule() {
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

void Game::clear_tables() {
  hash.clear_hash_tables();
  search->deep->clear();
  threads.clear_deep_states();
}

void Game::rebuild(int rule) {
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
