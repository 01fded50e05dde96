#include "core/protocol/settings_block.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace korvan::protocol {
namespace {

// Offsets written out by hand, so that a layout fault cannot pass by agreeing with itself.
TEST(SettingsBlock, FieldsSitAtTheirOffsets) {
  ChipRecord chip;
  chip.chipName = "N32G452CBL7";
  chip.familyCode = 0x10;
  chip.partIndex = 3;
  chip.flashSizeKB = 512;
  chip.blockCount = 512;
  chip.otpSize = 0x0210;
  chip.eepStart = 0x08081234;
  chip.flashStart = 0x08000000;
  chip.optionByteLength = 20;
  JobSettings job;
  job.linkCtrl = 0x60;
  job.targetCtrl = 0x21;
  job.powerCtrl = 0x86;
  job.eraseCtrl = 0x20;
  job.checkCtrl = 0x07;
  job.familyCtrl = 0x14;
  job.insertSettle = 0x0102;
  job.fileCrc = 0x02D0;
  job.fileSum = 0xF088;
  job.optionSum = 0x0DF2;
  job.optionSumInv = 0xF20D;
  job.runTime = 50;
  job.snEnable = 15;
  job.snGain = 0x0203;
  job.snAddress = 0x0000FFF0;
  job.snStart = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  job.countEnable = 15;
  job.countLimit = 1000;
  OptionByteImage ob{};
  ob.fill(0xFF);
  ob[0] = 0xA5;

  std::array<std::uint8_t, kSettingsBlockSize> block{};
  BuildSettingsBlock(block, chip, job, ob, 2, [] { return std::uint8_t{0x77}; });
  EXPECT_EQ(block[0], 'K');
  EXPECT_EQ(block[3], 'B');
  const std::uint8_t* h = block.data() + 4;
  EXPECT_EQ(h[3], 26);
  EXPECT_EQ(h[4], 0x10);
  EXPECT_EQ(h[5], 3);
  EXPECT_EQ(h[6], 0x77);
  EXPECT_EQ(h[7], 15);
  EXPECT_EQ(h[16], 0x00);
  EXPECT_EQ(h[17], 0x00);  // 512 * 4 = 0x0800
  EXPECT_EQ(h[18], 0x08);
  EXPECT_EQ(h[20], 0x00);
  EXPECT_EQ(h[21], 0x02);
  EXPECT_EQ(h[26], 0x10);
  EXPECT_EQ(h[27], 0x02);
  EXPECT_EQ(h[29], 0x01);
  EXPECT_EQ(h[30], 0x34);
  EXPECT_EQ(h[31], 0x12);
  EXPECT_EQ(h[32], 0x60);
  EXPECT_EQ(h[33], 0x21);
  EXPECT_EQ(h[34], 0x86);
  EXPECT_EQ(h[35], 0x20);
  EXPECT_EQ(h[36], 0x07);
  EXPECT_EQ(h[37], 0x14);
  EXPECT_EQ(h[41], 0x00);  // flash start only on channel 1
  EXPECT_EQ(h[44], 0x02);
  EXPECT_EQ(h[48], 0xD0);
  EXPECT_EQ(h[51], 0xF0);
  EXPECT_EQ(h[56], 0x0D);  // complement first
  EXPECT_EQ(h[58], 0xF2);
  EXPECT_EQ(h[60], 20);
  EXPECT_EQ(h[62], 50);
  EXPECT_EQ(block[0x44], 15);
  EXPECT_EQ(block[0x45], 4);
  EXPECT_EQ(block[0x46], 0x03);
  EXPECT_EQ(block[0x48], 0xF0);
  EXPECT_EQ(block[0x4C], 0x22);  // channel 2's start value
  EXPECT_EQ(block[0x54], 15);
  EXPECT_EQ(block[0x56], 0xE8);
  EXPECT_EQ(block[0x57], 0x03);
  EXPECT_EQ(block[0x70], 0xA5);
  EXPECT_EQ(block[0xF0], 'N');
  EXPECT_EQ(block[0xFB], 0);
  EXPECT_EQ(block[0x100], '?');  // no file name
  EXPECT_EQ(block[0x101], 0);
  EXPECT_EQ(block[0x130], 0x77);
  unsigned sum = 0;
  for (std::size_t i = 0; i < 0x1FE; ++i) sum += block[i];
  EXPECT_EQ(block[0x1FE] | (block[0x1FF] << 8), sum & 0xFFFF);

  BuildSettingsBlock(block, chip, job, ob, 1, [] { return std::uint8_t{0}; });
  EXPECT_EQ(block[4 + 41], 0x08);
  ChipRecord chipBack;
  JobSettings jobBack;
  OptionByteImage obBack{};
  UnpackSettingsBlock(block, chipBack, jobBack, obBack);
  EXPECT_EQ(chipBack.flashSizeKB, 512);
  EXPECT_EQ(chipBack.eepStart, 0x1234u);  // only the low 16 bits travel
  EXPECT_EQ(chipBack.flashStart, 0x08000000u);
  EXPECT_EQ(jobBack.snStart[0], 0x11111111u);
  EXPECT_EQ(jobBack.countLimit, 1000u);
  EXPECT_EQ(jobBack.powerCtrl, 0x86);
  EXPECT_EQ(obBack, ob);
}

}  // namespace
}  // namespace korvan::protocol
