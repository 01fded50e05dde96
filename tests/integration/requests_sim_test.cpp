// The station's request builders against the emulated programmer, which reads every layout on
// its own: a download built here must arrive there as the same job.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/model/settings_block.h"
#include "core/protocol/codec.h"
#include "core/protocol/requests.h"
#include "lib/programmer.h"

namespace korvan::sim {
namespace {

namespace p = korvan::protocol;

// Sends one packet to `programmer` and returns its decoded reply (empty: none).
std::vector<std::uint8_t> Reply(Programmer& programmer, std::span<const std::uint8_t> packet) {
  std::array<std::uint8_t, p::kFrameBufferSize> frame{};
  const std::size_t n = p::EncodePacket(packet, frame);
  const TimePoint now = Clock::now();
  programmer.OnRead(std::span<const std::uint8_t>(frame.data(), n), now);
  programmer.Advance(now);
  const TimePoint later = now + std::chrono::seconds(10);
  const auto out = programmer.WriteNow(later);
  std::vector<std::uint8_t> bytes(out.begin(), out.end());
  programmer.Written(out.size());
  std::array<std::uint8_t, p::kPacketBufferSize> reply{};
  const p::DecodeResult r = p::DecodeFrame(bytes, reply);
  if (r.code != p::kStatusOk) return {};
  return std::vector<std::uint8_t>(reply.begin(), reply.begin() + r.length);
}

// The status of the reply to one packet (-1: no reply).
int Exchange(Programmer& programmer, std::span<const std::uint8_t> packet) {
  const std::vector<std::uint8_t> reply = Reply(programmer, packet);
  if (reply.empty()) return -1;
  return p::CheckReply(reply);
}

TEST(RequestsAgainstSim, DownloadArrivesAsTheSameJob) {
  ChipRecord chip;
  chip.chipName = "N32G452CBL7";
  chip.familyCode = 0x30;
  chip.flashSizeKB = 8;
  chip.blockCount = 8;
  JobSettings job;
  job.snStart[1] = 0x12345678;
  OptionByteImage options;
  std::uint8_t next = 0;
  const p::RandomByte random = [&] { return static_cast<std::uint8_t>(next++ % 255); };
  std::array<std::uint8_t, p::kSettingsBlockSize> block{};
  p::BuildSettingsBlock(block, chip, job, options, 2, random);
  std::vector<std::uint8_t> otp(528);
  for (std::size_t i = 0; i < otp.size(); ++i) otp[i] = static_cast<std::uint8_t>(i * 7);
  std::vector<std::uint8_t> image(8 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i / 3);

  const Options simOptions;  // the programmer keeps a reference
  Programmer programmer(2, simOptions);
  std::array<std::uint8_t, p::kPacketBufferSize> packet{};
  std::size_t n = p::DownloadSettingsRequest{chip, block, otp}.Build(packet);
  ASSERT_EQ(Exchange(programmer, std::span(packet.data(), n)), p::kStatusOk);
  for (std::uint16_t index = 0; index < 8; index += 4) {
    n = p::DownloadImageRequest{chip, image, index}.Build(packet);
    ASSERT_EQ(Exchange(programmer, std::span(packet.data(), n)), p::kStatusOk);
  }

  const StoredJob stored = programmer.Snapshot().job;
  EXPECT_TRUE(stored.present);
  EXPECT_EQ(stored.chipName, "N32G452CBL7");
  EXPECT_EQ(stored.snStart, 0x12345678u);
  EXPECT_EQ(stored.otp, otp);
  ASSERT_GE(stored.image.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), stored.image.begin()));
  EXPECT_TRUE(std::equal(stored.header.begin(), stored.header.end(), block.begin() + 4));

  n = p::RestartRequest::Build(packet);
  EXPECT_EQ(Exchange(programmer, std::span(packet.data(), n)), p::kStatusOk);
}

TEST(RequestsAgainstSim, HeaderRequestsProgramAndReadThePart) {
  ChipRecord chip;
  chip.flashSizeKB = 8;
  chip.blockCount = 8;
  JobSettings job;
  std::uint8_t next = 0;
  const p::RandomByte random = [&] { return static_cast<std::uint8_t>(next++ % 255); };
  std::array<std::uint8_t, p::kSettingsHeaderSize> header{};
  p::BuildSettingsHeader(header, chip, job, 1, random);
  std::vector<std::uint8_t> image(8 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i % 13);

  const Options simOptions;
  Programmer programmer(1, simOptions);
  std::array<std::uint8_t, p::kPacketBufferSize> packet{};
  std::size_t n = p::EraseRequest{chip, header}.Build(packet);
  ASSERT_EQ(Exchange(programmer, std::span(packet.data(), n)), p::kStatusOk);
  for (std::uint16_t index = 0; index < 8; index += 4) {
    n = p::ProgramRequest{chip, header, image, index, 8}.Build(packet);
    ASSERT_EQ(Exchange(programmer, std::span(packet.data(), n)), p::kStatusOk) << index;
  }
  n = p::ReadBackRequest{chip, header, false, 4}.Build(packet);
  std::vector<std::uint8_t> reply = Reply(programmer, std::span(packet.data(), n));
  ASSERT_GE(reply.size(), 8u + 4096);
  EXPECT_TRUE(std::equal(image.begin() + 4096, image.end(), reply.begin() + 8));

  n = p::ReadAddressRequest{chip, header, chip.flashStart + 0x1001, 5}.Build(packet);
  reply = Reply(programmer, std::span(packet.data(), n));
  ASSERT_GE(reply.size(), 8u + 5);
  EXPECT_EQ(std::vector<std::uint8_t>(reply.begin() + 8, reply.begin() + 13),
            std::vector<std::uint8_t>(image.begin() + 0x1001, image.begin() + 0x1006));
}

}  // namespace
}  // namespace korvan::sim
