// The search's view of the engine: its live settings, the cells excluded
// from the engine's own moves, the stop flag and the output, as the plain
// pointers a search reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/game_record.h"
#include "protocol/output.h"
#include "protocol/settings.h"
#include "search/context.h"
#include "search/hash.h"

namespace orvel {

inline SearchContext make_search_context(const Settings& settings, const GameRecord& record, HashTables& hash,
                                         const std::atomic<int32_t>& stop_requested, Output* out) {
  SearchContext c;
  c.hash = &hash;
  c.stop_requested = &stop_requested;
  c.max_node = &settings.max_node;
  c.caution_factor = &settings.caution_factor;
  c.show_detail = &settings.show_detail;
  c.blocked_cells = &record.blocked_cells;
  c.reporter = out;
  return c;
}

}  // namespace orvel
