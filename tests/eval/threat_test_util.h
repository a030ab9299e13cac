// Helpers for the threat-search tests: a search rig outside any think, a
// plain reference solver for chains of fours that reads only the cells, and
// a reader for the puzzle file.
#pragma once

#include <atomic>
#include <bitset>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "board/position.h"
#include "protocol/game_record.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "renju/forbidden.h"
#include "search/hash.h"
#include "search/search.h"

namespace orvel::testing {

// A Search with its own position, small hash tables and settings, ready to
// run the threat search the way a think would.
struct ThreatRig {
  std::unique_ptr<Position> pos = std::make_unique<Position>();
  HashTables hash;
  Settings settings;
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  std::atomic<int32_t> stop{0};
  CaptureOutput out;
  std::unique_ptr<Search> search;

  ThreatRig(int width, int height, int rule, int64_t buckets = 1 << 14) {
    pos->configure(width, height, rule);
    hash.tt_buckets = buckets;
    hash.cache_buckets = buckets;
    hash.resize_hash_tables();
    hash.clear_hash_tables();
    search = std::make_unique<Search>(*pos, hash, settings, *record, stop, out);
    prepare();
  }

  // A new empty board for another position, keeping the allocations.
  void reset(int width, int height, int rule) {
    pos->configure(width, height, rule);
    hash.clear_hash_tables();
    search->reset_counters();
    stop = 0;
    prepare();
  }

  // The think state a search expects: an iteration depth, a fresh clock, a
  // budget that the test never reaches.
  void prepare(int last_depth = 10) {
    search->last_depth = last_depth;
    search->think_clock = Search::now_ms();
    search->move_budget = 1000000000;
    search->search_aborted = false;
  }

  int32_t run(int side, int depth = 10, int ply = 0) { return search->threat_search(depth, side, 0, ply); }

  void put(int x, int y, int v) { pos->make_move(x, y, v); }
  // Rows are x, columns y: 'X' BLACK, 'O' WHITE, '#' BLOCKED.
  void picture(std::initializer_list<const char*> rows) {
    int x = 0;
    for (const char* row : rows) {
      for (int y = 0; row[y]; ++y) {
        const char c = row[y];
        if (c == 'X') put(x, y, BLACK);
        if (c == 'O') put(x, y, WHITE);
        if (c == '#') put(x, y, BLOCKED);
      }
      ++x;
    }
  }
};

// ---------------------------------------------------------------------------
// Reference solver. It keeps its own copy of the cells and knows nothing of
// the pattern records or the threat cache; only the Renju forbidden test is
// borrowed from the engine, on a position kept in step with the reference's
// own stones.
//
// It plays the same game as the threat search, without the filters: the
// attacker plays any four (on the defender's five point when the defender
// has one), the defender blocks on every five point it may use, and a win
// is seen at an attacker node that has a five point, or an open-four point
// while the defender has no five point (for BLACK under Renju only the
// first open-four point counts, and only when it is not forbidden). A BLACK
// defender with no usable block is not beaten. Instead of one value it
// returns every ply at which the win can be seen, over every choice of
// winning four and every block; a threat search that starts from an empty
// cache returns WIN_SCORE + 576 - p for some p in that set, as long as no
// win reaches it through a child found in the cache (such a win counts two
// plies nearer, see the threat-cache tests).
class ReferenceVcf {
 public:
  using PlySet = std::bitset<256>;

  // Optional: which fours the attacker may play (asked before the stone is
  // placed, with the position in step); all of them when empty.
  std::function<bool(int x, int y, int side)> keep_four;
  // Stop at the first win found instead of collecting every ply.
  bool first_only = false;

  ReferenceVcf(Position& pos, long node_cap) : pos_(pos), rule_(pos.rule), cap_(node_cap) {
    for (auto& row : frame_)
      for (int& c : row) c = BLOCKED;
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) set(x, y, pos.on_board(x, y) ? pos.cells[x][y] : BLOCKED);
  }

  // The plies (from this node, ply 0) at which a win of `side` can be seen
  // using at most `fours` fours. gave_up() tells whether the cap cut it.
  PlySet win_plies(int side, int fours) {
    nodes_ = 0;
    return attack(side, 0, fours);
  }
  bool gave_up() const { return nodes_ > cap_; }
  long nodes() const { return nodes_; }

  static int first_ply(const PlySet& s) {
    for (int i = 0; i < 256; ++i)
      if (s[i]) return i;
    return -1;
  }

  bool makes_five(int x, int y, int side) const {
    if (!enough_stones(x, y, side, 4)) return false;
    for (int d = 0; d < 4; ++d)
      if (five_along(x, y, d, side)) return true;
    return false;
  }

  // Every cell where `side` would complete five.
  std::vector<std::pair<int, int>> five_points(int side) const {
    std::vector<std::pair<int, int>> out;
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y)
        if (at(x, y) == EMPTY && makes_five(x, y, side)) out.push_back({x, y});
    return out;
  }

 private:
  // Some line through (x, y) holds at least n stones of side within four
  // steps: a quick test that rules out most cells before the real one.
  bool enough_stones(int x, int y, int side, int n) const {
    for (int d = 0; d < 4; ++d) {
      int count = 0;
      for (int t = -4; t <= 4; ++t) {
        const int cx = x + t * dir_dx[d], cy = y + t * dir_dy[d];
        if (t != 0 && at(cx, cy) == side) ++count;
      }
      if (count >= n) return true;
    }
    return false;
  }

  // The length of the run of side's stones through (x, y) in direction d,
  // counting (x, y) itself as one of them.
  int run(int x, int y, int d, int side) const {
    int n = 1;
    for (int s = -1; s <= 1; s += 2) {
      int cx = x + s * dir_dx[d], cy = y + s * dir_dy[d];
      while (at(cx, cy) == side) ++n, cx += s * dir_dx[d], cy += s * dir_dy[d];
    }
    return n;
  }
  bool five_along(int x, int y, int d, int side) const {
    const int n = run(x, y, d, side);
    const bool exact = rule_ == STANDARD || (rule_ == RENJU && side == BLACK);
    return exact ? n == 5 : n >= 5;
  }

  // A stone of side at the empty (x, y) makes a straight four whose two
  // completing cells are both free and both make five.
  bool open_four_point(int x, int y, int side) {
    set(x, y, side);
    bool open = false;
    for (int d = 0; d < 4 && !open; ++d) {
      if (run(x, y, d, side) != 4) continue;
      int ax = x, ay = y, bx = x, by = y;
      while (at(ax, ay) == side) ax += dir_dx[d], ay += dir_dy[d];
      while (at(bx, by) == side) bx -= dir_dx[d], by -= dir_dy[d];
      open = at(ax, ay) == EMPTY && at(bx, by) == EMPTY && five_along(ax, ay, d, side) && five_along(bx, by, d, side);
    }
    set(x, y, EMPTY);
    return open;
  }

  // The five points of side on the lines through (x, y), within four steps.
  std::vector<std::pair<int, int>> five_points_near(int x, int y, int side) const {
    std::vector<std::pair<int, int>> out;
    for (int d = 0; d < 4; ++d)
      for (int t = -4; t <= 4; ++t) {
        const int cx = x + t * dir_dx[d], cy = y + t * dir_dy[d];
        if (t == 0 || at(cx, cy) != EMPTY) continue;
        bool seen = false;
        for (auto& c : out) seen |= c.first == cx && c.second == cy;
        if (!seen && makes_five(cx, cy, side)) out.push_back({cx, cy});
      }
    return out;
  }

  void place(int x, int y, int v) {
    set(x, y, v);
    pos_.make_move(x, y, v);
  }
  void take(int x, int y, int v) {
    set(x, y, EMPTY);
    pos_.undo_move(x, y, v);
  }

  PlySet attack(int side, int ply, int fours) {
    PlySet result;
    if (++nodes_ > cap_) return result;
    const int opp = 3 - side;
    if (!five_points(side).empty()) return result.set(ply);
    const auto theirs = five_points(opp);
    if (theirs.empty()) {
      for (int x = 0; x < MAX_SIZE; ++x)
        for (int y = 0; y < MAX_SIZE; ++y) {
          if (at(x, y) != EMPTY || !enough_stones(x, y, side, 3) || !open_four_point(x, y, side)) continue;
          if (rule_ == RENJU && side == BLACK && is_forbidden(pos_, x, y)) return result;  // only the first
          return result.set(ply);
        }
    }
    if (theirs.size() >= 2 || fours <= 0) return result;
    for (int x = 0; x < MAX_SIZE; ++x)
      for (int y = 0; y < MAX_SIZE; ++y) {
        if (at(x, y) != EMPTY) continue;
        if (theirs.size() == 1 && (theirs[0].first != x || theirs[0].second != y)) continue;
        if (!enough_stones(x, y, side, 3)) continue;  // cannot make a four
        set(x, y, side);
        auto blocks = five_points_near(x, y, side);
        set(x, y, EMPTY);
        if (blocks.empty()) continue;  // not a four
        if (rule_ == RENJU && side == BLACK && is_forbidden(pos_, x, y)) continue;
        if (keep_four && !keep_four(x, y, side)) continue;
        place(x, y, side);
        if (rule_ == RENJU && opp == BLACK) {
          std::vector<std::pair<int, int>> usable;
          for (auto& c : blocks)
            if (!is_forbidden(pos_, c.first, c.second)) usable.push_back(c);
          blocks = usable;
        }
        PlySet sub;
        bool all_lose = !blocks.empty();
        for (auto& c : blocks) {
          place(c.first, c.second, opp);
          const PlySet s = attack(side, ply + 2, fours - 1);
          take(c.first, c.second, opp);
          if (s.none()) {
            all_lose = false;
            break;
          }
          sub |= s;
        }
        take(x, y, side);
        if (all_lose) result |= sub;
        if (nodes_ > cap_ || (first_only && result.any())) return result;
      }
    return result;
  }

  Position& pos_;
  int rule_;
  long cap_;
  long nodes_ = 0;
  // The cells with a frame of four BLOCKED cells on every side, so that
  // walks and windows need no bounds tests.
  static constexpr int FRAME = 4;
  int frame_[MAX_SIZE + 2 * FRAME][MAX_SIZE + 2 * FRAME];
  int at(int x, int y) const { return frame_[x + FRAME][y + FRAME]; }
  void set(int x, int y, int v) { frame_[x + FRAME][y + FRAME] = v; }
};

// ---------------------------------------------------------------------------
// The puzzle file: one JSON object per line. Only the fields the tests use
// are read, with a reader that knows exactly this file's shape.
struct Puzzle {
  int line = 0;
  int rule = 0;
  int size = 15;
  int to_move = 1;
  bool vcf_win = false;
  int min_length = 0;  // 0 for "no-vcf"
  std::vector<std::pair<int, int>> moves;
  std::vector<std::pair<int, int>> winning_moves;
  std::string notes;  // the raw notes array
};

inline std::string json_field(const std::string& s, const std::string& name) {
  const std::string tag = "\"" + name + "\":";
  const size_t at = s.find(tag);
  if (at == std::string::npos) return "";
  size_t i = at + tag.size(), depth = 0;
  const size_t start = i;
  bool in_string = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') in_string = !in_string;
    if (in_string) continue;
    if (c == '[' || c == '{') ++depth;
    if (c == ']' || c == '}') {
      if (depth == 0) break;
      --depth;
    }
    if (c == ',' && depth == 0) break;
  }
  return s.substr(start, i - start);
}

inline std::vector<std::pair<int, int>> json_pairs(const std::string& v) {
  std::vector<std::pair<int, int>> out;
  std::vector<int> nums;
  int cur = 0;
  bool in_num = false;
  for (char c : v) {
    if (c >= '0' && c <= '9') {
      cur = cur * 10 + (c - '0');
      in_num = true;
    } else {
      if (in_num) nums.push_back(cur);
      cur = 0;
      in_num = false;
    }
  }
  if (in_num) nums.push_back(cur);
  for (size_t i = 0; i + 1 < nums.size(); i += 2) out.push_back({nums[i], nums[i + 1]});
  return out;
}

inline std::vector<Puzzle> load_puzzles(const std::string& path) {
  std::vector<Puzzle> out;
  std::ifstream in(path);
  std::string s;
  int line = 0;
  while (std::getline(in, s)) {
    ++line;
    if (s.empty()) continue;
    Puzzle p;
    p.line = line;
    p.rule = std::stoi(json_field(s, "rule_id"));
    p.size = std::stoi(json_field(s, "size"));
    p.to_move = std::stoi(json_field(s, "to_move"));
    p.vcf_win = json_field(s, "kind") == "\"vcf-win\"";
    const std::string ml = json_field(s, "min_length");
    p.min_length = ml == "null" ? 0 : std::stoi(ml);
    p.moves = json_pairs(json_field(s, "moves"));
    p.winning_moves = json_pairs(json_field(s, "winning_moves"));
    p.notes = json_field(s, "notes");
    out.push_back(std::move(p));
  }
  return out;
}

inline void set_up_puzzle(ThreatRig& rig, const Puzzle& p) {
  for (size_t i = 0; i < p.moves.size(); ++i) rig.put(p.moves[i].first, p.moves[i].second, i % 2 == 0 ? BLACK : WHITE);
}

}  // namespace orvel::testing
