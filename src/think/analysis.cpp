// The analysis drivers a graphical front end asks for: the N best moves of
// the side to move (ovnbest), the move after which the game is closest to a
// target value (ovbalanceone), and the pair of moves, one for each side,
// after which it is closest (ovbalancetwo).
//
// Each works on a Game and builds a candidate list near the stones, orders it by a static key,
// then deepens a search over the list with alpha_beta, writing a progress
// line per depth and a result line at the end. None plays or records a
// move; every placement is taken back, so the position ends as it began.
//
// The lists, the N-best lines and the masks live in one block that each
// worker thread allocates on its first analysis and keeps; the balance-two
// list alone holds up to 576 x 576 pairs, so nothing of this is on the
// stack or allocated per think.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "game/game.h"
#include "think/think.h"

namespace orvel {

namespace {

constexpr int32_t INF = WIN_SCORE;  // the infinite window of these modes
constexpr int32_t NODE_LIMIT_CEILING = 1000000000;
constexpr int SHORT_LIST = 32;  // below this the balance modes use narrow windows

struct PairEntry {
  int32_t key;
  int16_t x1, y1;  // the side's move
  int16_t x2, y2;  // the opponent's reply
};

struct AnalysisStorage {
  uint8_t mask[MAX_SIZE][MAX_SIZE];
  MoveEntry list[MAX_CELLS];
  // N-best lines: line_of[p] is the line that belongs to list position p;
  // a line is a count followed by moves coded x * 24 + y.
  int16_t line_of[MAX_CELLS];
  int32_t lines[MAX_CELLS][MAX_CELLS + 1];
  PairEntry pairs[MAX_CELLS * MAX_CELLS];
};

AnalysisStorage& storage() {
  thread_local std::unique_ptr<AnalysisStorage> block;
  if (!block) block = std::make_unique<AnalysisStorage>();
  return *block;
}

char column_letter(int y) { return static_cast<char>('A' + y); }
int32_t clamp_report(int32_t v) { return std::clamp<int32_t>(v, -10000, 10000); }
int32_t cap_report(int32_t key) { return std::min<int32_t>(key, 10000); }

// A search window inside the infinite window, never empty.
struct Window {
  int32_t alpha, beta;
};
Window window(int64_t alpha, int64_t beta) {
  const int64_t a = std::clamp<int64_t>(alpha, -INF, INF - 1);
  const int64_t b = std::clamp<int64_t>(beta, a + 1, INF);
  return Window{static_cast<int32_t>(a), static_cast<int32_t>(b)};
}

// What the three drivers share: the set-up, the masks, the continue test
// and the bookkeeping of the end.
struct Analysis {
  explicit Analysis(Game& e)
      : game(e), pos(*e.position), s(*e.search), record(e.record), settings(e.settings), store(storage()) {}

  // Counters, budget, clock, rebuild, table size.
  void set_up(int32_t budget) {
    s.reset_counters();
    s.move_budget = budget;
    s.think_clock = Search::now_ms();
    s.search_aborted = false;
    game.apply_table_sizes();
    game.apply_rule();
    game.hash.move_count = record.move_count;
    s.last_depth = 0;
    side = record.side_to_move();
    opp = opponent(side);
  }

  // Mark the empty cells near every occupied cell of the board. The N-best
  // shape leaves out the cells at distance 3 off the four lines.
  void build_mask(bool nbest_shape) {
    std::fill(&store.mask[0][0], &store.mask[0][0] + MAX_CELLS, uint8_t{0});
    for (int x = 0; x < record.board_height; ++x) {
      for (int y = 0; y < record.board_width; ++y) {
        if (pos.cells[x][y] == EMPTY) continue;
        for (int dx = -3; dx <= 3; ++dx) {
          for (int dy = -3; dy <= 3; ++dy) {
            const int ax = std::abs(dx), ay = std::abs(dy);
            if (nbest_shape && ((ax == 3 && (ay == 1 || ay == 2)) || (ay == 3 && (ax == 1 || ax == 2)))) continue;
            const int cx = x + dx, cy = y + dy;
            if (record.on_board(cx, cy) && pos.cells[cx][cy] == EMPTY) store.mask[cx][cy] = 1;
          }
        }
      }
    }
  }

  // A cell that may be a candidate: empty and not excluded by the front end.
  bool open_cell(int x, int y) const { return pos.cells[x][y] == EMPTY && !record.blocked(x, y); }
  // An open cell the given side may also play: under Renju BLACK never
  // gets a forbidden point proposed.
  bool playable(int x, int y, int who) { return open_cell(x, y) && !s.forbidden_for(x, y, who); }
  bool near_stones(int x, int y) const { return store.mask[x][y] != 0 || record.move_count == 0; }

  // The one-move candidates (free cells near the stones, or every free
  // cell on an empty board), each keyed by key_of(static value after the
  // move, for the side to move). Returns their number.
  template <typename KeyOf>
  int collect_candidates(MoveEntry* list, KeyOf key_of) {
    int n = 0;
    for (int x = 0; x < record.board_height; ++x) {
      for (int y = 0; y < record.board_width; ++y) {
        if (!near_stones(x, y) || !playable(x, y, side)) continue;
        pos.make_move(x, y, side);
        list[n].key = key_of(-s.evaluate(0, opp));
        pos.undo_move(x, y, side);
        list[n].x = static_cast<int16_t>(x);
        list[n].y = static_cast<int16_t>(y);
        ++n;
      }
    }
    return n;
  }

  // Before the iteration of depth d (last_depth already holds d).
  bool may_continue(int d) const {
    const int32_t max_node = Settings::get(settings.max_node);
    const bool stopping = game.stop_requested.load() > 0;
    const int64_t cells = static_cast<int64_t>(record.board_width) * record.board_height;
    const bool may_start =
        (Search::now_ms() - s.think_clock) * 4 < s.move_budget && record.move_count + d + 2 <= cells && !stopping;
    if (!may_start) {
      if (max_node != -1 || stopping) return false;
    } else if (max_node != -1 && max_node < NODE_LIMIT_CEILING &&
               static_cast<int64_t>(s.node_count / 1024) * 4 >= static_cast<int64_t>(max_node)) {
      return false;
    }
    return d <= Settings::get(settings.max_depth);
  }

  // The end bookkeeping; returns the elapsed time.
  int64_t finish() {
    const int64_t elapsed = Search::now_ms() - s.think_clock;
    s.think_clock = elapsed;
    s.last_depth -= 1;
    s.last_value = 0;
    return elapsed;
  }

  // No candidate at all: nothing to search and nothing to report from the
  // list, so the result line says so.
  void finish_empty(const char* mode) {
    s.last_depth = 1;
    finish();
    send_line(game.out, "MESSAGE DETAIL (%s) no candidate", mode);
  }

  long since_start() const { return static_cast<long>(Search::now_ms() - s.think_clock); }
  int millions() const { return static_cast<int>(s.node_count / 1000000); }
  int row(int x) const { return record.board_height - x; }

  Game& game;
  Position& pos;
  Search& s;
  GameRecord& record;
  const Settings& settings;
  AnalysisStorage& store;
  int side = BLACK;
  int opp = WHITE;
};

template <class Entry>
void sort_by_key(Entry* list, int n) {
  std::sort(list, list + n, [](const Entry& a, const Entry& b) { return a.key < b.key; });
}

// How many entries of a sorted balance list the next depth searches.
int balance_cut(int n, int d, int32_t best_key) {
  if (n >= SHORT_LIST) {
    switch (d) {
      case 1:
        return std::min(n, 1024);
      case 2:
        return std::min(n, 512);
      case 3:
        return std::min(n, 256);
      case 4:
        return std::min(n, 128);
      default:
        return std::max(static_cast<int>(n * 0.6), 31);
    }
  }
  if (best_key <= 16) {
    if (n > 16) return n - 3;
    if (n > 8) return n - 2;
    if (n > 4) return n - 1;
  }
  return n;
}

// |v - k|, raised by 1 when it ties the best distance (so a tie never
// displaces entry 0).
int32_t distance_key(int32_t v, int32_t k, int32_t best, bool raise_ties) {
  int32_t key = std::abs(v - k);
  if (raise_ties && key == best) ++key;
  return key;
}

}  // namespace

void nbest_think(Game& game, const ThinkRequest& request) {
  Analysis a(game);
  a.set_up(turn_budget(game));
  Search& s = a.s;
  Position& pos = a.pos;
  AnalysisStorage& st = a.store;
  MoveEntry* list = st.list;
  const int side = a.side, opp = a.opp;
  const int wanted = std::max(request.nbest_count, 1);

  a.build_mask(true);
  const int n = a.collect_candidates(list, [](int32_t g) { return g; });
  if (n == 0) {
    a.finish_empty("NBEST");
    return;
  }
  // Weakest first: the first iteration searches upwards and the insertion
  // below puts the front in descending order.
  sort_by_key(list, n);
  for (int i = 0; i < n; ++i) {
    st.line_of[i] = static_cast<int16_t>(i);
    st.lines[i][0] = 0;
  }
  const int ranked = std::min(wanted, n);

  auto search = [&](Window w) { return -s.alpha_beta(s.last_depth, w.alpha, w.beta, opp, 0); };

  for (int d = 1;; ++d) {
    s.last_depth = d;
    if (!a.may_continue(d)) break;
    bool aborted = false;
    for (int i = 0; i < n; ++i) {
      pos.make_move(list[i].x, list[i].y, side);
      int32_t key;
      if (i == 0) {
        key = search(window(-INF, INF));
      } else {
        // Below the N-th place a null window only asks whether the move
        // climbs into the ranking.
        const int32_t bar = list[std::min(i, wanted) - 1].key;
        key = i < wanted ? search(window(-static_cast<int64_t>(bar), INF))
                         : search(window(-static_cast<int64_t>(bar), -static_cast<int64_t>(bar) + 1));
        if (!s.search_aborted && key >= bar) key = search(window(-INF, INF));
      }
      pos.undo_move(list[i].x, list[i].y, side);
      if (s.search_aborted) {
        aborted = true;
        break;
      }
      list[i].key = key;

      // The line: the candidate, then what the search found behind it.
      int32_t* line = st.lines[st.line_of[i]];
      const PvLine& pv = s.pv_lines[0];
      const int count = std::min<int>(d, std::clamp<int>(pv[0].key, 0, MAX_CELLS - 1)) + 1;
      line[0] = count;
      line[1] = list[i].x * MAX_SIZE + list[i].y;
      for (int j = 1; j < count; ++j) line[j + 1] = pv[j].x * MAX_SIZE + pv[j].y;

      for (int p = 0; p < i; ++p) {
        if (list[p].key < list[i].key) {
          std::swap(list[p], list[i]);
          std::swap(st.line_of[p], st.line_of[i]);
        }
      }
    }
    if (aborted) break;

    send_line(game.out, "MESSAGE DETAIL DEPTH:%d-%d VAL:%d TIME:%ldms NODE:%dm [%d,%c]", d + 1,
              d - s.min_remaining_depth + 1, clamp_report(list[0].key), a.since_start(), a.millions(), a.row(list[0].x),
              column_letter(list[0].y));
    if (d + 1 >= 5) {
      std::string block;
      for (int i = 0; i < ranked; ++i)
        block += format("MESSAGE (%d) VAL:%d [%d,%c]\n", i + 1, clamp_report(list[i].key), a.row(list[i].x),
                        column_letter(list[i].y));
      game.out.write(block);
    }
  }

  const int64_t elapsed = a.finish();
  send_line(game.out, "MESSAGE DETAIL (NBEST) DEPTH:%d-%d VAL:%d TIME:%ldms NODE:%dm [%d,%c]", s.last_depth + 1,
            s.last_depth - s.min_remaining_depth + 1, clamp_report(list[0].key), static_cast<long>(elapsed),
            a.millions(), a.row(list[0].x), column_letter(list[0].y));
  if (s.last_depth >= 2) {
    for (int u = 0; u < ranked; ++u) {
      std::string line = format("MESSAGE (%d) VAL:%d ", u, list[u].key);
      const int32_t* moves = st.lines[st.line_of[u]];
      for (int j = 1; j <= moves[0]; ++j)
        line += format("[%d,%c]", a.row(moves[j] / MAX_SIZE), column_letter(moves[j] % MAX_SIZE));
      send_line(game.out, "%s", line.c_str());
    }
  }
}

void balance_one_think(Game& game, const ThinkRequest& request) {
  balance_one(game, request.balance_target, turn_budget(game));
}

BalanceMove balance_one(Game& game, int32_t target, int32_t budget) {
  Analysis a(game);
  a.set_up(budget);
  Search& s = a.s;
  Position& pos = a.pos;
  MoveEntry* list = a.store.list;
  const int side = a.side, opp = a.opp;
  const int32_t k = std::clamp<int32_t>(target, -2000, 2000);

  a.build_mask(false);
  int n = a.collect_candidates(list, [k](int32_t g) { return std::abs(g - k); });
  if (n == 0) {
    a.finish_empty("BALANCE");
    return BalanceMove{};
  }
  sort_by_key(list, n);

  auto search = [&](Window w) { return -s.alpha_beta(s.last_depth, w.alpha, w.beta, opp, 0); };

  for (int d = 1;; ++d) {
    s.last_depth = d;
    if (!a.may_continue(d)) break;
    bool aborted = false;
    for (int i = 0; i < n; ++i) {
      const int32_t r = list[0].key;
      const bool narrow = n < SHORT_LIST && i > 0;
      pos.make_move(list[i].x, list[i].y, side);
      int32_t key;
      if (!narrow) {
        key = distance_key(search(window(-INF, INF)), k, r, false);
      } else {
        // Is the value within r of the target? Only then is it worth an
        // exact search.
        key = distance_key(search(window(static_cast<int64_t>(-k) - r, static_cast<int64_t>(r) - k)), k, r, true);
        if (!s.search_aborted && key < r) key = distance_key(search(window(-INF, INF)), k, r, true);
      }
      pos.undo_move(list[i].x, list[i].y, side);
      if (s.search_aborted) {
        aborted = true;
        break;
      }
      list[i].key = key;
      if (list[i].key < list[0].key) std::swap(list[i], list[0]);
      if (n < SHORT_LIST && list[0].key == 0) break;  // an exact balance
    }
    if (aborted) break;

    sort_by_key(list, n);
    n = balance_cut(n, d, list[0].key);
    send_line(game.out, "MESSAGE DETAIL DEPTH:%d-%d |VAL%+d|:%d TIME:%ldms NODE:%dm [%d,%c]", d + 1,
              d - s.min_remaining_depth + 1, -k, cap_report(list[0].key), a.since_start(), a.millions(),
              a.row(list[0].x), column_letter(list[0].y));
  }

  const int64_t elapsed = a.finish();
  send_line(game.out, "MESSAGE DETAIL (BALANCE) DEPTH:%d-%d |VAL%+d|:%d TIME:%ldms NODE:%dm [%d,%c]", s.last_depth + 1,
            s.last_depth - s.min_remaining_depth + 1, -k, cap_report(list[0].key), static_cast<long>(elapsed),
            a.millions(), a.row(list[0].x), column_letter(list[0].y));
  return BalanceMove{true, list[0].x, list[0].y, list[0].key};
}

void balance_two_think(Game& game, const ThinkRequest& request) {
  balance_two(game, request.balance_target, turn_budget(game));
}

BalancePair balance_two(Game& game, int32_t target, int32_t budget) {
  Analysis a(game);
  a.set_up(budget);
  Search& s = a.s;
  Position& pos = a.pos;
  PairEntry* list = a.store.pairs;
  const int side = a.side, opp = a.opp;
  const int32_t k = std::clamp<int32_t>(target, -2000, 2000);
  const int height = a.record.board_height, width = a.record.board_width;

  a.build_mask(false);
  const int first_game_move = a.record.move_count == 0 ? 1 : 0;
  int n = 0;
  for (int x1 = 0; x1 < height; ++x1) {
    // Scoring every pair takes most of a second on a large busy board: a stop
    // ends it here, once there is a pair to answer with, and the pairs
    // scored so far give the answer.
    if (n > 0 && game.stop_requested.load() > 0) break;
    for (int y1 = 0; y1 < width; ++y1) {
      if (!a.playable(x1, y1, side)) continue;
      const int mark1 = a.store.mask[x1][y1];
      // The evaluation and the forbidden test never read the strong-cell
      // sets, so light placements give the same keys for less work. The
      // reply is judged with the first stone on the board.
      pos.make_move_light(x1, y1, side);
      for (int x2 = 0; x2 < height; ++x2) {
        for (int y2 = 0; y2 < width; ++y2) {
          if (!a.open_cell(x2, y2)) continue;
          const int close = std::abs(x1 - x2) <= 3 && std::abs(y1 - y2) <= 3;
          if (close + mark1 + a.store.mask[x2][y2] + first_game_move < 2) continue;
          if (s.forbidden_for(x2, y2, opp)) continue;
          pos.make_move_light(x2, y2, opp);
          list[n].key = std::abs(s.evaluate(0, side) - k);
          pos.undo_move_light(x2, y2, opp);
          list[n].x1 = static_cast<int16_t>(x1);
          list[n].y1 = static_cast<int16_t>(y1);
          list[n].x2 = static_cast<int16_t>(x2);
          list[n].y2 = static_cast<int16_t>(y2);
          ++n;
        }
      }
      pos.undo_move_light(x1, y1, side);
    }
  }
  if (n == 0) {
    a.finish_empty("BALANCE");
    return BalancePair{};
  }
  sort_by_key(list, n);

  // After both moves the side is to move again: its value, not negated.
  auto search = [&](Window w) { return s.alpha_beta(s.last_depth, w.alpha, w.beta, side, 0); };

  for (int d = 1;; ++d) {
    s.last_depth = d;
    if (!a.may_continue(d)) break;
    bool aborted = false;
    for (int i = 0; i < n; ++i) {
      const int32_t r = list[0].key;
      const bool narrow = n < SHORT_LIST && i > 0;
      const PairEntry e = list[i];
      pos.make_move(e.x1, e.y1, side);
      pos.make_move(e.x2, e.y2, opp);
      int32_t key;
      if (!narrow) {
        key = distance_key(search(window(-INF, INF)), k, r, false);
      } else {
        key = distance_key(search(window(static_cast<int64_t>(k) - r, static_cast<int64_t>(k) + r)), k, r, true);
        if (!s.search_aborted && key < r) key = distance_key(search(window(-INF, INF)), k, r, true);
      }
      pos.undo_move(e.x2, e.y2, opp);
      pos.undo_move(e.x1, e.y1, side);
      if (s.search_aborted) {
        aborted = true;
        break;
      }
      list[i].key = key;
      if (list[i].key < list[0].key) std::swap(list[i], list[0]);
      if (n < SHORT_LIST && list[0].key == 0) break;
    }
    if (aborted) break;

    sort_by_key(list, n);
    n = balance_cut(n, d, list[0].key);
    send_line(game.out, "MESSAGE DETAIL DEPTH:%d-%d |VAL%+d|:%d TIME:%ldms NODE:%dm [%d,%c][%d,%c]", d + 2,
              d - s.min_remaining_depth + 2, -k, cap_report(list[0].key), a.since_start(), a.millions(),
              a.row(list[0].x1), column_letter(list[0].y1), a.row(list[0].x2), column_letter(list[0].y2));
  }

  const int64_t elapsed = a.finish();
  send_line(game.out, "MESSAGE DETAIL (BALANCE) DEPTH:%d-%d |VAL%+d|:%d TIME:%ldms NODE:%dm [%d,%c][%d,%c]",
            s.last_depth + 2, s.last_depth - s.min_remaining_depth + 2, -k, cap_report(list[0].key),
            static_cast<long>(elapsed), a.millions(), a.row(list[0].x1), column_letter(list[0].y1), a.row(list[0].x2),
            column_letter(list[0].y2));
  return BalancePair{true, list[0].x1, list[0].y1, list[0].x2, list[0].y2, list[0].key};
}

}  // namespace orvel
