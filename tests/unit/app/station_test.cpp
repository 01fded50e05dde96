#include "core/app/station.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/chips/catalogue.h"
#include "core/chips/chip_select_form.h"
#include "core/chips/n32g430x_opt_form.h"
#include "core/chips/n32x_opt_form.h"
#include "core/chips/nxm0_opt_form.h"
#include "core/image/firmware_image.h"
#include "support/fake_frontend.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::FakeFrontend;
using testing::ReadAll;
using testing::TempDir;

constexpr const char* kSep = "...........................................";

// 16 bytes 00..0F at 0x08000000.
constexpr const char* kHexAt08000000 =
    ":020000040800F2\n"
    ":10000000000102030405060708090A0B0C0D0E0F78\n"
    ":00000001FF\n";
// "more data here!!" at 0x08000100.
constexpr const char* kHexAt08000100 =
    ":020000040800F2\n"
    ":100100006D6F72652064617461206865726521217C\n"
    ":00000001FF\n";

class StationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station.SetPortSources(testing::NoPorts(dir.path()));
    station.FormShow({dir.path(), "", ""});
    station.ClearInformation1Click();
    fe.questions.clear();
  }

  // The operator picks `name` in the chip dialog (from its list when it has one) and confirms.
  void ChooseChip(const std::string& name) {
    fe.chipDialogActions.push_back([name](TNChipSelectForm& d) {
      if (const auto entry = FindPart(name)) {
        d.ListBoxSeries.itemIndex = entry->series;
        d.ListBoxSeriesClick();
        d.ListBoxChips.itemIndex = entry->position;
        d.ListBoxChipsClick();
      } else {
        d.EditSelChip.text = name;
      }
      d.BitBtnOKClick();
    });
    station.DevButtonClick();
  }

  void Open(const std::string& path, int filterIndex = 5) {
    fe.openChoices.push_back(FileChoice{path, filterIndex});
  }
  void SaveAs(const std::string& path, int filterIndex) {
    fe.saveChoices.push_back(FileChoice{path, filterIndex});
  }

  // The panel's lines with the time prefix "> 14:03:22 " taken off timed lines.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const std::string& line : station.info().Lines()) {
      const std::string prefix = "> 14:03:22 ";
      lines.push_back(line.starts_with(prefix) ? line.substr(prefix.size()) : line);
    }
    return lines;
  }

  TempDir dir;
  FakeFrontend fe;
  LocalTime now{2024, 1, 5, 14, 3, 22};
  Station station{fe, [this] { return now; }};
};

TEST_F(StationTest, FirstShowingGreetsAndReportsAMissingFirmwareImage) {
  TempDir other;
  FakeFrontend frontend;
  Station fresh(frontend, [this] { return now; });
  fresh.SetPortSources(testing::NoPorts(other.path()));
  fresh.FormShow({other.path(), "", ""});
  const std::string kfw = (other.path() / "KorvanNAT.KFW").string();
  EXPECT_EQ(fresh.info().Lines(),
            (std::vector<std::string>{
                "> 14:03:22 Hello! Korvan200NAT User!",
                "",
                "> 14:03:22 File of \"" + kfw + "\" not Found!",
                "> 14:03:22 Put KorvanNAT.KFW in one of: \"" + other.path().string() + "\"",
            }));
  ASSERT_EQ(frontend.questions.size(), 1u);
  EXPECT_EQ(frontend.questions[0].kind, MessageKind::Plain);
  EXPECT_EQ(frontend.questions[0].text, "文件\"" + kfw + "\"没有找到，请确认！");
  EXPECT_FALSE(fresh.firmwarePresent());
  EXPECT_TRUE(std::filesystem::is_directory(other.path() / "Log"));
  EXPECT_EQ(fresh.form().PageControlSet, SettingsTab::SerialNumbers);
  EXPECT_EQ(fresh.form().MCUNameEdit.text, "请选择目标MCU的型号...");
  EXPECT_EQ(fresh.window().ViewPageCtrl, MainTab::ChipSetting);
  EXPECT_FALSE(fresh.window().TabSheetEEPVisible);
  EXPECT_EQ(fresh.chip().chipConfirmed, 0);
  EXPECT_EQ(fresh.chip().flashSizeKB, 128);
  EXPECT_EQ(fresh.settings(), JobSettings{});
  EXPECT_EQ(fresh.image().windows.flashEnd, 0x0801FFFFu);
  EXPECT_EQ(fresh.optionBytes()[18], 0x8F);
  for (int n = 1; n <= 4; ++n) EXPECT_EQ(fresh.channel(n).pendingCommand, kPendingIdle);
}

TEST_F(StationTest, FirstShowingLoadsAFirmwareImageBesideTheExecutable) {
  TempDir other;
  std::string error;
  const std::vector<std::uint8_t> firmware(64, 0x5A);
  const auto kfw = PackFirmwareImage(firmware, {"V3.10", "test", 0, 0, 7}, error);
  ASSERT_FALSE(kfw.empty()) << error;
  other.Write("KorvanNAT.KFW", std::string(kfw.begin(), kfw.end()));
  FakeFrontend frontend;
  Station fresh(frontend, [this] { return now; });
  fresh.SetPortSources(testing::NoPorts(other.path()));
  fresh.FormShow({other.path(), "", ""});
  EXPECT_TRUE(fresh.firmwarePresent());
  EXPECT_TRUE(frontend.questions.empty());
  ASSERT_EQ(fresh.info().LineCount(), 3u);
  EXPECT_EQ(fresh.info().Lines()[2], "> 14:03:22 Firmware image \"" +
                                         (other.path() / "KorvanNAT.KFW").string() + "\" V3.10");
}

TEST_F(StationTest, LoadingAnObjectFileReportsRangesChecksumsAndFillsTheFlashView) {
  ChooseChip("N32G452CBL7");
  station.ClearInformation1Click();
  const std::string path = dir.Write("app.hex", kHexAt08000000);
  Open(path);
  station.FileOpenBtnClick();

  ASSERT_EQ(fe.openDialogs.size(), 1u);
  EXPECT_EQ(fe.openDialogs[0].filterIndex, 5);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "File \"" + path + "\" has been loaded!",
                         kSep,
                         "目标Flash首地址 = 0x8000000.",
                         "目标Flash尾地址 = 0x801FFFF.",
                         kSep,
                         "目标文件首地址 = 0x8000000.",
                         "目标文件尾地址 = 0x800000F.",
                         kSep,
                         "主 Flash CRC CheckSum = 0x02D0",
                         "主 Flash ACC CheckSum = 0xF088",
                         kSep,
                     }));
  EXPECT_EQ(station.settings().fileCrc, 0x02D0);
  EXPECT_EQ(station.settings().fileSum, 0xF088);
  EXPECT_EQ(station.window().StatusBar1[0], "文件校验和：0x0078");
  EXPECT_EQ(station.window().StatusBar1[1], "芯片校验和：0xF088");
  EXPECT_EQ(station.window().StatusBar1[2], path);
  EXPECT_EQ(station.settings().loadedFileName, "app.hex");
  EXPECT_FALSE(station.window().DateEdit.empty());
  EXPECT_TRUE(station.dataLoaded());
  EXPECT_TRUE(station.fileLoaded());
  EXPECT_FALSE(station.form().CheckBoxOpt.checked);  // the file brought no option bytes

  const HexView& view = station.HexViewer();
  ASSERT_EQ(view.RowCount(), 0x20000u / 16);
  EXPECT_EQ(view.CellText(0, 0), "0x08000000");
  EXPECT_EQ(view.CellText(0, 16), "0F");
  EXPECT_EQ(view.CellText(1, 1), "FF");
  EXPECT_EQ(view.CellText(0x1FFF, 0), "0x0801FFF0");
}

// The stations of a gang run one job: a station that takes another's job shows the same part,
// image, checksums and views without reading the file or adding a panel line, and holds no
// image of its own until one of them changes theirs; then the other keeps what it had.
TEST_F(StationTest, AStationTakesAnothersJobAndSharesItsImageUntilOneChangesIt) {
  ChooseChip("N32G452CBL7");
  const std::string first = dir.Write("app.hex", kHexAt08000000);
  Open(first);
  station.FileOpenBtnClick();

  FakeFrontend otherFe;
  Station other{otherFe, [this] { return now; }};
  other.SetPortSources(testing::NoPorts(dir.path()));
  other.FormShow({dir.path(), "", ""});
  other.ClearInformation1Click();
  other.AdoptJob(station);

  EXPECT_TRUE(other.info().Lines().empty());
  EXPECT_TRUE(otherFe.openDialogs.empty());
  EXPECT_EQ(other.chip().chipName, "N32G452CBL7");
  EXPECT_TRUE(other.dataLoaded());
  EXPECT_TRUE(other.fileLoaded());
  EXPECT_EQ(other.settings().fileCrc, 0x02D0);
  EXPECT_EQ(other.window().StatusBar1[2], first);
  EXPECT_EQ(&std::as_const(other).image(), &std::as_const(station).image());
  EXPECT_TRUE(other.job().ImageShared());
  EXPECT_EQ(other.HexViewer().CellText(0, 16), "0F");

  // Load More Data on the first station: its own copy changes, the other's job does not.
  const std::string more = dir.Write("more.hex", kHexAt08000100);
  Open(more);
  station.SpdBtnLoadMoreClick();
  EXPECT_NE(&std::as_const(other).image(), &std::as_const(station).image());
  EXPECT_FALSE(other.job().ImageShared());
  EXPECT_EQ(std::as_const(station).image().flash[0x100], 'm');
  EXPECT_EQ(std::as_const(other).image().flash[0x100], 0xFF);
  EXPECT_EQ(station.HexViewer().CellText(0x10, 1), "6D");
  EXPECT_EQ(other.HexViewer().CellText(0x10, 1), "FF");
  EXPECT_EQ(other.HexViewer().CellText(0, 16), "0F");
}

// A file that is refused (broken headers, unreadable) or whose load offset is declined is never
// announced as loaded; the panel shows nothing of it.
TEST_F(StationTest, ARefusedFileIsNotAnnouncedAsLoaded) {
  ChooseChip("N32G452CBL7");
  std::string elf =
      "\x7F"
      "ELF";
  elf.resize(64, '\0');
  struct Case {
    const char* what;
    std::string path;
    std::optional<std::string> offset;
  } cases[] = {
      {"broken ELF", dir.Write("broken.elf", elf), std::nullopt},
      {"missing file", (dir.path() / "missing.hex").string(), std::nullopt},
      {"declined offset", dir.Write("app.bin", "abcd"), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    station.ClearInformation1Click();
    fe.loadOffsets.push_back(c.offset);
    Open(c.path);
    station.FileOpenBtnClick();
    for (const std::string& line : Lines()) {
      EXPECT_EQ(line.find("has been loaded"), std::string::npos) << line;
    }
    EXPECT_FALSE(station.dataLoaded());
    fe.loadOffsets.clear();
  }
}

TEST_F(StationTest, TheShortN32G003LeavesItsLast512BytesOutOfViewAndChecksums) {
  ChooseChip("N32G003F5Q7");
  ASSERT_EQ(station.chip().flashSizeKB, 30);
  station.ClearInformation1Click();
  Open(dir.Write("app.bin", std::string(0x7800, '\x01')));
  station.FileOpenBtnClick();
  ASSERT_EQ(fe.loadOffsetPrompts, (std::vector<std::string>{"0x08000000"}));
  EXPECT_EQ(station.settings().fileCrc, 0x67E0);
  EXPECT_EQ(station.settings().fileSum, 0x7600);
  EXPECT_EQ(station.window().StatusBar1[0], "文件校验和：0x7800");
  EXPECT_EQ(station.HexViewer().RowCount(), 0x7800u / 16 - 32);
  EXPECT_NE(std::find(Lines().begin(), Lines().end(), "目标文件尾地址 = 0x80077FF."),
            Lines().end());
}

TEST_F(StationTest, TheSummaryWithoutAConfirmedChipReportsTheFileChecksums) {
  station.ShowImageSummary();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         kSep,
                         "目标Flash首地址 = 0x8000000.",
                         "目标Flash尾地址 = 0x801FFFF.",
                         kSep,
                         "File CRC CheckSum = 0x3A8E",
                         "File ACC CheckSum  = 0x0000",
                         kSep,
                     }));
  EXPECT_EQ(station.window().StatusBar1[0], "文件校验和：0x0000");
  EXPECT_EQ(station.window().StatusBar1[1], "芯片校验和：0x0000");
}

TEST_F(StationTest, LoadMoreKeepsEarlierBytesAndTheFirstFilesName) {
  ChooseChip("N32G452CBL7");
  const std::string first = dir.Write("first.hex", kHexAt08000000);
  Open(first);
  station.FileOpenBtnClick();
  const std::string date = station.window().DateEdit;
  Open(dir.Write("second.hex", kHexAt08000100));
  station.SpdBtnLoadMoreClick();

  const auto& flash = station.image().flash;
  EXPECT_EQ(flash[0x0F], 0x0F);
  EXPECT_EQ(flash[0x100], 'm');
  EXPECT_EQ(flash[0x10F], '!');
  EXPECT_EQ(flash[0x80], 0xFF);
  EXPECT_EQ(station.settings().loadedFileName, "first.hex");
  EXPECT_EQ(station.window().StatusBar1[2], first);
  EXPECT_EQ(station.window().DateEdit, date);
  EXPECT_EQ(station.image().lowest, 0x08000100u);  // the extent is the last file's
}

TEST_F(StationTest, FileCommandsWantAChipAndSaveMemoryWantsData) {
  struct Row {
    const char* what;
    void (Station::*command)();
  } rows[] = {
      {"load object file", &Station::FileOpenBtnClick},
      {"load more data", &Station::SpdBtnLoadMoreClick},
      {"load option-byte file", &Station::LoadOptionByteFile1Click},
      {"load OTP data file", &Station::LoadOTPDataFile1Click},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fe.questions.clear();
    (station.*row.command)();
    EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"请先选择芯片型号！"}));
    EXPECT_TRUE(fe.openDialogs.empty());
  }
  fe.questions.clear();
  station.FileSaveBtnClick();
  EXPECT_TRUE(fe.questions.empty());
  EXPECT_TRUE(fe.saveDialogs.empty());
}

TEST_F(StationTest, ChoosingAChipAgainClearsTheLoadedData) {
  ChooseChip("N32G452CBL7");
  Open(dir.Write("app.hex", kHexAt08000000));
  station.FileOpenBtnClick();
  ASSERT_TRUE(station.dataLoaded());
  station.ClearInformation1Click();

  ChooseChip("N32G452CBL7");
  EXPECT_FALSE(station.dataLoaded());
  EXPECT_EQ(station.HexViewer().RowCount(), 0u);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Chip \"N32G452CBL7\" is Selected!"}));
  EXPECT_EQ(station.form().MCUNameEdit.text, "N32G452CBL7");
  EXPECT_FALSE(station.form().CheckBoxOpt.checked);
  EXPECT_TRUE(station.form().CheckBoxOpt.visible);
  EXPECT_EQ(station.form().lbFlashSize.caption, "128K");
  EXPECT_EQ(station.form().lbEEPSize.caption, "NILL");
  EXPECT_EQ(station.settings().eraseCtrl, 0);
}

TEST_F(StationTest, ClosingTheChipDialogUnconfirmedStillRewritesTheNameField) {
  station.DevButtonClick();
  EXPECT_EQ(fe.chipDialogsShown, 1);
  EXPECT_EQ(station.form().MCUNameEdit.text, "");
  EXPECT_FALSE(station.form().CheckBoxOpt.checked);
  EXPECT_EQ(station.form().lbFlashSize.caption, "128K");
  EXPECT_TRUE(station.info().Lines().empty());
  EXPECT_EQ(station.chip().chipConfirmed, 0);
}

TEST_F(StationTest, ThePartDecidesWhichOptionByteControlsAndMenusShow) {
  struct Row {
    const char* name;
    bool optVisible, optEnabled, buttonVisible, optionMenus, swdioVisible;
  } rows[] = {
      {"N32G452CBL7", true, true, true, true, false},
      {"N32G020K7xx", true, false, true, true, false},
      {"N32WB031KEQ6", false, true, false, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ChooseChip(row.name);
    const JobForm& f = station.form();
    EXPECT_EQ(f.CheckBoxOpt.visible, row.optVisible);
    EXPECT_EQ(f.CheckBoxOpt.enabled, row.optEnabled);
    EXPECT_EQ(f.ButtonOpt.enabled, row.optEnabled);
    EXPECT_EQ(f.ButtonOpt.visible, row.buttonVisible);
    EXPECT_EQ(station.window().WriteOptionByte1, row.optionMenus);
    EXPECT_EQ(station.window().ReadOptionByte1, row.optionMenus);
    EXPECT_FALSE(station.window().LoadOTPDataFile1);
    EXPECT_EQ(f.ChkBoxDlySkp.visible, row.swdioVisible);
  }
}

TEST_F(StationTest, TheShutdownLogIsWrittenForSevenLinesAndNotForSix) {
  for (int i = 0; i < 6; ++i) station.AddInfoLine("line");
  EXPECT_FALSE(station.FormClose());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "Log"));

  station.AddInfoLine("seventh");
  const auto log = station.FormClose();
  ASSERT_TRUE(log);
  EXPECT_EQ(*log, dir.path() / "Log" / "NAT_2024_01_05_14_03_22.log");
  const std::string text = ReadAll(*log);
  EXPECT_TRUE(text.starts_with("> 14:03:22 line\r\n"));
  EXPECT_TRUE(text.ends_with("> 14:03:22 seventh\r\n"));
  EXPECT_TRUE(fe.questions.empty());
}

TEST_F(StationTest, AFailedShutdownLogSaysSoAndClosingGoesOn) {
  std::filesystem::remove_all(dir.path() / "Log");
  dir.Write("Log", "a file where the folder should be");
  for (int i = 0; i < 7; ++i) station.AddInfoLine("line");
  EXPECT_FALSE(station.FormClose());
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"Write Log File error!"}));
}

TEST_F(StationTest, ThePeriodicLogGoesBesideTheExecutableAndKeepsThePanel) {
  station.AddInfoLine("Total OK Number is : 500, NG is 0");
  const auto log = station.WritePeriodicLog();
  ASSERT_TRUE(log);
  EXPECT_EQ(*log, dir.path() / "NATx_2024_01_05_14_03_22.log");
  EXPECT_EQ(ReadAll(*log), "> 14:03:22 Total OK Number is : 500, NG is 0\r\n");
  EXPECT_EQ(station.info().LineCount(), 1u);
}

TEST_F(StationTest, TheRightOptionByteEditorOpensAndTheBoxFollowsTheImage) {
  struct Row {
    const char* name;
    const char* editor;
    bool tickedAfterClosing;
  } rows[] = {
      {"N32G452CBL7", "general", false}, {"N32G432KBL7", "general", false},
      {"N32G430K8L7", "g430", false},    {"N32G031K8L7", "m0", false},
      {"N32G003F5Q7", "m0", true},  // its default user byte is not 0xFF
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ChooseChip(row.name);
    std::string opened;
    fe.optionByteEditorActions.push_back([&opened](OptionByteEditor& e) {
      if (dynamic_cast<TNxM0OptBForm*>(&e)) opened = "m0";
      if (dynamic_cast<TN32G430xOptBForm*>(&e)) opened = "g430";
      if (dynamic_cast<TN32xOptBForm*>(&e)) opened = "general";
    });
    station.ButtonOptClick();
    EXPECT_EQ(opened, row.editor);
    EXPECT_EQ(station.form().CheckBoxOpt.checked, row.tickedAfterClosing);
  }
  ChooseChip("N32G452CBL7");
  fe.optionByteEditorActions.push_back([](OptionByteEditor& e) {
    e.ComBoxROP.itemIndex = 1;  // level 1
    e.ComBoxROPChange();
  });
  station.ButtonOptClick();
  EXPECT_EQ(station.optionBytes()[0], 0x00);
  EXPECT_TRUE(station.form().CheckBoxOpt.checked);
}

TEST_F(StationTest, OptionBytesSaveInTheChosenFormatAndLoadBack) {
  ChooseChip("N32G452CBL7");
  station.optionBytes()[4] = 0x12;
  station.optionBytes()[5] = 0xED;
  const OptionByteImage saved = station.optionBytes();

  const std::string bin = (dir.path() / "ob.bin").string();
  SaveAs(bin, 1);
  station.SaveOptionByte1Click();
  EXPECT_EQ(ReadAll(bin), std::string(saved.begin(), saved.end()));

  for (const char* name : {"ob.hex", "ob.s19"}) {
    SCOPED_TRACE(name);
    const std::string path = (dir.path() / name).string();
    SaveAs(path, std::string(name).ends_with("hex") ? 2 : 3);
    station.SaveOptionByte1Click();
    station.optionBytes().fill(0);
    station.ClearInformation1Click();
    Open(path);
    station.LoadOptionByteFile1Click();
    EXPECT_EQ(station.optionBytes(), saved);
    EXPECT_TRUE(fe.questions.empty()) << fe.Texts()[0];
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Option Byte Setting: A5 FF 12 FF FF FF FF FF FF ",
                           "Option Byte Buffer: A5 5A FF 00 12 ED FF 00 FF 00 FF 00 FF 00 FF 00 "
                           "FF 00 8F 70 ",
                       }));
  }
  EXPECT_TRUE(ReadAll(dir.path() / "ob.hex").starts_with(":020000041FFFDC"));

  Open(bin);
  station.optionBytes().fill(0);
  station.LoadOptionByteFile1Click();
  EXPECT_EQ(station.optionBytes(), saved);
}

TEST_F(StationTest, OtpDataFilesAreReadByTheirExtension) {
  ChooseChip("N32G452CBL7");
  station.ClearInformation1Click();
  // One S3 record of four bytes at the EEP data window's start.
  const std::string s19 = dir.Write("otp.s19", "S30908080000A1B2C3D4FC\n");
  Open(s19);
  station.LoadOTPDataFile1Click();
  EXPECT_TRUE(fe.questions.empty()) << fe.Texts()[0];
  EXPECT_EQ(station.image().otp[0], 0xA1);
  EXPECT_EQ(station.image().otp[3], 0xD4);
  EXPECT_EQ(station.image().otp[4], 0xFF);
  EXPECT_EQ(station.info().Lines().front(),
            "> Load OTP Data file of \"" + s19 + "\" at 2024-01-05,14:03:22");
  EXPECT_TRUE(station.window().TabSheetEEPVisible);

  Open(dir.Write("otp.s28", "S30908080000A1B2C3D4FC\n"));  // not ".S19": read as binary
  station.LoadOTPDataFile1Click();
  EXPECT_EQ(station.image().otp[0], 'S');
  EXPECT_EQ(station.image().otp[1], '3');
}

TEST_F(StationTest, SaveMemoryWritesTheFlashWindowInTheChosenFormat) {
  ChooseChip("N32G003F4Q7");  // 16 KiB
  Open(dir.Write("app.hex", kHexAt08000000));
  station.FileOpenBtnClick();
  const std::string bin = (dir.path() / "out.bin").string();
  SaveAs(bin, 1);
  station.FileSaveBtnClick();
  const std::string data = ReadAll(bin);
  ASSERT_EQ(data.size(), 16u * 1024);
  EXPECT_EQ(data[15], '\x0F');
  EXPECT_EQ(data[16], '\xFF');

  const std::string hex = (dir.path() / "out.hex").string();
  SaveAs(hex, 2);
  station.FileSaveBtnClick();
  EXPECT_TRUE(ReadAll(hex).starts_with(":020000040800F2\r\n:20000000000102030405"));
}

TEST_F(StationTest, SavingAProjectWantsAChipAndData) {
  station.SavetoProjectFile1Click();
  ChooseChip("N32G452CBL7");
  station.SavetoProjectFile1Click();
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"未选择芯片型号！", "未加载目标文件！"}));
  EXPECT_TRUE(fe.saveDialogs.empty());
}

TEST_F(StationTest, AProjectRestoresChipImageOptionBytesAndEveryControl) {
  ChooseChip("N32G452CBL7");
  Open(dir.Write("app.hex", kHexAt08000000));
  station.FileOpenBtnClick();
  station.optionBytes()[6] = 0x34;
  station.optionBytes()[7] = 0xCB;
  JobForm& f = station.form();
  f.RadioGpVolt.itemIndex = 1;
  f.CheckBoxOpt.checked = true;
  f.ChkBoxBlkEr.checked = true;
  f.ChkBoxAuto.checked = false;
  f.SpinEditIn.Set(900);
  f.SpinEditOut.Set(1200);
  f.SpinEditVddTim.Set(250);
  f.SpinEditRstTim.Set(30);
  f.SpinEditRTM.Set(1000);
  f.ChkBoxVDD.checked = false;
  f.RadioGrpRST.itemIndex = 2;
  f.CheckBoxRun.checked = true;
  f.ChkBoxRunSHT.checked = true;
  f.CheckBoxCtrl.checked = true;
  f.SpinEditNum.Set(5000);
  f.CheckBoxSN.checked = true;
  f.ChkBoxSNDP.checked = true;
  f.SNEdit1.text = "3000000000";
  f.SNEdit2.text = "2";
  f.SNEdit3.text = "3";
  f.SNEdit4.text = "4";
  f.GainEdit.text = "16";
  f.AddrEdit.text = "0x08001000";
  const std::string project = (dir.path() / "job.kvn").string();
  SaveAs(project, 1);
  fe.questions.clear();
  station.SavetoProjectFile1Click();
  ASSERT_EQ(fe.Texts(), (std::vector<std::string>{"Created Project File : " + project}));
  EXPECT_EQ(fe.saveDialogs[0].title, "Save to Korvan200xx Project File");
  const JobSettings saved = station.settings();
  const OptionByteImage savedOptionBytes = station.optionBytes();

  FakeFrontend frontend;
  Station other(frontend, [this] { return now; });
  other.SetPortSources(testing::NoPorts(dir.path()));
  other.FormShow({dir.path(), "", ""});
  frontend.questions.clear();
  frontend.openChoices.push_back(FileChoice{project, 1});
  other.SpdBtnLdPrjClick();
  ASSERT_EQ(frontend.Texts(), (std::vector<std::string>{"Project File Open Success!"}));
  // After the greeting, the empty line and the two lines about the missing firmware image.
  EXPECT_EQ(other.info().Lines()[4],
            "> 14:03:22 Load Tobrin Project file of \"" + project + "\" at 2024-01-05");

  EXPECT_EQ(other.chip().chipName, "N32G452CBL7");
  EXPECT_EQ(other.chip().chipConfirmed, 1);
  EXPECT_TRUE(other.dataLoaded());  // ready for Program and Verify without choosing again
  EXPECT_FALSE(other.fileLoaded());
  EXPECT_EQ(other.form().MCUNameEdit.text, "N32G452CBL7");
  EXPECT_EQ(other.window().StatusBar1[2], "app.hex");
  EXPECT_EQ(other.image().flash[0x0F], 0x0F);
  EXPECT_EQ(other.image().flash[0x10], 0xFF);
  EXPECT_EQ(other.optionBytes(), savedOptionBytes);
  EXPECT_EQ(other.settings().fileCrc, 0x02D0);
  EXPECT_EQ(other.HexViewer().RowCount(), 0x20000u / 16);

  const JobForm& g = other.form();
  EXPECT_EQ(g.RadioGpVolt.itemIndex, 1);
  EXPECT_TRUE(g.CheckBoxOpt.checked);
  EXPECT_TRUE(g.ChkBoxBlkEr.checked);
  EXPECT_FALSE(g.ChkBoxAuto.checked);
  EXPECT_EQ(g.SpinEditIn.value, 900);
  EXPECT_EQ(g.SpinEditOut.value, 1200);
  EXPECT_EQ(g.SpinEditVddTim.value, 250);
  EXPECT_EQ(g.SpinEditRstTim.value, 30);
  EXPECT_EQ(g.SpinEditRTM.value, 1000);
  EXPECT_FALSE(g.ChkBoxVDD.checked);
  EXPECT_EQ(g.RadioGrpRST.itemIndex, 2);
  EXPECT_TRUE(g.CheckBoxRun.checked);
  EXPECT_TRUE(g.ChkBoxRunSHT.checked);
  EXPECT_TRUE(g.CheckBoxCtrl.checked);
  EXPECT_EQ(g.SpinEditNum.value, 5000);
  EXPECT_TRUE(g.CheckBoxSN.checked);
  EXPECT_TRUE(g.ChkBoxSNDP.checked);
  EXPECT_TRUE(g.SNOrderChk.checked);
  EXPECT_EQ(g.SNEdit1.text, "3000000000");
  EXPECT_EQ(g.SNEdit2.text, "2");
  EXPECT_EQ(g.SNEdit4.text, "4");
  EXPECT_EQ(g.GainEdit.text, "16");
  EXPECT_EQ(g.AddrEdit.text, "0x08001000");

  // Assembling again from the restored window gives the job that was saved.
  ASSERT_TRUE(other.AssembleJobSettings());
  EXPECT_EQ(other.settings(), saved);
}

TEST_F(StationTest, ANumberTextThatIsNoNumberStopsTheAssemblyWithItsMessage) {
  ChooseChip("N32G452CBL7");
  station.ClearInformation1Click();
  station.form().GainEdit.text = "one";
  EXPECT_FALSE(station.AssembleJobSettings());
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"'one' is not a valid integer value"}));
  EXPECT_EQ(fe.questions[0].kind, MessageKind::Error);
  EXPECT_TRUE(station.info().Lines().empty());

  station.form().GainEdit.text = "0x01";
  EXPECT_TRUE(station.AssembleJobSettings());
  EXPECT_EQ(station.info().Lines(),
            (std::vector<std::string>{
                "> Control Setting(Hex): 00,00,0080,0000,00,60,20,0F,00,00,00,14."}));
}

}  // namespace
}  // namespace korvan
