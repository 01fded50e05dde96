// Production records of a station at work on four emulated programmers: one record per
// finished part, from Auto cycles and from the programmers' own stand-alone cycles.
#include <gtest/gtest.h>

#include <map>

#include "core/host/record_writer.h"
#include "core/util/format.h"
#include "station_rig.h"

namespace korvan {
namespace {

using testing::StationRig;

TEST(ProductionRecords, OneRecordPerFinishedPart) {
  sim::Options options;
  options.standaloneParts = 2;
  options.ngEvery = 2;  // each programmer's second stand-alone part fails
  options.flashMs = 0;
  StationRig rig(options);
  const ZonedTime moment{{2026, 12, 10, 9, 30, 0}, 60};
  RecordWriter writer(
      rig.station, rig.dir() / "records", Durability::Flushed, [&] { return moment; }, "line-7");
  std::filesystem::create_directories(rig.dir() / "records");
  RecordingListener recording(writer, &rig.listener);
  rig.station.SetListener(&recording);

  ASSERT_TRUE(rig.Search(4));
  rig.ChooseChip("N32G452CBL7");
  rig.LoadImage(StationRig::Pattern(16 * 1024));
  rig.station.form().CheckBoxOpt.checked = true;  // "Program Option Byte"
  rig.station.form().CheckBoxSN.checked = true;
  rig.station.CheckBoxSNClick();

  for (int cycle = 0; cycle < 3; ++cycle) {
    rig.station.AutoSpdBtnClick();
    ASSERT_TRUE(rig.RunUntilIdle());
  }
  EXPECT_EQ(writer.written(), 12u);

  // A download, whose restart sets every programmer working on its own.
  rig.station.SpdBtnDownLoadClick();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.listener.standAlone.size() == 8; }, 30));
  rig.RunUntil({}, 0.1);  // nothing more comes
  EXPECT_EQ(rig.listener.standAlone.size(), 8u);
  EXPECT_EQ(writer.written(), 20u);
  EXPECT_EQ(writer.lastError(), std::nullopt);

  const RecordListing listing = ReadRecords(rig.dir() / "records");
  EXPECT_EQ(listing.skippedLines, 0u);
  ASSERT_EQ(listing.entries.size(), 20u);

  std::map<int, int> autoParts, standAloneOk, standAloneNg;
  for (std::size_t i = 0; i < listing.entries.size(); ++i) {
    const ProductionRecord& r = listing.entries[i].record;
    SCOPED_TRACE(listing.entries[i].jsonLine);
    EXPECT_EQ(r.time, "2026-12-10T09:30:00+01:00");
    EXPECT_EQ(r.host, "line-7");
    ASSERT_GE(r.channel, 1);
    ASSERT_LE(r.channel, 4);
    EXPECT_EQ(r.port, rig.station.channel(r.channel).portName);
    EXPECT_EQ(r.programmer, "Korvan200NAT V2.9");
    EXPECT_EQ(r.chip, "N32G452CBL7");
    EXPECT_EQ(r.imageCrc, rig.station.settings().fileCrc);
    EXPECT_EQ(r.imageSum, rig.station.settings().fileSum);
    // Auto writes the option-byte image as it stands; the programmers on their own use the
    // one the download gave them. Both are the same image here.
    EXPECT_EQ(r.optionSum, OptionSum(rig.station.optionBytes()).optionSum);
    EXPECT_NE(r.optionSum, 0);
    EXPECT_FALSE(r.chipUid.has_value());
    if (i < 12) {
      ASSERT_EQ(r.origin, RecordOrigin::Auto);
      EXPECT_TRUE(r.pass);
      EXPECT_EQ(r.resultText, Format("芯片%d ：写Option Byte操作成功!", r.channel));
      const int part = ++autoParts[r.channel];
      EXPECT_EQ(r.okCount, static_cast<std::uint32_t>(part));
      EXPECT_EQ(r.ngCount, 0u);
      // The default start values give the channels the quarters of the range; without online
      // serial numbers the station does not move them on.
      ASSERT_TRUE(r.serialNumber.has_value());
      EXPECT_EQ(*r.serialNumber, 0x40000000u * static_cast<std::uint32_t>(r.channel - 1));
    } else {
      ASSERT_EQ(r.origin, RecordOrigin::StandAlone);
      if (r.pass) {
        EXPECT_EQ(r.result, 6);
        // Not reported: the downloaded start value plus a step per good part since, marked so.
        ASSERT_TRUE(r.serialNumber.has_value());
        EXPECT_EQ(*r.serialNumber, 0x40000000u * static_cast<std::uint32_t>(r.channel - 1) +
                                       static_cast<std::uint32_t>(standAloneOk[r.channel]));
        EXPECT_EQ(r.serialNumberAddress, std::optional<std::uint32_t>(0x0000FFF0));
        EXPECT_TRUE(r.serialNumberDerived);
        ++standAloneOk[r.channel];
      } else {
        EXPECT_FALSE(r.serialNumber.has_value());
        EXPECT_FALSE(r.serialNumberDerived);
        EXPECT_EQ(r.resultText, Format("Failed : Error=0x%02X!", r.result));
        ++standAloneNg[r.channel];
      }
      // The channel's parts both ways: three Auto cycles, then its stand-alone results.
      EXPECT_EQ(r.okCount, 3u + static_cast<std::uint32_t>(standAloneOk[r.channel]));
      EXPECT_EQ(r.ngCount, static_cast<std::uint32_t>(standAloneNg[r.channel]));
    }
  }
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(autoParts[n], 3) << n;
    EXPECT_EQ(standAloneOk[n], 1) << n;
    EXPECT_EQ(standAloneNg[n], 1) << n;
  }
}

}  // namespace
}  // namespace korvan
