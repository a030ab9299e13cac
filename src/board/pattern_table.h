// The two tables every shape judgement comes from, one pair per rule.
// pattern_table maps the 9-cell line window around an empty cell to that
// cell's pattern code and free space for each side; combo_table maps the
// four direction codes of a cell to a correction of its summed weights.
// Both are built once per rule and are read-only afterwards.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace orvel {

// Weight of each pattern code, summed over the four directions of a cell.
inline constexpr int16_t code_weight[16] = {0, 1, 2, 6, 7, 10, 23, 158, 175, 256, 256, 511, 2047, 0, 0, 0};
inline constexpr int16_t top_adjust[16] = {0, -2, -4, -4, -5, -8, -21, -108, -125, -196, -196, -411, -1947, 0, 0, 0};
inline constexpr int16_t pair_factor[16] = {3, 5, 4, 16, 16, 16, 16, 36, 36, 36, 40, 128, 256, 0, 0, 0};

// One entry of pattern_table: code and space for BLACK (index 0) and WHITE (1).
struct PatternEntry {
  int8_t code[2];
  int8_t space[2];
};

// The field of an 18-bit line window that holds the window's own cell.
constexpr uint32_t WINDOW_CENTRE = 3u << 8;

// The index of a window whose centre is empty: its eight other cells, the
// centre's two bits squeezed out. A quarter of the full table, so that the
// lookups of every placement stay in the cache.
inline uint32_t outer_cells(uint32_t window) { return (window & 0xFFu) | ((window >> 2) & 0xFF00u); }

struct PatternTables {
  int rule = -1;
  PatternEntry pattern_table[1 << 16];  // by outer_cells of the window
  int16_t combo_table[2][16][16][16][16];

  // The entry of any 18-bit window; an occupied centre has nothing.
  PatternEntry entry(uint32_t window) const {
    return (window & WINDOW_CENTRE) != 0 ? PatternEntry{{0, 0}, {0, 0}} : pattern_table[outer_cells(window)];
  }
};

// Fill the tables for one rule (0 free-style, 1 standard, 2 Renju).
void build_pattern_table(PatternTables& t, int rule);
void build_combo_table(PatternTables& t, int rule);

// The pattern entry of one 18-bit window, computed from scratch.
PatternEntry compute_pattern_entry(uint32_t window, int rule);
// The combination value of one side's four codes, computed from scratch.
int compute_combo_value(int side_index, int c0, int c1, int c2, int c3, int rule);

// The tables of a rule, built on first use and shared by every position
// afterwards (they depend on nothing but the rule). Safe to call from any
// thread.
const PatternTables& tables_for_rule(int rule);

}  // namespace orvel
