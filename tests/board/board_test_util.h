// Helpers shared by the board tests: a heap-allocated position and a
// snapshot of everything a make/undo pair must restore.
#pragma once

#include <cstring>
#include <memory>
#include <random>

#include "board/position.h"

namespace orvel::testing {

inline std::unique_ptr<Position> make_position(int width, int height, int rule) {
  auto pos = std::make_unique<Position>();
  pos->configure(width, height, rule);
  return pos;
}

// Place stones from a picture: rows are x, columns are y; 'X' BLACK,
// 'O' WHITE, '#' BLOCKED, anything else empty.
inline void place_picture(Position& pos, std::initializer_list<const char*> rows, int x0 = 0, int y0 = 0) {
  int x = x0;
  for (const char* row : rows) {
    for (int y = y0; row[y - y0]; ++y) {
      const char c = row[y - y0];
      const int v = c == 'X' ? BLACK : c == 'O' ? WHITE : c == '#' ? BLOCKED : EMPTY;
      if (v != EMPTY) pos.make_move(x, y, v);
    }
    ++x;
  }
}

// Everything the line words and key hold, for exact comparisons.
struct LineSnapshot {
  int32_t cells[MAX_SIZE][MAX_SIZE];
  uint64_t y_lines[MAX_SIZE], x_lines[MAX_SIZE], anti_lines[2 * MAX_SIZE], diag_lines[2 * MAX_SIZE + 1];
  uint64_t key;

  explicit LineSnapshot(const Position& p) {
    std::memcpy(cells, p.cells, sizeof cells);
    std::memcpy(y_lines, p.y_lines, sizeof y_lines);
    std::memcpy(x_lines, p.x_lines, sizeof x_lines);
    std::memcpy(anti_lines, p.anti_lines, sizeof anti_lines);
    std::memcpy(diag_lines, p.diag_lines, sizeof diag_lines);
    key = p.zobrist_key;
  }
  bool operator==(const LineSnapshot& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

}  // namespace orvel::testing
