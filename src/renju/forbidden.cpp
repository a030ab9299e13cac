// Renju forbidden points of BLACK.
//
// The test works from the BLACK codes that the pattern bookkeeping keeps:
// under Renju they already follow the exact-five rule (13 marks an overline,
// an open four whose completion would make six is already lowered to 9).
// Most cells are settled by their four codes alone; only a cell with two or
// more threats, or a four that may be doubled within its own line, pays for
// a light trial stone and the recursive test of the cells that would make
// each of its threes and fours real.
#include "renju/forbidden.h"

#include <cstdio>

#include "board/position.h"

namespace orvel {

namespace {

inline int black_code(const Position& pos, int d, int x, int y) { return pos.dir_patterns[d][x][y].code[0]; }

// Walk from (x, y) in direction d by step (+1 or -1) over BLACK stones;
// returns false when the walk leaves the board, else the first cell that is
// not BLACK in (ex, ey).
inline bool walk_to_end(const Position& pos, int d, int x, int y, int step, int& ex, int& ey) {
  const int dx = dir_dx[d] * step;
  const int dy = dir_dy[d] * step;
  int cx = x + dx;
  int cy = y + dy;
  while (pos.on_board(cx, cy) && pos.cells[cx][cy] == BLACK) {
    cx += dx;
    cy += dy;
  }
  if (!pos.on_board(cx, cy)) return false;
  ex = cx;
  ey = cy;
  return true;
}

// A four through (x, y) in direction d can only be one of two fours in the
// same line when both ends of the run of BLACK stones through the cell are
// on the board and themselves carry a four or better in that direction.
// Read before any trial stone.
bool line_check(const Position& pos, int d, int x, int y) {
  int ex, ey;
  if (!walk_to_end(pos, d, x, y, +1, ex, ey) || black_code(pos, d, ex, ey) < PAT_FOUR) return false;
  if (!walk_to_end(pos, d, x, y, -1, ex, ey) || black_code(pos, d, ex, ey) < PAT_FOUR) return false;
  return true;
}

// The end cell of the run in one direction turns the shape into `want`
// (11 for a three becoming an open four, 12 for a four becoming five) and
// may itself be played. Called with the trial stone on the board.
bool end_completes(Position& pos, int d, int x, int y, int step, int want) {
  int ex, ey;
  if (!walk_to_end(pos, d, x, y, step, ex, ey)) return false;
  if (black_code(pos, d, ex, ey) != want) return false;
  return is_forbidden(pos, ex, ey) == 0;
}

}  // namespace

int is_forbidden(Position& pos, int x, int y) {
  int k[4];
  int counted = 0;
  int first = -1;
  int last = -1;
  bool overline = false;

  // Step 1: the four codes before any trial stone.
  for (int d = 0; d < 4; ++d) {
    k[d] = black_code(pos, d, x, y);
    if (k[d] == PAT_FIVE) return 0;  // a five is never forbidden, not even beside a six
    if (k[d] == PAT_OVERLINE) overline = true;
    if (k[d] >= PAT_THREE_SPLIT && k[d] <= PAT_OPEN_FOUR) {
      ++counted;
      if (first < 0) first = d;
      last = d;
    }
  }
  // Steps 2 and 3.
  if (overline) return 1;
  if (counted == 0) return 0;

  if (counted == 1) {
    // Step 4: a lone three or open four is harmless; a lone four matters
    // only when the same line can hold a second four.
    const int c = k[first];
    if (c <= PAT_THREE || c == PAT_OPEN_FOUR) return 0;
    if (!line_check(pos, first, x, y)) return 0;
  } else if (counted == 2) {
    // Step 5: two fours or two threes need the confirmation; a four-three is
    // allowed unless the four's line may hold a second four.
    const bool four_a = k[first] >= PAT_FOUR;
    const bool four_b = k[last] >= PAT_FOUR;
    if (four_a != four_b) {
      const int four_dir = four_a ? first : last;
      if (!line_check(pos, four_dir, x, y)) return 0;
    }
  }
  // Step 6: three or four threats always go to the confirmation.

  // Step 7: confirmation with a light trial stone.
  pos.make_move_light(x, y, BLACK);
  int real_threes = 0;
  int real_fours = 0;
  for (int d = first; d <= last; ++d) {
    const int c = k[d];
    if (c < PAT_THREE_SPLIT) continue;
    if (c <= PAT_THREE) {
      if (end_completes(pos, d, x, y, +1, PAT_OPEN_FOUR) || end_completes(pos, d, x, y, -1, PAT_OPEN_FOUR))
        ++real_threes;
    } else {
      // A four of code 9 or 10 may be completed at both ends (X_XXX_X counts
      // two fours by itself); an open four counts once.
      bool forward = end_completes(pos, d, x, y, +1, PAT_FIVE);
      if (forward) ++real_fours;
      if (forward && c == PAT_OPEN_FOUR) continue;
      if (end_completes(pos, d, x, y, -1, PAT_FIVE)) ++real_fours;
    }
  }
  pos.undo_move_light(x, y, BLACK);
  return (real_threes >= 2 || real_fours >= 2) ? 1 : 0;
}

std::string forbidden_line(Position& pos) {
  std::string line = "FORBID ";
  char buffer[24];
  for (int x = 0; x < pos.board_size; ++x) {
    for (int y = 0; y < pos.board_size; ++y) {
      if (!pos.on_board(x, y) || pos.cells[x][y] != EMPTY) continue;
      if (is_forbidden(pos, x, y)) {
        std::snprintf(buffer, sizeof buffer, "%02d%02d", x, y);
        line += buffer;
      }
    }
  }
  line += '.';
  return line;
}

}  // namespace orvel
