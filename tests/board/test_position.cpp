// The position record: line words, border marks, Zobrist keys, make/undo.
#include <gtest/gtest.h>

#include "board/position.h"
#include "board_test_util.h"

namespace orvel {
namespace {

using testing::LineSnapshot;
using testing::make_position;

int field(uint64_t word, int p) { return static_cast<int>((word >> (2 * p + 8)) & 3); }

// The number of cells between the two border marks of a line word.
int marked_length(uint64_t word) {
  if (field(word, -1) != BLOCKED) return -1;
  for (int p = 0; p <= MAX_SIZE; ++p)
    if (field(word, p) == BLOCKED) return p;
  return -1;
}

class BorderTest : public ::testing::TestWithParam<int> {};

TEST_P(BorderTest, EveryLineIsFramedByBlockedMarks) {
  const int n = GetParam();
  auto pos = make_position(n, n, FREESTYLE);
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(marked_length(pos->y_lines[i]), n);
    EXPECT_EQ(marked_length(pos->x_lines[i]), n);
  }
  for (int i = 0; i <= 2 * n - 2; ++i) EXPECT_EQ(marked_length(pos->anti_lines[i]), n - std::abs(i - (n - 1)));
  for (int j = 1; j <= 2 * n - 1; ++j) EXPECT_EQ(marked_length(pos->diag_lines[j]), n - std::abs(n - j));
  // Nothing beyond the marks, nothing in the virtual cells in front.
  for (int i = 0; i < n; ++i) {
    EXPECT_EQ(pos->y_lines[i] & 0x3F, 0u);
    if (n < 24) {
      EXPECT_EQ(pos->y_lines[i] >> (2 * (n + 1) + 8), 0u);
    }
  }
  // The shortest diagonals hold one cell between their marks.
  EXPECT_EQ(marked_length(pos->anti_lines[0]), 1);
  EXPECT_EQ(marked_length(pos->diag_lines[1]), 1);
  EXPECT_EQ(marked_length(pos->diag_lines[2 * n - 1]), 1);
  // Every cell sits where its line word says.
  for (int x = 0; x < n; ++x)
    for (int y = 0; y < n; ++y)
      for (int d = 0; d < 4; ++d) EXPECT_EQ(field(pos->line_word(d, x, y), pos->line_position(d, x, y)), EMPTY);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BorderTest, ::testing::Values(5, 15, 20, 24));

TEST(Position, A24BoardUsesTheTopBitsOfItsWords) {
  auto pos = make_position(24, 24, STANDARD);
  EXPECT_EQ((pos->y_lines[0] >> 56) & 3, 3u);  // border mark of position 24
  pos->make_move(0, 23, WHITE);
  EXPECT_EQ(field(pos->y_lines[0], 23), WHITE);
  // The window of the last cell reads up to bit 63 without trouble.
  EXPECT_EQ((line_window(pos->y_lines[0], 23) >> 8) & 3, static_cast<uint32_t>(WHITE));
  EXPECT_EQ(line_window(pos->y_lines[0], 23) >> 10 & 3, 3u);
  EXPECT_TRUE(pos->is_consistent());
}

TEST(Position, RectangularBoardBlocksTheRestOfTheSquare) {
  auto pos = make_position(15, 10, FREESTYLE);  // y < 15, x < 10
  EXPECT_EQ(pos->board_size, 15);
  uint64_t key = 0;
  for (int x = 0; x < 15; ++x)
    for (int y = 0; y < 15; ++y) {
      const bool outside = x >= 10;
      EXPECT_EQ(pos->cells[x][y], outside ? BLOCKED : EMPTY);
      if (outside) key ^= pos->stone_key(x, y, BLOCKED);
    }
  EXPECT_EQ(pos->zobrist_key, key);
  EXPECT_TRUE(pos->is_consistent());
  auto square = make_position(15, 15, FREESTYLE);
  EXPECT_EQ(square->zobrist_key, 0u);
}

TEST(Position, MakeUndoOfRandomSequencesRestoresEveryWordAndKey) {
  for (int rule = 0; rule < 3; ++rule)
    for (auto [w, h] : {std::pair{15, 15}, {20, 20}, {24, 24}, {20, 15}, {9, 13}}) {
      auto pos = make_position(w, h, rule);
      const LineSnapshot empty(*pos);
      std::mt19937 rng(rule * 100 + w + h);
      struct M { int x, y, v; };
      std::vector<M> placed;
      for (int step = 0; step < 400; ++step) {
        const int x = rng() % h, y = rng() % w;
        if (pos->cells[x][y] != EMPTY) continue;
        const LineSnapshot before(*pos);
        const int v = 1 + rng() % 3;
        pos->make_move(x, y, v);
        pos->undo_move(x, y, v);
        ASSERT_TRUE(LineSnapshot(*pos) == before);
        pos->make_move(x, y, v);
        placed.push_back({x, y, v});
      }
      for (auto it = placed.rbegin(); it != placed.rend(); ++it) pos->undo_move(it->x, it->y, it->v);
      EXPECT_TRUE(LineSnapshot(*pos) == empty) << "rule " << rule << " " << w << "x" << h;
      EXPECT_TRUE(pos->is_consistent());
    }
}

TEST(Position, RebuildDrawsFreshKeysButTheSameBoard) {
  auto a = make_position(15, 15, RENJU);
  const int moves[][3] = {{7, 7, 1}, {7, 8, 2}, {8, 8, 1}, {6, 6, 2}, {9, 9, 1}, {0, 0, 2}};
  auto replay = [&](Position& p) {
    for (auto& m : moves) p.make_move(m[0], m[1], m[2]);
  };
  replay(*a);
  const LineSnapshot first(*a);
  std::vector<DirPattern> codes(&a->dir_patterns[0][0][0], &a->dir_patterns[0][0][0] + 4 * MAX_CELLS);
  uint64_t keys_first = a->zobrist_keys[7][7][0];
  a->configure(15, 15, RENJU);
  replay(*a);
  const LineSnapshot second(*a);
  EXPECT_NE(a->zobrist_keys[7][7][0], keys_first);
  EXPECT_EQ(std::memcmp(first.cells, second.cells, sizeof first.cells), 0);
  EXPECT_EQ(std::memcmp(first.y_lines, second.y_lines, sizeof first.y_lines), 0);
  EXPECT_EQ(std::memcmp(first.diag_lines, second.diag_lines, sizeof first.diag_lines), 0);
  EXPECT_NE(first.key, second.key);
  EXPECT_EQ(std::memcmp(codes.data(), &a->dir_patterns[0][0][0], codes.size() * sizeof(DirPattern)), 0);
}

TEST(Position, KeysAreDistinctAndWellMixed) {
  auto pos = make_position(24, 24, FREESTYLE);
  std::vector<uint64_t> keys(&pos->zobrist_keys[0][0][0], &pos->zobrist_keys[0][0][0] + MAX_CELLS * 3);
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
  int high_bits = 0;
  for (uint64_t k : keys) high_bits += static_cast<int>(k >> 63);
  EXPECT_GT(high_bits, 700);  // about half of 1,728
  EXPECT_LT(high_bits, 1030);
}

}  // namespace
}  // namespace orvel
