// The engine as the protocol sees it: it owns the settings, the game record,
// the position, the hash tables, the search state and the worker thread.
// The dispatcher parses text and calls these methods; the engine writes its
// replies through an Output, so tests can drive it in-process.
//
// Threads: every method here runs on the main thread, except apply_rule and
// the think drivers, which run on the worker during a think. Methods that
// change the position stop a running think first.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "board/position.h"
#include "core/platform.h"
#include "protocol/game_record.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "search/hash.h"
#include "search/search.h"
#include "search/search_threads.h"

namespace orvel {

extern const char* const ORVEL_VERSION;

// Think modes handed to the worker.
enum ThinkMode : int {
  THINK_NORMAL = 0,
  THINK_BALANCE_ONE = 1,
  THINK_BALANCE_TWO = 2,
  THINK_NBEST = 3,
  THINK_SWAP2 = 4
};

// The stones of a SWAP2BOARD body in play order (BLACK first), checked by
// the dispatcher and handed to the swap2 think. They never enter the game
// record.
struct Swap2Stones {
  static constexpr int MAX = 5;
  int count = 0;
  int x[MAX] = {};
  int y[MAX] = {};
};

class Engine {
 public:
  explicit Engine(Output& out);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Output& out;
  Settings settings;
  GameRecord record;
  std::unique_ptr<Position> position;
  HashTables hash;
  std::unique_ptr<Search> search;
  // The helper searches of a normal think on several threads.
  SearchThreads threads;

  // ---- Think handshake ----
  std::atomic<int32_t> stop_requested{0};
  std::atomic<int32_t> think_mode{THINK_NORMAL};
  int32_t balance_offset = 0;
  int32_t nbest_count = 1;
  Swap2Stones swap2;

  // Back to the state of a new engine (settings, record, position, tables,
  // search state and think requests) after stopping a running think. The
  // worker and the search's storage stay, so one process can run session
  // after session, each as if it were the first.
  void reset();

  // Start the worker thread (once), on a stack that holds the deepest
  // search.
  void start_worker();
  void start_thinking();
  void stop_thinking();
  // True while a requested think has not finished.
  bool thinking();
  // Wait until the running think, if any, ends by itself (no stop request),
  // for at most limit_ms when that is not negative. True when no think runs.
  bool wait_think_end(int64_t limit_ms = -1);
  // The clock (Search::now_ms) when start_thinking asked for the running
  // think, or now when the think was not asked for that way (worker side;
  // each request is taken once).
  int64_t take_think_start();

  // ---- Position commands (main thread, think stopped) ----
  // START / RECTSTART after the numbers were parsed: validates the extents,
  // then the board reset. Returns false (and writes the error) when refused.
  bool board_reset(int width, int height);
  void ensure_board();
  void restart();
  // Record a stone of the engine (own = true) or of the opponent. Returns
  // false (and writes the refusal) when the cell cannot take it.
  bool record_stone(int x, int y, bool own);
  void place_block_stone(int x, int y);
  // A BOARD or ovboard body: every line goes to body_stone, which refuses
  // (or places a block stone) at once and keeps the accepted stones; then
  // end_body records them, in the order that gives each its colour.
  void body_stone(int x, int y, int who);
  void end_body();
  // Returns false when the take-back was refused (the caller writes the error).
  bool takeback(int x, int y);
  void block_reset();
  void block_cell(int x, int y);
  void hash_clear();
  void show_forbidden();

  // ---- Memory (INFO max_memory) ----
  // The memory the engine holds with hash tables of bucket_count buckets
  // per array: everything it allocates plus an allowance for the process
  // itself. Every store the engine keeps is a term of this one sum.
  // Each helper search thread adds its own position and per-ply storage.
  static uint64_t memory_use(int64_t bucket_count, int threads = 1);
  // The search threads of the next normal think: thread_num, or, when
  // max_memory is above 0, as many as fit below it with one-bucket tables
  // (at least one).
  int search_thread_count() const;
  // The bucket count for the next think: hash_size, or, when max_memory is
  // above 0 and hash_size does not fit below it (beside the storage of the
  // search threads), the largest power of two that does (0, no tables, when
  // not even one bucket fits).
  int64_t table_bucket_count() const;
  // Give the tables table_bucket_count buckets (worker, at the start of a
  // searching think); in detail mode a size cut by max_memory is announced.
  void apply_table_sizes();

  // ---- Worker side ----
  // Rebuild the position for the current rule when needed (announcing it).
  void apply_rule();
  // Rebuild the position for a rule from the game record, with no
  // announcement (apply_rule and ovshowforbid share it).
  void rebuild(int rule);
  // The board cells as currently built, or nothing if stale.
  bool position_current() const { return record.built_rule != -1; }

 private:
  void worker_loop();
  void run_think();
  // True when a stone may go on (x, y): on the board, room in the record,
  // and the cell free on the built board (or, while stale, in the record).
  bool stone_fits(int x, int y) const;

  // Accepted stones of the body being read (who 1 or 2), at most one per cell.
  struct BodyStone {
    int32_t x, y, who;
  };
  BodyStone body_[MAX_CELLS];
  int body_count_ = 0;
  bool in_body_[MAX_SIZE][MAX_SIZE] = {};

  SystemThread worker_;
  bool worker_started_ = false;
  std::mutex request_mutex_;
  std::condition_variable request_cv_;
  bool think_requested_ = false;
  bool worker_exit_ = false;  // set by the destructor: the worker leaves its loop
  std::mutex done_mutex_;
  std::condition_variable done_cv_;
  bool think_done_ = true;
  int64_t announced_buckets_ = -1;
  int64_t think_requested_ms_ = -1;  // written before the request is signalled
};

}  // namespace orvel
