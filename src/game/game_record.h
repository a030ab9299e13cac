// The authoritative record of the game as the manager described it: board
// extents, the stones in the order they were played, and the cells the
// front end has excluded from the engine's own moves. The board arrays of
// Position are either current with this record or marked stale
// (built_rule == -1) and rebuilt from it at the next think. Held by the
// Game (game.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/types.h"

namespace orvel {

// Moves as text, as the bench and the tuner write them: for each move a
// letter for x ('a' = 0) and a number for y + 1, one after another ("h8i9").
inline std::string move_text(int x, int y) {
  return std::string(1, static_cast<char>('a' + x)) + std::to_string(y + 1);
}
// Appends the moves of text to moves; false when text is not such a list or
// leaves a board of size cells a side.
inline bool parse_move_list(const std::string& text, int size, std::vector<std::pair<int, int>>* moves) {
  for (size_t p = 0; p < text.size();) {
    const int x = text[p++] - 'a';
    if (p >= text.size() || text[p] < '0' || text[p] > '9') return false;
    int y = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9' && y <= size) y = y * 10 + (text[p++] - '0');
    if (x < 0 || x >= size || y < 1 || y > size) return false;
    moves->emplace_back(x, y - 1);
  }
  return true;
}

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
