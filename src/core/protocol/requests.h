// The request packets the station sends to a programmer, built byte for byte into a caller's
// buffer (normally a channel's LinkBuffers::packet), CRC included, ready for EncodePacket.
//
// Every builder is pure: the settings header and settings block come in already built (see
// settings_block.h, which draws their random bytes), images come in as spans, and nothing here
// touches a channel's state. Each returns the packet length, or 0 (the buffer left in an
// unspecified state) when the buffer is too small or an input is too short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/model/chip_record.h"
#include "core/model/settings_block.h"
#include "core/protocol/constants.h"

namespace korvan::protocol {

inline constexpr std::size_t kImageBlockBytes = 4096;  // bytes carried per image request
inline constexpr std::size_t kImageBlockStepKiB = 4;   // block index advance per request
inline constexpr std::size_t kOtpRequestBytes = 528;   // OTP bytes in download and write-OTP
inline constexpr std::size_t kOptionImageBytes = 128;

inline constexpr std::size_t kHeaderRequestLength = 74;
inline constexpr std::size_t kWriteOptionBytesRequestLength = 202;
inline constexpr std::size_t kReadAddressRequestLength = 74;
inline constexpr std::size_t kProgramRequestLength = 4170;
inline constexpr std::size_t kWriteOtpRequestLength = 602;
inline constexpr std::size_t kDownloadSettingsLength = 1034;
inline constexpr std::size_t kDownloadSettingsOtpLength = 1562;
inline constexpr std::size_t kDownloadImageLength = 4106;
inline constexpr std::size_t kRestartRequestLength = 12;

using SettingsHeaderBytes = std::span<const std::uint8_t, kSettingsHeaderSize>;

// Copies the identity request frame (sent as it stands, no CRC); returns its 10 bytes.
std::size_t BuildIdentityRequest(std::span<std::uint8_t> out);

// Restart request: 8A "REST" A8 02 00 00 00 and the CRC (12 bytes, no chip identity).
std::size_t BuildRestartRequest(std::span<std::uint8_t> out);

// A request whose body is the settings header alone (74 bytes): the chip command (kCmdChip with
// a sub-command as parameter), verify/read (kCmdReadBack) or read-OTP (kCmdReadOtp) with the
// block index as parameter.
std::size_t BuildHeaderRequest(std::span<std::uint8_t> out, std::uint8_t command,
                               std::uint16_t parameter, const ChipRecord& chip,
                               SettingsHeaderBytes header);

// The verify/read command for the data phase flag: kCmdReadBack while 0, kCmdReadOtp while 1.
constexpr std::uint8_t ReadBackCommand(bool dataPhase) {
  return dataPhase ? kCmdReadOtp : kCmdReadBack;
}

// Read-address request (sub-command 0x79): the settings header with the 32-bit address at
// header offsets 48..51 and the 16-bit size at 52..53.
std::size_t BuildReadAddressRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                    SettingsHeaderBytes header, std::uint32_t address,
                                    std::uint16_t size);

// Write-option-bytes request (sub-command 0x35): settings header, then all 128 image bytes.
std::size_t BuildWriteOptionBytesRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                         SettingsHeaderBytes header,
                                         std::span<const std::uint8_t, kOptionImageBytes> image);

// Write-OTP request: settings header, then the first 528 bytes of the OTP data image
// (unscrambled). Returns 0 when `otpData` holds fewer than 528 bytes.
std::size_t BuildWriteOtpRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                 SettingsHeaderBytes header, std::span<const std::uint8_t> otpData);

// Program request for the 4 KiB at blockIndex × 1024 of the flash image: parameter = block
// index, with kProgramLastBlockFlag when blockIndex + 4 >= blockCount; body = settings header
// then the 4096 bytes. Bytes beyond the end of `flashImage` travel as 0xFF.
std::size_t BuildProgramRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                SettingsHeaderBytes header,
                                std::span<const std::uint8_t> flashImage, std::uint16_t blockIndex,
                                std::uint16_t blockCount);

// Download, settings phase: the settings block, its copy, and (when `otpData` is not empty, at
// least 528 bytes) the first 528 OTP bytes, all scrambled with the masks of parameter 0.
// Returns 0 when a non-empty `otpData` holds fewer than 528 bytes.
std::size_t BuildDownloadSettingsRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                         std::span<const std::uint8_t, kSettingsBlockSize> block,
                                         std::span<const std::uint8_t> otpData);

// Download, image phase: parameter = block index, body = the 4096 flash-image bytes from
// blockIndex × 1024 (0xFF beyond the end of `flashImage`), no settings header.
std::size_t BuildDownloadImageRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                      std::span<const std::uint8_t> flashImage,
                                      std::uint16_t blockIndex);

// Firmware-block request of a programmer firmware upgrade (2058 bytes): kCmdFirmwareBlock, the
// block's 16-bit address in programmer address units, its index, the block count of the whole
// upgrade, 0F 00 08, then 2048 firmware bytes enciphered by `encipher` (the transport cipher,
// given the block index), then the CRC. The bytes come from `firmware` at
// 2 × (address - `startAddress`); past its end they travel as 0xFF (before enciphering).
// Returns 0 when `out` is too small or `address` lies before `startAddress`.
inline constexpr std::size_t kFirmwareBlockRequestLength = 2058;
inline constexpr std::size_t kFirmwareBlockDataBytes = 2048;
inline constexpr std::uint32_t kFirmwareBlockUnits = 1024;  // address units per block
using BlockCipher = void (*)(std::span<std::uint8_t> data, std::uint8_t blockIndex);
std::size_t BuildFirmwareBlockRequest(std::span<std::uint8_t> out, std::uint16_t address,
                                      std::uint16_t startAddress, std::uint16_t blockCount,
                                      std::span<const std::uint8_t> firmware, BlockCipher encipher);

}  // namespace korvan::protocol
