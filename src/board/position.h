// The one position the engine thinks about: cells, 64-bit line words in the
// four directions, the Zobrist key, and the pattern records that every
// placement keeps current (per direction and side codes, per-cell sums,
// side totals and cell sets). Searches change it in place through balanced
// make/undo pairs; every operation works on fixed arrays with no allocation.
//
// Line word layout: 2 bits per cell, the cell at position p in bits 2p+8 and
// 2p+9; bits 0..7 are four virtual cells in front of the line. After
// clear_position the cell just before and just after the line hold BLOCKED.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "board/cell_set.h"
#include "board/pattern_table.h"
#include "core/types.h"

namespace orvel {

// Pattern code and free space of one cell in one direction, per side.
struct DirPattern {
  int8_t code[2];
  int8_t space[2];
};

// Sums over the four directions of one cell, per side.
struct CellRecord {
  int16_t score[2];         // sum of code_weight over the four codes
  int16_t combined[2];      // combo_table value + score
  int16_t weight[2];        // sum of the four spaces, 0..32
  int16_t contribution[2];  // weight * combined / 32
};

constexpr int STRONG_SCORE = 316;

// What a placement overwrote, kept so that taking the stone back copies the
// old records in instead of refreshing the four lines a second time.
struct RecordSave {
  uint8_t x, y, d;
  DirPattern pattern;  // dir_patterns[d] of the cell
  CellRecord record;
  uint16_t keys[2];
};

// One cell set change: the three words it may have touched, as they were.
struct SetSave {
  uint32_t* summary;
  uint32_t* row;
  uint8_t* dirs;  // nullptr for the strong sets, which have no direction level
  uint32_t old_summary;
  uint32_t old_row;
  uint8_t old_dirs;
};

struct UndoFrame {
  int16_t x, y;
  int8_t v;
  bool full;
  int32_t record_begin;
  int32_t set_begin;
  int32_t side_total[2];
  int32_t room_total[2];
};

// The saves of the placements still on the board, most recent last. Only a
// removal of the most recent placement (same cell, colour and kind) is
// served from here; any other change to the records empties the log, and
// removals it cannot serve refresh the lines as before. A copied position
// starts with an empty log.
class UndoLog {
 public:
  static constexpr int MAX_FRAMES = 1024;
  // Per placement at most: the played cell in four directions and ten cells
  // in each line; each record change may touch two code sets and the
  // strong set, for either side.
  static constexpr int RECORDS_PER_FRAME = 4 + 4 * 10;
  static constexpr int SETS_PER_FRAME = RECORDS_PER_FRAME * 2 * 3;
  static constexpr int RECORD_CAPACITY = MAX_FRAMES * RECORDS_PER_FRAME;
  static constexpr int SET_CAPACITY = MAX_FRAMES * 32;

  UndoLog()
      : frame(new UndoFrame[MAX_FRAMES]), record(new RecordSave[RECORD_CAPACITY]), set(new SetSave[SET_CAPACITY]) {}
  UndoLog(const UndoLog&) : UndoLog() {}
  UndoLog& operator=(const UndoLog&) {
    clear();
    return *this;
  }

  // What the log holds on the heap (counted in the engine's memory sum).
  static constexpr uint64_t heap_bytes() {
    return uint64_t{MAX_FRAMES} * sizeof(UndoFrame) + uint64_t{RECORD_CAPACITY} * sizeof(RecordSave) +
           uint64_t{SET_CAPACITY} * sizeof(SetSave);
  }

  void clear() { frames = records = sets = 0; }
  // Room for one more placement's saves.
  bool has_room() const {
    return frames < MAX_FRAMES && records + RECORDS_PER_FRAME <= RECORD_CAPACITY &&
           sets + SETS_PER_FRAME <= SET_CAPACITY;
  }

  std::unique_ptr<UndoFrame[]> frame;
  std::unique_ptr<RecordSave[]> record;
  std::unique_ptr<SetSave[]> set;
  int frames = 0;
  int records = 0;
  int sets = 0;
};

inline uint32_t line_window(uint64_t word, int p) { return static_cast<uint32_t>(word >> (2 * p)) & 0x3FFFFu; }

class Position {
 public:
  // Board geometry and rule; set by configure().
  int board_width = 15;
  int board_height = 15;
  int board_size = 15;
  int rule = FREESTYLE;  // effective rule 0, 1 or 2
  int update_radius = 4;
  const PatternTables* tables = nullptr;

  int32_t cells[MAX_SIZE][MAX_SIZE];
  uint64_t y_lines[MAX_SIZE];      // direction 0, index x, position y
  uint64_t x_lines[MAX_SIZE];      // direction 1, index y, position x
  uint64_t anti_lines[2 * MAX_SIZE];  // direction 2, index x + y
  uint64_t diag_lines[2 * MAX_SIZE + 1];  // direction 3, index board_size + x - y
  int32_t anti_pos[MAX_SIZE][MAX_SIZE];
  int32_t diag_pos[MAX_SIZE][MAX_SIZE];

  uint64_t zobrist_key = 0;
  int stone_count = 0;  // occupied cells of the square, blocked ones included
  uint64_t zobrist_keys[MAX_SIZE][MAX_SIZE][3];
  uint32_t rand_state = 1;  // the key generator; continues across rebuilds

  DirPattern dir_patterns[4][MAX_SIZE][MAX_SIZE];
  CellRecord cell_records[MAX_SIZE][MAX_SIZE];
  int32_t side_total[2];
  int32_t room_total[2];
  CellSet five_cells[2];
  CellSet open_four_cells[2];
  CellSet four_cells[2];
  CellSet three_cells[2];
  CellSet strong_cells[2];
  // The four codes of a cell and side packed 4 bits each (direction 0
  // highest): the combination table's index without four reads.
  uint16_t code_keys[MAX_SIZE][MAX_SIZE][2];

  Position();

  // Rebuild for a board and rule: sets the geometry and update_radius,
  // build_tables, then clear_position. The caller replays the game record.
  void configure(int width, int height, int rule_value);
  // Pattern tables for the rule, fresh Zobrist keys, anti_pos/diag_pos.
  void build_tables();
  // An empty board for the current size and rule (blocked cells of a
  // rectangular board placed).
  void clear_position();

  void make_move(int x, int y, int v);
  void undo_move(int x, int y, int v);
  // As make_move/undo_move but the strong-cell sets are left alone; a light
  // placement must be taken back before anything reads the strong sets.
  void make_move_light(int x, int y, int v);
  void undo_move_light(int x, int y, int v);

  // No empty cell left anywhere: the game can only be a draw.
  bool full() const { return stone_count >= board_size * board_size; }
  bool on_board(int x, int y) const { return x >= 0 && y >= 0 && x < board_height && y < board_width; }
  int cell(int x, int y) const { return cells[x][y]; }
  int code(int d, int x, int y, int side) const { return dir_patterns[d][x][y].code[side - 1]; }
  int score(int x, int y, int side) const { return cell_records[x][y].score[side - 1]; }
  // Whether side v has a five, an open four or a four to make with one stone.
  bool can_make_four(int v) const {
    return !five_cells[v - 1].empty() || !open_four_cells[v - 1].empty() || !four_cells[v - 1].empty();
  }
  int weight(int x, int y, int side) const { return cell_records[x][y].weight[side - 1]; }
  uint64_t stone_key(int x, int y, int v) const { return zobrist_keys[x][y][v - 1]; }

  // Line word and position of (x, y) in direction d.
  uint64_t line_word(int d, int x, int y) const;
  int line_position(int d, int x, int y) const;

  // List makers: members of a side's set, ascending x then y; coordinates only.
  int list_five_cells(MoveEntry* list, int v) const { return five_cells[v - 1].list(list); }
  int list_open_four_cells(MoveEntry* list, int v) const { return open_four_cells[v - 1].list(list); }
  int list_four_cells(MoveEntry* list, int v) const { return four_cells[v - 1].list(list); }
  int list_three_cells(MoveEntry* list, int v) const { return three_cells[v - 1].list(list); }
  int list_strong_cells(MoveEntry* list, int v) const { return strong_cells[v - 1].list(list); }

  // Record-keeping pieces, public for tests.
  template <bool Full>
  void refresh_line(int d, int x, int y) {
    undo_log.clear();
    refresh_line_impl<Full, false>(d, x, y);
  }
  // One record change: the code (and space) of side s in direction d at
  // (x, y) becomes new_code (new_space), with the cell's sums, the totals
  // and the sets following. Does in one pass what removing the cell's old
  // contribution, changing the record and adding the new one would do.
  template <bool Full>
  void change_code(int x, int y, int s, int d, int new_code, int new_space) {
    undo_log.clear();
    change_record<Full, false>(x, y, s, d, new_code, new_space);
  }
  // The two halves of a record change, step by step; the reference that
  // change_code is checked against.
  template <bool Full>
  void remove_cell_contribution(int x, int y, int s, int d);
  template <bool Full>
  void add_cell_contribution(int x, int y, int s, int d);
  template <bool Full>
  void exact_five_fix(int x, int y, int d, int v);
  bool real_open_four(int x, int y, int d, int v) const;
  // The code the exact-five rule makes of a looked-up code of v at (x, y)
  // in direction d: a five that would be six becomes an overline, an open
  // four that cannot become five at both ends a plain four.
  int exact_code(int x, int y, int d, int v, int code) const;

  // Recount every per-cell sum, total and set from the stored direction
  // records and compare; on a mismatch describe it in *why.
  bool is_consistent(std::string* why = nullptr) const;
  // Drop the saved records (after the records were changed some other way
  // than by a placement).
  void forget_undo() { undo_log.clear(); }
  // The codes a fresh table lookup (with the exact-five corrections) gives.
  void fresh_codes(int d, int x, int y, int out_code[2]) const;

 private:
  // Placing: a placement, whose changes are saved and whose played cell
  // clear_played_cell has already emptied.
  template <bool Full, bool Placing>
  void refresh_line_impl(int d, int x, int y);
  template <bool Full>
  void clear_played_cell(int x, int y);
  template <bool Full, bool Log>
  void change_record(int x, int y, int s, int d, int new_code, int new_space);
  void save_record(int x, int y, int d);
  void save_set(CellSet& set, int x, int y, bool dirs);
  // Take back the most recent placement from the log; false when the log
  // does not hold it.
  bool restore(int x, int y, int v, bool full);

  UndoLog undo_log;

  template <bool Full>
  void place(int x, int y, int v);
  template <bool Full>
  void remove(int x, int y, int v);
  CellSet* code_set(int code, int s);
  uint32_t next_rand();
};

}  // namespace orvel
