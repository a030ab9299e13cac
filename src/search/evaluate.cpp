// The static evaluation and the neighbourhood threat count: methods of
// Search, kept beside it.
//
// The score starts from the difference of the two side totals that the
// pattern bookkeeping keeps, and is then corrected by the four and three
// cells of both sides, each weighted by the cell's free space and by how
// many fives and open fours already crowd around it. Under Renju, cells
// forbidden to BLACK count for nothing when BLACK is to move, and WHITE's
// threats on points BLACK may not answer cost BLACK extra.
//
// Everything read here is incremental (totals, cell records, cell sets);
// the board is never scanned. Only the Renju test places (and takes back)
// trial stones, so the position is left as found.
#include "board/position.h"
#include "core/bits.h"
#include "renju/forbidden.h"
#include "search/eval_weights.h"
#include "search/search.h"

namespace orvel {

namespace {

// The BLACK cell-score threshold between the two forbidden-cell weights.
constexpr int FORBID_SCORE_LIMIT = 158;

// The 33-cell neighbourhood, one 7-bit row pattern per column offset
// dx = -3..3; bit i stands for row y - 3 + i. The outer columns hold
// (y - 3, y, y + 3), the inner ones the five rows y - 2..y + 2 of the
// 5 by 5 square, the centre column y - 3..y + 3.
constexpr uint32_t NEIGHBOUR_ROWS[7] = {0x49, 0x3E, 0x3E, 0x7F, 0x3E, 0x3E, 0x49};

inline uint32_t centre_on(uint32_t pattern, int y) { return y >= 3 ? pattern << (y - 3) : pattern >> (3 - y); }

// Fives and open fours of side index s around (x, y), leaving out the cells
// marked in forbid (nullptr: none).
int threat_count(const Position& pos, int x, int y, int s, const uint32_t* forbid) {
  const CellSet& fives = pos.five_cells[s];
  const CellSet& open_fours = pos.open_four_cells[s];
  const uint32_t columns = fives.summary | open_fours.summary;
  int count = 0;
  for (int dx = -3; dx <= 3; ++dx) {
    const int cx = x + dx;
    if (cx < 0 || cx >= pos.board_height) continue;
    if (!((columns >> cx) & 1u)) continue;
    uint32_t bits = centre_on(NEIGHBOUR_ROWS[dx + 3], y) & (fives.rows[cx] | open_fours.rows[cx]);
    if (forbid) bits &= ~forbid[cx];
    count += bit_count(bits);
  }
  return count;
}

// Union of the direction masks of every member of a code set.
uint32_t direction_union(const CellSet& set) {
  uint32_t dirs = 0;
  for (uint32_t xs = set.summary; xs; xs &= xs - 1) {
    const int x = lowest_bit_index(xs);
    for (uint32_t ys = set.rows[x]; ys; ys &= ys - 1) dirs |= set.dirs[x][lowest_bit_index(ys)];
  }
  return dirs;
}

inline bool marked(const uint32_t* mask, int x, int y) { return (mask[x] >> y) & 1u; }

// The side's four cells, then its three cells (a cell in both is listed twice).
inline int list_threats(const Position& pos, MoveEntry* list, int side) {
  const int n = pos.list_four_cells(list, side);
  return n + pos.list_three_cells(list + n, side);
}

}  // namespace

int Search::neighbourhood_threat_count(int x, int y, int side) const {
  return threat_count(pos, x, y, side - 1, nullptr);
}

int32_t Search::evaluate(int remaining_depth, int side) {
  // The lists go into the evaluation's own buffer, so the caller's slot in
  // move_lists survives; remaining_depth only chose that slot.
  (void)remaining_depth;
  return evaluate_terms(side, search_mode == 1 ? tuned_weights(pos.rule) : BASE_WEIGHTS, nullptr);
}

int32_t Search::evaluate_terms(int side, const EvalWeights& w, EvalFeatures* f) {
  const int opp = opponent(side);
  const int s = side - 1;
  const int o = opp - 1;
  const bool renju = pos.rule == RENJU;
  MoveEntry* list = eval_list_;
  uint32_t forbid[MAX_SIZE] = {};

  // Step 1.
  int32_t v = (pos.side_total[s] * w.term[OWN_TOTAL] - pos.side_total[o] * w.term[OPP_TOTAL]) / 32;
  if (f) {
    *f = EvalFeatures{};
    f->term[OWN_TOTAL] = pos.side_total[s];
    f->term[OPP_TOTAL] = -pos.side_total[o];
    f->term[TEMPO] = 1;
  }
  const uint64_t stamp = ++eval_counter;

  // Step 2.
  int n = list_threats(pos, list, side);

  // Step 3: BLACK's own forbidden threats count for nothing. A cell listed
  // twice (a four and a three cell) is tested once: the records are a
  // function of the stones, so a second test could only repeat the answer.
  if (renju && side == BLACK) {
    uint32_t tested[MAX_SIZE] = {};
    for (int i = 0; i < n; ++i) {
      const int x = list[i].x;
      const int y = list[i].y;
      if (marked(tested, x, y)) continue;
      tested[x] |= 1u << y;
      if (is_forbidden(pos, x, y)) forbid[x] |= 1u << y;
    }
  }

  // Step 4: the side's own fours and threes.
  const bool opp_quiet = !pos.can_make_four(opp);
  for (int i = 0; i < n; ++i) {
    const int x = list[i].x;
    const int y = list[i].y;
    if (opp_quiet) {
      // Met twice in one call: the cell is both a four and a three cell.
      if (cell_stamps[x][y] == stamp) {
        if (pos.rule == FREESTYLE) {
          if (f) f->decided = true;
          return FOUR_THREE_SCORE;
        }
      } else {
        cell_stamps[x][y] = stamp;
      }
    }
    if (marked(forbid, x, y)) continue;
    const int k = threat_count(pos, x, y, s, forbid) - (pos.four_cells[s].dirs[x][y] != 0 ? 1 : 2);
    v += pos.cell_records[x][y].weight[s] * k * w.term[OWN_THREAT] / 32;
    if (f) f->term[OWN_THREAT] += pos.cell_records[x][y].weight[s] * k;
    if (renju && side == WHITE && is_forbidden(pos, x, y)) {
      const bool low = pos.cell_records[x][y].score[0] < FORBID_SCORE_LIMIT;
      v += low ? w.term[FORBID_LOW] : w.term[FORBID_HIGH];
      if (f) f->term[low ? FORBID_LOW : FORBID_HIGH] += 1;
    }
  }

  // Step 5: the opponent's fours and threes.
  n = list_threats(pos, list, opp);
  if (n > 0) v += w.term[OPP_ANY];
  if (f && n > 0) f->term[OPP_ANY] = 1;

  // Step 6: under Renju the mask now holds BLACK's forbidden threats when
  // BLACK is the opponent; if all of them are forbidden the bonus goes.
  bool opp_masked = false;
  if (renju) {
    for (int x = 0; x < MAX_SIZE; ++x) forbid[x] = 0;
    if (side == WHITE) {
      opp_masked = true;
      bool all_forbidden = true;
      for (int i = 0; i < n; ++i) {
        const int x = list[i].x;
        const int y = list[i].y;
        if (is_forbidden(pos, x, y))
          forbid[x] |= 1u << y;
        else
          all_forbidden = false;
      }
      if (all_forbidden && n > 0) {
        v -= w.term[OPP_ANY];
        if (f) f->term[OPP_ANY] = 0;
      }
    }
  }

  // Step 7.
  for (int i = 0; i < n; ++i) {
    const int x = list[i].x;
    const int y = list[i].y;
    if (opp_masked && marked(forbid, x, y)) continue;
    const int k = (pos.four_cells[o].dirs[x][y] != 0 ? 1 : 2) - threat_count(pos, x, y, o, forbid);
    v += pos.cell_records[x][y].weight[o] * k * w.term[OPP_THREAT] / 32;
    if (f) f->term[OPP_THREAT] += pos.cell_records[x][y].weight[o] * k;
    if (renju && side == BLACK && is_forbidden(pos, x, y)) {
      const bool low = pos.cell_records[x][y].score[0] < FORBID_SCORE_LIMIT;
      v -= low ? w.term[FORBID_LOW] : w.term[FORBID_HIGH];
      if (f) f->term[low ? FORBID_LOW : FORBID_HIGH] -= 1;
    }
  }

  // Step 8: the opponent's most urgent cell.
  int ux = -1;
  int uy = -1;
  if (!pos.five_cells[o].empty())
    pos.five_cells[o].first(ux, uy);
  else if (!pos.open_four_cells[o].empty())
    pos.open_four_cells[o].first(ux, uy);
  if (ux >= 0) {
    v += pos.cell_records[ux][uy].weight[o] * w.term[URGENT] / 32;
    if (f) f->term[URGENT] = pos.cell_records[ux][uy].weight[o];
  }

  // Steps 9 and 10: fives and open fours in more than one direction.
  if (bit_count(direction_union(pos.five_cells[o]) | direction_union(pos.open_four_cells[o])) > 1) {
    v -= w.term[OPP_MULTI];
    if (f) f->term[OPP_MULTI] = -1;
  }
  if (bit_count(direction_union(pos.five_cells[s]) | direction_union(pos.open_four_cells[s])) > 1) {
    v += w.term[OWN_MULTI];
    if (f) f->term[OWN_MULTI] = 1;
  }

  // Step 11.
  return v + w.term[TEMPO];
}

}  // namespace orvel
