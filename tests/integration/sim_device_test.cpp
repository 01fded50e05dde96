// The emulated programmer answers hand-built requests as a Korvan200NAT does.
#include <gtest/gtest.h>

#include "lib/emulator.h"
#include "sim_port.h"

namespace korvan::sim {
namespace {

using namespace korvan::sim::testing;
namespace p = korvan::protocol;

struct Running {
  explicit Running(Options options) : emulator(std::move(options)) {
    std::string error;
    started = emulator.Start(&error);
    EXPECT_TRUE(started) << error;
  }
  Emulator emulator;
  bool started = false;
};

Bytes Block(std::uint8_t value) {
  return Bytes(4096, value);
}

Bytes ProgramRequest(std::uint16_t index, const Bytes& data, const HeaderFields& f = {}) {
  Bytes body = SettingsHeader(f);
  body.insert(body.end(), data.begin(), data.end());
  return Request(p::kCmdProgram, index, body);
}

Bytes ReadBackRequest(std::uint16_t index, const HeaderFields& f = {}) {
  return Request(p::kCmdReadBack, index, SettingsHeader(f));
}

TEST(SimDevice, EveryPortAnswersTheIdentityRequest) {
  Running sim(Options{});
  ASSERT_EQ(sim.emulator.Paths().size(), 4u);
  for (const auto& path : sim.emulator.Paths()) {
    SimPort port(path);
    ASSERT_TRUE(port.IsOpen()) << path;
    const Bytes reply = port.Identity();
    ASSERT_GE(reply.size(), 23u) << path;
    EXPECT_EQ(reply[0], 0xA3);
    EXPECT_EQ(reply[1], 0xA5);
    EXPECT_EQ(reply[2], 0x35);
    EXPECT_NE(reply[3], 0);
    EXPECT_EQ(SimPort::IdentityText(reply), "Korvan200NAT V2.9");
  }
}

TEST(SimDevice, ModelAndVersionFollowTheOptions) {
  Options options;
  options.count = 1;
  options.model = "MMN";
  options.version = "2.1";
  Running sim(options);
  SimPort port(sim.emulator.Paths()[0]);
  EXPECT_EQ(SimPort::IdentityText(port.Identity()), "Korvan200MMN V2.1");
}

TEST(SimDevice, MalformedRequestsGetTheirStatus) {
  Options options;
  options.count = 1;
  Running sim(options);
  SimPort port(sim.emulator.Paths()[0]);

  Bytes wrongCrc = ChipCommand(p::kSubBlankCheck);
  wrongCrc.back() ^= 0x01;
  Bytes shortBody = Request(p::kCmdChip, p::kSubBlankCheck, Bytes(63, 0));
  Bytes wrongLength = ChipCommand(p::kSubBlankCheck);
  wrongLength[6] = 0x41;  // announces one byte more than it carries
  wrongLength.resize(wrongLength.size() - 2);
  const std::uint16_t crc = p::PacketCrc(wrongLength);
  wrongLength.push_back(static_cast<std::uint8_t>(crc));
  wrongLength.push_back(static_cast<std::uint8_t>(crc >> 8));
  HeaderFields sizes;
  sizes.flashKb = 64;
  Bytes sizeMismatch = ChipCommand(p::kSubBlankCheck, sizes);
  sizeMismatch[8 + 18] = 0x02;  // size in bytes 128 KiB, size in KiB 64
  sizeMismatch.resize(sizeMismatch.size() - 2);
  const std::uint16_t crc2 = p::PacketCrc(sizeMismatch);
  sizeMismatch.push_back(static_cast<std::uint8_t>(crc2));
  sizeMismatch.push_back(static_cast<std::uint8_t>(crc2 >> 8));

  const struct {
    const char* name;
    Bytes request;
    std::uint8_t status;
  } rows[] = {
      {"wrong CRC", wrongCrc, p::kStatusCrcMismatch},
      {"settings header too short", shortBody, p::kStatusBadPacket},
      {"body length not what was sent", wrongLength, p::kStatusBadPacket},
      {"flash size fields disagree", sizeMismatch, p::kStatusFlashSizeMismatch},
      {"unknown command", Request(0x77, 0, {}), p::kStatusUnknownCommand},
      {"unknown sub-command", ChipCommand(0x42), p::kStatusUnknownCommand},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Status(port.Exchange(row.request)), row.status) << row.name;
  }
  // A frame that is not a packet at all: DB followed by 41.
  port.WriteRaw({0xC0, 0x93, 0xDB, 0x41, 0x00, 0x1A, 0x10, 0x03, 0x40, 0x00, 0xC0});
  const auto frames = port.ReadFrames(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(Status(SimPort::Decode(frames[0])), p::kStatusBadPacket);
}

TEST(SimDevice, DownloadChecksTheSettingsBlockAndStoresTheJob) {
  Options options;
  options.count = 2;
  Running sim(options);
  SimPort port(sim.emulator.Paths()[1]);

  JobFields job;
  job.header.flashKb = 8;
  job.snEnable = 15;
  job.snAddress = 0x08001FF0;
  job.snStart = 0x40000000;
  job.snGain = 3;
  job.countEnable = 15;
  job.countLimit = 500;
  job.chipName = "N32G452CBL7";
  Bytes block = SettingsBlock(job);

  Bytes badCrc = block;
  badCrc[0x1FC] ^= 0x01;
  Bytes badSum = block;
  badSum[0x1FE] ^= 0x01;
  Bytes badMagic = block;
  badMagic[0] = 'X';
  EXPECT_EQ(Status(port.Exchange(DownloadSettings(badCrc))), p::kStatusChecksumWrong);
  EXPECT_EQ(Status(port.Exchange(DownloadSettings(badSum))), p::kStatusChecksumWrong);
  EXPECT_EQ(Status(port.Exchange(DownloadSettings(badMagic))), p::kStatusCommandFailed);
  EXPECT_FALSE(sim.emulator.Snapshot(2).job.present);

  EXPECT_EQ(Status(port.Exchange(DownloadSettings(block))), p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(Request(p::kCmdDownloadImage, 0, Block(0x12)))), p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(Request(p::kCmdDownloadImage, 4, Block(0x34)))), p::kStatusOk);
  const Bytes restart = {0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02};
  EXPECT_EQ(Status(port.Exchange(restart)), p::kStatusOk);

  const ChannelSnapshot s = sim.emulator.Snapshot(2);
  ASSERT_TRUE(s.job.present);
  EXPECT_EQ(s.job.FlashSizeKb(), 8u);
  EXPECT_EQ(s.job.snEnable, 15);
  EXPECT_EQ(s.job.snAddress, 0x08001FF0u);
  EXPECT_EQ(s.job.snStart, 0x40000000u);
  EXPECT_EQ(s.job.snGain, 3);
  EXPECT_EQ(s.job.countEnable, 15);
  EXPECT_EQ(s.job.countLimit, 500u);
  EXPECT_EQ(s.job.chipName, "N32G452CBL7");
  EXPECT_EQ(s.job.fileName, "app.hex");
  EXPECT_EQ(s.job.imageBlocks, 2u);
  ASSERT_EQ(s.job.image.size(), 8192u);
  EXPECT_EQ(s.job.image[0], 0x12);
  EXPECT_EQ(s.job.image[8191], 0x34);
  EXPECT_TRUE(s.job.otp.empty());
}

TEST(SimDevice, DownloadWithOtpDataKeepsIt) {
  Options options;
  options.count = 1;
  Running sim(options);
  SimPort port(sim.emulator.Paths()[0]);
  Bytes block = SettingsBlock(JobFields{});
  Bytes body = block;
  body.insert(body.end(), block.begin(), block.end());
  for (int i = 0; i < 528; ++i) body.push_back(static_cast<std::uint8_t>(i));
  const std::uint8_t m[2] = {p::kScrambleK0 | 0x80, p::kScrambleK1 | 0x80};
  for (std::size_t i = 0; i < body.size(); ++i) body[i] ^= m[i % 2];
  EXPECT_EQ(Status(port.Exchange(Request(p::kCmdDownloadSettings, 0, body))), p::kStatusOk);
  const auto job = sim.emulator.Snapshot(1).job;
  ASSERT_EQ(job.otp.size(), 528u);
  EXPECT_EQ(job.otp[0], 0);
  EXPECT_EQ(job.otp[527], 527 & 0xFF);
}

TEST(SimDevice, FlashBehavesLikeFlash) {
  Options options;
  options.count = 1;
  Running sim(options);
  SimPort port(sim.emulator.Paths()[0]);
  HeaderFields f;
  f.flashKb = 6;  // not a multiple of 4: the second block reaches past the end

  EXPECT_EQ(Status(port.Exchange(ChipCommand(p::kSubBlankCheck, f))), p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(ProgramRequest(0, Block(0xF0), f))), p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(ProgramRequest(4 | p::kProgramLastBlockFlag, Block(0x3C), f))),
            p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(ChipCommand(p::kSubBlankCheck, f))), p::kStatusNotBlank);
  // Clearing more bits works; setting a cleared bit again does not.
  EXPECT_EQ(Status(port.Exchange(ProgramRequest(0, Block(0x30), f))), p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(ProgramRequest(0, Block(0x31), f))), p::kStatusFlashError);
  EXPECT_EQ(Status(port.Exchange(ProgramRequest(8, Block(0x00), f))), p::kStatusAddressOutOfRange);

  const Bytes first = port.Exchange(ReadBackRequest(0, f));
  ASSERT_EQ(first.size(), 8u + 4096u + 2u);
  EXPECT_EQ(first[6], 0x00);
  EXPECT_EQ(first[7], 0x10);
  EXPECT_EQ(first[8], 0x30);
  EXPECT_EQ(p::CheckReply(first), 0);
  const Bytes second = port.Exchange(ReadBackRequest(4, f));
  ASSERT_EQ(second.size(), 8u + 4096u + 2u);
  EXPECT_EQ(second[8], 0x3C);
  EXPECT_EQ(second[8 + 2047], 0x3C);
  EXPECT_EQ(second[8 + 2048], 0xFF);  // beyond the 6 KiB part

  EXPECT_EQ(Status(port.Exchange(ChipCommand(p::kSubErase, f))), p::kStatusOk);
  EXPECT_EQ(Status(port.Exchange(ChipCommand(p::kSubBlankCheck, f))), p::kStatusOk);
  EXPECT_EQ(sim.emulator.Snapshot(1).target.flash.size(), 6u * 1024u);
}

TEST(SimDevice, ReadProtectionHoldsUntilAnErase) {
  Options options;
  options.count = 2;
  options.chipStates = {{ChipState::Protected, 1}};
  Running sim(options);
  SimPort protectedPort(sim.emulator.Paths()[0]);
  SimPort plainPort(sim.emulator.Paths()[1]);

  EXPECT_EQ(Status(protectedPort.Exchange(ChipCommand(p::kSubBlankCheck))),
            p::kStatusReadProtected);
  EXPECT_EQ(Status(protectedPort.Exchange(ReadBackRequest(0))), p::kStatusReadProtected);
  EXPECT_EQ(Status(protectedPort.Exchange(ProgramRequest(0, Block(0)))), p::kStatusReadProtected);
  EXPECT_EQ(Status(protectedPort.Exchange(ChipCommand(p::kSubErase))), p::kStatusOk);
  EXPECT_EQ(Status(protectedPort.Exchange(ChipCommand(p::kSubBlankCheck))), p::kStatusOk);

  // Writing level 1 protects the other part; option bytes stay readable.
  Bytes body = SettingsHeader();
  const Bytes level1 = OptionBytes(true);
  body.insert(body.end(), level1.begin(), level1.end());
  EXPECT_EQ(Status(plainPort.Exchange(ChipCommand(p::kSubBlankCheck))), p::kStatusOk);
  EXPECT_EQ(Status(plainPort.Exchange(Request(p::kCmdChip, p::kSubWriteOptionBytes, body))),
            p::kStatusOk);
  EXPECT_EQ(Status(plainPort.Exchange(ReadBackRequest(0))), p::kStatusReadProtected);
  const Bytes ob = plainPort.Exchange(ChipCommand(p::kSubReadOptionBytes));
  ASSERT_EQ(ob.size(), 8u + 128u + 2u);
  EXPECT_EQ(ob[8], 0x00);
  EXPECT_EQ(ob[9], 0xFF);
  EXPECT_EQ(ob[10], 0xFF);
  EXPECT_EQ(Status(plainPort.Exchange(ChipCommand(p::kSubErase))), p::kStatusOk);
  EXPECT_EQ(plainPort.Exchange(ReadBackRequest(0)).size(), 8u + 4096u + 2u);

  // A value without its complement is refused.
  Bytes broken = SettingsHeader();
  Bytes image = OptionBytes();
  image[3] = 0x12;
  broken.insert(broken.end(), image.begin(), image.end());
  EXPECT_EQ(Status(plainPort.Exchange(Request(p::kCmdChip, p::kSubWriteOptionBytes, broken))),
            p::kStatusOptionByteWriteError);
}

TEST(SimDevice, ChipIdAddressAndOtp) {
  Options options;
  options.count = 2;
  options.chipStates = {{ChipState::Programmed, 0}};
  Running sim(options);
  SimPort one(sim.emulator.Paths()[0]);
  SimPort two(sim.emulator.Paths()[1]);

  const Bytes id1 = one.Exchange(ChipCommand(p::kSubReadChipId));
  const Bytes id2 = two.Exchange(ChipCommand(p::kSubReadChipId));
  ASSERT_EQ(id1.size(), 8u + 12u + 2u);
  ASSERT_EQ(id2.size(), 8u + 12u + 2u);
  EXPECT_NE(Bytes(id1.begin() + 8, id1.begin() + 20), Bytes(id2.begin() + 8, id2.begin() + 20));

  // Read specific address: address at header offsets 48..51, size at 52..53.
  Bytes header = SettingsHeader();
  PutLe32(header, 48, 0x08000010);
  PutLe16(header, 52, 32);
  const Bytes memory = one.Exchange(Request(p::kCmdChip, p::kSubReadAddress, header));
  ASSERT_EQ(memory.size(), 8u + 32u + 2u);
  const auto flash = sim.emulator.Snapshot(1).target.flash;
  EXPECT_EQ(Bytes(memory.begin() + 8, memory.begin() + 40),
            Bytes(flash.begin() + 16, flash.begin() + 48));
  PutLe32(header, 48, 0x1FFFF800);
  PutLe16(header, 52, 16);
  const Bytes ob = one.Exchange(Request(p::kCmdChip, p::kSubReadAddress, header));
  ASSERT_EQ(ob.size(), 8u + 16u + 2u);
  EXPECT_EQ(ob[8], 0xA5);
  PutLe32(header, 48, 0x20000000);
  EXPECT_EQ(Status(one.Exchange(Request(p::kCmdChip, p::kSubReadAddress, header))),
            p::kStatusAddressOutOfRange);

  // OTP: write 528 bytes, read them back; bits cannot come back.
  Bytes otp = SettingsHeader();
  for (int i = 0; i < 528; ++i) otp.push_back(static_cast<std::uint8_t>(0xF0 | (i & 0x0F)));
  EXPECT_EQ(Status(one.Exchange(Request(p::kCmdWriteOtp, p::kWriteOtpParameter, otp))),
            p::kStatusOk);
  const Bytes back = one.Exchange(Request(p::kCmdReadOtp, 0, SettingsHeader()));
  ASSERT_EQ(back.size(), 8u + 4096u + 2u);
  EXPECT_EQ(back[8 + 1], 0xF1);
  EXPECT_EQ(back[8 + 527], 0xFF & (0xF0 | (527 & 0x0F)));
  EXPECT_EQ(back[8 + 528], 0xFF);
  otp[64] = 0xFF;
  EXPECT_EQ(Status(one.Exchange(Request(p::kCmdWriteOtp, p::kWriteOtpParameter, otp))),
            p::kStatusOtpWriteError);
}

// Reports of one stand-alone part: 8 bytes adding up to 0.
struct Report {
  std::uint8_t stage, result;
  unsigned value, maximum;
};

std::vector<Report> Reports(const std::vector<Bytes>& frames) {
  std::vector<Report> out;
  for (const auto& frame : frames) {
    const Bytes r = SimPort::Decode(frame);
    if (r.size() != 8) continue;
    std::uint8_t sum = 0;
    for (const auto b : r) sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0);
    out.push_back({r[1], r[2], static_cast<unsigned>(r[3] | (r[4] << 8)),
                   static_cast<unsigned>(r[5] | (r[6] << 8))});
  }
  return out;
}

TEST(SimDevice, StandaloneCyclesReportCountAndWriteSerialNumbers) {
  Options options;
  options.count = 1;
  options.standaloneParts = 5;
  options.ngEvery = 2;
  Running sim(options);
  SimPort port(sim.emulator.Paths()[0]);

  JobFields job;
  job.header.flashKb = 8;
  job.header.linkCtrl = 0x7C | 0x20;  // big-endian serial numbers
  job.snEnable = 15;
  job.snAddress = 0x08001FF0;
  job.snStart = 0x11223344;
  job.snGain = 0x10;
  job.countEnable = 15;
  job.countLimit = 2;
  ASSERT_EQ(Status(port.Exchange(DownloadSettings(SettingsBlock(job)))), p::kStatusOk);
  ASSERT_EQ(Status(port.Exchange(Request(p::kCmdDownloadImage, 0, Block(0x5A)))), p::kStatusOk);
  ASSERT_EQ(Status(port.Exchange(Request(p::kCmdDownloadImage, 4, Block(0x5A)))), p::kStatusOk);

  // Part 1 good, part 2 NG (every 2nd), part 3 good: the limit of 2 stops the run.
  port.Send({0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02});
  // One more than expected, to see that nothing follows.
  const auto frames = port.ReadFrames(1 + 3 * 8 + 1, milliseconds(1500));
  ASSERT_GE(frames.size(), 1u);
  EXPECT_EQ(Status(SimPort::Decode(frames[0])), p::kStatusOk);
  const auto reports = Reports(std::vector<Bytes>(frames.begin() + 1, frames.end()));

  std::vector<Report> expected;
  for (const std::uint8_t result : {0x06, 0x2C, 0x06}) {
    expected.push_back({0x10, 0, 0, 0});
    expected.push_back({0x20, 0, 0, 0});
    for (unsigned v : {0u, 4u, 8u}) expected.push_back({0x40, 0, v, 8});
    expected.push_back({0x70, 0, 0, 0});
    expected.push_back({0xA0, 0, 0, 0});
    expected.push_back({0xF0, result, 0, 0});
  }
  ASSERT_EQ(reports.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(reports[i].stage, expected[i].stage) << i;
    EXPECT_EQ(reports[i].result, expected[i].result) << i;
    EXPECT_EQ(reports[i].value, expected[i].value) << i;
    EXPECT_EQ(reports[i].maximum, expected[i].maximum) << i;
  }

  const ChannelSnapshot s = sim.emulator.Snapshot(1);
  EXPECT_EQ(s.partsOk, 2u);
  EXPECT_EQ(s.partsNg, 1u);
  EXPECT_FALSE(s.standaloneRunning);
  // The third part carries the start value advanced once (the NG part does not advance it).
  const Bytes sn(s.target.flash.begin() + 0x1FF0, s.target.flash.begin() + 0x1FF4);
  EXPECT_EQ(sn, (Bytes{0x11, 0x22, 0x33, 0x54}));
  EXPECT_EQ(s.target.flash[0x1FEF], 0x5A);
  EXPECT_EQ(s.target.flash[0x1FF4], 0x5A);
  EXPECT_EQ(s.nextSerial, 0x11223364u);
}

}  // namespace
}  // namespace korvan::sim

namespace korvan::sim {
namespace {

// A part that arrives protected is erased first; without the option-byte flag there is no
// option-byte stage.
TEST(SimDevice, StandaloneErasesAProtectedPart) {
  Options options;
  options.count = 1;
  options.standaloneParts = 1;
  options.chipStates = {{ChipState::Protected, 0}};
  Running sim(options);
  SimPort port(sim.emulator.Paths()[0]);

  JobFields job;
  job.header.flashKb = 8;
  job.header.targetCtrl = 0x20;  // option bytes not programmed
  ASSERT_EQ(Status(port.Exchange(DownloadSettings(SettingsBlock(job)))), p::kStatusOk);
  ASSERT_EQ(Status(port.Exchange(Request(p::kCmdDownloadImage, 0, Block(0x77)))), p::kStatusOk);
  port.Send({0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02});
  const auto frames = port.ReadFrames(1 + 8 + 1, milliseconds(1000));
  ASSERT_GE(frames.size(), 1u);
  const auto reports = Reports(std::vector<Bytes>(frames.begin() + 1, frames.end()));
  std::vector<std::uint8_t> stages;
  for (const auto& r : reports) stages.push_back(r.stage);
  EXPECT_EQ(stages, (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 0x40, 0x40, 0x40, 0x70, 0xF0}));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().result, p::kResultPartOk);
  const ChannelSnapshot s = sim.emulator.Snapshot(1);
  EXPECT_FALSE(s.target.ReadProtected());
  EXPECT_EQ(s.target.flash[0], 0x77);
  EXPECT_EQ(s.target.flash[4096], 0xFF);  // no image block 4 was sent
}

}  // namespace
}  // namespace korvan::sim
