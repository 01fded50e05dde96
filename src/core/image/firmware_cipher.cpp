#include "core/image/firmware_cipher.h"

namespace korvan::kfw {

void CipherSignature(std::span<std::uint8_t, 8> signature) {
  for (std::size_t i = 0; i < signature.size(); ++i) signature[i] ^= kSignatureMask[i];
}

std::uint16_t CipherHeaderWord(std::uint16_t value, std::uint16_t keyWord, HeaderWordSlot slot) {
  const auto rotated = static_cast<std::uint16_t>(keyWord << 3 | keyWord >> 13);
  return static_cast<std::uint16_t>(value ^ static_cast<std::uint16_t>(rotated + slot));
}

void CipherDescription(std::span<std::uint8_t> description, std::uint16_t keyWord) {
  for (std::size_t i = 0; i < description.size(); ++i) {
    description[i] ^= static_cast<std::uint8_t>(keyWord * (i + 1)) ^ kDescriptionMask[i % 8];
  }
}

void CipherPayload(std::span<std::uint8_t> data, std::span<const std::uint8_t> keyBlock,
                   std::size_t firstIndex) {
  for (std::size_t k = 0; k < data.size(); ++k) {
    const std::size_t i = firstIndex + k;
    const std::uint8_t key = keyBlock.empty() ? 0 : keyBlock[i % keyBlock.size()];
    data[k] ^= key ^ static_cast<std::uint8_t>(i / 16 * 0x3B + i);
  }
}

void CipherTransportBlock(std::span<std::uint8_t> data, std::uint8_t blockIndex) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] ^= kTransportKeys[(i + blockIndex) % 16] ^
               static_cast<std::uint8_t>(blockIndex * 0x9D + i / 4);
  }
}

}  // namespace korvan::kfw
