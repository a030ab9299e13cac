// The helper searches of a think on several threads: their storage, their
// start on a copy of the think's position and their end.
#include "search/search_threads.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace orvel {

// A helper's iterative deepening. The first, third, ... helper search one
// ply ahead of the deepest completed iteration, so that deeper results reach
// the tables, and through them the other searches, early. An iteration that
// another search completed first is given up: its depth is done.
void SearchThreads::deepen(Search& s, int index, int side, int max_depth) {
  const int ahead = index % 2 == 0 ? 1 : 0;
  for (int d = 1 + ahead; d <= max_depth;) {
    s.last_depth = d;
    s.single_reply = false;
    s.search_aborted = false;
    const int32_t v = s.root_iteration(side);
    if (!s.search_aborted) {
      publish(s, d, v);
      if (is_win(v) || is_loss(v)) break;
    } else if (over_.load(std::memory_order_relaxed) != 0 || completed_depth_.load(std::memory_order_relaxed) < d) {
      break;  // the think is over, or the clock or the node limit ended it
    }
    const int completed = completed_depth_.load(std::memory_order_relaxed);
    d = std::max(d + 1, completed + 1 + ahead);
    // At the depth limit a helper ahead helps with the last depth instead.
    if (d > max_depth) d = completed + 1;
  }
}

namespace {

void raise_to(std::atomic<int32_t>& a, int32_t v) {
  int32_t seen = a.load(std::memory_order_relaxed);
  while (seen < v && !a.compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
  }
}

}  // namespace

void SearchThreads::publish(const Search& s, int depth, int32_t value) {
  {
    std::lock_guard<std::mutex> lock(result_mutex_);
    if (depth > helper_best_.depth) {
      helper_best_.depth = depth;
      helper_best_.value = value;
      helper_best_.x = s.best_x;
      helper_best_.y = s.best_y;
      helper_best_.single_reply = s.single_reply;
      copy_line(helper_best_.line, s.pv_lines[0]);
    }
  }
  raise_to(completed_depth_, depth);
}

void SearchThreads::main_completed(int depth) {
  if (running_) raise_to(completed_depth_, depth);
}

bool SearchThreads::take_helper_iteration(Search& main, int min_depth, int32_t* value) {
  std::lock_guard<std::mutex> lock(result_mutex_);
  if (helper_best_.depth == 0 || helper_best_.depth < min_depth) return false;
  main.adopt_iteration(helper_best_.x, helper_best_.y, helper_best_.value);
  main.single_reply = helper_best_.single_reply;
  main.last_depth = helper_best_.depth;
  main.search_aborted = false;
  copy_line(main.pv_lines[0], helper_best_.line);
  *value = helper_best_.value;
  return true;
}

SearchThreads::~SearchThreads() {
  over_.store(1);
  for (auto& h : helpers_)
    if (h->thread.joinable()) h->thread.join();
}

void SearchThreads::clear_deep_states() {
  for (auto& h : helpers_) h->search->deep->clear();
}

uint64_t SearchThreads::bytes_per_helper() {
  return sizeof(Helper) + sizeof(Position) + UndoLog::heap_bytes() + sizeof(Search) + Search::ply_storage_bytes();
}

void SearchThreads::set_count(int count, const Search& main) {
  const size_t helpers = static_cast<size_t>(std::clamp(count, 1, MAX_SEARCH_THREADS) - 1);
  if (helpers == helpers_.size()) return;
  if (helpers < helpers_.size()) {
    helpers_.resize(helpers);
    return;
  }
  SearchContext context = main.context;
  context.reporter = nullptr;  // the think's own search writes every line
  context.think_over = &over_;
  context.node_total = &node_total_;
  context.completed_depth = &completed_depth_;
  // Memory that cannot be had leaves fewer helpers rather than no engine.
  try {
    while (helpers_.size() < helpers) {
      context.thread_index = static_cast<int>(helpers_.size()) + 1;
      context.root_claims = root_claims_;
      auto h = std::make_unique<Helper>();
      h->pos = std::make_unique<Position>();
      h->search = std::make_unique<Search>(*h->pos, context);
      helpers_.push_back(std::move(h));
    }
  } catch (const std::bad_alloc&) {
  }
}

void SearchThreads::start(Search& main, int side, int max_depth) {
  if (running_) return;
  helper_best_.depth = 0;  // no helper result outlives its think
  if (helpers_.empty()) return;
  over_.store(0, std::memory_order_relaxed);
  node_total_.store(0, std::memory_order_relaxed);
  completed_depth_.store(0, std::memory_order_relaxed);
  main_nodes_at_start_ = main.node_count;
  main.context.node_total = &node_total_;
  main.context.completed_depth = &completed_depth_;
  main.context.root_claims = root_claims_;
  for (auto& c : root_claims_) c.store(0, std::memory_order_relaxed);
  for (size_t i = 0; i < helpers_.size(); ++i) {
    Helper& h = *helpers_[i];
    *h.pos = main.pos;
    Search& s = *h.search;
    s.reset_counters();
    s.search_aborted = false;
    s.think_clock = main.think_clock;
    s.move_budget = main.move_budget;
    s.search_mode = main.search_mode;
    // A thread the system refuses leaves that helper idle for this think.
    try {
      h.thread = std::thread([this, &s, i, side, max_depth] { deepen(s, static_cast<int>(i), side, max_depth); });
    } catch (const std::system_error&) {
      break;
    }
  }
  running_ = true;
}

uint64_t SearchThreads::stop(Search& main) {
  if (!running_) return 0;
  over_.store(1, std::memory_order_relaxed);
  uint64_t nodes = 0;
  for (auto& h : helpers_) {
    if (!h->thread.joinable()) continue;
    h->thread.join();
    nodes += h->search->node_count;
  }
  main.context.node_total = nullptr;
  main.context.completed_depth = nullptr;
  main.context.root_claims = nullptr;
  running_ = false;
  return nodes;
}

uint64_t SearchThreads::nodes(const Search& main) const {
  if (!running_) return main.node_count;
  // main added 1,024 to the total at each of its limit tests since start.
  const uint64_t main_part = (main.node_count / 1024 - main_nodes_at_start_ / 1024) * 1024;
  return node_total_.load(std::memory_order_relaxed) - main_part + main.node_count;
}

}  // namespace orvel
