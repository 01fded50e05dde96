// The programmers' firmware image `KorvanNAT.KFW`: its layout, the loader that checks it at
// start-up, the version test that decides whether a programmer needs it, and the packer that
// the image-making tool uses.
//
// Layout (little-endian):
//   0     8     signature "KV2xFmWr", masked
//   8     2     not used (not part of the checksum)
//   10    22    firmware version text, zero-padded
//   32    2     header key word
//   34    2     end address in programmer address units (exclusive), masked by the key word
//   36    2     parameter word 1, masked
//   38    2     parameter word 2, masked
//   40    2     payload length in bytes, masked
//   42    64    description text, masked
//   106   3240  key block
//   3346  P     enciphered payload, P = payload length rounded up to 16
//   +P    838   filler
//   +838  4     checksum: 32-bit sum of every byte before it except offsets 8..9
// The whole file fits the 64 KiB firmware buffer. Ciphers: core/image/firmware_cipher.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvan {

inline constexpr const char* kFirmwareFileName = "KorvanNAT.KFW";
inline constexpr std::size_t kFirmwareBufferSize = 0x10000;
inline constexpr std::uint16_t kFirmwareStartAddress = 0x2000;

namespace kfw {
inline constexpr char kSignature[] = "KV2xFmWr";
inline constexpr std::size_t kSignatureOffset = 0;
inline constexpr std::size_t kVersionOffset = 10;
inline constexpr std::size_t kVersionLength = 22;
inline constexpr std::size_t kKeyWordOffset = 32;
inline constexpr std::size_t kEndAddressOffset = 34;
inline constexpr std::size_t kParameter1Offset = 36;
inline constexpr std::size_t kParameter2Offset = 38;
inline constexpr std::size_t kPayloadLengthOffset = 40;
inline constexpr std::size_t kDescriptionOffset = 42;
inline constexpr std::size_t kDescriptionLength = 64;
inline constexpr std::size_t kKeyBlockOffset = 106;
inline constexpr std::size_t kPayloadOffset = 3346;
inline constexpr std::size_t kFillerLength = 838;
inline constexpr std::size_t kChecksumLength = 4;
// The largest payload whose file still fits the firmware buffer.
inline constexpr std::size_t kMaxPayload =
    (kFirmwareBufferSize - kPayloadOffset - kFillerLength - kChecksumLength) / 16 * 16;

inline constexpr std::size_t RoundUp16(std::size_t n) {
  return (n + 15) / 16 * 16;
}
}  // namespace kfw

struct FirmwareImage {
  FirmwareImage() : buffer(kFirmwareBufferSize, 0) {}

  // After a good load: the deciphered firmware from byte 0; address unit u occupies bytes
  // 2 * (u - startAddress) onward. Zero past the payload.
  std::vector<std::uint8_t> buffer;
  bool present = false;  // signature and checksum right; upgrades do nothing while clear
  std::uint16_t startAddress = kFirmwareStartAddress;
  std::uint16_t endAddress = 0;
  std::uint16_t parameter1 = 0;
  std::uint16_t parameter2 = 0;
  std::uint16_t payloadLength = 0;
  std::array<char, 32> version{};  // 22 characters from the header, zero-filled
  std::string description;

  std::string VersionText() const { return std::string(version.data()); }
};

// Reads and checks the file; fills `image` and returns its present flag. A missing file, a
// wrong signature or a wrong checksum clear the flag.
bool LoadFirmwareImage(const std::string& path, FirmwareImage& image);
// The same over the file's bytes already in memory (only the first 64 KiB are read, as from a
// file).
bool ParseFirmwareImage(std::span<const std::uint8_t> file, FirmwareImage& image);

// 3 when the version in a programmer's identity text (from its first " V", at most 31
// characters) sorts below `imageVersion`, compared over the length of the programmer's version
// only (byte values, case-sensitive; "V3" against "V3.0" is not older), else 0. An identity
// without a version is older than any image version; with no image version nothing is older.
int FirmwareIsOlder(std::string_view identityText, std::string_view imageVersion);

struct FirmwarePackOptions {
  std::string version;      // at most 22 characters
  std::string description;  // at most 64 bytes
  std::uint16_t parameter1 = 0;
  std::uint16_t parameter2 = 0;
  std::uint32_t seed = 0;  // seeds the key word, key block and filler
};

// Builds a firmware image file from the raw firmware bytes (two bytes per address unit from
// address 0x2000). Returns an empty vector with `error` set when the firmware or a text is too
// long for the layout.
std::vector<std::uint8_t> PackFirmwareImage(std::span<const std::uint8_t> firmware,
                                            const FirmwarePackOptions& options, std::string& error);

}  // namespace korvan
