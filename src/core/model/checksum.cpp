#include "core/model/checksum.h"

#include <array>
#include <cstddef>

namespace korvan::protocol {

namespace {

constexpr std::uint32_t kMaxIndex = 0xFFFFFF;
constexpr std::uint16_t kCrcWord = 0x4A12;

// One step of the CRC without the data byte: c >> 1, with the word folded in when the bit
// shifted out was 1. The step is linear, so m steps of a value x are (x >> m) plus the m steps
// of its low m bits alone; kSteps[m][i] holds m steps of the byte i, which lets eight data
// bytes be folded in at once with the same result as eight single steps.
constexpr std::array<std::array<std::uint16_t, 256>, 9> MakeSteps() {
  std::array<std::array<std::uint16_t, 256>, 9> steps{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint16_t c = static_cast<std::uint16_t>(i);
    steps[0][i] = c;
    for (unsigned m = 1; m <= 8; ++m) {
      c = static_cast<std::uint16_t>((c >> 1) ^ ((c & 1) ? kCrcWord : 0));
      steps[m][i] = c;
    }
  }
  return steps;
}
constexpr auto kSteps = MakeSteps();

std::uint16_t CrcBytes(const std::uint8_t* p, std::size_t n) {
  std::uint16_t c = 0;
  for (; n >= 8; n -= 8, p += 8) {
    const std::uint16_t data = kSteps[7][p[0]] ^ kSteps[6][p[1]] ^ kSteps[5][p[2]] ^
                               kSteps[4][p[3]] ^ kSteps[3][p[4]] ^ kSteps[2][p[5]] ^
                               kSteps[1][p[6]] ^ p[7];
    c = static_cast<std::uint16_t>((c >> 8) ^ kSteps[8][c & 0xFF] ^ data);
  }
  for (; n > 0; --n, ++p) {
    c = static_cast<std::uint16_t>((c >> 1) ^ *p ^ ((c & 1) ? kCrcWord : 0));
  }
  return c;
}

}  // namespace

std::uint16_t PacketCrc(std::span<const std::uint8_t> bytes, std::uint32_t start,
                        std::uint32_t end) {
  if (start > kMaxIndex || end > kMaxIndex || end < start || end >= bytes.size()) return 0;
  return CrcBytes(bytes.data() + start, end - start + 1);
}

std::uint16_t PacketCrc(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return 0;
  return PacketCrc(bytes, 0, static_cast<std::uint32_t>(bytes.size() - 1));
}

std::uint32_t SumComplement16(std::span<const std::uint8_t> bytes, std::uint32_t start,
                              std::uint32_t end) {
  if (start > kMaxIndex || end > kMaxIndex) return 0;
  if (end < start) return 0x10000;
  if (end >= bytes.size()) return 0;
  std::uint16_t s = 0;
  for (std::uint32_t i = start; i <= end; ++i) s = static_cast<std::uint16_t>(s + bytes[i]);
  return (static_cast<std::uint32_t>(s) ^ 0xFFFF) + 1;
}

}  // namespace korvan::protocol

namespace korvan {

// The image checksum is the packet CRC: one implementation serves both.
std::uint16_t CRC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  return protocol::PacketCrc(bytes, start, end);
}

}  // namespace korvan
