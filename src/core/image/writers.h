// Object-file writers: raw binary, Intel HEX and Motorola S-record, from a byte range of an
// image array. Hexadecimal digits are upper-case; text lines end in CR LF. Saves are whole or
// nothing: a failed save leaves the previous file in place.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/util/atomic_file.h"

namespace korvan {

// The texts the writers produce. The byte for target address a is bytes[a - base]; an address
// whose index lies outside `bytes` is written as 0xFF.
//
// Intel HEX, end <= 0xFFFF: 16-byte records from `start`. End above 0xFFFF: an extended linear
// address record, then 32-byte records that never cross a 64 KiB boundary (a new extended
// record follows each boundary). Both end with ":00000001FF".
std::string FormatHexFile(std::span<const std::uint8_t> bytes, std::uint32_t base,
                          std::uint32_t start, std::uint32_t end);
// S-records of 32 data bytes, no header: S1/S9 when end <= 0xFFFF, S2/S8 up to 0xFFFFFF, S3/S7
// above.
std::string FormatS19File(std::span<const std::uint8_t> bytes, std::uint32_t base,
                          std::uint32_t start, std::uint32_t end);

// Each returns true on success, or false with the file layer's message in `error`. The station
// saves synced; the command-line conversion, like other tools, leaves syncing to the system.
// Bytes [first, last] of `bytes` (an empty file when last < first; indices past the array are
// not written).
bool SaveBinFile(const std::string& path, std::span<const std::uint8_t> bytes, std::uint32_t first,
                 std::uint32_t last, std::string& error,
                 Durability durability = Durability::Synced);
bool SaveHexFile(const std::string& path, std::span<const std::uint8_t> bytes, std::uint32_t base,
                 std::uint32_t start, std::uint32_t end, std::string& error,
                 Durability durability = Durability::Synced);
bool SaveS19File(const std::string& path, std::span<const std::uint8_t> bytes, std::uint32_t base,
                 std::uint32_t start, std::uint32_t end, std::string& error,
                 Durability durability = Durability::Synced);

}  // namespace korvan
