// The move stages of a search node: hash moves (with internal deepening),
// own strong cells, answers to the opponent's open-four cells, the
// opponent's strong cells, own and opposing four/three cells, and quiet
// cells near the stones. Every batch passes the filter (no cell twice in a
// node, no forbidden cell for BLACK under Renju, no blocked cell at the root)
// and is sorted by the cell scores.
#include <algorithm>
#include <cstring>

#include "core/bits.h"
#include "eval/candidates.h"
#include "renju/forbidden.h"
#include "search/search.h"

namespace orvel {

namespace {

// Appends stop at the list's capacity; real positions never come near it.
inline int append_cell(MoveEntry* list, int n, int x, int y) {
  if (n >= MAX_CELLS) return n;
  list[n].key = 0;
  list[n].x = static_cast<int16_t>(x);
  list[n].y = static_cast<int16_t>(y);
  return n + 1;
}

// Ascending key; equal keys by cell so that every run searches alike.
inline bool batch_order(const MoveEntry& a, const MoveEntry& b) {
  if (a.key != b.key) return a.key < b.key;
  return a.x * MAX_SIZE + a.y < b.x * MAX_SIZE + b.y;
}

// Number of directions in which side has a code of at least 3 at (x, y).
inline int shape_directions(const Position& pos, int x, int y, int side) {
  int k = 0;
  for (int d = 0; d < 4; ++d) k += pos.dir_patterns[d][x][y].code[side - 1] >= PAT_TWO_WIDE;
  return k;
}

}  // namespace

int Search::filter_batch(NodeState& node, MoveEntry* list, int count) {
  const int side = node.side, opp = opponent(side);
  const bool renju_black = pos.rule == RENJU && side == BLACK;
  node.batch_listed = 0;
  for (int i = 0; i < count; ++i) {
    MoveEntry& e = list[i];
    const int x = e.x, y = e.y;
    if (is_listed(node.slot, x, y) || (renju_black && is_forbidden(pos, x, y)) ||
        (node.root && blocked(x, y))) {
      e.key = SKIP_KEY;
      continue;
    }
    mark_listed(node.slot, x, y);
    ++node.listed_total;
    ++node.batch_listed;
    e.key = -(pos.score(x, y, side) + (pos.score(x, y, opp) >> 1));
  }
  node.batch_size = count;
  return count;
}

int Search::stage_hash_moves(NodeState& node, MoveEntry* list, int32_t* value, bool* node_ends) {
  auto probe_moves = [&]() {
    int32_t xs[3] = {-1, -1, -1}, ys[3] = {-1, -1, -1};
    hash.tt_probe(1, node.alpha, node.beta, node.side, pos.zobrist_key, 3, xs, ys);
    int n = 0;
    for (int i = 0; i < 3; ++i)
      if (xs[i] != -1 && pos.on_board(xs[i], ys[i]) && pos.cells[xs[i]][ys[i]] == EMPTY)
        n = append_cell(list, n, xs[i], ys[i]);
    return n;
  };
  int n = probe_moves();
  if (n > 0) return n;

  // No usable hash move: a shallower search of this very position finds one.
  if (node.root) {
    if (last_depth < 6) return 0;
    alpha_beta(last_depth - 3, node.alpha, 100000000, node.side, 0);
  } else {
    if (node.hash_depth < (node.null_window ? 8 : 6)) return 0;
    const int r = node.null_window ? node.hash_depth / 4 : 1;
    const int32_t v = node_search(node.depth - r - 2, node.alpha, node.beta, node.side, node.extension);
    if (!search_aborted && v >= node.beta && v > WIN_RANGE) {
      hash.tt_store(pos.zobrist_key, node.hash_depth, v, BOUND_EXACT, node.side, -1, -1, -1, -1, -1, -1);
      *value = v;
      *node_ends = true;
      return 0;
    }
  }
  if (search_aborted) {
    *value = 0;
    *node_ends = true;
    return 0;
  }
  return probe_moves();
}

namespace {

// The cells stage 6 appends. A cell appended twice is stored once (its
// second copy would only get the skip key) but counted twice, since the
// pass conditions count appends.
struct QuietBatch {
  explicit QuietBatch(MoveEntry* to) : list(to) { std::memset(seen, 0, sizeof seen); }
  void append(int x, int y) {
    ++appended;
    if (seen[x][y]) return;
    seen[x][y] = 1;
    size = append_cell(list, size, x, y);
  }
  MoveEntry* list;
  int size = 0;
  int appended = 0;
  uint8_t seen[MAX_SIZE][MAX_SIZE];
};

// Append every cell of the board, in x-then-y order, that passes pred.
template <typename Pred>
void scan_board(const Position& pos, QuietBatch& batch, Pred pred) {
  for (int x = 0; x < pos.board_height; ++x)
    for (int y = 0; y < pos.board_width; ++y)
      if (pred(x, y)) batch.append(x, y);
}

// Pass 1: open cells where either colour has two or more shapes. Returns
// whether some open cell is worthwhile for the passes that follow.
template <typename Open>
bool quiet_pass_one(const Position& pos, QuietBatch& batch, int side, Open open_cell) {
  const int opp = opponent(side);
  bool any_worthwhile = false;
  scan_board(pos, batch, [&](int x, int y) {
    if (!open_cell(x, y)) return false;
    any_worthwhile |= pos.score(x, y, side) >= 8 || pos.score(x, y, opp) >= 9;
    return shape_directions(pos, x, y, BLACK) >= 2 || shape_directions(pos, x, y, WHITE) >= 2;
  });
  return any_worthwhile;
}

}  // namespace

int Search::stage_quiet(NodeState& node, MoveEntry* list) {
  const int side = node.side, opp = opponent(side);
  const int slot = node.slot;
  const int cf = caution_factor();
  const bool nw = node.null_window;
  QuietBatch batch(list);
  auto open_cell = [&](int x, int y) { return pos.cells[x][y] == EMPTY && !is_listed(slot, x, y); };
  auto worthwhile = [&](int x, int y) { return pos.score(x, y, side) >= 8 || pos.score(x, y, opp) >= 9; };

  const bool any_worthwhile = quiet_pass_one(pos, batch, side, open_cell);
  if (batch.appended > 0 && slot > 1 && node.best > -WIN_RANGE && nw && cf < 3) return batch.size;
  if (node.listed_total > 0 && slot > 1 && node.hash_depth <= 4 && nw && cf < 3) return batch.size;

  if (any_worthwhile) {
    // Pass 2: worthwhile cells near a stone.
    scan_board(pos, batch, [&](int x, int y) {
      return open_cell(x, y) && worthwhile(x, y) &&
             ((slot < 2 && cf >= 2) || shape_has_stone(pos, window_square, x, y));
    });
    if (batch.appended > 0) {
      const int total = node.listed_total + batch.appended;
      if (cf == 0 || slot > 1 || (cf < 2 && ((total > 10 && nw) || total > 18))) return batch.size;
    }
  }
  // Pass 3: every cell near a stone.
  scan_board(pos, batch, [&](int x, int y) { return open_cell(x, y) && shape_has_stone(pos, window_square, x, y); });
  return batch.size;
}

int Search::stage_root_quiet(NodeState& node, MoveEntry* list) {
  const int side = node.side, opp = opponent(side);
  const int cf = caution_factor();
  QuietBatch batch(list);
  auto open_cell = [&](int x, int y) {
    return pos.cells[x][y] == EMPTY && !is_listed(0, x, y) && !blocked(x, y);
  };
  auto worthwhile = [&](int x, int y) { return pos.score(x, y, side) >= 8 || pos.score(x, y, opp) >= 9; };

  if (quiet_pass_one(pos, batch, side, open_cell)) {
    scan_board(pos, batch, [&](int x, int y) {
      return open_cell(x, y) && worthwhile(x, y) && (cf != 0 || shape_has_stone(pos, window_square, x, y));
    });
    if (batch.appended > 0 && cf == 0) return batch.size;
  }
  const bool star = cf != 0 && (node.listed_total <= 18 || cf >= 2);
  const WindowShape& shape = star ? window_star : window_square;
  scan_board(pos, batch, [&](int x, int y) { return open_cell(x, y) && shape_has_stone(pos, shape, x, y); });
  // Nothing anywhere near a stone: every open cell.
  if (node.listed_total + batch.appended == 0) scan_board(pos, batch, open_cell);
  return batch.size;
}

BatchResult Search::next_batch(NodeState& node, int32_t* value) {
  MoveEntry* list = move_lists[node.slot];
  const int side = node.side, opp = opponent(side);
  for (;;) {
    int n = 0;
    bool sort = true;
    switch (node.stage) {
      case STAGE_FORCED:
        n = append_cell(list, 0, node.forced_x, node.forced_y);
        node.stage = BATCH_LAST_FORCED;
        break;
      case STAGE_HASH: {
        bool node_ends = false;
        n = stage_hash_moves(node, list, value, &node_ends);
        if (node_ends) return BatchResult::NODE_VALUE;
        sort = false;
        break;
      }
      case STAGE_OWN_STRONG:
        n = pos.list_strong_cells(list, side);
        break;
      case STAGE_OPEN_FOUR_ANSWERS: {
        bool real = false;
        n = list_three_answers(pos, list, side, &real);
        if (n > 0 && real) node.stage = BATCH_LAST_THREE;
        break;
      }
      case STAGE_OPP_STRONG:
        n = pos.list_strong_cells(list, opp);
        break;
      case STAGE_OWN_THREATS:
        n = list_threat_cells(pos, list, side);
        break;
      case STAGE_OPP_THREATS:
        n = list_threat_cells(pos, list, opp);
        break;
      case STAGE_QUIET:
        n = node.root ? stage_root_quiet(node, list) : stage_quiet(node, list);
        break;
      default:
        return BatchResult::NO_MORE;
    }
    if (n > 0) {
      filter_batch(node, list, n);
      if (sort) std::sort(list, list + n, batch_order);
      return BatchResult::MOVES;
    }
    if (node.stage >= STAGE_END) return BatchResult::NO_MORE;
    ++node.stage;
  }
}

void Search::move_level_and_offset(const NodeState& node, int x, int y, int own, int* level, int32_t* offset,
                                   double* eval_factor) {
  *level = 0;
  *offset = 0;
  if (own < 158) return;
  const int side = node.side;
  const int n = neighbourhood_threat_count(x, y, side);
  int k = -1;
  auto directions = [&] {
    if (k < 0) k = shape_directions(pos, x, y, side);
    return k;
  };
  int lv;
  if (own >= 256) {
    if (own < 262 && n <= 2)
      lv = 1;
    else if (own < 279 || n <= 2)
      lv = 2;
    else
      lv = ((directions() >= 4 && n > 6) || (directions() >= 3 && n > 8)) ? 4 : 3;
  } else {
    if (directions() < 2 || n <= 4)
      lv = 1;
    else if (!((directions() >= 3 && n > 6) || n > 8))
      lv = 2;
    else
      lv = ((directions() >= 3 && n > 10) || (directions() >= 4 && n > 8)) ? 4 : 3;
  }
  int top = 0;
  for (int d = 0; d < 4; ++d) top = std::max(top, static_cast<int>(pos.dir_patterns[d][x][y].code[side - 1]));
  static constexpr int four_delta[5] = {0, -40, -5, 0, 0};
  static constexpr int three_delta[5] = {0, -10, -2, 0, 0};
  const int delta = top >= PAT_FOUR ? four_delta[lv] : top >= PAT_THREE_SPLIT ? three_delta[lv] : 0;
  if (!node.null_window) lv = std::min(lv + 1, 4);
  *level = lv;

  const int we = edge_weight(std::min(x, pos.board_height - 1 - x), std::min(y, pos.board_width - 1 - y));
  int32_t off = we * delta / 40;
  if (off != 0 && we >= 20) {
    const int w = pos.weight(x, y, side);
    if (w < 18) off = static_cast<int32_t>(off * 1.1);
    if (w < 15) off = static_cast<int32_t>(off * 1.1);
    if (w < 12) off = static_cast<int32_t>(off * 1.3);
    if (w > 22) off = static_cast<int32_t>(off * 0.9);
    if (*eval_factor < 0) {
      const int32_t e = node.static_value != NO_VALUE ? node.static_value : evaluate(node.depth - 1, side);
      double f;
      if (e >= 600)
        f = 0.0;
      else if (e >= 500)
        f = 0.1;
      else if (e >= 400)
        f = 0.2;
      else if (e >= 300)
        f = 0.4;
      else if (e >= 200)
        f = 0.6;
      else {
        f = e >= 100 ? 0.8 : e <= -500 ? 1.8 : e <= -300 ? 1.6 : e <= -200 ? 1.3 : e <= -100 ? 1.1 : 1.0;
        if (pos.room_total[side - 1] <= pos.room_total[opponent(side) - 1]) f += 0.1;
      }
      *eval_factor = f;
    }
    off = static_cast<int32_t>(off * *eval_factor);
  }
  *offset = off;
}

int Search::threat_extension(int depth, int side, int own, int level) {
  const int32_t r = threat_search(depth, side, 0, 0);
  if (search_aborted || r <= 0) return level;
  return std::min(level + (own >= 34 ? 2 : 1), 4);
}

}  // namespace orvel
