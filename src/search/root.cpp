// One iteration of the deepening at the root: the node search specialised
// for the first ply (wide fixed window, always a PV node, no threat search
// or leaf test of its own, never a blocked cell, its own quiet stage), the
// choice of the move, and the "MESSAGE REALTIME" lines a board shows while
// the engine thinks.
#include <algorithm>
#include <string>

#include "renju/forbidden.h"
#include "search/realtime.h"
#include "search/search.h"

namespace orvel {

int32_t Search::root_search(int side) {
  const int opp = opponent(side);
  if (!enter_node(0)) return 0;
  MoveEntry* line = pv_lines[0];
  NodeState node(last_depth, -ROOT_WINDOW, ROOT_WINDOW, side, 0, 0, true);
  if (immediate_win_or_block(node)) return WIN_SCORE + last_depth;
  ++expanded_count;
  ++node_stamps[0];

  Realtime rt(context.reporter, SearchContext::get(context.show_detail) != 0 && last_depth >= 8);
  TopMoves top;
  int bound = BOUND_UPPER;
  int not_losing = 0;
  double eval_factor = -1;
  int done = 0;  // moves searched completely
  MoveEntry* list = move_lists[0];
  auto clamp_result = [&](int32_t v) {
    return std::clamp(v, -(9999999 + last_depth), 9999999 + last_depth);
  };

  for (;;) {
    int32_t node_value = 0;
    const BatchResult got = next_batch(node, &node_value);
    if (got == BatchResult::NODE_VALUE) return 0;  // aborted inside the internal deepening
    if (got == BatchResult::NO_MORE) break;

    // A move another thread of the think is searching at this depth waits
    // to the end of the batch, when the tables most likely hold its result.
    int waiting[MAX_CELLS];
    int waiting_count = 0, batch_end = 0;
    while (batch_end < node.batch_size && list[batch_end].key != SKIP_KEY) ++batch_end;
    for (int k = 0; k < batch_end + waiting_count; ++k) {
      const int i = k < batch_end ? k : waiting[k - batch_end];
      if (k < batch_end && done > 0 && root_move_taken(list[i].x, list[i].y)) {
        waiting[waiting_count++] = i;
        continue;
      }
      const int x = list[i].x, y = list[i].y;
      const int own = pos.score(x, y, side);
      int level;
      int32_t offset;
      move_level_and_offset(node, x, y, own, &level, &offset, &eval_factor);

      if (rt.on()) {
        if (top.x[0] == -1) {
          rt.line(format("MESSAGE REALTIME BEST %d,%d", x, y));
          rt.line("MESSAGE REALTIME REFRESH", false);
        }
        auto skip_at = [&](int j) { return j < node.batch_size && list[j].key == SKIP_KEY; };
        const bool last = i == node.batch_size - 1 || skip_at(i + 1);
        const bool near_last = last || i == node.batch_size - 2 || skip_at(i + 2);
        if (node.stage == STAGE_QUIET && near_last) {
          // The sweep: show the unsearched cells near stones as visited.
          const int r = caution_factor() >= 2 ? 3 : 2;
          for (int cx = 0; cx < pos.board_height; ++cx)
            for (int cy = 0; cy < pos.board_width; ++cy) {
              if (pos.cells[cx][cy] != EMPTY || is_listed(0, cx, cy) || blocked(cx, cy)) continue;
              bool near = false;
              for (int dx = -r; dx <= r && !near; ++dx)
                for (int dy = -r; dy <= r && !near; ++dy) {
                  const int dist = std::abs(dx) + std::abs(dy);
                  if (i >= 1 && (last ? dist <= 3 : dist > 3)) continue;
                  const int nx = cx + dx, ny = cy + dy;
                  near = pos.on_board(nx, ny) && (pos.cells[nx][ny] == BLACK || pos.cells[nx][ny] == WHITE);
                }
              if (near) {
                rt.line(format("MESSAGE REALTIME POS %d,%d", cx, cy));
                rt.line(format("MESSAGE REALTIME DONE %d,%d", cx, cy), false);
              }
            }
        }
        rt.line(format("MESSAGE REALTIME POS %d,%d", x, y));
      }

      const int m = done;
      // On a stop, m moves were searched completely before this one.
      auto aborted_result = [&]() -> int32_t {
        if (m <= 1) return 0;
        best_x = top.x[0];
        best_y = top.y[0];
        const int32_t r = clamp_result(node.best);
        return r == 0 ? 1 : r;
      };
      pos.make_move(x, y, side);
      if (own >= 8 && own <= 157) {
        level = threat_extension(last_depth - 1, side, own, level);
        if (search_aborted) {
          pos.undo_move(x, y, side);
          rt.line(format("MESSAGE REALTIME DONE %d,%d", x, y));
          return aborted_result();
        }
      }
      const int32_t b = offset;
      int32_t v;
      if (m == 0) {
        v = b - alpha_beta(last_depth - 1, b - ROOT_WINDOW, b - node.alpha, opp, level);
      } else {
        v = b - alpha_beta(last_depth - 1, b - node.alpha - 1, b - node.alpha, opp, level);
        if (!search_aborted && node.alpha < v && v < ROOT_WINDOW)
          v = b - alpha_beta(last_depth - 1, b - ROOT_WINDOW, b - node.alpha, opp, level);
      }
      pos.undo_move(x, y, side);
      rt.line(format("MESSAGE REALTIME DONE %d,%d", x, y));

      if (search_aborted) return aborted_result();
      ++done;
      if (v > node.best) {
        rt.line(format("MESSAGE REALTIME BEST %d,%d", x, y), false);
        rt.line(format("MESSAGE REALTIME VAL %d", std::clamp(v, -10000, 10000)));
      }
      if (v < -WIN_RANGE) rt.line(format("MESSAGE REALTIME LOSE %d,%d", x, y));
      if (v > -WIN_RANGE) ++not_losing;
      node.best = std::max(node.best, v);
      const int32_t sort_value = (is_win(v) || is_loss(v)) ? v : std::max(v, node.alpha);
      top.insert(sort_value, x, y);
      if (v > node.alpha) {
        node.alpha = v;
        bound = BOUND_EXACT;
        extend_line(line, pv_lines[1], x, y);
        rt.pv(line, last_depth, pos.board_height);
      }
    }
    ++node.stage;
  }

  best_x = top.x[0];
  best_y = top.y[0];
  single_reply = not_losing == 1;
  if (rt.on() && node.listed_total > 0 && node.best < -WIN_RANGE) {
    for (int cx = 0; cx < pos.board_height; ++cx)
      for (int cy = 0; cy < pos.board_width; ++cy) {
        if (pos.cells[cx][cy] != EMPTY || is_listed(0, cx, cy) || blocked(cx, cy)) continue;
        bool near = false;
        for (int dx = -3; dx <= 3 && !near; ++dx)
          for (int dy = -3; dy <= 3 && !near; ++dy) {
            const int nx = cx + dx, ny = cy + dy;
            near = pos.on_board(nx, ny) && (pos.cells[nx][ny] == BLACK || pos.cells[nx][ny] == WHITE);
          }
        if (near) rt.line(format("MESSAGE REALTIME LOSE %d,%d", cx, cy));
      }
  }
  const int32_t stored = node.best != NO_BEST ? node.best : node.alpha;
  hash.tt_store(pos.zobrist_key, last_depth, stored, bound, side, top.x[0], top.y[0], top.x[1], top.y[1], top.x[2],
                top.y[2]);
  branch_total += node.listed_total;
  if (node.listed_total == 0)
    return pos.full() ? 0 : -9999998 - last_depth;
  return clamp_result(node.best);
}

}  // namespace orvel
