// korvan-cli records, run as a script runs it.
#include <gtest/gtest.h>

#include <string>

#include "core/records/record_log.h"
#include "support/cli_runner.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::ReadAll;
using testing::TempDir;

using Output = testing::CliResult;

Output RunRecords(const TempDir& dir, const std::string& args) {
  return testing::RunKorvanCli(dir.path().string(),
                               "records --dir '" + (dir.path() / "Log").string() + "' " + args);
}

ProductionRecord Record(const std::string& time, int channel, bool pass) {
  ProductionRecord r;
  r.time = time;
  r.host = "line-1";
  r.channel = channel;
  r.port = "/dev/ttyUSB" + std::to_string(channel - 1);
  r.programmer = "Korvan200NAT V2.3";
  r.chip = "N32G452CBL7";
  r.result = pass ? 6 : 0x21;
  r.resultText = pass ? "Successed!" : "Failed : Error=0x21!";
  r.pass = pass;
  r.okCount = pass ? 1 : 0;
  r.ngCount = pass ? 0 : 1;
  return r;
}

TEST(CliRecords, PrintsJsonLinesOrCsvFromTheGivenDayOn) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "Log");
  RecordLog log(dir.path() / "Log", Durability::Flushed);
  const ProductionRecord records[] = {
      Record("2026-12-09T22:00:00+08:00", 1, true),
      Record("2026-12-10T08:00:00+08:00", 2, false),
      Record("2026-12-10T08:00:01+08:00", 3, true),
  };
  for (const auto& r : records) ASSERT_EQ(log.Append(r), std::nullopt);

  Output all = RunRecords(dir, "");
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out,
            RecordJsonLine(records[0]) + RecordJsonLine(records[1]) + RecordJsonLine(records[2]));
  EXPECT_EQ(all.err, "");

  Output since = RunRecords(dir, "--since 2026-12-10 --csv");
  EXPECT_EQ(since.status, 0) << since.err;
  EXPECT_EQ(since.out, RecordCsvHeader() + RecordCsvLine(records[1]) + RecordCsvLine(records[2]));

  Output none = RunRecords(dir, "--since 2027-01-01 --csv");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, RecordCsvHeader());

  // A line cut short is left out and said on stderr.
  dir.Write("Log/records_2026_12_10.jsonl",
            ReadAll(dir.path() / "Log/records_2026_12_10.jsonl") + "{\"time\":\"2026-");
  Output cut = RunRecords(dir, "--since 2026-12-10");
  EXPECT_EQ(cut.status, 0);
  EXPECT_EQ(cut.out, RecordJsonLine(records[1]) + RecordJsonLine(records[2]));
  EXPECT_EQ(cut.err, "records: 1 line(s) skipped: cut short or not a record\n");

  for (const char* bad : {"--since 10.12.2026", "--since 2026-13-01", "--bogus"}) {
    EXPECT_EQ(RunRecords(dir, bad).status, 2) << bad;
  }

  // A folder that is not there is no empty day.
  TempDir withoutLog;
  Output missing = RunRecords(withoutLog, "");
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.err.find("no such folder"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace korvan
