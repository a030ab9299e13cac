// Threat search: can the side to move win by an unbroken chain of fours?
// A method of Search, kept beside it.
//
// Attacker nodes play only stones that make a four; defender nodes play only
// on the cells where the attacker threatens five. The chain ends on its own
// because every four uses up cells, so there is no depth limit; `depth` only
// picks the move-list slot and feeds min_remaining_depth. A win seen p plies
// below the entry is worth WIN_SCORE + (576 - p), so shorter wins score
// higher, and every result goes through the threat cache with that distance
// so transpositions are solved once.
#include <algorithm>

#include "board/position.h"
#include "renju/forbidden.h"
#include "search/search.h"

namespace orvel {

namespace {

// Ascending by key; equal keys by cell so that runs are reproducible.
inline bool entry_before(const MoveEntry& a, const MoveEntry& b) {
  if (a.key != b.key) return a.key < b.key;
  if (a.x != b.x) return a.x < b.x;
  return a.y < b.y;
}

// Distance value of a node p plies below the entry: g = 576 - p. A child
// is probed with the g it stores under, so a cached win reads exactly as
// far away as a search of the child would find it.
constexpr int DISTANCE_BASE = MAX_CELLS;  // 576

// Attacker filters: a four is kept when it builds or destroys something.
constexpr int OWN_SCORE_KEEP = 262;
constexpr int OWN_SCORE_CROWDED = 279;
constexpr int THEIR_SCORE_KEEP = 46;
constexpr int THEIR_CODE_MIN = PAT_TWO_WIDE;  // pattern code 3
constexpr int NEIGHBOURHOOD_MIN = 2;
constexpr int NEIGHBOURHOOD_WEIGHT = 64;

}  // namespace

int32_t Search::immediate_win(int distance, int side) {
  const int s = side - 1;
  const int o = 2 - side;  // index of the opponent
  if (!pos.five_cells[s].empty()) return WIN_SCORE + distance;
  if (!pos.five_cells[o].empty()) return 0;  // the side to move must block first
  if (pos.open_four_cells[s].empty()) return 0;
  if (pos.rule != RENJU || side == WHITE) return WIN_SCORE + distance;
  // BLACK under Renju: only the first open-four cell is tried.
  int x, y;
  pos.open_four_cells[s].first(x, y);
  return is_forbidden(pos, x, y) ? 0 : WIN_SCORE + distance;
}

int32_t Search::threat_search(int depth, int side, int defender_node, int ply) {
  const int opp = opponent(side);
  const int g = DISTANCE_BASE - ply;

  // Step 1: counters.
  ++node_count;
  ++threat_node_count;
  if (depth < min_remaining_depth) min_remaining_depth = depth;

  // Step 2: the limit test, every 1,024 nodes.
  if ((node_count & 1023) == 0 && limits_reached()) {
    search_aborted = true;
    return 0;
  }

  // Step 3: a five (or a usable open four) on the board already.
  const int32_t immediate = immediate_win(g, side);
  if (immediate != 0) return immediate;

  // Step 4: this position solved before.
  const uint64_t key = pos.zobrist_key;
  const int32_t cached = hash.cache_probe(defender_node, side, g, key);
  if (cached != NO_VALUE) return cached;

  // The node's list lives in its per-ply slot. A chain long enough to run
  // out of slots is simply not proved.
  const int slot = list_slot(depth);
  if (slot < 0 || slot >= PLY_SLOTS) return 0;
  MoveEntry* list = move_lists[slot];
  const bool renju_black = pos.rule == RENJU && side == BLACK;
  const int child_g = DISTANCE_BASE - (ply + 1);

  if (defender_node) {
    // Step 5a-b: the blocks, minus those forbidden to a BLACK defender.
    int n = pos.list_five_cells(list, opp);
    if (renju_black) {
      for (int i = 0; i < n;) {
        if (forbidden_for(list[i].x, list[i].y, side))
          list[i] = list[--n];
        else
          ++i;
      }
    }

    // Step 5c: a block already known to hold ends the node; otherwise order
    // the blocks by what they are worth to both sides.
    for (int i = 0; i < n; ++i) {
      const int x = list[i].x, y = list[i].y;
      const int32_t a = hash.cache_probe(0, opp, child_g, key ^ pos.stone_key(x, y, side));
      if (a != NO_VALUE && a <= 0) {
        hash.cache_store(key, -a, g, 1, side);
        return -a;
      }
      const CellRecord& rec = pos.cell_records[x][y];
      const int hi = std::max(rec.contribution[0], rec.contribution[1]);
      const int lo = std::min(rec.contribution[0], rec.contribution[1]);
      list[i].key = -(hi + lo / 2);
    }

    // Step 5d-f: try every block; one that holds refutes the attack.
    std::sort(list, list + n, entry_before);
    int32_t v = 0;
    for (int i = 0; i < n; ++i) {
      const int x = list[i].x, y = list[i].y;
      pos.make_move_light(x, y, side);
      v = -threat_search(depth - 1, opp, 0, ply + 1);
      pos.undo_move_light(x, y, side);
      if (search_aborted) return 0;
      if (v >= 0) break;
    }
    hash.cache_store(key, v, g, 1, side);
    return v;
  }

  // Step 6a-b: the attacker's fours, filtered and keyed.
  const int n = pos.list_four_cells(list, side);
  for (int i = 0; i < n; ++i) {
    const int x = list[i].x, y = list[i].y;
    const int own = pos.score(x, y, side);
    const int theirs = pos.score(x, y, opp);

    int their_lines = 0;
    for (int d = 0; d < 4; ++d)
      if (pos.code(d, x, y, opp) >= THEIR_CODE_MIN) ++their_lines;
    if (own < OWN_SCORE_KEEP && their_lines < 2 && theirs < THEIR_SCORE_KEEP) {
      list[i].key = SKIP_KEY;  // a four that neither builds nor destroys anything
      continue;
    }
    if (renju_black && forbidden_for(x, y, side)) {
      list[i].key = SKIP_KEY;
      continue;
    }
    const int around = neighbourhood_threat_count(x, y, side);
    if (around <= NEIGHBOURHOOD_MIN && own < OWN_SCORE_CROWDED) {
      list[i].key = SKIP_KEY;
      continue;
    }
    const int32_t a = hash.cache_probe(1, opp, child_g, key ^ pos.stone_key(x, y, side));
    if (a != NO_VALUE && -a > 0) {
      hash.cache_store(key, -a, g, 0, side);
      return -a;
    }
    list[i].key = -(NEIGHBOURHOOD_WEIGHT * around + (theirs >> 1) + own);
  }

  // Step 6c-d: the most promising four first; the first win ends the node.
  std::sort(list, list + n, entry_before);
  for (int i = 0; i < n && list[i].key != SKIP_KEY; ++i) {
    const int x = list[i].x, y = list[i].y;
    pos.make_move_light(x, y, side);
    const int32_t v = -threat_search(depth - 1, opp, 1, ply + 1);
    pos.undo_move_light(x, y, side);
    if (search_aborted) return 0;
    if (v > 0) {
      hash.cache_store(key, v, g, 0, side);
      return v;
    }
  }

  // Step 6e: no four wins.
  hash.cache_store(key, 0, g, 0, side);
  return 0;
}

}  // namespace orvel
