// The transposition table and the threat cache: sizing, clearing, probes
// and stores. See hash.h for the layout.
#include "search/hash.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/platform.h"

namespace orvel {

namespace {

constexpr int TT_SLOTS = 4;
constexpr int CACHE_SLOTS = 2;
constexpr int TT_ARRAYS = 2;
constexpr int CACHE_ARRAYS = 4;
constexpr uint64_t TT_BUCKET_BYTES = TT_SLOTS * sizeof(TTEntry);           // 128
constexpr uint64_t CACHE_BUCKET_BYTES = CACHE_SLOTS * sizeof(CacheEntry);  // 32
// What one unit of a bucket count costs over all six arrays.
constexpr uint64_t BYTES_PER_COUNT = TT_ARRAYS * TT_BUCKET_BYTES + CACHE_ARRAYS * CACHE_BUCKET_BYTES;  // 384

inline uint64_t sign_extend(int64_t v) { return static_cast<uint64_t>(v); }

// The packing of an entry's data that its check words are XORed with.
// Unsigned arithmetic, so the shifts of negative values are well defined;
// every field is sign-extended to 64 bits first.
inline uint64_t tt_packing(int32_t upper, int32_t lower, int16_t depth, uint8_t flags) {
  uint64_t p = sign_extend(upper);
  p = (p << 28) ^ sign_extend(lower);
  p = (p << 6) ^ sign_extend(depth);
  p = (p << 2) ^ sign_extend(flags);
  return p;
}

inline uint64_t check_word(uint32_t hi, uint32_t lo) { return (static_cast<uint64_t>(hi) << 32) | lo; }

inline void write_tt_check(TTEntry& e, uint64_t key) {
  const uint64_t c = key ^ tt_packing(e.upper, e.lower, e.depth, e.flags);
  e.check_lo = static_cast<uint32_t>(c);
  e.check_hi = static_cast<uint32_t>(c >> 32);
}

// An occupied slot whose check words belong to key and to its own fields.
inline bool tt_matches(const TTEntry& e, uint64_t key) {
  return e.flags != BOUND_NONE &&
         (check_word(e.check_hi, e.check_lo) ^ tt_packing(e.upper, e.lower, e.depth, e.flags)) == key;
}

inline bool cache_matches(const CacheEntry& e, uint64_t key) {
  return (check_word(e.check_hi, e.check_lo) ^ sign_extend(e.value)) == key;
}

inline bool cache_empty(const CacheEntry& e) { return e.check_lo == 0 && e.check_hi == 0; }

// Several search threads probe and store the same entries without locks.
// Every field is read and written as a relaxed atomic, and a probe works on
// a copy of the slot: a slot another thread wrote half-way is whole field by
// field, and its check words then do not match its bounds, so it is missed.
template <typename T>
inline T load_field(const T& field) {
  return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

template <typename T, typename V>
inline void store_field(T& field, V value) {
  __atomic_store_n(&field, static_cast<T>(value), __ATOMIC_RELAXED);
}

TTEntry read_slot(const TTEntry& e) {
  TTEntry c{};
  c.check_lo = load_field(e.check_lo);
  c.check_hi = load_field(e.check_hi);
  c.upper = load_field(e.upper);
  c.lower = load_field(e.lower);
  c.depth = load_field(e.depth);
  c.age = load_field(e.age);
  c.flags = load_field(e.flags);
  c.moves_held = load_field(e.moves_held);
  for (int i = 0; i < 3; ++i) {
    c.moves[i][0] = load_field(e.moves[i][0]);
    c.moves[i][1] = load_field(e.moves[i][1]);
  }
  return c;
}

void write_slot(TTEntry& e, const TTEntry& c) {
  store_field(e.check_lo, c.check_lo);
  store_field(e.check_hi, c.check_hi);
  store_field(e.upper, c.upper);
  store_field(e.lower, c.lower);
  store_field(e.depth, c.depth);
  store_field(e.age, c.age);
  store_field(e.flags, c.flags);
  store_field(e.moves_held, c.moves_held);
  for (int i = 0; i < 3; ++i) {
    store_field(e.moves[i][0], c.moves[i][0]);
    store_field(e.moves[i][1], c.moves[i][1]);
  }
}

CacheEntry read_slot(const CacheEntry& e) {
  CacheEntry c{};
  c.check_lo = load_field(e.check_lo);
  c.check_hi = load_field(e.check_hi);
  c.value = load_field(e.value);
  c.distance = load_field(e.distance);
  c.age = load_field(e.age);
  return c;
}

inline bool in_win_or_loss_range(int32_t v) { return v >= WIN_RANGE || v <= -WIN_RANGE; }

// Tables hold wins and losses relative to the storing node.
inline int32_t to_stored(int32_t v, int a) {
  if (v >= WIN_RANGE) return v - a;
  if (v <= -WIN_RANGE) return v + a;
  return v;
}

inline int32_t from_stored(int32_t v, int a) {
  if (v >= WIN_RANGE) return v + a;
  if (v <= -WIN_RANGE) return v - a;
  return v;
}

inline bool is_stale(int16_t age, int32_t move_count) {
  const int32_t diff = static_cast<int32_t>(age) - move_count;
  return diff > 1 || diff < -1;
}

// Any count of at least 1 keeps the index inside the array; a power of two
// uses every bucket.
inline uint64_t bucket_index(uint64_t key, int64_t count) {
  return (key & 0xffffffffu) & static_cast<uint64_t>(count - 1);
}

inline int64_t floor_power_of_two(int64_t n) {
  if (n < 1) return 0;
  int64_t p = 1;
  while (p <= n / 2) p *= 2;
  return p;
}

// Get `arrays` zero-filled arrays of `count` buckets each, or none at all.
template <typename Entry, int Arrays>
bool allocate_arrays(int64_t count, int64_t max_count, uint64_t bucket_bytes, Entry* (&out)[Arrays]) {
  if (count < 1 || count > max_count) return false;
  if (static_cast<uint64_t>(count) > std::numeric_limits<size_t>::max() / bucket_bytes) return false;
  const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(bucket_bytes);
  for (int i = 0; i < Arrays; ++i) {
    out[i] = static_cast<Entry*>(zeroed_alloc(bytes));
    if (out[i] == nullptr) {
      for (int j = 0; j < i; ++j) {
        zeroed_free(out[j], bytes);
        out[j] = nullptr;
      }
      return false;
    }
  }
  return true;
}

template <typename Entry, int Arrays>
void release_arrays(Entry* (&arrays)[Arrays], int64_t count, uint64_t bucket_bytes) {
  for (int i = 0; i < Arrays; ++i) {
    zeroed_free(arrays[i], static_cast<size_t>(count) * static_cast<size_t>(bucket_bytes));
    arrays[i] = nullptr;
  }
}

// Bring one table to `requested` buckets per array. Sizes are 64-bit
// throughout. When the request cannot be had, tables already in use stay
// as they are; with none in use, the largest power of two below the
// request that can be had is taken, down to none at all.
template <typename Entry, int Arrays>
void resize_table(int64_t requested, int64_t& allocated, uint64_t bucket_bytes, int64_t max_count,
                  Entry* (&arrays)[Arrays]) {
  const int64_t want = std::max<int64_t>(requested, 0);
  if (want == allocated) return;
  if (want == 0) {
    release_arrays(arrays, allocated, bucket_bytes);
    allocated = 0;
    return;
  }
  Entry* fresh[Arrays] = {};
  if (allocate_arrays(want, max_count, bucket_bytes, fresh)) {
    release_arrays(arrays, allocated, bucket_bytes);
    for (int i = 0; i < Arrays; ++i) arrays[i] = fresh[i];
    allocated = want;
    return;
  }
  if (allocated > 0) return;
  for (int64_t count = floor_power_of_two(std::min(want - 1, max_count)); count >= 1; count /= 2) {
    if (allocate_arrays(count, max_count, bucket_bytes, fresh)) {
      for (int i = 0; i < Arrays; ++i) arrays[i] = fresh[i];
      allocated = count;
      return;
    }
  }
}

// Zero every array of one table. A table whose pages could not be had back
// after the clear is dropped: no table is better than one that cannot be
// read.
template <typename Entry, int Arrays>
void clear_table(int64_t& allocated, uint64_t bucket_bytes, Entry* (&arrays)[Arrays]) {
  if (allocated <= 0) return;
  bool lost = false;
  for (Entry* a : arrays) {
    if (a != nullptr && !zero_fill(a, static_cast<size_t>(allocated) * static_cast<size_t>(bucket_bytes)))
      lost = true;
  }
  if (lost) {
    release_arrays(arrays, allocated, bucket_bytes);
    allocated = 0;
  }
}

}  // namespace

uint64_t HashTables::default_memory_limit() {
  const uint64_t physical = physical_memory_bytes();
  return physical == 0 ? std::numeric_limits<uint64_t>::max() : physical / 2;
}

uint64_t HashTables::table_bytes(int64_t bucket_count) {
  return static_cast<uint64_t>(std::max<int64_t>(bucket_count, 0)) * BYTES_PER_COUNT;
}

HashTables::~HashTables() {
  release_arrays(tt_, tt_allocated, TT_BUCKET_BYTES);
  release_arrays(cache_, cache_allocated, CACHE_BUCKET_BYTES);
}

void HashTables::resize_hash_tables() {
  const uint64_t limit_count = memory_limit / BYTES_PER_COUNT;
  const int64_t max_count = limit_count > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                                ? std::numeric_limits<int64_t>::max()
                                : static_cast<int64_t>(limit_count);
  resize_table(tt_buckets, tt_allocated, TT_BUCKET_BYTES, max_count, tt_);
  resize_table(cache_buckets, cache_allocated, CACHE_BUCKET_BYTES, max_count, cache_);
}

void HashTables::clear_hash_tables() {
  clear_table(tt_allocated, TT_BUCKET_BYTES, tt_);
  clear_table(cache_allocated, CACHE_BUCKET_BYTES, cache_);
}

void HashTables::apply_hash_size(int32_t hash_size) {
  if (hash_size == tt_buckets) return;
  tt_buckets = hash_size;
  cache_buckets = hash_size;
  resize_hash_tables();
  clear_hash_tables();
}

const TTEntry* HashTables::tt_bucket(int side, uint64_t key) const {
  const TTEntry* a = tt_[side - 1];
  if (tt_allocated <= 0 || a == nullptr) return nullptr;
  return a + TT_SLOTS * bucket_index(key, tt_allocated);
}

const CacheEntry* HashTables::cache_bucket(int kind, int side, uint64_t key) const {
  const CacheEntry* a = cache_[2 * kind + side - 1];
  if (cache_allocated <= 0 || a == nullptr) return nullptr;
  return a + CACHE_SLOTS * bucket_index(key, cache_allocated);
}

bool HashTables::tt_read(int side, uint64_t key, TTEntry& out) const {
  const TTEntry* bucket = tt_bucket(side, key);
  if (bucket == nullptr) return false;
  for (int i = 0; i < TT_SLOTS; ++i) {
    out = read_slot(bucket[i]);
    if (tt_matches(out, key)) return true;
  }
  return false;
}

int32_t HashTables::tt_probe(int required_depth, int32_t alpha, int32_t beta, int side, uint64_t key,
                             int moves_wanted, int32_t xs[3], int32_t ys[3]) const {
  TTEntry found;
  if (!tt_read(side, key, found)) return NO_VALUE;
  const TTEntry* e = &found;

  const int a = required_depth;
  const int32_t u = e->upper;
  const int32_t l = e->lower;
  const int32_t u_adj = from_stored(u, a);
  const int32_t l_adj = from_stored(l, a);
  const bool uwin = in_win_or_loss_range(u);
  const bool lwin = in_win_or_loss_range(l);
  const bool deep = e->depth >= a;

  auto deliver = [&]() {
    xs[0] = e->moves[0][0];
    ys[0] = e->moves[0][1];
    if (moves_wanted > 1) {
      xs[1] = e->moves[1][0];
      ys[1] = e->moves[1][1];
    }
    if (moves_wanted > 2) {
      xs[2] = e->moves[2][0];
      ys[2] = e->moves[2][1];
    }
  };

  if (u == l && e->flags == BOUND_EXACT && (uwin || deep)) {
    deliver();
    return u_adj;
  }
  if ((e->flags & BOUND_UPPER) != 0 && u_adj <= alpha && (uwin || deep)) {
    deliver();
    return u_adj;
  }
  if ((e->flags & BOUND_LOWER) != 0 && l_adj >= beta && (lwin || deep)) {
    deliver();
    return l_adj;
  }
  if ((uwin && lwin) || deep) deliver();
  return NO_VALUE;
}

void HashTables::tt_store(uint64_t key, int depth, int32_t value, int flags, int side, int x1, int y1, int x2,
                          int y2, int x3, int y3) {
  if (tt_allocated <= 0 || tt_[side - 1] == nullptr) return;
  TTEntry* bucket = tt_[side - 1] + TT_SLOTS * bucket_index(key, tt_allocated);

  // The slots are read once; the chosen one is changed in its copy and
  // written back whole.
  TTEntry slots[TT_SLOTS];
  for (int i = 0; i < TT_SLOTS; ++i) slots[i] = read_slot(bucket[i]);
  int target = -1;
  bool in_place = false;
  int victim = 0;
  for (int i = 0; i < TT_SLOTS; ++i) {
    TTEntry& s = slots[i];
    if (s.flags == BOUND_NONE) {
      target = i;
      break;
    }
    if (tt_matches(s, key)) {
      s.age = static_cast<int16_t>(move_count);
      store_field(bucket[i].age, s.age);
      if (s.depth > depth) return;
      target = i;
      in_place = true;
      break;
    }
    if (is_stale(s.age, move_count)) {
      target = i;
      break;
    }
    const TTEntry& v = slots[victim];
    int score = 0;
    if (v.age == move_count) score += 2;
    if (s.age == move_count || s.flags == BOUND_EXACT) score -= 2;
    if (s.depth < v.depth) score += 1;
    if (score > 0) victim = i;
  }
  if (target < 0) target = victim;

  const int32_t v = to_stored(value, depth);
  TTEntry& e = slots[target];
  auto commit = [&]() {
    write_tt_check(e, key);
    write_slot(bucket[target], e);
  };
  const int gx[3] = {x1, x2, x3};
  const int gy[3] = {y1, y2, y3};

  if (!in_place) {
    e.upper = v;
    e.lower = v;
    e.depth = static_cast<int16_t>(depth);
    e.age = static_cast<int16_t>(move_count);
    e.flags = static_cast<uint8_t>(flags);
    uint8_t held = 0;
    for (int i = 0; i < 3; ++i) {
      e.moves[i][0] = static_cast<int8_t>(gx[i]);
      e.moves[i][1] = static_cast<int8_t>(gy[i]);
      if (gx[i] != -1) ++held;
    }
    e.moves_held = held;
    commit();
    return;
  }

  // Merge the given moves in front of the held ones, the best given move
  // ending up first; a given move that was already held leaves a gap where
  // its older copy stood.
  for (int i = 2; i >= 0; --i) {
    if (gx[i] == -1) continue;
    const int8_t mx = static_cast<int8_t>(gx[i]);
    const int8_t my = static_cast<int8_t>(gy[i]);
    e.moves[2][0] = e.moves[1][0];
    e.moves[2][1] = e.moves[1][1];
    e.moves[1][0] = e.moves[0][0];
    e.moves[1][1] = e.moves[0][1];
    e.moves[0][0] = mx;
    e.moves[0][1] = my;
    if (e.moves_held < 3) ++e.moves_held;
    if (e.moves[2][0] == mx && e.moves[2][1] == my) {
      e.moves[2][0] = -1;
      e.moves[2][1] = -1;
      --e.moves_held;
    } else if (e.moves[1][0] == mx && e.moves[1][1] == my) {
      e.moves[1][0] = -1;
      e.moves[1][1] = -1;
      --e.moves_held;
    }
  }

  if (depth > e.depth) {
    e.upper = v;
    e.lower = v;
    e.depth = static_cast<int16_t>(depth);
    e.flags = static_cast<uint8_t>(flags);
    commit();
    return;
  }
  if (flags == BOUND_EXACT) {
    e.upper = v;
    e.lower = v;
    e.flags = BOUND_EXACT;
    commit();
    return;
  }
  // Equal depth, one bound: re-verify before reading the old bounds, and
  // leave an exact value alone. The held word takes part in the merge even
  // when its flag bit is not set. The merged moves are written back
  // whatever happens to the bounds.
  auto keep_moves = [&]() { write_slot(bucket[target], e); };
  if (!tt_matches(e, key)) return keep_moves();
  if (e.flags == BOUND_EXACT && e.upper == e.lower) return keep_moves();
  if (flags == BOUND_UPPER) {
    e.upper = std::min(e.upper, v);
    e.flags |= BOUND_UPPER;
  } else if (flags == BOUND_LOWER) {
    e.lower = std::max(e.lower, v);
    e.flags |= BOUND_LOWER;
  } else {
    return keep_moves();
  }
  commit();
}

void HashTables::prefetch(int side, uint64_t key) const {
  if (const TTEntry* bucket = tt_bucket(side, key)) {
    const char* p = reinterpret_cast<const char*>(bucket);
    __builtin_prefetch(p);
    __builtin_prefetch(p + TT_BUCKET_BYTES - 1);
  }
  if (const CacheEntry* bucket = cache_bucket(0, side, key)) __builtin_prefetch(bucket);
}

int32_t HashTables::cache_probe(int kind, int side, int g, uint64_t key) const {
  const CacheEntry* bucket = cache_bucket(kind, side, key);
  if (bucket == nullptr) return NO_VALUE;
  for (int i = 0; i < CACHE_SLOTS; ++i) {
    const CacheEntry e = read_slot(bucket[i]);
    if (cache_matches(e, key)) return from_stored(e.value, g);
  }
  return NO_VALUE;
}

void HashTables::cache_store(uint64_t key, int32_t value, int g, int kind, int side) {
  CacheEntry* a = cache_[2 * kind + side - 1];
  if (cache_allocated <= 0 || a == nullptr) return;
  CacheEntry* bucket = a + CACHE_SLOTS * bucket_index(key, cache_allocated);

  const int32_t v = to_stored(value, g);
  const CacheEntry first = read_slot(bucket[0]);
  const bool first_is_target = cache_matches(first, key) || cache_empty(first) || first.distance <= g ||
                               is_stale(first.age, move_count);
  CacheEntry& e = first_is_target ? bucket[0] : bucket[1];
  const uint64_t c = key ^ sign_extend(v);
  store_field(e.check_lo, static_cast<uint32_t>(c));
  store_field(e.check_hi, static_cast<uint32_t>(c >> 32));
  store_field(e.value, v);
  store_field(e.distance, g);
  store_field(e.age, move_count);
}

}  // namespace orvel
