// The settings a manager sends with INFO, held by the Game (game.h). The
// front end writes them while the worker may be thinking, and the worker
// sees a new value at its next test, so every integer is an atomic read and
// written relaxed. A new setting is one more atomic here and one more key in
// the front end's INFO table.
#pragma once

#include <atomic>
#include <cstdint>

namespace orvel {

struct Settings {
  std::atomic<int32_t> max_memory{0};
  std::atomic<int32_t> timeout_match{1000000000};
  std::atomic<int32_t> timeout_turn{30000};
  std::atomic<int32_t> time_left{1000000000};
  std::atomic<int32_t> game_type{1};
  std::atomic<int32_t> max_depth{576};
  std::atomic<int32_t> max_node{2000000000};  // units of 1024 nodes; -1 = no node and no time limit
  std::atomic<int32_t> caution_factor{1};
  std::atomic<int32_t> hash_size{524288};
  std::atomic<int32_t> show_detail{0};
  std::atomic<int32_t> rule{0};        // as sent; the engine plays effective_rule(rule)
  std::atomic<int32_t> thread_num{1};  // search threads of a normal think, 1..MAX_SEARCH_THREADS
  std::atomic<int32_t> search_mode{0};  // 1: the deep search; anything else: the node search
  char folder[1024] = {};              // stored only, never read

  // Relaxed reads for the worker.
  static int32_t get(const std::atomic<int32_t>& a) { return a.load(std::memory_order_relaxed); }
};

}  // namespace orvel
