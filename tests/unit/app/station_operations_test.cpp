// The operation list the front ends enumerate: each pending command has one reply step.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/app/station.h"

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
      EXPECT_NE(op.gaugeMaximum, nullptr);
      EXPECT_NE(op.send, nullptr);
      EXPECT_EQ(&Station::OperationStartedBy(op.start), &op);
    }
    if (op.reply) {
      EXPECT_TRUE(awaited.insert(op.pending).second);
      EXPECT_EQ(Station::OperationAwaiting(op.pending), &op);
    } else if (op.pending != kPendingIdle) {
      // Another row takes its replies (Auto: the blank check's).
      ASSERT_NE(Station::OperationAwaiting(op.pending), nullptr);
    }
  }
  EXPECT_EQ(awaited, (std::set<std::uint8_t>{
                         kPendingDownload, kPendingErase, kPendingBlankCheck, kPendingProgram,
                         kPendingVerify, kPendingReadChipMemory, kPendingWriteOptionBytes,
                         kPendingReadOptionBytes, kPendingReadChipId, kPendingWriteOtp,
                         kPendingReadOtp, kPendingReadAddress, kPendingFirmwareUpgrade}));
  EXPECT_EQ(Station::OperationAwaiting(kPendingIdle), nullptr);
}

}  // namespace
}  // namespace korvan
