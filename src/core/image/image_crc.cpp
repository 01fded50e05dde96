#include "core/image/image_buffer.h"

// PacketCrc comes from the packet codec; the image checksum is the same computation.
namespace korvan {
std::uint16_t PacketCrc(std::span<const std::uint8_t> bytes);

namespace detail {
bool RangeIsValid(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end);
}

std::uint16_t CRC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  if (!detail::RangeIsValid(bytes, start, end)) return 0;
  return PacketCrc(bytes.subspan(start, end - start + 1));
}

}  // namespace korvan
