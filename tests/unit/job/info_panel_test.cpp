#include "core/job/info_panel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/job/hex_view.h"
#include "core/app/log_file.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;

LocalTime At(int hour, int minute, int second) {
  return {2024, 1, 5, hour, minute, second};
}

TEST(InfoMemo, TimedLinesUntimedLinesAndTheSeparator) {
  LocalTime now = At(9, 3, 7);
  InfoMemo panel([&] { return now; });
  panel.AddInfoLine("Hello! Korvan200NAT User!");
  panel.AddLine("");
  now = At(14, 3, 22);
  panel.AddInfoLine("芯片1 ：编程操作成功!");
  panel.AddSeparator();
  EXPECT_EQ(panel.Lines(), (std::vector<std::string>{
                               "> 09:03:07 Hello! Korvan200NAT User!",
                               "",
                               "> 14:03:22 芯片1 ：编程操作成功!",
                               "...........................................",
                           }));
  EXPECT_EQ(panel.Lines()[3].size(), 43u);
}

TEST(InfoMemo, CopyTakesTheSelectionOrElseEverythingAndClearEmpties) {
  InfoMemo panel([] { return At(1, 2, 3); });
  panel.AddLine("one");
  panel.AddLine("two");
  EXPECT_EQ(panel.CopytoCli1Click("tw"), "tw");
  EXPECT_EQ(panel.CopytoCli1Click(""), "one\ntwo");
  panel.ClearInformation1Click();
  EXPECT_EQ(panel.LineCount(), 0u);
  EXPECT_EQ(panel.CopytoCli1Click(""), "");
}

using testing::ReadAll;
using testing::TempDir;

TEST(LogFile, NamesCarryTheMomentWithUnderscores) {
  const LocalTime t{2024, 1, 5, 14, 3, 22};
  EXPECT_EQ(ShutdownLogName(t), "NAT_2024_01_05_14_03_22.log");
  EXPECT_EQ(PeriodicLogName(t), "NATx_2024_01_05_14_03_22.log");
}

// Runs that close in the same second each keep their log: a later one takes the next free
// suffix, and an older log is never overwritten.
TEST(LogFile, WritesEveryLineWithCrLfAndNeverOverwritesALogOfTheSameName) {
  TempDir dir;
  const fs::path file = dir.path() / "NAT_2024_01_05_14_03_22.log";
  const std::vector<std::pair<std::string, std::string>> runs = {
      {"NAT_2024_01_05_14_03_22.log", "> 14:03:22 一"},
      {"NAT_2024_01_05_14_03_22-2.log", "second run"},
      {"NAT_2024_01_05_14_03_22-3.log", "third run"},
  };
  for (const auto& [name, line] : runs) {
    fs::path written;
    ASSERT_FALSE(WriteLogFile(file, {line, "", "two"}, &written));
    EXPECT_EQ(written, dir.path() / name);
  }
  for (const auto& [name, line] : runs)
    EXPECT_EQ(ReadAll(dir.path() / name), line + "\r\n\r\ntwo\r\n");
  // Nothing but the logs themselves is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

TEST(LogFile, AFailedWriteLeavesNothingBehindAndSaysWhy) {
  TempDir dir;
  const fs::path file = dir.path() / "missing" / "NAT.log";
  const auto error = WriteLogFile(file, {"line"});
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("NAT.log"), std::string::npos);
  EXPECT_FALSE(fs::exists(file));
}

TEST(LogFile, LogsGoBesideTheExecutableOrElseToTheStateFolder) {
  TempDir dir;
  const LogLocation beside = PrepareLogLocation(dir.path(), nullptr, nullptr);
  EXPECT_TRUE(beside.besideExecutable);
  EXPECT_EQ(beside.shutdownDir, dir.path() / "Log");
  EXPECT_EQ(beside.periodicDir, dir.path());
  EXPECT_TRUE(fs::is_directory(dir.path() / "Log"));

  const fs::path state = dir.path() / "state";
  const LogLocation fallback =
      PrepareLogLocation(dir.path() / "no-such-folder", state.c_str(), "/home/nobody");
  EXPECT_FALSE(fallback.besideExecutable);
  EXPECT_EQ(fallback.shutdownDir, state / "korvan200nat" / "Log");
  EXPECT_TRUE(fs::is_directory(fallback.shutdownDir));

  const LogLocation home = PrepareLogLocation("", "", dir.path().c_str());
  EXPECT_EQ(home.shutdownDir, dir.path() / ".local" / "state" / "korvan200nat" / "Log");
}

TEST(HexView, CellsAreFormattedFromTheImageOnDemand) {
  std::vector<std::uint8_t> image(64, 0xFF);
  for (int i = 0; i < 16; ++i) image[16 + i] = static_cast<std::uint8_t>(0x78 + i);
  image[17] = 0x1F;
  image[18] = 0x20;
  HexView view;
  view.Show(image, 0x08000000, 4);
  ASSERT_EQ(view.RowCount(), 4u);
  EXPECT_EQ(view.CellText(0, 0), "0x08000000");
  EXPECT_EQ(view.CellText(1, 0), "0x08000010");
  EXPECT_EQ(view.CellText(3, 0), "0x08000030");
  EXPECT_EQ(view.CellText(0, 1), "FF");
  EXPECT_EQ(view.CellText(1, 1), "78");
  EXPECT_EQ(view.CellText(1, 16), "87");
  // 0x20..0x7F (0x7F included) as characters, below 0x20 and from 0x80 as ".".
  EXPECT_EQ(view.CellText(1, 17), "x. {|}~\x7f........");
  EXPECT_EQ(view.CellText(0, 17), "................");

  EXPECT_EQ(HexView::HeaderText(0), "");
  EXPECT_EQ(HexView::HeaderText(1), "  0");
  EXPECT_EQ(HexView::HeaderText(16), "  F");
  EXPECT_EQ(HexView::HeaderText(17), "");
}

TEST(HexView, NeverReadsPastTheImageAndClearsToTheHeader) {
  std::vector<std::uint8_t> image(40, 0);
  HexView view;
  view.Show(image, 0, 100);
  EXPECT_EQ(view.RowCount(), 2u);
  view.Clear();
  EXPECT_EQ(view.RowCount(), 0u);
}

}  // namespace
}  // namespace korvan
