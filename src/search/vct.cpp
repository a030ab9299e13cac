// Threat-space search with threes: can the side to move win by an unbroken
// series of threats, each a four or a three?
//
// The attacker plays fours and threes (and, first of all, tries the chain
// of fours alone with threat_search), after its first threat only those in
// line with its last one; the defender answers a four at its
// five cell, and a three at the cells of the lines the three threatens or
// with a four of its own, which the attacker must block before the attack
// goes on. A defender that can win by fours itself refutes any three. The
// search is bounded by a node budget and by the number of attacking moves,
// so "no win" means "none found"; only a completed search stores it.
//
// Values are those of threat_search: a win p plies below the entry is
// WIN_SCORE + (576 - p); 0 is no win proved. Placements are light, as in
// threat_search: nothing here reads the strong sets.
#include <algorithm>
#include <cstdlib>

#include "renju/forbidden.h"
#include "search/deep_params.h"
#include "search/search.h"

namespace orvel {

namespace {

constexpr int DISTANCE_BASE = MAX_CELLS;
// Keys of the two node kinds and sides, so that one table holds them all.
constexpr uint64_t NODE_SALT[2][2] = {{0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full},
                                      {0x165667B19E3779F9ull, 0xD6E8FEB86659FD93ull}};
// A four is tried before any three.
constexpr int32_t FOUR_KEY = 1 << 16;
// The clock is read once per this many nodes when a deadline is set.
constexpr uint64_t VCT_CLOCK_INTERVAL = 256;
// Defence cells are looked for this far along a threatened line.
constexpr int DEFENCE_REACH = 4;

// Whether a cell (dx, dy) from the last threat is on a line through it,
// within VCT_THREAT_REACH.
inline bool in_line_near(int dx, int dy) {
  const int ax = std::abs(dx), ay = std::abs(dy);
  return (ax == 0 || ay == 0 || ax == ay) && std::max(ax, ay) <= deep::VCT_THREAT_REACH;
}

inline bool key_before(const MoveEntry& a, const MoveEntry& b) {
  if (a.key != b.key) return a.key > b.key;
  return a.x * MAX_SIZE + a.y < b.x * MAX_SIZE + b.y;
}

}  // namespace

bool Search::vct_usable_open_four(int side) {
  const CellSet& set = pos.open_four_cells[side - 1];
  if (set.empty()) return false;
  if (pos.rule != RENJU || side == WHITE) return true;
  MoveEntry cells[MAX_CELLS];
  const int n = set.list(cells);
  for (int i = 0; i < n; ++i)
    if (!is_forbidden(pos, cells[i].x, cells[i].y)) return true;
  return false;
}

VctEntry* Search::vct_slot(uint64_t key) { return &deep->vct_cache[key & (VCT_CACHE_SIZE - 1)]; }

bool Search::vct_count_node() {
  ++node_count;
  ++threat_node_count;
  if ((node_count & 1023) == 0 && limits_reached()) {
    search_aborted = true;
    return false;
  }
  if (++deep->vct_nodes > deep->vct_budget ||
      ((deep->vct_nodes & (VCT_CLOCK_INTERVAL - 1)) == 0 && deep->vct_deadline >= 0 && now_ms() >= deep->vct_deadline)) {
    deep->vct_out = true;
    return false;
  }
  return true;
}

int32_t Search::vct(int side, int slot, uint64_t budget, int moves, int64_t deadline) {
  deep->vct_nodes = 0;
  deep->vct_budget = budget;
  deep->vct_deadline = deadline;
  deep->vct_out = false;
  deep->vct_x = deep->vct_y = -1;
  if (!pos.five_cells[opponent(side) - 1].empty()) return 0;  // the block comes first
  return vct_attack(slot, side, 0, moves, -1, -1);
}

int32_t Search::vct_attack(int slot, int side, int ply, int moves, int last_x, int last_y) {
  const int opp = opponent(side);
  const int g = DISTANCE_BASE - ply;
  if (!vct_count_node()) return 0;
  if (!pos.five_cells[side - 1].empty()) return WIN_SCORE + g;
  if (slot >= PLY_SLOTS - 2) return 0;
  MoveEntry* list = move_lists[slot];

  // The defender's counter-four: the block is forced; the attack goes on if
  // one of its threats still stands after it.
  if (!pos.five_cells[opp - 1].empty()) {
    if (pos.list_five_cells(list, opp) >= 2) return 0;
    const int x = list[0].x, y = list[0].y;
    if (forbidden_for(x, y, side)) return 0;
    pos.make_move_light(x, y, side);
    const int32_t v = vct_defend(slot + 1, opp, ply + 1, moves, last_x, last_y);
    pos.undo_move_light(x, y, side);
    if (v > 0 && ply == 0) deep->vct_x = x, deep->vct_y = y;
    return v;
  }
  if (vct_usable_open_four(side)) {
    if (ply == 0) {
      int x, y;
      pos.open_four_cells[side - 1].first(x, y);
      if (forbidden_for(x, y, side)) return 0;  // the caller's own search finds the usable one
      deep->vct_x = x, deep->vct_y = y;
    }
    return WIN_SCORE + g;
  }

  const uint64_t key = pos.zobrist_key ^ NODE_SALT[0][side - 1];
  VctEntry* e = vct_slot(key);
  if (ply > 0 && e->key == key) {
    if (e->value > 0) return e->value - ply;
    if (e->moves >= moves) return 0;
  }

  // The chain of fours alone.
  const int32_t fours = four_chain(last_depth - slot, side);
  if (search_aborted) return 0;
  // At the entry the caller has run it already; a chain found there is
  // the caller's to play, since threat_search names no move.
  if (fours > 0) return ply > 0 ? fours - ply : 0;
  if (moves <= 0) return 0;

  // Fours, then threes, by what they build and destroy; after the first
  // threat only those in line with the last one.
  const int four_count = pos.list_four_cells(list, side);
  const int listed = four_count + pos.list_three_cells(list + four_count, side);
  int n = 0;
  for (int i = 0; i < listed; ++i) {
    if (last_x >= 0 && !in_line_near(list[i].x - last_x, list[i].y - last_y)) continue;
    list[n] = list[i];
    list[n++].key = i < four_count ? FOUR_KEY : 0;
  }
  for (int i = 0; i < n; ++i) {
    const int x = list[i].x, y = list[i].y;
    list[i].key += pos.score(x, y, side) + pos.score(x, y, opp) / 2;
  }
  std::sort(list, list + n, key_before);

  const bool renju_black = pos.rule == RENJU && side == BLACK;
  for (int i = 0; i < n; ++i) {
    const int x = list[i].x, y = list[i].y;
    if (i > 0 && list[i - 1].x == x && list[i - 1].y == y) continue;  // a four and a three cell
    if (renju_black && is_forbidden(pos, x, y)) continue;
    pos.make_move_light(x, y, side);
    const int32_t v = vct_defend(slot + 1, opp, ply + 1, moves - 1, x, y);
    pos.undo_move_light(x, y, side);
    if (search_aborted) return 0;
    if (v > 0) {
      if (ply == 0) deep->vct_x = x, deep->vct_y = y;
      *e = VctEntry{key, v + ply, moves};
      return v;
    }
    if (deep->vct_out) return 0;
  }
  *e = VctEntry{key, 0, moves};
  return 0;
}

int32_t Search::vct_defend(int slot, int side, int ply, int moves, int last_x, int last_y) {
  const int att = opponent(side);
  const int g = DISTANCE_BASE - ply;
  if (!vct_count_node()) return 0;
  if (!pos.five_cells[side - 1].empty()) return 0;  // the defender makes five
  if (slot >= PLY_SLOTS - 2) return 0;
  MoveEntry* list = move_lists[slot];

  // A four: one block, or none when there are two fives to stop.
  if (!pos.five_cells[att - 1].empty()) {
    if (pos.list_five_cells(list, att) >= 2) return WIN_SCORE + g;
    const int x = list[0].x, y = list[0].y;
    if (forbidden_for(x, y, side)) return WIN_SCORE + g;
    pos.make_move_light(x, y, side);
    const int32_t v = vct_attack(slot + 1, att, ply + 1, moves, last_x, last_y);
    pos.undo_move_light(x, y, side);
    return v;
  }
  // A three, or no threat left at all.
  if (!vct_usable_open_four(att)) return 0;

  const uint64_t key = pos.zobrist_key ^ NODE_SALT[1][side - 1];
  VctEntry* e = vct_slot(key);
  if (e->key == key) {
    if (e->value > 0) return e->value - ply;
    if (e->moves >= moves) return 0;  // refuted with at least as many attacking moves
  }

  // A defender that wins by fours ignores the three.
  const int32_t counter = four_chain(last_depth - slot, side);
  if (search_aborted || counter > 0) return 0;

  // The cells along every line that gives the attacker an open four, and
  // the defender's own fours.
  const uint32_t stamp = ++deep->mark_stamp;
  int n = 0;
  auto add = [&](int x, int y, int32_t key_bonus) {
    if (!pos.on_board(x, y) || pos.cells[x][y] != EMPTY || deep->marks[x][y] == stamp) return;
    deep->marks[x][y] = stamp;
    list[n].key = key_bonus + pos.score(x, y, att) + pos.score(x, y, side) / 2;
    list[n].x = static_cast<int16_t>(x);
    list[n].y = static_cast<int16_t>(y);
    ++n;
  };
  MoveEntry threats[MAX_CELLS];
  const CellSet& open_fours = pos.open_four_cells[att - 1];
  const int t = open_fours.list(threats);
  for (int i = 0; i < t; ++i) {
    const int x = threats[i].x, y = threats[i].y;
    add(x, y, FOUR_KEY);
    for (int d = 0; d < 4; ++d) {
      if (!((open_fours.dirs[x][y] >> d) & 1)) continue;
      for (int k = -DEFENCE_REACH; k <= DEFENCE_REACH; ++k) add(x + k * dir_dx[d], y + k * dir_dy[d], 0);
    }
  }
  MoveEntry fours[MAX_CELLS];
  const int f = pos.list_four_cells(fours, side);
  for (int i = 0; i < f; ++i) add(fours[i].x, fours[i].y, 0);
  std::sort(list, list + n, key_before);

  int32_t worst = WIN_SCORE + g;
  for (int i = 0; i < n; ++i) {
    const int x = list[i].x, y = list[i].y;
    if (forbidden_for(x, y, side)) continue;
    pos.make_move_light(x, y, side);
    // An answer that is no four and leaves the attacker an open four loses
    // at once, as the attacker's node would find; it costs no node.
    const int32_t v = pos.five_cells[side - 1].empty() && vct_usable_open_four(att)
                          ? WIN_SCORE + g - 1
                          : vct_attack(slot + 1, att, ply + 1, moves, last_x, last_y);
    pos.undo_move_light(x, y, side);
    if (search_aborted || deep->vct_out) return 0;
    if (v <= 0) {
      *e = VctEntry{key, 0, moves};
      return 0;
    }
    worst = std::min(worst, v);
  }
  *e = VctEntry{key, worst + ply, moves};
  return worst;
}

}  // namespace orvel
