// The checksums the station and the programmers agree on: the packet CRC (also the image
// checksum `CRC`) and the 16-bit sum complement. Pure functions over caller-owned bytes.
//
// They keep the protocol's namespace, where packets name them; the image checksum `CRC` is the
// same computation under the image's name.
#pragma once

#include <cstdint>
#include <span>

namespace korvan::protocol {

// The packet CRC, also the image checksum `CRC`: over bytes[start..end] inclusive, one shift
// per byte with the polynomial word 0x4A12 (not a standard CRC). "abc" gives 0x2543 and a
// single byte b gives b. Returns 0 when start or end exceeds 0xFFFFFF, when end < start, or
// when end lies outside `bytes`.
std::uint16_t PacketCrc(std::span<const std::uint8_t> bytes, std::uint32_t start,
                        std::uint32_t end);
// The same over the whole span (0 for an empty span).
std::uint16_t PacketCrc(std::span<const std::uint8_t> bytes);

// 0x10000 minus the 16-bit wrapping sum of bytes[start..end] (so a zero sum gives 0x10000).
// Returns 0 when start or end exceeds 0xFFFFFF or end lies outside `bytes`, and 0x10000 when
// end < start.
std::uint32_t SumComplement16(std::span<const std::uint8_t> bytes, std::uint32_t start,
                              std::uint32_t end);

}  // namespace korvan::protocol

namespace korvan {

// The image checksum over bytes [start, end] inclusive: the same computation as the packet CRC.
// 0 under the same conditions as ACC.
std::uint16_t CRC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end);

}  // namespace korvan
