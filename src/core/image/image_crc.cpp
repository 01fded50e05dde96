#include "core/image/image_buffer.h"

#include "core/protocol/codec.h"

namespace korvan {

// The image checksum is the packet CRC: one implementation serves both.
std::uint16_t CRC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  return protocol::PacketCrc(bytes, start, end);
}

}  // namespace korvan
