// The firmware-image ciphers shared by the image maker (korvan-kfw), the station's loader and
// the programmer side of the upgrade (the emulator).
//
// Every cipher here is an XOR with a keystream, so the same call enciphers and deciphers:
// applying it twice gives back the input. None of them is a secret; they only keep the image and
// the upgrade blocks from being read or patched by accident.
//
//   Signature      8 bytes XOR kSignatureMask.
//   Header words   value XOR (key word rotated left by 3 bits, plus the word's slot number).
//   Description    byte i XOR low byte of (key word * (i + 1)) XOR kDescriptionMask[i % 8].
//   Payload        byte i XOR key block[i % 3240] XOR low byte of (i / 16 * 0x3B + i).
//   Transport      upgrade block b (its block index), byte i of its 2048 data bytes:
//                  XOR kTransportKeys[(i + b) % 16] XOR low byte of (b * 0x9D + i / 4).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvan::kfw {

inline constexpr std::size_t kKeyBlockSize = 3240;
inline constexpr std::size_t kTransportBlockBytes = 2048;

inline constexpr std::array<std::uint8_t, 8> kSignatureMask = {0x5B, 0xC3, 0x71, 0x2E,
                                                               0x94, 0x0D, 0xE6, 0xA8};
inline constexpr std::array<std::uint8_t, 8> kDescriptionMask = {0x3C, 0x81, 0x5F, 0xD2,
                                                                 0x17, 0x6A, 0xB9, 0x44};
inline constexpr std::array<std::uint8_t, 16> kTransportKeys = {
    0xA7, 0x1E, 0x62, 0xD9, 0x0B, 0x8C, 0x35, 0xF0, 0x4D, 0x96, 0x2A, 0xE3, 0x58, 0xBF, 0x71, 0xC4};

// The header words in the order they are stored, each with its own slot number.
enum HeaderWordSlot : std::uint16_t {
  kSlotEndAddress = 0,
  kSlotParameter1 = 1,
  kSlotParameter2 = 2,
  kSlotPayloadLength = 3,
};

// Masks or unmasks the 8 signature bytes in place.
void CipherSignature(std::span<std::uint8_t, 8> signature);

// Masks or unmasks one header word with the header key word.
std::uint16_t CipherHeaderWord(std::uint16_t value, std::uint16_t keyWord, HeaderWordSlot slot);

// Masks or unmasks the 64-byte description text in place.
void CipherDescription(std::span<std::uint8_t> description, std::uint16_t keyWord);

// Enciphers or deciphers payload bytes in place; `firstIndex` is the payload index of data[0],
// so a payload may be processed in pieces (16 bytes at a time, as the loader does).
void CipherPayload(std::span<std::uint8_t> data, std::span<const std::uint8_t> keyBlock,
                   std::size_t firstIndex = 0);

// Enciphers or deciphers the data bytes of one upgrade block in place (2048 bytes at offset 8 of
// the 0xB7 request). `blockIndex` is the request's byte 3: (block address - 0x2000) / 1024.
void CipherTransportBlock(std::span<std::uint8_t> data, std::uint8_t blockIndex);

}  // namespace korvan::kfw
