// Byte vectors written out by hand as hex pairs ("7E 93 05 ..."), for the tests that pin wire
// layouts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace korvan::testing {

inline std::vector<std::uint8_t> HexBytes(const char* text) {
  std::vector<std::uint8_t> out;
  unsigned value = 0;
  int consumed = 0;
  while (std::sscanf(text, " %2x%n", &value, &consumed) == 1) {
    out.push_back(static_cast<std::uint8_t>(value));
    text += consumed;
  }
  return out;
}

}  // namespace korvan::testing
