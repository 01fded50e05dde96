// One engine, several hosts of channels (the stations of a gang): each host knows its channels
// as 1..n, the tick counts every channel's time-out and tells the host whose channel it is,
// a host that stalls (a question open) loses no time, and a host that went is left alone.
#include "core/link/link_engine.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/link/operation.h"
#include "core/protocol/constants.h"
#include "support/scripted_line.h"

namespace korvan {
namespace {

class RecordingHost final : public LinkHost {
 public:
  bool LinksStalled() const override { return stalled; }
  void FrameReceived(int, std::span<const std::uint8_t>) override {}
  void StandAloneReportReceived(int, std::span<const std::uint8_t>) override {}
  const LinkOperation* AwaitedOperation(std::uint8_t) const override { return nullptr; }
  void BeforeTick() override { ++before; }
  // As the station does, the operation ends with its time-out.
  void ChannelTimedOut(int channel, const LinkTick&) override {
    timedOut.push_back(channel);
    engine->Link(first + channel - 1).EndOperation(true);
  }
  void AfterTick(bool) override { ++after; }

  LinkEngine* engine = nullptr;
  int first = 0;  // the engine's number of the host's channel 1
  bool stalled = false;
  int before = 0, after = 0;
  std::vector<int> timedOut;
};

// An operation that times out after two ticks.
std::int16_t TwoTicks(const ChipRecord&) {
  return 2;
}
const LinkOperation kShort{.pending = kPendingBlankCheck,
                           .recordName = "blank check",
                           .timedGauge = false,
                           .timeoutText = kChipTimeoutText,
                           .autoFlag = 0,
                           .dropsStaleBytes = true,
                           .gaugeMaximum = &TimedGauge,
                           .timeout = &TwoTicks};

class LinkEngineTest : public ::testing::Test {
 protected:
  void Start(int engineChannel) {
    ChannelLink& link = engine.Link(engineChannel);
    link.BeginOperation(kShort, chip);
    link.SendFirstRequest(kShort, chip, [] {});
  }
  void Add(RecordingHost& host) {
    host.engine = &engine;
    host.first = engine.AddChannels(host, 4, line.Provider().make);
  }
  void Tick(int times) {
    for (int i = 0; i < times; ++i) engine.Tick();
  }

  testing::ScriptedLine line;
  LinkEngine engine;
  RecordingHost first, second;
  ChipRecord chip;
};

TEST_F(LinkEngineTest, ChannelsAreNumberedAcrossHostsAndEachHostHearsOfItsOwn) {
  Add(first);
  Add(second);
  EXPECT_EQ(first.first, 1);
  EXPECT_EQ(second.first, 5);
  ASSERT_EQ(engine.ChannelCount(), 8);
  EXPECT_EQ(engine.Link(6).number(), 2);  // the second host's channel 2
  EXPECT_FALSE(engine.TickWanted());

  Start(3);
  Start(6);
  EXPECT_TRUE(engine.TickWanted());
  EXPECT_TRUE(engine.AnyAtWork());
  Tick(2);
  EXPECT_EQ(first.timedOut, std::vector<int>{3});
  EXPECT_EQ(second.timedOut, std::vector<int>{2});
  EXPECT_EQ(std::pair(first.before, first.after), std::pair(2, 2));
  EXPECT_EQ(std::pair(second.before, second.after), std::pair(2, 2));
}

TEST_F(LinkEngineTest, AStalledHostLosesNoTimeAndAReleasedOneIsLeftAlone) {
  Add(first);
  Add(second);
  Start(1);
  Start(5);
  second.stalled = true;
  Tick(5);
  EXPECT_EQ(first.timedOut, std::vector<int>{1});
  EXPECT_TRUE(second.timedOut.empty());
  EXPECT_EQ(second.after, 0);
  second.stalled = false;
  Tick(2);
  EXPECT_EQ(second.timedOut, std::vector<int>{1});

  Start(6);
  engine.ReleaseHost(second);
  EXPECT_FALSE(engine.TickWanted());  // channel 6 still counts as busy, but nobody serves it
  Tick(3);
  EXPECT_EQ(second.timedOut, std::vector<int>{1});
  EXPECT_FALSE(engine.Link(6).port().IsOpen());
}

}  // namespace
}  // namespace korvan
