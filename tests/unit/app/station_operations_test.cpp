// The operation list the front ends enumerate: each pending command has one reply step, and
// the records name each operation from its row.
#include <gtest/gtest.h>

#include <csignal>
#include <set>
#include <string>

#include "core/host/record_writer.h"
#include "core/app/station.h"
#include "support/fake_frontend.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

TEST(StationOperations, EachPendingCommandHasOneReplyStepAndEachStepWordOneOperation) {
  std::set<std::uint8_t> awaited;
  std::set<std::string> words;
  for (const StationOperation& op : Station::Operations()) {
    SCOPED_TRACE(op.step);
    EXPECT_TRUE(words.insert(op.step).second);
    EXPECT_NE(op.start, nullptr);
    // The generic start needs all of a row's start; the handlers of their own need less.
    if (op.flags.channels != OperationChannels::Own) {
      EXPECT_NE(op.message, nullptr);
      EXPECT_NE(op.link.gaugeMaximum, nullptr);
      EXPECT_NE(op.send, nullptr);
      EXPECT_EQ(&Station::OperationStartedBy(op.start), &op);
    }
    if (op.reply) {
      EXPECT_TRUE(awaited.insert(op.link.pending).second);
      EXPECT_EQ(Station::OperationAwaiting(op.link.pending), &op);
    } else if (op.link.pending != kPendingIdle) {
      // Another row takes its replies (Auto: the blank check's).
      ASSERT_NE(Station::OperationAwaiting(op.link.pending), nullptr);
    }
  }
  EXPECT_EQ(awaited, (std::set<std::uint8_t>{
                         kPendingDownload, kPendingErase, kPendingBlankCheck, kPendingProgram,
                         kPendingVerify, kPendingReadChipMemory, kPendingWriteOptionBytes,
                         kPendingReadOptionBytes, kPendingReadChipId, kPendingWriteOtp,
                         kPendingReadOtp, kPendingReadAddress, kPendingFirmwareUpgrade}));
  EXPECT_EQ(Station::OperationAwaiting(kPendingIdle), nullptr);
}

// A part interrupted by a stop: its record says what the channel was doing, as a step of the
// Auto cycle when one ran.
TEST(StationOperations, TheRecordOfAnInterruptedPartNamesItsOperation) {
  struct Case {
    std::uint8_t pending;
    std::uint8_t autoFlag;
    const char* during;
  };
  const Case cases[] = {
      {kPendingBlankCheck, 1, "Auto (blank check)"},
      {kPendingErase, 1, "Auto (erase)"},
      {kPendingProgram, 1, "Auto (program)"},
      {kPendingVerify, 1, "Auto (verify)"},
      {kPendingWriteOptionBytes, 1, "Auto (option bytes)"},
      {kPendingReadChipId, 1, "Auto"},
      {kPendingProgram, 0, "program"},
      {kPendingDownload, 0, "download"},
      {kPendingReadChipMemory, 0, "read memory"},
      {kPendingReadChipId, 0, "read chip ID"},
      {kPendingFirmwareUpgrade, 0, "firmware upgrade"},
      {kPendingIdle, 0, "an operation"},
  };
  testing::TempDir dir;
  testing::FakeFrontend fe;
  Station station(fe);
  station.SetPortSources(testing::NoPorts(dir.path()));
  station.FormShow({dir.path(), "", ""});
  std::filesystem::create_directory(dir.path() / "records");
  RecordWriter writer(station, dir.path() / "records", Durability::Flushed);
  for (const Case& c : cases) {
    ChannelState& ch = station.ChannelStateForTest(1);
    ch.pendingCommand = c.pending;
    ch.autoFlag = c.autoFlag;
    writer.Interrupted(1, SIGTERM);
  }
  const RecordListing listing = ReadRecords(dir.path() / "records");
  ASSERT_EQ(listing.entries.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(listing.entries[i].record.resultText,
              std::string("Interrupted by SIGTERM during ") + cases[i].during);
  }
}

}  // namespace
}  // namespace korvan
