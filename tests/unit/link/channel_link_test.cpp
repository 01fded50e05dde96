// A channel's link stepping its operations on its own: the block transfers (which block each
// request asks for, when the transfer is done, the time-out each request gets), the replies a
// block transfer accepts, and the firmware upgrade's blocks. The job's part (what a request
// holds, what a block read back is compared with) is played by the test.
#include "core/link/channel_link.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "core/link/operation.h"
#include "core/protocol/constants.h"
#include "core/util/event_queue.h"
#include "support/scripted_line.h"

namespace korvan {
namespace {

namespace p = protocol;
using Bytes = std::vector<std::uint8_t>;

class NoHost final : public LinkHost {
 public:
  bool LinksStalled() const override { return false; }
  void FrameReceived(int, std::span<const std::uint8_t>) override {}
  void StandAloneReportReceived(int, std::span<const std::uint8_t>) override {}
  const LinkOperation* AwaitedOperation(std::uint8_t) const override { return nullptr; }
};

LinkOperation BlockOperation(std::uint8_t pending, const BlockTransfer& blocks) {
  return {.pending = pending,
          .recordName = "blocks",
          .autoStepName = nullptr,
          .timedGauge = false,
          .timeoutText = kChipTimeoutText,
          .autoFlag = 0,
          .dropsStaleBytes = true,
          .gaugeMaximum = &FlashKiBGauge,
          .timeout = nullptr,
          .blocks = &blocks};
}

// What one request of a transfer asked for, and the time-out it went out with.
struct Sent {
  std::uint8_t dataPhase;
  std::uint16_t blockIndex;
  std::int16_t timeout;
  bool operator==(const Sent&) const = default;
};

class ChannelLinkTest : public ::testing::Test {
 protected:
  // Runs a transfer of `flashKiB` to its end, every reply counting; returns each request.
  std::vector<Sent> RunTransfer(const LinkOperation& op, std::uint16_t flashKiB) {
    chip.flashSizeKB = flashKiB;
    std::vector<Sent> sent;
    const auto send = [&] {
      sent.push_back({link.snapshot().dataPhase, link.snapshot().blockIndex, 0});
    };
    const auto timeoutOfLast = [&] { sent.back().timeout = link.snapshot().timeout; };
    link.BeginOperation(op, chip);
    link.SendFirstRequest(op, chip, send);
    timeoutOfLast();
    // A runaway transfer stops the test rather than hanging it.
    while (link.BlockDone(*op.blocks) && sent.size() < 1000) {
      link.SendBlock(*op.blocks, send);
      timeoutOfLast();
    }
    return sent;
  }

  EventQueue queue;
  testing::ScriptedLine line;
  NoHost host;
  ChannelLink link{1, line.Provider().make(queue, 1), host};
  ChipRecord chip;
};

TEST_F(ChannelLinkTest, ATransferAsksForEveryBlockOnceAndStopsAfterTheLast) {
  struct Row {
    const char* name;
    std::uint8_t pending;
    const BlockTransfer* blocks;
    std::uint16_t flashKiB;
    std::vector<Sent> sent;
  };
  const std::vector<Row> rows = {
      {"program 16 KiB",
       kPendingProgram,
       &kProgramBlocks,
       16,
       {{0, 0, 1000}, {0, 4, 1000}, {0, 8, 1000}, {0, 12, 1000}}},
      // A flash that ends inside a block still has that block sent, and nothing after it.
      {"program 6 KiB", kPendingProgram, &kProgramBlocks, 6, {{0, 0, 1000}, {0, 4, 1000}}},
      {"verify 4 KiB", kPendingVerify, &kReadBackBlocks, 4, {{0, 0, 300}}},
      {"read 9 KiB",
       kPendingReadChipMemory,
       &kReadBackBlocks,
       9,
       {{0, 0, 300}, {0, 4, 300}, {0, 8, 300}}},
      // The settings go first (data phase 0), then the image from block 0.
      {"download 8 KiB",
       kPendingDownload,
       &kDownloadBlocks,
       8,
       {{0, 0, 300}, {1, 0, 300}, {1, 4, 300}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const LinkOperation op = BlockOperation(row.pending, *row.blocks);
    EXPECT_EQ(RunTransfer(op, row.flashKiB), row.sent);
    // The gauge counted every KiB (one step past its maximum until the operation ends).
    EXPECT_EQ(link.snapshot().gauge.maximum, row.flashKiB);
    EXPECT_GE(link.snapshot().gauge.progress, row.flashKiB);
    EXPECT_EQ(link.snapshot().busy, 1);
    link.EndOperation(false);
    EXPECT_EQ(link.snapshot().gauge.progress, row.flashKiB);
  }
}

TEST_F(ChannelLinkTest, AnAutoStepThatIsATransferGetsItsRequestsTimeOut) {
  // Verify after program in an Auto cycle: its first read back waits 300 ticks, as when the
  // verify command starts it.
  const AutoTransition* move = nullptr;
  for (const AutoTransition& m : AutoSequence()) {
    if (m.after == kPendingProgram) move = &m;
  }
  ASSERT_NE(move, nullptr);
  ASSERT_EQ(move->next, kPendingVerify);
  const LinkOperation verify = BlockOperation(kPendingVerify, kReadBackBlocks);
  int sent = 0;
  link.ContinueAuto(*move, verify, chip, [&] { ++sent; });
  EXPECT_EQ(sent, 1);
  EXPECT_EQ(link.snapshot().pendingCommand, kPendingVerify);
  EXPECT_EQ(link.snapshot().timeout, 300);
  EXPECT_EQ(link.snapshot().blockIndex, 0);
}

Bytes ReplyPacket(std::size_t bodyBytes) {
  Bytes packet = {0x93,
                  0x05,
                  0x00,
                  0x1A,
                  0x10,
                  0x03,
                  static_cast<std::uint8_t>(bodyBytes),
                  static_cast<std::uint8_t>(bodyBytes >> 8)};
  for (std::size_t i = 0; i < bodyBytes; ++i) packet.push_back(static_cast<std::uint8_t>(i * 7));
  packet.insert(packet.end(), {0x00, 0x00});  // the CRC, checked before this point
  return packet;
}

TEST(BlockReplies, ABlockCountsOnlyWhenItsReplySaysSoAndCarriesWhatIsDue) {
  struct Row {
    const char* name;
    const BlockTransfer* blocks;
    std::uint8_t status;
    std::size_t bodyBytes;
    std::optional<std::uint8_t> failure;
  };
  const std::vector<Row> rows = {
      {"program accepted", &kProgramBlocks, p::kStatusOk, 1, std::nullopt},
      {"program done", &kProgramBlocks, p::kStatusDone, 1, std::nullopt},
      {"program refused", &kProgramBlocks, 0x15, 1, 0x15},
      {"download refused", &kDownloadBlocks, p::kStatusNotBlank, 1, p::kStatusNotBlank},
      {"read back whole block", &kReadBackBlocks, p::kStatusOk, 4096, std::nullopt},
      // "Done" carries no data: the block is missing, whatever the status says.
      {"read back done", &kReadBackBlocks, p::kStatusDone, 4096, p::kStatusDone},
      {"read back refused", &kReadBackBlocks, 0x15, 4096, 0x15},
      {"read back short", &kReadBackBlocks, p::kStatusOk, 4095, p::kStatusBadPacket},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes packet = ReplyPacket(row.bodyBytes);
    const BlockReply reply = ReadBlockReply(*row.blocks, row.status, packet);
    EXPECT_EQ(reply.failure, row.failure);
    if (!row.failure && row.blocks->readsBack) {
      ASSERT_EQ(reply.data.size(), p::kReplyBlockBytes);
      EXPECT_EQ(reply.data.data(), packet.data() + p::kReplyDataOffset);
    }
  }
}

TEST_F(ChannelLinkTest, AnUpgradeSendsAsManyBlocksAsItAnnounces) {
  struct Row {
    std::uint16_t start;
    std::uint16_t end;
    std::vector<std::uint16_t> addresses;
  };
  const std::vector<Row> rows = {
      {0x2000, 0x2000, {0x2000}},  // nothing to send still sends one block
      {0x2000, 0x1000, {0x2000}},
      {0x2000, 0x2400, {0x2000}},
      {0x2000, 0x2401, {0x2000, 0x2400}},
      {0x2000, 0x3000, {0x2000, 0x2400, 0x2800, 0x2C00}},
      // The last block of the address range: the next address does not wrap to 0.
      {0xFC00, 0xFFFF, {0xFC00}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.start) + ".." + ::testing::PrintToString(row.end));
    link.StartUpgrade(row.start, row.end);
    EXPECT_EQ(link.snapshot().upgrading, 1);
    EXPECT_EQ(link.snapshot().pendingCommand, kPendingFirmwareUpgrade);
    EXPECT_EQ(link.snapshot().gauge.progress, 2);
    std::vector<std::uint16_t> addresses = {link.snapshot().upgradeAddress};
    while (link.UpgradeBlockDone(row.end) && addresses.size() < 100) {
      addresses.push_back(link.snapshot().upgradeAddress);
    }
    EXPECT_EQ(addresses, row.addresses);
    EXPECT_EQ(link.snapshot().upgradeBlocks, row.addresses.size());
    EXPECT_EQ(link.snapshot().gauge.maximum, static_cast<int>(row.addresses.size()));
    // However it ends, the channel is idle afterwards.
    link.EndOperation(true);
    EXPECT_EQ(link.snapshot().upgrading, 0);
    EXPECT_EQ(link.snapshot().busy, 0);
    EXPECT_EQ(link.snapshot().gauge.colour, GaugeColour::Red);
  }
}

TEST_F(ChannelLinkTest, StandAloneResultsCountOnTheirChannel) {
  const auto report = [&](std::uint8_t stage, std::uint8_t result) {
    p::ProgressReport r;
    r.stage = stage;
    r.result = result;
    link.StandAloneReport(r);
  };
  report(p::kStageStart, 0);
  report(p::kStageCompleted, p::kResultPartOk);
  EXPECT_EQ(link.snapshot().okCount, 1u);
  EXPECT_EQ(link.snapshot().ngCount, 0u);
  EXPECT_EQ(link.snapshot().gauge.colour, GaugeColour::Blue);
  report(p::kStageStart, 0);
  report(p::kStageCompleted, p::kResultNotReadProtected);
  EXPECT_EQ(link.snapshot().okCount, 1u);
  EXPECT_EQ(link.snapshot().ngCount, 1u);
  EXPECT_EQ(link.snapshot().gauge.colour, GaugeColour::Red);
  EXPECT_EQ(link.snapshot().gauge.progress, link.snapshot().gauge.maximum);
  // The next part starts blue again.
  report(p::kStageStart, 0);
  EXPECT_EQ(link.snapshot().gauge.colour, GaugeColour::Blue);
}

}  // namespace
}  // namespace korvan
