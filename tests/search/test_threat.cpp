// The threat search: chains of fours of known length under each rule, blocks
// that BLACK may not play, the defender's own five, the threat cache, aborts,
// and the position coming back exactly as found; cross-checked by a plain
// solver that reads only the cells and by the puzzle file.
#include <gtest/gtest.h>

#include <algorithm>
#include <bitset>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../renju/position_snapshot.h"
#include "search_fixture.h"
#include "renju/forbidden.h"

namespace orvel {
namespace {

using testing::PatternRecordSnapshot;
using Cell = std::pair<int, int>;
using Picture = std::vector<std::string>;  // rows are x, columns y: 'X' BLACK, 'O' WHITE

constexpr int32_t win_at(int p) { return WIN_SCORE + MAX_CELLS - p; }

// A search outside a think, reset for each position without new allocations.
struct Rig : testing::SearchFixture {
  Rig(int size, int rule) : SearchFixture(rule, size, size) { search->last_depth = 10; }
  void reset(int size, int rule) {
    pos->configure(size, size, rule);
    settings.rule = rule;
    hash.clear_hash_tables();
    search->reset_counters();
    search->think_clock = Search::now_ms();
    search->search_aborted = false;
    stop = 0;
  }
  int32_t run(int side, int depth = 10, int ply = 0) { return search->threat_search(depth, side, 0, ply); }
  void put(int x, int y, int v) { pos->make_move(x, y, v); }
  void draw(const Picture& p) {
    for (int x = 0; x < static_cast<int>(p.size()); ++x)
      for (int y = 0; y < static_cast<int>(p[x].size()); ++y)
        if (p[x][y] == 'X' || p[x][y] == 'O') put(x, y, p[x][y] == 'X' ? BLACK : WHITE);
  }
};

// Runs the search on fresh tables and checks that the position, its key and
// every pattern record come back exactly, equal to a fresh build's.
int32_t checked_search(Rig& rig, int side) {
  rig.hash.clear_hash_tables();
  const PatternRecordSnapshot before(*rig.pos);
  const int32_t value = rig.run(side);
  EXPECT_FALSE(rig.search->search_aborted);
  EXPECT_EQ(PatternRecordSnapshot(*rig.pos).diff(before), "");
  EXPECT_EQ(testing::differs_from_fresh_build(*rig.pos), "");
  std::string why;
  EXPECT_TRUE(rig.pos->is_consistent(&why)) << why;
  return value;
}

// A plain solver of the same game reading only the cells (its stones go
// through the position for the Renju forbidden test): fours, on the
// defender's five point if it has one; blocks on every usable five point (a
// defender with none is not beaten); a win at a five point, or at an open-four
// point while the defender has none (for BLACK under Renju only the first, if
// not forbidden). It returns every ply at which a win can be seen.
struct Reference {
  Position& p;
  long cap;
  std::function<bool(int, int, int)> keep;  // the fours it may try; all when empty
  bool first_only = false;                  // stop at the first win
  long nodes = 0;
  int vx = -9, vy = -9, vs = EMPTY;  // one stone that is only imagined

  int at(int x, int y) const { return x == vx && y == vy ? vs : p.on_board(x, y) ? p.cells[x][y] : BLOCKED; }
  int ray(int x, int y, int dx, int dy, int s) const {
    int n = 0;
    while (at(x += dx, y += dy) == s) ++n;
    return n;
  }
  bool exact(int s) const { return p.rule == STANDARD || (p.rule == RENJU && s == BLACK); }
  bool five(int x, int y, int d, int s) const {  // a stone of s at the empty (x, y) makes five along d
    if (at(x, y) != EMPTY) return false;
    const int n = 1 + ray(x, y, dir_dx[d], dir_dy[d], s) + ray(x, y, -dir_dx[d], -dir_dy[d], s);
    return exact(s) ? n == 5 : n >= 5;
  }
  bool open_four(int x, int y, int s) const {
    for (int d = 0; d < 4; ++d) {
      const int dx = dir_dx[d], dy = dir_dy[d], a = ray(x, y, dx, dy, s), b = ray(x, y, -dx, -dy, s);
      const int ax = x + (a + 1) * dx, ay = y + (a + 1) * dy, bx = x - (b + 1) * dx, by = y - (b + 1) * dy;
      if (a + b == 3 && at(ax, ay) == EMPTY && at(bx, by) == EMPTY &&
          (!exact(s) || (at(ax + dx, ay + dy) != s && at(bx - dx, by - dy) != s)))
        return true;
    }
    return false;
  }
  std::vector<Cell> fives(int s) const {
    std::vector<Cell> out;
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y)
        if (five(x, y, 0, s) || five(x, y, 1, s) || five(x, y, 2, s) || five(x, y, 3, s)) out.push_back({x, y});
    return out;
  }
  bool forbidden(int x, int y, int s) { return p.rule == RENJU && s == BLACK && is_forbidden(p, x, y); }

  std::bitset<256> attack(int s, int ply) {
    std::bitset<256> r;
    const int o = 3 - s;
    const std::vector<Cell> theirs = fives(o);
    if (++nodes > cap || !fives(s).empty()) return nodes > cap ? r : r.set(ply);
    for (int x = 0; x < MAX_SIZE && theirs.empty(); ++x)
      for (int y = 0; y < MAX_SIZE; ++y)
        if (at(x, y) == EMPTY && open_four(x, y, s)) {
          if (!forbidden(x, y, s)) return r.set(ply);
          x = MAX_SIZE;
          break;
        }
    for (int x = 0; x < MAX_SIZE && theirs.size() < 2; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) {
        if (at(x, y) != EMPTY || (theirs.size() == 1 && theirs[0] != Cell{x, y})) continue;
        std::vector<Cell> blocks;  // the five points a stone at (x, y) makes
        vx = x, vy = y, vs = s;
        for (int d = 0; d < 4; ++d)
          for (int bx = x - 4 * dir_dx[d], by = y - 4 * dir_dy[d], t = 0; t < 9; ++t, bx += dir_dx[d], by += dir_dy[d])
            if (five(bx, by, d, s)) blocks.push_back({bx, by});
        vx = -9;
        if (blocks.empty() || forbidden(x, y, s) || (keep && !keep(x, y, s))) continue;
        p.make_move(x, y, s);
        std::bitset<256> sub;
        bool all_lose = false;
        for (auto [bx, by] : blocks) {
          if (forbidden(bx, by, o)) continue;
          p.make_move(bx, by, o);
          const std::bitset<256> t = attack(s, ply + 2);
          p.undo_move(bx, by, o);
          all_lose = t.any();
          if (!all_lose) break;
          sub |= t;
        }
        p.undo_move(x, y, s);
        if (all_lose) r |= sub;
        if (nodes > cap || (first_only && r.any())) return r;
      }
    return r;
  }
};

// The fours the threat search keeps, read from the pattern records the way
// it reads them: with this filter the reference walks the search's own tree.
std::function<bool(int, int, int)> search_filter(Rig& rig) {
  return [&rig](int x, int y, int s) {
    const Position& p = *rig.pos;
    const int own = p.score(x, y, s), theirs = p.score(x, y, 3 - s);
    int lines = 0;
    for (int d = 0; d < 4; ++d) lines += p.code(d, x, y, 3 - s) >= PAT_TWO_WIDE;
    if (!p.four_cells[s - 1].contains(x, y) || (own < 262 && lines < 2 && theirs < 46)) return false;
    return own >= 279 || rig.search->neighbourhood_threat_count(x, y, s) > 2;
  };
}

Picture swapped(Picture p) {
  for (auto& row : p)
    for (char& c : row) c = c == 'X' ? 'O' : c == 'O' ? 'X' : c;
  return p;
}
Picture with_row(Picture p, int x, const char* row) {
  p.resize(std::max<size_t>(p.size(), x + 1));
  p[x] = row;
  return p;
}

// BLACK plays (2,6) (WHITE blocks (2,5)), completing the diagonal (2,6)..(4,8);
// (6,10) (block (5,9)) completes column 10 around (7,10); (10,10) is then a
// four on row 10 and column 10 at once: five at ply 6. WHITE's (7,11) rules
// out a four-three; under Renju the double fours are forbidden to BLACK.
const Picture kChainOfThree = {"", ".....O", ".OXXX", ".......X", "........X", "..........O", "",
                               "...........O", "..........X", "..........X", "...........XXXO", "..........O"};
// The diagonal already built: (6,10), then the double four (10,10), ply 4.
const Picture kChainOfTwo = with_row(with_row(kChainOfThree, 2, "......X"), 7, "");
// Without (7,11), BLACK under Renju wins by a four-three: (10,10), then (6,10)
// makes a four on column 10 and an open split three on the diagonal.
const Picture kFourThree = with_row(kChainOfThree, 7, "");
// WHITE's four (4,5) leaves the five point (5,5), where BLACK would make two
// open threes; after that block WHITE's row 4 becomes an open three.
const Picture kForbiddenBlock = {".....X",    ".....O",   ".....O",  ".....O",
                                 ".......OO", "......XX", "......X", ".......X"};
// WHITE's column 10 has the five point (6,10), where BLACK makes a double four;
// BLACK's other shapes do not count while WHITE threatens five.
const Picture kDefenderHasFive = {"", "..........X", "..........O", "..........O", "..........O",
                                  ".........OO", "...........XXXO", "...........X", "............X",
                                  ".............X", "", ".....O", ".....X", ".....X", ".....X", ".OXXX", "",
                                  "..........XXX"};
const Picture kDefenderFiveOnly = with_row(with_row(with_row(with_row(kDefenderHasFive, 6, ""), 7, ""), 8, ""), 9, "");
const Picture kChainBlocked = with_row(kChainOfTwo, 10, ".........O.XXXO");  // the double four taken
const Picture kNoFour = with_row(with_row({}, 7, ".......XO"), 8, "........X");
const Picture kOverline = with_row({}, 7, "..OXXX.XXO");  // the gap makes six
const Picture kFive = with_row({}, 7, "..OXXXX");
const Picture kOpenThree = with_row({}, 7, ".....XXX");
// The first open-four cell of kOpenThree, (7,4), is also a four on column 4:
// under Renju only that cell is tried, and the four (7,8) is too weak for the
// search's filters.
const Picture kFirstOpenFourDoubleFour = {"", "", "", "....O", "....X", "....X", "....X", ".....XXX"};

struct Case {
  const char* name;
  Picture picture;
  int rule, side;
  int32_t expected;
};

// Exact values. The root's result is stored for the attacker and the side to
// move only (an immediate win is not stored). A win entered deeper is worth
// less, whether read back from the cache (in one node) or searched. The
// reference, walking the search's own tree, sees the win at that ply and at
// no other (so no move order could change the value), or sees none.
TEST(ThreatSearch, KnownPositionsUnderEachRule) {
  const Case cases[] = {
      {"chain3 free", kChainOfThree, FREESTYLE, BLACK, win_at(6)},
      {"chain3 standard", kChainOfThree, STANDARD, BLACK, win_at(6)},
      {"chain3 renju black", kChainOfThree, RENJU, BLACK, 0},
      {"chain3 renju white", swapped(kChainOfThree), RENJU, WHITE, win_at(6)},
      {"chain3 standard white", swapped(kChainOfThree), STANDARD, WHITE, win_at(6)},
      {"chain2 free", kChainOfTwo, FREESTYLE, BLACK, win_at(4)},
      {"chain2 standard", kChainOfTwo, STANDARD, BLACK, win_at(4)},
      {"chain2 renju black", kChainOfTwo, RENJU, BLACK, 0},
      {"chain2 renju white", swapped(kChainOfTwo), RENJU, WHITE, win_at(4)},
      {"chain2 blocked", kChainBlocked, STANDARD, BLACK, 0},
      {"no four free", kNoFour, FREESTYLE, BLACK, 0},
      {"no four renju", kNoFour, RENJU, BLACK, 0},
      {"four-three renju", kFourThree, RENJU, BLACK, win_at(4)},
      {"forbidden block standard", kForbiddenBlock, STANDARD, WHITE, win_at(2)},
      {"forbidden block renju", kForbiddenBlock, RENJU, WHITE, 0},
      {"defender five free", kDefenderHasFive, FREESTYLE, BLACK, win_at(2)},
      {"defender five standard", kDefenderHasFive, STANDARD, BLACK, win_at(2)},
      {"defender five, no four on it", kDefenderFiveOnly, FREESTYLE, BLACK, 0},
      {"overline free", kOverline, FREESTYLE, BLACK, win_at(0)},
      {"overline standard", kOverline, STANDARD, BLACK, 0},
      {"overline renju black", kOverline, RENJU, BLACK, 0},
      {"overline renju white", swapped(kOverline), RENJU, WHITE, win_at(0)},
      {"overline standard white", swapped(kOverline), STANDARD, WHITE, 0},
      {"five renju", kFive, RENJU, BLACK, win_at(0)},
      {"open three renju", kOpenThree, RENJU, BLACK, win_at(0)},
      {"open three standard white", swapped(kOpenThree), STANDARD, WHITE, win_at(0)},
      {"first open four forbidden, standard", kFirstOpenFourDoubleFour, STANDARD, BLACK, win_at(0)},
      {"first open four forbidden, renju", kFirstOpenFourDoubleFour, RENJU, BLACK, 0},
  };
  Rig rig(20, FREESTYLE);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.reset(20, c.rule);
    rig.draw(c.picture);
    const uint64_t key = rig.pos->zobrist_key;
    EXPECT_EQ(checked_search(rig, c.side), c.expected);
    EXPECT_EQ(rig.hash.cache_probe(0, c.side, MAX_CELLS, key), c.expected == win_at(0) ? NO_VALUE : c.expected);
    EXPECT_EQ(rig.hash.cache_probe(1, c.side, MAX_CELLS, key), NO_VALUE);
    EXPECT_EQ(rig.hash.cache_probe(0, 3 - c.side, MAX_CELLS, key), NO_VALUE);
    const uint64_t nodes = rig.search->node_count;
    EXPECT_EQ(rig.run(c.side, 10, 3), c.expected ? c.expected - 3 : 0);
    EXPECT_EQ(rig.search->node_count, nodes + 1);
    rig.hash.clear_hash_tables();
    EXPECT_EQ(rig.run(c.side, 10, 5), c.expected ? c.expected - 5 : 0);
    Reference ref{*rig.pos, 2000000, search_filter(rig)};
    std::bitset<256> want;
    if (c.expected != 0) want.set(WIN_SCORE + MAX_CELLS - c.expected);
    EXPECT_EQ(ref.attack(c.side, 0), want);
    EXPECT_LE(ref.nodes, ref.cap);
  }
}

// The defender node itself: BLACK, to block WHITE's four, may not play the
// only five point. It tries no block, is worth 0 and stores the 0.
TEST(ThreatSearch, RenjuDefenderWithOnlyAForbiddenBlockIsNotBeaten) {
  Rig rig(20, RENJU);
  rig.draw(kForbiddenBlock);
  rig.put(4, 5, WHITE);
  MoveEntry fives[4];
  ASSERT_EQ(rig.pos->list_five_cells(fives, WHITE), 1);
  ASSERT_EQ(is_forbidden(*rig.pos, 5, 5), 1);
  EXPECT_EQ(rig.search->threat_search(9, BLACK, 1, 1), 0);
  EXPECT_EQ(rig.search->node_count, 1u);
  EXPECT_EQ(rig.hash.cache_probe(1, BLACK, MAX_CELLS - 1, rig.pos->zobrist_key), 0);
}

// A child found in the cache decides its parent before any stone is placed,
// and the win read through it is exactly as far away as the full search
// finds it; a block known to hold ends the defender node.
TEST(ThreatCache, ChildrenFoundInTheCacheDecideTheNode) {
  Rig rig(20, FREESTYLE);
  rig.draw(kChainOfThree);
  rig.put(2, 6, BLACK);
  EXPECT_EQ(rig.search->threat_search(9, WHITE, 1, 1), -win_at(6));
  rig.pos->undo_move(2, 6, BLACK);
  uint64_t nodes = rig.search->node_count;
  EXPECT_EQ(rig.run(BLACK), win_at(6));
  EXPECT_EQ(rig.search->node_count, nodes + 1);
  rig.reset(20, STANDARD);
  rig.draw(kChainBlocked);  // after (6,10) and the block (5,9) BLACK has nothing
  rig.put(6, 10, BLACK);
  rig.put(5, 9, WHITE);
  EXPECT_EQ(rig.search->threat_search(8, BLACK, 0, 2), 0);
  rig.pos->undo_move(5, 9, WHITE);
  nodes = rig.search->node_count;
  EXPECT_EQ(rig.search->threat_search(9, WHITE, 1, 1), 0);
  EXPECT_EQ(rig.search->node_count, nodes + 1);
}

// Every node is a possible abort point: with the stop flag raised and the
// counter set so that the limit test falls on the k-th node, the search
// returns 0, flags the abort, stores nothing for the root and leaves the
// position exactly as found. Without the flag the same counts change nothing.
TEST(ThreatAbort, PositionIsRestoredWhereverTheSearchStops) {
  Rig rig(20, FREESTYLE);
  rig.draw(kChainOfThree);
  ASSERT_EQ(checked_search(rig, BLACK), win_at(6));
  rig.hash.clear_hash_tables();
  rig.search->node_count = 0;
  rig.run(BLACK);
  const uint64_t total = rig.search->node_count;
  const PatternRecordSnapshot before(*rig.pos);
  for (uint64_t k = 1; k <= total; ++k)
    for (int stop : {1, 0}) {
      rig.hash.clear_hash_tables();
      rig.search->search_aborted = false;
      rig.stop = stop;
      rig.search->node_count = 1024 - k;
      EXPECT_EQ(rig.run(BLACK), stop ? 0 : win_at(6)) << k;
      EXPECT_EQ(rig.search->search_aborted, stop == 1) << k;
      EXPECT_EQ(PatternRecordSnapshot(*rig.pos).diff(before), "") << k;
      EXPECT_TRUE(!stop || rig.hash.cache_probe(0, BLACK, MAX_CELLS, rig.pos->zobrist_key) == NO_VALUE) << k;
    }
}

// The puzzle file: one JSON object per line, with answers from an
// independent solver. Never a win in a no-vcf position, where the unfiltered
// reference finds none either (a check of the reference). In a vcf-win
// position the search wins exactly when the reference walking its filtered
// tree does, so every miss is the filters' doing; and a win is never shorter
// than the shortest known chain.
TEST(ThreatPuzzles, AgreeWithTheFileAndTheReference) {
  std::ifstream in(std::string(ORVEL_TEST_DATA) + "/vcf.jsonl");
  auto field = [](const std::string& s, const std::string& name) {  // an integer; null reads 0
    return std::atoi(s.c_str() + s.find("\"" + name + "\":") + name.size() + 3);
  };
  int line = 0, no_vcf = 0, wins = 0, solved = 0;
  Rig rig(15, FREESTYLE);
  for (std::string s; std::getline(in, s);) {
    SCOPED_TRACE("line " + std::to_string(++line));
    const bool win = s.find("\"kind\":\"vcf-win\"") != std::string::npos;
    const int side = field(s, "to_move");
    std::vector<int> m;  // x, y, x, y, ... from BLACK on
    for (size_t i = s.find("\"moves\":"), end = s.find("\"to_move\":"); i < end; ++i)
      if (std::isdigit(s[i]) && !std::isdigit(s[i - 1])) m.push_back(std::atoi(&s[i]));
    rig.reset(field(s, "size"), field(s, "rule_id"));
    for (size_t i = 0; i + 1 < m.size(); i += 2) rig.put(m[i], m[i + 1], i % 4 ? WHITE : BLACK);
    const int32_t v = checked_search(rig, side);
    Reference ref{*rig.pos, 200000, win ? search_filter(rig) : nullptr, true};
    EXPECT_EQ(v != 0, ref.attack(side, 0).any()) << v;  // never negative at the root
    EXPECT_LE(ref.nodes, ref.cap);
    EXPECT_TRUE(win || v == 0) << v;
    no_vcf += !win;
    wins += win;
    if (v == 0) continue;
    ++solved;
    const int p = WIN_SCORE + MAX_CELLS - v;
    EXPECT_TRUE(is_win(v) && p % 2 == 0) << v;
    EXPECT_GE(p / 2 + 2, field(s, "min_length"));
  }
  EXPECT_EQ(no_vcf, 57);
  EXPECT_EQ(wins, 136);
  EXPECT_GE(solved, 70);  // 72 when measured
}

}  // namespace
}  // namespace orvel
