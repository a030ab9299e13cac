// What the deep search (INFO search_mode 1) keeps beside the shared search
// state: the cache of its threat-space search with threes, and the root's
// move list carried from one iteration of a think to the next. One per
// Search, allocated with it and counted in its storage.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace orvel {

// One result of the threat-space search: a proved win (value > 0, stored
// relative to the node) or no win found with `moves` attacking moves left.
// key 0 marks an empty slot.
struct VctEntry {
  uint64_t key;
  int32_t value;
  int32_t moves;
};

constexpr int VCT_CACHE_BITS = 15;
constexpr int VCT_CACHE_SIZE = 1 << VCT_CACHE_BITS;

// The depth reduction of a late quiet move: grows with the log of the
// depth and of the move's ordinal.
int deep_reduction(int depth, int move);

struct RootMove {
  int16_t x, y;
  int32_t value;     // of the last iteration that searched it in full
  bool safe;         // checked this think: the opponent does not then win by threes
  bool refuted;      // checked this think: the opponent then wins by threes
};

struct DeepState {
  VctEntry vct_cache[VCT_CACHE_SIZE];

  // The running threat-space search: its node count and budget, whether
  // the budget ran out (then "no win" is not stored), and the first move
  // of the win it proved.
  uint64_t vct_nodes = 0;
  uint64_t vct_budget = 0;
  int64_t vct_deadline = -1;  // the clock (ms) it must stop at; -1: none
  bool vct_out = false;
  int vct_x = -1, vct_y = -1;
  // Defence cells already listed at a node: stamp per slot.
  uint32_t mark_stamp = 0;
  uint32_t marks[MAX_SIZE][MAX_SIZE];

  RootMove root_moves[MAX_CELLS];
  int root_count = 0;
  // The think the list belongs to: its position and its clock.
  uint64_t root_key = 0;
  int64_t root_clock = -1;
  // A win by threes found at the root for this think: its move and value.
  int root_win_x = -1, root_win_y = -1;
  int32_t root_win = 0;
  int32_t root_value = 0;  // the last completed iteration's value

  void clear();
};

}  // namespace orvel
