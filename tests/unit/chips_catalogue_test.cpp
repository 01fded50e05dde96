#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "core/chips/catalogue.h"
#include "core/chips/chip_setup.h"

namespace korvan {
namespace {

// The control bytes as the window holds them before any part is chosen.
struct ControlBytes {
  std::uint8_t linkCtrl = 0x7C;
  std::uint8_t eraseCtrl = 0x80;
  std::uint8_t checkCtrl = 0x00;
  std::uint8_t familyCtrl = 0x00;
  ChipControlBytes Refs() { return {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}; }
};

TEST(ChipCatalogue, NineSeriesWith144PartsInListOrder) {
  const auto series = SeriesNames();
  ASSERT_EQ(series.size(), 9u);
  EXPECT_EQ(series.front(), "N32G45xxx");
  EXPECT_EQ(series[7], "N32G401xx");
  EXPECT_EQ(series.back(), "Else Chips");

  const std::size_t counts[] = {33, 6, 37, 26, 16, 5, 5, 15, 1};
  const std::uint8_t families[] = {0x00, 0x10, 0x20, 0x30, 0x40, 0x50, 0x00, 0x30, 0x00};
  std::size_t total = 0;
  for (int s = 0; s < kSeriesCount; ++s) {
    EXPECT_EQ(PartsOfSeries(s).size(), counts[s]) << series[s];
    EXPECT_EQ(FamilyCodeOfSeries(s), families[s]) << series[s];
    total += PartsOfSeries(s).size();
  }
  EXPECT_EQ(total, 144u);
  EXPECT_TRUE(PartsOfSeries(9).empty());
  EXPECT_TRUE(PartsOfSeries(-1).empty());

  // Spot checks on spelling and positions, including the stored lower-case l.
  EXPECT_EQ(PartsOfSeries(4)[12], "N32L406CBl7");
  EXPECT_EQ(PartsOfSeries(2)[33], "N32G020G7xx");
  EXPECT_EQ(PartsOfSeries(2)[7], "N32G030K6Q7-1");
  EXPECT_EQ(PartsOfSeries(7)[0], "N32G401F6S7-1");
  EXPECT_EQ(PartsOfSeries(8)[0], "NSS32LOCK-1");
  EXPECT_EQ(PartsOfSeries(0)[32], "N32G457QEL7");
  EXPECT_EQ(PartsOfSeries(5)[3], "N32WB031KEQ6");
}

TEST(ChipCatalogue, FlashSizeCodes) {
  const std::pair<char, int> codes[] = {{'4', 16},   {'6', 32},   {'8', 64},   {'B', 128},
                                        {'C', 256},  {'D', 384},  {'E', 512},  {'F', 768},
                                        {'G', 1024}, {'I', 2048}, {'K', 3072}, {'H', 1024},
                                        {'b', 1024}, {'5', 1024}, {'\0', 1024}};
  for (auto [code, kib] : codes) EXPECT_EQ(FlashSizeOfCode(code), kib) << code;
}

// One row per rule of the catalogue: what confirming a name under a series and position, then
// applying it with the option-byte defaults, leaves in the record and the control bytes.
struct ChipRow {
  const char* name;
  int series;
  int position;
  std::uint8_t familyCode;
  std::uint8_t partIndex;
  std::uint16_t flashSizeKB;
  std::uint8_t optionByteLength;
  std::uint8_t editorLayout;
  std::uint8_t isM0Family, isG43xOrL4Family, isN32G020, isN32G430G401;
  std::uint8_t checkCtrl;
  std::uint8_t familyCtrl;
  std::uint32_t flashStart, flashEnd;
  OptionByteEditorKind editor;
};

using E = OptionByteEditorKind;

const ChipRow kChipRows[] = {
    {"N32G452CBL7", 0, 0, 0x00, 0, 128, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x0801FFFF,
     E::General},
    {"N32G457QEL7", 0, 32, 0x00, 32, 512, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x0807FFFF,
     E::General},
    {"N32G4FRKEQ7", 1, 2, 0x10, 2, 512, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x0807FFFF,
     E::General},
    {"N32L402C8x7", 4, 7, 0x40, 7, 64, 20, 0x20, 0, 1, 0, 0, 0, 0, 0x08000000, 0x0800FFFF,
     E::General},
    {"N32L406CBl7", 4, 12, 0x40, 12, 128, 20, 0x20, 0, 1, 0, 0, 0, 0, 0x08000000, 0x0801FFFF,
     E::General},
    {"N32WB452CE", 5, 0, 0x50, 0, 512, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x0807FFFF,
     E::General},
    {"N32WB031KCQ6", 5, 4, 0x80, 4, 256, 0, 0x14, 0, 0, 0, 0, 0, 0, 0x01000000, 0x0103FFFF,
     E::None},
    // Typed under "N32G45xxx": the catalogue turns the family into 0x80 by the name.
    {"N32WB031KEQ6", 0, 0, 0x80, 0, 512, 0, 0x14, 0, 0, 0, 0, 0, 0, 0x01000000, 0x0107FFFF,
     E::None},
    // Typed under "N32L4xxx": layout and flags stay the series' own.
    {"N32WB031KEQ6", 4, 3, 0x80, 3, 512, 0, 0x20, 0, 1, 0, 0, 0, 0, 0x01000000, 0x0107FFFF,
     E::None},
    {"N32A455REL8", 6, 0, 0x00, 0, 512, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x0807FFFF,
     E::General},
    {"NSS32LOCK-1", 8, 0, 0x00, 0, 512, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x0807FFFF,
     E::General},
    {"N32G003F5Q7", 2, 0, 0x20, 0, 30, 8, 0x00, 1, 0, 0, 0, 0x06, 0, 0x08000000, 0x080077FF, E::M0},
    {"N32G003F5S7", 2, 2, 0x20, 2, 30, 8, 0x00, 1, 0, 0, 0, 0x06, 0, 0x08000000, 0x080077FF, E::M0},
    {"N32G003F4S7", 2, 3, 0x20, 3, 16, 8, 0x00, 1, 0, 0, 0, 0x04, 0, 0x08000000, 0x08003FFF, E::M0},
    {"N32G031K8L7", 2, 18, 0x20, 18, 64, 8, 0x00, 1, 0, 0, 0, 0, 0, 0x08000000, 0x0800FFFF, E::M0},
    {"N32G020G5xx", 2, 31, 0x20, 31, 32, 8, 0x00, 1, 0, 1, 0, 0, 0x01, 0x00048000, 0x0004FFFF,
     E::None},
    {"N32G020G6xx", 2, 32, 0x20, 32, 64, 8, 0x00, 1, 0, 1, 0, 0, 0x01, 0x00040000, 0x0004FFFF,
     E::None},
    {"N32G020G7xx", 2, 33, 0x20, 0x80, 128, 8, 0x00, 1, 0, 1, 0, 0, 0x01, 0x00030000, 0x0004FFFF,
     E::None},
    {"N32G020K7xx", 2, 35, 0x20, 35, 128, 8, 0x00, 1, 0, 1, 0, 0, 0x01, 0x00030000, 0x0004FFFF,
     E::None},
    {"N32G020K8xx", 2, 36, 0x20, 36, 256, 8, 0x00, 1, 0, 1, 0, 0, 0x01, 0x00010000, 0x0004FFFF,
     E::None},
    // An unknown N32G020 variant decodes as 1024 KiB; its window cannot reach below address 0.
    {"N32G020Z9", 2, 0, 0x20, 0, 1024, 8, 0x00, 1, 0, 1, 0, 0, 0x01, 0x00000000, 0x0004FFFF,
     E::None},
    {"N32G430K8L7", 3, 8, 0x30, 8, 64, 16, 0x20, 0, 1, 0, 1, 0, 0x04, 0x08000000, 0x0800FFFF,
     E::G430},
    {"N32G432KBL7", 3, 15, 0x30, 15, 128, 20, 0x20, 0, 1, 0, 0, 0, 0, 0x08000000, 0x0801FFFF,
     E::General},
    {"N32G401C8Q7", 7, 14, 0x30, 14, 64, 16, 0x20, 0, 1, 0, 1, 0, 0x04, 0x08000000, 0x0800FFFF,
     E::G430},
    {"N32G401F6S7-1", 7, 0, 0x30, 0, 32, 16, 0x20, 0, 1, 0, 1, 0, 0x04, 0x08000000, 0x08007FFF,
     E::G430},
    // An N32G430 name typed under the Cortex-M0 series keeps the M0 family and editor.
    {"N32G430C6L7", 2, 0, 0x20, 0, 32, 8, 0x00, 1, 0, 0, 1, 0, 0x04, 0x08000000, 0x08007FFF, E::M0},
    {"N32G452ZZL7", 0, 0, 0x00, 0, 1024, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x080FFFFF,
     E::General},
    {"N32G4", 0, 0, 0x00, 0, 1024, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x080FFFFF, E::General},
    // Prefix rules are case-sensitive: this is no N32G020 and its '5' is no size code.
    {"n32g020g5xx", 0, 0, 0x00, 0, 1024, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x080FFFFF,
     E::General},
    {"", 0, 0, 0x00, 0, 1024, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000, 0x080FFFFF, E::General},
    {"N32G452IIL7", 0, 300, 0x00, 300 & 0xFF, 2048, 20, 0x14, 0, 0, 0, 0, 0, 0, 0x08000000,
     0x081FFFFF, E::General},
};

TEST(ChipCatalogue, ConfirmAndApplyDeriveTheRecordFromSeriesAndName) {
  for (const ChipRow& row : kChipRows) {
    SCOPED_TRACE(std::string(row.name) + " under series " + std::to_string(row.series));
    ChipRecord chip;
    ControlBytes control;
    OptionByteImage image{};
    ChipView view;
    ConfirmChip(chip, control.Refs(), row.series, row.position, row.name);
    SetOptionByteDefaults(image, chip);
    ApplyChip(chip, control.Refs(), view);

    EXPECT_EQ(chip.chipName, row.name);
    EXPECT_EQ(chip.chipGroup, 26);
    EXPECT_EQ(chip.chipConfirmed, 1);
    EXPECT_EQ(chip.familyCode, row.familyCode);
    EXPECT_EQ(chip.partIndex, row.partIndex);
    EXPECT_EQ(chip.flashSizeKB, row.flashSizeKB);
    EXPECT_EQ(chip.blockSize, 1024);
    EXPECT_EQ(chip.blockCount, row.flashSizeKB);
    EXPECT_EQ(chip.optionByteLength, row.optionByteLength);
    EXPECT_EQ(chip.editorLayout, row.editorLayout);
    EXPECT_EQ(chip.isM0Family, row.isM0Family);
    EXPECT_EQ(chip.isM0FamilyCopy, row.isM0Family);
    EXPECT_EQ(chip.isG43xOrL4Family, row.isG43xOrL4Family);
    EXPECT_EQ(chip.isN32G020, row.isN32G020);
    EXPECT_EQ(chip.isN32G430G401, row.isN32G430G401);
    EXPECT_EQ(control.checkCtrl, row.checkCtrl);
    EXPECT_EQ(control.familyCtrl, row.familyCtrl);
    EXPECT_EQ(chip.flashStart, row.flashStart);
    EXPECT_EQ(chip.flashEnd, row.flashEnd);
    EXPECT_EQ(chip.eepStart, 0x08080000u);
    EXPECT_EQ(chip.eepEnd, 0x08080FFFu);
    EXPECT_EQ(OptionByteEditorFor(chip), row.editor);

    EXPECT_EQ(view.lbFlashSize.caption, std::to_string(row.flashSizeKB) + " KB.");
    EXPECT_EQ(view.ChkBoxDlySkp.visible, row.familyCode == 0x80);
    EXPECT_FALSE(view.ChkBoxDlySkp.checked);
    EXPECT_EQ(view.RadioGpVolt.itemIndex, 0);
    EXPECT_TRUE(view.RadioGpVolt.enabled);
  }
}

TEST(ChipCatalogue, ChoosingAPartResetsTheControlBytesAndTheChecksOfThePreviousPart) {
  ChipRecord chip;
  ControlBytes control;
  control.linkCtrl = 0xFF;
  control.familyCtrl = 0xFF;
  OptionByteImage image{};
  ChipView view;
  view.ChkBoxDlySkp = {true, true};
  view.RadioGpVolt = {1, false};

  ConfirmChip(chip, control.Refs(), 2, 0, "N32G003F5Q7");
  EXPECT_EQ(control.linkCtrl, 0x7F);  // the confirmation clears bit 7
  EXPECT_EQ(control.eraseCtrl, 0x00);
  SetOptionByteDefaults(image, chip);
  ApplyChip(chip, control.Refs(), view);
  EXPECT_EQ(control.linkCtrl, 0x73);  // the application clears bits 2 and 3
  EXPECT_EQ(control.checkCtrl, 0x06);
  EXPECT_EQ(control.familyCtrl, 0x00);
  EXPECT_FALSE(view.ChkBoxDlySkp.visible);
  EXPECT_FALSE(view.ChkBoxDlySkp.checked);
  EXPECT_EQ(view.RadioGpVolt.itemIndex, 0);
  EXPECT_TRUE(view.RadioGpVolt.enabled);

  // The next part starts from clean check bits; the confirmation clears bit 0 as well.
  control.checkCtrl |= 0x01;
  control.eraseCtrl = 0x20;
  chip.otpPresent = 1;
  chip.otpSize = 512;
  ConfirmChip(chip, control.Refs(), 0, 0, "N32G452CBL7");
  EXPECT_EQ(control.checkCtrl, 0x00);
  EXPECT_EQ(control.eraseCtrl, 0x00);
  EXPECT_EQ(chip.otpPresent, 0);
  EXPECT_EQ(chip.otpSize, 0);
  EXPECT_EQ(chip.isM0Family, 0);
}

TEST(ChipCatalogue, DialogSelectionForAName) {
  struct Row {
    const char* name;
    std::optional<int> series;
    int wantSeries, wantPosition;
  } rows[] = {
      {"N32G031K8L7", std::nullopt, 2, 18},
      {"N32G452CBL7", std::nullopt, 0, 0},
      {"NSS32LOCK-1", std::nullopt, 8, 0},
      {"N32WB031KEQ6", 0, 0, 0},  // typed under another series
      {"N32G401C8Q7", 7, 7, 14},  // listed in the series given
      {"MYCHIP", std::nullopt, 0, 0},
      {"n32g452cbl7", std::nullopt, 0, 0},
  };
  for (const auto& row : rows) {
    const CatalogueEntry got = DialogSelectionFor(row.name, row.series);
    EXPECT_EQ(got.series, row.wantSeries) << row.name;
    EXPECT_EQ(got.position, row.wantPosition) << row.name;
  }
}

TEST(ChipCatalogue, ConfirmAndApplyChipUsesTheListPosition) {
  ChipRecord chip;
  ControlBytes control;
  OptionByteImage image{};
  ChipView view;
  ConfirmAndApplyChip(chip, control.Refs(), image, view, "N32G020G6xx");
  EXPECT_EQ(chip.partIndex, 32);
  EXPECT_EQ(chip.familyCode, 0x20);
  EXPECT_EQ(chip.flashStart, 0x00040000u);
  EXPECT_EQ(image[18], 0xFF);
  EXPECT_EQ(control.familyCtrl, 0x01);
}

}  // namespace
}  // namespace korvan
