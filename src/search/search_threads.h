// The helper searches of a think on several threads. Each helper owns a
// copy of the position and a Search of its own, made when the thread count
// changes and kept otherwise; during a think each runs the same iterative
// deepening as the think's own search on its own thread, and they meet only
// in the shared tables. Nothing else is shared: a helper writes no line, and
// the think's result is its own search's.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "board/position.h"
#include "search/context.h"
#include "search/search.h"

namespace orvel {

// The most search threads a think runs; more requested are this many.
constexpr int MAX_SEARCH_THREADS = 64;

class SearchThreads {
 public:
  SearchThreads() = default;
  ~SearchThreads();
  SearchThreads(const SearchThreads&) = delete;
  SearchThreads& operator=(const SearchThreads&) = delete;

  // Search threads of the next think, its own included (clamped to
  // 1..MAX_SEARCH_THREADS): count - 1 helpers searching with main's
  // context. Only a changed count allocates or frees.
  void set_count(int count, const Search& main);
  int count() const { return static_cast<int>(helpers_.size()) + 1; }
  int helper_count() const { return static_cast<int>(helpers_.size()); }

  // Start every helper on a copy of main's position, side to move, with
  // main's clock and budget, deepening up to max_depth. Until stop(), main
  // counts its nodes into the shared total as well. Nothing with no helper.
  void start(Search& main, int side, int max_depth);
  // End the helpers' searches, wait for them and leave main counting alone.
  // Returns the nodes the helpers searched. Nothing when none runs.
  uint64_t stop(Search& main);
  bool running() const { return running_; }
  // Empty every helper's deep-search state; only while none runs.
  void clear_deep_states();

  // The nodes of main and of the running helpers: main's exactly, the
  // helpers' up to their last 1,024. main's alone when no helper runs.
  uint64_t nodes(const Search& main) const;

  // For tests and the memory accounting.
  const Position& helper_position(int i) const { return *helpers_[i]->pos; }
  const Search& helper_search(int i) const { return *helpers_[i]->search; }
  // What one helper takes: its position, its Search and the Search's
  // per-ply storage.
  static uint64_t bytes_per_helper();

 private:
  struct Helper {
    std::unique_ptr<Position> pos;
    std::unique_ptr<Search> search;
    std::thread thread;
  };

  std::vector<std::unique_ptr<Helper>> helpers_;
  std::atomic<int32_t> over_{0};
  std::atomic<uint64_t> node_total_{0};
  uint64_t main_nodes_at_start_ = 0;
  bool running_ = false;
};

}  // namespace orvel
