// Tables: the transposition table and the threat cache.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <unordered_map>
#include <vector>

#include "core/platform.h"
#include "search/hash.h"

namespace orvel {
namespace {

constexpr int ATT = 0, DEF = 1, E = BOUND_EXACT, U = BOUND_UPPER, L = BOUND_LOWER;
constexpr int32_t W = WIN_SCORE, INF = 2 * WIN_SCORE;
using Moves = std::array<int, 6>;  // x1 y1 x2 y2 x3 y3
constexpr Moves UNTOUCHED = {99, 99, 99, 99, 99, 99}, NONE = {-1, -1, -1, -1, -1, -1};

std::unique_ptr<HashTables> make_tables(int64_t buckets) {
  auto h = std::make_unique<HashTables>();
  h->tt_buckets = h->cache_buckets = buckets;
  h->resize_hash_tables();
  h->clear_hash_tables();
  return h;
}

void store(HashTables& h, uint64_t key, int depth, int32_t value, int flags, Moves m = NONE, int side = BLACK) {
  h.tt_store(key, depth, value, flags, side, m[0], m[1], m[2], m[3], m[4], m[5]);
}

// The value of a probe; `moves` receives what it wrote (99 where nothing).
int32_t probe(const HashTables& h, uint64_t key, int depth, int32_t alpha = -INF, int32_t beta = INF,
              Moves* moves = nullptr, int side = BLACK, int wanted = 3) {
  int32_t xs[3] = {99, 99, 99}, ys[3] = {99, 99, 99};
  const int32_t v = h.tt_probe(depth, alpha, beta, side, key, wanted, xs, ys);
  if (moves != nullptr) *moves = {xs[0], ys[0], xs[1], ys[1], xs[2], ys[2]};
  return v;
}

// The six arrays: t = 0, 1 the transposition tables of BLACK and WHITE (exact entries),
// t = 2..5 the cache arrays of kind (t - 2) / 2 and side t % 2 + 1. a: depth or distance.
void write(HashTables& h, int t, uint64_t key, int a, int32_t v) {
  if (t < 2) store(h, key, a, v, E, {3, 4, -1, -1, -1, -1}, t + 1);
  else h.cache_store(key, v, a, (t - 2) / 2, t % 2 + 1);
}
int32_t read(const HashTables& h, int t, uint64_t key, int a) {
  return t < 2 ? probe(h, key, a, -INF, INF, nullptr, t + 1) : h.cache_probe((t - 2) / 2, t % 2 + 1, a, key);
}

// n buckets per array, each of them storing and answering (keys with high low bits first).
void expect_working_tables(HashTables& h, int64_t n) {
  ASSERT_EQ(h.tt_allocated, n);
  ASSERT_EQ(h.cache_allocated, n);
  for (int64_t k = 0; k < n; ++k) {
    const uint64_t key = (static_cast<uint64_t>(k) << 40) | (0xFFFFFFFFu - static_cast<uint32_t>(k));
    EXPECT_LT(h.tt_bucket(WHITE, key) - h.tt_bucket(WHITE, 0), 4 * n);
    for (int t = 0; t < 6; ++t) write(h, t, key, 1, static_cast<int32_t>(k));
    for (int t = 0; t < 6; ++t) ASSERT_EQ(read(h, t, key, 1), k) << "array " << t;
  }
}

TEST(HashProbe, DepthWindowWinRangeAndMergeRules) {
  struct Store { int depth; int32_t value; int flags; };
  struct Probe { int depth; int32_t alpha, beta, want; bool moves; };
  struct Row { std::vector<Store> stores; std::vector<Probe> probes; };
  const Row rows[] = {
      // Depth rule: a shallower entry gives neither value nor moves.
      {{{3, 100, E}}, {{3, -INF, INF, 100, true}, {1, -INF, INF, 100, true}, {5, -INF, INF, NO_VALUE, false}}},
      // Upper bound: cuts at or below alpha, a deep one hands over its moves anyway, and
      // its word is no lower bound.
      {{{4, 20, U}}, {{4, 20, 30, 20, true}, {4, 10, 30, NO_VALUE, true}, {5, 25, 30, NO_VALUE, false},
                      {4, -100, 15, NO_VALUE, true}}},
      // A bound in the win or loss range is used whatever the depth; without a cut the
      // moves come only when both words are in range. Wins are held relative to the node.
      {{{3, W + 10, L}, {3, 500, U}},
       {{5, 0, W, W + 12, true}, {5, 600, NO_VALUE, NO_VALUE, false}, {3, 600, NO_VALUE, 500, true}}},
      {{{1, W + 20, L}}, {{9, -10, NO_VALUE, NO_VALUE, true}, {9, -10, W, W + 28, true}}},
      {{{2, -W - 10, U}}, {{6, -10, 10, -W - 14, true}}},  {{{5, W + 7, E}}, {{3, -INF, INF, W + 5, true}}},
      {{{0, WIN_RANGE, E}}, {{4, -INF, INF, WIN_RANGE + 4, true}}},
      {{{0, WIN_RANGE - 1, E}}, {{4, -INF, INF, NO_VALUE, false}, {0, -INF, INF, WIN_RANGE - 1, true}}},
      // Equal-depth bounds merge: lower only rises, upper only falls, the first value takes part.
      {{{4, 30, L}, {4, 50, L}},
       {{4, -100, 40, 50, true}, {4, -100, 60, NO_VALUE, true}, {4, 60, 100, NO_VALUE, true}}},
      {{{4, 50, L}, {4, 45, L}}, {{4, -100, 50, 50, true}}},  {{{4, 30, U}, {4, 20, U}}, {{4, 20, 100, 20, true}}},
      {{{4, 20, U}, {4, 30, U}}, {{4, 25, 100, 20, true}}},  {{{2, 40, U}, {2, 10, L}}, {{2, -INF, INF, 40, true}}},
      {{{2, 10, L}, {2, 60, U}}, {{2, -INF, INF, 10, true}}},
      {{{2, 10, L}, {2, 5, U}}, {{2, -100, 100, NO_VALUE, true}, {2, 5, 100, 5, true}, {2, -100, 10, 10, true}}},
      // Exact replaces whatever was held, bounds leave an exact value alone, a deeper store
      // replaces, a shallower one changes nothing read.
      {{{4, 50, L}, {4, 77, E}}, {{4, -INF, INF, 77, true}}},
      {{{2, 10, L}, {2, 5, U}, {2, 7, E}}, {{2, -INF, INF, 7, true}}},
      {{{4, -3, E}, {4, -50, U}, {4, 50, L}}, {{4, -INF, INF, -3, true}}},
      {{{4, -3, E}, {5, 12, U}}, {{5, -100, 100, NO_VALUE, true}, {5, 12, 100, 12, true}}},
      {{{6, 100, E}, {4, 300, L}}, {{6, -100, 200, 100, true}}},
  };
  for (size_t n = 0; n < std::size(rows); ++n) {
    auto h = make_tables(8);
    const uint64_t key = 0x0123456789ABCDEFull;
    for (const Store& s : rows[n].stores) store(*h, key, s.depth, s.value, s.flags, {1, 2, -1, -1, -1, -1});
    for (const Probe& p : rows[n].probes) {
      Moves got;
      EXPECT_EQ(probe(*h, key, p.depth, p.alpha, p.beta, &got), p.want) << "row " << n << " depth " << p.depth;
      EXPECT_EQ(got, p.moves ? (Moves{1, 2, -1, -1, -1, -1}) : UNTOUCHED) << "row " << n << " depth " << p.depth;
    }
  }
}

TEST(HashStore, MoveMergeDeliveryAndShallowerStore) {
  struct Row { std::vector<std::pair<int, Moves>> stores; Moves want; int held; };
  const Moves full = {7, 7, 8, 8, 9, 9}, mixed = {2, 2, 3, 3, 1, 1};
  const Row rows[] = {
      {{{3, full}, {3, {7, 7, -1, -1, -1, -1}}}, {7, 7, -1, -1, 8, 8}, 2},
      {{{3, full}, {3, {9, 9, -1, -1, -1, -1}}}, {9, 9, 7, 7, 8, 8}, 3},
      {{{3, full}, {3, {8, 8, -1, -1, -1, -1}}}, {8, 8, 7, 7, -1, -1}, 2},
      {{{3, {1, 1, -1, -1, -1, -1}}, {4, {2, 2, -1, -1, 3, 3}}}, mixed, 3},  // given moves first, best first
      {{{4, mixed}, {4, NONE}}, mixed, 3},
      {{{1, {-1, -1, 5, 6, -1, -1}}}, {-1, -1, 5, 6, -1, -1}, 1},  // a new entry holds them as passed
  };
  for (const Row& r : rows) {
    auto h = make_tables(8);
    for (const auto& [depth, m] : r.stores) store(*h, 5, depth, 0, E, m);
    Moves got;
    EXPECT_EQ(h->tt_bucket(BLACK, 5)[0].moves_held, r.held);
    EXPECT_EQ(probe(*h, 5, 0, -INF, INF, &got), 0);
    EXPECT_EQ(got, r.want);
    EXPECT_EQ(probe(*h, 5, 0, -INF, INF, &got, BLACK, 1), 0);  // only as many moves as wanted
    EXPECT_EQ(got, (Moves{r.want[0], r.want[1], 99, 99, 99, 99}));
  }
  // A shallower store of a held position refreshes only the age.
  auto h = make_tables(8);
  h->move_count = 10;
  store(*h, 77, 6, 100, E, {1, 2, 3, 4, 5, 6});
  TTEntry want = h->tt_bucket(BLACK, 77)[0];
  h->move_count = 11;
  store(*h, 77, 4, W + 300, L, {9, 9, -1, -1, -1, -1});
  want.age = 11;
  EXPECT_EQ(std::memcmp(&want, &h->tt_bucket(BLACK, 77)[0], sizeof(TTEntry)), 0);
}

TEST(HashStore, FirstMatchRuleAndVictimChoice) {
  // A bucket of four positions (flags 0: the slot emptied) takes a new position,
  // or one of them again (`again`). An empty or stale slot is taken on sight,
  // also ahead of the match, which then stays behind it; otherwise the victim is
  // the shallowest slot that is neither current nor exact, else the shallowest.
  struct Row { std::array<int, 4> ages, depths, flags; int move_count, again, victim; };
  const Row rows[] = {
      {{3, 5, 5, 5}, {2, 2, 2, 2}, {L, L, L, L}, 5, 2, 0},  {{5, 5, 5, 5}, {2, 2, 2, 2}, {0, L, L, L}, 5, 2, 0},
      {{5, 5, 5, 3}, {2, 2, 2, 2}, {L, L, L, L}, 5, 1, 1},  {{9, 9, 9, 9}, {5, 3, 4, 6}, {L, L, L, L}, 10, -1, 1},
      {{9, 10, 9, 9}, {5, 1, 4, 6}, {L, L, L, L}, 10, -1, 2}, {{0, 0, 0, 0}, {4, 2, 3, 1}, {U, U, U, U}, 0, -1, 3},
      {{3, 3, 3, 3}, {4, 1, 2, 3}, {L, E, E, L}, 4, -1, 3},   {{21, 21, 20, 20}, {9, 9, 1, 1}, {L, L, L, L}, 22, -1, 2},
      {{10, 10, 12, 10}, {1, 1, 9, 1}, {L, L, E, L}, 10, -1, 2},
      {{20, 20, 20, 20}, {9, 9, 1, 1}, {L, L, L, L}, 19, -1, 2},
  };
  for (const Row& r : rows) {
    auto h = make_tables(1);
    TTEntry* b = const_cast<TTEntry*>(h->tt_bucket(BLACK, 0));
    for (int i = 0; i < 4; ++i) store(*h, 0x1000 + i, r.depths[i], i, r.flags[i] ? r.flags[i] : L);
    for (int i = 0; i < 4; ++i) {
      b[i].age = static_cast<int16_t>(r.ages[i]);  // not in the check words
      if (r.flags[i] == 0) std::memset(&b[i], 0, sizeof(TTEntry));
    }
    h->move_count = r.move_count;
    const uint64_t key = r.again < 0 ? 0x2000 : 0x1000 + r.again;
    store(*h, key, 9, 50, E);
    EXPECT_EQ(probe(*h, key, 0), 50);
    EXPECT_EQ(b[r.victim].upper, 50) << "victim " << r.victim;
    EXPECT_EQ(b[r.victim].age, r.move_count);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(i == r.victim || !r.flags[i] || b[i].upper == i) << "slot " << i;
  }
}

TEST(HashCache, SlotChoiceDistanceAndZero) {
  auto h = make_tables(1);
  const CacheEntry* b = h->cache_bucket(ATT, BLACK, 0);
  const struct { uint64_t key; int32_t value; int g, move_count, slot; } steps[] = {
      {0xA, 1, 100, 30, 0},  {0xB, 2, 99, 30, 1},  // slot 0 recent and found nearer the entry: slot 1
      {0xC, 3, 50, 30, 1},   {0xA, 11, 5, 30, 0},  // slot 1 whatever it holds; the same key in place
      {0xD, 4, 5, 30, 0},    {0xE, 5, 500, 30, 0},  // distance at most g
      {0xF, 6, 1, 31, 1},    {0x10, 7, 1, 32, 0},   // one move back is recent, two is stale
      {0xF, 8, 1, 32, 0},  // now in both slots: slot 0 answers
  };
  for (const auto& s : steps) {
    h->move_count = s.move_count;
    h->cache_store(s.key, s.value, s.g, ATT, BLACK);
    EXPECT_EQ(b[s.slot].value, s.value);
    EXPECT_EQ(h->cache_probe(ATT, BLACK, 0, s.key), s.value);
    EXPECT_EQ(h->cache_probe(DEF, BLACK, 0, s.key), NO_VALUE);
  }
  EXPECT_EQ(h->cache_probe(ATT, BLACK, 0, 0xA), NO_VALUE);
  // Wins and losses re-based by g; 0 and ordinary values come back unchanged.
  for (auto [stored, read] : {std::pair{W + 20, W + 17}, {-W - 20, -W - 17}, {0, 0}, {-123, -123}}) {
    h->cache_store(1, stored, 7, DEF, WHITE);
    EXPECT_EQ(h->cache_probe(DEF, WHITE, 4, 1), read);
  }
}

TEST(HashTables, BucketsCheckWordsAndClear) {
  // Count 6 (mask 101) uses buckets 0, 1, 4, 5, chosen by the key's low 32 bits.
  auto h = make_tables(6);
  for (uint64_t low = 0; low < 64; ++low) {
    const uint64_t key = ((63 - low) << 32) | low;
    EXPECT_EQ(h->tt_bucket(WHITE, key) - h->tt_bucket(WHITE, 0), static_cast<long>(4 * (low & 5)));
    EXPECT_EQ(h->cache_bucket(DEF, WHITE, key) - h->cache_bucket(DEF, WHITE, 0), static_cast<long>(2 * (low & 5)));
  }
  expect_working_tables(*make_tables(6), 6);
  // Check words: key XOR ((((upper << 28) ^ lower) << 6 ^ depth) << 2 ^ flags), and
  // key XOR the sign-extended value.
  const uint64_t key = 0x0123456789ABCDEFull;
  store(*h, key, 3, -5, U);
  store(*h, key, 3, 7, L);
  h->cache_store(key, -W - 20, 7, DEF, BLACK);
  TTEntry* e = const_cast<TTEntry*>(h->tt_bucket(BLACK, key));
  CacheEntry* c = const_cast<CacheEntry*>(h->cache_bucket(DEF, BLACK, key));
  EXPECT_EQ(std::make_pair(e->check_hi, e->check_lo), std::make_pair(0xFEDCBAD7u, 0x89ABCAE0u));
  EXPECT_EQ(std::make_pair(c->check_hi, c->check_lo), std::make_pair(0xFEDCBA98u, 0x76CCA49Cu));
  // A field changed without new check words belongs to no position.
  e->lower = 8;
  c->value += 1;
  EXPECT_EQ(probe(*h, key, 3, INF, -INF), NO_VALUE);
  EXPECT_EQ(h->cache_probe(DEF, BLACK, 7, key), NO_VALUE);

  // Clear (also of arrays large enough to be mapped): every probe misses, the
  // all-zero key included, until the next store.
  h = make_tables(1 << 16);
  for (int t = 0; t < 6; ++t) write(*h, t, t < 2 ? 0 : 1, 1, 9);
  h->clear_hash_tables();
  for (int t = 0; t < 6; ++t) EXPECT_EQ(read(*h, t, t < 2 ? 0 : 1, 1), NO_VALUE) << "array " << t;
  Moves got;  // an empty slot is no match for the all-zero key: no moves either
  EXPECT_EQ(probe(*h, 0, 0, INF, -INF, &got), NO_VALUE);
  EXPECT_EQ(got, UNTOUCHED);
  write(*h, 0, 0, 1, 9);
  EXPECT_EQ(read(*h, 0, 0, 1), 9);
}

TEST(HashTables, SizingAndAllocationFailure) {
  auto h = make_tables(64);
  store(*h, 5, 2, 55, E);
  h->apply_hash_size(64);  // unchanged size: entries live on
  EXPECT_EQ(probe(*h, 5, 2), 55);
  // A huge size that cannot be had keeps the working tables, emptied; the
  // next think neither retries nor clears.
  ASSERT_LT(h->memory_limit / 384, 2000000000u);
  h->apply_hash_size(2000000000);
  EXPECT_EQ(probe(*h, 5, 2), NO_VALUE);
  expect_working_tables(*h, 64);
  h->apply_hash_size(2000000000);
  EXPECT_EQ(probe(*h, 63ull << 40 | (0xFFFFFFFFu - 63), 1, -INF, INF, nullptr, WHITE), 63);

  // Without tables in use: the largest power of two that fits, or nothing.
  HashTables some, none;
  some.memory_limit = 384 * 1000;
  some.apply_hash_size(5000);
  expect_working_tables(some, 512);
  none.memory_limit = 100;
  none.apply_hash_size(1000);
  for (int t = 0; t < 6; ++t) write(none, t, 3, 1, 1);
  for (int t = 0; t < 6; ++t) EXPECT_EQ(read(none, t, 3, 1), NO_VALUE);
}

// Large blocks straight from the system: zero-filled, whole from the first
// byte to the last, on a huge-page boundary (Linux), and zero again after a
// clear; sizes that are no multiple of a page too.
TEST(HashTables, LargeBlocksAreZeroedWholeAndAligned) {
  for (size_t bytes : {LARGE_BLOCK_BYTES, LARGE_BLOCK_BYTES * 3 + 4096 * 5 + 24}) {
    auto* p = static_cast<unsigned char*>(zeroed_alloc(bytes));
    ASSERT_NE(p, nullptr);
#ifndef _WIN32
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % LARGE_BLOCK_BYTES, 0u);
#endif
    for (size_t i : {size_t{0}, bytes / 2, bytes - 1}) {
      EXPECT_EQ(p[i], 0);
      p[i] = 0xA5;
    }
    ASSERT_TRUE(zero_fill(p, bytes));
    for (size_t i : {size_t{0}, bytes / 2, bytes - 1}) EXPECT_EQ(p[i], 0);
    zeroed_free(p, bytes);
  }
}

// Many keys, near neighbours among them, crowd one, three or sixteen buckets of all
// six arrays: the position stored last always answers, and no probe ever answers for
// a key with a value not its own.
TEST(HashTables, RandomCollisionsNeverInventAHit) {
  std::mt19937_64 rng(20240611);
  for (int64_t buckets : {1, 3, 16}) {
    auto h = make_tables(buckets);
    std::unordered_map<uint64_t, std::pair<int, int32_t>> held;  // key -> table, value read at distance 0
    uint64_t key = 1;
    for (int round = 0; round < 4000; ++round) {
      h->move_count = round / 400;
      key = rng() % 3 ? rng() | 1 : key ^ (1ull << (32 + rng() % 32));  // or a neighbour: same bucket
      if (held.count(key)) continue;
      const int t = static_cast<int>(rng() % 6), a = static_cast<int>(rng() % 12);
      const int32_t v = rng() % 2 ? static_cast<int32_t>(W + rng() % 500) * (rng() % 2 ? 1 : -1)
                                  : static_cast<int32_t>(rng() % 200001) - 100000;
      write(*h, t, key, a, v);
      held[key] = {t, v >= WIN_RANGE ? v - a : v <= -WIN_RANGE ? v + a : v};
      ASSERT_EQ(read(*h, t, key, a), v) << "the latest position, round " << round;
      if (round % 200 != 199) continue;
      for (const auto& entry : held)
        for (uint64_t q : {entry.first, entry.first ^ (uint64_t{1} << (rng() % 64))})
          for (int u = 0; u < 6; ++u) {
            const int32_t got = read(*h, u, q, 0);
            const auto it = held.find(q);
            ASSERT_TRUE(got == NO_VALUE || (it != held.end() && it->second == std::pair{u, got})) << round;
          }
    }
  }
}

}  // namespace
}  // namespace orvel
