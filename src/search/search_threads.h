// The helper searches of a think on several threads. Each helper owns a
// copy of the position and a Search of its own, made when the thread count
// changes and kept otherwise; during a think each runs an iterative
// deepening of its own on its own thread, every other helper one ply ahead
// of the think's own search. They meet in the shared tables and in the
// deepest iteration completed so far: a search still busy with that depth or
// a shallower one gives it up and goes on deeper, and the think takes a
// helper's completed iteration when it is deeper than its own. A helper
// writes no line.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "board/position.h"
#include "search/context.h"
#include "search/search.h"

namespace orvel {

// The most search threads a think runs; more requested are this many.
constexpr int MAX_SEARCH_THREADS = 64;
static_assert(MAX_SEARCH_THREADS < ROOT_CLAIM_SCALE, "a root claim holds the thread index");

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

  // main completed (or took) an iteration of this depth: helpers still at
  // it or below move on.
  void main_completed(int depth);
  // When a helper completed an iteration at least min_depth deep this
  // think, the deepest becomes main's last completed one: its move, value
  // (in *value), line (pv_lines[0]), single reply and last_depth; main's
  // search_aborted is cleared. False, and main untouched, otherwise.
  bool take_helper_iteration(Search& main, int min_depth, int32_t* value);

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

  // A completed iteration of a helper: its depth, value, move and line.
  struct IterationResult {
    int depth = 0;
    int32_t value = 0;
    int x = -1, y = -1;
    bool single_reply = false;
    PvLine line{};
  };

  void deepen(Search& s, int index, int side, int max_depth);
  void publish(const Search& s, int depth, int32_t value);

  std::vector<std::unique_ptr<Helper>> helpers_;
  std::atomic<int32_t> over_{0};
  // The deepest iteration any search of the think completed.
  std::atomic<int32_t> completed_depth_{0};
  std::atomic<int32_t> root_claims_[MAX_SIZE * MAX_SIZE];
  std::mutex result_mutex_;
  IterationResult helper_best_;  // under result_mutex_
  std::atomic<uint64_t> node_total_{0};
  uint64_t main_nodes_at_start_ = 0;
  bool running_ = false;
};

}  // namespace orvel
