// Each fault of --fault does what it says, on the channel it names.
#include <gtest/gtest.h>

#include <functional>

#include "lib/emulator.h"
#include "sim_port.h"

namespace korvan::sim {
namespace {

using namespace korvan::sim::testing;
namespace p = korvan::protocol;

// The frames that answer one blank-check request; waits `wait` for more than `expected`.
std::vector<Bytes> Ask(SimPort& port, std::size_t expected, milliseconds wait = milliseconds(150)) {
  port.Send(ChipCommand(p::kSubBlankCheck));
  auto frames = port.ReadFrames(expected);
  auto more = port.ReadFrames(1, wait);
  frames.insert(frames.end(), more.begin(), more.end());
  return frames;
}

// Status of each answered request, in order; "-" for a request left unanswered.
struct Row {
  const char* fault;
  std::function<void(SimPort&, Emulator&)> check;
};

TEST(SimFault, EachKindDoesWhatItSays) {
  const Row rows[] = {
      {"silent",
       [](SimPort& port, Emulator&) {
         EXPECT_TRUE(port.Identity(milliseconds(300)).empty());
         EXPECT_TRUE(Ask(port, 0).empty());
         EXPECT_TRUE(port.raw().empty());
       }},
      {"drop:2",
       [](SimPort& port, Emulator&) {
         EXPECT_FALSE(port.Identity().empty());  // reply 1
         EXPECT_TRUE(Ask(port, 0).empty());      // reply 2 dropped
         EXPECT_EQ(Ask(port, 1).size(), 1u);     // reply 3
         EXPECT_TRUE(Ask(port, 0).empty());      // reply 4 dropped
       }},
      {"crc:2",
       [](SimPort& port, Emulator&) {
         for (int i = 1; i <= 4; ++i) {
           const auto frames = Ask(port, 1);
           ASSERT_EQ(frames.size(), 1u);
           const Bytes reply = SimPort::Decode(frames[0]);
           EXPECT_EQ(p::CheckReply(reply), i % 2 == 0 ? p::kStatusCrcMismatch : 0) << i;
         }
       }},
      {"escape:2",
       [](SimPort& port, Emulator&) {
         for (int i = 1; i <= 3; ++i) {
           const auto frames = Ask(port, 1);
           ASSERT_EQ(frames.size(), 1u);
           Bytes packet(p::kPacketBufferSize);
           EXPECT_EQ(p::DecodeFrame(frames[0], packet).code, i == 2 ? p::kStatusBadPacket : 0) << i;
         }
       }},
      {"garbage:7",
       [](SimPort& port, Emulator&) {
         const Bytes reply = port.Identity();
         EXPECT_EQ(SimPort::IdentityText(reply), "Korvan200NAT V2.9");
         ASSERT_GT(port.raw().size(), 8u);
         for (int i = 0; i < 7; ++i) EXPECT_NE(port.raw()[i], 0xC0) << i;
         EXPECT_EQ(port.raw()[7], 0xC0);
         EXPECT_EQ(Status(SimPort::Decode(Ask(port, 1).at(0))), p::kStatusOk);
       }},
      {"split",
       [](SimPort& port, Emulator& emulator) {
         // A reader scheduled late may take the pieces in one read, so they are counted
         // where they are written: one write per byte of the reply.
         for (int i = 0; i < 3; ++i) {
           const unsigned writes = emulator.Snapshot(1).writes;
           const std::size_t bytes = port.raw().size();
           const auto frames = Ask(port, 1);
           ASSERT_EQ(frames.size(), 1u);
           EXPECT_EQ(Status(SimPort::Decode(frames[0])), p::kStatusOk);
           EXPECT_GT(port.raw().size() - bytes, 1u);
           EXPECT_EQ(emulator.Snapshot(1).writes - writes, port.raw().size() - bytes) << i;
         }
       }},
      {"hangup:2",
       [](SimPort& port, Emulator& emulator) {
         EXPECT_FALSE(port.Identity().empty());
         EXPECT_EQ(Ask(port, 1).size(), 1u);  // the second request is still answered
         port.ReadFrames(1, milliseconds(500));
         EXPECT_TRUE(port.hungUp());
         EXPECT_TRUE(emulator.HungUp(1));
       }},
      {"duplicate:2",
       [](SimPort& port, Emulator&) {
         EXPECT_FALSE(port.Identity().empty());
         const auto frames = Ask(port, 2);
         ASSERT_EQ(frames.size(), 2u);
         EXPECT_EQ(frames[0], frames[1]);
         EXPECT_EQ(Ask(port, 1).size(), 1u);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    std::string error;
    const auto fault = ParseFault(row.fault, &error);
    ASSERT_TRUE(fault) << error;
    Options options;
    options.count = 1;
    options.faults = {*fault};
    Emulator emulator(options);
    ASSERT_TRUE(emulator.Start(&error)) << error;
    SimPort port(emulator.Paths()[0]);
    ASSERT_TRUE(port.IsOpen());
    row.check(port, emulator);
  }
}

TEST(SimFault, AFaultOnOneChannelLeavesTheOthersAlone) {
  std::string error;
  Options options;
  options.count = 3;
  options.faults = {*ParseFault("silent@2", &error)};
  Emulator emulator(options);
  ASSERT_TRUE(emulator.Start(&error)) << error;
  for (int channel = 1; channel <= 3; ++channel) {
    SimPort port(emulator.Paths()[channel - 1]);
    EXPECT_EQ(port.Identity(milliseconds(300)).empty(), channel == 2) << channel;
  }
}

TEST(SimFault, ParsesKindChannelAndCount) {
  const struct {
    const char* text;
    bool ok;
    FaultKind kind;
    int channel;
    unsigned n;
  } rows[] = {
      {"drop", true, FaultKind::Drop, 0, 1},
      {"crc@3:5", true, FaultKind::Crc, 3, 5},
      {"garbage", true, FaultKind::Garbage, 0, 16},
      {"hangup:4", true, FaultKind::Hangup, 0, 4},
      {"duplicate@1", true, FaultKind::Duplicate, 1, 1},
      {"drop:0", false, FaultKind::Drop, 0, 0},
      {"crc@0", false, FaultKind::Crc, 0, 0},
      {"loud", false, FaultKind::Silent, 0, 0},
      {"split@x", false, FaultKind::Split, 0, 0},
  };
  for (const auto& row : rows) {
    std::string error;
    const auto fault = ParseFault(row.text, &error);
    ASSERT_EQ(fault.has_value(), row.ok) << row.text;
    if (!fault) {
      EXPECT_FALSE(error.empty()) << row.text;
      continue;
    }
    EXPECT_EQ(fault->kind, row.kind) << row.text;
    EXPECT_EQ(fault->channel, row.channel) << row.text;
    EXPECT_EQ(fault->n, row.n) << row.text;
  }
}

}  // namespace
}  // namespace korvan::sim
