// The search state's housekeeping: the per-ply storage (allocated once, when
// the Search is made), the resets of a rebuild and of a think, the process
// clock and the limit test that every search runs each 1,024 nodes.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "renju/forbidden.h"
#include "search/search.h"

namespace orvel {

namespace {
// The clock counts from process start; a namespace-level constant because
// it is the one instant every reported time is measured from.
const std::chrono::steady_clock::time_point process_start = std::chrono::steady_clock::now();
}  // namespace

Search::Search(Position& position, const SearchContext& search_context)
    : pos(position),
      context(search_context),
      hash(*search_context.hash),
      move_lists(std::make_unique<MoveEntry[][MAX_CELLS]>(PLY_SLOTS)),
      pv_lines(std::make_unique<PvLine[]>(PLY_SLOTS)),
      node_stamps(std::make_unique<uint64_t[]>(PLY_SLOTS)),
      cell_marks(std::make_unique<uint64_t[][MAX_SIZE][MAX_SIZE]>(PLY_SLOTS)) {
  deep = std::make_unique<DeepState>();
  deep->clear();
  std::memset(eval_list_, 0, sizeof eval_list_);
}

uint64_t Search::ply_storage_bytes() {
  return static_cast<uint64_t>(PLY_SLOTS) *
         (sizeof(MoveEntry[MAX_CELLS]) + sizeof(PvLine) + sizeof(uint64_t) + sizeof(uint64_t[MAX_SIZE][MAX_SIZE])) +
         sizeof(DeepState);
}

void Search::reset_game_state() {
  eval_counter = 0;
  std::memset(cell_stamps, 0, sizeof cell_stamps);
  std::memset(node_stamps.get(), 0, sizeof(uint64_t) * PLY_SLOTS);
  std::memset(cell_marks.get(), 0, sizeof(uint64_t) * MAX_SIZE * MAX_SIZE * PLY_SLOTS);
  last_value = 0;
  last_depth = 0;
  search_aborted = false;
  deep->clear();
}

void Search::reset_counters() {
  node_count = 0;
  expanded_count = 0;
  threat_node_count = 0;
  min_remaining_depth = 0;
  branch_total = 0;
}

void Search::reset_all() {
  reset_game_state();
  reset_counters();
  best_x = best_y = -1;
  single_reply = false;
  move_budget = FIRST_MOVE_BUDGET;
  think_clock = 0;
  std::memset(saved_line, 0, sizeof saved_line);
  std::memset(move_lists.get(), 0, sizeof(MoveEntry) * MAX_CELLS * PLY_SLOTS);
  std::memset(pv_lines.get(), 0, sizeof(PvLine) * PLY_SLOTS);
  std::memset(eval_list_, 0, sizeof eval_list_);
}

void DeepState::clear() {
  std::memset(vct_cache, 0, sizeof vct_cache);
  std::memset(marks, 0, sizeof marks);
  mark_stamp = 0;
  vct_nodes = vct_budget = 0;
  vct_out = false;
  vct_x = vct_y = -1;
  root_count = 0;
  root_value = 0;
  root_key = 0;
  root_clock = -1;
  root_win_x = root_win_y = -1;
  root_win = 0;
}

int64_t Search::now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - process_start)
      .count();
}

bool Search::limits_reached() const {
  // Called once per 1,024 nodes of this search, so that is what it adds to
  // the total of a think on several threads.
  const uint64_t nodes = context.node_total != nullptr
                             ? context.node_total->fetch_add(1024, std::memory_order_relaxed) + 1024
                             : node_count;
  const int64_t max_node = SearchContext::get(context.max_node);
  const bool stop = SearchContext::get(context.stop_requested) > 0 ||
                    (context.think_over != nullptr && SearchContext::get(context.think_over) > 0) ||
                    (context.completed_depth != nullptr && SearchContext::get(context.completed_depth) >= last_depth);
  // max_node -1 turns off both the node limit and the clock; only a stop
  // request ends such a search.
  if (max_node == -1 && !stop) return false;
  if (stop) return true;
  if (static_cast<int64_t>(nodes >> 10) > max_node) return true;
  return now_ms() - think_clock + cutoff_margin_ms(move_budget) >= move_budget;
}

bool Search::root_move_taken(int x, int y) {
  if (context.root_claims == nullptr) return false;
  const int32_t mine = last_depth * ROOT_CLAIM_SCALE + context.thread_index;
  const int32_t seen = context.root_claims[x * MAX_SIZE + y].exchange(mine, std::memory_order_relaxed);
  return seen != mine && seen / ROOT_CLAIM_SCALE == last_depth;
}

int64_t Search::cutoff_margin_ms(int64_t budget) {
  // A fixed 30 ms is thin on a busy machine: the reply may wait that long
  // for a core. A twentieth of the budget scales with what is at stake.
  constexpr int64_t MIN_MARGIN_MS = 30;
  constexpr int64_t MARGIN_SHARE = 20;
  return std::max<int64_t>(MIN_MARGIN_MS, budget / MARGIN_SHARE);
}

bool Search::forbidden_for(int x, int y, int side) {
  return pos.rule == RENJU && side == BLACK && is_forbidden(pos, x, y) != 0;
}

}  // namespace orvel
