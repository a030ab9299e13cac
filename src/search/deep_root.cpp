// One iteration of the deep search (INFO search_mode 1) at the root: the
// root's moves kept from one iteration to the next in the order the last
// one left them, a threat-space search with threes once per think, an
// aspiration window around the last iteration's value, principal-variation
// search with reduced late quiet moves, the opponent's threat-space search
// after each move that takes the lead, and the "MESSAGE REALTIME" lines.
// It leaves what the think reads exactly as the root search of
// search_mode 0 does: best_x/best_y, pv_lines[0], single_reply, the value.
#include <algorithm>

#include "search/deep_params.h"
#include "search/realtime.h"
#include "search/search.h"

namespace orvel {

using namespace deep;

namespace {

// A move that failed low sorts below every searched value.
constexpr int32_t UNSEARCHED = -ROOT_WINDOW;
// A move after which the opponent wins by threes sorts below them all.
constexpr int32_t REFUTED = -ROOT_WINDOW - 1;
// Root moves from this ordinal on may be reduced.
constexpr int ROOT_LMR_FIRST_MOVE = 4;
// Chosen moves checked against the opponent's threats in one iteration.
constexpr int ROOT_CHECKS = 6;
// From this depth on, a move that takes the lead within an iteration is
// checked at once.
constexpr int NEW_BEST_CHECK_MIN_DEPTH = 4;

}  // namespace

int32_t Search::deep_root(int side) {
  const int opp = opponent(side);
  if (!enter_node(0)) return 0;
  MoveEntry* line = pv_lines[0];
  NodeState node(last_depth, -ROOT_WINDOW, ROOT_WINDOW, side, 0, 0, true);
  if (immediate_win_or_block(node)) return WIN_SCORE + last_depth;
  ++expanded_count;
  const bool forced = node.stage == STAGE_FORCED;
  const bool threatened = !forced && !pos.open_four_cells[opp - 1].empty() &&
                          (!(pos.rule == RENJU && opp == BLACK) || vct_usable_open_four(opp));
  DeepState& d = *deep;

  // Step 1. The think's first iteration: the root's moves and a win by
  // threes looked for.
  if (last_depth == 1 || d.root_key != pos.zobrist_key || d.root_clock != think_clock) {
    d.root_key = pos.zobrist_key;
    d.root_clock = think_clock;
    // The moves are those the root's move stages give, in their order.
    d.root_count = 0;
    {
      NodeState stages(1, -ROOT_WINDOW, ROOT_WINDOW, side, 0, 0, true);
      stages.stage = node.stage;  // a forced block starts, and ends, with its cell
      stages.forced_x = node.forced_x;
      stages.forced_y = node.forced_y;
      ++node_stamps[0];
      MoveEntry* list = move_lists[0];
      for (;;) {
        int32_t ignored = 0;
        const BatchResult got = next_batch(stages, &ignored);
        if (got != BatchResult::MOVES) break;
        for (int i = 0; i < stages.batch_size && list[i].key != SKIP_KEY; ++i)
          d.root_moves[d.root_count++] = RootMove{list[i].x, list[i].y, UNSEARCHED, false, false};
        ++stages.stage;
      }
    }
    d.root_win = 0;
    d.root_win_x = d.root_win_y = -1;
    if (!forced && !threatened) {
      // Nodes by the move's time, and at most a share of the time and of a
      // node limit: the iterations need the rest.
      uint64_t budget = std::clamp<uint64_t>(static_cast<uint64_t>(std::max(move_budget, 0)) * VCT_ROOT_NODES_PER_MS,
                                             VCT_ROOT_MIN_BUDGET, VCT_ROOT_MAX_BUDGET);
      const int64_t max_node = SearchContext::get(context.max_node);
      if (max_node >= 0)
        budget = std::min<uint64_t>(budget, static_cast<uint64_t>(max_node) * 1024 * VCT_ROOT_SHARE_EIGHTHS / 8);
      const int64_t deadline = think_clock + move_budget * VCT_ROOT_SHARE_EIGHTHS / 8;
      const int32_t r = vct(side, 0, budget, VCT_ROOT_MOVES, deadline);
      if (search_aborted) return 0;
      if (r > 0 && d.vct_x >= 0 && !blocked(d.vct_x, d.vct_y) && !forbidden_for(d.vct_x, d.vct_y, side)) {
        d.root_win = r - MAX_CELLS - VCT_DISTANCE_PENALTY;  // plus last_depth when used
        d.root_win_x = d.vct_x;
        d.root_win_y = d.vct_y;
      }
    }
  }
  if (d.root_count == 0) {
    best_x = best_y = -1;
    return pos.full() ? 0 : -9999998 - last_depth;
  }

  // Step 2. A win by threes: play it.
  if (d.root_win > 0) {
    best_x = d.root_win_x;
    best_y = d.root_win_y;
    single_move_line(line, best_x, best_y);
    single_reply = false;
    return std::min(d.root_win + last_depth, 9999999 + last_depth);
  }

  // Step 3. The aspiration window, widened until the value falls inside.
  Realtime rt(context.reporter, SearchContext::get(context.show_detail) != 0 && last_depth >= 8);
  int32_t delta = ASPIRATION_WINDOW;
  int32_t alpha = -ROOT_WINDOW, beta = ROOT_WINDOW;
  if (last_depth >= ASPIRATION_MIN_DEPTH && !is_win(d.root_value) && !is_loss(d.root_value)) {
    alpha = d.root_value - delta;
    beta = d.root_value + delta;
  }
  auto clamp_result = [&](int32_t v) { return std::clamp(v, -(9999999 + last_depth), 9999999 + last_depth); };

  for (;;) {
    const int32_t window_alpha = alpha;
    int32_t best = NO_BEST;
    int found = -1;  // the move that raised alpha, if any
    int searched = 0;
    double eval_factor = -1;
    // On a stop: the move that raised alpha in this pass was searched in
    // full; without one the last iteration's choice stands.
    auto aborted_result = [&]() -> int32_t {
      if (found < 0) return 0;
      best_x = d.root_moves[found].x;
      best_y = d.root_moves[found].y;
      const int32_t r = clamp_result(best);
      return r == 0 ? 1 : r;
    };
    // A move another thread of the think is searching at this depth waits
    // to the end of the pass, when the tables most likely hold its result.
    int waiting[MAX_CELLS];
    int waiting_count = 0;
    for (int k = 0; k < d.root_count + waiting_count; ++k) {
      const int i = k < d.root_count ? k : waiting[k - d.root_count];
      if (k < d.root_count && i > 0 && root_move_taken(d.root_moves[i].x, d.root_moves[i].y)) {
        waiting[waiting_count++] = i;
        continue;
      }
      RootMove& m = d.root_moves[i];
      if (i > 0 && m.refuted) continue;
      const int x = m.x, y = m.y;
      rt.line(format("MESSAGE REALTIME POS %d,%d", x, y));
      // The move's level and margin, and its extension when it starts a
      // chain of fours, as the node search gives them.
      const int own = pos.score(x, y, side), theirs = pos.score(x, y, opp);
      int level;
      int32_t offset;
      move_level_and_offset(node, x, y, own, &level, &offset, &eval_factor);
      pos.make_move(x, y, side);
      if (own >= 8 && own <= 157) {
        level = threat_extension(last_depth - 1, side, own, level);
        if (search_aborted) {
          pos.undo_move(x, y, side);
          rt.line(format("MESSAGE REALTIME DONE %d,%d", x, y));
          return aborted_result();
        }
      }
      const bool quiet = !forced && !threatened && level == 0 && own < THREAT_SCORE && theirs < THREAT_SCORE;
      const int32_t b = offset;
      int32_t v;
      if (i == 0) {
        v = b - deep_node(last_depth - 1, b - beta, b - alpha, opp, level);
      } else {
        int r = 0;
        if (quiet && last_depth >= LMR_MIN_DEPTH && i >= ROOT_LMR_FIRST_MOVE)
          r = std::clamp(deep_reduction(last_depth, i) - 1, 0, last_depth - 2);
        v = b - deep_node(last_depth - 1 - r, b - alpha - 1, b - alpha, opp, level);
        if (!search_aborted && r > 0 && v > alpha) v = b - deep_node(last_depth - 1, b - alpha - 1, b - alpha, opp, level);
        if (!search_aborted && v > alpha && v < beta) v = b - deep_node(last_depth - 1, b - beta, b - alpha, opp, level);
      }
      pos.undo_move(x, y, side);
      rt.line(format("MESSAGE REALTIME DONE %d,%d", x, y));
      if (search_aborted) return aborted_result();
      ++searched;
      // A move about to take the lead is checked against the opponent's
      // threats at once, since a stopped iteration plays the lead it has.
      if (v > alpha && i > 0 && !m.safe && !is_win(v) && last_depth >= NEW_BEST_CHECK_MIN_DEPTH) {
        const bool refuted = opponent_wins_by_threes(x, y, side);
        if (search_aborted) return aborted_result();
        m.refuted = refuted;
        m.safe = !refuted;
        if (refuted) v = REFUTED;
      }
      // A move that failed low keeps its bound: it sorts below the best.
      m.value = v;
      if (v <= -WIN_RANGE) rt.line(format("MESSAGE REALTIME LOSE %d,%d", x, y));
      if (v > best) {
        best = v;
        if (v > alpha) {
          found = i;
          rt.line(format("MESSAGE REALTIME BEST %d,%d", x, y), false);
          rt.line(format("MESSAGE REALTIME VAL %d", std::clamp(v, -10000, 10000)));
          extend_line(line, pv_lines[1], x, y);
          rt.pv(line, last_depth, pos.board_height);
          if (v >= beta) break;
          alpha = v;
        }
      }
    }
    // Best first for the next pass and the next iteration; the rest keep
    // their order among equals, except that the move the best line starts
    // with leads its equals (a move searched late, after waiting for
    // another thread, can fail low to the very value of the best).
    const bool has_line = line[0].key > 0;
    auto heads_line = [&](const RootMove& m) { return has_line && m.x == line[1].x && m.y == line[1].y; };
    std::stable_sort(d.root_moves, d.root_moves + d.root_count, [&](const RootMove& a, const RootMove& b) {
      return a.value != b.value ? a.value > b.value : heads_line(a) && !heads_line(b);
    });

    // Step 4. Outside the window: widen it and search again.
    if (best <= window_alpha && window_alpha > -ROOT_WINDOW) {
      alpha = std::max<int32_t>(window_alpha - delta * ASPIRATION_GROWTH, -ROOT_WINDOW);
      beta = std::min<int32_t>(beta, best + 1);
      beta = std::max(beta, alpha + 1);
      delta *= ASPIRATION_GROWTH;
      if (delta > ASPIRATION_LIMIT) alpha = -ROOT_WINDOW;
      continue;
    }
    if (best >= beta && beta < ROOT_WINDOW) {
      beta = std::min<int32_t>(beta + delta * ASPIRATION_GROWTH, ROOT_WINDOW);
      alpha = window_alpha;
      delta *= ASPIRATION_GROWTH;
      if (delta > ASPIRATION_LIMIT) beta = ROOT_WINDOW;
      continue;
    }

    // Step 5. The move chosen must not let the opponent win by threes: one
    // that does leaves the list for the rest of the think, and the next in
    // line takes its place.
    if (!is_win(best)) {
      int checked = 0;
      while (d.root_count > 1 && checked < ROOT_CHECKS && !d.root_moves[0].safe) {
        const RootMove m = d.root_moves[0];
        const bool refuted = opponent_wins_by_threes(m.x, m.y, side);
        if (search_aborted) {
          best_x = m.x;
          best_y = m.y;
          const int32_t v = clamp_result(best);
          return v == 0 ? 1 : v;
        }
        if (!refuted) {
          d.root_moves[0].safe = true;
          break;
        }
        std::copy(d.root_moves + 1, d.root_moves + d.root_count, d.root_moves);
        --d.root_count;
        ++checked;
        best = d.root_moves[0].value;
        // The best line was the refuted move's: the new choice's is its move.
        single_move_line(line, d.root_moves[0].x, d.root_moves[0].y);
      }
    }

    // Step 6. The iteration's result.
    int not_losing = 0;
    for (int i = 0; i < d.root_count; ++i) not_losing += d.root_moves[i].value > -WIN_RANGE;
    single_reply = not_losing == 1;
    best_x = d.root_moves[0].x;
    best_y = d.root_moves[0].y;
    d.root_value = best;
    branch_total += searched;
    hash.tt_store(pos.zobrist_key, last_depth, best, BOUND_EXACT, side, best_x, best_y, -1, -1, -1, -1);
    return clamp_result(best);
  }
}

bool Search::opponent_wins_by_threes(int x, int y, int side) {
  pos.make_move(x, y, side);
  const int32_t r = vct(opponent(side), 1, VCT_DEFENCE_BUDGET, VCT_ROOT_MOVES);
  pos.undo_move(x, y, side);
  return !search_aborted && r > 0;
}

void Search::adopt_iteration(int x, int y, int32_t value) {
  best_x = x;
  best_y = y;
  DeepState& d = *deep;
  if (search_mode != 1 || d.root_key != pos.zobrist_key || d.root_clock != think_clock) return;
  for (int i = 0; i < d.root_count; ++i) {
    if (d.root_moves[i].x != x || d.root_moves[i].y != y) continue;
    const RootMove m{d.root_moves[i].x, d.root_moves[i].y, value, d.root_moves[i].safe, d.root_moves[i].refuted};
    std::copy_backward(d.root_moves, d.root_moves + i, d.root_moves + i + 1);
    d.root_moves[0] = m;
    d.root_value = value;
    return;
  }
}

}  // namespace orvel
