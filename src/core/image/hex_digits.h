// The readers' digit rule, as a table: each character maps to its 8-bit digit value on its own
// ('A'..'Z' and 'a'..'z' from 10, anything else c - '0'); no character is refused.
#pragma once

#include <array>
#include <cstdint>

namespace korvan::detail {

inline constexpr std::array<std::uint8_t, 256> kHexDigitValue = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if (c >= 'A' && c <= 'Z') {
      table[c] = static_cast<std::uint8_t>(c - 0x41 + 10);
    } else if (c >= 'a' && c <= 'z') {
      table[c] = static_cast<std::uint8_t>(c - 0x61 + 10);
    } else {
      table[c] = static_cast<std::uint8_t>(c - 0x30);
    }
  }
  return table;
}();

// Every pair of characters at once: one lookup per byte of a record (64 KiB, read-only).
inline constexpr std::array<std::uint8_t, 65536> kHexPairValue = [] {
  std::array<std::uint8_t, 65536> table{};
  for (int high = 0; high < 256; ++high) {
    for (int low = 0; low < 256; ++low) {
      table[high << 8 | low] =
          static_cast<std::uint8_t>((kHexDigitValue[high] << 4) + kHexDigitValue[low]);
    }
  }
  return table;
}();

inline std::uint8_t HexPair(char high, char low) {
  return kHexPairValue[static_cast<unsigned char>(high) << 8 | static_cast<unsigned char>(low)];
}

}  // namespace korvan::detail
