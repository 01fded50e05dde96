// The station's reply handling, progress reports, identity replies and command fan-out, driven
// by frames handed to a channel's receive path as its port would deliver them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/app/event_loop.h"
#include "core/app/station.h"
#include "core/image/firmware_cipher.h"
#include "core/image/firmware_image.h"
#include "core/protocol/constants.h"
#include "core/protocol/replies.h"
#include "support/fake_frontend.h"
#include "support/pty_pair.h"
#include "support/scripted_line.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::FakeFrontend;
using testing::TempDir;

Bytes Frame(const Bytes& packet) {
  Bytes frame(2 * packet.size() + 7);
  frame.resize(protocol::EncodePacket(packet, frame));
  return frame;
}

// A reply packet: six header bytes, the body length, the body, the CRC (spoiled on request).
Bytes Reply(const Bytes& body, bool goodCrc = true) {
  Bytes p = {0x93,
             0x05,
             0x00,
             0x1A,
             0x10,
             0x03,
             static_cast<std::uint8_t>(body.size()),
             static_cast<std::uint8_t>(body.size() >> 8)};
  p.insert(p.end(), body.begin(), body.end());
  const std::uint16_t crc = protocol::PacketCrc(p);
  p.push_back(static_cast<std::uint8_t>(crc ^ (goodCrc ? 0 : 0x01)));
  p.push_back(static_cast<std::uint8_t>(crc >> 8));
  return p;
}

class StationLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No ports at all: commands reach the channels' state, their requests go nowhere.
    station.SetPortSources(testing::NoPorts(dir.path()));
    station.FormShow({dir.path(), "", ""});
    station.ClearInformation1Click();
    fe.questions.clear();
  }

  // Channel n as if a programmer had answered the search.
  void Connect(int n) {
    station.ChannelStateForTest(n).connected = 1;
    station.ChannelStateForTest(n).pendingCommand = kPendingIdle;
  }
  // Channel n waiting for the reply to `pending`.
  void Await(int n, std::uint8_t pending, bool autoFlag = false) {
    Connect(n);
    ChannelState& ch = station.ChannelStateForTest(n);
    ch.pendingCommand = pending;
    ch.autoFlag = autoFlag;
    ch.BeginOperation(100, 128);
  }
  void Receive(int n, const Bytes& bytes) { station.ReceiveData(n, bytes); }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const std::string& line : station.info().Lines()) {
      lines.push_back(line.starts_with("> 14:03:22 ") ? line.substr(11) : line);
    }
    return lines;
  }

  TempDir dir;
  FakeFrontend fe;
  Station station{fe, [] { return LocalTime{2024, 1, 5, 14, 3, 22}; }};
};

TEST(StatusText, KnownCodesHaveTheirTextAndOthersShowTheirNumberTwice) {
  EXPECT_EQ(protocol::StatusText(0x00), "操作成功！");
  EXPECT_EQ(protocol::StatusText(0x06), "操作成功！");
  EXPECT_EQ(protocol::StatusText(0x23), "数据包校验错误！");
  EXPECT_EQ(protocol::StatusText(0x51), "Flash的大小与芯片不匹配");
  EXPECT_EQ(protocol::StatusText(0xE0), "串口通讯错误！");
  EXPECT_EQ(protocol::StatusText(0x77), "操作失败！错误代码: 0119(0x77)！");
  EXPECT_EQ(protocol::StatusText(0x15), "操作失败！错误代码: 021(0x15)！");
}

struct ReplyRow {
  const char* name;
  int channel;
  std::uint8_t pending;
  bool autoFlag;
  Bytes frame;
  std::vector<std::string> lines;  // every line the reply adds
  OperationResult result;
};

TEST_F(StationLinkTest, EachReplyEndsItsOperationWithTheRightMessageAndPrefix) {
  const Bytes badEscape = {0xC0, 0x01, 0x02, 0xDB, 0x41, 0x05, 0x06, 0x07, 0x08, 0x09, 0xC0};
  Bytes uid;
  for (std::uint8_t i = 0; i < 12; ++i) uid.push_back(static_cast<std::uint8_t>(0xA0 + i));
  const std::vector<ReplyRow> rows = {
      {"CrcMismatchDuringProgram",
       1,
       kPendingProgram,
       false,
       Frame(Reply({0x00}, false)),
       {"芯片1 ：数据包校验错误！"},
       OperationResult::Failed},
      {"BadEscapeDuringDownloadOnChannel1",
       1,
       kPendingDownload,
       false,
       badEscape,
       {"编程器1  ：数据包错误！"},
       OperationResult::Failed},
      {"BadEscapeDuringDownloadOnChannel3",
       3,
       kPendingDownload,
       false,
       badEscape,
       {"编程器3 ：数据包错误！"},
       OperationResult::Failed},
      {"StatusOutsideTheTable",
       2,
       kPendingErase,
       false,
       Frame(Reply({0x77})),
       {"芯片2 ：操作失败！错误代码: 0119(0x77)！"},
       OperationResult::Failed},
      {"NotBlankWithoutAuto",
       1,
       kPendingBlankCheck,
       false,
       Frame(Reply({0x15})),
       {"芯片1 ：当前芯片不为空!"},
       OperationResult::Failed},
      {"ProtectedWithoutAuto",
       4,
       kPendingBlankCheck,
       false,
       Frame(Reply({0x13})),
       {"芯片4 ：芯片已被读保护！"},
       OperationResult::Failed},
      {"BlankWithoutAuto",
       1,
       kPendingBlankCheck,
       false,
       Frame(Reply({0x06})),
       {"芯片1 ：当前芯片为空!"},
       OperationResult::Ok},
      {"EraseDone",
       2,
       kPendingErase,
       false,
       Frame(Reply({0x00})),
       {"芯片2 ：擦除芯片操作成功!"},
       OperationResult::Ok},
      {"OptionBytesRefused",
       1,
       kPendingWriteOptionBytes,
       true,
       Frame(Reply({0x4F})),
       {"芯片1 ：写Option Byte出错！"},
       OperationResult::Failed},
      {"ChipId",
       2,
       kPendingReadChipId,
       false,
       Frame(Reply(uid)),
       {"芯片2 ：UID=A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB "},
       OperationResult::Ok},
      {"ChipIdRefused",
       2,
       kPendingReadChipId,
       false,
       Frame(Reply({0x06})),
       {"芯片2 ：数据包错误！"},  // a success code, but no ID: a failure, never "操作成功！"
       OperationResult::Failed},
      {"VerifyAnsweredBySuccessAlone",
       3,
       kPendingVerify,
       false,
       Frame(Reply({0x06})),
       {"芯片3 ：数据包错误！"},
       OperationResult::Failed},
      {"VerifyWithoutData",
       1,
       kPendingVerify,
       false,
       Frame(Reply({})),
       {"芯片1 ：数据包错误！"},
       OperationResult::Failed},
  };
  for (const ReplyRow& row : rows) {
    SCOPED_TRACE(row.name);
    station.ClearInformation1Click();
    Await(row.channel, row.pending, row.autoFlag);
    Receive(row.channel, row.frame);
    const ChannelSnapshot& ch = station.channel(row.channel);
    EXPECT_EQ(Lines(), row.lines);
    EXPECT_FALSE(ch.busy);
    EXPECT_EQ(ch.pendingCommand, kPendingIdle);
    ASSERT_TRUE(ch.lastOutcome.has_value());
    EXPECT_EQ(ch.lastOutcome->command, row.pending);
    EXPECT_EQ(ch.lastOutcome->result, row.result);
    EXPECT_EQ(ch.lastOutcome->message, row.lines.back());
    EXPECT_EQ(ch.gauge.progress, ch.gauge.maximum);
    EXPECT_EQ(ch.gauge.colour,
              row.result == OperationResult::Ok ? GaugeColour::Blue : GaugeColour::Red);
  }
  EXPECT_EQ(station.channel(2).lastOutcome->chipUid, "");
  EXPECT_EQ(station.totalCounter(), 0);
}

TEST_F(StationLinkTest, TwoFramesInOneBlockAreHandledInOrderAndASplitFrameWaitsForItsEnd) {
  Await(1, kPendingErase);
  Bytes both = Frame(Reply({0x00}));
  const Bytes second = Frame({0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0});
  both.insert(both.end(), second.begin(), second.end());
  const Bytes tail(both.begin() + 9, both.end());
  Receive(1, Bytes(both.begin(), both.begin() + 9));
  EXPECT_TRUE(station.channel(1).busy);
  Receive(1, tail);
  // The erase result first, then, the channel being idle, the progress report.
  EXPECT_EQ(Lines(), (std::vector<std::string>{"芯片1 ：擦除芯片操作成功!",
                                               "Channel 1 : Initial Programming Interface ...."}));
}

TEST_F(StationLinkTest, ProgressReportsShowStagesMoveTheGaugeAndCountResults) {
  Connect(1);
  Connect(2);
  auto report = [&](int n, std::uint8_t stage, std::uint8_t result, std::uint16_t value,
                    std::uint16_t maximum, int fix = 0) {
    Bytes r = {0x00,
               stage,
               result,
               static_cast<std::uint8_t>(value),
               static_cast<std::uint8_t>(value >> 8),
               static_cast<std::uint8_t>(maximum),
               static_cast<std::uint8_t>(maximum >> 8),
               0x00};
    unsigned sum = 0;
    for (std::uint8_t b : r) sum += b;
    r[7] = static_cast<std::uint8_t>(0x100 - sum % 256 + fix);
    Receive(n, Frame(r));
  };
  report(1, 0x10, 0, 0, 0);
  EXPECT_EQ(Lines().back(), "Channel 1 : Initial Programming Interface ....");
  EXPECT_EQ(station.channel(1).gauge.progress, 5);
  EXPECT_EQ(station.channel(1).gauge.maximum, 100);
  const std::size_t before = Lines().size();
  report(1, 0x20, 0, 0, 0, -1);  // bytes no longer add up to 0: dropped
  EXPECT_EQ(Lines().size(), before);

  report(2, 0x10, 0, 0, 0);
  EXPECT_EQ(Lines().back(), "Channel 2 : Start Auto-Programming....");
  for (std::uint16_t value : {0, 16, 32}) {
    report(2, 0x40, 0, value, 64);
    EXPECT_EQ(station.channel(2).gauge.progress, value + 2);
    EXPECT_EQ(station.channel(2).gauge.maximum, 64);
  }
  const auto lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Channel 2 : Do Main Flash Programming...."), 1);

  report(2, 0xF0, 6, 0, 0);
  report(2, 0xF0, 6, 0, 0);
  station.ClearInformation1Click();
  report(2, 0xF0, 6, 0, 0);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "Channel 2 : OK=3, NG=0.",
                         "Total OK Number is : 3, NG is 0",
                         "Channel 2 : Progrmming Completed : Successed!",
                     }));
  report(1, 0xF0, 6, 0, 0);
  EXPECT_EQ(Lines().back(), "Channel 1 : Progrmming Completed : Successed !");
  report(1, 0xF0, 0x1E, 0, 0);
  EXPECT_EQ(Lines().back(), "Channel 1 : Progrmming Completed : Error：芯片未设定读保护！");
  EXPECT_EQ(station.channel(1).gauge.colour, GaugeColour::Red);
  report(1, 0xF0, 0x2C, 0, 0);
  EXPECT_EQ(Lines().back(), "Channel 1 : Progrmming Completed : Failed : Error=0x2C!");
  EXPECT_EQ(station.channel(1).okCount, 1u);
  EXPECT_EQ(station.channel(1).ngCount, 2u);
  EXPECT_EQ(station.totalOk(), 4u);
  EXPECT_EQ(station.totalNg(), 2u);
  EXPECT_EQ(station.totalCounter(), 4);
  report(1, 0x99, 0, 0, 0);
  EXPECT_EQ(station.info().Lines().back(), "> 14:03:22 ");

  // The 500th result across all channels saves the panel; the 1000th saves it again.
  for (int i = 6; i < 500; ++i) report(1 + i % 2, 0xF0, 6, 0, 0);
  EXPECT_EQ(station.resultCount(), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "NATx_2024_01_05_14_03_22.log"));
}

TEST_F(StationLinkTest, IdentityRepliesConnectRejectOrAskForFirmware) {
  auto identity = [](const std::string& text, std::uint8_t byte3 = 0x01) {
    Bytes p = {0xA3, 0xA5, 0x35, byte3};
    p.resize(22, 0x00);
    p.insert(p.end(), text.begin(), text.end());
    p.push_back(0x00);
    return Frame(p);
  };
  Receive(1, identity("Korvan200NATX V2.9"));
  EXPECT_EQ(station.channel(1).connected, 1);
  EXPECT_EQ(station.IdentityText(1), "Korvan200NATX V2.9");
  EXPECT_EQ(station.window().InfoPanel, "Korvan200NATX V2.9");
  Receive(2, identity("Korvan200NAT\rV1.0"));
  EXPECT_EQ(station.IdentityText(2), "Korvan200NAT");
  EXPECT_EQ(station.window().InfoPanel, "Korvan200NATX V2.9");  // only channel 1 writes it
  // Without a firmware image a programmer that needs firmware is left alone, silently.
  Receive(3, identity("Korvan200MMN V1.0"));
  EXPECT_EQ(station.channel(3).connected, 0);
  Receive(4, identity("Korvan200NAT V2.9", 0x00));
  EXPECT_EQ(station.channel(4).connected, 0);
  EXPECT_EQ(station.window().InfoPanel, "未找到设备!");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"找到设备1 ：Korvan200NATX V2.9!",
                                               "找到设备2 ：Korvan200NAT!", "未找到设备!"}));
  // A frame that does not decode is ignored while the channel is not connected.
  Receive(4, {0xC0, 0xA3, 0xDB, 0x41, 0xC0});
  EXPECT_EQ(Lines().size(), 3u);
}

TEST_F(StationLinkTest, CommandsStartOnlyConnectedIdleChannels) {
  station.SpdBtnBlankChkClick();
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"请选择并确认芯片型号！"}));
  station.chip().chipConfirmed = 1;
  station.chip().flashSizeKB = 512;
  fe.questions.clear();
  station.SpdBtnProgClick();
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"请加载目标文件！"}));

  // Nobody connected: the control line is still added before the refusal.
  fe.questions.clear();
  station.ClearInformation1Click();
  station.SpdBtnEraseClick();
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"请连接好设备！"}));
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_TRUE(Lines()[0].starts_with("> Control Setting(Hex): "));

  Connect(2);
  Await(3, kPendingProgram);
  fe.questions.clear();
  station.ClearInformation1Click();
  station.SpdBtnEraseClick();
  EXPECT_TRUE(fe.questions.empty());
  EXPECT_EQ(Lines().back(), "芯片2 ：芯片擦除......");
  EXPECT_EQ(station.channel(2).pendingCommand, kPendingErase);
  EXPECT_EQ(station.channel(2).gauge.maximum, 1002);
  EXPECT_EQ(station.channel(2).timeout, 1102);
  EXPECT_EQ(station.channel(3).pendingCommand, kPendingProgram);  // busy: left alone

  // Every busy channel: Auto has nobody to start.
  fe.questions.clear();
  station.image().dataLoaded = true;
  station.AutoSpdBtnClick();
  EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"请连接好设备！"}));
}

TEST_F(StationLinkTest, TheBlankKeyOrEnterStartsAuto) {
  for (const char key : {' ', '\r'}) {
    station.ClearInformation1Click();
    fe.questions.clear();
    station.FormKeyPress(key);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"..........................................."}));
    EXPECT_EQ(fe.Texts(), (std::vector<std::string>{"请选择并确认芯片型号！"}));
  }
  fe.questions.clear();
  station.FormKeyPress('a');
  EXPECT_TRUE(fe.questions.empty());
}

// The serial-number check guards exactly the commands whose parts get numbers, however they
// are started; a refusal leaves the panel and the channels as they were.
TEST_F(StationLinkTest, TheSerialNumberCheckComesBeforeEveryCommandThatNumbersParts) {
  station.chip().chipConfirmed = 1;
  station.image().dataLoaded = true;
  Connect(1);
  int asked = 0;
  station.SetSerialNumberCheck([&asked] {
    ++asked;
    return false;
  });
  struct Case {
    const char* name;
    std::function<void()> start;
    bool checked;
  };
  const std::vector<Case> cases = {
      {"Download", [&] { station.SpdBtnDownLoadClick(); }, true},
      {"Auto", [&] { station.AutoSpdBtnClick(); }, true},
      {"blank key", [&] { station.FormKeyPress(' '); }, true},
      {"Enter", [&] { station.FormKeyPress('\r'); }, true},
      {"Program", [&] { station.SpdBtnProgClick(); }, true},
      {"Verify", [&] { station.SpdBtnVerifyClick(); }, false},
      {"Blank check", [&] { station.SpdBtnBlankChkClick(); }, false},
      {"Erase", [&] { station.SpdBtnEraseClick(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    asked = 0;
    station.ClearInformation1Click();
    station.ChannelStateForTest(1).EndOperation(false);
    Connect(1);
    c.start();
    EXPECT_EQ(asked, c.checked ? 1 : 0);
    if (c.checked) {
      EXPECT_TRUE(Lines().empty());
      EXPECT_EQ(station.channel(1).busy, 0);
      EXPECT_EQ(station.channel(1).pendingCommand, kPendingIdle);
    } else {
      EXPECT_EQ(station.channel(1).busy, 1);
    }
  }
  station.SetSerialNumberCheck([] { return true; });
  station.ChannelStateForTest(1).EndOperation(false);
  Connect(1);
  station.SpdBtnProgClick();
  EXPECT_EQ(station.channel(1).pendingCommand, kPendingProgram);
}

TEST_F(StationLinkTest, ALineErrorDropsTheReceivedBytesAndLeavesTheChannelIdle) {
  Await(1, kPendingProgram);
  station.ChannelStateForTest(1).gauge.progress = 40;
  Receive(1, {0xC0, 0x93, 0x05});  // the start of a reply
  station.ReceiveError(1);
  const ChannelSnapshot& ch = station.channel(1);
  EXPECT_FALSE(ch.busy);
  EXPECT_EQ(ch.gauge.progress, 40);  // no message, gauge as it was
  EXPECT_TRUE(Lines().empty());
  ASSERT_TRUE(ch.lastOutcome.has_value());
  EXPECT_EQ(ch.lastOutcome->result, OperationResult::Failed);
  EXPECT_EQ(ch.lastOutcome->status, 0xE0);
  // The bytes received before the error are gone: the next reply stands on its own.
  Await(1, kPendingErase);
  Receive(1, Frame(Reply({0x00})));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"芯片1 ：擦除芯片操作成功!"}));
}

TEST_F(StationLinkTest, TheTickRunsTimedGaugesAndEndsSilentChannelsOneByOne) {
  Await(1, kPendingBlankCheck);
  station.ChannelStateForTest(1).gauge.maximum = 500;
  Await(2, kPendingProgram);
  station.ChannelStateForTest(2).timeout = 5;
  for (int i = 0; i < 4; ++i) station.Timer1Timer();
  EXPECT_EQ(station.channel(1).gauge.progress, 5);
  EXPECT_EQ(station.channel(2).gauge.progress, 1);  // moved by replies, not by time
  // Bytes arriving keep an operation alive.
  Receive(2, {0x00});
  EXPECT_EQ(station.channel(2).timeout, 1000);
  station.ChannelStateForTest(2).timeout = 1;
  station.Timer1Timer();
  EXPECT_EQ(Lines(), (std::vector<std::string>{"芯片 2 ：操作超时！"}));
  EXPECT_TRUE(station.channel(1).busy);
  EXPECT_EQ(station.channel(2).lastOutcome->result, OperationResult::TimedOut);
  station.SetTotalCounter(7);
  station.Timer1Timer();
  EXPECT_EQ(station.window().StatusBar1[3], "计数器：7");
}

TEST_F(StationLinkTest, VerifyLeavesOutTheLast512BytesWhenTheCheckControlSaysSo) {
  station.chip().flashStart = 0x08000000;
  station.chip().flashEnd = 0x08000FFF;
  for (std::size_t i = 0; i < 4096; ++i) station.image().flash[i] = static_cast<std::uint8_t>(i);
  Bytes data(station.image().flash.begin(), station.image().flash.begin() + 4096);
  data[4095] ^= 0x5A;  // the last byte of the part differs
  for (const bool shortFlash : {true, false}) {
    SCOPED_TRACE(shortFlash);
    fe.questions.clear();
    station.settings().checkCtrl = shortFlash ? 0x02 : 0x00;
    Await(1, kPendingVerify);
    station.ChannelStateForTest(1).blockCount = 4;
    Receive(1, Frame(Reply(data)));
    ASSERT_TRUE(station.channel(1).lastOutcome.has_value());
    if (shortFlash) {
      EXPECT_TRUE(fe.questions.empty());
      EXPECT_EQ(station.channel(1).lastOutcome->result, OperationResult::Ok);
      EXPECT_EQ(Lines().back(), "芯片1 ：Flash数据校验成功!");
    } else {
      EXPECT_EQ(
          fe.Texts(),
          (std::vector<std::string>{"Chip 1 ：Buffer Address 0x08000FFF = 0xFF, Chip = 0xA5"}));
      EXPECT_EQ(station.channel(1).lastOutcome->status, 0x31);
    }
  }
  // Abort stops comparing the line at its first difference.
  fe.questions.clear();
  data[4094] ^= 0x5A;
  Await(1, kPendingVerify);
  station.ChannelStateForTest(1).blockCount = 4;
  fe.answers = {Answer::Abort};
  Receive(1, Frame(Reply(data)));
  EXPECT_EQ(fe.Texts(),
            (std::vector<std::string>{"Chip 1 ：Buffer Address 0x08000FFE = 0xFE, Chip = 0xA4"}));
  EXPECT_EQ(station.channel(1).lastOutcome->status, 0x31);
}

TEST_F(StationLinkTest, ReadAddressShowsSixteenBytesPerLine) {
  fe.readAddresses.push_back(ReadAddressEntry{"0x08000104", 32});
  station.ReadAddress1Click();
  EXPECT_EQ(station.settings().readAddress, 0x08000100u);
  EXPECT_EQ(station.channel(1).pendingCommand, kPendingReadAddress);
  EXPECT_EQ(station.channel(1).gauge.progress, 250);
  Connect(1);
  station.ChannelStateForTest(1).pendingCommand = kPendingReadAddress;
  station.ChannelStateForTest(1).busy = 1;
  Bytes data;
  for (int i = 0; i < 32; ++i) data.push_back(static_cast<std::uint8_t>(0xE0 + i % 32));
  // The listener hears of the end once the reply is handled completely, dump included.
  struct Listener : StationListener {
    const Station* station = nullptr;
    std::size_t linesSeen = 0;
    void OperationEnded(int, const OperationOutcome&) override {
      linesSeen = station->info().LineCount();
    }
  } listener;
  listener.station = &station;
  station.SetListener(&listener);
  Receive(1, Frame(Reply(data)));
  EXPECT_EQ(listener.linesSeen, 2u);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "0x08000100 : E0 E1 E2 E3 E4 E5 E6 E7 E8 E9 EA EB EC ED EE EF ",
                         "0x08000110 : F0 F1 F2 F3 F4 F5 F6 F7 F8 F9 FA FB FC FD FE FF ",
                     }));
  EXPECT_FALSE(station.channel(1).busy);
}

TEST_F(StationLinkTest, WhileAQuestionIsOpenEveryLinkStallsUntilItIsAnswered) {
  Await(1, kPendingErase);
  station.ChannelStateForTest(1).timeout = 5;
  const int progress = station.channel(1).gauge.progress;
  // The chip dialog stands for any question; the front end's loop goes on while it is open.
  fe.chipDialogActions.push_back([&](TNChipSelectForm&) {
    EXPECT_TRUE(station.QuestionOpen());
    Receive(1, Frame(Reply({0x00})));
    for (int i = 0; i < 10; ++i) station.Timer1Timer();
    EXPECT_TRUE(station.channel(1).busy);
    EXPECT_EQ(station.channel(1).timeout, 5);
    EXPECT_EQ(station.channel(1).gauge.progress, progress);
  });
  station.DevButtonClick();
  EXPECT_FALSE(station.QuestionOpen());
  EXPECT_TRUE(station.channel(1).busy);
  // The answered question lets the links go on: the reply that waited is handled first.
  station.Timer1Timer();
  EXPECT_FALSE(station.channel(1).busy);
  EXPECT_EQ(station.channel(1).lastOutcome->result, OperationResult::Ok);
  const auto lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "芯片1 ：擦除芯片操作成功!"), lines.end());
}

TEST_F(StationLinkTest, EveryListenerHearsEachChangeUntilItIsRemoved) {
  struct Counting : StationListener {
    int ended = 0;
    int lines = 0;
    void OperationEnded(int, const OperationOutcome&) override { ++ended; }
    void InfoLineAdded(const std::string&) override { ++lines; }
  } first, second;
  station.AddListener(&first);
  station.AddListener(&second);
  station.AddListener(&second);  // once only
  Await(1, kPendingErase);
  Receive(1, Frame(Reply({0x00})));
  EXPECT_EQ(first.ended, 1);
  EXPECT_EQ(second.ended, 1);
  EXPECT_EQ(second.lines, first.lines);
  EXPECT_GE(first.lines, 1);
  station.RemoveListener(&first);
  Await(2, kPendingErase);
  Receive(2, Frame(Reply({0x00})));
  EXPECT_EQ(first.ended, 1);
  EXPECT_EQ(second.ended, 2);
}

TEST_F(StationLinkTest, ReconnectIgnoresAnIndexBeyondTheChannelsOrTheList) {
  testing::PtyPair pty;
  station.SetPortSources({dir.path() / "sys", dir.path() / "dev", pty.SlavePath()});
  station.FreshBtnClick();
  ASSERT_EQ(station.window().ComboBoxCOMItems, (std::vector<std::string>{pty.SlavePath()}));
  for (int index : {-1, 1, 4, 8}) station.BitBtn1Click(index);
  EXPECT_FALSE(station.port(2).IsOpen());
  EXPECT_TRUE(pty.ReadMaster(10, 50).empty());
  station.BitBtn1Click(0);
  EXPECT_TRUE(station.port(1).IsOpen());
  EXPECT_EQ(station.channel(1).portName, pty.SlavePath());
  EXPECT_EQ(pty.ReadMaster(10, 1000),
            Bytes(protocol::kIdentityRequestFrame.begin(), protocol::kIdentityRequestFrame.end()));
}

// A download ends with the restart request, before the programmer answers it; the command
// started next must not take that answer for its own reply.
class RestartAnswerTest : public StationLinkTest {
 protected:
  void SetUp() override {
    StationLinkTest::SetUp();
    station.chip().chipConfirmed = 1;
    station.chip().flashSizeKB = 4;
  }
  // Channel 1 receives the acknowledgement of its last image block: the download ends.
  void EndDownload() {
    Await(1, kPendingDownload);
    station.ChannelStateForTest(1).dataPhase = 1;
    station.ChannelStateForTest(1).blockCount = 4;
    Receive(1, Frame(Reply({0x00})));
  }
  // The blank check's reply: the part is not blank. A restart answer (status 0) taken in its
  // place would report a blank part.
  const Bytes restartAnswer = Frame(Reply({0x00}));
  const Bytes notBlank = Frame(Reply({0x15}));
};

TEST_F(RestartAnswerTest, ACommandStartedAsTheDownloadEndsGetsItsOwnReply) {
  // Started from the listener, as the command line does: before the restart's answer arrives.
  struct Listener : StationListener {
    Station* station = nullptr;
    void OperationEnded(int, const OperationOutcome& outcome) override {
      if (outcome.command == kPendingDownload) station->SpdBtnBlankChkClick();
    }
  } listener;
  listener.station = &station;
  station.SetListener(&listener);
  for (const bool oneBlock : {false, true}) {
    SCOPED_TRACE(oneBlock ? "answer and reply in one block" : "answer and reply apart");
    station.ClearInformation1Click();
    EndDownload();
    EXPECT_EQ(Lines().at(0), "编程器1 : 下载操作成功!");
    ASSERT_EQ(station.channel(1).pendingCommand, kPendingBlankCheck);
    if (oneBlock) {
      Bytes both = restartAnswer;
      both.insert(both.end(), notBlank.begin(), notBlank.end());
      Receive(1, both);
    } else {
      Receive(1, restartAnswer);
      EXPECT_TRUE(station.channel(1).busy);
      Receive(1, notBlank);
    }
    EXPECT_EQ(Lines().back(), "芯片1 ：当前芯片不为空!");
    EXPECT_EQ(station.channel(1).lastOutcome->command, kPendingBlankCheck);
    EXPECT_EQ(station.channel(1).lastOutcome->status, 0x15);
  }
  // The next frame after that is a reply again (here a progress report of an idle channel).
  Receive(1, Frame({0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}));
  EXPECT_EQ(Lines().back(), "Channel 1 : Initial Programming Interface ....");
}

TEST_F(RestartAnswerTest, AnAnswerArrivingAroundTheNextCommandIsSetAsideWhole) {
  EndDownload();
  Receive(1, Bytes(restartAnswer.begin(), restartAnswer.begin() + 5));
  station.SpdBtnBlankChkClick();
  Bytes rest(restartAnswer.begin() + 5, restartAnswer.end());
  rest.insert(rest.end(), notBlank.begin(), notBlank.end());
  Receive(1, rest);
  EXPECT_EQ(Lines().back(), "芯片1 ：当前芯片不为空!");
  EXPECT_EQ(station.channel(1).lastOutcome->status, 0x15);
}

// A programmer that starts its stand-alone work before answering the off-line monitor's
// restart: its progress report is no answer. It shows as any report does, and the answer is
// still awaited (a command pressed meanwhile still waits for it).
TEST_F(RestartAnswerTest, AProgressReportDuringTheWaitIsShownAndTheWaitGoesOn) {
  Connect(1);
  station.EnterOffLineMonitor1Click();
  station.Timer1Timer();
  Receive(1, Frame({0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}));
  EXPECT_EQ(Lines().back(), "Channel 1 : Initial Programming Interface ....");
  EXPECT_EQ(station.channel(1).gauge.progress, 5);
  EXPECT_EQ(station.channel(1).restartAnswerDue, kRestartAnswerWait - 1);

  station.SpdBtnBlankChkClick();
  Receive(1, restartAnswer);
  EXPECT_EQ(station.channel(1).restartAnswerDue, 0);
  EXPECT_TRUE(station.channel(1).busy);
  Receive(1, notBlank);
  EXPECT_EQ(Lines().back(), "芯片1 ：当前芯片不为空!");
  EXPECT_EQ(station.channel(1).lastOutcome->status, 0x15);
}

TEST_F(RestartAnswerTest, NoAnswerIsExpectedAfterItsWaitOrANewSearch) {
  EndDownload();
  for (int i = 1; i < kRestartAnswerWait; ++i) station.Timer1Timer();
  EXPECT_GT(station.channel(1).restartAnswerDue, 0);
  station.Timer1Timer();
  station.SpdBtnBlankChkClick();
  Receive(1, notBlank);
  EXPECT_EQ(Lines().back(), "芯片1 ：当前芯片不为空!");

  // A new search starts the channel afresh: the identity reply is not set aside.
  EndDownload();
  station.BitBtnFindDevClick();
  Bytes identity = {0xA3, 0xA5, 0x35, 0x01};
  identity.resize(22, 0x00);
  for (const char c : std::string("Korvan200NAT V2.9"))
    identity.push_back(static_cast<std::uint8_t>(c));
  identity.push_back(0x00);
  Receive(1, Frame(identity));
  EXPECT_EQ(station.channel(1).connected, 1);

  // The off-line monitor's restart is answered too, but a busy channel's next frame is still
  // its operation's reply.
  Connect(1);
  Await(2, kPendingErase);
  station.EnterOffLineMonitor1Click();
  EXPECT_EQ(station.channel(1).restartAnswerDue, kRestartAnswerWait);
  EXPECT_EQ(station.channel(2).restartAnswerDue, 0);
  Receive(2, Frame(Reply({0x00})));
  EXPECT_EQ(Lines().back(), "芯片2 ：擦除芯片操作成功!");
}

}  // namespace
}  // namespace korvan

namespace korvan {
namespace {

// The test plays the programmer on the far side of the channel's line.
class FarSide {
 public:
  explicit FarSide(testing::ScriptedLine& line) : line_(line) {}

  // The next packet the station has sent, decoded (empty when it sent none).
  Bytes NextPacket() {
    link_->ReceiveData(line_.TakeSent(), [&](std::span<const std::uint8_t> frame) {
      Bytes packet(protocol::kPacketBufferSize);
      const auto r = protocol::DecodeFrame(frame, packet);
      packet.resize(r.code == protocol::kStatusOk ? r.length : 0);
      packets_.push_back(packet);
    });
    if (packets_.empty()) return {};
    Bytes p = packets_.front();
    packets_.erase(packets_.begin());
    return p;
  }
  void Send(const Bytes& packet) { ASSERT_TRUE(line_.Deliver(Frame(packet))); }

 private:
  testing::ScriptedLine& line_;
  std::unique_ptr<protocol::LinkBuffers> link_ = std::make_unique<protocol::LinkBuffers>();
  std::vector<Bytes> packets_;
};

Bytes IdentityReply(const std::string& text) {
  Bytes p = {0xA3, 0xA5, 0x35, 0x01};
  p.resize(22, 0x00);
  p.insert(p.end(), text.begin(), text.end());
  p.push_back(0x00);
  return p;
}

TEST(StationUpgrade, SendsEachFirmwareBlockInTurnThenTheRestart) {
  TempDir dir;
  // Five blocks' worth of firmware whose end lies inside the fifth block: 5 blocks announced.
  Bytes firmware(4 * 2048 + 600);
  for (std::size_t i = 0; i < firmware.size(); ++i) {
    firmware[i] = static_cast<std::uint8_t>(i * 13 + i / 2048);
  }
  std::string error;
  const Bytes kfw = PackFirmwareImage(firmware, {"V3.0", "", 0, 0, 5}, error);
  ASSERT_FALSE(kfw.empty()) << error;
  dir.Write(kFirmwareFileName, std::string(kfw.begin(), kfw.end()));

  testing::ScriptedLine line;
  FakeFrontend fe;
  Station station(fe, SystemLocalTime, line.Provider());
  station.SetPortSources({dir.path() / "sys", dir.path() / "dev", ""});
  station.FormShow({dir.path(), "", ""});
  ASSERT_TRUE(station.firmwarePresent());
  FarSide programmer(line);

  EXPECT_EQ(line.TakeSent(),
            Bytes(protocol::kIdentityRequestFrame.begin(), protocol::kIdentityRequestFrame.end()));
  programmer.Send(IdentityReply("Korvan200NAT V2.9"));
  EXPECT_EQ(station.channel(1).pendingCommand, kPendingFirmwareUpgrade);
  EXPECT_EQ(station.channel(1).gauge.maximum, 5);
  for (unsigned index = 0; index < 5; ++index) {
    SCOPED_TRACE(index);
    Bytes block = programmer.NextPacket();
    ASSERT_EQ(block.size(), 2058u);
    const unsigned address = 0x2000 + 1024 * index;
    EXPECT_EQ(
        Bytes(block.begin(), block.begin() + 8),
        (Bytes{0xB7, static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
               static_cast<std::uint8_t>(index), 0x05, 0x0F, 0x00, 0x08}));
    EXPECT_EQ(protocol::PacketCrc(std::span(block).first(2056)), block[2056] | block[2057] << 8);
    kfw::CipherTransportBlock(std::span(block).subspan(8, 2048), static_cast<std::uint8_t>(index));
    for (std::size_t i = 0; i < 2048; ++i) {
      const std::size_t at = index * 2048 + i;
      ASSERT_EQ(block[8 + i], at < firmware.size() ? firmware[at] : 0x00) << i;
    }
    EXPECT_EQ(station.channel(1).gauge.progress, 2 + static_cast<int>(index));
    programmer.Send(Reply({0x00}));
  }
  EXPECT_EQ(programmer.NextPacket(),
            (Bytes{0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02}));
  EXPECT_FALSE(station.channel(1).busy);
  EXPECT_EQ(station.channel(1).lastOutcome->message, "Firmware Upgrade Completed!");
}

TEST(StationUpgrade, ABlockTheProgrammerRefusesEndsTheUpgradeAsFailed) {
  TempDir dir;
  std::string error;
  const Bytes kfw = PackFirmwareImage(Bytes(3000, 0x11), {"V3.0", "", 0, 0, 5}, error);
  dir.Write(kFirmwareFileName, std::string(kfw.begin(), kfw.end()));
  testing::ScriptedLine line;
  FakeFrontend fe;
  Station station(fe, SystemLocalTime, line.Provider());
  station.SetPortSources({dir.path() / "sys", dir.path() / "dev", ""});
  station.FormShow({dir.path(), "", ""});
  FarSide programmer(line);
  line.TakeSent();
  programmer.Send(IdentityReply("Korvan200MMN V0.1"));
  ASSERT_EQ(programmer.NextPacket().size(), 2058u);
  programmer.Send(Reply({0x55}));
  EXPECT_FALSE(station.channel(1).busy);
  EXPECT_EQ(station.channel(1).lastOutcome->result, OperationResult::Failed);
  EXPECT_EQ(station.channel(1).lastOutcome->message, "芯片1 ：地址空间超出芯片范围！");
  EXPECT_TRUE(programmer.NextPacket().empty());  // no restart: the old firmware stays
}

// However an upgrade ends, the channel is idle afterwards and says how.
TEST(StationUpgrade, EveryEndingLeavesTheChannelIdleWithItsOutcome) {
  enum class Ending { Refused, TimedOut, Undecodable, HungUp };
  const struct {
    const char* name;
    Ending ending;
    OperationResult result;
    const char* message;
  } rows[] = {
      {"Refused", Ending::Refused, OperationResult::Failed, "芯片1 ：地址空间超出芯片范围！"},
      {"TimedOut", Ending::TimedOut, OperationResult::TimedOut, "芯片 1 ：操作超时！"},
      {"Undecodable", Ending::Undecodable, OperationResult::Failed, "芯片1 ：数据包错误！"},
      {"HungUp", Ending::HungUp, OperationResult::Failed, "芯片1 ：串口通讯错误！"},
  };
  TempDir dir;
  std::string error;
  const Bytes kfw = PackFirmwareImage(Bytes(3000, 0x11), {"V3.0", "", 0, 0, 5}, error);
  dir.Write(kFirmwareFileName, std::string(kfw.begin(), kfw.end()));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ScriptedLine line;
    FakeFrontend fe;
    Station station(fe, SystemLocalTime, line.Provider());
    station.SetPortSources({dir.path() / "sys", dir.path() / "dev", ""});
    station.FormShow({dir.path(), "", ""});
    FarSide programmer(line);
    line.TakeSent();
    programmer.Send(IdentityReply("Korvan200NAT V2.9"));
    ASSERT_EQ(programmer.NextPacket().size(), 2058u);
    ASSERT_TRUE(station.channel(1).upgrading);
    switch (row.ending) {
      case Ending::Refused:
        programmer.Send(Reply({0x55}));
        break;
      case Ending::TimedOut:
        for (int tick = 0; tick < 500; ++tick) station.Timer1Timer();
        break;
      case Ending::Undecodable:
        station.ReceiveData(1, Bytes{0xC0, 0x01, 0x02, 0xDB, 0x41, 0x05, 0x06, 0xC0});
        break;
      case Ending::HungUp:
        station.RequestHangup(1);
        break;
    }
    const ChannelSnapshot& ch = station.channel(1);
    EXPECT_FALSE(ch.busy);
    EXPECT_FALSE(ch.upgrading);
    EXPECT_EQ(ch.pendingCommand, kPendingIdle);
    ASSERT_TRUE(ch.lastOutcome.has_value());
    EXPECT_EQ(ch.lastOutcome->command, kPendingFirmwareUpgrade);
    EXPECT_EQ(ch.lastOutcome->result, row.result);
    EXPECT_EQ(ch.lastOutcome->message, row.message);
    EXPECT_EQ(ch.gauge.colour, GaugeColour::Red);
  }
}

}  // namespace
}  // namespace korvan
