#include "board/position.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/bits.h"

namespace orvel {

namespace {

// Which code set a code belongs to: 0 five, 1 open four, 2 four, 3 three.
constexpr int8_t set_of_code[16] = {-1, -1, -1, -1, -1, -1, -1, 3, 3, 2, 2, 1, 0, -1, -1, -1};

// The fields in which a looked-up entry and a stored record differ, both
// read as one word: code[0], code[1], space[0], space[1] in 8-bit lanes
// from the lowest.
inline uint32_t pattern_difference(const PatternEntry& e, const DirPattern& r) {
  static_assert(sizeof(PatternEntry) == sizeof(uint32_t) && sizeof(DirPattern) == sizeof(uint32_t),
                "entries and records compare as one word");
  uint32_t a, b;
  std::memcpy(&a, &e, sizeof a);
  std::memcpy(&b, &r, sizeof b);
  return a ^ b;
}
// The lanes of each side's code and space in that word (little-endian).
constexpr uint32_t SIDE_LANES[2] = {0x00FF00FFu, 0xFF00FF00u};

// What a cell adds to its side's room total.
inline int room_of(int weight, int score) { return (weight >= 25 && score >= 6) ? weight : 0; }

// The record change sits in the innermost loop of every placement; a call
// there costs more than the change itself.
#if defined(_MSC_VER)
#define ORVEL_ALWAYS_INLINE __forceinline
#else
#define ORVEL_ALWAYS_INLINE inline __attribute__((always_inline))
#endif

}  // namespace

Position::Position() {
  std::memset(cells, 0, sizeof cells);
  std::memset(y_lines, 0, sizeof y_lines);
  std::memset(x_lines, 0, sizeof x_lines);
  std::memset(anti_lines, 0, sizeof anti_lines);
  std::memset(diag_lines, 0, sizeof diag_lines);
  std::memset(anti_pos, 0, sizeof anti_pos);
  std::memset(diag_pos, 0, sizeof diag_pos);
  std::memset(zobrist_keys, 0, sizeof zobrist_keys);
  std::memset(dir_patterns, 0, sizeof dir_patterns);
  std::memset(cell_records, 0, sizeof cell_records);
  std::memset(side_total, 0, sizeof side_total);
  std::memset(room_total, 0, sizeof room_total);
  std::memset(five_cells, 0, sizeof five_cells);
  std::memset(open_four_cells, 0, sizeof open_four_cells);
  std::memset(four_cells, 0, sizeof four_cells);
  std::memset(three_cells, 0, sizeof three_cells);
  std::memset(strong_cells, 0, sizeof strong_cells);
  std::memset(code_keys, 0, sizeof code_keys);
}

void Position::configure(int width, int height, int rule_value) {
  board_width = std::clamp(width, 1, MAX_SIZE);
  board_height = std::clamp(height, 1, MAX_SIZE);
  board_size = std::max(board_width, board_height);
  rule = effective_rule(rule_value);
  update_radius = rule == FREESTYLE ? 4 : 5;
  build_tables();
  clear_position();
}

uint32_t Position::next_rand() {
  // The classic linear congruential generator: 15-bit results.
  rand_state = rand_state * 214013u + 2531011u;
  return (rand_state >> 16) & 0x7FFFu;
}

void Position::build_tables() {
  tables = &tables_for_rule(rule);
  for (int x = 0; x < MAX_SIZE; ++x)
    for (int y = 0; y < MAX_SIZE; ++y)
      for (int v = 0; v < 3; ++v) {
        uint64_t key = next_rand();
        for (int i = 0; i < 4; ++i) key = (key << 15) ^ next_rand();
        zobrist_keys[x][y][v] = key;
      }
  for (int x = 0; x < board_size; ++x)
    for (int y = 0; y < board_size; ++y) {
      anti_pos[x][y] = std::min(y, board_size - 1 - x);
      diag_pos[x][y] = std::min(x, y);
    }
}

void Position::clear_position() {
  const int n = board_size;
  std::memset(cells, 0, sizeof cells);
  std::memset(y_lines, 0, sizeof y_lines);
  std::memset(x_lines, 0, sizeof x_lines);
  std::memset(anti_lines, 0, sizeof anti_lines);
  std::memset(diag_lines, 0, sizeof diag_lines);

  // Border marks: BLOCKED just before and just after every line.
  auto mark = [](uint64_t& word, int p) { word |= uint64_t{3} << (2 * p + 8); };
  for (int i = 0; i < n; ++i) {
    mark(y_lines[i], -1);
    mark(y_lines[i], n);
    mark(x_lines[i], -1);
    mark(x_lines[i], n);
  }
  for (int i = 0; i <= 2 * n - 2; ++i) {
    mark(anti_lines[i], -1);
    mark(anti_lines[i], std::min(i, 2 * n - 2 - i) + 1);
  }
  for (int j = 1; j <= 2 * n - 1; ++j) {
    mark(diag_lines[j], -1);
    mark(diag_lines[j], n - std::abs(n - j));
  }

  // Initial records: every cell of the square takes what the pattern table
  // says of its empty window (code 0, the free space up to the edges), so
  // the empty board's records are the ones any later refresh would write.
  std::memset(dir_patterns, 0, sizeof dir_patterns);
  std::memset(cell_records, 0, sizeof cell_records);
  std::memset(side_total, 0, sizeof side_total);
  std::memset(room_total, 0, sizeof room_total);
  std::memset(five_cells, 0, sizeof five_cells);
  std::memset(open_four_cells, 0, sizeof open_four_cells);
  std::memset(four_cells, 0, sizeof four_cells);
  std::memset(three_cells, 0, sizeof three_cells);
  std::memset(strong_cells, 0, sizeof strong_cells);
  std::memset(code_keys, 0, sizeof code_keys);
  stone_count = 0;
  for (int x = 0; x < n; ++x)
    for (int y = 0; y < n; ++y)
      for (int d = 0; d < 4; ++d) {
        const PatternEntry e = tables->entry(line_window(line_word(d, x, y), line_position(d, x, y)));
        for (int s = 0; s < 2; ++s) change_code<true>(x, y, s, d, e.code[s], e.space[s]);
      }

  zobrist_key = 0;

  if (board_width != board_height)
    for (int x = 0; x < n; ++x)
      for (int y = 0; y < n; ++y)
        if (x >= board_height || y >= board_width) make_move(x, y, BLOCKED);
}

uint64_t Position::line_word(int d, int x, int y) const {
  switch (d) {
    case 0: return y_lines[x];
    case 1: return x_lines[y];
    case 2: return anti_lines[x + y];
    default: return diag_lines[board_size + x - y];
  }
}

int Position::line_position(int d, int x, int y) const {
  switch (d) {
    case 0: return y;
    case 1: return x;
    case 2: return anti_pos[x][y];
    default: return diag_pos[x][y];
  }
}

CellSet* Position::code_set(int code, int s) {
  switch (set_of_code[code]) {
    case 0: return &five_cells[s];
    case 1: return &open_four_cells[s];
    case 2: return &four_cells[s];
    case 3: return &three_cells[s];
    default: return nullptr;
  }
}

template <bool Full>
void Position::remove_cell_contribution(int x, int y, int s, int d) {
  undo_log.clear();
  const CellRecord& r = cell_records[x][y];
  side_total[s] -= r.contribution[s];
  if (r.weight[s] >= 25 && r.score[s] >= 6) room_total[s] -= r.weight[s];
  if (CellSet* set = code_set(dir_patterns[d][x][y].code[s], s)) set->remove_dir(x, y, d);
  if (Full && r.score[s] >= STRONG_SCORE) strong_cells[s].remove_cell(x, y);
}

template <bool Full>
void Position::add_cell_contribution(int x, int y, int s, int d) {
  undo_log.clear();
  CellRecord& r = cell_records[x][y];
  const int c0 = dir_patterns[0][x][y].code[s], c1 = dir_patterns[1][x][y].code[s];
  const int c2 = dir_patterns[2][x][y].code[s], c3 = dir_patterns[3][x][y].code[s];
  r.combined[s] = static_cast<int16_t>(tables->combo_table[s][c0][c1][c2][c3] + r.score[s]);
  code_keys[x][y][s] = static_cast<uint16_t>(c0 << 12 | c1 << 8 | c2 << 4 | c3);
  if (r.weight[s] >= 25 && r.score[s] >= 6) room_total[s] += r.weight[s];
  r.contribution[s] = static_cast<int16_t>((r.weight[s] * r.combined[s]) / 32);
  side_total[s] += r.contribution[s];
  if (CellSet* set = code_set(dir_patterns[d][x][y].code[s], s)) set->add_dir(x, y, d);
  if (Full && r.score[s] >= STRONG_SCORE) strong_cells[s].add_cell(x, y);
}

void Position::save_record(int x, int y, int d) {
  RecordSave& r = undo_log.record[undo_log.records++];
  r.x = static_cast<uint8_t>(x);
  r.y = static_cast<uint8_t>(y);
  r.d = static_cast<uint8_t>(d);
  r.pattern = dir_patterns[d][x][y];
  r.record = cell_records[x][y];
  r.keys[0] = code_keys[x][y][0];
  r.keys[1] = code_keys[x][y][1];
}

void Position::save_set(CellSet& set, int x, int y, bool dirs) {
  SetSave& r = undo_log.set[undo_log.sets++];
  r.summary = &set.summary;
  r.row = &set.rows[x];
  r.dirs = dirs ? &set.dirs[x][y] : nullptr;
  r.old_summary = set.summary;
  r.old_row = set.rows[x];
  r.old_dirs = set.dirs[x][y];
}

template <bool Full, bool Log>
ORVEL_ALWAYS_INLINE void Position::change_record(int x, int y, int s, int d, int new_code, int new_space) {
  DirPattern& p = dir_patterns[d][x][y];
  CellRecord& r = cell_records[x][y];
  const int old_code = p.code[s];
  const int old_score = r.score[s], old_weight = r.weight[s];
  const int score = old_score + code_weight[new_code] - code_weight[old_code];
  const int weight = old_weight + new_space - p.space[s];
  p.code[s] = static_cast<int8_t>(new_code);
  p.space[s] = static_cast<int8_t>(new_space);
  r.score[s] = static_cast<int16_t>(score);
  r.weight[s] = static_cast<int16_t>(weight);

  const int shift = 12 - 4 * d;
  const uint16_t key = static_cast<uint16_t>((code_keys[x][y][s] & ~(0xF << shift)) | (new_code << shift));
  code_keys[x][y][s] = key;
  const int combined = (&tables->combo_table[s][0][0][0][0])[key] + score;
  r.combined[s] = static_cast<int16_t>(combined);
  const int contribution = static_cast<int16_t>((weight * combined) / 32);
  side_total[s] += contribution - r.contribution[s];
  r.contribution[s] = static_cast<int16_t>(contribution);
  room_total[s] += room_of(weight, score) - room_of(old_weight, old_score);

  const int old_set = set_of_code[old_code], new_set = set_of_code[new_code];
  if (old_set != new_set) {
    if (old_set >= 0) {
      CellSet* set = code_set(old_code, s);
      if (Log) save_set(*set, x, y, true);
      set->remove_dir(x, y, d);
    }
    if (new_set >= 0) {
      CellSet* set = code_set(new_code, s);
      if (Log) save_set(*set, x, y, true);
      set->add_dir(x, y, d);
    }
  }
  if (Full) {
    const bool was_strong = old_score >= STRONG_SCORE, strong = score >= STRONG_SCORE;
    if (was_strong != strong) {
      if (Log) save_set(strong_cells[s], x, y, false);
      if (strong)
        strong_cells[s].add_cell(x, y);
      else
        strong_cells[s].remove_cell(x, y);
    }
  }
}

bool Position::real_open_four(int x, int y, int d, int v) const {
  const int dx = dir_dx[d], dy = dir_dy[d];
  for (int sign = 1; sign >= -1; sign -= 2) {
    int cx = x + sign * dx, cy = y + sign * dy;
    while (on_board(cx, cy) && cells[cx][cy] == v) cx += sign * dx, cy += sign * dy;
    if (!on_board(cx, cy)) continue;  // the walk reached the edge
    const int bx = cx + sign * dx, by = cy + sign * dy;
    if (on_board(bx, by) && cells[bx][by] == v) return false;
  }
  return true;
}

int Position::exact_code(int x, int y, int d, int v, int code) const {
  const int dx = dir_dx[d], dy = dir_dy[d];
  auto holds = [&](int cx, int cy) { return on_board(cx, cy) && cells[cx][cy] == v; };
  if (code == PAT_FIVE) {
    const bool too_long = (!holds(x - dx, y - dy) && holds(x + 5 * dx, y + 5 * dy)) ||
                          (!holds(x + dx, y + dy) && holds(x - 5 * dx, y - 5 * dy));
    return too_long ? PAT_OVERLINE : code;
  }
  if (code == PAT_OPEN_FOUR && !real_open_four(x, y, d, v)) return PAT_FOUR;
  return code;
}

template <bool Full>
void Position::exact_five_fix(int x, int y, int d, int v) {
  const int s = v - 1;
  DirPattern& p = dir_patterns[d][x][y];
  const int code = exact_code(x, y, d, v, p.code[s]);
  if (code != p.code[s]) change_code<Full>(x, y, s, d, code, p.space[s]);  // the space stays
}

template <bool Full, bool Placing>
void Position::refresh_line_impl(int d, int x, int y) {
  const int R = update_radius;
  const int dx = dir_dx[d], dy = dir_dy[d];
  const uint64_t word = line_word(d, x, y);
  const int p0 = line_position(d, x, y);
  const PatternEntry* table = tables->pattern_table;
  // Which sides need the exact-five correction under this rule.
  const bool fix_black = rule != FREESTYLE;
  const bool fix_white = rule == STANDARD;

  // The range of steps i along the line that stay on the board.
  int lo = -R, hi = R;
  if (d == 0) {
    lo = -std::min(y, R);
    hi = std::min(R, board_width - 1 - y);
  } else if (d == 1) {
    lo = -std::min(x, R);
    hi = std::min(R, board_height - 1 - x);
  } else {
    // Directions 2 and 3: clip i so that 0 <= x + i*dx < height, 0 <= y + i*dy < width.
    // dy = +1 for both; dx = -1 (d = 2) or +1 (d = 3).
    lo = std::max(lo, -y);
    hi = std::min(hi, board_width - 1 - y);
    if (dx > 0) {
      lo = std::max(lo, -x);
      hi = std::min(hi, board_height - 1 - x);
    } else {
      lo = std::max(lo, x - (board_height - 1));
      hi = std::min(hi, x);
    }
  }

  for (int i = lo; i <= hi; ++i) {
    const uint32_t window = line_window(word, p0 + i);
    // An occupied cell holds the empty record before and after: the table
    // gives it nothing in any window. The one played is already emptied by
    // a placement (clear_played_cell), so only a removal looks it up.
    if ((Placing || i != 0) && (window & WINDOW_CENTRE) != 0) continue;
    const int cx = x + i * dx, cy = y + i * dy;
    // A placement has skipped every occupied centre and indexes directly
    // (entry()'s test costs the placement about 6%); a refresh may be asked
    // for an occupied cell itself, which entry() reads as nothing.
    PatternEntry e = Placing ? table[outer_cells(window)] : tables->entry(window);
    // The exact-five correction reads the cells only, so it is applied to
    // the looked-up codes first and each record changes at most once.
    if (fix_black && (e.code[0] == PAT_OPEN_FOUR || e.code[0] == PAT_FIVE))
      e.code[0] = static_cast<int8_t>(exact_code(cx, cy, d, BLACK, e.code[0]));
    if (fix_white && (e.code[1] == PAT_OPEN_FOUR || e.code[1] == PAT_FIVE))
      e.code[1] = static_cast<int8_t>(exact_code(cx, cy, d, WHITE, e.code[1]));
    const uint32_t diff = pattern_difference(e, dir_patterns[d][cx][cy]);
    if (diff == 0) continue;
    if (Placing) save_record(cx, cy, d);
    if (diff & SIDE_LANES[0]) change_record<Full, Placing>(cx, cy, 0, d, e.code[0], e.space[0]);
    if (diff & SIDE_LANES[1]) change_record<Full, Placing>(cx, cy, 1, d, e.code[1], e.space[1]);
  }
}

template <bool Full>
void Position::clear_played_cell(int x, int y) {
  // What the table gives an occupied cell in every direction: code 0 and
  // space 0 for both sides, so every sum of the cell is 0 as well (the
  // combination value of four zero codes is 0).
  for (int d = 0; d < 4; ++d) save_record(x, y, d);
  CellRecord& r = cell_records[x][y];
  for (int s = 0; s < 2; ++s) {
    side_total[s] -= r.contribution[s];
    room_total[s] -= room_of(r.weight[s], r.score[s]);
    for (int d = 0; d < 4; ++d) {
      const int code = dir_patterns[d][x][y].code[s];
      if (set_of_code[code] >= 0) {
        CellSet* set = code_set(code, s);
        save_set(*set, x, y, true);
        set->remove_dir(x, y, d);
      }
    }
    if (Full && r.score[s] >= STRONG_SCORE) {
      save_set(strong_cells[s], x, y, false);
      strong_cells[s].remove_cell(x, y);
    }
    code_keys[x][y][s] = 0;
  }
  for (int d = 0; d < 4; ++d) dir_patterns[d][x][y] = DirPattern{};
  r = CellRecord{};
}

template <bool Full>
void Position::place(int x, int y, int v) {
  if (!undo_log.has_room()) undo_log.clear();  // the oldest saves go; their removals refresh
  UndoFrame& f = undo_log.frame[undo_log.frames++];
  f.x = static_cast<int16_t>(x);
  f.y = static_cast<int16_t>(y);
  f.v = static_cast<int8_t>(v);
  f.full = Full;
  f.record_begin = undo_log.records;
  f.set_begin = undo_log.sets;
  f.side_total[0] = side_total[0];
  f.side_total[1] = side_total[1];
  f.room_total[0] = room_total[0];
  f.room_total[1] = room_total[1];

  const uint64_t bits = static_cast<uint64_t>(v);
  cells[x][y] = v;
  ++stone_count;
  clear_played_cell<Full>(x, y);
  y_lines[x] |= bits << (2 * y + 8);
  refresh_line_impl<Full, true>(0, x, y);
  x_lines[y] |= bits << (2 * x + 8);
  refresh_line_impl<Full, true>(1, x, y);
  anti_lines[x + y] |= bits << (2 * anti_pos[x][y] + 8);
  refresh_line_impl<Full, true>(2, x, y);
  diag_lines[board_size + x - y] |= bits << (2 * diag_pos[x][y] + 8);
  refresh_line_impl<Full, true>(3, x, y);
  zobrist_key ^= zobrist_keys[x][y][v - 1];
}

bool Position::restore(int x, int y, int v, bool full) {
  if (undo_log.frames == 0) return false;
  const UndoFrame& f = undo_log.frame[undo_log.frames - 1];
  if (f.x != x || f.y != y || f.v != v || f.full != full) return false;
  // Newest first, so a record saved twice (the played cell, once per
  // direction) ends with its oldest copy.
  for (int i = undo_log.sets - 1; i >= f.set_begin; --i) {
    const SetSave& r = undo_log.set[i];
    if (r.dirs) *r.dirs = r.old_dirs;
    *r.row = r.old_row;
    *r.summary = r.old_summary;
  }
  for (int i = undo_log.records - 1; i >= f.record_begin; --i) {
    const RecordSave& r = undo_log.record[i];
    const int cx = r.x, cy = r.y;
    dir_patterns[r.d][cx][cy] = r.pattern;
    cell_records[cx][cy] = r.record;
    code_keys[cx][cy][0] = r.keys[0];
    code_keys[cx][cy][1] = r.keys[1];
  }
  side_total[0] = f.side_total[0];
  side_total[1] = f.side_total[1];
  room_total[0] = f.room_total[0];
  room_total[1] = f.room_total[1];
  undo_log.records = f.record_begin;
  undo_log.sets = f.set_begin;
  --undo_log.frames;
  return true;
}

template <bool Full>
void Position::remove(int x, int y, int v) {
  const bool restored = restore(x, y, v, Full);
  if (!restored) undo_log.clear();
  cells[x][y] = EMPTY;
  --stone_count;
  y_lines[x] &= ~(uint64_t{3} << (2 * y + 8));
  x_lines[y] &= ~(uint64_t{3} << (2 * x + 8));
  anti_lines[x + y] &= ~(uint64_t{3} << (2 * anti_pos[x][y] + 8));
  diag_lines[board_size + x - y] &= ~(uint64_t{3} << (2 * diag_pos[x][y] + 8));
  zobrist_key ^= zobrist_keys[x][y][v - 1];
  if (restored) return;
  for (int d = 0; d < 4; ++d) refresh_line_impl<Full, false>(d, x, y);
}

void Position::make_move(int x, int y, int v) { place<true>(x, y, v); }
void Position::undo_move(int x, int y, int v) { remove<true>(x, y, v); }
void Position::make_move_light(int x, int y, int v) { place<false>(x, y, v); }
void Position::undo_move_light(int x, int y, int v) { remove<false>(x, y, v); }

template void Position::refresh_line_impl<true, false>(int, int, int);
template void Position::refresh_line_impl<false, false>(int, int, int);
template void Position::change_record<true, false>(int, int, int, int, int, int);
template void Position::change_record<false, false>(int, int, int, int, int, int);
template void Position::remove_cell_contribution<true>(int, int, int, int);
template void Position::remove_cell_contribution<false>(int, int, int, int);
template void Position::add_cell_contribution<true>(int, int, int, int);
template void Position::add_cell_contribution<false>(int, int, int, int);
template void Position::exact_five_fix<true>(int, int, int, int);
template void Position::exact_five_fix<false>(int, int, int, int);

void Position::fresh_codes(int d, int x, int y, int out_code[2]) const {
  const PatternEntry e = tables->entry(line_window(line_word(d, x, y), line_position(d, x, y)));
  for (int s = 0; s < 2; ++s) {
    const bool fix = s == 0 ? rule != FREESTYLE : rule == STANDARD;
    out_code[s] = fix ? exact_code(x, y, d, s + 1, e.code[s]) : e.code[s];
  }
}

bool Position::is_consistent(std::string* why) const {
  auto fail = [&](const char* what, int x, int y, int s) {
    if (why) {
      char buf[128];
      std::snprintf(buf, sizeof buf, "%s at (%d,%d) side %d", what, x, y, s + 1);
      *why = buf;
    }
    return false;
  };
  int32_t totals[2] = {0, 0}, rooms[2] = {0, 0};
  CellSet sets[5][2];
  std::memset(sets, 0, sizeof sets);
  for (int x = 0; x < board_size; ++x)
    for (int y = 0; y < board_size; ++y) {
      const CellRecord& r = cell_records[x][y];
      for (int s = 0; s < 2; ++s) {
        int score = 0, weight = 0, c[4];
        for (int d = 0; d < 4; ++d) {
          const DirPattern& p = dir_patterns[d][x][y];
          c[d] = p.code[s];
          score += code_weight[p.code[s]];
          weight += p.space[s];
          if (set_of_code[c[d]] >= 0) sets[set_of_code[c[d]]][s].add_dir(x, y, d);
        }
        if (r.score[s] != score) return fail("score", x, y, s);
        if (r.weight[s] != weight) return fail("weight", x, y, s);
        if (code_keys[x][y][s] != (c[0] << 12 | c[1] << 8 | c[2] << 4 | c[3])) return fail("code key", x, y, s);
        const int combined = tables->combo_table[s][c[0]][c[1]][c[2]][c[3]] + score;
        if (r.combined[s] != combined) return fail("combined", x, y, s);
        if (r.contribution[s] != (weight * combined) / 32) return fail("contribution", x, y, s);
        totals[s] += r.contribution[s];
        if (weight >= 25 && score >= 6) rooms[s] += weight;
        if (score >= STRONG_SCORE) sets[4][s].add_cell(x, y);
      }
    }
  for (int s = 0; s < 2; ++s) {
    if (totals[s] != side_total[s]) return fail("side_total", -1, -1, s);
    if (rooms[s] != room_total[s]) return fail("room_total", -1, -1, s);
    const CellSet* mine[5] = {&five_cells[s], &open_four_cells[s], &four_cells[s], &three_cells[s], &strong_cells[s]};
    static const char* names[5] = {"five set", "open-four set", "four set", "three set", "strong set"};
    for (int k = 0; k < 5; ++k) {
      if (mine[k]->summary != sets[k][s].summary) return fail(names[k], -1, -1, s);
      for (int x = 0; x < MAX_SIZE; ++x) {
        if (mine[k]->rows[x] != sets[k][s].rows[x]) return fail(names[k], x, -1, s);
        if (k < 4)
          for (int y = 0; y < MAX_SIZE; ++y)
            if (mine[k]->dirs[x][y] != sets[k][s].dirs[x][y]) return fail(names[k], x, y, s);
      }
    }
  }
  return true;
}

}  // namespace orvel
