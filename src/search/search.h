// The search state of one think and the searches that share it: static
// evaluation (evaluate.cpp), threat search over chains of fours
// (threat.cpp), the alpha-beta node search (alpha_beta.cpp) with its move
// stages (movepick.cpp), and the root search (root.cpp); beside them the
// deep search of search_mode 1 (deep_root.cpp, deep_node.cpp) with its
// threat-space search with threes (vct.cpp); all methods of Search and all
// in this folder. One Search object owns the
// per-ply storage (allocated once), the counters and the flags; it works on
// its Position in place and leaves it as it found it. A think on several
// threads runs one Search per thread, each on its own Position, sharing
// only the tables (search_threads.h). Below it sit src/eval (candidate-cell
// operations), src/renju, src/board and src/core; it includes nothing above.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "board/position.h"
#include "core/types.h"
#include "search/context.h"
#include "search/deep_state.h"
#include "search/eval_weights.h"
#include "search/hash.h"
#include "search/node.h"

namespace orvel {

// Slots of the per-ply storage. Slot = last_depth - remaining depth; a call
// whose slot would reach the end is treated as a leaf (or, in the threat
// search, as "no win"), so nothing is ever written past the arrays.
constexpr int PLY_SLOTS = 1280;
constexpr int LINE_LENGTH = MAX_CELLS + 1;  // entry 0 holds the length

// The budget (ms) a Search holds before its first think sets one.
constexpr int32_t FIRST_MOVE_BUDGET = 10000;

// A principal variation: entry 0's key is the length, moves in entries 1..n.
using PvLine = MoveEntry[LINE_LENGTH];
void copy_line(PvLine& to, const PvLine& from);

class Search {
 public:
  Search(Position& pos, const SearchContext& context);

  Position& pos;
  SearchContext context;
  HashTables& hash;  // *context.hash

  // ---- Think state shared by the searches and the drivers ----
  uint64_t node_count = 0;
  uint64_t expanded_count = 0;
  uint64_t threat_node_count = 0;
  double branch_total = 0;
  int min_remaining_depth = 0;
  int last_depth = 0;
  int32_t last_value = 0;
  int best_x = -1, best_y = -1;  // best_move
  bool search_aborted = false;
  bool single_reply = false;
  int32_t move_budget = FIRST_MOVE_BUDGET;
  int64_t think_clock = 0;  // clock at the start of the think (ms)
  PvLine saved_line{};

  // ---- Per-ply storage, indexed by list_slot ----
  std::unique_ptr<MoveEntry[][MAX_CELLS]> move_lists;
  std::unique_ptr<PvLine[]> pv_lines;
  std::unique_ptr<uint64_t[]> node_stamps;
  std::unique_ptr<uint64_t[][MAX_SIZE][MAX_SIZE]> cell_marks;

  // ---- Evaluation state ----
  uint64_t eval_counter = 0;
  uint64_t cell_stamps[MAX_SIZE][MAX_SIZE] = {};

  // The bytes of the per-ply storage above and of the deep search's
  // state, held from construction on.
  static uint64_t ply_storage_bytes();

  // Reset everything a rebuild of the position resets: evaluation counter
  // and stamps, node stamps and cell marks, last_value, last_depth,
  // search_aborted, the deep search's state.
  void reset_game_state();
  // Zero the per-think counters (node, expanded, threat, branch, min depth).
  void reset_counters();
  // Everything back to a new Search's values, the per-ply storage zeroed
  // again rather than allocated anew.
  void reset_all();


  // Milliseconds since the process started.
  static int64_t now_ms();
  // The 1,024-node limit test; true when the search must stop. The clock
  // cuts a search off cutoff_margin_ms(move_budget) before the budget ends:
  // the larger of 30 ms and 5% of the budget.
  bool limits_reached() const;
  int32_t caution_factor() const { return SearchContext::get(context.caution_factor); }
  bool blocked(int x, int y) const { return (*context.blocked_cells)[x][y].load(std::memory_order_relaxed) != 0; }
  static int64_t cutoff_margin_ms(int64_t budget);
  // In a think on several threads: claim root move (x, y) at this depth;
  // true when another thread claimed it at this depth first.
  bool root_move_taken(int x, int y);

  // ---- Evaluation ----
  int32_t evaluate(int remaining_depth, int side);
  // The evaluation with the given weights; with f, what it counted.
  int32_t evaluate_terms(int side, const EvalWeights& w, EvalFeatures* f);
  int neighbourhood_threat_count(int x, int y, int side) const;

  // ---- Threat search ----
  int32_t immediate_win(int distance, int side);
  int32_t threat_search(int depth, int side, int defender_node, int ply);
  // The threat search from an attacker node, skipped when side has no
  // five, open four or four to make: it cannot have a chain then, and the
  // search would only count a node and read the threat cache to say so.
  int32_t four_chain(int depth, int side) { return pos.can_make_four(side) ? threat_search(depth, side, 0, 0) : 0; }

  // ---- Alpha-beta and root ----
  int32_t alpha_beta(int depth, int32_t alpha, int32_t beta, int side, int extension);
  int32_t root_search(int side);

  // ---- The deep search (search_mode 1): deep_node.cpp, deep_root.cpp ----
  // The search the think runs: 0 the node search above, 1 the deep search.
  // Set by the think before it starts; read by every iteration.
  int search_mode = 0;
  // One iteration of the think at last_depth, in the chosen search.
  int32_t root_iteration(int side) { return search_mode == 1 ? deep_root(side) : root_search(side); }
  int32_t deep_root(int side);
  // Take another search's completed iteration at the root as this one's
  // last: its move is best_move, and the deep search's root list puts it
  // first with that value for its next iteration.
  void adopt_iteration(int x, int y, int32_t value);
  // Whether the opponent wins by threes after side plays (x, y), within the
  // root's defence budget (false also when the search was stopped).
  bool opponent_wins_by_threes(int x, int y, int side);
  // null_move: the node may try a pass (not right after one).
  int32_t deep_node(int depth, int32_t alpha, int32_t beta, int side, int extension, bool null_move = true);
  // At a null-window node of the deep search, the static value may settle
  // the node before its moves: true, with the value to return.
  bool deep_settled_by_value(NodeState& node, bool null_move, int32_t* value);
  // The node search of the chosen search, for what both share (the
  // internal deepening of the move stages).
  int32_t node_search(int depth, int32_t alpha, int32_t beta, int side, int extension) {
    return search_mode == 1 ? deep_node(depth, alpha, beta, side, extension)
                            : alpha_beta(depth, alpha, beta, side, extension);
  }
  // Threat-space search with threes (vct.cpp): a win for side by fours and
  // threes within budget nodes, `moves` attacking moves and, unless it is
  // -1, the clock's deadline (ms), its lists from slot on. Returns
  // threat_search's scale (0: none found); the first move of a proved win
  // is in deep->vct_x, vct_y.
  int32_t vct(int side, int slot, uint64_t budget, int moves, int64_t deadline = -1);
  std::unique_ptr<DeepState> deep;

  // ---- Helpers shared with the move stages ----
  bool forbidden_for(int x, int y, int side);  // Renju and BLACK only
  int list_slot(int depth) const { return last_depth - depth; }
  bool is_listed(int slot, int x, int y) const { return cell_marks[slot][x][y] == node_stamps[slot]; }
  void mark_listed(int slot, int x, int y) { cell_marks[slot][x][y] = node_stamps[slot]; }

  // Steps shared by the node search and the root: clear the slot's line,
  // count the node and test the limits (false: stop, search_aborted set).
  bool enter_node(int slot);
  // The results a node knows before searching: a five to make, an open four
  // to make (under Renju BLACK's first open-four cell must be allowed), or a
  // five to block (the node's stage becomes the forced block). True when
  // the node's value is known: WIN_SCORE + node.depth.
  bool immediate_win_or_block(NodeState& node);

  // ---- Move stages ----
  // Produce the node's next batch into move_lists[node.slot]. NODE_VALUE
  // means the node ends with *value (internal deepening proved a win, or
  // the search was aborted: then *value is 0 and search_aborted is set).
  BatchResult next_batch(NodeState& node, int32_t* value);
  // Level and margin of a move before it is made (node search and root).
  void move_level_and_offset(const NodeState& node, int x, int y, int own, int* level, int32_t* offset,
                             double* eval_factor);
  // Make a searched move, asking first for the child's table buckets so
  // that the placement's record work hides their fetch.
  void make_child_move(int x, int y, int side) {
    hash.prefetch(opponent(side), pos.zobrist_key ^ pos.stone_key(x, y, side));
    pos.make_move(x, y, side);
  }
  // Threat extension after the move is made; returns the new level.
  int threat_extension(int depth, int side, int own, int level);

  // What both node searches do with a searched move's value v (move
  // ordinal m, level level): best and top moves, then a cut (the node ends
  // with v), a new principal variation, or late-move pruning by stop_rule
  // (no more moves).
  enum class MoveOutcome { NEXT, CUT, STOP };
  MoveOutcome take_result(NodeState& node, TopMoves& top, int& bound, int x, int y, int32_t v, int m, int level,
                          LateMoveRule stop_rule = late_move_stop);
  // What both node searches know before their moves (not for a forced
  // node): a hash bound that settles a null-window node, a win by fours,
  // or the leaf's evaluation. True when *value is the node's value (0 on a
  // stop); a null-window probe's move becomes the first top move. With
  // skip_fourless the chain of fours is looked for by four_chain.
  bool settled_before_moves(NodeState& node, TopMoves& top, int32_t* value, bool skip_fourless = false);
  // The end of a node's moves in both node searches: its value, stored.
  int32_t end_of_moves(NodeState& node, const TopMoves& top, int bound);

 private:
  int stage_hash_moves(NodeState& node, MoveEntry* list, int32_t* value, bool* node_ends);
  int stage_quiet(NodeState& node, MoveEntry* list);
  int stage_root_quiet(NodeState& node, MoveEntry* list);
  int filter_batch(NodeState& node, MoveEntry* list, int count);

  // (last_x, last_y): the attacker's last threat in this search, -1 before
  // its first.
  int32_t vct_attack(int slot, int side, int ply, int moves, int last_x, int last_y);
  int32_t vct_defend(int slot, int side, int ply, int moves, int last_x, int last_y);
  bool vct_count_node();
  bool vct_usable_open_four(int side);
  VctEntry* vct_slot(uint64_t key);

  MoveEntry eval_list_[2 * MAX_CELLS];
};

}  // namespace orvel
