// The option-byte image: the station's copy of the target part's option bytes. 128 bytes; byte
// i is the option byte at chip address 0x1FFFF800 + i. Bytes come in value/complement pairs
// (value at 2k, value XOR 0xFF at 2k + 1) and every change of a value writes its complement at
// once. Only the first `optionByteLength` bytes belong to the part, but requests, project files
// and the checksum carry more, so bytes a part does not use keep whatever was written there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvan {

inline constexpr std::size_t kOptionByteImageSize = 128;
inline constexpr std::uint32_t kOptionByteAddress = 0x1FFFF800;

using OptionByteImage = std::array<std::uint8_t, kOptionByteImageSize>;

// Writes `value` at the even index `index` and its complement right after it.
void SetOptionPair(OptionByteImage& image, std::size_t index, std::uint8_t value);

// The 16-bit sum of bytes 0..23 (whatever the part's option-byte length) and its complement;
// they travel in the job settings as `optionSum` and `optionSumInv`.
struct OptionChecksum {
  std::uint16_t optionSum;
  std::uint16_t optionSumInv;
};
OptionChecksum OptionSum(const OptionByteImage& image);

}  // namespace korvan
