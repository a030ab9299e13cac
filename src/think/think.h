// The think drivers the worker runs: normal play and the analysis modes.
#pragma once

#include <cstdint>

namespace orvel {

class Engine;

// Normal play: budget, shortcuts, deepening, report, play and record.
void normal_think(Engine& engine);
// Score every legal cell one ply deep; best into best_move. 0 when some
// cell was scored, 1 when none qualified.
int pre_select(Engine& engine, int side);
// The first-move rule: best_move = the centre, or the free cell nearest to
// it; (-1, -1) when every cell is excluded.
void first_move(Engine& engine);
// Milliseconds one think may take: the smaller of timeout_turn and a
// sixteenth of time_left.
int32_t turn_budget(const Engine& engine);
// The searching part of a normal think for side, without its shortcuts and
// without playing: rebuild, deepen within move_budget (the caller sets it
// and zeroes the counters), write the summary and best lines. Leaves the
// move in best_move and returns the value for side.
int32_t search_and_report(Engine& engine, int side, bool ample_time);

void nbest_think(Engine& engine);
void balance_one_think(Engine& engine);
void balance_two_think(Engine& engine);

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
BalanceMove balance_one(Engine& engine, int32_t k, int32_t budget);

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
BalancePair balance_two(Engine& engine, int32_t k, int32_t budget);

}  // namespace orvel
