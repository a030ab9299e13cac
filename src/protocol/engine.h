// The front end's engine: the text side of the protocol around one Game
// (src/game), which holds everything a think works on. The Engine keeps
// the worker thread and its handshake, the think requests the dispatcher
// fills in, the body of BOARD and ovboard while it is read, and the
// position commands with their replies. The dispatcher parses text and
// calls these methods; the engine writes its replies through an Output, so
// tests can drive it in-process.
//
// Threads: every method here runs on the main thread; the worker runs the
// think drivers (src/think) on the game. Methods that change the game stop
// a running think first.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "core/platform.h"
#include "game/game.h"
#include "protocol/output.h"
#include "think/think.h"

namespace orvel {

extern const char* const ORVEL_VERSION;

class Engine {
 public:
  explicit Engine(Output& out);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Output& out;
  // Everything a think works on; its stop flag is the handshake's.
  Game game;

  // ---- Think requests, read by the worker when the think starts ----
  std::atomic<int32_t> think_mode{THINK_NORMAL};
  int32_t balance_offset = 0;
  int32_t nbest_count = 1;
  Swap2Stones swap2;

  // Back to the state of a new engine (the game's settings, record,
  // position, tables and search state, and the think requests) after
  // stopping a running think. The worker and the search's storage stay, so
  // one process can run session after session, each as if it were the first.
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
  // thread_num or max_memory changed: the helpers' storage is made now
  // when no think runs (else the next think makes it).
  void thread_count_changed();

 private:
  void worker_loop();
  // The request of the think just asked for, handed to the drivers.
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
  int64_t think_requested_ms_ = -1;  // written before the request is signalled
};

}  // namespace orvel
