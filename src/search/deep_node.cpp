// The node search of the deep search (INFO search_mode 1). It keeps the node
// search's knowledge (the move stages, the levels and margins of the moves,
// the extension of threats, late-move pruning) and adds four things: a
// threat-space search with threes at PV nodes with depth to spare; cut-offs
// at null-window nodes by the static value, while the side it finds worse
// has no open four to make, by a null move, while the opponent has no four,
// and by a shallower search against a raised beta (ProbCut); reduced depth
// for late quiet moves, more for idle ones, searched again in full when
// they fail high; and late-move pruning sooner than the node search's one
// and two plies from the leaves. Values, windows and the hash table are the
// node search's.
#include <algorithm>
#include <cmath>

#include "renju/forbidden.h"
#include "search/deep_params.h"
#include "search/search.h"

namespace orvel {

using namespace deep;

namespace {

// Reductions by depth and move ordinal, computed once.
struct ReductionTable {
  static constexpr int DEPTHS = 64;
  static constexpr int MOVES = 64;
  int8_t r[DEPTHS][MOVES];
  ReductionTable() {
    for (int d = 0; d < DEPTHS; ++d)
      for (int m = 0; m < MOVES; ++m)
        r[d][m] = static_cast<int8_t>(d == 0 || m == 0 ? 0 : std::log(d) * std::log(m) / LMR_DIVISOR);
  }
  int at(int depth, int move) const { return r[std::min(depth, DEPTHS - 1)][std::min(move, MOVES - 1)]; }
};
const ReductionTable reductions;  // built once, read by every thread

// Late-move pruning: the node search's rule, sooner at the last two plies.
bool deep_late_move_stop(int h, int s, int m) {
  if (h <= 1)
    return (s >= STAGE_OWN_THREATS && m >= LMP_ONE_PLY_OWN_THREATS) ||
           (s >= STAGE_OPP_THREATS && m >= LMP_ONE_PLY_OPP_THREATS);
  if (h == 2) return s >= STAGE_OWN_THREATS && m >= LMP_TWO_PLIES;
  return late_move_stop(h, s, m);
}

}  // namespace

int deep_reduction(int depth, int move) { return reductions.at(depth, move); }


bool Search::deep_settled_by_value(NodeState& node, bool null_move, int32_t* value) {
  const int side = node.side, opp = opponent(side);
  const int d = node.hash_depth;
  // Neither side has a five to make here: the node is not a forced block,
  // and a five of the side to move won before. The cuts by the static value
  // only need the other side to have no open four to make: a lone four is
  // one threat, answered in time, and the side to move's win by fours was
  // looked for already. A pass needs the opponent to have no four at all;
  // ProbCut needs nothing, since its shallower search plays the fours out.
  const bool opp_quiet = !pos.can_make_four(opp);
  const bool static_cut = d >= 1 && d <= STATIC_CUT_MAX_DEPTH && pos.open_four_cells[opp - 1].empty();
  const bool fail_low = d >= 1 && d <= STATIC_FAIL_LOW_MAX_DEPTH && pos.open_four_cells[side - 1].empty();
  const bool try_null = null_move && d >= NULL_MOVE_MIN_DEPTH && opp_quiet;
  const bool try_probcut = d >= PROBCUT_MIN_DEPTH && !is_win(node.beta) && !is_loss(node.beta);
  if (!static_cut && !fail_low && !try_null && !try_probcut) return false;
  const int32_t e = node.static_value = evaluate(node.depth, side);
  if (static_cut && e - STATIC_CUT_MARGIN * d >= node.beta) {
    *value = e - STATIC_CUT_MARGIN * d;
    return true;
  }
  if (fail_low && e + STATIC_FAIL_LOW_MARGIN * d <= node.alpha) {
    *value = e + STATIC_FAIL_LOW_MARGIN * d;
    return true;
  }
  if (e < node.beta) return false;
  if (try_null) {
    const int32_t v =
        -deep_node(node.depth - 1 - NULL_MOVE_REDUCTION, -node.beta, -node.beta + 1, opp, node.extension, false);
    if (search_aborted) {
      *value = 0;
      return true;
    }
    if (v >= node.beta) {
      *value = is_win(v) ? node.beta : v;  // a pass proves no win
      return true;
    }
  }
  if (!try_probcut) return false;
  const int32_t raised = node.beta + PROBCUT_MARGIN;
  const int32_t v = deep_node(node.depth - PROBCUT_REDUCTION, raised - 1, raised, side, node.extension, false);
  if (search_aborted) {
    *value = 0;
    return true;
  }
  if (v < raised || is_win(v)) return false;
  *value = v;
  return true;
}

int32_t Search::deep_node(int depth, int32_t alpha, int32_t beta, int side, int extension, bool null_move) {
  const int opp = opponent(side);
  const int slot = last_depth - depth;
  if (slot < 0 || slot >= PLY_SLOTS - 1) {  // out of storage: a leaf
    if (slot >= 0 && slot < PLY_SLOTS) pv_lines[slot][0].key = 0;
    return evaluate(depth, side);
  }

  // Step 1. Entry, and the limits every 1,024 nodes.
  if (!enter_node(slot)) return 0;
  MoveEntry* line = pv_lines[slot];
  NodeState node(depth, alpha, beta, side, extension, slot, false);

  // Step 2. Immediate results.
  if (immediate_win_or_block(node)) return WIN_SCORE + depth;
  const bool forced = node.stage == STAGE_FORCED;

  TopMoves top;
  if (!forced) {
    // Steps 3 and 4. As in the node search: hash probe, a win by fours,
    // the leaf.
    int32_t value = 0;
    if (settled_before_moves(node, top, &value, true)) return value;
    // Step 5. A win by threes, at PV nodes with depth to spare, when the
    // opponent has no open three of its own to answer first.
    if (!node.null_window && node.hash_depth >= VCT_PV_MIN_DEPTH &&
        !vct_usable_open_four(opp)) {
      const int32_t w = vct(side, slot, VCT_PV_BUDGET, VCT_PV_MOVES);
      if (search_aborted) return 0;
      if (w > 0) {
        const int32_t v = depth + w - MAX_CELLS - VCT_DISTANCE_PENALTY;
        hash.tt_store(pos.zobrist_key, node.hash_depth, v, BOUND_EXACT, side, deep->vct_x, deep->vct_y, -1, -1, -1,
                      -1);
        single_move_line(line, deep->vct_x, deep->vct_y);
        return v;
      }
    }
    // Step 6. At null-window nodes, the static value and a pass.
    if (node.null_window && deep_settled_by_value(node, null_move, &value)) return value;
  }

  // Step 7. Expansion.
  ++expanded_count;
  ++node_stamps[slot];
  int bound = BOUND_UPPER;
  double eval_factor = -1;
  MoveEntry* list = move_lists[slot];
  for (;;) {
    int32_t node_value = 0;
    const BatchResult got = next_batch(node, &node_value);
    if (got == BatchResult::NODE_VALUE) return node_value;
    if (got == BatchResult::NO_MORE) break;

    bool stop_node = false;
    for (int i = 0; i < node.batch_size && list[i].key != SKIP_KEY; ++i) {
      const int x = list[i].x, y = list[i].y;
      const int own = pos.score(x, y, side);

      // Step 8a. Level and margin.
      int level;
      int32_t offset;
      move_level_and_offset(node, x, y, own, &level, &offset, &eval_factor);

      // Step 8b. Make the move; extend it at PV nodes when it starts a chain of fours.
      make_child_move(x, y, side);
      if (!node.null_window && depth >= (-3 * last_depth) / 2 && own >= 8 && own <= 157) {
        level = threat_extension(depth - 1, side, own, level);
        if (search_aborted) {
          pos.undo_move(x, y, side);
          return 0;
        }
      }

      // Step 8c. Child search. Late quiet moves are searched first with
      // less depth and a null window, again in full when they fail high;
      // the rest as principal-variation search.
      const int m = node.listed_total - node.batch_listed + i;
      const int32_t b = offset;
      const int child_extension = extension + level;
      int r = 0;
      if (node.stage == STAGE_QUIET && level == 0 && m >= LMR_FIRST_MOVE &&
          node.hash_depth >= LMR_MIN_DEPTH && depth >= 2 && pos.score(x, y, opp) < THREAT_SCORE) {
        r = deep_reduction(node.hash_depth, m) - (node.null_window ? 0 : 1);
        if (own + pos.score(x, y, opp) < IDLE_CELL_SCORE) ++r;
        r = std::clamp(r, 0, depth - 1);
      }
      int32_t v;
      if (m == 0) {
        v = b - deep_node(depth - 1, b - node.beta, b - node.alpha, opp, child_extension);
      } else if (node.null_window) {
        v = b - deep_node(depth - 1 - r, b - node.beta, b - node.alpha, opp, child_extension);
        if (!search_aborted && r > 0 && v >= node.beta)
          v = b - deep_node(depth - 1, b - node.beta, b - node.alpha, opp, child_extension);
      } else {
        v = b - deep_node(depth - 1 - r, b - node.alpha - 1, b - node.alpha, opp, child_extension);
        if (!search_aborted && r > 0 && v > node.alpha)
          v = b - deep_node(depth - 1, b - node.alpha - 1, b - node.alpha, opp, child_extension);
        if (!search_aborted && node.alpha < v && v < node.beta)
          v = b - deep_node(depth - 1, b - node.beta, b - node.alpha, opp, child_extension);
      }

      // Step 8d.
      pos.undo_move(x, y, side);
      if (search_aborted) return 0;

      // Step 8e. As in the node search: best and top moves, cut, new
      // principal variation, late-move pruning.
      const MoveOutcome outcome = take_result(node, top, bound, x, y, v, m, level, deep_late_move_stop);
      if (outcome == MoveOutcome::CUT) return v;
      if (outcome == MoveOutcome::STOP) {
        stop_node = true;
        break;
      }
    }
    if (stop_node) break;
    ++node.stage;
  }

  // Step 9. End of moves.
  return end_of_moves(node, top, bound);
}

}  // namespace orvel
