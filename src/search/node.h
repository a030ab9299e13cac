// What one node of the search carries while its moves are generated and
// searched: its window and depth, the listing counters the stages read, and
// its current stage. Shared by alpha_beta, the root search and the stages.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace orvel {

// Stage numbers. BATCH_LAST_FORCED and BATCH_LAST_THREE mark a batch after
// which the node has no more moves.
enum Stage : int {
  STAGE_FORCED = -1,
  STAGE_HASH = 0,
  STAGE_OWN_STRONG = 1,
  STAGE_OPEN_FOUR_ANSWERS = 2,
  STAGE_OPP_STRONG = 3,
  STAGE_OWN_THREATS = 4,
  STAGE_OPP_THREATS = 5,
  STAGE_QUIET = 6,
  STAGE_END = 7,
  BATCH_LAST_FORCED = 12,
  BATCH_LAST_THREE = 13,
};

// The root's widest window: wider than any value, wins included.
constexpr int32_t ROOT_WINDOW = 100000000;

struct NodeState {
  NodeState(int depth_, int32_t alpha_, int32_t beta_, int side_, int extension_, int slot_, bool root_)
      : depth(depth_),
        alpha(alpha_),
        beta(beta_),
        side(side_),
        extension(extension_),
        hash_depth(depth_ + (extension_ >> 1)),
        slot(slot_),
        null_window(beta_ == alpha_ + 1),
        root(root_) {}

  int depth;
  int32_t alpha;
  int32_t beta;
  int side;
  int extension;
  int hash_depth;
  int slot;
  bool null_window;
  bool root;

  int stage = STAGE_HASH;   // stage of the current batch
  int32_t best = NO_BEST;   // best value so far
  int listed_total = 0;     // moves of this node that passed the filter
  int batch_listed = 0;     // of those, the ones in the current batch
  int batch_size = 0;       // entries of the current batch (skipped included)
  int forced_x = -1, forced_y = -1;
  int32_t static_value = NO_VALUE;  // the side to move's evaluation, once computed
};

// What next_batch produced.
enum class BatchResult { MOVES, NO_MORE, NODE_VALUE };

// The three best moves of a node, for the hash table.
struct TopMoves {
  int32_t value[3] = {NO_BEST, NO_BEST, NO_BEST};
  int x[3] = {-1, -1, -1};
  int y[3] = {-1, -1, -1};

  // Insert when strictly better than an entry; lower entries move down.
  void insert(int32_t v, int mx, int my) {
    for (int i = 0; i < 3; ++i)
      if (v > value[i]) {
        for (int j = 2; j > i; --j) value[j] = value[j - 1], x[j] = x[j - 1], y[j] = y[j - 1];
        value[i] = v, x[i] = mx, y[i] = my;
        return;
      }
  }
};

// Late-move pruning: stop after move ordinal m in stage s at hash depth h.
// A search may bring its own rule of this form.
using LateMoveRule = bool (*)(int h, int s, int m);
inline bool late_move_stop(int h, int s, int m) {
  if (h <= 1) return (s >= 4 && m >= 10) || (s >= 5 && m >= 7) || (s >= 6 && m >= 6);
  if (h == 2) return (s >= 4 && m >= 11) || (s >= 6 && m >= 8);
  if (h == 3) return s >= 5 && m >= 11;
  if (h == 4) return s >= 6 && m >= 12;
  return false;
}

// Put (x, y) in front of a child's principal variation.
void extend_line(MoveEntry* line, const MoveEntry* child, int x, int y);
// A principal variation of the one move (x, y).
inline void single_move_line(MoveEntry* line, int x, int y) {
  line[0].key = 1;
  line[1] = MoveEntry{0, static_cast<int16_t>(x), static_cast<int16_t>(y)};
}

// Margin weight by distance to the nearest edges.
inline int edge_weight(int i, int j) {
  static constexpr int f[6] = {40, 40, 32, 26, 20, 15};
  const int m = i < j ? i : j;
  return f[m < 5 ? m : 5];
}

}  // namespace orvel
