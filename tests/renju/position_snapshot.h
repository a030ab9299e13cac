// Helpers for the evaluation and threat tests: a byte copy of every
// field a balanced sequence of trial stones must give back, and random busy
// positions.
#pragma once

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "board/position.h"
#include "renju/forbidden.h"

namespace orvel::testing {

struct PatternRecordSnapshot {
  int32_t cells[MAX_SIZE][MAX_SIZE];
  uint64_t y_lines[MAX_SIZE], x_lines[MAX_SIZE], anti_lines[2 * MAX_SIZE], diag_lines[2 * MAX_SIZE + 1];
  uint64_t key;
  DirPattern dir_patterns[4][MAX_SIZE][MAX_SIZE];
  CellRecord cell_records[MAX_SIZE][MAX_SIZE];
  int32_t side_total[2], room_total[2];
  CellSet sets[5][2];

  explicit PatternRecordSnapshot(const Position& p) {
    std::memset(this, 0, sizeof *this);
    std::memcpy(cells, p.cells, sizeof cells);
    std::memcpy(y_lines, p.y_lines, sizeof y_lines);
    std::memcpy(x_lines, p.x_lines, sizeof x_lines);
    std::memcpy(anti_lines, p.anti_lines, sizeof anti_lines);
    std::memcpy(diag_lines, p.diag_lines, sizeof diag_lines);
    key = p.zobrist_key;
    std::memcpy(dir_patterns, p.dir_patterns, sizeof dir_patterns);
    std::memcpy(cell_records, p.cell_records, sizeof cell_records);
    std::memcpy(side_total, p.side_total, sizeof side_total);
    std::memcpy(room_total, p.room_total, sizeof room_total);
    for (int s = 0; s < 2; ++s) {
      std::memcpy(&sets[0][s], &p.five_cells[s], sizeof(CellSet));
      std::memcpy(&sets[1][s], &p.open_four_cells[s], sizeof(CellSet));
      std::memcpy(&sets[2][s], &p.four_cells[s], sizeof(CellSet));
      std::memcpy(&sets[3][s], &p.three_cells[s], sizeof(CellSet));
      std::memcpy(&sets[4][s], &p.strong_cells[s], sizeof(CellSet));
    }
  }

  // Empty when equal, else the name of the first field that differs.
  std::string diff(const PatternRecordSnapshot& o) const {
    if (std::memcmp(cells, o.cells, sizeof cells)) return "cells";
    if (std::memcmp(y_lines, o.y_lines, sizeof y_lines) || std::memcmp(x_lines, o.x_lines, sizeof x_lines) ||
        std::memcmp(anti_lines, o.anti_lines, sizeof anti_lines) ||
        std::memcmp(diag_lines, o.diag_lines, sizeof diag_lines))
      return "line words";
    if (key != o.key) return "zobrist_key";
    if (std::memcmp(dir_patterns, o.dir_patterns, sizeof dir_patterns)) return "dir_patterns";
    if (std::memcmp(cell_records, o.cell_records, sizeof cell_records)) return "cell_records";
    if (std::memcmp(side_total, o.side_total, sizeof side_total)) return "side_total";
    if (std::memcmp(room_total, o.room_total, sizeof room_total)) return "room_total";
    static const char* names[5] = {"five set", "open-four set", "four set", "three set", "strong set"};
    for (int k = 0; k < 5; ++k)
      if (std::memcmp(sets[k], o.sets[k], sizeof sets[k])) return names[k];
    return "";
  }
};

// True when a stone of v at (x, y) would complete five (or, for BLACK under
// Renju, when the point is an overline too: we keep games going).
inline bool makes_five(const Position& pos, int x, int y, int v) {
  for (int d = 0; d < 4; ++d)
    if (pos.dir_patterns[d][x][y].code[v - 1] >= PAT_FIVE) return true;
  return false;
}

// A busy position: stones alternate BLACK and WHITE inside a central square
// of side `spread`, BLACK never on a point that is forbidden under Renju,
// and nobody completes five, so the shapes pile up. Returns the number of
// stones placed.
inline int fill_random(Position& pos, std::mt19937& rng, int stones, int spread) {
  const int lo = (pos.board_size - spread) / 2;
  std::uniform_int_distribution<int> coord(lo, lo + spread - 1);
  int placed = 0;
  for (int tries = 0; placed < stones && tries < stones * 50; ++tries) {
    const int x = coord(rng), y = coord(rng);
    if (pos.cells[x][y] != EMPTY) continue;
    const int v = placed % 2 == 0 ? BLACK : WHITE;
    if (makes_five(pos, x, y, v)) continue;
    if (v == BLACK && pos.rule == RENJU && is_forbidden(pos, x, y)) continue;
    pos.make_move(x, y, v);
    ++placed;
  }
  return placed;
}

// Test every empty cell once; returns the number of forbidden cells.
inline int forbidden_pass(Position& pos) {
  int n = 0;
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      if (pos.cells[x][y] == EMPTY) n += is_forbidden(pos, x, y);
  return n;
}

}  // namespace orvel::testing
