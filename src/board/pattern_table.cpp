#include "board/pattern_table.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace orvel {

namespace {

// Class of one five-cell window for side s (stones as a 5-bit mask with the
// centre already counted), with the window's outer ends open or closed.
int window_class(unsigned stones, bool left_closed, bool right_closed) {
  const int n = __builtin_popcount(stones);
  const bool at0 = stones & 1u;
  const bool at4 = stones & 16u;
  if (n == 5) return PAT_FIVE;
  if (n == 4) {
    const unsigned gap = ~stones & 31u;
    if (gap == 16u) return left_closed ? PAT_FOUR : PAT_OPEN_FOUR;   // XXXX_
    if (gap == 1u) return right_closed ? PAT_FOUR : PAT_OPEN_FOUR;   // _XXXX
    if (gap == 4u) return PAT_FOUR;                                  // XX_XX
    if (gap == 8u) return left_closed ? PAT_FOUR : PAT_FOUR_PLUS;    // XXX_X
    return right_closed ? PAT_FOUR : PAT_FOUR_PLUS;                  // X_XXX
  }
  if (n == 3) {
    if (at0 && at4) return PAT_THREE_CLOSED;
    if ((left_closed && right_closed) || (at0 && left_closed) || (at4 && right_closed)) return PAT_THREE_CLOSED;
    const bool adjacent = stones == 7u || stones == 14u || stones == 28u;
    return adjacent ? PAT_THREE : PAT_THREE_SPLIT;
  }
  // n == 2
  if (at0 && at4) return PAT_ONE;
  if (left_closed && right_closed) return PAT_ONE;
  if ((at0 && left_closed) || (at4 && right_closed)) return PAT_TWO_CLOSED;
  const int lo = __builtin_ctz(stones);
  const int hi = 31 - __builtin_clz(stones);
  const int gap = hi - lo - 1;
  return gap == 0 ? PAT_TWO : gap == 1 ? PAT_TWO_SPLIT : PAT_TWO_WIDE;
}

}  // namespace

PatternEntry compute_pattern_entry(uint32_t window, int rule) {
  PatternEntry e{{0, 0}, {0, 0}};
  int cell[9];
  for (int i = 0; i < 9; ++i) cell[i] = (window >> (2 * i)) & 3;
  if (cell[4] != EMPTY) return e;

  int best[2] = {0, 0};
  bool overlined[2] = {false, false};
  for (int k = 0; k <= 4; ++k) {
    int count[4] = {0, 0, 0, 0};
    for (int i = k; i < k + 5; ++i) count[cell[i]]++;
    if (count[BLOCKED] > 0) continue;
    if (count[BLACK] > 0 && count[WHITE] > 0) continue;
    if (count[BLACK] == 0 && count[WHITE] == 0) continue;
    const int v = count[BLACK] > 0 ? BLACK : WHITE;
    const int s = v - 1;
    const int other = opponent(v);
    unsigned stones = 0;
    for (int i = 0; i < 5; ++i)
      if (cell[k + i] == v || k + i == 4) stones |= 1u << i;
    const bool left_closed = k == 0 || cell[k - 1] == other || cell[k - 1] == BLOCKED;
    const bool right_closed = k == 4 || cell[k + 5] == other || cell[k + 5] == BLOCKED;
    const int cls = window_class(stones, left_closed, right_closed);
    if (cls > best[s]) {
      best[s] = cls;
      if (cls == PAT_FIVE && rule != FREESTYLE) {
        const bool longer = (k >= 1 && cell[k - 1] == v) || (k <= 3 && cell[k + 5] == v);
        if (longer && (v == BLACK || rule == STANDARD)) overlined[s] = true;
      }
    }
  }
  for (int s = 0; s < 2; ++s) {
    const int v = s + 1;
    e.code[s] = static_cast<int8_t>(overlined[s] ? PAT_OVERLINE : best[s]);
    int space = 0;
    for (int i = 3; i >= 0 && (cell[i] == EMPTY || cell[i] == v); --i) ++space;
    for (int i = 5; i <= 8 && (cell[i] == EMPTY || cell[i] == v); ++i) ++space;
    e.space[s] = static_cast<int8_t>(space);
  }
  return e;
}

int compute_combo_value(int side_index, int c0, int c1, int c2, int c3, int rule) {
  int p[4] = {c0, c1, c2, c3};
  std::sort(p, p + 4, [](int a, int b) { return a > b; });
  const int p1 = p[0], p2 = p[1], p3 = p[2], p4 = p[3];

  if (side_index == 0 && rule == RENJU) {
    auto count_if = [&](auto pred) {
      int n = 0;
      for (int c : p) n += pred(c) ? 1 : 0;
      return n;
    };
    const int weight_sum = code_weight[p1] + code_weight[p2] + code_weight[p3] + code_weight[p4];
    if (p1 == PAT_OVERLINE) {
      if (p2 == PAT_FIVE || p3 == PAT_FIVE || p4 == PAT_FIVE) return 0;
      const int open_fours = (p2 == PAT_OPEN_FOUR) + (p3 == PAT_OPEN_FOUR) + (p4 == PAT_OPEN_FOUR);
      if (open_fours) return -255 * open_fours;
      return -(code_weight[p2] + code_weight[p3] + code_weight[p4]);
    }
    const int fours = count_if([](int c) { return c >= PAT_FOUR && c <= PAT_OPEN_FOUR; });
    const int fives = count_if([](int c) { return c == PAT_FIVE; });
    if (fours >= 2 && fives == 0) {
      const int open_fours = count_if([](int c) { return c == PAT_OPEN_FOUR; });
      return 256 * open_fours + 64 * (fours - open_fours) - weight_sum;
    }
    const int threes = count_if([](int c) { return c == PAT_THREE_SPLIT || c == PAT_THREE; });
    if (threes >= 2) {
      if (fours > 0) return -weight_sum;
      return top_adjust[p1] - 158;
    }
  }
  if (p1 == 0) return 0;
  if (p3 >= 1) return top_adjust[p1];
  if (p2 == 0) return top_adjust[p1] + (3 * pair_factor[p1]) / 256;
  return top_adjust[p1] + (3 * pair_factor[p2] * pair_factor[p1]) / 256;
}

void build_pattern_table(PatternTables& t, int rule) {
  for (uint32_t w = 0; w < (1u << 18); ++w)
    if ((w & WINDOW_CENTRE) == 0) t.pattern_table[outer_cells(w)] = compute_pattern_entry(w, rule);
}

void build_combo_table(PatternTables& t, int rule) {
  for (int s = 0; s < 2; ++s)
    for (int p1 = 0; p1 < 16; ++p1)
      for (int p2 = 0; p2 <= p1; ++p2)
        for (int p3 = 0; p3 <= p2; ++p3)
          for (int p4 = 0; p4 <= p3; ++p4) {
            const auto v = static_cast<int16_t>(compute_combo_value(s, p1, p2, p3, p4, rule));
            int c[4] = {p4, p3, p2, p1};  // ascending, for next_permutation
            do {
              t.combo_table[s][c[0]][c[1]][c[2]][c[3]] = v;
            } while (std::next_permutation(c, c + 4));
          }
}

const PatternTables& tables_for_rule(int rule) {
  // Built once per rule and never written again; the tables depend on the
  // rule alone, so every rebuild of every position can share them.
  static std::unique_ptr<PatternTables> tables[3];
  static std::once_flag once[3];
  const int r = effective_rule(rule);
  std::call_once(once[r], [r] {
    auto t = std::make_unique<PatternTables>();
    t->rule = r;
    build_pattern_table(*t, r);
    build_combo_table(*t, r);
    tables[r] = std::move(t);
  });
  return *tables[r];
}

}  // namespace orvel
