// What a think works on: the settings, the game record and the position
// built from it, the hash tables and their sizing under max_memory, the
// search with its helper threads, the stop flag, and the reporter its lines
// go to. The front end (src/protocol) owns one Game and changes it between
// thinks; the think drivers (src/think) work on it during one. Nothing here
// parses or answers protocol text.
//
// The game record is the truth. The board arrays follow it move by move
// while they are current; after a new board or a new game they are stale
// (built_rule == -1) and apply_rule rebuilds them from the record.
//
// Threads: the owner calls every method between thinks, except apply_rule,
// apply_table_sizes and the memory sums, which the drivers call on the
// worker during a think.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "board/position.h"
#include "core/reporter.h"
#include "game/game_record.h"
#include "game/settings.h"
#include "search/hash.h"
#include "search/search.h"
#include "search/search_threads.h"

namespace orvel {

class Game {
 public:
  explicit Game(Reporter& out);
  Game(const Game&) = delete;
  Game& operator=(const Game&) = delete;

  Reporter& out;
  Settings settings;
  GameRecord record;
  std::unique_ptr<Position> position;
  HashTables hash;
  // Raised by the owner to end the running think; every search tests it.
  std::atomic<int32_t> stop_requested{0};
  std::unique_ptr<Search> search;
  // The helper searches of a normal think on several threads.
  SearchThreads threads;
  // What the owner holds beside this Game (its text buffers and thread
  // handshake), so that memory_use sums the whole engine. reset keeps it.
  uint64_t owner_bytes = 0;

  // Back to a new game's state (settings, record, position, tables, search
  // state, stop flag). The search's storage stays, so one process can play
  // session after session, each as if it were the first. No think may run.
  void reset();

  // ---- The game record (no think running) ----
  // The board arrays current with the record (else stale).
  bool position_current() const { return record.built_rule != -1; }
  // New extents (already checked); the record empties, the board is stale.
  void set_board(int width, int height);
  // The same board, a new game: the record empties, the board is stale.
  void new_game();
  // (x, y) holds no recorded stone: on the built board when it is current,
  // else in the record.
  bool cell_free(int x, int y) const;
  // The side to move's stone on (x, y), recorded and, while the board is
  // current, placed. The caller has checked the cell.
  void play(int x, int y);
  // Take back the last recorded stone when it stands on (x, y); false
  // otherwise (block stones are never recorded and never qualify).
  bool take_back(int x, int y);
  // A block stone on (x, y) of the built board (the caller has checked it).
  void place_block(int x, int y) { position->make_move(x, y, BLOCKED); }
  // Mark (any cell of the storage) or clear the cells the engine must never
  // choose.
  void block_cell(int x, int y);
  void clear_blocks();

  // ---- Memory (INFO max_memory) ----
  // The memory the engine holds with hash tables of bucket_count buckets
  // per array: everything it allocates plus an allowance for the process
  // itself. Every store the engine keeps is a term of this one sum.
  // Each helper search thread adds its own position and per-ply storage.
  uint64_t memory_use(int64_t bucket_count, int thread_count = 1) const;
  // The search threads of the next normal think: thread_num, or, when
  // max_memory is above 0, as many as fit below it with one-bucket tables
  // (at least one).
  int search_thread_count() const;
  // Make (or free) the helper threads' storage for search_thread_count
  // now, so that a think does not spend its clock on it; only while no
  // think runs.
  void apply_thread_count();
  // The bucket count for the next think: hash_size, or, when max_memory is
  // above 0 and hash_size does not fit below it (beside the storage of the
  // search threads), the largest power of two that does (0, no tables, when
  // not even one bucket fits).
  int64_t table_bucket_count() const;
  // Give the tables table_bucket_count buckets (worker, at the start of a
  // searching think); in detail mode a size cut by max_memory is announced.
  void apply_table_sizes();

  // ---- Rebuilding the position ----
  // Rebuild the position for the current rule when needed (announcing it).
  void apply_rule();
  // Rebuild the position for a rule from the game record, with no
  // announcement (apply_rule and ovshowforbid share it).
  void rebuild(int rule);
  // Empty the transposition table, the threat cache and every search's
  // own caches (the deep search's threat cache and root list).
  void clear_tables();

 private:
  int64_t announced_buckets_ = -1;
};

}  // namespace orvel
