// A set of cells of one side kept as three levels of 32-bit masks: a summary
// with bit x set when column x has a member, one mask of rows y per column,
// and for the code sets a mask of the directions (bits 0..3) in which the
// cell carries the set's codes. Upper levels always agree with lower ones:
// a bit is cleared upwards only when the level below it becomes zero.
#pragma once

#include <cstdint>

#include "core/bits.h"
#include "core/types.h"

namespace orvel {

struct CellSet {
  uint32_t summary;
  uint32_t rows[MAX_SIZE];
  uint8_t dirs[MAX_SIZE][MAX_SIZE];

  bool empty() const { return summary == 0; }
  bool contains(int x, int y) const { return (rows[x] >> y) & 1u; }

  // Direction level (the four code sets).
  void add_dir(int x, int y, int d) {
    dirs[x][y] |= static_cast<uint8_t>(1u << d);
    rows[x] |= 1u << y;
    summary |= 1u << x;
  }
  void remove_dir(int x, int y, int d) {
    dirs[x][y] &= static_cast<uint8_t>(~(1u << d));
    if (dirs[x][y] == 0) remove_cell(x, y);
  }
  // Row level only (the strong set).
  void add_cell(int x, int y) {
    rows[x] |= 1u << y;
    summary |= 1u << x;
  }
  void remove_cell(int x, int y) {
    rows[x] &= ~(1u << y);
    if (rows[x] == 0) summary &= ~(1u << x);
  }

  // The first member: lowest x, then lowest y. Only for a non-empty set.
  void first(int& x, int& y) const {
    x = lowest_bit_index(summary);
    y = lowest_bit_index(rows[x]);
  }

  // Write the members into list (coordinates only), ascending x then y.
  int list(MoveEntry* out) const {
    int n = 0;
    for (uint32_t xs = summary; xs; xs &= xs - 1) {
      const int x = lowest_bit_index(xs);
      for (uint32_t ys = rows[x]; ys; ys &= ys - 1) {
        out[n].x = static_cast<int16_t>(x);
        out[n].y = static_cast<int16_t>(lowest_bit_index(ys));
        ++n;
      }
    }
    return n;
  }
};

}  // namespace orvel
