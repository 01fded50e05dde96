// Byte helpers of the firmware-image and project-file loaders. Each consumes bytes from the
// front of a span and adds every byte it consumes (as unsigned) to a running 32-bit checksum.
// None reads past the span: bytes it lacks count as 0 and add nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korvan {

// Two bytes, low byte first.
std::uint16_t ReadWordLE(std::span<const std::uint8_t> bytes, std::uint32_t& checksum);

// `length` bytes, each non-zero byte XORed with `mask`, zero bytes kept as zero. The text ends
// at its first zero byte, as the station shows it.
std::string ReadMaskedText(std::span<const std::uint8_t> bytes, std::uint32_t& checksum,
                           std::size_t length, std::uint8_t mask);

// Adds `count` bytes to the checksum.
void SumBytes(std::span<const std::uint8_t> bytes, std::uint32_t& checksum, std::size_t count);

// Copies `count` bytes (at most 31) into a zero-filled 32-byte version field, adding them.
void CopyVersionText(std::span<const std::uint8_t> bytes, std::uint32_t& checksum,
                     std::size_t count, std::array<char, 32>& field);

}  // namespace korvan
