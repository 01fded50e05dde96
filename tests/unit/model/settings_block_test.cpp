
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "core/model/settings_block.h"
#include "core/protocol/codec.h"

namespace korvan {
namespace {

struct Job {
  Job() {
    chip.chipName = "N32G452CBL7-EXTRA-LONG";  // 22 characters: 16 travel
    chip.familyCode = 0x30;
    chip.partIndex = 7;
    chip.flashSizeKB = 256;
    chip.blockCount = 256;
    chip.otpSize = 0x200;
    chip.eepStart = 0x08081234;
    chip.flashStart = 0x08000000;
    chip.optionByteLength = 20;
    job.autoDetect = 15;
    job.linkCtrl = 0x7C;
    job.targetCtrl = 0x90;
    job.powerCtrl = 0x85;
    job.eraseCtrl = 0x20;
    job.checkCtrl = 0x01;
    job.familyCtrl = 0x04;
    job.powerOnTime = 11;
    job.powerOffTime = 12;
    job.insertSettle = 0x0113;
    job.removeSettle = 0x0114;
    job.fileCrc = 0xA1A2;
    job.fileSum = 0xB1B2;
    job.otpCrc = 0xC1C2;
    job.otpSum = 0xD1D2;
    job.optionSumInv = 0xF20D;
    job.optionSum = 0x0DF2;
    job.runTime = 0x0150;
    job.snEnable = 15;
    job.snGain = 3;
    job.snAddress = 0x0800FFF0;
    job.snStart = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    job.countEnable = 15;
    job.countLimit = 1000;
    for (std::size_t i = 0; i < optionBytes.size(); ++i)
      optionBytes[i] = static_cast<std::uint8_t>(i);
  }
  ChipRecord chip;
  JobSettings job;
  OptionByteImage optionBytes{};
};

protocol::RandomByte Fixed(std::uint8_t value) {
  return [value] { return value; };
}

TEST(SettingsBlock, LayoutPinnedByHand) {
  Job j;
  std::array<std::uint8_t, 512> b{};
  protocol::BuildSettingsBlock(b, j.chip, j.job, j.optionBytes, 1, Fixed(0x77));
  const std::vector<std::uint8_t> head(b.begin(), b.begin() + 0x44);
  const std::vector<std::uint8_t> expected = {
      'K', 'V', 'S', 'B',
      // settings header
      0x00, 0x00, 0x00, 26, 0x30, 7, 0x77, 15, 0, 0, 0x77, 0x77, 0, 0, 0, 0,  //
      0x00, 0x00, 0x04, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x04, 0x00, 0x02, 0x00, 0x01, 0x34,
      0x12,  //
      0x7C, 0x90, 0x85, 0x20, 0x01, 0x04, 0x00, 0x00, 0x00, 0x08, 11, 12, 0x13, 0x01, 0x14,
      0x01,  //
      0xA2, 0xA1, 0xB2, 0xB1, 0xC2, 0xC1, 0xD2, 0xD1, 0x0D, 0xF2, 0xF2, 0x0D, 20, 0x00, 0x50, 0x01};
  EXPECT_EQ(head, expected);
  const std::vector<std::uint8_t> serial(b.begin() + 0x44, b.begin() + 0x5A);
  EXPECT_EQ(serial,
            (std::vector<std::uint8_t>{15,   4, 3, 0, 0xF0, 0xFF, 0x00, 0x08, 0x11, 0x11, 0x11,
                                       0x11, 0, 0, 0, 0,    15,   0,    0xE8, 0x03, 0,    0}));
  EXPECT_EQ(b[0x70], 0);
  EXPECT_EQ(b[0x70 + 127], 127);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[0xF0]), 16), "N32G452CBL7-EXTR");
  EXPECT_EQ(b[0x100], '?');  // no object file loaded
  EXPECT_EQ(b[0x101], 0);
  EXPECT_EQ(b[0x130], 0x77);
  EXPECT_EQ(b[0x1FB], 0x77);
  const std::uint16_t crc = protocol::PacketCrc(b, 0, 0x1FB);
  EXPECT_EQ(b[0x1FC] | b[0x1FD] << 8, crc);
  std::uint16_t sum = 0;
  for (int i = 0; i < 0x1FE; ++i) sum = static_cast<std::uint16_t>(sum + b[i]);
  EXPECT_EQ(b[0x1FE] | b[0x1FF] << 8, sum);

  // Channel 3 carries its own start value and no flash start.
  protocol::BuildSettingsBlock(b, j.chip, j.job, j.optionBytes, 3, Fixed(0x77));
  EXPECT_EQ(b[0x04C], 0x33);
  EXPECT_EQ(b[4 + 38], 0);
  EXPECT_EQ(b[4 + 41], 0);
}

TEST(SettingsBlock, UnpackGivesBackWhatWasBuilt) {
  Job j;
  j.job.loadedFileName = "固件.hex";
  std::array<std::uint8_t, 512> b{};
  protocol::BuildSettingsBlock(b, j.chip, j.job, j.optionBytes, 1, Fixed(1));
  ChipRecord chip;
  JobSettings job;
  OptionByteImage optionBytes{};
  protocol::UnpackSettingsBlock(b, chip, job, optionBytes);
  EXPECT_EQ(chip.familyCode, 0x30);
  EXPECT_EQ(chip.partIndex, 7);
  EXPECT_EQ(chip.flashSizeKB, 256);
  EXPECT_EQ(chip.blockCount, 256);
  EXPECT_EQ(chip.otpSize, 0x200);
  EXPECT_EQ(chip.eepStart, 0x1234u);  // only the low 16 bits travel
  EXPECT_EQ(chip.flashStart, 0x08000000u);
  EXPECT_EQ(chip.optionByteLength, 20);
  EXPECT_EQ(job.targetCtrl, 0x90);
  EXPECT_EQ(job.powerCtrl, 0x85);
  EXPECT_EQ(job.familyCtrl, 0x04);
  EXPECT_EQ(job.insertSettle, 0x0113);
  EXPECT_EQ(job.runTime, 0x0150);
  EXPECT_EQ(job.fileCrc, 0xA1A2);
  EXPECT_EQ(job.optionSum, 0x0DF2);
  EXPECT_EQ(job.snGain, 3);
  EXPECT_EQ(job.snAddress, 0x0800FFF0u);
  EXPECT_EQ(job.snStart[0], 0x11111111u);
  EXPECT_EQ(job.countLimit, 1000u);
  EXPECT_EQ(optionBytes, j.optionBytes);
}

}  // namespace
}  // namespace korvan
