// The node search below the root: negamax principal-variation search with a
// fail-soft window. Around the plain scheme it puts the engine's knowledge:
// fives and open fours recognised from the cell sets, a threat search at
// every node, moves in stages, value margins instead of depth reductions,
// extension by threats, and late-move pruning at shallow null-window nodes.
#include <algorithm>

#include "renju/forbidden.h"
#include "search/search.h"

namespace orvel {

void extend_line(MoveEntry* line, const MoveEntry* child, int x, int y) {
  int n = child[0].key;
  if (n < 0) n = 0;
  if (n > LINE_LENGTH - 2) n = LINE_LENGTH - 2;
  line[1].x = static_cast<int16_t>(x);
  line[1].y = static_cast<int16_t>(y);
  for (int i = 1; i <= n; ++i) line[i + 1] = child[i];
  line[0].key = n + 1;
}

void copy_line(PvLine& to, const PvLine& from) {
  const int length = std::clamp<int>(from[0].key, 0, LINE_LENGTH - 1);
  std::copy(from, from + length + 1, to);
  to[0].key = length;
}

bool Search::enter_node(int slot) {
  MoveEntry* line = pv_lines[slot];
  line[0].key = 0;
  line[1].x = line[1].y = -1;
  ++node_count;
  if ((node_count & 1023) == 0 && limits_reached()) {
    search_aborted = true;
    return false;
  }
  return true;
}

bool Search::immediate_win_or_block(NodeState& node) {
  const int side = node.side, opp = opponent(side);
  if (!pos.five_cells[side - 1].empty()) return true;
  if (!pos.five_cells[opp - 1].empty()) {
    pos.five_cells[opp - 1].first(node.forced_x, node.forced_y);
    node.stage = STAGE_FORCED;
    return false;
  }
  if (pos.open_four_cells[side - 1].empty()) return false;
  if (pos.rule != RENJU || side == WHITE) return true;
  int fx, fy;
  pos.open_four_cells[side - 1].first(fx, fy);
  return !is_forbidden(pos, fx, fy);
}

Search::MoveOutcome Search::take_result(NodeState& node, TopMoves& top, int& bound, int x, int y, int32_t v, int m,
                                        int level, LateMoveRule stop_rule) {
  node.best = std::max(node.best, v);
  const int32_t sort_value = (is_win(v) || is_loss(v)) ? v : std::max(v, node.alpha);
  top.insert(sort_value, x, y);
  if (v >= node.beta) {
    hash.tt_store(pos.zobrist_key, node.hash_depth, v, BOUND_LOWER, node.side, top.x[0], top.y[0], top.x[1],
                  top.y[1], top.x[2], top.y[2]);
    branch_total += m + 1;
    return MoveOutcome::CUT;
  }
  if (v > node.alpha) {
    node.alpha = v;
    bound = BOUND_EXACT;
    extend_line(pv_lines[node.slot], pv_lines[node.slot + 1], x, y);
  } else if (caution_factor() < 2 && node.slot > 2 && node.best > -WIN_RANGE && node.null_window && level <= 1) {
    const int s = node.stage > STAGE_QUIET ? STAGE_QUIET + 1 : node.stage;
    if (stop_rule(node.hash_depth, s, m)) return MoveOutcome::STOP;
  }
  return MoveOutcome::NEXT;
}

bool Search::settled_before_moves(NodeState& node, TopMoves& top, int32_t* value, bool skip_fourless) {
  const int side = node.side, depth = node.depth;
  // Hash probe at null-window nodes.
  if (node.null_window) {
    int32_t xs[3] = {-1, -1, -1}, ys[3] = {-1, -1, -1};
    const int32_t v = hash.tt_probe(node.hash_depth, node.alpha, node.beta, side, pos.zobrist_key, 1, xs, ys);
    if (v != NO_VALUE) {
      *value = v;
      return true;
    }
    if (xs[0] != -1) top.x[0] = xs[0], top.y[0] = ys[0];
  }
  // Threat search, then the leaf.
  const int32_t r = skip_fourless ? four_chain(depth, side) : threat_search(depth, side, 0, 0);
  if (search_aborted) {
    *value = 0;
    return true;
  }
  if (r > 0) {
    *value = depth + r - MAX_CELLS;
    hash.tt_store(pos.zobrist_key, node.hash_depth, *value, BOUND_EXACT, side, -1, -1, -1, -1, -1, -1);
    return true;
  }
  if (depth + ((node.extension >> 1) & ~1) <= 0) {
    *value = evaluate(depth, side);
    hash.tt_store(pos.zobrist_key, node.hash_depth, *value, BOUND_EXACT, side, -1, -1, -1, -1, -1, -1);
    return true;
  }
  return false;
}

int32_t Search::end_of_moves(NodeState& node, const TopMoves& top, int bound) {
  const int32_t value = node.best != NO_BEST ? node.best : node.alpha;
  hash.tt_store(pos.zobrist_key, node.hash_depth, value, bound, node.side, top.x[0], top.y[0], top.x[1], top.y[1],
                top.x[2], top.y[2]);
  branch_total += node.listed_total;
  if (node.listed_total > 0) return value;
  if (pos.full()) return 0;
  return std::max(node.alpha, -9999998 - node.depth);
}

int32_t Search::alpha_beta(int depth, int32_t alpha, int32_t beta, int side, int extension) {
  const int opp = opponent(side);
  const int slot = last_depth - depth;
  if (slot < 0 || slot >= PLY_SLOTS - 1) {  // out of storage: a leaf
    if (slot >= 0 && slot < PLY_SLOTS) pv_lines[slot][0].key = 0;
    return evaluate(depth, side);
  }

  // Steps 1 and 2. Entry, and the limits every 1,024 nodes.
  if (!enter_node(slot)) return 0;
  NodeState node(depth, alpha, beta, side, extension, slot, false);

  // Step 3. Immediate results.
  if (immediate_win_or_block(node)) return WIN_SCORE + depth;
  const bool forced = node.stage == STAGE_FORCED;

  TopMoves top;
  if (!forced) {
    // Steps 4 and 5. Hash probe, threat search, then the leaf.
    int32_t v = 0;
    if (settled_before_moves(node, top, &v)) return v;
  }

  // Step 6. Expansion.
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

      // Step 7a. Level and margin.
      int level;
      int32_t offset;
      move_level_and_offset(node, x, y, own, &level, &offset, &eval_factor);

      // Step 7b, c. Make the move; extend it at PV nodes when it starts a chain of fours.
      make_child_move(x, y, side);
      if (!node.null_window && depth >= (-3 * last_depth) / 2 && own >= 8 && own <= 157) {
        level = threat_extension(depth - 1, side, own, level);
        if (search_aborted) {
          pos.undo_move(x, y, side);
          return 0;
        }
      }

      // Step 7d. Child search, re-searched with the full window when a
      // null-window search lands inside the window.
      const int m = node.listed_total - node.batch_listed + i;
      const int32_t b = offset;
      int32_t v;
      if (m == 0 || node.null_window) {
        v = b - alpha_beta(depth - 1, b - node.beta, b - node.alpha, opp, extension + level);
      } else {
        v = b - alpha_beta(depth - 1, b - node.alpha - 1, b - node.alpha, opp, extension + level);
        if (!search_aborted && node.alpha < v && v < node.beta)
          v = b - alpha_beta(depth - 1, b - node.beta, b - node.alpha, opp, extension + level);
      }

      // Step 7e.
      pos.undo_move(x, y, side);
      if (search_aborted) return 0;

      // Steps 7f to 7i. Best and top moves, cut, new principal variation,
      // late-move pruning.
      const MoveOutcome outcome = take_result(node, top, bound, x, y, v, m, level);
      if (outcome == MoveOutcome::CUT) return v;
      if (outcome == MoveOutcome::STOP) {
        stop_node = true;
        break;
      }
    }
    if (stop_node) break;
    ++node.stage;
  }

  // Step 8. End of moves.
  return end_of_moves(node, top, bound);
}

}  // namespace orvel
