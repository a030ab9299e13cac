// Tables: the transposition table and the threat cache.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "search/hash.h"

namespace orvel {
namespace {

constexpr int ATTACKER = 0;
constexpr int DEFENDER = 1;

// Tables with `buckets` buckets per array, allocated and cleared.
std::unique_ptr<HashTables> make_tables(int64_t buckets) {
  auto h = std::make_unique<HashTables>();
  h->tt_buckets = buckets;
  h->cache_buckets = buckets;
  h->resize_hash_tables();
  h->clear_hash_tables();
  return h;
}

struct Moves {
  int32_t xs[3] = {99, 99, 99};
  int32_t ys[3] = {99, 99, 99};
  bool untouched() const {
    for (int i = 0; i < 3; ++i)
      if (xs[i] != 99 || ys[i] != 99) return false;
    return true;
  }
};

// Probe that wants all three moves.
int32_t probe(const HashTables& h, uint64_t key, int depth, int32_t alpha, int32_t beta, Moves& m, int side = BLACK) {
  return h.tt_probe(depth, alpha, beta, side, key, 3, m.xs, m.ys);
}

int32_t probe(const HashTables& h, uint64_t key, int depth, int32_t alpha = -WIN_SCORE * 2,
              int32_t beta = WIN_SCORE * 2) {
  Moves m;
  return probe(h, key, depth, alpha, beta, m);
}

void store(HashTables& h, uint64_t key, int depth, int32_t value, int flags, int side = BLACK, int x1 = -1,
           int y1 = -1, int x2 = -1, int y2 = -1, int x3 = -1, int y3 = -1) {
  h.tt_store(key, depth, value, flags, side, x1, y1, x2, y2, x3, y3);
}

// The slot of `key` in its bucket (the first whose check words give back
// the key), or nullptr.
const TTEntry* find_slot(const HashTables& h, uint64_t key, int side = BLACK) {
  const TTEntry* b = h.tt_bucket(side, key);
  if (b == nullptr) return nullptr;
  for (int i = 0; i < 4; ++i) {
    // The key recovered from the check words and the slot's own fields.
    uint64_t p = static_cast<uint64_t>(static_cast<int64_t>(b[i].upper));
    p = (p << 28) ^ static_cast<uint64_t>(static_cast<int64_t>(b[i].lower));
    p = (p << 6) ^ static_cast<uint64_t>(static_cast<int64_t>(b[i].depth));
    p = (p << 2) ^ static_cast<uint64_t>(b[i].flags);
    const uint64_t c = (static_cast<uint64_t>(b[i].check_hi) << 32) | b[i].check_lo;
    if (b[i].flags != BOUND_NONE && (c ^ p) == key) return &b[i];
  }
  return nullptr;
}

int slot_of(const HashTables& h, uint64_t key, int side = BLACK) {
  const TTEntry* e = find_slot(h, key, side);
  return e == nullptr ? -1 : static_cast<int>(e - h.tt_bucket(side, key));
}

void expect_moves(const TTEntry& e, std::vector<std::pair<int, int>> want, int held) {
  ASSERT_EQ(want.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(e.moves[i][0], want[i].first) << "move " << i;
    EXPECT_EQ(e.moves[i][1], want[i].second) << "move " << i;
  }
  EXPECT_EQ(e.moves_held, held);
}

// ---------------------------------------------------------------------------
// Sizing, allocation and its failures

TEST(HashSizing, UnallocatedTablesMissAndIgnoreStores) {
  HashTables h;
  EXPECT_EQ(h.tt_buckets, 524288);
  EXPECT_EQ(h.cache_buckets, 524288);
  EXPECT_EQ(h.tt_allocated, 0);
  EXPECT_EQ(h.cache_allocated, 0);
  h.clear_hash_tables();  // nothing to clear, nothing touched
  store(h, 42, 3, 100, BOUND_EXACT, BLACK, 1, 1);
  h.cache_store(42, 100, 3, ATTACKER, BLACK);
  Moves m;
  EXPECT_EQ(probe(h, 42, 0, -1000, 1000, m), NO_VALUE);
  EXPECT_TRUE(m.untouched());
  EXPECT_EQ(h.cache_probe(ATTACKER, BLACK, 3, 42), NO_VALUE);
  EXPECT_EQ(h.tt_bucket(BLACK, 42), nullptr);
  EXPECT_EQ(h.cache_bucket(ATTACKER, BLACK, 42), nullptr);
}

TEST(HashSizing, ApplyHashSizeResizesAndClearsOnlyOnChange) {
  auto h = make_tables(16);
  EXPECT_EQ(h->tt_allocated, 16);
  EXPECT_EQ(h->cache_allocated, 16);
  store(*h, 7, 2, 55, BOUND_EXACT);
  h->cache_store(7, 66, 4, DEFENDER, WHITE);

  h->apply_hash_size(16);  // same size: entries live on
  EXPECT_EQ(probe(*h, 7, 2), 55);
  EXPECT_EQ(h->cache_probe(DEFENDER, WHITE, 4, 7), 66);

  h->apply_hash_size(32);  // new size: both tables resized and emptied
  EXPECT_EQ(h->tt_buckets, 32);
  EXPECT_EQ(h->cache_buckets, 32);
  EXPECT_EQ(h->tt_allocated, 32);
  EXPECT_EQ(h->cache_allocated, 32);
  EXPECT_EQ(probe(*h, 7, 2), NO_VALUE);
  EXPECT_EQ(h->cache_probe(DEFENDER, WHITE, 4, 7), NO_VALUE);
  store(*h, 7, 2, 57, BOUND_EXACT);
  EXPECT_EQ(probe(*h, 7, 2), 57);

  h->tt_buckets = 0;  // a zero count releases the arrays
  h->cache_buckets = 0;
  h->resize_hash_tables();
  EXPECT_EQ(h->tt_allocated, 0);
  EXPECT_EQ(h->cache_allocated, 0);
  EXPECT_EQ(probe(*h, 7, 2), NO_VALUE);
  store(*h, 7, 2, 57, BOUND_EXACT);
  h->cache_store(7, 1, 1, ATTACKER, BLACK);
  EXPECT_EQ(probe(*h, 7, 2), NO_VALUE);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 1, 7), NO_VALUE);
}

TEST(HashSizing, HugeHashSizeKeepsTheTablesInUse) {
  auto h = make_tables(64);
  // First under a small limit, so a broken rule fails here cheaply.
  const uint64_t machine_limit = h->memory_limit;
  h->memory_limit = 384 * 1000;
  h->apply_hash_size(5000);
  ASSERT_EQ(h->tt_allocated, 64);
  ASSERT_EQ(h->cache_allocated, 64);

  // 2,000,000,000 buckets would be 768 GB for the six arrays: more than
  // the default limit (half of the machine's memory) allows.
  h->memory_limit = machine_limit;
  ASSERT_GT(machine_limit, 0u);
  ASSERT_LT(machine_limit / 384, 2000000000u);
  h->apply_hash_size(2000000000);
  EXPECT_EQ(h->tt_buckets, 2000000000);
  EXPECT_EQ(h->tt_allocated, 64);
  EXPECT_EQ(h->cache_allocated, 64);
  // Still cleared (the size changed) and fully working.
  EXPECT_EQ(probe(*h, 5, 1), NO_VALUE);
  for (uint64_t k = 1; k <= 200; ++k) {
    store(*h, k * 0x9E3779B97F4A7C15ull, 3, static_cast<int32_t>(k), BOUND_EXACT);
    h->cache_store(k * 0x9E3779B97F4A7C15ull, static_cast<int32_t>(k), 3, ATTACKER, BLACK);
  }
  EXPECT_EQ(probe(*h, 200 * 0x9E3779B97F4A7C15ull, 3), 200);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 3, 200 * 0x9E3779B97F4A7C15ull), 200);
  // The next think with the same setting does not retry or clear.
  h->apply_hash_size(2000000000);
  EXPECT_EQ(probe(*h, 200 * 0x9E3779B97F4A7C15ull, 3), 200);

  // Counts whose byte sizes do not fit 64 bits, with no memory limit of
  // our own: refused before any allocation, the tables stay.
  h->memory_limit = UINT64_MAX;
  h->tt_buckets = INT64_MAX;
  h->cache_buckets = INT64_MAX / 2 + 12345;
  h->resize_hash_tables();
  EXPECT_EQ(h->tt_allocated, 64);
  EXPECT_EQ(h->cache_allocated, 64);
  h->clear_hash_tables();
  EXPECT_EQ(probe(*h, 200 * 0x9E3779B97F4A7C15ull, 3), NO_VALUE);
  store(*h, 99, 1, 9, BOUND_EXACT);
  EXPECT_EQ(probe(*h, 99, 1), 9);

  // Back to a size that fits: taken as usual.
  h->apply_hash_size(128);
  EXPECT_EQ(h->tt_allocated, 128);
  EXPECT_EQ(h->cache_allocated, 128);
}

TEST(HashSizing, WithoutTablesFallsBackToLargestPowerOfTwoThatFits) {
  HashTables h;
  h.memory_limit = 384 * 1000;  // room for 1,000 buckets per array
  h.apply_hash_size(5000);
  EXPECT_EQ(h.tt_buckets, 5000);
  EXPECT_EQ(h.tt_allocated, 512);
  EXPECT_EQ(h.cache_allocated, 512);
  // Every bucket index stays below 512.
  uint64_t key = 0;
  for (uint64_t k = 0; k < 4096; ++k) {
    key = (k << 32) | (k * 2654435761u);
    EXPECT_LT(h.tt_bucket(WHITE, key) - h.tt_bucket(WHITE, 0), 4 * 512);
    EXPECT_LT(h.cache_bucket(DEFENDER, WHITE, key) - h.cache_bucket(DEFENDER, WHITE, 0), 2 * 512);
    store(h, key | 1, 1, 3, BOUND_EXACT, WHITE);
    h.cache_store(key | 1, 3, 1, DEFENDER, WHITE);
  }
  Moves m;
  EXPECT_EQ(probe(h, key | 1, 1, -100, 100, m, WHITE), 3);
  EXPECT_EQ(h.cache_probe(DEFENDER, WHITE, 1, key | 1), 3);

  // A request that fits by itself is taken exactly, also not a power of two.
  h.apply_hash_size(1000);
  EXPECT_EQ(h.tt_allocated, 1000);

  // No room at all: nothing is allocated, and nothing breaks.
  HashTables none;
  none.memory_limit = 100;
  none.apply_hash_size(1000);
  EXPECT_EQ(none.tt_allocated, 0);
  EXPECT_EQ(none.cache_allocated, 0);
  store(none, 3, 1, 1, BOUND_EXACT);
  none.cache_store(3, 1, 1, ATTACKER, BLACK);
  EXPECT_EQ(probe(none, 3, 1), NO_VALUE);
  EXPECT_EQ(none.cache_probe(ATTACKER, BLACK, 1, 3), NO_VALUE);
}

// ---------------------------------------------------------------------------
// Buckets and check words

TEST(HashBuckets, OneBucketAnswersForTheLatestPosition) {
  auto h = make_tables(1);
  std::vector<uint64_t> keys;
  for (uint64_t i = 1; i <= 9; ++i) keys.push_back(i * 0x0101010101010101ull + (i << 40));
  for (size_t i = 0; i < keys.size(); ++i) {
    store(*h, keys[i], 4, static_cast<int32_t>(100 + i), BOUND_EXACT, BLACK, static_cast<int>(i), 0);
    h->cache_store(keys[i], static_cast<int32_t>(200 + i), 10, ATTACKER, BLACK);
    EXPECT_EQ(h->tt_bucket(BLACK, keys[i]), h->tt_bucket(BLACK, keys[0]));
    // The position just stored is always found.
    Moves m;
    EXPECT_EQ(probe(*h, keys[i], 4, -1000, 1000, m), static_cast<int32_t>(100 + i));
    EXPECT_EQ(m.xs[0], static_cast<int32_t>(i));
    EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 10, keys[i]), static_cast<int32_t>(200 + i));
    // Older ones answer with their own value or not at all.
    for (size_t j = 0; j < i; ++j) {
      const int32_t v = probe(*h, keys[j], 4);
      EXPECT_TRUE(v == NO_VALUE || v == static_cast<int32_t>(100 + j)) << v;
      const int32_t c = h->cache_probe(ATTACKER, BLACK, 10, keys[j]);
      EXPECT_TRUE(c == NO_VALUE || c == static_cast<int32_t>(200 + j)) << c;
    }
  }
}

TEST(HashBuckets, NonPowerOfTwoCountUsesSubsetBuckets) {
  auto h = make_tables(6);  // mask 5 = binary 101: buckets 0, 1, 4, 5
  const TTEntry* base = h->tt_bucket(BLACK, 0);
  const CacheEntry* cbase = h->cache_bucket(ATTACKER, WHITE, 0);
  std::set<long> seen;
  for (uint64_t low = 0; low < 64; ++low) {
    const uint64_t key = 0xABCD000000000000ull | low;
    const long b = static_cast<long>(h->tt_bucket(BLACK, key) - base) / 4;
    EXPECT_EQ(b, static_cast<long>(low & 5));
    EXPECT_EQ(h->cache_bucket(ATTACKER, WHITE, key) - cbase, static_cast<long>(2 * (low & 5)));
    seen.insert(b);
    store(*h, key, 1, static_cast<int32_t>(low), BOUND_EXACT);
    h->cache_store(key, static_cast<int32_t>(low), 1, ATTACKER, WHITE);
  }
  EXPECT_EQ(seen, (std::set<long>{0, 1, 4, 5}));
  // Only the low 32 bits of the key choose the bucket.
  EXPECT_EQ(h->tt_bucket(BLACK, 0x7777777700000005ull), h->tt_bucket(BLACK, 0x0000000100000005ull));
  EXPECT_EQ(probe(*h, 0xABCD00000000003Full, 1), 63);
  EXPECT_EQ(h->cache_probe(ATTACKER, WHITE, 1, 0xABCD00000000003Full), 63);
}

TEST(HashBuckets, CheckWordsBindKeyAndContents) {
  auto h = make_tables(8);
  const uint64_t key = 0x0123456789ABCDEFull;
  // upper = lower = -5 is a single store; the packing uses two different
  // bounds, so merge a lower bound 7 into an upper bound -5.
  store(*h, key, 3, -5, BOUND_UPPER);
  store(*h, key, 3, 7, BOUND_LOWER);
  const TTEntry* e = find_slot(*h, key);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->upper, -5);
  EXPECT_EQ(e->lower, 7);
  EXPECT_EQ(e->flags, BOUND_EXACT);
  // P = ((((-5 << 28) ^ 7) << 6) ^ 3) << 2) ^ 3 = 0xFFFFFFB00000070F.
  EXPECT_EQ(e->check_lo, 0x89ABCAE0u);
  EXPECT_EQ(e->check_hi, 0xFEDCBAD7u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(e->unused[i], 0);

  // Cache: key XOR the sign-extended stored value (-10,000,020 at g 7 is
  // held as -10,000,013).
  h->cache_store(key, -10000020, 7, DEFENDER, BLACK);
  const CacheEntry* c = h->cache_bucket(DEFENDER, BLACK, key);
  EXPECT_EQ(c[0].value, -10000013);
  EXPECT_EQ(c[0].distance, 7);
  EXPECT_EQ(c[0].check_lo, 0x76CCA49Cu);
  EXPECT_EQ(c[0].check_hi, 0xFEDCBA98u);

  // Another key of the same bucket, or another side or kind, never hits.
  EXPECT_EQ(probe(*h, key ^ (1ull << 40), 3), NO_VALUE);
  EXPECT_EQ(probe(*h, key ^ 8, 3), NO_VALUE);
  Moves m;
  EXPECT_EQ(h->tt_probe(3, -100, 100, WHITE, key, 3, m.xs, m.ys), NO_VALUE);
  EXPECT_EQ(h->cache_probe(DEFENDER, BLACK, 7, key ^ (1ull << 63)), NO_VALUE);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 7, key), NO_VALUE);
  EXPECT_EQ(h->cache_probe(DEFENDER, WHITE, 7, key), NO_VALUE);
  EXPECT_EQ(h->cache_probe(DEFENDER, BLACK, 7, key), -10000020);

  // A half-written entry (a field changed without new check words) is
  // another position's: the probe misses and the bound merge leaves it.
  TTEntry* w = const_cast<TTEntry*>(e);
  w->lower = 8;
  EXPECT_EQ(probe(*h, key, 3), NO_VALUE);
  CacheEntry* cw = const_cast<CacheEntry*>(c);
  cw[0].value = -10000012;
  EXPECT_EQ(h->cache_probe(DEFENDER, BLACK, 7, key), NO_VALUE);
}

// ---------------------------------------------------------------------------
// Probe rules

TEST(HashProbe, DepthRuleAndMoveDelivery) {
  auto h = make_tables(8);
  const uint64_t key = 0x1111222233334444ull;
  store(*h, key, 3, 100, BOUND_EXACT, BLACK, 7, 8, 9, 10, -1, -1);

  Moves m;
  EXPECT_EQ(probe(*h, key, 5, -1000, 1000, m), NO_VALUE);  // too shallow, no win
  EXPECT_TRUE(m.untouched());
  EXPECT_EQ(probe(*h, key, 3, -1000, 1000, m), 100);
  EXPECT_EQ(m.xs[0], 7);
  EXPECT_EQ(m.ys[0], 8);
  EXPECT_EQ(m.xs[1], 9);
  EXPECT_EQ(m.ys[1], 10);
  EXPECT_EQ(m.xs[2], -1);  // a missing move delivers (-1, -1)
  EXPECT_EQ(m.ys[2], -1);
  EXPECT_EQ(probe(*h, key, 1), 100);

  // moves_wanted limits what is written.
  Moves one;
  EXPECT_EQ(h->tt_probe(3, -1000, 1000, BLACK, key, 1, one.xs, one.ys), 100);
  EXPECT_EQ(one.xs[0], 7);
  EXPECT_EQ(one.xs[1], 99);
  EXPECT_EQ(one.xs[2], 99);
  Moves two;
  EXPECT_EQ(h->tt_probe(3, -1000, 1000, BLACK, key, 2, two.xs, two.ys), 100);
  EXPECT_EQ(two.ys[1], 10);
  EXPECT_EQ(two.xs[2], 99);

  // Upper bound: cuts when at most alpha; otherwise no value, but a deep
  // enough entry still hands over its moves.
  const uint64_t k2 = 0x5555666677778888ull;
  store(*h, k2, 4, 20, BOUND_UPPER, BLACK, 3, 4);
  EXPECT_EQ(probe(*h, k2, 4, 25, 30), 20);
  EXPECT_EQ(probe(*h, k2, 4, 20, 30), 20);
  Moves nocut;
  EXPECT_EQ(probe(*h, k2, 4, 10, 30, nocut), NO_VALUE);
  EXPECT_EQ(nocut.xs[0], 3);
  EXPECT_EQ(nocut.ys[0], 4);
  Moves shallow;
  EXPECT_EQ(probe(*h, k2, 5, 25, 30, shallow), NO_VALUE);
  EXPECT_TRUE(shallow.untouched());
  // The upper word of a pure upper bound is not read as a lower bound.
  EXPECT_EQ(probe(*h, k2, 4, -100, 15), NO_VALUE);
}

TEST(HashProbe, WinAndLossRangeOverrideDepth) {
  auto h = make_tables(8);
  // Lower bound in the win range, upper bound ordinary, depth 3.
  const uint64_t key = 0x0F0F0F0F12345678ull;
  store(*h, key, 3, 10000010, BOUND_LOWER, BLACK, 5, 5);
  store(*h, key, 3, 500, BOUND_UPPER);
  const TTEntry* e = find_slot(*h, key);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->lower, 10000007);
  EXPECT_EQ(e->upper, 500);
  EXPECT_EQ(e->flags, BOUND_EXACT);

  Moves cut;
  EXPECT_EQ(probe(*h, key, 5, 0, 10000000, cut), 10000012);  // win bound used whatever the depth
  EXPECT_EQ(cut.xs[0], 5);
  Moves ordinary;
  EXPECT_EQ(probe(*h, key, 5, 600, NO_VALUE, ordinary), NO_VALUE);  // ordinary bound needs depth
  EXPECT_TRUE(ordinary.untouched());                                // only one value in range: no moves
  EXPECT_EQ(probe(*h, key, 3, 600, NO_VALUE), 500);                 // deep enough now

  // Both values in the win range: without a cut the moves still come.
  const uint64_t k2 = 0x2222000011110000ull;
  store(*h, k2, 1, 10000020, BOUND_LOWER, BLACK, 6, 7);
  Moves both;
  EXPECT_EQ(probe(*h, k2, 9, -10, NO_VALUE, both), NO_VALUE);
  EXPECT_EQ(both.xs[0], 6);
  EXPECT_EQ(both.ys[0], 7);
  EXPECT_EQ(probe(*h, k2, 9, -10, 10000000), 10000028);

  // Loss range, upper bound, mirrored.
  const uint64_t k3 = 0x3333000022220000ull;
  store(*h, k3, 2, -10000010, BOUND_UPPER);
  EXPECT_EQ(find_slot(*h, k3)->upper, -10000008);
  EXPECT_EQ(probe(*h, k3, 6, -10, 10), -10000014);

  // Exact win stored shallow is used deep.
  const uint64_t k4 = 0x4444000033330000ull;
  store(*h, k4, 1, 10000050, BOUND_EXACT);
  EXPECT_EQ(probe(*h, k4, 20), 10000069);
  // The range edges: 9,998,848 is a win, 9,998,847 is not.
  const uint64_t k5 = 0x5555000044440000ull;
  store(*h, k5, 0, WIN_RANGE, BOUND_EXACT);
  EXPECT_EQ(probe(*h, k5, 4), WIN_RANGE + 4);
  const uint64_t k6 = 0x6666000055550000ull;
  store(*h, k6, 0, WIN_RANGE - 1, BOUND_EXACT);
  EXPECT_EQ(probe(*h, k6, 4), NO_VALUE);
  EXPECT_EQ(probe(*h, k6, 0), WIN_RANGE - 1);
}

TEST(HashProbe, DistanceRebasing) {
  auto h = make_tables(8);
  const uint64_t key = 0x9999888877776666ull;
  store(*h, key, 5, 10000007, BOUND_EXACT);
  EXPECT_EQ(find_slot(*h, key)->upper, 10000002);
  EXPECT_EQ(find_slot(*h, key)->lower, 10000002);
  EXPECT_EQ(probe(*h, key, 3), 10000005);

  store(*h, key, 5, -10000007, BOUND_EXACT, WHITE);
  EXPECT_EQ(find_slot(*h, key, WHITE)->upper, -10000002);
  Moves m;
  EXPECT_EQ(probe(*h, key, 3, -100, 100, m, WHITE), -10000005);

  // Threat cache: the same with the distance g.
  h->cache_store(key, 10000020, 7, ATTACKER, BLACK);
  EXPECT_EQ(h->cache_bucket(ATTACKER, BLACK, key)[0].value, 10000013);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 4, key), 10000017);
  h->cache_store(key, -10000020, 7, ATTACKER, WHITE);
  EXPECT_EQ(h->cache_probe(ATTACKER, WHITE, 4, key), -10000017);
  // A cached 0 (and any ordinary value) comes back unchanged.
  h->cache_store(key, 0, 300, DEFENDER, BLACK);
  EXPECT_EQ(h->cache_probe(DEFENDER, BLACK, 3, key), 0);
  EXPECT_EQ(h->cache_probe(DEFENDER, BLACK, 500, key), 0);
  h->cache_store(key, -123, 300, DEFENDER, WHITE);
  EXPECT_EQ(h->cache_probe(DEFENDER, WHITE, 3, key), -123);
}

// ---------------------------------------------------------------------------
// Store rules

TEST(HashStore, ShallowerStoreRefreshesOnlyTheAge) {
  auto h = make_tables(8);
  const uint64_t key = 0xDEADBEEF00C0FFEEull;
  h->move_count = 10;
  store(*h, key, 6, 100, BOUND_EXACT, BLACK, 1, 2, 3, 4, 5, 6);
  const TTEntry before = *find_slot(*h, key);
  h->move_count = 11;
  store(*h, key, 4, 300, BOUND_LOWER, BLACK, 9, 9);
  const TTEntry* e = find_slot(*h, key);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->age, 11);
  EXPECT_EQ(e->upper, 100);
  EXPECT_EQ(e->lower, 100);
  EXPECT_EQ(e->depth, 6);
  EXPECT_EQ(e->flags, BOUND_EXACT);
  EXPECT_EQ(e->check_lo, before.check_lo);
  EXPECT_EQ(e->check_hi, before.check_hi);
  expect_moves(*e, {{1, 2}, {3, 4}, {5, 6}}, 3);
  EXPECT_EQ(probe(*h, key, 6), 100);
}

TEST(HashStore, BoundMergeAndReplace) {
  auto h = make_tables(8);
  // Lower 30 then lower 50 at the same depth.
  const uint64_t key = 0x0000ABCD0000DCBAull;
  store(*h, key, 4, 30, BOUND_LOWER);
  store(*h, key, 4, 50, BOUND_LOWER);
  const TTEntry* e = find_slot(*h, key);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->lower, 50);
  EXPECT_EQ(e->flags, BOUND_LOWER);
  EXPECT_EQ(probe(*h, key, 4, -100, 40), 50);
  EXPECT_EQ(probe(*h, key, 4, -100, 60), NO_VALUE);
  // A lower lower bound does not lower it.
  store(*h, key, 4, 45, BOUND_LOWER);
  EXPECT_EQ(find_slot(*h, key)->lower, 50);

  // Exact at the same depth replaces both words, whatever was held.
  store(*h, key, 4, 77, BOUND_EXACT);
  e = find_slot(*h, key);
  EXPECT_EQ(e->upper, 77);
  EXPECT_EQ(e->lower, 77);
  EXPECT_EQ(e->flags, BOUND_EXACT);
  EXPECT_EQ(probe(*h, key, 4), 77);
  store(*h, key, 4, -3, BOUND_EXACT);
  EXPECT_EQ(probe(*h, key, 4), -3);
  // An exact value is not touched by a bound of the same depth.
  store(*h, key, 4, -50, BOUND_UPPER);
  store(*h, key, 4, 50, BOUND_LOWER);
  e = find_slot(*h, key);
  EXPECT_EQ(e->upper, -3);
  EXPECT_EQ(e->lower, -3);
  // A deeper store replaces values and flags.
  store(*h, key, 5, 12, BOUND_UPPER);
  e = find_slot(*h, key);
  EXPECT_EQ(e->depth, 5);
  EXPECT_EQ(e->upper, 12);
  EXPECT_EQ(e->lower, 12);
  EXPECT_EQ(e->flags, BOUND_UPPER);
  EXPECT_EQ(probe(*h, key, 5, -100, 100), NO_VALUE);
  EXPECT_EQ(probe(*h, key, 5, 12, 100), 12);

  // Upper 40 then lower 10 at the same depth: the first value takes part
  // in the lower merge, so the entry reads as exact 40.
  const uint64_t k2 = 0x1234000043210000ull;
  store(*h, k2, 2, 40, BOUND_UPPER);
  store(*h, k2, 2, 10, BOUND_LOWER);
  e = find_slot(*h, k2);
  EXPECT_EQ(e->upper, 40);
  EXPECT_EQ(e->lower, 40);
  EXPECT_EQ(e->flags, BOUND_EXACT);
  EXPECT_EQ(probe(*h, k2, 2), 40);
  // Lower 10 then upper 60: both words become 10, read as exact 10.
  const uint64_t k3 = 0x1234000053210000ull;
  store(*h, k3, 2, 10, BOUND_LOWER);
  store(*h, k3, 2, 60, BOUND_UPPER);
  e = find_slot(*h, k3);
  EXPECT_EQ(e->upper, 10);
  EXPECT_EQ(e->lower, 10);
  EXPECT_EQ(probe(*h, k3, 2), 10);
  // Lower 10 then upper 5: a window from two searches, not exact.
  const uint64_t k4 = 0x1234000063210000ull;
  store(*h, k4, 2, 10, BOUND_LOWER);
  store(*h, k4, 2, 5, BOUND_UPPER);
  e = find_slot(*h, k4);
  EXPECT_EQ(e->upper, 5);
  EXPECT_EQ(e->lower, 10);
  EXPECT_EQ(e->flags, BOUND_EXACT);
  EXPECT_EQ(probe(*h, k4, 2, -100, 100), NO_VALUE);
  EXPECT_EQ(probe(*h, k4, 2, 5, 100), 5);
  EXPECT_EQ(probe(*h, k4, 2, -100, 10), 10);
}

TEST(HashStore, MoveMerge) {
  auto h = make_tables(8);
  const uint64_t a = 0x00000000AAAA0001ull;
  store(*h, a, 3, 0, BOUND_EXACT, BLACK, 7, 7, 8, 8, 9, 9);
  expect_moves(*find_slot(*h, a), {{7, 7}, {8, 8}, {9, 9}}, 3);
  store(*h, a, 3, 0, BOUND_LOWER, BLACK, 7, 7);
  expect_moves(*find_slot(*h, a), {{7, 7}, {-1, -1}, {8, 8}}, 2);

  const uint64_t b = 0x00000000AAAA0002ull;
  store(*h, b, 3, 0, BOUND_EXACT, BLACK, 7, 7, 8, 8, 9, 9);
  store(*h, b, 3, 0, BOUND_LOWER, BLACK, 9, 9);
  expect_moves(*find_slot(*h, b), {{9, 9}, {7, 7}, {8, 8}}, 3);

  // The held second move given again: its old copy, pushed to third, goes.
  const uint64_t b2 = 0x00000000AAAA0012ull;
  store(*h, b2, 3, 0, BOUND_EXACT, BLACK, 7, 7, 8, 8, 9, 9);
  store(*h, b2, 3, 0, BOUND_UPPER, BLACK, 8, 8);
  expect_moves(*find_slot(*h, b2), {{8, 8}, {7, 7}, {-1, -1}}, 2);

  // Several given moves end up best first, ahead of the held ones.
  const uint64_t c = 0x00000000AAAA0003ull;
  store(*h, c, 3, 0, BOUND_EXACT, BLACK, 1, 1);
  expect_moves(*find_slot(*h, c), {{1, 1}, {-1, -1}, {-1, -1}}, 1);
  store(*h, c, 4, 0, BOUND_EXACT, BLACK, 2, 2, -1, -1, 3, 3);
  expect_moves(*find_slot(*h, c), {{2, 2}, {3, 3}, {1, 1}}, 3);
  // A shallower store leaves the moves (only the age changes).
  store(*h, c, 2, 0, BOUND_EXACT, BLACK, 4, 4);
  expect_moves(*find_slot(*h, c), {{2, 2}, {3, 3}, {1, 1}}, 3);
  // No given moves: the held ones stay.
  store(*h, c, 4, 0, BOUND_EXACT);
  expect_moves(*find_slot(*h, c), {{2, 2}, {3, 3}, {1, 1}}, 3);

  // A new entry holds the moves as passed, counting the present ones.
  const uint64_t d = 0x00000000AAAA0004ull;
  store(*h, d, 1, 0, BOUND_UPPER, BLACK, -1, -1, 5, 6);
  expect_moves(*find_slot(*h, d), {{-1, -1}, {5, 6}, {-1, -1}}, 1);
  Moves m;
  EXPECT_EQ(probe(*h, d, 1, -100, 100, m), NO_VALUE);
  EXPECT_EQ(m.xs[0], -1);
  EXPECT_EQ(m.ys[0], -1);
  EXPECT_EQ(m.xs[1], 5);
  EXPECT_EQ(m.ys[1], 6);
}

TEST(HashStore, FirstMatchRuleWithStaleAndEmptySlots) {
  // Stale slot before the match.
  {
    auto h = make_tables(1);
    h->move_count = 0;
    store(*h, 0x100, 2, 1, BOUND_EXACT);  // slot 0
    store(*h, 0x200, 2, 2, BOUND_EXACT);  // slot 1
    store(*h, 0x300, 2, 3, BOUND_EXACT);  // slot 2
    EXPECT_EQ(slot_of(*h, 0x300), 2);
    h->move_count = 5;  // the first two are now stale
    store(*h, 0x300, 2, 33, BOUND_EXACT);
    const TTEntry* b = h->tt_bucket(BLACK, 0x300);
    EXPECT_EQ(slot_of(*h, 0x300), 0);  // the new entry went to slot 0
    EXPECT_EQ(b[0].upper, 33);
    EXPECT_EQ(b[0].age, 5);
    EXPECT_EQ(b[2].upper, 3);  // the older entry stays behind it
    EXPECT_EQ(b[2].age, 0);
    EXPECT_EQ(probe(*h, 0x300, 2), 33);
    EXPECT_EQ(probe(*h, 0x200, 2), 2);
  }
  // Empty slot before the match (the earlier one was emptied).
  {
    auto h = make_tables(1);
    store(*h, 0x100, 2, 1, BOUND_EXACT);  // slot 0
    store(*h, 0x300, 2, 3, BOUND_EXACT);  // slot 1
    TTEntry* b = const_cast<TTEntry*>(h->tt_bucket(BLACK, 0));
    std::memset(&b[0], 0, sizeof(TTEntry));
    store(*h, 0x300, 2, 44, BOUND_EXACT);
    EXPECT_EQ(b[0].upper, 44);
    EXPECT_EQ(b[1].upper, 3);
    EXPECT_EQ(probe(*h, 0x300, 2), 44);
  }
}

TEST(HashStore, VictimChoice) {
  // Four recent (one move old) entries of other positions, no exact ones:
  // the shallowest is replaced.
  auto h = make_tables(1);
  h->move_count = 9;
  const int depths[4] = {5, 3, 4, 6};
  for (int i = 0; i < 4; ++i) store(*h, 0x1000 + i, depths[i], i, BOUND_LOWER);
  h->move_count = 10;
  store(*h, 0x2000, 1, 50, BOUND_LOWER);
  EXPECT_EQ(slot_of(*h, 0x2000), 1);
  EXPECT_EQ(slot_of(*h, 0x1001), -1);
  // Slot 1 is current now and kept; of the others the shallowest goes.
  store(*h, 0x2001, 1, 51, BOUND_LOWER);
  EXPECT_EQ(slot_of(*h, 0x2001), 2);
  EXPECT_EQ(slot_of(*h, 0x2000), 1);
  // Slots 1 and 2 current; 0 (depth 5) and 3 (depth 6) old: 0 goes.
  store(*h, 0x2002, 9, 52, BOUND_LOWER);
  EXPECT_EQ(slot_of(*h, 0x2002), 0);
  // Now only slot 3 is old.
  store(*h, 0x2003, 9, 53, BOUND_LOWER);
  EXPECT_EQ(slot_of(*h, 0x2003), 3);

  // All current: the shallowest goes (first of equals).
  auto c = make_tables(1);
  const int cd[4] = {4, 2, 3, 1};
  for (int i = 0; i < 4; ++i) store(*c, 0x3000 + i, cd[i], i, BOUND_UPPER);
  store(*c, 0x4000, 8, 1, BOUND_UPPER);
  EXPECT_EQ(slot_of(*c, 0x4000), 3);

  // Exact entries of the previous move are kept like current ones.
  auto x = make_tables(1);
  x->move_count = 3;
  store(*x, 0x5000, 4, 0, BOUND_LOWER);
  store(*x, 0x5001, 1, 0, BOUND_EXACT);
  store(*x, 0x5002, 2, 0, BOUND_EXACT);
  store(*x, 0x5003, 3, 0, BOUND_LOWER);
  x->move_count = 4;
  store(*x, 0x6000, 1, 0, BOUND_LOWER);
  EXPECT_EQ(slot_of(*x, 0x6000), 3);
  EXPECT_EQ(slot_of(*x, 0x5001), 1);

  // An age one move ahead is recent too; two moves away is stale, and a
  // stale slot is taken as soon as the scan reaches it.
  auto s = make_tables(1);
  s->move_count = 20;
  store(*s, 0x7000, 9, 0, BOUND_LOWER);
  store(*s, 0x7001, 9, 0, BOUND_LOWER);
  store(*s, 0x7002, 1, 0, BOUND_LOWER);
  store(*s, 0x7003, 1, 0, BOUND_LOWER);
  s->move_count = 19;
  store(*s, 0x8000, 9, 0, BOUND_LOWER);
  EXPECT_EQ(slot_of(*s, 0x8000), 2);  // first of the shallowest
  s->move_count = 22;
  store(*s, 0x8001, 9, 0, BOUND_LOWER);
  EXPECT_EQ(slot_of(*s, 0x8001), 0);  // slot 0 (age 20) is stale
  EXPECT_EQ(slot_of(*s, 0x8000), 2);
}

TEST(HashCache, SlotChoiceAndProbeOrder) {
  auto h = make_tables(1);
  h->move_count = 30;
  h->cache_store(0xA, 1, 100, ATTACKER, BLACK);  // slot 0 empty
  const CacheEntry* b = h->cache_bucket(ATTACKER, BLACK, 0xA);
  EXPECT_EQ(b[0].value, 1);
  EXPECT_EQ(b[0].age, 30);
  EXPECT_EQ(b[0].distance, 100);
  // A recent entry found nearer the entry (larger distance) keeps slot 0.
  h->cache_store(0xB, 2, 99, ATTACKER, BLACK);
  EXPECT_EQ(b[0].value, 1);
  EXPECT_EQ(b[1].value, 2);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 0, 0xA), 1);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 0, 0xB), 2);
  // Slot 1 is taken whatever it holds.
  h->cache_store(0xC, 3, 50, ATTACKER, BLACK);
  EXPECT_EQ(b[1].value, 3);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 0, 0xB), NO_VALUE);
  // The key of slot 0 is rewritten in place.
  h->cache_store(0xA, 11, 5, ATTACKER, BLACK);
  EXPECT_EQ(b[0].value, 11);
  EXPECT_EQ(b[0].distance, 5);
  EXPECT_EQ(b[1].value, 3);
  // Distance at most g: slot 0 is replaced.
  h->cache_store(0xD, 4, 5, ATTACKER, BLACK);
  EXPECT_EQ(b[0].value, 4);
  EXPECT_EQ(h->cache_probe(ATTACKER, BLACK, 0, 0xA), NO_VALUE);
  h->cache_store(0xE, 5, 500, ATTACKER, BLACK);  // distance 5 <= 500
  EXPECT_EQ(b[0].value, 5);
  // Stale slot 0 is replaced even when found nearer; one move back is not stale.
  h->move_count = 31;
  h->cache_store(0xF, 6, 1, ATTACKER, BLACK);
  EXPECT_EQ(b[0].value, 5);
  EXPECT_EQ(b[1].value, 6);
  h->move_count = 32;
  h->cache_store(0x10, 7, 1, ATTACKER, BLACK);
  EXPECT_EQ(b[0].value, 7);
  EXPECT_EQ(b[0].age, 32);

  // With the same key in both slots the probe reads slot 0.
  auto d = make_tables(1);
  d->cache_store(0x20, 1, 100, DEFENDER, WHITE);  // slot 0
  d->cache_store(0x21, 2, 50, DEFENDER, WHITE);   // slot 1
  CacheEntry* w = const_cast<CacheEntry*>(d->cache_bucket(DEFENDER, WHITE, 0));
  w[0] = w[1];
  w[0].value = 22;
  const uint64_t c = 0x21ull ^ 22;
  w[0].check_lo = static_cast<uint32_t>(c);
  w[0].check_hi = static_cast<uint32_t>(c >> 32);
  EXPECT_EQ(d->cache_probe(DEFENDER, WHITE, 0, 0x21), 22);
}

TEST(HashTables, ClearEmptiesEverything) {
  auto h = make_tables(4);
  std::vector<uint64_t> keys;
  for (uint64_t i = 1; i <= 20; ++i) keys.push_back(i * 0x9E3779B97F4A7C15ull);
  for (int side = BLACK; side <= WHITE; ++side) {
    for (uint64_t k : keys) {
      store(*h, k, 1, 10000100, BOUND_EXACT, side, 1, 1);
      for (int kind = 0; kind < 2; ++kind) h->cache_store(k, 7, 1, kind, side);
    }
  }
  EXPECT_EQ(probe(*h, keys.back(), 30), 10000129);
  h->clear_hash_tables();
  for (int side = BLACK; side <= WHITE; ++side) {
    for (uint64_t k : keys) {
      Moves m;
      EXPECT_EQ(h->tt_probe(0, -WIN_SCORE, WIN_SCORE, side, k, 3, m.xs, m.ys), NO_VALUE);
      EXPECT_TRUE(m.untouched());
      for (int kind = 0; kind < 2; ++kind) EXPECT_EQ(h->cache_probe(kind, side, 1, k), NO_VALUE);
    }
  }
  for (int i = 0; i < 4; ++i) {
    const TTEntry* b = h->tt_bucket(BLACK, static_cast<uint64_t>(i));
    for (int s = 0; s < 4; ++s) EXPECT_EQ(b[s].flags, BOUND_NONE);
  }
  store(*h, keys[0], 1, 5, BOUND_EXACT);
  EXPECT_EQ(probe(*h, keys[0], 1), 5);

  // The all-zero key (an empty square board) is not found in an empty
  // transposition-table slot, whose check words and fields are all zero.
  auto z = make_tables(2);
  Moves m;
  EXPECT_EQ(z->tt_probe(0, -WIN_SCORE, WIN_SCORE, BLACK, 0, 3, m.xs, m.ys), NO_VALUE);
  EXPECT_TRUE(m.untouched());
  store(*z, 0, 2, 0, BOUND_LOWER, BLACK, 4, 4);
  EXPECT_EQ(probe(*z, 0, 2, -100, 0), 0);
  EXPECT_EQ(slot_of(*z, 0), 0);
}

// Many keys crowd a few buckets: a probe only ever answers for a key that
// was stored, and then with that key's own value.
TEST(HashTables, RandomCollisionsNeverInventAHit) {
  std::mt19937_64 rng(20240611);
  for (int64_t buckets : {1, 3, 16}) {
    auto h = make_tables(buckets);
    std::unordered_map<uint64_t, std::pair<int, int32_t>> tt_stored[2];  // key -> (depth, value)
    std::unordered_map<uint64_t, std::pair<int, int32_t>> cache_stored[4];  // key -> (g, value)
    std::vector<uint64_t> all;
    auto random_value = [&]() -> int32_t {
      switch (rng() % 4) {
        case 0: return static_cast<int32_t>(WIN_SCORE + rng() % 500);
        case 1: return -static_cast<int32_t>(WIN_SCORE + rng() % 500);
        case 2: return 0;
        default: return static_cast<int32_t>(rng() % 200001) - 100000;
      }
    };
    for (int round = 0; round < 4000; ++round) {
      h->move_count = round / 400;
      uint64_t key = rng();
      if (key == 0) key = 1;
      if (!all.empty() && rng() % 3 == 0) {
        // A near neighbour of an earlier key, same bucket, one bit apart.
        key = all[rng() % all.size()] ^ (1ull << (32 + rng() % 32));
      }
      if (tt_stored[0].count(key) || tt_stored[1].count(key) || cache_stored[0].count(key) ||
          cache_stored[1].count(key) || cache_stored[2].count(key) || cache_stored[3].count(key))
        continue;
      all.push_back(key);
      const int side = static_cast<int>(rng() % 2) + 1;
      const int depth = static_cast<int>(rng() % 12);
      const int32_t v = random_value();
      if (rng() % 2) {
        store(*h, key, depth, v, BOUND_EXACT, side, 3, 4);
        tt_stored[side - 1][key] = {depth, v};
      } else {
        const int kind = static_cast<int>(rng() % 2);
        const int g = static_cast<int>(rng() % 577);
        h->cache_store(key, v, g, kind, side);
        cache_stored[2 * kind + side - 1][key] = {g, v};
      }

      // Probe a few keys: some stored, some never stored.
      for (int t = 0; t < 4; ++t) {
        uint64_t q = (t % 2 == 0) ? all[rng() % all.size()] : rng() | 1;
        if (t == 3) q ^= 1ull << (rng() % 64);
        for (int s = 0; s < 2; ++s) {
          Moves m;
          const int32_t got = h->tt_probe(0, -NO_VALUE, NO_VALUE, s + 1, q, 3, m.xs, m.ys);
          auto it = tt_stored[s].find(q);
          if (it == tt_stored[s].end()) {
            ASSERT_EQ(got, NO_VALUE) << "phantom TT hit, round " << round;
            ASSERT_TRUE(m.untouched());
          } else if (got != NO_VALUE) {
            // Read back at depth 0, a win or loss is the stored one rebased by its depth.
            const auto [d, val] = it->second;
            const int32_t want = val >= WIN_RANGE ? val - d : val <= -WIN_RANGE ? val + d : val;
            ASSERT_EQ(got, want);
            ASSERT_EQ(m.xs[0], 3);
          }
        }
        for (int a = 0; a < 4; ++a) {
          const int32_t got = h->cache_probe(a / 2, a % 2 + 1, 0, q);
          auto it = cache_stored[a].find(q);
          if (it == cache_stored[a].end()) {
            ASSERT_EQ(got, NO_VALUE) << "phantom cache hit, round " << round;
          } else if (got != NO_VALUE) {
            const auto [g, val] = it->second;
            const int32_t want = val >= WIN_RANGE ? val - g : val <= -WIN_RANGE ? val + g : val;
            ASSERT_EQ(got, want);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace orvel
