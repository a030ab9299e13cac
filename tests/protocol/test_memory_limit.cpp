// INFO max_memory: the hash tables shrink to the largest power of two that
// keeps the engine's whole memory below the limit; with no limit, or a
// hash_size that fits, hash_size is taken as it is.
#include <gtest/gtest.h>

#include <string>

#include "engine_harness.h"

namespace orvel::testing {
namespace {

class MemoryLimit : public EngineFixture {
 protected:
  int64_t buckets_for(int32_t hash_size, int32_t max_memory) {
    engine.game.settings.hash_size = hash_size;
    engine.game.settings.max_memory = max_memory;
    return engine.game.table_bucket_count();
  }
};

TEST_F(MemoryLimit, MemoryUseCountsTheFixedStoresAndThe384BytesOfEachBucket) {
  const uint64_t fixed = engine.game.memory_use(0);
  EXPECT_GT(fixed, Search::ply_storage_bytes());
  // The front end's own fields are in the sum beside the game's.
  EXPECT_GT(fixed, sizeof(Engine) + Search::ply_storage_bytes());
  EXPECT_EQ(engine.game.memory_use(1000), fixed + 384 * 1000);
  EXPECT_EQ(engine.game.memory_use(int64_t{1} << 31), fixed + (uint64_t{384} << 31));
}

TEST_F(MemoryLimit, SizeChosenForEachLimit) {
  const uint64_t fixed = engine.game.memory_use(0);
  // No limit, or a request that fits: hash_size itself, power of two or not.
  EXPECT_EQ(buckets_for(524288, 0), 524288);
  EXPECT_EQ(buckets_for(1000000000, 0), 1000000000);
  EXPECT_EQ(buckets_for(524288, 350000000), 524288);
  EXPECT_EQ(buckets_for(1000, 70000000), 1000);
  EXPECT_EQ(buckets_for(-5, 70000000), -5);  // no tables, as without a limit
  // One byte above the request's memory still fits it; at exactly that
  // memory the limit is not "below" any more.
  EXPECT_EQ(buckets_for(3000, static_cast<int32_t>(engine.game.memory_use(3000) + 1)), 3000);
  EXPECT_EQ(buckets_for(3000, static_cast<int32_t>(engine.game.memory_use(3000))), 2048);
  // Not even one bucket fits beside the fixed stores.
  EXPECT_EQ(buckets_for(524288, 1000), 0);
  EXPECT_EQ(buckets_for(524288, static_cast<int32_t>(fixed)), 0);
  EXPECT_EQ(buckets_for(524288, static_cast<int32_t>(fixed + 384)), 0);
  EXPECT_EQ(buckets_for(524288, static_cast<int32_t>(fixed + 385)), 1);

  for (int32_t limit : {70000000, 100000000, 350000000, 40000000}) {
    const int64_t n = buckets_for(1 << 30, limit);
    ASSERT_GT(n, 0) << limit;
    EXPECT_EQ(n & (n - 1), 0) << limit << ": a power of two";
    EXPECT_LT(engine.game.memory_use(n), static_cast<uint64_t>(limit)) << limit;
    EXPECT_GE(engine.game.memory_use(2 * n), static_cast<uint64_t>(limit)) << limit << ": the largest that fits";
  }
}

// Each helper search thread's storage counts against the limit: the tables
// shrink beside it, and helpers that would not fit even beside one-bucket
// tables are not started.
TEST_F(MemoryLimit, SearchThreadsCountAgainstTheLimit) {
  const uint64_t helper = SearchThreads::bytes_per_helper();
  EXPECT_EQ(engine.game.memory_use(1000, 3), engine.game.memory_use(1000) + 2 * helper);
  engine.game.settings.thread_num = 4;
  EXPECT_EQ(buckets_for(1 << 30, 0), 1 << 30);
  EXPECT_EQ(engine.game.search_thread_count(), 4);  // no limit
  const int64_t n = buckets_for(1 << 30, 150000000);
  EXPECT_EQ(engine.game.search_thread_count(), 4);
  EXPECT_LT(engine.game.memory_use(n, 4), 150000000u);
  EXPECT_GE(engine.game.memory_use(2 * n, 4), 150000000u);
  // Room for the engine and one helper only.
  const int32_t two = static_cast<int32_t>(engine.game.memory_use(1, 2) + 1);
  buckets_for(1 << 30, two);
  EXPECT_EQ(engine.game.search_thread_count(), 2);
  EXPECT_EQ(engine.game.table_bucket_count(), 1);
  buckets_for(1 << 30, 1000);
  EXPECT_EQ(engine.game.search_thread_count(), 1);  // never fewer than the think's own
}

TEST_F(MemoryLimit, ThinksResizeTheTablesAndAnnounceTheSizeInDetailMode) {
  const auto announced = [](const std::vector<std::string>& lines) {
    std::string found;
    for (const auto& l : lines)
      if (l.rfind("MESSAGE DETAIL hash tables ", 0) == 0) found += l + "|";
    return found;
  };
  // Every think settles the size, the first move's too.
  auto lines = send("INFO hash_size 524288\nINFO max_memory 70000000\nINFO show_detail 1\nSTART 15\nBEGIN\n");
  const int64_t n = engine.game.table_bucket_count();
  EXPECT_EQ(n, 65536);
  EXPECT_EQ(engine.game.hash.tt_allocated, n);
  EXPECT_EQ(engine.game.hash.cache_allocated, n);
  EXPECT_EQ(announced(lines),
            "MESSAGE DETAIL hash tables 65536+65536 buckets, 25165824 bytes (max_memory 70000000)|");
  EXPECT_EQ(move_lines(lines).size(), 1u);

  // The same size again: nothing to announce.
  lines = send("TURN 6,6\n");
  EXPECT_EQ(announced(lines), "");
  EXPECT_EQ(engine.game.hash.tt_allocated, n);
  EXPECT_EQ(move_lines(lines).size(), 1u);

  // A lifted limit brings hash_size back, which needs no announcement; the
  // game goes on.
  lines = send("INFO max_memory 0\nTURN 9,9\n");
  EXPECT_EQ(engine.game.hash.tt_allocated, 524288);
  EXPECT_EQ(announced(lines), "");
  EXPECT_EQ(move_lines(lines).size(), 1u);

  // A limit that hash_size fits below is not announced either.
  EXPECT_EQ(announced(send("INFO max_memory 350000000\nTURN 10,10\n")), "");

  // Without detail mode the size changes silently.
  lines = send("INFO show_detail 0\nINFO max_memory 40000000\nTURN 11,11\n");
  EXPECT_EQ(engine.game.hash.tt_allocated, engine.game.table_bucket_count());
  EXPECT_LT(engine.game.memory_use(engine.game.hash.tt_allocated), 40000000u);
  EXPECT_EQ(announced(lines), "");
  EXPECT_EQ(move_lines(lines).size(), 1u);
}

}  // namespace
}  // namespace orvel::testing
