// Small operations on the board around a cell that the move stages of the
// searches share: the two answers to an opponent's open three, occupancy
// tests of a window of cells, and the four/three cells that are not strong.
// They are plain functions of the position: src/eval holds only these and
// includes nothing of the search (the evaluation itself is a method of
// Search, in src/search/evaluate.cpp).
#pragma once

#include <cstdint>

#include "core/types.h"

namespace orvel {

class Position;

// One row of a window shape: a mask of 2-bit cell fields and the bit
// position in it that lines up with the centre cell's column.
struct WindowRow {
  int centre;
  uint64_t mask;
};

struct WindowShape {
  int radius;  // rows x - radius .. x + radius
  WindowRow rows[7];
};

// The 5 by 5 square around a cell.
extern const WindowShape window_square;
// The 33-cell neighbourhood: the 5 by 5 square plus the cells at distance
// 3 along the four lines.
extern const WindowShape window_star;

// (x, y) is an open-four cell of opp. Returns 0, or 2 after writing the two
// defence cells into list[0] and list[1] (coordinates only).
int open_three_defences(Position& pos, MoveEntry* list, int opp, int x, int y);

// The answers to the opponent's open three: its open-four cells, the two
// defence cells of the first of them that is a real threat, and side's own
// four cells. Nothing (0) when the opponent has no open-four cell. *real is
// false when every open-four cell is forbidden to BLACK under Renju: then
// they threaten nothing and the answers need not be the only moves.
int list_three_answers(Position& pos, MoveEntry* list, int side, bool* real);

// Non-zero when some cell of row xr selected by mask (centred at p = 2y+8)
// is not EMPTY; border fields and cells past board_width never count.
uint64_t window_has_stone(const Position& pos, int xr, int p, int centre, uint64_t mask);

// True when some cell of the shape around (x, y) on the board is not EMPTY.
bool shape_has_stone(const Position& pos, const WindowShape& shape, int x, int y);

// Cells of side s that are four or three cells and not strong cells,
// ascending x then y. Returns the count.
int list_threat_cells(const Position& pos, MoveEntry* list, int s);

}  // namespace orvel
