// Production records: the two line formats, the day files and what a crash leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/records/record_log.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::ReadAll;
using testing::TempDir;

ProductionRecord FullRecord() {
  ProductionRecord r;
  r.time = "2026-12-10T14:03:22+08:00";
  r.host = "line-3";
  r.channel = 2;
  r.port = "/dev/ttyUSB1";
  r.programmer = "Korvan200NAT V2.3";
  r.chip = "N32G452CBL7";
  r.origin = RecordOrigin::StandAlone;
  r.imageCrc = 0x1A2B;
  r.imageSum = 0x00FF;
  r.optionSum = 0x5AA5;
  r.serialNumber = 0x40000003;
  r.serialNumberAddress = 0xFFF0;
  r.chipUid = "0102030405060708090A0B0C";
  r.recordId = "00112233445566778899aabbccddeeff";
  r.jobFingerprint = "3f1c00000000000000000000000000000000000000000000000000000000e0a9";
  r.result = 6;
  r.resultText = "Successed!";
  r.pass = true;
  r.okCount = 3;
  r.ngCount = 1;
  return r;
}

ProductionRecord PlainRecord(const std::string& time, int channel, std::uint32_t ok) {
  ProductionRecord r;
  r.time = time;
  r.host = "h";
  r.channel = channel;
  r.port = "/dev/pts/7";
  r.programmer = "Korvan200NAT V2.3";
  r.chip = "N32G430C8L7";
  r.result = 0;
  r.resultText = "操作成功！";
  r.pass = true;
  r.okCount = ok;
  return r;
}

std::vector<std::string> Lines(const std::string& text, const std::string& end) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size()) {
    lines.push_back(text.substr(start, at - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

TEST(ProductionRecord, Iso8601CarriesTheOffset) {
  const LocalTime t{2026, 1, 5, 4, 3, 2};
  EXPECT_EQ(Iso8601Text({t, 480}), "2026-01-05T04:03:02+08:00");
  EXPECT_EQ(Iso8601Text({t, 0}), "2026-01-05T04:03:02+00:00");
  EXPECT_EQ(Iso8601Text({t, -210}), "2026-01-05T04:03:02-03:30");
}

TEST(ProductionRecord, JsonAndCsvLinesHoldEveryField) {
  EXPECT_EQ(
      RecordJsonLine(FullRecord()),
      R"({"time":"2026-12-10T14:03:22+08:00","host":"line-3","station":1,"channel":2,)"
      R"("port":"/dev/ttyUSB1","programmer":"Korvan200NAT V2.3","chip":"N32G452CBL7",)"
      R"("origin":"stand-alone","image_crc":"0x1A2B","image_sum":"0x00FF",)"
      R"("option_sum":"0x5AA5","serial_number":1073741827,"serial_number_address":65520,)"
      R"("chip_uid":"0102030405060708090A0B0C","result":6,"result_text":"Successed!",)"
      R"("verdict":"OK","ok_count":3,"ng_count":1,)"
      R"("record_id":"00112233445566778899aabbccddeeff",)"
      R"("job_fingerprint":"3f1c00000000000000000000000000000000000000000000000000000000e0a9"})"
      "\n");
  EXPECT_EQ(RecordCsvHeader(),
            "time,host,channel,port,programmer,chip,origin,image_crc,image_sum,option_sum,"
            "serial_number,chip_uid,result,result_text,verdict,ok_count,ng_count,station,"
            "serial_number_address,record_id,serial_number_derived,job_fingerprint\r\n");
  EXPECT_EQ(RecordCsvLine(FullRecord()),
            "2026-12-10T14:03:22+08:00,line-3,2,/dev/ttyUSB1,Korvan200NAT V2.3,N32G452CBL7,"
            "stand-alone,0x1A2B,0x00FF,0x5AA5,1073741827,0102030405060708090A0B0C,6,Successed!,"
            "OK,3,1,1,65520,00112233445566778899aabbccddeeff,,"
            "3f1c00000000000000000000000000000000000000000000000000000000e0a9\r\n");

  // Absent serial number and UID: null in JSON, empty in CSV.
  ProductionRecord r = FullRecord();
  r.serialNumber.reset();
  r.serialNumberAddress.reset();
  r.chipUid.reset();
  r.pass = false;
  r.result = 0x1E;
  r.resultText = "Error：芯片未设定读保护！";
  const std::string json = RecordJsonLine(r);
  EXPECT_NE(json.find(R"("serial_number":null,"serial_number_address":null,"chip_uid":null,)"
                      R"("result":30,)"
                      R"("result_text":"Error：芯片未设定读保护！","verdict":"NG")"),
            std::string::npos)
      << json;
  EXPECT_NE(RecordCsvLine(r).find(",0x5AA5,,,30,Error：芯片未设定读保护！,NG,3,1,1,,"),
            std::string::npos);

  // A serial number worked out from the downloaded settings says so, both ways.
  ProductionRecord derived = FullRecord();
  derived.serialNumberDerived = true;
  const std::string derivedJson = RecordJsonLine(derived);
  EXPECT_NE(derivedJson.find(R"("serial_number_address":65520,"serial_number_derived":true,)"),
            std::string::npos)
      << derivedJson;
  EXPECT_EQ(ParseRecordJson(derivedJson.substr(0, derivedJson.size() - 1)), derived);
  const std::string csv = RecordCsvLine(derived);
  EXPECT_NE(csv.find(",derived,3f1c"), std::string::npos) << csv;

  // A record whose job is not known: null in JSON, an empty last column in CSV.
  ProductionRecord unknownJob = FullRecord();
  unknownJob.jobFingerprint.clear();
  const std::string unknownJson = RecordJsonLine(unknownJob);
  EXPECT_NE(unknownJson.find(R"("job_fingerprint":null})"), std::string::npos) << unknownJson;
  EXPECT_EQ(ParseRecordJson(unknownJson.substr(0, unknownJson.size() - 1)), unknownJob);
  const std::string unknownCsv = RecordCsvLine(unknownJob);
  EXPECT_EQ(unknownCsv.substr(unknownCsv.size() - 3), ",\r\n");
}

TEST(ProductionRecord, CsvQuotesCommasQuotesAndLineBreaks) {
  const struct {
    const char* text;
    const char* field;
  } cases[] = {
      {"plain", ",plain,"},
      {"a,b", ",\"a,b\","},
      {"say \"hi\"", ",\"say \"\"hi\"\"\","},
      {"two\r\nlines", ",\"two\r\nlines\","},
      {"lf\nonly", ",\"lf\nonly\","},
  };
  for (const auto& c : cases) {
    ProductionRecord r = FullRecord();
    r.chip = c.text;
    EXPECT_NE(RecordCsvLine(r).find(std::string(",/dev/ttyUSB1,Korvan200NAT V2.3") + c.field +
                                    "stand-alone,"),
              std::string::npos)
        << c.text;
  }
}

TEST(ProductionRecord, JsonReadsBackAndRefusesWhatIsNoRecord) {
  ProductionRecord withQuotes = FullRecord();
  withQuotes.chip = "a \"quoted\"\nname";
  ProductionRecord bare = PlainRecord("2026-12-10T00:00:00+00:00", 4, 0);
  ProductionRecord ofStation3 = FullRecord();
  ofStation3.station = 3;
  ofStation3.channel = 10;
  for (const ProductionRecord& r : {FullRecord(), withQuotes, bare, ofStation3}) {
    std::string line = RecordJsonLine(r);
    line.pop_back();
    EXPECT_EQ(ParseRecordJson(line), r) << line;
  }

  std::string good = RecordJsonLine(FullRecord());
  good.pop_back();
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    line.replace(line.find(from), from.size(), to);
    return line;
  };
  const std::string bad[] = {
      "",
      "{",
      good.substr(0, good.size() / 2),  // cut short
      "[1,2]",
      replaced("\"channel\":2,", ""),
      replaced("\"channel\":2", "\"channel\":\"2\""),
      replaced("\"origin\":\"stand-alone\"", "\"origin\":\"manual\""),
      replaced("\"verdict\":\"OK\"", "\"verdict\":\"maybe\""),
      replaced("\"image_crc\":\"0x1A2B\"", "\"image_crc\":6699"),
      replaced("\"serial_number\":1073741827", "\"serial_number\":4294967296"),
  };
  for (const std::string& line : bad) EXPECT_FALSE(ParseRecordJson(line)) << line;
  EXPECT_FALSE(ParseRecordJson(replaced("\"station\":1", "\"station\":0")));
  EXPECT_FALSE(ParseRecordJson(replaced("\"station\":1", "\"station\":\"1\"")));

  EXPECT_FALSE(
      ParseRecordJson(replaced("\"serial_number_address\":65520", "\"serial_number_address\":-1")));
  EXPECT_FALSE(ParseRecordJson(replaced("\"record_id\":\"", "\"record_id\":7,\"x\":\"")));

  // A line of the files written before stations were counted is station 1's.
  const auto older = ParseRecordJson(replaced("\"station\":1,", ""));
  ASSERT_TRUE(older.has_value());
  EXPECT_EQ(*older, FullRecord());
  // ... and one written before records had an id and a serial-number address has neither.
  std::string oldest = replaced(",\"serial_number_address\":65520", "");
  oldest.replace(oldest.find(",\"record_id\""), std::string::npos, "}");
  const auto parsed = ParseRecordJson(oldest);
  ASSERT_TRUE(parsed.has_value()) << oldest;
  EXPECT_EQ(parsed->recordId, "");
  EXPECT_EQ(parsed->serialNumberAddress, std::nullopt);
}

TEST(RecordLog, EveryRecordOnceInBothFilesOfItsDay) {
  TempDir dir;
  RecordLog log(dir.path(), Durability::Flushed);
  // Three records late on the 10th, two after midnight.
  const char* times[] = {"2026-12-10T23:59:58+08:00", "2026-12-10T23:59:59+08:00",
                         "2026-12-10T23:59:59+08:00", "2026-12-11T00:00:00+08:00",
                         "2026-12-11T00:00:01+08:00"};
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(log.Append(PlainRecord(times[i], i % 4 + 1, static_cast<std::uint32_t>(i))),
              std::nullopt);
  }

  const auto json10 = Lines(ReadAll(dir.path() / "records_2026_12_10.jsonl"), "\n");
  const auto json11 = Lines(ReadAll(dir.path() / "records_2026_12_11.jsonl"), "\n");
  const auto csv10 = Lines(ReadAll(dir.path() / "records_2026_12_10.csv"), "\r\n");
  const auto csv11 = Lines(ReadAll(dir.path() / "records_2026_12_11.csv"), "\r\n");
  ASSERT_EQ(json10.size(), 3u);
  ASSERT_EQ(json11.size(), 2u);
  ASSERT_EQ(csv10.size(), 4u);
  ASSERT_EQ(csv11.size(), 3u);
  EXPECT_EQ(csv10[0] + "\r\n", RecordCsvHeader());
  EXPECT_EQ(csv11[0] + "\r\n", RecordCsvHeader());
  EXPECT_EQ(csv11[2] + "\r\n", RecordCsvLine(PlainRecord(times[4], 1, 4)));
  EXPECT_EQ(json11[0] + "\n", RecordJsonLine(PlainRecord(times[3], 4, 3)));

  const RecordListing all = ReadRecords(dir.path());
  ASSERT_EQ(all.entries.size(), 5u);
  EXPECT_EQ(all.skippedLines, 0u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(all.entries[i].record.okCount, unsigned(i));
  EXPECT_EQ(all.entries[3].jsonLine, json11[0]);

  EXPECT_EQ(ReadRecords(dir.path(), RecordDay{2026, 12, 11}).entries.size(), 2u);
  EXPECT_EQ(ReadRecords(dir.path(), RecordDay{2026, 12, 12}).entries.size(), 0u);
  EXPECT_EQ(ReadRecords(dir.path(), RecordDay{2025, 1, 1}).entries.size(), 5u);
  EXPECT_TRUE(ReadRecords(dir.path() / "none").entries.empty());

  EXPECT_TRUE(log.Append(PlainRecord("yesterday", 1, 0)).has_value());
  EXPECT_FALSE(RecordLog(dir.path() / "none").Append(PlainRecord(times[0], 1, 0)) == std::nullopt);
}

TEST(RecordLog, ALineCutShortIsSkippedAndCutOffByTheNextRecord) {
  TempDir dir;
  RecordLog log(dir.path());
  const ProductionRecord first = PlainRecord("2026-12-10T08:00:00+08:00", 1, 1);
  const ProductionRecord second = PlainRecord("2026-12-10T08:00:05+08:00", 2, 1);
  ASSERT_EQ(log.Append(first), std::nullopt);
  // A power cut in the middle of a record.
  const std::string cut = RecordJsonLine(first).substr(0, 40);
  dir.Write("records_2026_12_10.jsonl", ReadAll(dir.path() / "records_2026_12_10.jsonl") + cut);

  EXPECT_EQ(ReadRecords(dir.path()).skippedLines, 1u);
  ASSERT_EQ(log.Append(second), std::nullopt);

  EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.jsonl"),
            RecordJsonLine(first) + RecordJsonLine(second));
  const RecordListing listing = ReadRecords(dir.path());
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.entries[1].record, second);
  EXPECT_EQ(listing.skippedLines, 0u);

  // A file holding nothing but a broken line.
  dir.Write("records_2026_12_10.csv", "time,host,cha");
  ASSERT_EQ(log.Append(second), std::nullopt);
  EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.csv"), RecordCsvLine(second));
}

// A station killed at any moment while it writes records: readers see whole records only, and
// once the next record is written (the station started again) both files hold whole lines only.
// The records are longer than a page, so that a kill often lands inside a write that the kernel
// then ends early.
TEST(RecordLog, KilledWritersLeaveOnlyWholeLines) {
  TempDir dir;
  for (int round = 0; round < 40; ++round) {
    const std::filesystem::path folder = dir.path() / std::to_string(round);
    std::filesystem::create_directory(folder);
    const RecordLog log(folder, Durability::Flushed);
    ProductionRecord r = FullRecord();
    r.resultText = std::string(5000 + round * 97, 'x') + ", \"long\"";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (std::uint32_t i = 0;; ++i) {
        r.okCount = i;
        log.Append(r);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(1000 + 150 * round));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    // At most the last line is broken, and the reader leaves it out.
    const RecordListing killed = ReadRecords(folder);
    EXPECT_LE(killed.skippedLines, 1u) << "round " << round;

    r.okCount = 0;
    ASSERT_EQ(log.Append(r), std::nullopt);
    const std::string json = ReadAll(folder / "records_2026_12_10.jsonl");
    ASSERT_EQ(json.back(), '\n') << "round " << round;
    const RecordListing listing = ReadRecords(folder);
    ASSERT_EQ(listing.skippedLines, 0u) << "round " << round;
    ASSERT_EQ(listing.entries.size(), killed.entries.size() + 1) << "round " << round;

    // Every CSV row is whole: the header, then rows from their first field to their last.
    const auto rows = Lines(ReadAll(folder / "records_2026_12_10.csv"), "\r\n");
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0] + "\r\n", RecordCsvHeader());
    for (std::size_t i = 1; i < rows.size(); ++i) {
      const std::string& row = rows[i];
      ASSERT_EQ(row.rfind("2026-12-10T14:03:22+08:00,line-3,2,", 0), 0u) << row.substr(0, 80);
      ASSERT_NE(row.find("x, \"\"long\"\"\",OK,"), std::string::npos) << row.substr(0, 80);
      const std::string end =
          ",1,65520,00112233445566778899aabbccddeeff,," + FullRecord().jobFingerprint;
      ASSERT_EQ(row.substr(row.size() - end.size()), end) << row.substr(0, 80);
    }
  }
}

}  // namespace
}  // namespace korvan

namespace korvan {
namespace {

// A disk that fills up: the nth write call (counted over both files) stores only part of what
// it is given, and every write after it fails with ENOSPC.
struct FillingDisk {
  int fullAt = 0;
  int calls = 0;
  ssize_t operator()(int fd, const void* data, std::size_t size) {
    ++calls;
    if (calls < fullAt) return ::write(fd, data, size);
    if (calls == fullAt && size > 1) return ::write(fd, data, size / 2);
    errno = ENOSPC;
    return -1;
  }
};

// A record that meets a full disk in either file, at its start or half way, is in neither file
// afterwards; the records before it stay, and the next record (once there is room) goes in whole.
TEST(RecordLog, AFullDiskLeavesBothFilesWithTheSameWholeRecords) {
  struct Case {
    const char* what;
    int fullAt;  // write call 1 and 2 are the first record's JSON and CSV lines
  } cases[] = {
      {"JSON line cut short", 3},
      {"CSV line cut short", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    RecordLog log(dir.path(), Durability::Flushed);
    auto disk = std::make_shared<FillingDisk>();
    disk->fullAt = c.fullAt;
    log.SetWriteFunction(
        [disk](int fd, const void* data, std::size_t size) { return (*disk)(fd, data, size); });
    const ProductionRecord first = PlainRecord("2026-12-10T08:00:00+08:00", 1, 1);
    const ProductionRecord second = PlainRecord("2026-12-10T08:00:05+08:00", 2, 1);
    const ProductionRecord third = PlainRecord("2026-12-10T08:00:09+08:00", 3, 1);
    ASSERT_EQ(log.Append(first), std::nullopt);
    const auto error = log.Append(second);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("No space left on device"), std::string::npos) << *error;
    EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.jsonl"), RecordJsonLine(first));
    EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.csv"),
              RecordCsvHeader() + RecordCsvLine(first));

    log.SetWriteFunction(DefaultRecordWrite());
    ASSERT_EQ(log.Append(third), std::nullopt);
    EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.jsonl"),
              RecordJsonLine(first) + RecordJsonLine(third));
    EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.csv"),
              RecordCsvHeader() + RecordCsvLine(first) + RecordCsvLine(third));
  }
}

TEST(ProductionRecordCsv, CellsASpreadsheetWouldRunAreGuarded) {
  ProductionRecord r = PlainRecord("2026-12-10T08:00:00+08:00", 1, 1);
  r.programmer = "=HYPERLINK(\"x\")";
  r.port = "+1";
  r.host = "@SUM(A1)";
  r.resultText = "-2";
  const std::string line = RecordCsvLine(r);
  EXPECT_NE(line.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos) << line;
  EXPECT_NE(line.find(",'+1,"), std::string::npos) << line;
  EXPECT_NE(line.find(",'@SUM(A1),"), std::string::npos) << line;
  EXPECT_NE(line.find(",'-2,"), std::string::npos) << line;
  // JSON keeps the texts as they are.
  EXPECT_EQ(ParseRecordJson(RecordJsonLine(r).substr(0, RecordJsonLine(r).size() - 1)), r);
}

}  // namespace
}  // namespace korvan
