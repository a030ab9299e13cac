// Helpers shared by the board tests: a heap-allocated position, a snapshot
// of everything a make/undo pair must restore, and the comparison of the
// incremental records with a fresh build of the same stones.
#pragma once

#include <cstring>
#include <memory>
#include <random>
#include <string>

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

// The records a position holds must be a function of its stones alone:
// whatever sequence of placements, removals, trial stones and searches led
// there, they equal those of a position built afresh with the same stones.
// Returns an empty string when they do, else the first difference.
inline std::string differs_from_fresh_build(const Position& p) {
  Position fresh;
  fresh.configure(p.board_width, p.board_height, p.rule);
  for (int x = 0; x < p.board_height; ++x)
    for (int y = 0; y < p.board_width; ++y)
      if (p.cells[x][y] != EMPTY) fresh.make_move(x, y, p.cells[x][y]);
  auto at = [](const char* what, int x, int y, int s) {
    return std::string(what) + " at (" + std::to_string(x) + "," + std::to_string(y) + ") side " +
           std::to_string(s + 1);
  };
  if (std::memcmp(p.cells, fresh.cells, sizeof p.cells) != 0) return "cells";
  if (p.stone_count != fresh.stone_count) return "stone_count";
  for (int x = 0; x < p.board_size; ++x)
    for (int y = 0; y < p.board_size; ++y)
      for (int s = 0; s < 2; ++s) {
        for (int d = 0; d < 4; ++d) {
          const DirPattern &a = p.dir_patterns[d][x][y], &b = fresh.dir_patterns[d][x][y];
          if (a.code[s] != b.code[s]) return at(("code of direction " + std::to_string(d)).c_str(), x, y, s);
          if (a.space[s] != b.space[s]) return at(("space of direction " + std::to_string(d)).c_str(), x, y, s);
        }
        const CellRecord &a = p.cell_records[x][y], &b = fresh.cell_records[x][y];
        if (a.score[s] != b.score[s] || a.combined[s] != b.combined[s] || a.weight[s] != b.weight[s] ||
            a.contribution[s] != b.contribution[s])
          return at("cell record", x, y, s);
        if (p.code_keys[x][y][s] != fresh.code_keys[x][y][s]) return at("code key", x, y, s);
      }
  for (int s = 0; s < 2; ++s) {
    if (p.side_total[s] != fresh.side_total[s]) return "side_total";
    if (p.room_total[s] != fresh.room_total[s]) return "room_total";
    const CellSet* mine[5] = {&p.five_cells[s], &p.open_four_cells[s], &p.four_cells[s], &p.three_cells[s],
                              &p.strong_cells[s]};
    const CellSet* theirs[5] = {&fresh.five_cells[s], &fresh.open_four_cells[s], &fresh.four_cells[s],
                                &fresh.three_cells[s], &fresh.strong_cells[s]};
    static const char* names[5] = {"five set", "open-four set", "four set", "three set", "strong set"};
    for (int k = 0; k < 5; ++k)
      if (std::memcmp(mine[k], theirs[k], sizeof(CellSet)) != 0) return names[k];
  }
  return "";
}

}  // namespace orvel::testing
