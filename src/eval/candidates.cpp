// Candidate-cell operations shared by the move stages: the two answers to an
// opponent's open three, window occupancy tests on the row line words, and
// the four/three cells that are not already strong cells.
#include "eval/candidates.h"

#include "board/position.h"
#include "core/bits.h"
#include "renju/forbidden.h"

namespace orvel {

// Masks are patterns of 2-bit cell fields; centre is the bit that lines up
// with the cell's own field. 1023 covers five cells (centre field 2),
// 16383 seven cells (centre field 3), 12483 the fields 0, 3 and 6 of seven.
constexpr uint64_t MASK_FIVE = 1023;
constexpr uint64_t MASK_SEVEN = 16383;
constexpr uint64_t MASK_SPARSE = 12483;

const WindowShape window_square = {
    2, {{4, MASK_FIVE}, {4, MASK_FIVE}, {4, MASK_FIVE}, {4, MASK_FIVE}, {4, MASK_FIVE}, {0, 0}, {0, 0}}};

const WindowShape window_star = {3,
                                 {{6, MASK_SPARSE},
                                  {4, MASK_FIVE},
                                  {4, MASK_FIVE},
                                  {6, MASK_SEVEN},
                                  {4, MASK_FIVE},
                                  {4, MASK_FIVE},
                                  {6, MASK_SPARSE}}};

int open_three_defences(Position& pos, MoveEntry* list, int opp, int x, int y) {
  // The first direction in which a stone of opp here makes an open four.
  int d = 0;
  while (d < 4 && pos.code(d, x, y, opp) != PAT_OPEN_FOUR) ++d;
  if (d == 4) return 0;  // not an open-four cell of opp: nothing to answer
  int dx = dir_dx[d];
  int dy = dir_dy[d];

  auto is_opp = [&](int cx, int cy) { return pos.on_board(cx, cy) && pos.cells[cx][cy] == opp; };

  if (is_opp(x + dx, y + dy) && is_opp(x - dx, y - dy)) {
    // (x, y) lies inside opp's stones: the answers are the first empty cells
    // beyond each end of the four a stone here would make. The cells just
    // past an open four are empty, so both walks end on the board; the
    // bounds test only keeps a malformed record from reading outside it.
    int ax = x + dx, ay = y + dy;
    while (pos.on_board(ax, ay) && pos.cells[ax][ay] != EMPTY) ax += dx, ay += dy;
    int bx = x - dx, by = y - dy;
    while (pos.on_board(bx, by) && pos.cells[bx][by] != EMPTY) bx -= dx, by -= dy;
    if (!pos.on_board(ax, ay) || !pos.on_board(bx, by)) return 0;
    list[0].x = static_cast<int16_t>(ax);
    list[0].y = static_cast<int16_t>(ay);
    list[1].x = static_cast<int16_t>(bx);
    list[1].y = static_cast<int16_t>(by);
    return 2;
  }

  // (x, y) is at one end of opp's stones: turn the step toward them.
  if (is_opp(x - dx, y - dy)) {
    dx = -dx;
    dy = -dy;
  }
  const int fx = x + 4 * dx, fy = y + 4 * dy;  // the far end of the four
  const int bx = x - dx, by = y - dy;          // the cell behind (x, y)
  if (!pos.on_board(fx, fy) || !pos.on_board(bx, by)) return 0;

  if (pos.code(d, fx, fy, opp) == PAT_OPEN_FOUR && !(pos.rule == RENJU && opp == BLACK && is_forbidden(pos, fx, fy))) {
    // The far end is itself an open-four cell: it is among the candidates
    // already, and so is (x, y).
    return 0;
  }
  list[0].x = static_cast<int16_t>(fx);
  list[0].y = static_cast<int16_t>(fy);
  list[1].x = static_cast<int16_t>(bx);
  list[1].y = static_cast<int16_t>(by);
  return 2;
}

int list_three_answers(Position& pos, MoveEntry* list, int side, bool* real) {
  const int opp = opponent(side);
  const int count = pos.list_open_four_cells(list, opp);
  *real = false;
  if (count == 0) return 0;
  int ref = 0;
  *real = true;
  if (pos.rule == RENJU && side == WHITE) {
    while (ref < count && is_forbidden(pos, list[ref].x, list[ref].y)) ++ref;
    if (ref == count) {
      *real = false;
      ref = 0;
    }
  }
  int n = count;
  MoveEntry defences[2];
  if (open_three_defences(pos, defences, opp, list[ref].x, list[ref].y) == 2)
    for (int i = 0; i < 2; ++i) list[n++] = defences[i];
  MoveEntry fours[MAX_CELLS];
  const int f = pos.list_four_cells(fours, side);
  for (int i = 0; i < f && n < MAX_CELLS; ++i) list[n++] = fours[i];
  for (int i = 0; i < n; ++i) list[i].key = 0;
  return n;
}

uint64_t window_has_stone(const Position& pos, int xr, int p, int centre, uint64_t mask) {
  // Fields of the cells 0 .. board_width - 1 only: the border marks and the
  // virtual cells in front of the line never count.
  const uint64_t row = ((uint64_t{1} << (2 * pos.board_width)) - 1) << 8;
  const uint64_t window = p >= centre ? mask << (p - centre) : mask >> (centre - p);
  return window & row & pos.y_lines[xr];
}

bool shape_has_stone(const Position& pos, const WindowShape& shape, int x, int y) {
  const int p = 2 * y + 8;
  for (int i = 0; i <= 2 * shape.radius; ++i) {
    const int xr = x - shape.radius + i;
    if (xr < 0 || xr >= pos.board_height) continue;
    if (window_has_stone(pos, xr, p, shape.rows[i].centre, shape.rows[i].mask) != 0) return true;
  }
  return false;
}

int list_threat_cells(const Position& pos, MoveEntry* list, int s) {
  const CellSet& fours = pos.four_cells[s - 1];
  const CellSet& threes = pos.three_cells[s - 1];
  const CellSet& strong = pos.strong_cells[s - 1];
  int n = 0;
  for (uint32_t cols = fours.summary | threes.summary; cols; cols &= cols - 1) {
    const int x = lowest_bit_index(cols);
    for (uint32_t rows = (fours.rows[x] | threes.rows[x]) & ~strong.rows[x]; rows; rows &= rows - 1) {
      list[n].x = static_cast<int16_t>(x);
      list[n].y = static_cast<int16_t>(lowest_bit_index(rows));
      ++n;
    }
  }
  return n;
}

}  // namespace orvel
