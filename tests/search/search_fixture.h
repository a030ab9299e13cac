// A search outside a think: a position, small hash tables, settings and a
// game record, all owned by the fixture.
#pragma once

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "board/position.h"
#include "game/game_record.h"
#include "game/search_inputs.h"
#include "game/settings.h"
#include "protocol/output.h"
#include "search/hash.h"
#include "search/search.h"

namespace orvel::testing {

struct SearchFixture {
  std::unique_ptr<Position> pos = std::make_unique<Position>();
  HashTables hash;
  Settings settings;
  std::unique_ptr<GameRecord> record = std::make_unique<GameRecord>();
  std::atomic<int32_t> stop{0};
  CaptureOutput out;
  std::unique_ptr<Search> search;

  explicit SearchFixture(int rule, int width = 15, int height = 15) {
    settings.rule = rule;
    record->board_width = width;
    record->board_height = height;
    record->board_size = std::max(width, height);
    hash.tt_buckets = hash.cache_buckets = 1 << 14;
    pos->configure(width, height, rule);
    hash.resize_hash_tables();
    hash.clear_hash_tables();
    search = std::make_unique<Search>(*pos, make_search_context(settings, *record, hash, stop, &out));
    search->reset_game_state();
    search->move_budget = 1000000000;
    search->think_clock = Search::now_ms();
  }

  // Stones from a picture (rows are x, columns y; X black, O white,
  // # blocked). The game record counts the black and white stones.
  void picture(std::initializer_list<const char*> rows) {
    int x = 0;
    for (const char* row : rows) {
      for (int y = 0; row[y]; ++y) {
        const char c = row[y];
        const int v = c == 'X' ? BLACK : c == 'O' ? WHITE : c == '#' ? BLOCKED : EMPTY;
        if (v == EMPTY) continue;
        pos->make_move(x, y, v);
        if (v != BLOCKED) record->move_count++;
      }
      ++x;
    }
    hash.move_count = record->move_count;
  }

  void play(int x, int y, int v) {
    pos->make_move(x, y, v);
    record->move_count++;
    hash.move_count = record->move_count;
  }

  int32_t alpha_beta(int depth, int side, int extension = 0, int32_t alpha = -10000000, int32_t beta = 10000000) {
    search->last_depth = depth;
    search->search_aborted = false;
    return search->alpha_beta(depth, alpha, beta, side, extension);
  }

  // Iterative deepening of the root search (of search->search_mode) up to depth.
  int32_t deepen(int side, int depth) {
    int32_t v = 0;
    search->search_aborted = false;
    for (int d = 1; d <= depth; ++d) {
      search->last_depth = d;
      v = search->root_iteration(side);
      if (search->search_aborted || is_win(v) || is_loss(v)) break;
    }
    return v;
  }
};

// Everything a search must leave as it found it: cells, line words, key,
// the code sets and every direction record. (Totals follow the records, so
// they are checked by is_consistent instead.)
struct FullSnapshot {
  std::vector<char> bytes;
  explicit FullSnapshot(const Position& p) {
    auto add = [&](const void* a, size_t n) {
      const char* c = static_cast<const char*>(a);
      bytes.insert(bytes.end(), c, c + n);
    };
    add(p.cells, sizeof p.cells);
    add(p.y_lines, sizeof p.y_lines);
    add(p.x_lines, sizeof p.x_lines);
    add(p.anti_lines, sizeof p.anti_lines);
    add(p.diag_lines, sizeof p.diag_lines);
    add(&p.zobrist_key, sizeof p.zobrist_key);
    add(p.five_cells, sizeof p.five_cells);
    add(p.open_four_cells, sizeof p.open_four_cells);
    add(p.four_cells, sizeof p.four_cells);
    add(p.three_cells, sizeof p.three_cells);
    add(p.dir_patterns, sizeof p.dir_patterns);
  }
  bool operator==(const FullSnapshot& o) const { return bytes == o.bytes; }
};

}  // namespace orvel::testing
