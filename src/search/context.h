// What a search needs from the think that runs it, handed over as plain
// pointers so that the search knows nothing of the layers above it (the
// Game fills one in, game/search_inputs.h): the settings
// it reads while it runs (the owner may change them at any moment, hence
// atomics read relaxed), the stop flag, the cells the engine must never
// choose, where its lines go, and the tables it shares with the think.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/reporter.h"
#include "core/types.h"
#include "search/hash.h"

namespace orvel {

using BlockedCells = std::atomic<uint8_t>[MAX_SIZE][MAX_SIZE];

// Thread indexes in a root claim stay below this.
constexpr int32_t ROOT_CLAIM_SCALE = 128;

struct SearchContext {
  HashTables* hash = nullptr;
  const std::atomic<int32_t>* stop_requested = nullptr;  // > 0: stop at the next test
  const std::atomic<int32_t>* max_node = nullptr;        // units of 1024 nodes; -1: no node and no time limit
  const std::atomic<int32_t>* caution_factor = nullptr;
  const std::atomic<int32_t>* show_detail = nullptr;
  const BlockedCells* blocked_cells = nullptr;  // 1 marks a cell never to be chosen at the root
  Reporter* reporter = nullptr;                 // nullptr: the search writes no lines

  // A think on several threads: a second stop flag, raised when the think's
  // own search is done, and the node count of all its searches, which each
  // search raises by 1,024 at every limit test and the node limit reads.
  // Both nullptr for a search on its own.
  const std::atomic<int32_t>* think_over = nullptr;
  std::atomic<uint64_t>* node_total = nullptr;
  // The deepest iteration a search of the think completed: a search whose
  // iteration is no deeper stops it at its next limit test. nullptr for a
  // search on its own.
  const std::atomic<int32_t>* completed_depth = nullptr;
  // Which thread searches which root move at which depth (one claim per
  // cell, ROOT_CLAIM_SCALE * depth + thread_index), and this search's
  // thread: 0 for the think's own.
  std::atomic<int32_t>* root_claims = nullptr;
  int thread_index = 0;

  static int32_t get(const std::atomic<int32_t>* a) { return a->load(std::memory_order_relaxed); }
};

}  // namespace orvel
