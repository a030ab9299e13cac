// The transposition table and the threat cache.
//
// Both are arrays of fixed-size buckets addressed by the low 32 bits of the
// Zobrist key AND (bucket count - 1); no key is stored: each entry carries
// two check words, the key XOR a packing of the entry's data, so an entry of
// another position or a half-written one never passes for a hit.
//
// Transposition table: one array per side to move, buckets of four 32-byte
// TTEntry slots. Victim choice prefers empty, then stale (age two or more
// moves back), then the shallowest recent entry of another position.
// Threat cache: four arrays (attacker/defender node x side), buckets of two
// 16-byte CacheEntry slots.
//
// Win and loss values are stored relative to the storing node (minus the
// depth or distance) and re-based at the probing node.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

namespace orvel {

// 32 bytes: check words, two bounds, depth, age, flags, up to three moves.
struct TTEntry {
  uint32_t check_lo;
  uint32_t check_hi;
  int32_t upper;
  int32_t lower;
  int16_t depth;
  int16_t age;
  uint8_t flags;       // BOUND_NONE (empty), BOUND_UPPER, BOUND_LOWER, BOUND_EXACT
  uint8_t moves_held;  // 0..3
  int8_t moves[3][2];  // (x, y), best first; x = -1 marks a missing move
  uint8_t unused[4];
};
static_assert(sizeof(TTEntry) == 32, "TTEntry is 32 bytes");

// 16 bytes: check words, value, distance, age. Both check words 0 = empty.
struct CacheEntry {
  uint32_t check_lo;
  uint32_t check_hi;
  int32_t value;
  int16_t distance;
  int16_t age;
};
static_assert(sizeof(CacheEntry) == 16, "CacheEntry is 16 bytes");

class HashTables {
 public:
  HashTables() = default;
  ~HashTables();
  HashTables(const HashTables&) = delete;
  HashTables& operator=(const HashTables&) = delete;

  // Requested and allocated bucket counts per array.
  int64_t tt_buckets = 524288;
  int64_t cache_buckets = 524288;
  int64_t tt_allocated = 0;
  int64_t cache_allocated = 0;

  // The age that stores write and probes compare against (the game's
  // move_count). Set by the owner before every search.
  int32_t move_count = 0;

  // The most bytes the two tables may take together. A bucket count costs
  // 384 bytes (two 128-byte and four 32-byte buckets); a count above
  // memory_limit / 384 is treated like a failed allocation. The default is
  // half of the machine's physical memory, so a huge hash_size cannot make
  // the clear touch more memory than there is (the allocator alone would
  // often promise it). Tests lower it to exercise the fallback.
  uint64_t memory_limit = default_memory_limit();
  static uint64_t default_memory_limit();
  // The bytes both tables take with `bucket_count` buckets per array.
  static uint64_t table_bytes(int64_t bucket_count);

  // Make the arrays match the requested counts. When memory cannot be had
  // the tables in use are kept; with none in use, the largest power of two
  // below the request that can be had is taken (possibly none: then every
  // probe misses and every store does nothing).
  void resize_hash_tables();
  void clear_hash_tables();
  // Resize (and clear) when hash_size differs from the requested count.
  void apply_hash_size(int32_t hash_size);

  int32_t tt_probe(int required_depth, int32_t alpha, int32_t beta, int side, uint64_t key, int moves_wanted,
                   int32_t xs[3], int32_t ys[3]) const;
  // The entry of key, whatever its depth; false when there is none.
  bool tt_read(int side, uint64_t key, TTEntry& out) const;
  void tt_store(uint64_t key, int depth, int32_t value, int flags, int side, int x1, int y1, int x2, int y2,
                int x3, int y3);

  // Ask the memory system for what probes of key by side will read: the
  // transposition table's bucket and the attacker's threat-cache bucket.
  // Changes nothing; a probe soon after finds them in the cache.
  void prefetch(int side, uint64_t key) const;

  int32_t cache_probe(int kind, int side, int g, uint64_t key) const;
  void cache_store(uint64_t key, int32_t value, int g, int kind, int side);

  // Direct access for tests.
  const TTEntry* tt_bucket(int side, uint64_t key) const;
  const CacheEntry* cache_bucket(int kind, int side, uint64_t key) const;

 private:
  TTEntry* tt_[2] = {nullptr, nullptr};
  CacheEntry* cache_[4] = {nullptr, nullptr, nullptr, nullptr};
};

}  // namespace orvel
