#include "core/image/binary_helpers.h"

#include <algorithm>

namespace korvan {

std::uint16_t ReadWordLE(std::span<const std::uint8_t> bytes, std::uint32_t& checksum) {
  const std::uint8_t low = bytes.size() > 0 ? bytes[0] : 0;
  const std::uint8_t high = bytes.size() > 1 ? bytes[1] : 0;
  checksum += low + high;
  return static_cast<std::uint16_t>(high << 8 | low);
}

std::string ReadMaskedText(std::span<const std::uint8_t> bytes, std::uint32_t& checksum,
                           std::size_t length, std::uint8_t mask) {
  std::string text;
  bool ended = false;
  const std::size_t available = std::min(length, bytes.size());
  for (std::size_t i = 0; i < available; ++i) {
    const std::uint8_t b = bytes[i];
    checksum += b;
    if (b == 0) ended = true;
    if (!ended) text.push_back(static_cast<char>(b ^ mask));
  }
  return text;
}

void SumBytes(std::span<const std::uint8_t> bytes, std::uint32_t& checksum, std::size_t count) {
  const std::size_t available = std::min(count, bytes.size());
  for (std::size_t i = 0; i < available; ++i) checksum += bytes[i];
}

void CopyVersionText(std::span<const std::uint8_t> bytes, std::uint32_t& checksum,
                     std::size_t count, std::array<char, 32>& field) {
  field.fill(0);
  const std::size_t available = std::min(count, bytes.size());
  for (std::size_t i = 0; i < available; ++i) {
    checksum += bytes[i];
    if (i < field.size() - 1) field[i] = static_cast<char>(bytes[i]);
  }
}

}  // namespace korvan
