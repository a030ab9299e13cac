// Bit helpers for the 32-bit set masks. The lookup tables are kept for the
// callers that want them; the walks use the compiler's bit instructions,
// which give the same answers.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>

namespace orvel {

namespace detail {
constexpr std::array<int8_t, 32769> make_bit_index_table() {
  std::array<int8_t, 32769> t{};
  for (int i = 0; i <= 15; ++i) t[1u << i] = static_cast<int8_t>(i);
  return t;
}
constexpr std::array<uint8_t, 32769> make_bit_count_table() {
  std::array<uint8_t, 32769> t{};
  for (int n = 1; n <= 32768; ++n) t[n] = static_cast<uint8_t>(t[n - (n & -n)] + 1);
  return t;
}
}  // namespace detail

// bit_index_table[2^i] = i for i = 0..15; bit_count_table[n] = popcount(n).
inline constexpr std::array<int8_t, 32769> bit_index_table = detail::make_bit_index_table();
inline constexpr std::array<uint8_t, 32769> bit_count_table = detail::make_bit_count_table();

// Index of the single set bit of b.
inline int bit_index(uint32_t b) {
  assert(b != 0 && (b & (b - 1)) == 0);
  return __builtin_ctz(b);
}

inline int lowest_bit_index(uint32_t b) { return __builtin_ctz(b); }
inline int bit_count(uint32_t b) { return __builtin_popcount(b); }

}  // namespace orvel
