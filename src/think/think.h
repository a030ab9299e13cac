// The think drivers the worker runs: normal play and the analysis modes.
#pragma once

namespace orvel {

class Engine;

// Normal play: budget, shortcuts, deepening, report, play and record.
void normal_think(Engine& engine);
// Score every legal cell one ply deep; best into best_move. 0 when some
// cell was scored, 1 when none qualified.
int pre_select(Engine& engine, int side);

void nbest_think(Engine& engine);
void balance_one_think(Engine& engine);
void balance_two_think(Engine& engine);

}  // namespace orvel
