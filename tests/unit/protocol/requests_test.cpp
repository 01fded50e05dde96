#include "core/protocol/requests.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/protocol/codec.h"

namespace korvan {
namespace {

using protocol::kPacketBufferSize;
using Bytes = std::vector<std::uint8_t>;

// Inputs whose bytes show where they land: header byte i is i, image byte i is i mod 251
// (so 4 KiB blocks differ), option byte i is 0x80 + i, OTP byte i is i mod 256.
struct Inputs {
  Inputs() {
    chip.chipGroup = 0x1A;
    chip.familyCode = 0x30;
    chip.partIndex = 0x07;
    for (std::size_t i = 0; i < header.size(); ++i) header[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < options.size(); ++i)
      options[i] = static_cast<std::uint8_t>(0x80 + i);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 251);
    for (std::size_t i = 0; i < otp.size(); ++i) otp[i] = static_cast<std::uint8_t>(i);
  }
  ChipRecord chip;
  std::array<std::uint8_t, protocol::kSettingsHeaderSize> header{};
  std::array<std::uint8_t, protocol::kSettingsBlockSize> block{};
  std::array<std::uint8_t, protocol::kOptionImageBytes> options{};
  Bytes image = Bytes(6 * 1024);  // a 6 KiB part: the second 4 KiB block runs past its end
  Bytes otp = Bytes(600);
};

Bytes Range(std::size_t from, std::size_t count, std::uint8_t (*f)(std::size_t)) {
  Bytes out;
  for (std::size_t i = from; i < from + count; ++i) out.push_back(f(i));
  return out;
}
std::uint8_t Ramp(std::size_t i) {
  return static_cast<std::uint8_t>(i);
}
std::uint8_t Image(std::size_t i) {
  return static_cast<std::uint8_t>(i % 251);
}

struct Case {
  std::string name;
  std::function<std::size_t(std::span<std::uint8_t>, const Inputs&)> build;
  std::size_t length;
  // Expected bytes at packet offsets.
  std::vector<std::pair<std::size_t, Bytes>> pieces;
};

TEST(Requests, LayoutsByteForByte) {
  using namespace protocol;
  const std::vector<Case> cases = {
      {"identity frame, sent as it stands",
       [](auto out, const Inputs&) { return IdentityRequest::Build(out); },
       10,
       {{0, {0xC0, 0xA3, 0xA5, 0x35, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}}},
      {"restart, no chip identity",
       [](auto out, const Inputs&) { return RestartRequest::Build(out); },
       12,
       {{0, {0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02}}}},
      {"erase: chip command, sub-command 3",
       [](auto out, const Inputs& in) {
         return EraseRequest{in.chip, in.header}.Build(out);
       },
       74,
       {{0, {0x93, 0x03, 0x00, 0x1A, 0x30, 0x07, 0x40, 0x00}}, {8, Range(0, 64, Ramp)}}},
      {"verify/read of block 0x104 while the data phase flag is 1",
       [](auto out, const Inputs& in) {
         return ReadBackRequest{in.chip, in.header, true, 0x104}.Build(out);
       },
       74,
       {{0, {0x9D, 0x04, 0x01, 0x1A, 0x30, 0x07, 0x40, 0x00}}}},
      {"read address 0x08001234, 0x0100 bytes, in place of the checksum words",
       [](auto out, const Inputs& in) {
         return ReadAddressRequest{in.chip, in.header, 0x08001234, 0x0100}.Build(out);
       },
       74,
       {{0, {0x93, 0x79, 0x00, 0x1A, 0x30, 0x07, 0x40, 0x00}},
        {8, Range(0, 48, Ramp)},
        {8 + 48, {0x34, 0x12, 0x00, 0x08, 0x00, 0x01, 54, 55}},
        {8 + 62, {62, 63}}}},
      {"write option bytes: header then all 128 image bytes",
       [](auto out, const Inputs& in) {
         return WriteOptionBytesRequest{in.chip, in.header, in.options}.Build(out);
       },
       202,
       {{0, {0x93, 0x35, 0x00, 0x1A, 0x30, 0x07, 0xC0, 0x00}},
        {8 + 62, {62, 63, 0x80, 0x81}},
        {8 + 64 + 126, {0xFE, 0xFF}}}},
      {"write OTP: first 528 bytes, unscrambled",
       [](auto out, const Inputs& in) {
         return WriteOtpRequest{in.chip, in.header, in.otp}.Build(out);
       },
       602,
       {{0, {0x99, 0x00, 0x50, 0x1A, 0x30, 0x07, 0x50, 0x02}},
        {8 + 64, {0x00, 0x01, 0x02}},
        {8 + 64 + 526, {0x0E, 0x0F}}}},
      {"program, first of many blocks",
       [](auto out, const Inputs& in) {
         return ProgramRequest{in.chip, in.header, in.image, 0, 128}.Build(out);
       },
       4170,
       {{0, {0x95, 0x00, 0x00, 0x1A, 0x30, 0x07, 0x40, 0x10}},
        {8 + 62, {62, 63, 0, 1, 2}},
        {8 + 64 + 4095, {Image(4095)}}}},
      {"program, last of 128 blocks: parameter 7C 80",
       [](auto out, const Inputs& in) {
         return ProgramRequest{in.chip, in.header, in.image, 124, 128}.Build(out);
       },
       4170,
       {{0, {0x95, 0x7C, 0x80, 0x1A, 0x30, 0x07, 0x40, 0x10}}}},
      {"program block 4 of 6: flagged last, 0xFF past the image",
       [](auto out, const Inputs& in) {
         return ProgramRequest{in.chip, in.header, in.image, 4, 6}.Build(out);
       },
       4170,
       {{0, {0x95, 0x04, 0x80}},
        {8 + 64, Range(4096, 4, Image)},
        {8 + 64 + 2046, {Image(6142), Image(6143), 0xFF}},
        {8 + 64 + 4095, {0xFF}}}},
      {"download image block 4: no settings header",
       [](auto out, const Inputs& in) {
         return DownloadImageRequest{in.chip, in.image, 4}.Build(out);
       },
       4106,
       {{0, {0x55, 0x04, 0x00, 0x1A, 0x30, 0x07, 0x00, 0x10}},
        {8, Range(4096, 8, Image)},
        {8 + 2048, {0xFF}}}},
      {"download settings: masks 6B|80 on even, 2D|80 on odd body offsets",
       [](auto out, const Inputs& in) {
         return DownloadSettingsRequest{in.chip, in.block, {}}.Build(out);
       },
       1034,
       {{0, {0x53, 0x00, 0x00, 0x1A, 0x30, 0x07, 0x00, 0x04}},
        {8, {0xEB, 0xAC, 0xE9, 0xAE}},
        {8 + 0x1FE, {0xFE ^ 0xEB, 0xFF ^ 0xAD, 0x00 ^ 0xEB, 0x01 ^ 0xAD}}}},
      {"download settings with OTP data",
       [](auto out, const Inputs& in) {
         return DownloadSettingsRequest{in.chip, in.block, in.otp}.Build(out);
       },
       1562,
       {{0, {0x53, 0x00, 0x00, 0x1A, 0x30, 0x07, 0x10, 0x06}},
        {8 + 0x400, {0x00 ^ 0xEB, 0x01 ^ 0xAD}},
        {8 + 0x60E, {0x0E ^ 0xEB, 0x0F ^ 0xAD}}}},
  };

  const Inputs in;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::array<std::uint8_t, kPacketBufferSize> packet{};
    const std::size_t n = c.build(packet, in);
    ASSERT_EQ(n, c.length);
    for (const auto& [offset, bytes] : c.pieces) {
      const Bytes got(packet.begin() + static_cast<std::ptrdiff_t>(offset),
                      packet.begin() + static_cast<std::ptrdiff_t>(offset + bytes.size()));
      EXPECT_EQ(got, bytes) << "at packet offset " << offset;
    }
    if (packet[0] == 0xC0) continue;  // the identity frame has no header or CRC
    EXPECT_EQ(packet[6] | packet[7] << 8, n - 10) << "body length";
    const std::uint16_t crc = PacketCrc(std::span<const std::uint8_t>(packet.data(), n - 2));
    EXPECT_EQ(packet[n - 2] | packet[n - 1] << 8, crc) << "CRC over the scrambled bytes";
  }
}

TEST(Requests, DownloadSettingsUnscramblesToTheBlockTwice) {
  const Inputs in;
  std::array<std::uint8_t, kPacketBufferSize> packet{};
  ASSERT_EQ((protocol::DownloadSettingsRequest{in.chip, in.block, {}}.Build(packet)), 1034u);
  for (std::size_t i = 0; i < 0x400; ++i) {
    const std::uint8_t mask =
        (i % 2 == 0) ? (protocol::kScrambleK0 | 0x80) : (protocol::kScrambleK1 | 0x80);
    ASSERT_EQ(packet[8 + i] ^ mask, in.block[i % 0x200]) << "body offset " << i;
  }
}

TEST(Requests, OnlyTheLastProgramRequestIsFlagged) {
  const Inputs in;
  std::array<std::uint8_t, kPacketBufferSize> packet{};
  for (std::uint16_t blockCount : {128, 6}) {
    std::vector<std::uint16_t> flagged;
    int requests = 0;
    for (std::uint16_t index = 0; index < blockCount; index += 4, ++requests) {
      ASSERT_EQ(
          (protocol::ProgramRequest{in.chip, in.header, in.image, index, blockCount}.Build(packet)),
          4170u);
      if (packet[2] & 0x80) flagged.push_back(index);
    }
    EXPECT_EQ(requests, (blockCount + 3) / 4);
    EXPECT_EQ(flagged,
              std::vector<std::uint16_t>{static_cast<std::uint16_t>((blockCount - 1) / 4 * 4)});
  }
}

TEST(Requests, FirmwareBlockCarriesAddressIndexCountAndTheEncipheredFirmware) {
  // Firmware of 2.5 blocks from address unit 0x2000; the third block runs past its end.
  Bytes firmware(5 * 1024);
  for (std::size_t i = 0; i < firmware.size(); ++i)
    firmware[i] = static_cast<std::uint8_t>(i % 253);
  std::array<std::uint8_t, kPacketBufferSize> packet{};
  // A cipher that marks each data byte with the block index shows it ran over the data alone.
  const protocol::BlockCipher mark = [](std::span<std::uint8_t> data, std::uint8_t index) {
    ASSERT_EQ(data.size(), 2048u);
    for (auto& b : data) b = static_cast<std::uint8_t>(b ^ index);
  };
  ASSERT_EQ((protocol::FirmwareBlockRequest{0x2800, 0x2000, 3, firmware, mark}.Build(packet)),
            2058u);
  EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 8),
            (Bytes{0xB7, 0x00, 0x28, 0x02, 0x03, 0x0F, 0x00, 0x08}));
  for (std::size_t i = 0; i < 2048; ++i) {
    const std::size_t at = 4096 + i;
    ASSERT_EQ(packet[8 + i], (at < firmware.size() ? firmware[at] : 0xFF) ^ 0x02) << i;
  }
  EXPECT_EQ(protocol::PacketCrc(std::span(packet).first(2056)), packet[2056] | packet[2057] << 8);
  EXPECT_EQ((protocol::FirmwareBlockRequest{0x2000, 0x2000, 3, firmware, mark}.Build(
                std::span(packet).first(2057))),
            0u);
}

TEST(Requests, RefusesShortBuffersAndShortOtpData) {
  const Inputs in;
  std::array<std::uint8_t, kPacketBufferSize> packet{};
  const Bytes shortOtp(527);
  EXPECT_EQ((protocol::WriteOtpRequest{in.chip, in.header, shortOtp}.Build(packet)), 0u);
  EXPECT_EQ((protocol::DownloadSettingsRequest{in.chip, in.block, shortOtp}.Build(packet)), 0u);
  std::span<std::uint8_t> small(packet.data(), 4169);
  EXPECT_EQ((protocol::ProgramRequest{in.chip, in.header, in.image, 0, 128}.Build(small)), 0u);
  EXPECT_EQ(protocol::RestartRequest::Build(small.first(11)), 0u);
  EXPECT_EQ((protocol::BlankCheckRequest{in.chip, in.header}.Build(small.first(73))), 0u);
}

}  // namespace
}  // namespace korvan
