// The layout every reply shares, the operator text of a status code, and the progress reports
// of a programmer working on its own. The fields of each request's own reply are read by the
// request's type (requests.h). Pure functions over decoded packets.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korvan::protocol {

// Every reply to a request: bytes 0..5 echo the request's first six bytes, 6..7 give the body
// length (low byte first), then the body (the status first, then any data), then the CRC.
inline constexpr std::size_t kReplyEchoBytes = 6;
inline constexpr std::size_t kReplyLengthOffset = 6;
inline constexpr std::size_t kReplyDataOffset = 8;
inline constexpr std::size_t kReplyStatusOffset = 8;  // when the body length is 1
inline constexpr std::size_t kReplyCrcBytes = 2;
// Data of the replies that carry some: a 4 KiB block of flash (verify, read chip memory) or of
// OTP data, the 12 bytes of a chip's unique ID.
inline constexpr std::size_t kReplyBlockBytes = 4096;
inline constexpr std::size_t kChipIdBytes = 12;

// The bytes of a decoded reply from the data offset up to its CRC (empty when it is shorter).
std::span<const std::uint8_t> ReplyData(std::span<const std::uint8_t> packet);
// The first `count` of them, or nullopt when the reply carries fewer (or has no CRC after them).
std::optional<std::span<const std::uint8_t>> ReplyData(std::span<const std::uint8_t> packet,
                                                       std::size_t count);

// The identity reply's check result when the signature (A3 A5 35 at offset 0, a non-zero byte
// at kIdentityMarkerOffset) is wrong (see IdentityRequest::ReadReply).
inline constexpr std::uint8_t kIdentityBadSignature = 15;
inline constexpr std::size_t kIdentityMarkerOffset = 3;

// The operator text of a status code: "操作成功！" for 0x00 and 0x06, the table's text for every
// known code, and "操作失败！错误代码: 0%d(0x%0.2X)！" for the rest.
std::string StatusText(std::uint8_t code);

// A progress report of stand-alone work: bytes 0..7 of a decoded packet.
struct ProgressReport {
  static constexpr std::size_t kLength = 8;  // bytes 0..7 add up to 0 modulo 256
  static constexpr std::size_t kStageOffset = 1;
  static constexpr std::size_t kResultOffset = 2;
  static constexpr std::size_t kValueOffset = 3;    // 16-bit
  static constexpr std::size_t kMaximumOffset = 5;  // 16-bit

  std::uint8_t stage = 0;
  std::uint8_t result = 0;  // stage 0xF0: 6 programmed, 0x1E not read-protected, else failure
  std::uint16_t value = 0;  // stages 0x40, 0x50
  std::uint16_t maximum = 0;
};

// The report in `packet`, or nullopt when it is shorter than 8 bytes or bytes 0..7 do not add
// up to 0 modulo 256 (the packet CRC is not looked at).
std::optional<ProgressReport> ReadProgressReport(std::span<const std::uint8_t> packet);

}  // namespace korvan::protocol
