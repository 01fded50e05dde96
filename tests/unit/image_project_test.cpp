
// A job saved to a project and restored from it comes back whole.
#include <gtest/gtest.h>

#include "core/chips/chip_setup.h"
#include "core/image/project.h"
#include "core/image/readers.h"
#include "core/model/settings_block.h"
#include "core/util/gbk.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

struct Station {
  ImageBuffer image;
  ChipRecord chip;
  JobSettings job;
  OptionByteImage optionBytes{};
  ChipView view;
};

RandomByteSource Counter() {
  auto next = std::make_shared<std::uint32_t>(0);
  return [next] { return static_cast<std::uint8_t>((*next)++ * 29 % 255); };
}

void Choose(Station& s, const char* part) {
  ConfirmAndApplyChip(s.chip, {s.job.linkCtrl, s.job.eraseCtrl, s.job.checkCtrl, s.job.familyCtrl},
                      s.optionBytes, s.view, part);
  ApplyChipWindows(s.image.windows, s.chip);
}

ProjectContent SaveAndRead(const Station& s, ProjectMode mode) {
  ProjectContent content;
  std::string error;
  EXPECT_TRUE(MakeProjectContent(s.image, s.chip, s.job, s.optionBytes, 26, mode, Counter(),
                                 content, error))
      << error;
  const auto file = BuildProjectFile(content, Counter(), error);
  ProjectContent back;
  EXPECT_EQ(ParseProjectFile(file, back), kProjectOk);
  return back;
}

TEST(Project, SaveThenRestoreGivesTheSameJob) {
  Station saved;
  Choose(saved, "N32G452CBL7");
  saved.chip.otpSize = 0x200;  // a part with OTP data, saved in OTP mode
  saved.chip.otpPresent = 1;
  for (std::size_t i = 0; i < 0x20000; ++i)
    saved.image.flash[i] = static_cast<std::uint8_t>(i ^ 0x5A);
  for (std::size_t i = 0; i < 0x200; ++i) saved.image.otp[i] = static_cast<std::uint8_t>(i + 3);
  saved.optionBytes[2] = 0x12;
  saved.job.loadedFileName = "app.hex";
  saved.job.snStart = {1, 2, 3, 4};
  saved.job.snEnable = 15;
  saved.job.countEnable = 15;
  saved.job.countLimit = 777;
  saved.job.powerCtrl = 0x86;
  saved.job.snDisplayFlags = 5;
  saved.image.windows.optionStart = 0x1FFFF800;

  const ProjectContent project = SaveAndRead(saved, {true, 0x6});
  Station restored;
  restored.image.flash[0x30000] = 0x11;  // stale data of the earlier job
  const ProjectMode mode =
      RestoreProject(project, restored.image, restored.chip, restored.job, restored.optionBytes);
  EXPECT_TRUE(mode.otpMode);
  EXPECT_EQ(restored.chip.otpPresent, 1);  // the download carries the OTP data
  EXPECT_EQ(mode.carried, 0x6);
  EXPECT_EQ(restored.image.flash, saved.image.flash);
  EXPECT_EQ(restored.image.otp, saved.image.otp);
  EXPECT_EQ(restored.optionBytes, saved.optionBytes);
  EXPECT_EQ(restored.chip.chipName, "N32G452CBL7");
  EXPECT_EQ(restored.chip.flashStart, 0x08000000u);
  EXPECT_EQ(restored.chip.flashEnd, 0x0801FFFFu);
  EXPECT_EQ(restored.chip.flashSizeKB, 128);
  EXPECT_EQ(restored.chip.optionByteLength, saved.chip.optionByteLength);
  EXPECT_EQ(restored.chip.chipConfirmed, 1);
  EXPECT_EQ(restored.job.loadedFileName, "app.hex");
  EXPECT_EQ(restored.job.snStart, saved.job.snStart);
  EXPECT_EQ(restored.job.countLimit, 777u);
  EXPECT_EQ(restored.job.powerCtrl, 0x86);
  EXPECT_EQ(restored.job.snDisplayFlags, 5);
  EXPECT_EQ(restored.image.lowest, 0x08000000u);
  EXPECT_EQ(restored.image.highest, 0x0801FFFFu);
  EXPECT_EQ(restored.image.windows.optionStart, 0x1FFFF800u);
  EXPECT_TRUE(restored.image.dataLoaded);

  // Saving the restored job again keeps OTP mode and the same bytes.
  const ProjectContent again = SaveAndRead(restored, mode);
  EXPECT_TRUE(again.OtpMode());
  EXPECT_EQ(again.flash, project.flash);
  EXPECT_EQ(again.eep, project.eep);
}

TEST(Project, RestoredPartWithoutOtpDataHasNoEepWindow) {
  Station saved;
  Choose(saved, "N32G452CBL7");
  const ProjectContent project = SaveAndRead(saved, {});
  Station restored;
  RestoreProject(project, restored.image, restored.chip, restored.job, restored.optionBytes);
  // EEP start 0x08080000 travels as its low 16 bits: 0, and the EEP end wraps below it.
  EXPECT_EQ(restored.chip.otpPresent, 0);
  EXPECT_EQ(restored.chip.eepStart, 0u);
  EXPECT_EQ(restored.chip.eepEnd, 0xFFFFFFFFu);
  EXPECT_TRUE(restored.image.windows.eepEmpty);
  testing::FakeFrontend frontend;
  ReadCursor cursor;
  const ReadTarget target{restored.image.flash, 0x08000000, &restored.image, {}};
  // Near the flash but outside it: still "outside every window".
  EXPECT_EQ(ParseS19Line("S30908030000AABBCCDDDD", target, cursor), 16);
  EXPECT_EQ(restored.image.otp[0], 0xFF);
}

TEST(Project, PartsLargerThanOneMebibyteAreRefused) {
  Station s;
  Choose(s, "N32G452CBL7");
  s.chip.flashSizeKB = 2048;
  ProjectContent content;
  std::string error;
  EXPECT_FALSE(
      MakeProjectContent(s.image, s.chip, s.job, s.optionBytes, 26, {}, Counter(), content, error));
  EXPECT_FALSE(error.empty());
}

// Names are kept as the bytes the file stored, through read, restore, a second save and the
// download's text fields, even where no character set shows them whole; they are decoded only
// for display.
TEST(Project, StoredNamesTravelByteForByte) {
  const std::string cutInsideACharacter = std::string(46, 'f') + "\xD0\xF2\xB0";  // 49th byte cut
  struct Row {
    const char* what;
    std::string fileName;  // as stored (at most 48 bytes)
    std::string chipName;  // as stored (at most 20 bytes)
  } rows[] = {
      {"a double-byte character cut by the field", cutInsideACharacter.substr(0, 48),
       "N32G452CBL7"},
      {"bytes that form no character", "fw \x80\xFF .hex", "N32\xFFG452"},
      {"a name that converts cleanly", "\xB9\xCC\xBC\xFE.hex", "N32G452CBL7"},  // 固件.hex
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Station saved;
    Choose(saved, "N32G452CBL7");
    ProjectContent content;
    std::string error;
    ASSERT_TRUE(MakeProjectContent(saved.image, saved.chip, saved.job, saved.optionBytes, 26, {},
                                   Counter(), content, error));
    content.objectFileName = GbkToUtf8(row.fileName);
    content.objectFileNameGbk = row.fileName;
    content.chipName = GbkToUtf8(row.chipName);
    content.chipNameGbk = row.chipName;
    ProjectContent read;
    ASSERT_EQ(ParseProjectFile(BuildProjectFile(content, Counter(), error), read), kProjectOk);
    EXPECT_EQ(read.objectFileNameGbk, row.fileName);
    EXPECT_EQ(read.chipNameGbk, row.chipName);
    EXPECT_EQ(read.objectFileName, GbkToUtf8(row.fileName));  // shown decoded

    Station restored;
    RestoreProject(read, restored.image, restored.chip, restored.job, restored.optionBytes);
    const ProjectContent again = SaveAndRead(restored, {});
    EXPECT_EQ(again.objectFileNameGbk, row.fileName);
    EXPECT_EQ(again.chipNameGbk, row.chipName);

    std::array<std::uint8_t, protocol::kSettingsBlockSize> block{};
    protocol::BuildSettingsBlock(block, restored.chip, restored.job, restored.optionBytes, 1,
                                 Counter());
    const auto field = [&](std::size_t at, std::size_t width) {
      std::string text(reinterpret_cast<const char*>(block.data() + at), width);
      return text.substr(0, text.find('\0'));
    };
    EXPECT_EQ(field(protocol::kSettingsBlockFileNameOffset, 48), row.fileName);
    EXPECT_EQ(field(protocol::kSettingsBlockChipNameOffset, 16), row.chipName.substr(0, 16));

    // A name changed after the read is converted afresh, not taken from the stale bytes.
    restored.job.loadedFileName = "new.hex";
    EXPECT_EQ(SaveAndRead(restored, {}).objectFileNameGbk, "new.hex");
  }
}

}  // namespace
}  // namespace korvan
