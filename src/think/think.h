// The think drivers: normal play and the analysis modes. Each works on a
// Game (src/game) and the request it serves; none includes the front end,
// which is their only caller (run_think on its worker thread). Swap2 is in
// swap2.h, the fixed-depth benchmark in bench.h.
#pragma once

#include <cstdint>

#include "game/game.h"

namespace orvel {

// What a think is asked to do.
enum ThinkMode : int {
  THINK_NORMAL = 0,
  THINK_BALANCE_ONE = 1,
  THINK_BALANCE_TWO = 2,
  THINK_NBEST = 3,
  THINK_SWAP2 = 4
};

// The stones of a SWAP2BOARD body in play order (BLACK first), checked by
// the front end and handed to the swap2 think. They never enter the game
// record.
struct Swap2Stones {
  static constexpr int MAX = 5;
  int count = 0;
  int x[MAX] = {};
  int y[MAX] = {};
};

// One think's request: the mode and what that mode reads.
struct ThinkRequest {
  ThinkMode mode = THINK_NORMAL;
  int32_t nbest_count = 1;     // N of the N-best mode
  int32_t balance_target = 0;  // the value k of the balance modes
  Swap2Stones swap2;           // the body of the swap2 mode
  // The clock (Search::now_ms) when the think was asked for, which the
  // normal think's budget runs from; -1 (or a later time): from its start.
  int64_t start_ms = -1;
};

// Run the driver of request.mode; a mode without one does nothing.
void run_think(Game& game, const ThinkRequest& request);

// Normal play: budget, shortcuts, deepening, report, play and record.
void normal_think(Game& game, const ThinkRequest& request);
// Score every legal cell one ply deep; best into best_move. 0 when some
// cell was scored, 1 when none qualified.
int pre_select(Game& game, int side);
// The first-move rule: best_move = the centre, or the free cell nearest to
// it; (-1, -1) when every cell is excluded.
void first_move(Game& game);
// Milliseconds one think may take: the smaller of timeout_turn and a
// sixteenth of time_left.
int32_t turn_budget(const Game& game);
// The searching part of a normal think for side, without its shortcuts and
// without playing: rebuild, deepen within move_budget (the caller sets it
// and zeroes the counters), write the summary and best lines. Leaves the
// move in best_move and returns the value for side.
int32_t search_and_report(Game& game, int side, bool ample_time);

void nbest_think(Game& game, const ThinkRequest& request);
void balance_one_think(Game& game, const ThinkRequest& request);
void balance_two_think(Game& game, const ThinkRequest& request);

// The answer of a balance-one search: the side's move and how far the
// position after it lies from the target. found is false when no cell was
// a candidate.
struct BalanceMove {
  bool found = false;
  int x = -1, y = -1;
  int32_t distance = 0;
};
// Balance-one for the side to move with target k (clamped to -2000..2000)
// within budget milliseconds; writes the same lines as ovbalanceone.
BalanceMove balance_one(Game& game, int32_t k, int32_t budget);

// The answer of a balance-two search: the side's move, the opponent's
// reply, and how far the position after both lies from the target.
// found is false when no pair was a candidate.
struct BalancePair {
  bool found = false;
  int x1 = -1, y1 = -1;
  int x2 = -1, y2 = -1;
  int32_t distance = 0;
};
// Balance-two for the side to move with target k (clamped to -2000..2000)
// within budget milliseconds; writes the same lines as ovbalancetwo.
BalancePair balance_two(Game& game, int32_t k, int32_t budget);

}  // namespace orvel
