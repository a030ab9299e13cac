// The normal think: what the worker runs after TURN, BEGIN and BOARD, on
// the front end's Game.
//
// It turns the time settings into a budget for this move, takes a shortcut
// where the position allows one (the first move of a game, the follow-up of
// a win found by the previous think, the forced block of the opponent's
// five), and otherwise deepens the root search one ply at a time until the
// clock, the node limit, the depth limit, a proven result or a stop request
// ends it. Then it reports, plays the move on the board, records it and
// writes it as "x,y".
//
// Every cell this driver chooses on its own (shortcuts and the final switch
// to a five or open-four cell) passes the same test the root search applies
// to its moves: never a cell the front end blocked, never a point forbidden
// to BLACK under Renju. A think that ends without a playable move falls back
// on pre_select's move, and a think with no playable move at all answers an
// ERROR line and leaves the game record alone.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "game/game.h"
#include "renju/forbidden.h"
#include "search/deep_params.h"
#include "think/think.h"

namespace orvel {

namespace {

constexpr int32_t LOSS_SCORE = -WIN_SCORE;
constexpr int32_t PRE_SELECT_LOSS = -9999999;
constexpr int32_t NODE_LIMIT_CEILING = 1000000000;

int32_t clamp_report(int32_t v) { return std::clamp<int32_t>(v, -10000, 10000); }

char column_letter(int y) { return static_cast<char>('A' + y); }

// A cell the game may choose for side on the built position: empty, not
// excluded by the front end and, under Renju, not forbidden to BLACK.
bool playable(Game& game, int x, int y, int side) {
  if (!game.record.on_board(x, y)) return false;
  if (game.position->cells[x][y] != EMPTY) return false;
  if (game.record.blocked(x, y)) return false;
  return !game.search->forbidden_for(x, y, side);
}

// The first member of a cell set (lowest x, then lowest y) that side may
// play. False when there is none.
bool first_playable(Game& game, const CellSet& set, int side, int& x, int& y) {
  if (set.empty()) return false;
  MoveEntry cells[MAX_CELLS];
  const int n = set.list(cells);
  for (int i = 0; i < n; ++i) {
    if (playable(game, cells[i].x, cells[i].y, side)) {
      x = cells[i].x;
      y = cells[i].y;
      return true;
    }
  }
  return false;
}

// A won position: the first playable five cell of side, else its first
// playable open-four cell. False (best_move untouched) when neither exists.
bool choose_winning_cell(Game& game, int side) {
  Position& pos = *game.position;
  Search& s = *game.search;
  int x = -1, y = -1;
  if (first_playable(game, pos.five_cells[side - 1], side, x, y) ||
      first_playable(game, pos.open_four_cells[side - 1], side, x, y)) {
    s.best_x = x;
    s.best_y = y;
    return true;
  }
  return false;
}

// Is (x, y) free for the game's own stone? The first move may be played
// on a stale position (the record is then empty, so only the extents and the
// blocked cells matter); every other path runs on a built position.
bool legal_move(Game& game, int x, int y, int side) {
  if (!game.record.on_board(x, y) || game.record.move_count >= MAX_CELLS) return false;
  if (!game.position_current()) return !game.record.blocked(x, y);
  return playable(game, x, y, side);
}

}  // namespace

// The first-move rule: the centre, or the free cell nearest to it by
// Manhattan distance, the first in scan order on a tie. Cells holding a
// block stone of a built position are skipped like blocked ones.
void first_move(Game& game) {
  const GameRecord& record = game.record;
  Search& s = *game.search;
  const int x0 = record.board_height / 2;
  const int y0 = record.board_width / 2;
  auto free_cell = [&](int x, int y) {
    if (record.blocked(x, y)) return false;
    return !game.position_current() || game.position->cells[x][y] == EMPTY;
  };
  s.best_x = x0;
  s.best_y = y0;
  if (free_cell(x0, y0)) return;
  s.best_x = -1;
  s.best_y = -1;
  int best_distance = -1;
  for (int x = 0; x < record.board_height; ++x) {
    for (int y = 0; y < record.board_width; ++y) {
      if (!free_cell(x, y)) continue;
      const int distance = std::abs(x - x0) + std::abs(y - y0);
      if (best_distance < 0 || distance < best_distance) {
        best_distance = distance;
        s.best_x = x;
        s.best_y = y;
      }
    }
  }
}

namespace {

// The forced block. Returns true when the block was chosen (no search), false
// when the think must search: the side has a five of its own, the opponent
// has none, or none of the opponent's five cells may be played.
bool forced_block(Game& game, int side) {
  Position& pos = *game.position;
  Search& s = *game.search;
  const int opp = opponent(side);
  if (!pos.five_cells[side - 1].empty()) return false;
  MoveEntry cells[MAX_CELLS];
  const int n = pos.list_five_cells(cells, opp);
  for (int i = 0; i < n; ++i) {
    if (!playable(game, cells[i].x, cells[i].y, side)) continue;
    s.best_x = cells[i].x;
    s.best_y = cells[i].y;
    // Two fives to stop: the game is lost, the block is played all the same.
    if (n >= 2) s.last_value = LOSS_SCORE;
    return true;
  }
  return false;
}

void detail_line(Game& game, int depth, int32_t v, bool aborted) {
  Search& s = *game.search;
  const char* fmt = aborted ? "MESSAGE DETAIL DEPTH:%d-%d* VAL:%d TIME:%ldms NODE:%dm [%d,%c]"
                            : "MESSAGE DETAIL DEPTH:%d-%d VAL:%d TIME:%ldms NODE:%dm [%d,%c]";
  send_line(game.out, fmt, depth, depth - s.min_remaining_depth, clamp_report(v),
            static_cast<long>(Search::now_ms() - s.think_clock), static_cast<int>(game.threads.nodes(s) / 1000000),
            game.record.board_height - s.best_x, column_letter(s.best_y));
}

// The summary line(s), the best line and, in detail mode, the block line.
// nodes: those of every search thread; the rest is the think's own search's.
void report(Game& game, int32_t value, int64_t elapsed, uint64_t nodes) {
  Search& s = *game.search;
  const GameRecord& record = game.record;
  const bool detail = Settings::get(game.settings.show_detail) != 0;

  int32_t v = value;
  if (v >= WIN_RANGE) v -= s.last_depth;
  if (v <= -WIN_RANGE) v += s.last_depth;
  const char* word = v > 500 ? ":-)" : v < -500 ? ":-(" : "";
  v = clamp_report(v);

  const double complexity = 100.0 * static_cast<double>(s.expanded_count) / static_cast<double>(s.node_count + 1);
  const double branching = s.branch_total / static_cast<double>(s.expanded_count + 1);
  const int millions = static_cast<int>(nodes / 1000000);
  if (detail) {
    send_line(game.out, "MESSAGE Complexity: %.1f, %.1f | Depth: %d-%d | Time: %ldms | Node: %dm", complexity,
              branching, s.last_depth, s.last_depth - s.min_remaining_depth, static_cast<long>(elapsed), millions);
    send_line(game.out, "MESSAGE Speed: %ld | Evaluation: %d %s",
              static_cast<long>(nodes / static_cast<uint64_t>(std::max<int64_t>(s.think_clock + 1, 1))), v, word);
  } else {
    send_line(game.out, "MESSAGE %.1f | %d | %d | %ldms | %.1f | %ld | %d | %d %s", complexity, s.last_depth,
              s.last_depth - s.min_remaining_depth, static_cast<long>(elapsed), branching,
              static_cast<long>(nodes / static_cast<uint64_t>(std::max<int64_t>(elapsed + 1, 1))),
              game.position->update_radius, v, word);
  }

  std::string line = detail ? "MESSAGE Bestline: " : "MESSAGE ";
  const int length = std::min<int>(s.last_depth, std::clamp<int>(s.saved_line[0].key, 0, LINE_LENGTH - 1));
  for (int i = 1; i <= length; ++i) {
    const MoveEntry& m = s.saved_line[i];
    line += detail ? format("[%d%c] ", record.board_height - m.x, column_letter(m.y))
                   : format("[%d,%d] ", m.x + 1, m.y + 1);
  }
  send_line(game.out, "%s", line.c_str());

  if (!detail) return;
  std::string blocks = "MESSAGE Block";
  bool any = false;
  for (int x = 0; x < record.board_height; ++x) {
    for (int y = 0; y < record.board_width; ++y) {
      if (!record.blocked(x, y)) continue;
      any = true;
      blocks += format("[%d%c] ", record.board_height - x, column_letter(y));
    }
  }
  if (any) send_line(game.out, "%s", blocks.c_str());
}

// The searching path: rebuild, pre_select, iterative deepening, on
// thread_num threads. Returns the think's value; sets elapsed and
// helper_nodes (the nodes of the helper threads). fallback_* receive
// pre_select's move, or -1 when it found no playable cell.
int32_t search_path(Game& game, int side, bool ample_time, int64_t& elapsed, uint64_t& helper_nodes, int& fallback_x,
                    int& fallback_y) {
  GameRecord& record = game.record;
  Search& s = *game.search;
  const Settings& settings = game.settings;

  s.search_aborted = false;
  s.search_mode = Settings::get(settings.search_mode) == 1 ? 1 : 0;
  game.apply_rule();
  game.hash.move_count = record.move_count;

  int32_t value = pre_select(game, side);
  fallback_x = value == 0 ? s.best_x : -1;
  fallback_y = value == 0 ? s.best_y : -1;

  // The helpers deepen alongside from here to the end of the deepening;
  // the think takes over an iteration a helper completed first.
  SearchThreads& threads = game.threads;
  threads.set_count(game.search_thread_count(), s);
  threads.start(s, side, Settings::get(settings.max_depth));

  const int64_t cells = static_cast<int64_t>(record.board_width) * record.board_height;
  int completed = 0;  // the deepest iteration the think completed or took from a helper
  // The next iteration starts in the first quarter of the budget (of time
  // or of nodes); the deep search, which keeps a stopped iteration's best
  // move, later.
  auto projected = [&](int64_t used) {
    return s.search_mode == 1 ? used * 8 / deep::NEXT_ITERATION_EIGHTHS : used * 4;
  };
  for (int depth = 1;; ++depth) {
    s.last_depth = depth;
    const int32_t max_node = Settings::get(settings.max_node);
    bool node_test = true;
    if (depth >= 2) {
      const int64_t t = projected(Search::now_ms() - s.think_clock);
      const bool stopping = game.stop_requested.load() > 0;
      const bool may_start = (t < s.move_budget || ample_time) && record.move_count + depth <= cells && !stopping;
      if (!may_start) {
        if (max_node != -1 || stopping) break;
        node_test = false;  // unlimited mode: neither the clock nor a full board ends the think
      }
    }
    if (node_test && max_node != -1 && max_node < NODE_LIMIT_CEILING &&
        projected(static_cast<int64_t>(threads.nodes(s) / 1024)) >= static_cast<int64_t>(max_node))
      break;
    if (depth > Settings::get(settings.max_depth)) break;

    s.single_reply = false;
    int32_t v = s.root_iteration(side);
    // A helper completed this depth, or a deeper one, first: its iteration
    // becomes the think's, and the deepening goes on after it.
    if (s.search_aborted && threads.take_helper_iteration(s, depth, &v)) depth = s.last_depth;
    const bool detail = depth >= 5 && Settings::get(settings.show_detail) != 0;
    if (s.search_aborted) {
      if (v == 0) break;  // nothing usable: the previous iteration stands
      copy_line(s.saved_line, s.pv_lines[0]);
      value = v;
      if (detail) detail_line(game, depth, v, true);
      s.last_depth = depth + 1;
      break;
    }
    copy_line(s.saved_line, s.pv_lines[0]);
    value = v;
    completed = depth;
    threads.main_completed(depth);
    if (detail) detail_line(game, depth, v, false);
    if (v >= WIN_RANGE || v <= -WIN_RANGE || (s.single_reply && depth >= 5)) {
      s.last_depth = depth + 1;
      break;
    }
  }

  helper_nodes = threads.stop(s);
  // A helper that completed a deeper iteration than the think's own search
  // gives the think its result, unless that search settled the game.
  if (!is_win(value) && !is_loss(value) && threads.take_helper_iteration(s, completed + 1, &value)) {
    copy_line(s.saved_line, s.pv_lines[0]);
    s.last_depth += 1;
  }
  elapsed = Search::now_ms() - s.think_clock;
  s.last_depth -= 1;
  s.last_value = value;
  s.think_clock = elapsed;
  if (value - s.last_depth >= WIN_SCORE) choose_winning_cell(game, side);
  return value;
}

}  // namespace

int32_t search_and_report(Game& game, int side, bool ample_time) {
  Search& s = *game.search;
  int64_t elapsed = 0;
  uint64_t helper_nodes = 0;
  int fallback_x = -1, fallback_y = -1;
  const int32_t value = search_path(game, side, ample_time, elapsed, helper_nodes, fallback_x, fallback_y);
  // A search whose only move was unplayable (a forced block on a blocked or
  // forbidden cell) leaves (-1, -1): the game is lost, but it is finished by
  // the rules, so play pre_select's move.
  if (!legal_move(game, s.best_x, s.best_y, side) && fallback_x >= 0) {
    s.best_x = fallback_x;
    s.best_y = fallback_y;
  }
  report(game, value, elapsed, s.node_count + helper_nodes);
  return value;
}

int32_t turn_budget(const Game& game) {
  return std::min<int32_t>(Settings::get(game.settings.timeout_turn), Settings::get(game.settings.time_left) / 16);
}

int pre_select(Game& game, int side) {
  Position& pos = *game.position;
  Search& s = *game.search;
  const GameRecord& record = game.record;
  const int opp = opponent(side);
  int32_t best = NO_BEST;
  bool scored = false;
  for (int x = 0; x < record.board_height; ++x) {
    for (int y = 0; y < record.board_width; ++y) {
      if (pos.cells[x][y] != EMPTY || record.blocked(x, y) || s.forbidden_for(x, y, side)) continue;
      pos.make_move(x, y, side);
      int32_t g;
      if (!pos.five_cells[opp - 1].empty()) {
        g = PRE_SELECT_LOSS;
      } else if (!pos.five_cells[side - 1].empty() || pos.open_four_cells[opp - 1].empty()) {
        g = -s.evaluate(0, opp);
      } else if (pos.rule == RENJU && opp == BLACK) {
        // BLACK's open four only counts when its first cell is playable.
        int fx, fy;
        pos.open_four_cells[opp - 1].first(fx, fy);
        g = is_forbidden(pos, fx, fy) ? -s.evaluate(0, opp) : PRE_SELECT_LOSS;
      } else {
        g = PRE_SELECT_LOSS;
      }
      pos.undo_move(x, y, side);
      scored = true;
      if (g > best) {
        best = g;
        s.best_x = x;
        s.best_y = y;
      }
    }
  }
  return scored ? 0 : 1;
}

void normal_think(Game& game, const ThinkRequest& request) {
  const GameRecord& record = game.record;
  Search& s = *game.search;
  const Settings& settings = game.settings;

  // Set-up. The clock runs from the moment the think was asked for, so the
  // worker's wake-up and the set-up below (table sizes here, the rebuild of
  // the first think and of a rule change in search_path) count against the
  // budget like the search itself. The table size is settled before the
  // rebuild: the rebuild clears the tables either way, and a new size then
  // costs one allocation, not two.
  const int64_t now = Search::now_ms();
  s.think_clock = request.start_ms >= 0 && request.start_ms <= now ? request.start_ms : now;
  game.apply_table_sizes();
  const int side = record.side_to_move();
  s.reset_counters();
  const int32_t time_left = Settings::get(settings.time_left);
  s.move_budget = turn_budget(game);
  const int64_t free_cells = std::max<int64_t>(
      static_cast<int64_t>(record.board_width) * record.board_height - record.move_count + 1, 1);
  const bool ample_time = time_left / free_cells >= s.move_budget;

  // Choice of path.
  int32_t value = s.last_value;
  bool shortcut = false;
  if (record.move_count == 0) {
    first_move(game);
    shortcut = true;
  } else if (game.position_current()) {
    if (s.last_value - s.last_depth >= WIN_SCORE)
      shortcut = choose_winning_cell(game, side);
    else
      shortcut = forced_block(game, side);
    value = s.last_value;
  }
  if (shortcut) {
    s.think_clock = 0;
    report(game, value, 0, s.node_count);
  } else {
    search_and_report(game, side, ample_time);
  }

  const int x = s.best_x, y = s.best_y;
  if (!legal_move(game, x, y, side)) {
    // A full board, or every free cell excluded: there is nothing to play,
    // and nothing is recorded.
    send_line(game.out, "ERROR no legal move");
    return;
  }
  game.play(x, y);
  send_line(game.out, "%d,%d", x, y);
}

}  // namespace orvel
