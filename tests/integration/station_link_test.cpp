// The station against emulated programmers: discovery, download, Auto and the other operations
// end to end over pseudo-terminals.
#include <gtest/gtest.h>

#include "station_rig.h"

namespace korvan {
namespace {

using testing::StationRig;

TEST(StationLink, FindsFourProgrammersAndRunsAutoOnEachPart) {
  StationRig rig({});
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
