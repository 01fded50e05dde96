// Constants of the serial protocol between the station and a Korvan200NAT programmer.
//
// Both ends use this header: the station's request senders and reply handlers, and the
// emulated programmer of sim/. Byte layouts of the requests are not here on purpose: each
// side reads them on its own, so that a layout fault on one side shows against the other.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvan::protocol {

// Command codes: byte 0 of every request packet.
inline constexpr std::uint8_t kCmdDownloadSettings = 0x53;  // settings block twice, scrambled
inline constexpr std::uint8_t kCmdDownloadImage = 0x55;     // one 4 KiB image block
inline constexpr std::uint8_t kCmdRestart = 0x8A;           // leave for stand-alone work
inline constexpr std::uint8_t kCmdChip = 0x93;              // chip command, sub-command below
inline constexpr std::uint8_t kCmdProgram = 0x95;           // one 4 KiB block into the part
inline constexpr std::uint8_t kCmdWriteOtp = 0x99;          // OTP data into the part
inline constexpr std::uint8_t kCmdReadBack = 0x9B;          // verify/read one 4 KiB block
inline constexpr std::uint8_t kCmdReadOtp = 0x9D;           // read OTP; read-back in the data phase
inline constexpr std::uint8_t kCmdFirmwareBlock = 0xB7;     // one block of programmer firmware

// Sub-commands of kCmdChip, carried in the parameter (offsets 1..2, high byte 0).
inline constexpr std::uint16_t kSubErase = 0x03;
inline constexpr std::uint16_t kSubBlankCheck = 0x05;
inline constexpr std::uint16_t kSubReadOptionBytes = 0x33;
inline constexpr std::uint16_t kSubWriteOptionBytes = 0x35;
inline constexpr std::uint16_t kSubReadChipId = 0x3C;
inline constexpr std::uint16_t kSubReadAddress = 0x79;

// Flag ORed into the program request's parameter on the last block (bit 7 of offset 2).
inline constexpr std::uint16_t kProgramLastBlockFlag = 0x8000;

// The write-OTP request's fixed parameter: offset 1 = 0x00, offset 2 = 0x50.
inline constexpr std::uint16_t kWriteOtpParameter = 0x5000;

// Status codes. The programmer sends most of them as a one-byte reply body; 0x20, 0x23 and
// 0x2A come from the station's own receive path and 0x31 from its verify comparison, sharing
// the code space so that one message table serves all.
inline constexpr std::uint8_t kStatusOk = 0x00;
inline constexpr std::uint8_t kStatusNotErased = 0x04;
inline constexpr std::uint8_t kStatusDone = 0x06;  // success, as 0x00
inline constexpr std::uint8_t kStatusNoResponse = 0x0B;
inline constexpr std::uint8_t kStatusWriteProtected = 0x10;
inline constexpr std::uint8_t kStatusReadProtected = 0x13;
inline constexpr std::uint8_t kStatusNotBlank = 0x15;    // blank-check reply only
inline constexpr std::uint8_t kStatusIncomplete = 0x20;  // receive path: no end delimiter yet
inline constexpr std::uint8_t kStatusCrcMismatch = 0x23;
inline constexpr std::uint8_t kStatusUnknownCommand = 0x25;
inline constexpr std::uint8_t kStatusBadPacket = 0x2A;  // bad escape or packet too short
inline constexpr std::uint8_t kStatusFlashError = 0x2C;
inline constexpr std::uint8_t kStatusOtpWriteError = 0x2D;
inline constexpr std::uint8_t kStatusVerifyMismatch = 0x31;
inline constexpr std::uint8_t kStatusChecksumWrong = 0x34;
inline constexpr std::uint8_t kStatusChipTypeWrong = 0x36;
inline constexpr std::uint8_t kStatusChipMakerWrong = 0x38;
inline constexpr std::uint8_t kStatusCommandTimeout = 0x40;
inline constexpr std::uint8_t kStatusCommandFailed = 0x45;
inline constexpr std::uint8_t kStatusSerialNumberWriteError = 0x47;
inline constexpr std::uint8_t kStatusOptionByteWriteError = 0x4F;
inline constexpr std::uint8_t kStatusFlashSizeMismatch = 0x51;
inline constexpr std::uint8_t kStatusAddressOutOfRange = 0x55;
inline constexpr std::uint8_t kStatusInterfaceInitError = 0x60;
inline constexpr std::uint8_t kStatusSerialLinkError = 0xE0;

// The identity request, a whole frame sent as it stands (a 3-byte packet without CRC).
inline constexpr std::array<std::uint8_t, 10> kIdentityRequestFrame = {
    0xC0, 0xA3, 0xA5, 0x35, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// The identity reply: signature at offset 0, a non-zero byte at offset 3, the identity text
// (printable ASCII, at most 51 characters) from offset 22.
inline constexpr std::array<std::uint8_t, 3> kIdentitySignature = {0xA3, 0xA5, 0x35};
inline constexpr std::size_t kIdentityTextOffset = 22;
inline constexpr std::size_t kIdentityTextMax = 51;
inline constexpr std::string_view kModelName = "Korvan200NAT";         // ready for work
inline constexpr std::string_view kUpgradeModelName = "Korvan200MMN";  // needs firmware

// The restart request before its CRC: command, "REST", 0xA8, body length 2, two zero bytes.
inline constexpr std::array<std::uint8_t, 10> kRestartPacket = {0x8A, 0x52, 0x45, 0x53, 0x54,
                                                                0xA8, 0x02, 0x00, 0x00, 0x00};

// The download scrambling key shared with the programmer firmware. The masks of a download
// request are (parameter low byte ^ K0) | 0x80 for even body offsets and
// (parameter high byte ^ K1) | 0x80 for odd ones.
inline constexpr std::uint8_t kScrambleK0 = 0x6B;
inline constexpr std::uint8_t kScrambleK1 = 0x2D;

// Magic of the settings block carried by the download request.
inline constexpr std::array<std::uint8_t, 4> kSettingsBlockMagic = {'K', 'V', 'S', 'B'};

// Stand-alone progress reports: stage codes (byte 1) and the result codes of stage 0xF0.
inline constexpr std::uint8_t kStageStart = 0x10;
inline constexpr std::uint8_t kStageBlankCheck = 0x20;
inline constexpr std::uint8_t kStageErase = 0x30;
inline constexpr std::uint8_t kStageProgram = 0x40;
inline constexpr std::uint8_t kStageEepProgram = 0x50;
inline constexpr std::uint8_t kStageVerify = 0x70;
inline constexpr std::uint8_t kStageEepVerify = 0x80;
inline constexpr std::uint8_t kStageOptionBytes = 0xA0;
inline constexpr std::uint8_t kStageCompleted = 0xF0;
inline constexpr std::uint8_t kResultPartOk = 0x06;
inline constexpr std::uint8_t kResultNotReadProtected = 0x1E;

}  // namespace korvan::protocol
