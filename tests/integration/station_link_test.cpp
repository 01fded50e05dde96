// The station against emulated programmers: discovery, download, Auto and the other operations.
// A few run end to end over pseudo-terminals and real serial ports in real time; the rest run
// the programmer models in process on the virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <ostream>

#include "core/image/firmware_image.h"
#include "core/util/format.h"
#include "station_rig.h"

namespace korvan {
namespace {

using testing::StationRig;
using testing::Wire;

TEST(StationLink, TheFirstShowingListsThePortsAndFindsTheProgrammers) {
  sim::Options options;
  options.count = 3;
  StationRig rig(options, {}, true, Wire::Pseudoterminal);
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Connected() == 3; }, 10));
  EXPECT_EQ(rig.station.window().ComboBoxCOMItems, rig.Ports());
  EXPECT_EQ(rig.station.window().ComboBoxCOMText, rig.Ports().back());
  EXPECT_TRUE(rig.HasLine("查找设备3............"));
  EXPECT_FALSE(rig.HasLine("查找设备4............"));
  EXPECT_EQ(rig.station.channel(4).connected, 0);
  EXPECT_GE(rig.listener.channelsChanged, 3);
}

TEST(StationLink, FindsFourProgrammersAndRunsAutoOnEachPart) {
  StationRig rig({}, {}, false, Wire::Pseudoterminal);
  ASSERT_TRUE(rig.Search(4));
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(rig.station.IdentityText(n), "Korvan200NAT V2.9");
    EXPECT_EQ(rig.station.channel(n).pendingCommand, kPendingIdle);
  }
  EXPECT_TRUE(rig.HasLine("找到设备1 ：Korvan200NAT V2.9!"));
  EXPECT_TRUE(rig.HasLine("找到设备4 ：Korvan200NAT V2.9!"));
  EXPECT_EQ(rig.station.window().InfoPanel, "Korvan200NAT V2.9");

  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024));
  rig.station.form().CheckBoxOpt.checked = true;  // "Program Option Byte"
  rig.station.AutoSpdBtnClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  for (int n = 1; n <= 4; ++n) {
    const auto& outcome = rig.station.channel(n).lastOutcome;
    ASSERT_TRUE(outcome.has_value()) << n;
    EXPECT_EQ(outcome->result, OperationResult::Ok) << outcome->message;
    EXPECT_EQ(outcome->command, kPendingWriteOptionBytes);
    EXPECT_TRUE(outcome->autoCycle);
    const auto snapshot = rig.emulator().Snapshot(n);
    ASSERT_EQ(snapshot.target.flash.size(), image.size());
    EXPECT_TRUE(snapshot.target.flash == image) << "channel " << n;
  }
  EXPECT_EQ(rig.station.totalCounter(), 4);
  EXPECT_TRUE(rig.HasLine("芯片3 ：写Option Byte操作成功!"));
}

}  // namespace
}  // namespace korvan

namespace korvan {
namespace {

using testing::StationRig;

sim::Options Count(int count) {
  sim::Options options;
  options.count = count;
  return options;
}

// A firmware image beside the executable whose firmware reports `identity` once installed.
std::function<void(const std::filesystem::path&)> FirmwareImage(const std::string& version,
                                                                const std::string& identity) {
  return [=](const std::filesystem::path& dir) {
    // Three blocks of 1024 address units; the identity text sits in the middle block.
    std::vector<std::uint8_t> firmware(3 * 2048, 0x5A);
    std::copy(identity.begin(), identity.end(), firmware.begin() + 2048 + 100);
    firmware[2048 + 100 + identity.size()] = 0;
    std::string error;
    const auto file = PackFirmwareImage(firmware, {version, "station test", 0, 0, 11}, error);
    ASSERT_FALSE(file.empty()) << error;
    std::ofstream(dir / kFirmwareFileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  };
}

TEST(StationLink, AnOlderProgrammerIsUpgradedAndAnswersWithTheNewVersionAfterANewSearch) {
  StationRig rig(Count(2), FirmwareImage("V3.0", "Korvan200NAT V3.0"));
  ASSERT_TRUE(rig.station.firmwarePresent());
  rig.station.BitBtnFindDevClick();
  // Both programmers report V2.9: each gets the firmware, then is idle and connected.
  ASSERT_TRUE(rig.RunUntil(
      [&] { return rig.station.channel(1).lastOutcome && rig.station.channel(2).lastOutcome; }));
  for (int n = 1; n <= 2; ++n) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_EQ(outcome.command, kPendingFirmwareUpgrade);
    EXPECT_EQ(outcome.result, OperationResult::Ok) << outcome.message;
    EXPECT_EQ(rig.station.channel(n).gauge.progress, rig.station.channel(n).gauge.maximum);
  }
  const auto lines = rig.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "开始升级编程器固件......"), 2);
  EXPECT_TRUE(rig.HasLine("Firmware Upgrade Completed!"));
  ASSERT_TRUE(rig.RunUntil(
      [&] {
        return rig.emulator().Snapshot(1).identity.ends_with("V3.0") &&
               rig.emulator().Snapshot(2).identity.ends_with("V3.0");
      },
      5));

  ASSERT_TRUE(rig.Search(2));
  EXPECT_EQ(rig.station.IdentityText(1), "Korvan200NAT V3.0");
  EXPECT_TRUE(rig.HasLine("找到设备2 ：Korvan200NAT V3.0!"));
  EXPECT_FALSE(rig.station.AnyBusy());
}

TEST(StationLink, AProgrammerThatNeedsFirmwareIsUpgradedOnlyWhenAnImageIsPresent) {
  sim::Options options = Count(1);
  options.model = "MMN";
  {
    StationRig rig(options);
    rig.station.BitBtnFindDevClick();
    rig.RunUntil([] { return false; }, 0.3);
    EXPECT_EQ(rig.Connected(), 0);
    EXPECT_FALSE(rig.HasLine("未找到设备!"));
    EXPECT_FALSE(rig.HasLine("开始升级编程器固件......"));
  }
  StationRig rig(options, FirmwareImage("V3.0", "Korvan200NAT V3.0"));
  rig.station.BitBtnFindDevClick();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.station.channel(1).lastOutcome.has_value(); }));
  EXPECT_EQ(rig.station.channel(1).lastOutcome->result, OperationResult::Ok);
  ASSERT_TRUE(
      rig.RunUntil([&] { return rig.emulator().Snapshot(1).identity.ends_with("V3.0"); }, 5));
  ASSERT_TRUE(rig.Search(1));
  EXPECT_EQ(rig.station.IdentityText(1), "Korvan200NAT V3.0");
}

TEST(StationLink, DownloadOfSixKiBSendsTheSettingsTwoBlocksAndTheRestart) {
  StationRig rig(Count(2));
  ASSERT_TRUE(rig.Search(2));
  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(6 * 1024));
  rig.station.chip().flashSizeKB = 6;
  rig.station.chip().blockCount = 6;
  rig.station.form().CheckBoxSN.checked = true;
  rig.station.CheckBoxSNClick();
  rig.station.SpdBtnDownLoadClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  for (int n = 1; n <= 2; ++n) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_EQ(outcome.result, OperationResult::Ok) << outcome.message;
    EXPECT_EQ(outcome.command, kPendingDownload);
    const auto& gauge = rig.station.channel(n).gauge;
    EXPECT_EQ(gauge.progress, gauge.maximum);
    EXPECT_EQ(gauge.maximum, 6);
  }
  EXPECT_TRUE(rig.HasLine("编程器1 ：下载数据......"));
  EXPECT_TRUE(rig.HasLine("编程器2 : 下载操作成功!"));
  // The restart reaches the programmer after the last block.
  ASSERT_TRUE(rig.RunUntil([&] { return rig.emulator().Snapshot(2).requests == 5; }, 5));
  const auto job = rig.emulator().Snapshot(2).job;
  ASSERT_TRUE(job.present);
  EXPECT_EQ(job.imageBlocks, 2u);
  EXPECT_EQ(job.chipName, "N32G452CBL7");
  EXPECT_EQ(job.fileName, "image.bin");
  // Each channel gets its own start serial number; only channel 1's header names the flash start.
  EXPECT_EQ(job.snStart, 0x40000000u);
  EXPECT_EQ(job.snAddress, 0x0000FFF0u);
  EXPECT_EQ(rig.emulator().Snapshot(1).job.snStart, 0x00000000u);
  EXPECT_EQ(job.header[38] | job.header[41], 0);
  EXPECT_EQ(rig.emulator().Snapshot(1).job.header[41], 0x08);
  ASSERT_GE(job.image.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), job.image.begin()));
}

struct AutoCase {
  const char* name;
  sim::ChipState state;
  bool programOptionBytes;
  std::vector<std::string> lines;  // expected among channel 1's lines, in order
};

// Shown by name in test listings instead of as raw bytes.
void PrintTo(const AutoCase& c, std::ostream* os) {
  *os << c.name;
}

class StationAuto : public ::testing::TestWithParam<AutoCase> {};

TEST_P(StationAuto, CountsAndAdvancesSerialNumbersOnlyAfterTheOptionBytesAreWritten) {
  const AutoCase& c = GetParam();
  sim::Options options = Count(2);
  options.chipStates.push_back({c.state, 0});
  StationRig rig(options);
  ASSERT_TRUE(rig.Search(2));
  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024, 3));
  JobForm& form = rig.station.form();
  form.CheckBoxOpt.checked = c.programOptionBytes;
  form.CheckBoxSN.checked = true;
  rig.station.CheckBoxSNClick();
  form.ChkBoxPCSN.checked = true;

  rig.station.AutoSpdBtnClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  for (int n = 1; n <= 2; ++n) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_EQ(outcome.result, OperationResult::Ok) << outcome.message;
    EXPECT_TRUE(outcome.autoCycle);
    ASSERT_TRUE(outcome.serialNumber.has_value());
    // Every good cycle advances all four start values, so the channel that finishes second
    // names its start value plus one gain when option bytes are written.
    const std::uint32_t start = n == 1 ? 0x00000000u : 0x40000000u;
    EXPECT_GE(*outcome.serialNumber, start);
    EXPECT_LE(*outcome.serialNumber, start + (c.programOptionBytes ? 1 : 0));
    EXPECT_TRUE(rig.emulator().Snapshot(n).target.flash == image);
  }
  const std::vector<std::string> lines = rig.Lines();
  auto at = lines.begin();
  for (const std::string& expected : c.lines) {
    at = std::find(at, lines.end(), expected);
    ASSERT_NE(at, lines.end()) << expected;
  }
  if (c.programOptionBytes) {
    EXPECT_EQ(rig.station.totalCounter(), 2);
    EXPECT_EQ(form.SNEdit1.text, "0x00000002");
    EXPECT_EQ(form.SNEdit2.text, "0x40000002");
    EXPECT_FALSE(rig.emulator().Snapshot(1).target.ReadProtected());
  } else {
    EXPECT_EQ(rig.station.totalCounter(), 0);
    EXPECT_EQ(form.SNEdit1.text, "0x00000000");
    EXPECT_TRUE(rig.HasLine("操作成功！"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Parts, StationAuto,
    ::testing::Values(
        AutoCase{
            "BlankWithOptionBytes",
            sim::ChipState::Blank,
            true,
            {"芯片1 ：芯片查空......", "芯片1 ：当前芯片为空!", "芯片1 ：开始芯片编程...",
             "芯片1 ：编程操作成功!", "芯片1 ：开始数据校验......", "芯片1 ：Flash数据校验成功!",
             "芯片1 ：写Option Byte......", "芯片1 ：写Option Byte操作成功!"}},
        AutoCase{"ProgrammedWithOptionBytes",
                 sim::ChipState::Programmed,
                 true,
                 {"芯片1 ：当前芯片不为空!", "芯片1 ：芯片擦除......", "芯片1 ：擦除芯片操作成功!",
                  "芯片1 ：开始芯片编程...", "芯片1 ：写Option Byte操作成功!"}},
        AutoCase{"ProtectedWithOptionBytes",
                 sim::ChipState::Protected,
                 true,
                 {"芯片1 ：芯片已保护，擦除芯片...", "芯片1 ：擦除芯片操作成功!",
                  "芯片1 ：编程操作成功!", "芯片1 ：写Option Byte操作成功!"}},
        AutoCase{"BlankWithoutOptionBytes",
                 sim::ChipState::Blank,
                 false,
                 {"芯片1 ：当前芯片为空!", "芯片1 ：Flash数据校验成功!", "操作成功！"}},
        AutoCase{
            "ProgrammedWithoutOptionBytes",
            sim::ChipState::Programmed,
            false,
            {"芯片1 ：当前芯片不为空!", "芯片1 ：擦除芯片操作成功!", "芯片1 ：Flash数据校验成功!"}},
        AutoCase{"ProtectedWithoutOptionBytes",
                 sim::ChipState::Protected,
                 false,
                 {"芯片1 ：芯片已保护，擦除芯片...", "芯片1 ：Flash数据校验成功!"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Starts Auto the moment the second download ends, before that programmer has answered the
// restart request that closed its download.
struct AutoAfterTwoDownloads : testing::RecordingListener {
  Station* station = nullptr;
  int downloads = 0;
  void OperationEnded(int channel, const OperationOutcome& outcome) override {
    RecordingListener::OperationEnded(channel, outcome);
    if (outcome.command == kPendingDownload && ++downloads == 2) station->AutoSpdBtnClick();
  }
};

TEST(StationLink, AutoStartedTheMomentADownloadEndsGetsItsOwnReplies) {
  AutoAfterTwoDownloads listener;
  StationRig rig(Count(2));
  ASSERT_TRUE(rig.Search(2));
  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024, 3));
  listener.station = &rig.station;
  rig.station.SetListener(&listener);
  rig.station.SpdBtnDownLoadClick();
  ASSERT_TRUE(
      rig.RunUntil([&] { return listener.outcomes.size() == 4 && !rig.station.AnyBusy(); }));
  for (const auto& [n, outcome] : listener.outcomes) {
    EXPECT_EQ(outcome.result, OperationResult::Ok) << n << ": " << outcome.message;
  }
  for (int n = 1; n <= 2; ++n) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_TRUE(outcome.autoCycle) << n;
    EXPECT_EQ(outcome.command, kPendingVerify) << n;
    EXPECT_TRUE(rig.emulator().Snapshot(n).target.flash == image) << "channel " << n;
  }
  EXPECT_TRUE(rig.HasLine("编程器2 : 下载操作成功!"));
  EXPECT_FALSE(rig.HasLine("芯片1 ：数据包错误！"));
  EXPECT_FALSE(rig.HasLine("芯片2 ：数据包错误！"));
}

TEST(StationLink, ReadChipMemoryBringsBackWhatWasProgrammed) {
  StationRig rig(Count(1));
  ASSERT_TRUE(rig.Search(1));
  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024, 5));
  rig.station.SpdBtnProgClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  ASSERT_EQ(rig.station.channel(1).lastOutcome->result, OperationResult::Ok);

  rig.LoadImage(std::vector<std::uint8_t>(16, 0x00));
  rig.station.ReadChipMemoryX1Click();
  ASSERT_TRUE(rig.RunUntilIdle());
  EXPECT_EQ(rig.station.channel(1).lastOutcome->command, kPendingReadChipMemory);
  EXPECT_EQ(rig.station.channel(1).lastOutcome->result, OperationResult::Ok);
  EXPECT_TRUE(rig.HasLine("芯片 ：Main Flash读取成功!"));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.station.image().flash.begin()));
  EXPECT_TRUE(rig.station.dataLoaded());
}

TEST(StationLink, AVerifyMismatchAsksPerByteUntilAbortAndFailsTheChannel) {
  StationRig rig(Count(1));
  ASSERT_TRUE(rig.Search(1));
  rig.ChooseChip("N32G452CBL7");
  auto image = rig.LoadImage(StationRig::Pattern(128 * 1024, 7));
  rig.station.SpdBtnProgClick();
  ASSERT_TRUE(rig.RunUntilIdle());

  // Three bytes differ in one line of the second block, one more in a later line.
  for (std::size_t at : {0x1010u, 0x1012u, 0x1014u, 0x1040u}) image[at] ^= 0xFF;
  rig.LoadImage(image);
  rig.fe.questions.clear();
  rig.fe.answers = {Answer::Yes, Answer::Abort};
  rig.station.SpdBtnVerifyClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  ASSERT_EQ(rig.fe.questions.size(), 2u);
  EXPECT_EQ(rig.fe.questions[0].buttons, Buttons::YesAbort);
  EXPECT_EQ(rig.fe.questions[0].text,
            Format("Chip 1 ：Buffer Address 0x08001010 = 0x%02X, Chip = 0x%02X", image[0x1010],
                   image[0x1010] ^ 0xFF));
  EXPECT_TRUE(rig.fe.questions[1].text.starts_with("Chip 1 ：Buffer Address 0x08001012 = "));
  EXPECT_EQ(rig.station.channel(1).lastOutcome->status, 0x31);
  EXPECT_TRUE(rig.HasLine("芯片1 ：数据校验错误！"));
  EXPECT_EQ(rig.station.channel(1).gauge.colour, GaugeColour::Red);
}

TEST(StationLink, FiveHundredStandAloneResultsWriteThePeriodicLog) {
  sim::Options options = Count(4);
  options.standaloneParts = 125;
  options.ngEvery = 25;
  options.flashMs = 0;  // the stand-alone cycle waits the flash time even at memory speed
  StationRig rig(options);
  ASSERT_TRUE(rig.Search(4));
  rig.ChooseChip("N32G452CBL7");
  rig.LoadImage(StationRig::Pattern(8 * 1024));
  rig.station.SpdBtnDownLoadClick();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.listener.standAlone.size() == 500; }, 90))
      << rig.listener.standAlone.size();
  EXPECT_EQ(rig.station.totalOk() + rig.station.totalNg(), 500u);
  EXPECT_EQ(rig.station.totalNg(), 20u);
  EXPECT_EQ(rig.station.resultCount(), 0u);
  EXPECT_EQ(rig.station.totalCounter(), 480);
  EXPECT_EQ(rig.station.channel(3).okCount, 120u);
  EXPECT_EQ(rig.station.channel(3).ngCount, 5u);
  std::vector<std::filesystem::path> logs;
  for (const auto& entry : std::filesystem::directory_iterator(rig.dir())) {
    if (entry.path().filename().string().starts_with("NATx_")) logs.push_back(entry.path());
  }
  ASSERT_EQ(logs.size(), 1u);
  std::ifstream in(logs[0]);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("Total OK Number is : 480, NG is 20"), std::string::npos);
}

}  // namespace
}  // namespace korvan

namespace korvan {
namespace {

using testing::StationRig;

enum class Expect { Ok, Failed, TimedOut, NotConnected, Ends };

struct FaultCase {
  const char* name;
  const char* fault;  // korvan-sim's --fault text, on channel 2
  Expect expect;
  const char* line;  // channel 2's last line, when it has one
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class StationFault : public ::testing::TestWithParam<FaultCase> {};

// Auto on a blank 128 KiB part answers: 1 identity, 2 blank check, 3..34 program, 35..66
// verify, 67 option bytes.
TEST_P(StationFault, AFaultOnOneChannelLeavesTheOtherThreeUntouched) {
  const FaultCase& c = GetParam();
  sim::Options options;
  std::string error;
  const auto fault = sim::ParseFault(c.fault, &error);
  ASSERT_TRUE(fault.has_value()) << error;
  options.faults.push_back(*fault);
  StationRig rig(options);
  rig.station.BitBtnFindDevClick();
  const int expected = c.expect == Expect::NotConnected ? 3 : 4;
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Connected() == expected; }, 10));
  rig.RunUntil([] { return false; }, 0.05);
  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024, 9));
  rig.station.form().CheckBoxOpt.checked = true;
  rig.station.AutoSpdBtnClick();
  ASSERT_TRUE(rig.RunUntilIdle(30));

  for (int n : {1, 3, 4}) {
    const auto& outcome = rig.station.channel(n).lastOutcome;
    ASSERT_TRUE(outcome.has_value()) << n;
    EXPECT_EQ(outcome->result, OperationResult::Ok) << n << ": " << outcome->message;
    EXPECT_TRUE(rig.emulator().Snapshot(n).target.flash == image) << n;
  }
  const auto& outcome = rig.station.channel(2).lastOutcome;
  switch (c.expect) {
    case Expect::NotConnected:
      EXPECT_FALSE(outcome.has_value());
      EXPECT_FALSE(rig.HasLine("芯片2 ：芯片查空......"));
      break;
    case Expect::Ok:
      ASSERT_TRUE(outcome.has_value());
      EXPECT_EQ(outcome->result, OperationResult::Ok) << outcome->message;
      EXPECT_TRUE(rig.emulator().Snapshot(2).target.flash == image);
      break;
    case Expect::Failed:
    case Expect::TimedOut:
      ASSERT_TRUE(outcome.has_value());
      EXPECT_EQ(outcome->result,
                c.expect == Expect::Failed ? OperationResult::Failed : OperationResult::TimedOut);
      EXPECT_EQ(outcome->message, c.line);
      EXPECT_TRUE(rig.HasLine(c.line));
      EXPECT_EQ(rig.station.channel(2).gauge.colour, GaugeColour::Red);
      break;
    case Expect::Ends:
      ASSERT_TRUE(outcome.has_value());
      break;
  }
  EXPECT_EQ(rig.station.totalCounter(), c.expect == Expect::Ok ? 4 : 3);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StationFault,
    ::testing::Values(FaultCase{"Silent", "silent@2", Expect::NotConnected, ""},
                      FaultCase{"Crc", "crc@2:3", Expect::Failed, "芯片2 ：数据包校验错误！"},
                      FaultCase{"Escape", "escape@2:40", Expect::Failed, "芯片2 ：数据包错误！"},
                      FaultCase{"Garbage", "garbage@2:40", Expect::Ok, ""},
                      FaultCase{"Split", "split@2", Expect::Ok, ""},
                      FaultCase{"Drop", "drop@2:36", Expect::TimedOut, "芯片 2 ：操作超时！"},
                      FaultCase{"Duplicate", "duplicate@2:10", Expect::Ends, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StationLink, ASilentProgrammerTimesOutAfter300TicksInADownloadAnd1000InABlankCheck) {
  sim::Options options;
  options.count = 1;
  options.faults.push_back({sim::FaultKind::Drop, 1, 2});  // every second reply is lost
  StationRig rig(options);
  ASSERT_TRUE(rig.Search(1));  // reply 1
  rig.ChooseChip("N32G452CBL7");
  rig.LoadImage(StationRig::Pattern(4096));
  // The ticks are counted here: settling only delivers the replies.
  auto settle = [&] { rig.Settle(); };
  auto tick = [&](int count) {
    for (int i = 0; i < count; ++i) rig.station.Timer1Timer();
  };

  rig.station.SpdBtnDownLoadClick();  // reply 2 lost
  settle();
  tick(299);
  EXPECT_TRUE(rig.station.channel(1).busy);
  tick(1);
  EXPECT_FALSE(rig.station.channel(1).busy);
  EXPECT_EQ(rig.station.channel(1).lastOutcome->result, OperationResult::TimedOut);
  EXPECT_EQ(rig.Lines().back(), "编程器 1 ：操作超时！");
  EXPECT_EQ(rig.station.channel(1).gauge.colour, GaugeColour::Red);

  rig.station.SpdBtnBlankChkClick();  // reply 3 comes
  settle();
  ASSERT_FALSE(rig.station.channel(1).busy);
  rig.station.SpdBtnBlankChkClick();  // reply 4 lost
  settle();
  tick(500);
  EXPECT_EQ(rig.station.channel(1).gauge.progress, 500);  // the time-based gauge is full
  tick(499);
  EXPECT_TRUE(rig.station.channel(1).busy);
  tick(1);
  EXPECT_FALSE(rig.station.channel(1).busy);
  EXPECT_EQ(rig.Lines().back(), "芯片 1 ：操作超时！");
  EXPECT_EQ(rig.station.channel(1).lastOutcome->status, 0x40);
}

TEST(StationLink, AfterHangUpsMidDownloadThePortListKeepsTheOthersAndANewSearchWorks) {
  sim::Options options;
  options.faults.push_back({sim::FaultKind::Hangup, 1, 4});
  options.faults.push_back({sim::FaultKind::Hangup, 3, 4});
  // At wire speed the port closes while the download is still going.
  options.realtime = true;
  StationRig rig(options, {}, false, Wire::Pseudoterminal);
  ASSERT_TRUE(rig.Search(4));
  const std::vector<std::string> ports = rig.station.window().ComboBoxCOMItems;
  ASSERT_EQ(ports.size(), 4u);
  rig.ChooseChip("N32G452CBL7");
  rig.LoadImage(StationRig::Pattern(128 * 1024));
  rig.station.SpdBtnDownLoadClick();
  ASSERT_TRUE(rig.RunUntilIdle(20));
  for (int n : {1, 3}) {
    EXPECT_EQ(rig.station.channel(n).connected, 0);
    EXPECT_FALSE(rig.station.channel(n).gauge.enabled);
    EXPECT_EQ(rig.station.channel(n).lastOutcome->result, OperationResult::Failed);
  }
  EXPECT_TRUE(rig.HasLine("编程器3 ：串口通讯错误！"));
  for (int n : {2, 4}) {
    EXPECT_EQ(rig.station.channel(n).lastOutcome->result, OperationResult::Ok);
  }
  // Each hang-up took its own channel's port out of the list.
  EXPECT_EQ(rig.station.window().ComboBoxCOMItems, (std::vector<std::string>{ports[1], ports[3]}));

  ASSERT_TRUE(rig.Search(2));
  EXPECT_EQ(rig.station.channel(1).portName, ports[1]);
  EXPECT_EQ(rig.station.channel(2).portName, ports[3]);
  rig.station.SpdBtnBlankChkClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  for (int n : {1, 2}) {
    EXPECT_EQ(rig.station.channel(n).lastOutcome->command, kPendingBlankCheck);
    EXPECT_EQ(rig.station.channel(n).lastOutcome->result, OperationResult::Ok);
  }
  EXPECT_TRUE(rig.HasLine("芯片2 ：当前芯片为空!"));
}

}  // namespace
}  // namespace korvan

namespace korvan {
namespace {

using testing::StationRig;

// A programmer that answers a restart only after 600 ms: the command pressed meanwhile waits
// for that answer, then gets its own reply.
TEST(StationLink, ACommandAfterARestartWaitsForTheRestartsAnswer) {
  sim::Options options = Count(2);
  options.restartDelayMs = 600;
  options.chipStates.push_back({sim::ChipState::Programmed, 0});
  StationRig rig(options);
  ASSERT_TRUE(rig.Search(2));
  rig.ChooseChip("N32G452CBL7");
  rig.LoadImage(StationRig::Pattern(8 * 1024));

  // The download ends with a restart; the blank check follows at once.
  rig.station.SpdBtnDownLoadClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  rig.station.SpdBtnBlankChkClick();
  ASSERT_TRUE(rig.RunUntilIdle());
  for (int n = 1; n <= 2; ++n) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_EQ(outcome.command, kPendingBlankCheck) << n;
    EXPECT_EQ(outcome.result, OperationResult::Failed) << n;
    EXPECT_EQ(outcome.status, 0x15) << n;
    EXPECT_TRUE(rig.HasLine(Format("芯片%d ：当前芯片不为空!", n)));
    EXPECT_FALSE(rig.HasLine(Format("芯片%d ：当前芯片为空!", n)));
  }

  // The off-line monitor's restart, then the chip ID.
  rig.station.EnterOffLineMonitor1Click();
  rig.station.ReadMG32xxChipID1Click();
  ASSERT_TRUE(rig.RunUntilIdle());
  for (int n = 1; n <= 2; ++n) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_EQ(outcome.command, kPendingReadChipId) << n;
    EXPECT_EQ(outcome.result, OperationResult::Ok) << outcome.message;
    EXPECT_EQ(outcome.chipUidBytes.size(), 12u) << n;
    // The text the panel and --json show is made from the bytes: "%02X " each.
    std::string shown;
    for (const std::uint8_t b : outcome.chipUidBytes) shown += Format("%02X ", b);
    EXPECT_EQ(outcome.chipUid, shown) << n;
    ASSERT_TRUE(rig.HasLine(Format("芯片%d ：UID=", n) + shown)) << n;
  }
  EXPECT_FALSE(rig.HasLine("芯片1 ：数据包错误！"));
}

// A pulled adapter ends its channel's Program at once; the other channels go on.
TEST(StationLink, AHangUpDuringProgramEndsThatChannelAtOnce) {
  sim::Options options = Count(4);
  options.replyDelayMs = 20;  // each 4 KiB block answered after 20 ms, as on a real programmer
  options.faults.push_back({sim::FaultKind::Hangup, 2, 10});
  StationRig rig(options);
  ASSERT_TRUE(rig.Search(4));
  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024));
  rig.station.SpdBtnProgClick();
  // Without the hang-up being noticed the channel would wait 10 s for its time-out.
  ASSERT_TRUE(rig.RunUntil([&] { return !rig.station.channel(2).busy; }, 0.5));
  const auto& lost = *rig.station.channel(2).lastOutcome;
  EXPECT_EQ(lost.command, kPendingProgram);
  EXPECT_EQ(lost.result, OperationResult::Failed);
  EXPECT_EQ(lost.message, "芯片2 ：串口通讯错误！");
  EXPECT_TRUE(rig.HasLine("芯片2 ：串口通讯错误！"));
  EXPECT_EQ(rig.station.channel(2).gauge.colour, GaugeColour::Red);
  EXPECT_EQ(rig.station.channel(2).connected, 0);
  EXPECT_TRUE(rig.station.channel(1).busy);

  ASSERT_TRUE(rig.RunUntilIdle());
  EXPECT_FALSE(rig.HasLine("芯片 2 ：操作超时！"));
  for (int n : {1, 3, 4}) {
    const auto& outcome = *rig.station.channel(n).lastOutcome;
    EXPECT_EQ(outcome.result, OperationResult::Ok) << n << ": " << outcome.message;
    EXPECT_TRUE(rig.emulator().Snapshot(n).target.flash == image) << n;
  }
}

}  // namespace
}  // namespace korvan
