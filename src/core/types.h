// Shared vocabulary of the engine: cell values, rules, the score scale,
// move-list entries and the fixed limits every array is sized by.
#pragma once

#include <cstdint>

namespace orvel {

// Every board array is laid out 24 by 24 whatever the board size, so a
// cell's index is 24 * x + y everywhere.
constexpr int MAX_SIZE = 24;
constexpr int MAX_CELLS = MAX_SIZE * MAX_SIZE;  // 576

// Cell values. Per-side arrays are indexed by value - 1.
enum : int32_t { EMPTY = 0, BLACK = 1, WHITE = 2, BLOCKED = 3 };

constexpr int opponent(int side) { return 3 - side; }

// Rules as the engine plays them. INFO may store any number; everything
// other than 0 and 1 is played (and announced) as Renju.
enum Rule : int { FREESTYLE = 0, STANDARD = 1, RENJU = 2 };
constexpr int effective_rule(int rule) { return rule == 0 ? FREESTYLE : rule == 1 ? STANDARD : RENJU; }

// Directions: 0 along y, 1 along x, 2 anti-diagonal, 3 diagonal.
constexpr int dir_dx[4] = {0, 1, -1, 1};
constexpr int dir_dy[4] = {1, 0, 1, 1};

// Pattern codes: what a stone of a side placed on an empty cell would make
// along one direction. Larger is stronger; they are compared as integers.
enum PatternCode : int {
  PAT_NONE = 0,
  PAT_ONE = 1,
  PAT_TWO_CLOSED = 2,
  PAT_TWO_WIDE = 3,
  PAT_TWO_SPLIT = 4,
  PAT_TWO = 5,
  PAT_THREE_CLOSED = 6,
  PAT_THREE_SPLIT = 7,
  PAT_THREE = 8,
  PAT_FOUR = 9,
  PAT_FOUR_PLUS = 10,
  PAT_OPEN_FOUR = 11,
  PAT_FIVE = 12,
  PAT_OVERLINE = 13,
};

// Score scale, from the point of view of the side to move. A win is
// WIN_SCORE plus a distance term that is larger the sooner the win comes.
constexpr int32_t WIN_SCORE = 10000000;
constexpr int32_t WIN_RANGE = 9998848;  // WIN_SCORE - 2 * MAX_CELLS
constexpr int32_t FOUR_THREE_SCORE = 9999994;
constexpr int32_t NO_VALUE = 20000000;  // a probe that found nothing; never a score
constexpr int32_t SKIP_KEY = 1000000000;  // a move-list entry that is never searched
constexpr int32_t NO_BEST = -1000000000;

constexpr bool is_win(int32_t v) { return v >= WIN_RANGE; }
constexpr bool is_loss(int32_t v) { return v <= -WIN_RANGE; }

// One entry of every move list: lists sort ascending by key.
struct MoveEntry {
  int32_t key;
  int16_t x;
  int16_t y;
};
static_assert(sizeof(MoveEntry) == 8, "MoveEntry is packed into 8 bytes");

// Hash-table bound flags.
enum : uint8_t { BOUND_NONE = 0, BOUND_UPPER = 1, BOUND_LOWER = 2, BOUND_EXACT = 3 };

}  // namespace orvel
