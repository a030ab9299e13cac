// The authoritative record of the game as the manager described it: board
// extents, the stones in the order they were played, and the cells the
// front end has excluded from the engine's own moves. The board arrays of
// Position are either current with this record or marked stale
// (built_rule == -1) and rebuilt from it at the next think. Held by the
// Game (game.h).
#pragma once

#include <atomic>
#include <cstdint>

#include "core/types.h"

namespace orvel {

struct RecordedMove {
  int32_t x;
  int32_t y;
  int32_t side;
};

struct GameRecord {
  int32_t board_width = 0;   // first number of START/RECTSTART; bounds y; 0 = never set
  int32_t board_height = 0;  // second number; bounds x
  int32_t board_size = 15;   // the larger extent
  RecordedMove move_history[MAX_CELLS];
  int32_t move_count = 0;
  int32_t built_rule = -1;  // -1: position stale
  bool first_think_pending = true;

  // 1 marks a cell the engine must never choose. Written by ovblock while a
  // search may read it, hence relaxed atomics.
  std::atomic<uint8_t> blocked_cells[MAX_SIZE][MAX_SIZE] = {};

  bool on_board(int x, int y) const { return x >= 0 && y >= 0 && x < board_height && y < board_width; }
  bool blocked(int x, int y) const { return blocked_cells[x][y].load(std::memory_order_relaxed) != 0; }
  int side_to_move() const { return (move_count % 2) + 1; }
};

}  // namespace orvel
