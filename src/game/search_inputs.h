// The search's view of a game: its live settings, the cells excluded from
// the engine's own moves, the stop flag and the reporter, as the plain
// pointers a search reads.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/reporter.h"
#include "game/game_record.h"
#include "game/settings.h"
#include "search/context.h"
#include "search/hash.h"

namespace orvel {

inline SearchContext make_search_context(const Settings& settings, const GameRecord& record, HashTables& hash,
                                         const std::atomic<int32_t>& stop_requested, Reporter* out) {
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
