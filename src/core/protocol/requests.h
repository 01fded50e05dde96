// The request packets the station sends to a programmer, one type per kind, each with the
// reader of the reply it draws beside it.
//
// A request type holds what its packet is made of (the settings header and settings block come
// in already built, see settings_block.h, which draws their random bytes; images come in as
// spans) and builds the packet byte for byte into a caller's buffer (normally a channel's
// LinkBuffers::packet), CRC included, ready for EncodePacket. Build returns the packet length,
// or 0 (the buffer left in an unspecified state) when the buffer is too small or an input is
// too short. Its ReadReply, where the reply carries more than a status, reads that reply's
// fields out of the decoded packet. Every reply's status itself comes from CheckReply (codec.h)
// before a reply reaches its reader. Nothing here touches a channel's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/model/chip_record.h"
#include "core/model/settings_block.h"
#include "core/protocol/constants.h"
#include "core/protocol/replies.h"

namespace korvan::protocol {

// The 8-byte packet header of every request (the firmware block and the identity frame aside):
// command, 16-bit parameter, the chip identity, 16-bit body length, little-endian.
namespace packet_header {
inline constexpr std::size_t kCommand = 0;
inline constexpr std::size_t kParameter = 1;
inline constexpr std::size_t kChipGroup = 3;
inline constexpr std::size_t kFamilyCode = 4;
inline constexpr std::size_t kPartIndex = 5;
inline constexpr std::size_t kBodyLength = 6;
}  // namespace packet_header

inline constexpr std::size_t kImageBlockBytes = 4096;  // bytes carried per image request
inline constexpr std::size_t kImageBlockStepKiB = 4;   // block index advance per request
inline constexpr std::size_t kOtpRequestBytes = 528;   // OTP bytes in download and write-OTP
inline constexpr std::size_t kOptionImageBytes = 128;

using SettingsHeaderBytes = std::span<const std::uint8_t, kSettingsHeaderSize>;

// ---------------------------------------------------------------------------------------------
// Requests without a chip

// The identity request: a whole frame sent as it stands (no CRC), 10 bytes.
struct IdentityRequest {
  static constexpr std::size_t kLength = kIdentityRequestFrame.size();
  static std::size_t Build(std::span<std::uint8_t> out);
  // The identity reply checked against the model name `expected`. Returns
  // kIdentityBadSignature for a wrong signature; 0 when the identity text (printable bytes
  // 0x20..0x7F from kIdentityTextOffset, at most 51, ending at the first other byte or the
  // packet's end) begins with `expected`, with the whole text in `identity`; otherwise a
  // non-zero value (the difference at the first character that differs).
  static std::uint8_t ReadReply(std::span<const std::uint8_t> packet, std::string_view expected,
                                std::string& identity);
};

// Restart request: 8A "REST" A8 02 00 00 00 and the CRC (12 bytes, no chip identity). Its answer
// carries nothing the station reads: the link sets it aside.
struct RestartRequest {
  static constexpr std::size_t kLength = 12;
  static std::size_t Build(std::span<std::uint8_t> out);
};

// Firmware-block request of a programmer firmware upgrade (2058 bytes): kCmdFirmwareBlock, the
// block's 16-bit address in programmer address units, its index, the block count of the whole
// upgrade, 0F 00 08, then 2048 firmware bytes enciphered by `encipher` (the transport cipher,
// given the block index), then the CRC. The bytes come from `firmware` at
// 2 × (address - `startAddress`); past its end they travel as 0xFF (before enciphering).
// Build returns 0 when `out` is too small or `address` lies before `startAddress`.
// Reply: status only.
using BlockCipher = void (*)(std::span<std::uint8_t> data, std::uint8_t blockIndex);
struct FirmwareBlockRequest {
  static constexpr std::size_t kLength = 2058;
  static constexpr std::size_t kDataBytes = 2048;
  static constexpr std::uint32_t kBlockUnits = 1024;  // address units per block
  // Offsets of its own 8-byte header.
  static constexpr std::size_t kAddressOffset = 1;  // 16-bit
  static constexpr std::size_t kIndexOffset = 3;
  static constexpr std::size_t kCountOffset = 4;
  static constexpr std::size_t kFixedOffset = 5;  // 0F 00 08
  static constexpr std::size_t kDataOffset = 8;

  std::uint16_t address;
  std::uint16_t startAddress;
  std::uint16_t blockCount;
  std::span<const std::uint8_t> firmware;
  BlockCipher encipher;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// ---------------------------------------------------------------------------------------------
// Requests whose body is the settings header alone (74 bytes)

// Any command with the settings header as its body: the kinds below, each with its own
// command and parameter.
struct HeaderRequest {
  static constexpr std::size_t kLength = 74;
  std::uint8_t command;
  std::uint16_t parameter;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// Blank check (kCmdChip, sub-command 0x05). Reply: status only (0x00 or 0x06 blank,
// kStatusNotBlank not blank).
struct BlankCheckRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// Whole-chip erase (kCmdChip, sub-command 0x03). Reply: status only.
struct EraseRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// Read option bytes (kCmdChip, sub-command 0x33).
struct ReadOptionBytesRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::size_t Build(std::span<std::uint8_t> out) const;
  // Reply: the packet without its CRC (the option-byte dump reads its bytes from the data
  // offset on); empty when shorter than the CRC.
  static std::span<const std::uint8_t> ReadReply(std::span<const std::uint8_t> packet);
};

// Read the chip's unique ID (kCmdChip, sub-command 0x3C).
struct ReadChipIdRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::size_t Build(std::span<std::uint8_t> out) const;
  // Reply: kChipIdBytes from the data offset; nullopt when the reply carries fewer.
  static std::optional<std::span<const std::uint8_t>> ReadReply(
      std::span<const std::uint8_t> packet);
};

// Verify/read one 4 KiB block: kCmdReadBack with the block index as parameter, kCmdReadOtp
// while the data phase flag is 1.
struct ReadBackRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  static constexpr std::uint8_t Command(bool dataPhase) {
    return dataPhase ? kCmdReadOtp : kCmdReadBack;
  }
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  bool dataPhase;
  std::uint16_t blockIndex;
  std::size_t Build(std::span<std::uint8_t> out) const;
  // Reply: the kReplyBlockBytes of the block from the data offset; nullopt when fewer.
  static std::optional<std::span<const std::uint8_t>> ReadReply(
      std::span<const std::uint8_t> packet);
};

// Read the OTP data (kCmdReadOtp, parameter 0).
struct ReadOtpRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::size_t Build(std::span<std::uint8_t> out) const;
  // Reply: the first `count` OTP bytes (at most a block) from the data offset; nullopt when
  // the reply carries fewer.
  static std::optional<std::span<const std::uint8_t>> ReadReply(
      std::span<const std::uint8_t> packet, std::size_t count);
};

// Read-address request (sub-command 0x79): the settings header with the 32-bit address at
// settings_header::kReadAddress and the 16-bit size at settings_header::kReadSize.
struct ReadAddressRequest {
  static constexpr std::size_t kLength = HeaderRequest::kLength;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::uint32_t address;
  std::uint16_t size;
  std::size_t Build(std::span<std::uint8_t> out) const;
  // Reply: every data byte it carries (the caller takes as many as it asked for).
  static std::span<const std::uint8_t> ReadReply(std::span<const std::uint8_t> packet);
};

// ---------------------------------------------------------------------------------------------
// Requests that carry data after the settings header. Replies: status only.

// Write option bytes (sub-command 0x35): settings header, then all 128 image bytes (202 bytes).
struct WriteOptionBytesRequest {
  static constexpr std::size_t kLength = 202;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::span<const std::uint8_t, kOptionImageBytes> image;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// Write OTP (kCmdWriteOtp, parameter kWriteOtpParameter): settings header, then the first 528
// bytes of the OTP data image, unscrambled (602 bytes). Build returns 0 when `otpData` holds
// fewer than 528 bytes.
struct WriteOtpRequest {
  static constexpr std::size_t kLength = 602;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::span<const std::uint8_t> otpData;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// Program the 4 KiB at blockIndex × 1024 of the flash image (4170 bytes): parameter = block
// index, with kProgramLastBlockFlag when blockIndex + 4 >= blockCount; body = settings header
// then the 4096 bytes. Bytes beyond the end of `flashImage` travel as 0xFF.
struct ProgramRequest {
  static constexpr std::size_t kLength = 4170;
  const ChipRecord& chip;
  SettingsHeaderBytes header;
  std::span<const std::uint8_t> flashImage;
  std::uint16_t blockIndex;
  std::uint16_t blockCount;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// ---------------------------------------------------------------------------------------------
// Download into the programmer for stand-alone work. Replies: status only.

// Settings phase: the settings block, its copy, and (when `otpData` is not empty, at least
// 528 bytes) the first 528 OTP bytes, all scrambled with the masks of parameter 0 (1034 or
// 1562 bytes). Build returns 0 when a non-empty `otpData` holds fewer than 528 bytes.
struct DownloadSettingsRequest {
  static constexpr std::size_t kLength = 1034;
  static constexpr std::size_t kLengthWithOtp = 1562;
  const ChipRecord& chip;
  std::span<const std::uint8_t, kSettingsBlockSize> block;
  std::span<const std::uint8_t> otpData;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

// Image phase: parameter = block index, body = the 4096 flash-image bytes from
// blockIndex × 1024 (0xFF beyond the end of `flashImage`), no settings header (4106 bytes).
struct DownloadImageRequest {
  static constexpr std::size_t kLength = 4106;
  const ChipRecord& chip;
  std::span<const std::uint8_t> flashImage;
  std::uint16_t blockIndex;
  std::size_t Build(std::span<std::uint8_t> out) const;
};

}  // namespace korvan::protocol
