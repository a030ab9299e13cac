// The helper searches of a think on several threads: their storage, their
// start on a copy of the think's position and their end.
#include "search/search_threads.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace orvel {

namespace {

// A helper's iterative deepening. The first, third, ... helper search one
// ply ahead of the think's own search, so that deeper results reach the
// tables, and through them the think's own search, early.
void deepen(Search& s, int side, int first_depth, int max_depth) {
  for (int d = first_depth; d <= max_depth; ++d) {
    s.last_depth = d;
    s.single_reply = false;
    const int32_t v = s.root_iteration(side);
    if (s.search_aborted || is_win(v) || is_loss(v)) break;
  }
}

}  // namespace

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
  // Memory that cannot be had leaves fewer helpers rather than no engine.
  try {
    while (helpers_.size() < helpers) {
      auto h = std::make_unique<Helper>();
      h->pos = std::make_unique<Position>();
      h->search = std::make_unique<Search>(*h->pos, context);
      helpers_.push_back(std::move(h));
    }
  } catch (const std::bad_alloc&) {
  }
}

void SearchThreads::start(Search& main, int side, int max_depth) {
  if (helpers_.empty() || running_) return;
  over_.store(0, std::memory_order_relaxed);
  node_total_.store(0, std::memory_order_relaxed);
  main_nodes_at_start_ = main.node_count;
  main.context.node_total = &node_total_;
  for (size_t i = 0; i < helpers_.size(); ++i) {
    Helper& h = *helpers_[i];
    *h.pos = main.pos;
    Search& s = *h.search;
    s.reset_counters();
    s.search_aborted = false;
    s.think_clock = main.think_clock;
    s.move_budget = main.move_budget;
    s.search_mode = main.search_mode;
    const int first_depth = 1 + static_cast<int>(i % 2 == 0);
    // A thread the system refuses leaves that helper idle for this think.
    try {
      h.thread = std::thread(deepen, std::ref(s), side, first_depth, max_depth);
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
