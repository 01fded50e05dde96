// Every fault an emulated programmer can show, on each of the four channels in turn, while the
// other three run the same Auto cycle: the fault ends (or spares) its own channel's operation
// with its own message, the other channels finish untouched, and the next command works on
// every channel still connected.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/util/format.h"
#include "station_rig.h"

namespace korvan {
namespace {

using testing::StationRig;

enum class Expect {
  Ok,            // the cycle completes despite the fault
  Failed,        // the cycle fails with `line`
  TimedOut,      // the cycle times out with `line`
  NotConnected,  // the programmer never answers the search
  Ends,          // the cycle ends, as what depends on where the fault falls
  HungUp,        // the port is gone: the channel is no longer connected, the cycle fails at once
};

struct FaultRow {
  const char* name;
  sim::FaultKind kind;
  unsigned n;
  Expect expect;
  const char* line;  // the faulty channel's message, %d its number
};

// Auto on a blank 128 KiB part takes these replies: 1 identity, 2 blank check, 3..34 program,
// 35..66 verify, 67 option bytes.
const FaultRow kFaults[] = {
    {"Silent", sim::FaultKind::Silent, 1, Expect::NotConnected, ""},
    {"Drop", sim::FaultKind::Drop, 36, Expect::TimedOut, "芯片 %d ：操作超时！"},
    {"Crc", sim::FaultKind::Crc, 3, Expect::Failed, "芯片%d ：数据包校验错误！"},
    {"Escape", sim::FaultKind::Escape, 40, Expect::Failed, "芯片%d ：数据包错误！"},
    {"Garbage", sim::FaultKind::Garbage, 40, Expect::Ok, ""},
    {"Split", sim::FaultKind::Split, 1, Expect::Ok, ""},
    {"Hangup", sim::FaultKind::Hangup, 20, Expect::HungUp, "芯片%d ：串口通讯错误！"},
    {"Duplicate", sim::FaultKind::Duplicate, 10, Expect::Ends, ""},
};

// The channel a panel line speaks of ("芯片2 ：", "芯片 2 ：", "编程器2  ：", "Channel 2 :"),
// 0 for a line about no channel.
int ChannelOf(const std::string& line) {
  for (const std::string prefix : {"芯片", "编程器", "Channel "}) {
    if (!line.starts_with(prefix)) continue;
    std::size_t at = prefix.size();
    while (at < line.size() && line[at] == ' ') ++at;
    if (at < line.size() && line[at] >= '1' && line[at] <= '4') return line[at] - '0';
  }
  return 0;
}

bool IsFailureLine(const std::string& line) {
  for (const char* word : {"错误", "超时", "失败", "Failed"}) {
    if (line.find(word) != std::string::npos) return true;
  }
  return false;
}

void PrintTo(const FaultRow& row, std::ostream* os) {
  *os << row.name;
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<FaultRow, int>> {};

TEST_P(FaultMatrix, OnlyTheFaultyChannelIsTouchedAndTheNextCommandWorks) {
  const auto& [row, faulty] = GetParam();
  sim::Options options;
  options.faults.push_back({row.kind, faulty, row.n});
  StationRig rig(options);
  rig.station.BitBtnFindDevClick();
  const int expected = row.expect == Expect::NotConnected ? 3 : 4;
  ASSERT_TRUE(rig.RunUntil([&] { return rig.Connected() == expected; }, 10));
  rig.RunUntil([] { return false; }, 0.05);
  // The rig keeps programmer n on channel n.
  for (int n = 1; n <= kChannelCount; ++n) {
    ASSERT_EQ(rig.station.channel(n).portName, rig.Ports().at(n - 1));
  }
  EXPECT_EQ(rig.station.channel(faulty).connected, row.expect == Expect::NotConnected ? 0 : 1);

  rig.ChooseChip("N32G452CBL7");
  const auto image = rig.LoadImage(StationRig::Pattern(128 * 1024, 7));
  rig.station.form().CheckBoxOpt.checked = true;
  rig.station.AutoSpdBtnClick();
  ASSERT_TRUE(rig.RunUntilIdle(30));

  for (int n = 1; n <= kChannelCount; ++n) {
    if (n == faulty) continue;
    const auto& outcome = rig.station.channel(n).lastOutcome;
    ASSERT_TRUE(outcome.has_value()) << n;
    EXPECT_EQ(outcome->result, OperationResult::Ok) << n << ": " << outcome->message;
    EXPECT_EQ(outcome->command, kPendingWriteOptionBytes) << n;
    EXPECT_TRUE(rig.emulator().Snapshot(n).target.flash == image) << n;
  }

  const auto& outcome = rig.station.channel(faulty).lastOutcome;
  const std::string line = Format(row.line, faulty);
  switch (row.expect) {
    case Expect::NotConnected:
      EXPECT_FALSE(outcome.has_value());
      break;
    case Expect::Ok:
      ASSERT_TRUE(outcome.has_value());
      EXPECT_EQ(outcome->result, OperationResult::Ok) << outcome->message;
      EXPECT_TRUE(rig.emulator().Snapshot(faulty).target.flash == image);
      break;
    case Expect::Failed:
    case Expect::TimedOut:
      ASSERT_TRUE(outcome.has_value());
      EXPECT_EQ(outcome->result,
                row.expect == Expect::Failed ? OperationResult::Failed : OperationResult::TimedOut);
      EXPECT_EQ(outcome->message, line);
      EXPECT_TRUE(rig.HasLine(line));
      EXPECT_EQ(rig.station.channel(faulty).gauge.colour, GaugeColour::Red);
      break;
    case Expect::Ends:
      EXPECT_TRUE(outcome.has_value());
      break;
    case Expect::HungUp:
      EXPECT_EQ(rig.station.channel(faulty).connected, 0);
      ASSERT_TRUE(outcome.has_value());
      EXPECT_EQ(outcome->result, OperationResult::Failed);
      EXPECT_EQ(outcome->message, line);
      EXPECT_TRUE(rig.HasLine(line));
      EXPECT_EQ(rig.station.channel(faulty).gauge.colour, GaugeColour::Red);
      break;
  }
  // Every failure line speaks of the faulty channel.
  for (const std::string& l : rig.Lines()) {
    if (IsFailureLine(l)) {
      EXPECT_EQ(ChannelOf(l), faulty) << l;
    }
  }
  EXPECT_EQ(rig.station.totalCounter(), row.expect == Expect::Ok ? 4 : 3);

  // The next command, on every channel still connected.
  const std::size_t linesBefore = rig.Lines().size();
  rig.station.ReadOptionByte1Click();
  ASSERT_TRUE(rig.RunUntilIdle(30));
  int answered = 0;
  for (int n = 1; n <= kChannelCount; ++n) {
    if (!rig.station.channel(n).connected) continue;
    ++answered;
    const auto& next = rig.station.channel(n).lastOutcome;
    ASSERT_TRUE(next.has_value()) << n;
    EXPECT_EQ(next->command, kPendingReadOptionBytes) << n;
    EXPECT_EQ(next->result, OperationResult::Ok) << n << ": " << next->message;
  }
  EXPECT_GE(answered, 3);
  const auto lines = rig.Lines();
  for (std::size_t i = linesBefore; i < lines.size(); ++i) {
    EXPECT_FALSE(IsFailureLine(lines[i])) << lines[i];
  }
}

INSTANTIATE_TEST_SUITE_P(KindsByChannel, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(kFaults),
                                            ::testing::Range(1, kChannelCount + 1)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "OnChannel" +
                                  std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace korvan
