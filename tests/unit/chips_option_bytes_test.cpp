#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/chips/chip_setup.h"
#include "core/chips/option_bytes.h"
#include "core/util/format.h"

namespace korvan {
namespace {

struct Chosen {
  ChipRecord chip;
  std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0, familyCtrl = 0;
  OptionByteImage image{};
  ChipView view;
};

Chosen Choose(const char* name, std::optional<int> series = {}) {
  Chosen c;
  c.image.fill(0x11);  // whatever a previous part left behind
  ConfirmAndApplyChip(c.chip, {c.linkCtrl, c.eraseCtrl, c.checkCtrl, c.familyCtrl}, c.image, c.view,
                      name, series);
  return c;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += Format("%02X ", b);
  return text;
}

TEST(OptionByteImage, DefaultsPerFamilyWithSumsDumpsAndChangedFlag) {
  struct Row {
    const char* name;
    std::optional<int> series;
    const char* first20;
    std::uint16_t sum;
    const char* buffer;  // the "Option Byte Buffer: " line
    bool changed;
  } rows[] = {
      {"N32G452CBL7",
       {},
       "A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 ",
       0x0DF2,
       "Option Byte Buffer: A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 ",
       false},
      {"N32G430K8L7",
       {},
       "A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 ",
       0x0DF2,
       "Option Byte Buffer: A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 ",
       false},
      {"N32L436RBL7",
       {},
       "A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 ",
       0x0DF2,
       "Option Byte Buffer: A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 ",
       false},
      {"N32G031K8L7",
       {},
       "A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF FF ",
       0x0EF1,
       "Option Byte Buffer: A5 5A FF 00 FF 00 FF 00 ",
       false},
      {"N32G003F5Q7",
       {},
       "A5 5A F7 08 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF FF ",
       0x0EF1,
       "Option Byte Buffer: A5 5A F7 08 FF 00 FF 00 ",
       true},
      // An N32G430 name typed under the Cortex-M0 series: RDP2 and USER2 stay blank.
      {"N32G430K8L7", 2, "A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF FF FF FF ", 0x0FF0,
       "Option Byte Buffer: A5 5A FF 00 FF 00 FF 00 ", false},
      {"N32WB031KCQ6",
       {},
       "A5 5A FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 FF 00 8F 70 ",
       0x0DF2,
       "Option Byte Buffer: ",
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Chosen c = Choose(row.name, row.series);
    EXPECT_EQ(Hex(std::span(c.image).first(20)), row.first20);
    for (std::size_t i = 20; i < kOptionByteImageSize; ++i) ASSERT_EQ(c.image[i], 0xFF) << i;
    const OptionChecksum sum = OptionSum(c.image);
    EXPECT_EQ(sum.optionSum, row.sum);
    EXPECT_EQ(sum.optionSumInv, row.sum ^ 0xFFFF);
    const auto dump = DumpOptionBytes(c.image, c.chip.optionByteLength);
    EXPECT_EQ(dump[0], "Option Byte Setting: " +
                           Hex(std::vector<std::uint8_t>{c.image[0], c.image[2], c.image[4],
                                                         c.image[6], c.image[8], c.image[10],
                                                         c.image[12], c.image[14], c.image[16]}));
    EXPECT_EQ(dump[1], row.buffer);
    EXPECT_EQ(OptionBytesChanged(c.image), row.changed);
  }
  EXPECT_EQ(DumpOptionBytes(Choose("N32G452CBL7").image, 20)[0],
            "Option Byte Setting: A5 FF FF FF FF FF FF FF FF ");
}

TEST(OptionByteImage, TheChecksumCoversTwentyFourBytesAndWraps) {
  OptionByteImage image;
  image.fill(0xFF);
  // 24 x 0xFF = 0x17E8; byte 24 and beyond do not count.
  EXPECT_EQ(OptionSum(image).optionSum, 0x17E8);
  EXPECT_EQ(OptionSum(image).optionSumInv, 0xE817);
  image.fill(0);
  EXPECT_EQ(OptionSum(image).optionSum, 0);
  EXPECT_EQ(OptionSum(image).optionSumInv, 0xFFFF);
}

TEST(OptionByteImage, ChangedLooksAtRdpAndTheEvenBytesUpTo14Only) {
  OptionByteImage base = Choose("N32G452CBL7").image;
  struct Row {
    std::size_t index;
    std::uint8_t value;
    bool changed;
  } rows[] = {{0, 0x00, true},  {0, 0xCC, true},  {2, 0xFE, true},   {4, 0x7F, true},
              {14, 0xFE, true}, {1, 0x00, false}, {16, 0x33, false}, {18, 0x00, false},
              {3, 0xFF, false}, {20, 0x00, false}};
  for (const auto& row : rows) {
    OptionByteImage image = base;
    image[row.index] = row.value;
    EXPECT_EQ(OptionBytesChanged(image), row.changed) << row.index;
  }
}

TEST(OptionByteImage, ReadProtectionLevelsWrittenAndReadBack) {
  struct Row {
    std::uint8_t rdp, rdp2;
    ReadProtection level;
  } reads[] = {{0xCC, 0x33, ReadProtection::L2},
               {0xCC, 0xFF, ReadProtection::L1},
               {0xA5, 0x33, ReadProtection::L0},
               {0x00, 0xFF, ReadProtection::L1},
               {0x12, 0x34, ReadProtection::L1}};
  for (std::size_t rdp2 : {kRdp2Index, kRdp2IndexG430}) {
    for (const auto& row : reads) {
      OptionByteImage image;
      image.fill(0xFF);
      image[0] = row.rdp;
      image[rdp2] = row.rdp2;
      EXPECT_EQ(ReadProtectionOf(image, rdp2), row.level) << int(row.rdp) << " " << rdp2;
    }
  }

  struct Write {
    ReadProtection level;
    std::uint8_t bytes[4];
    const char* panel;
  } writes[] = {{ReadProtection::L0, {0xA5, 0x5A, 0xFF, 0x00}, "0xA5/0xFF"},
                {ReadProtection::L1, {0x00, 0xFF, 0xFF, 0x00}, "0x00/0xFF"},
                {ReadProtection::L2, {0xCC, 0x33, 0x33, 0xCC}, "0xCC/0x33"}};
  for (std::size_t rdp2 : {kRdp2Index, kRdp2IndexG430}) {
    for (const auto& w : writes) {
      OptionByteImage image;
      image.fill(0x77);
      WriteReadProtection(image, w.level, rdp2);
      EXPECT_EQ(image[0], w.bytes[0]);
      EXPECT_EQ(image[1], w.bytes[1]);
      EXPECT_EQ(image[rdp2], w.bytes[2]);
      EXPECT_EQ(image[rdp2 + 1], w.bytes[3]);
      EXPECT_EQ(ReadProtectionPanel(image, rdp2), w.panel);
      EXPECT_EQ(ReadProtectionOf(image, rdp2), w.level);
      // Nothing else moves: the other layout's RDP2 and the user bytes are left alone.
      EXPECT_EQ(image[rdp2 == 16 ? 12 : 16], 0x77);
      EXPECT_EQ(image[2], 0x77);
    }
  }
  EXPECT_EQ(ReadProtectionText(ReadProtection::L0), "RDP1=5A / RDP2=FF : L0级--------未读保护");
  EXPECT_EQ(ReadProtectionText(ReadProtection::L1),
            "RD1P=00 / RDP2=FF : L1级--------读保护（可逆）");
  EXPECT_EQ(ReadProtectionText(ReadProtection::L2),
            "RDP1=CC / RDP2=33 : L2级--------读保护（不可逆）");
}

TEST(OptionByteImage, ReadBackDumpTakesTheValueBytesOfTheReply) {
  std::vector<std::uint8_t> reply(64);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(DumpReadOptionBytes(1, reply, 20),
            "Read Chip 1 Option Byte : 08 0A 0C 0E 10 12 14 16 18 1A ");
  EXPECT_EQ(DumpReadOptionBytes(4, reply, 8), "Read Chip 4 Option Byte : 08 0A 0C 0E ");
  EXPECT_EQ(DumpReadOptionBytes(2, reply, 16),
            "Read Chip 2 Option Byte : 08 0A 0C 0E 10 12 14 16 ");
  EXPECT_EQ(DumpReadOptionBytes(3, reply, 0), "Read Chip 3 Option Byte : ");
  // A short reply gives what it holds and no more.
  EXPECT_EQ(DumpReadOptionBytes(1, std::span(reply).first(13), 20),
            "Read Chip 1 Option Byte : 08 0A 0C ");
}

}  // namespace
}  // namespace korvan
