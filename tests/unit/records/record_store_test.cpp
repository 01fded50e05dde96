// The record store and the keeper that writes it together with the day files: both agree, a
// crash between the two writes is repaired, a store that cannot be written loses no day-file
// record silently, queries and the serial-number questions, export and rebuild.
#include <gtest/gtest.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <set>
#include <string>
#include <vector>

#include "core/records/record_keeper.h"
#include "core/records/record_store.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::ReadAll;
using testing::TempDir;

ProductionRecord Part(const std::string& time, int channel, bool pass,
                      std::optional<std::uint32_t> serial = std::nullopt,
                      std::optional<std::string> uid = std::nullopt,
                      const std::string& chip = "N32G457VEL7", std::uint32_t address = 0xFFF0) {
  ProductionRecord r;
  r.recordId = NewRecordId();
  r.time = time;
  r.host = "line-3";
  r.channel = channel;
  r.station = (channel - 1) / 4 + 1;
  r.port = "/dev/pts/" + std::to_string(channel);
  r.programmer = "Korvan200NAT V2.9";
  r.chip = chip;
  r.imageCrc = 0x1234;
  r.serialNumber = serial;
  if (serial) r.serialNumberAddress = address;
  r.chipUid = std::move(uid);
  r.pass = pass;
  r.result = pass ? 0 : 0x12;
  r.resultText = pass ? "操作成功！" : "校验失败";
  r.okCount = pass ? 1 : 0;
  r.ngCount = pass ? 0 : 1;
  return r;
}

std::vector<std::string> RecordIdsInFile(const std::filesystem::path& file) {
  std::vector<std::string> ids;
  const std::string text = ReadAll(file);
  std::size_t start = 0, end;
  while ((end = text.find('\n', start)) != std::string::npos) {
    if (auto r = ParseRecordJson(std::string_view(text).substr(start, end - start))) {
      ids.push_back(r->recordId);
    }
    start = end + 1;
  }
  return ids;
}

std::vector<std::string> RecordIds(const std::vector<StoredRecord>& rows) {
  std::vector<std::string> ids;
  for (const StoredRecord& row : rows) ids.push_back(row.record.recordId);
  return ids;
}

TEST(RecordKeeper, StoreAndDayFilesHoldTheSameRecords) {
  TempDir dir;
  RecordKeeper keeper(dir.path(), Durability::Flushed);
  ASSERT_EQ(keeper.Open(), std::nullopt);
  std::vector<ProductionRecord> written = {
      Part("2026-12-10T23:59:59+08:00", 1, true, 100, "0102030405060708090A0B0C"),
      Part("2026-12-11T00:00:01+08:00", 6, false),
      Part("2026-12-11T00:00:02+08:00", 2, true, 0x40000000),
  };
  written[1].interrupted = true;
  written[1].chip = "名字,\"quoted\"";
  written[2].jobFingerprint = std::string(60, 'e') + "0f19";
  for (const ProductionRecord& r : written) ASSERT_EQ(keeper.Append(r), std::nullopt);
  // The same record again (a retry) is stored once.
  ASSERT_EQ(keeper.store()->Append(written[0], nullptr), 1);

  const std::vector<StoredRecord> rows = keeper.store()->Find({});
  ASSERT_EQ(rows.size(), 3u);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].record, written[i]) << i;  // every field survives the store
    EXPECT_FALSE(rows[i].forwarded);
  }
  EXPECT_EQ(keeper.store()->Unfiled().size(), 0u);
  EXPECT_EQ(RecordIdsInFile(dir.path() / "records_2026_12_10.jsonl"),
            (std::vector<std::string>{written[0].recordId}));
  EXPECT_EQ(RecordIdsInFile(dir.path() / "records_2026_12_11.jsonl"),
            (std::vector<std::string>{written[1].recordId, written[2].recordId}));
  EXPECT_EQ(keeper.store()->Days(), (std::vector<std::string>{"2026-12-10", "2026-12-11"}));

  // The station id is made once and kept.
  const std::string id = keeper.store()->stationId();
  EXPECT_EQ(id.size(), 32u);
  std::string error;
  EXPECT_EQ(RecordStore::Open(dir.path(), &error)->stationId(), id);
}

// A store made before records carried serial-number marks and the job's fingerprint: opening it
// adds the columns; its records read with none, and new ones keep theirs.
TEST(RecordStoreFiles, AStoreOfAnOlderSchemaGainsTheNewColumnsAndKeepsItsRecords) {
  TempDir dir;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path() / kRecordStoreFile).c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
                         "INSERT INTO meta VALUES ('station_id', 'old-station');"
                         "CREATE TABLE records (row_id INTEGER PRIMARY KEY, record_id TEXT NOT "
                         "NULL UNIQUE, time TEXT NOT NULL, host TEXT NOT NULL, station INTEGER "
                         "NOT NULL, channel INTEGER NOT NULL, port TEXT NOT NULL, programmer TEXT "
                         "NOT NULL, chip TEXT NOT NULL, origin INTEGER NOT NULL, image_crc "
                         "INTEGER NOT NULL, image_sum INTEGER NOT NULL, option_sum INTEGER NOT "
                         "NULL, serial_number INTEGER, serial_address INTEGER, chip_uid TEXT, "
                         "result INTEGER NOT NULL, result_text TEXT NOT NULL, pass INTEGER NOT "
                         "NULL, interrupted INTEGER NOT NULL, ok_count INTEGER NOT NULL, ng_count "
                         "INTEGER NOT NULL, filed INTEGER NOT NULL DEFAULT 0, forwarded INTEGER "
                         "NOT NULL DEFAULT 0);"
                         "INSERT INTO records VALUES (1, 'old', '2024-01-05T14:03:22+08:00', "
                         "'line-1', 1, 2, '/dev/ttyUSB1', 'Korvan200NAT', 'N32G452CBL7', 0, 1, 2, "
                         "3, NULL, NULL, NULL, 6, 'OK', 1, 0, 1, 0, 1, 0);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  std::string error;
  auto store = RecordStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  EXPECT_EQ(store->stationId(), "old-station");
  ProductionRecord fresh = Part("2024-01-05T14:04:00+08:00", 1, true);
  fresh.jobFingerprint = std::string(64, '7');
  ASSERT_GT(store->Append(fresh, &error), 0) << error;
  const std::vector<StoredRecord> rows = store->Find({});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].record.recordId, "old");
  EXPECT_EQ(rows[0].record.jobFingerprint, "");
  EXPECT_FALSE(rows[0].record.serialNumberDerived);
  EXPECT_EQ(rows[1].record, fresh);
}

TEST(RecordKeeper, DayFilesRefusingARecordTakeItBackFromTheStore) {
  TempDir dir;
  RecordKeeper keeper(dir.path(), Durability::Flushed);
  ASSERT_EQ(keeper.Append(Part("2026-12-10T10:00:00+00:00", 1, true)), std::nullopt);
  keeper.log().SetWriteFunction([](int, const void*, std::size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  });
  const auto error = keeper.Append(Part("2026-12-10T10:00:01+00:00", 1, true));
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("No space"), std::string::npos) << *error;
  EXPECT_EQ(keeper.store()->Count(), 1u);
  EXPECT_EQ(RecordIdsInFile(dir.path() / "records_2026_12_10.jsonl").size(), 1u);
}

TEST(RecordKeeper, AStoreThatCannotBeWrittenFailsTheRecordAndWritesNoDayFile) {
  TempDir dir;
  // Not a database.
  dir.Write(kRecordStoreFile, std::string(8192, 'x'));
  RecordKeeper keeper(dir.path(), Durability::Flushed);
  EXPECT_TRUE(keeper.Open().has_value());
  const auto error = keeper.Append(Part("2026-12-10T10:00:00+00:00", 1, true));
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("records --rebuild"), std::string::npos) << *error;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "records_2026_12_10.jsonl"));

  // A folder that is not there: the store says so.
  RecordKeeper nowhere(dir.path() / "missing", Durability::Flushed);
  const auto missing = nowhere.Append(Part("2026-12-10T10:00:00+00:00", 1, true));
  ASSERT_TRUE(missing.has_value());
  EXPECT_NE(missing->find("does not exist"), std::string::npos) << *missing;
}

// A read-only folder and a full disk, made in a mount namespace of a child process of its own
// (root only): queries read a read-only store, and neither is called damaged.
TEST(RecordStoreErrors, AReadOnlyFolderIsQueriedAndAFullDiskIsNamedNotCalledDamaged) {
  TempDir dir;
  const std::filesystem::path ro = dir.path() / "ro", full = dir.path() / "full";
  std::filesystem::create_directories(ro);
  std::filesystem::create_directories(full);
  {
    RecordKeeper keeper(ro, Durability::Flushed);
    ASSERT_EQ(keeper.Open(), std::nullopt);
    ASSERT_EQ(keeper.Append(Part("2026-12-10T10:00:00+00:00", 1, true, 1000)), std::nullopt);
  }
  const std::filesystem::path said = dir.path() / "said.txt";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::ofstream out(said);
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(ro.c_str(), ro.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0 ||
        ::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) {
      out << "skip\n";
      ::_exit(0);
    }
    std::string error;
    auto query = RecordStore::Open(ro, &error, Durability::Synced, StoreAccess::Query);
    out << (query ? std::to_string(query->Find({}).size()) : "error " + error) << '\n';
    query.reset();
    auto write = RecordStore::Open(ro, &error);
    out << (write ? std::string("opened") : error) << '\n';
    auto filling = RecordStore::Open(full, &error, Durability::Flushed);
    std::string fullError = filling ? "" : error;
    ProductionRecord big = Part("2026-12-10T10:00:00+00:00", 1, true);
    big.resultText.assign(16 * 1024, 'x');
    for (int i = 0; filling && fullError.empty() && i < 100; ++i) {
      big.recordId = NewRecordId();
      if (filling->Append(big, &error) == 0) fullError = error;
    }
    out << fullError << '\n';
    out.close();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::istringstream lines(ReadAll(said));
  std::string readOnlyQuery, readOnlyWrite, diskFull;
  std::getline(lines, readOnlyQuery);
  if (readOnlyQuery == "skip") GTEST_SKIP() << "no mount namespace here (not root?)";
  std::getline(lines, readOnlyWrite);
  std::getline(lines, diskFull);
  EXPECT_EQ(readOnlyQuery, "1");
  EXPECT_NE(readOnlyWrite.find("read-only folder"), std::string::npos) << readOnlyWrite;
  EXPECT_NE(diskFull.find("the disk is full"), std::string::npos) << diskFull;
  for (const std::string& text : {readOnlyWrite, diskFull}) {
    EXPECT_EQ(text.find("damaged"), std::string::npos) << text;
    EXPECT_EQ(text.find("--rebuild"), std::string::npos) << text;
  }
}

TEST(RecordKeeper, OpeningFilesWhatACrashLeftInTheStoreOnly) {
  TempDir dir;
  ProductionRecord filed = Part("2026-12-10T10:00:00+00:00", 1, true);
  ProductionRecord lost = Part("2026-12-10T10:00:05+00:00", 2, false);
  ProductionRecord markLost = Part("2026-12-11T10:00:05+00:00", 3, true);
  {
    RecordKeeper keeper(dir.path(), Durability::Flushed);
    ASSERT_EQ(keeper.Append(filed), std::nullopt);
    // Died after the store took `lost` and before the day files did.
    ASSERT_GT(keeper.store()->Append(lost, nullptr), 0);
    // Died after both writes, before the store marked the record filed.
    ASSERT_GT(keeper.store()->Append(markLost, nullptr), 0);
    ASSERT_EQ(keeper.log().Append(markLost), std::nullopt);
  }
  for (int opening = 0; opening < 2; ++opening) {
    RecordKeeper keeper(dir.path(), Durability::Flushed);
    ASSERT_EQ(keeper.Open(), std::nullopt);
    EXPECT_EQ(keeper.repaired(), opening == 0 ? 1u : 0u);
    EXPECT_EQ(keeper.store()->Unfiled().size(), 0u);
    EXPECT_EQ(RecordIdsInFile(dir.path() / "records_2026_12_10.jsonl"),
              (std::vector<std::string>{filed.recordId, lost.recordId}));
    EXPECT_EQ(RecordIdsInFile(dir.path() / "records_2026_12_11.jsonl"),
              (std::vector<std::string>{markLost.recordId}));
    // The CSV file holds the same records.
    const std::string csv = ReadAll(dir.path() / "records_2026_12_10.csv");
    EXPECT_EQ(csv, RecordCsvHeader() + RecordCsvLine(filed) + RecordCsvLine(lost));
  }
}

class RecordQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = RecordStore::Open(dir_.path(), nullptr, Durability::Flushed);
    ASSERT_TRUE(store_);
    const std::vector<ProductionRecord> parts = {
        Part("2026-12-09T23:59:59+08:00", 1, true, 100, "AA01"),
        Part("2026-12-10T00:00:00+08:00", 2, false, std::nullopt, "AA02"),
        Part("2026-12-10T12:00:00-03:30", 1, true, 101, "AA03"),
        Part("2026-12-11T00:00:00+08:00", 5, true, 100, "AA04"),                 // serial again
        Part("2026-12-11T08:00:00+08:00", 2, true, 102, "AA01"),                 // UID again
        Part("2026-12-11T09:00:00+08:00", 3, true, 100, "AA05", "N32G430C8L7"),  // other chip
        Part("2026-12-11T09:00:01+08:00", 4, true, 100, "AA06", "N32G457VEL7", 0x1000),
        Part("2026-12-11T09:00:02+08:00", 4, false, 99, "AA07"),  // NG parts use no number
    };
    for (const ProductionRecord& r : parts) ids_.push_back(r.recordId);
    std::string error;
    ASSERT_TRUE(store_->AppendMany(parts, true, &error)) << error;
  }
  std::vector<std::string> Ids(std::initializer_list<int> rows) {
    std::vector<std::string> ids;
    for (int row : rows) ids.push_back(ids_[static_cast<std::size_t>(row)]);
    return ids;
  }
  TempDir dir_;
  std::unique_ptr<RecordStore> store_;
  std::vector<std::string> ids_;
};

TEST_F(RecordQueries, FiltersAreAnded) {
  struct Case {
    const char* name;
    RecordQuery query;
    std::vector<int> rows;
  };
  auto q = [](auto set) {
    RecordQuery query;
    set(query);
    return query;
  };
  const Case cases[] = {
      {"all", {}, {0, 1, 2, 3, 4, 5, 6, 7}},
      {"uid", q([](RecordQuery& x) { x.chipUid = "AA01"; }), {0, 4}},
      {"uid unknown", q([](RecordQuery& x) { x.chipUid = "AA"; }), {}},
      {"serial", q([](RecordQuery& x) { x.serialNumber = 100; }), {0, 3, 5, 6}},
      {"one local day", q([](RecordQuery& x) { x.since = x.until = "2026-12-10"; }), {1, 2}},
      {"since", q([](RecordQuery& x) { x.since = "2026-12-11"; }), {3, 4, 5, 6, 7}},
      {"until", q([](RecordQuery& x) { x.until = "2026-12-09"; }), {0}},
      {"channel", q([](RecordQuery& x) { x.channel = 2; }), {1, 4}},
      {"ng", q([](RecordQuery& x) { x.pass = false; }), {1, 7}},
      {"ok on channel 1 from the 10th",
       q([](RecordQuery& x) {
         x.pass = true;
         x.channel = 1;
         x.since = "2026-12-10";
       }),
       {2}},
      {"limit", q([](RecordQuery& x) { x.limit = 2; }), {0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> want;
    for (int row : c.rows) want.push_back(ids_[static_cast<std::size_t>(row)]);
    EXPECT_EQ(RecordIds(store_->Find(c.query)), want) << c.name;
  }
}

TEST_F(RecordQueries, SerialNumberQuestionsCountOkPartsOfTheSameChipAndAddress) {
  const auto first = store_->FirstOkSerialInRange("N32G457VEL7", 0xFFF0, 99, 200);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->record.recordId, ids_[0]);  // lowest serial, then lowest row; not the NG 99
  EXPECT_EQ(store_->FirstOkSerialInRange("N32G457VEL7", 0xFFF0, 101, 101)->record.recordId,
            ids_[2]);
  EXPECT_FALSE(store_->FirstOkSerialInRange("N32G457VEL7", 0xFFF0, 103, 1000));
  EXPECT_FALSE(store_->FirstOkSerialInRange("N32G457VEL7", 0xFFF0, 99, 99));
  EXPECT_EQ(store_->FirstOkSerialInRange("N32G457VEL7", 0x1000, 0, 0xFFFFFFFF)->record.recordId,
            ids_[6]);
  EXPECT_FALSE(store_->FirstOkSerialInRange("N32G452CBL7", 0xFFF0, 0, 0xFFFFFFFF));

  EXPECT_EQ(store_->HighestOkSerial("N32G457VEL7", 0xFFF0, 1), 101u);
  EXPECT_EQ(store_->HighestOkSerial("N32G457VEL7", 0xFFF0, 2), 102u);
  EXPECT_EQ(store_->HighestOkSerial("N32G457VEL7", 0xFFF0, 4), std::nullopt);  // NG, other address
  EXPECT_EQ(store_->HighestOkSerial("N32G457VEL7", 0x1000, 4), 100u);
  EXPECT_EQ(store_->HighestOkSerial("N32G457VEL7", 0xFFF0, 5), 100u);
}

TEST_F(RecordQueries, DuplicatesAreOkRecordsSharingASerialNumberOrAUid) {
  const auto groups = store_->Duplicates();
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].kind, RecordStore::DuplicateGroup::Kind::SerialNumber);
  EXPECT_EQ(RecordIds(groups[0].records), Ids({0, 3}));
  EXPECT_EQ(groups[1].kind, RecordStore::DuplicateGroup::Kind::ChipUid);
  EXPECT_EQ(RecordIds(groups[1].records), Ids({0, 4}));
}

TEST_F(RecordQueries, TheOutboxHandsOutRecordsUntilMarkedForwarded) {
  EXPECT_EQ(store_->UnforwardedCount(), 8u);
  const auto batch = store_->Unforwarded(3);
  ASSERT_EQ(batch.size(), 3u);
  ASSERT_TRUE(store_->MarkForwarded(batch.back().rowId, nullptr));
  EXPECT_EQ(store_->UnforwardedCount(), 5u);
  EXPECT_EQ(store_->Unforwarded(1).front().record.recordId, ids_[3]);
  EXPECT_TRUE(store_->Find({}).front().forwarded);
}

TEST(RecordStoreFiles, ExportWritesTheDayFilesAndRebuildMakesTheStoreAgain) {
  TempDir dir;
  std::vector<ProductionRecord> parts;
  std::string stationId;
  {
    RecordKeeper keeper(dir.path(), Durability::Flushed);
    for (int i = 0; i < 4; ++i) {
      parts.push_back(Part(i < 2 ? "2026-12-10T10:00:0" + std::to_string(i) + "+00:00"
                                 : "2026-12-11T10:00:0" + std::to_string(i) + "+00:00",
                           i + 1, i != 2, 200 + i));
      ASSERT_EQ(keeper.Append(parts.back()), std::nullopt);
    }
    ASSERT_TRUE(keeper.store()->MarkForwarded(1, nullptr));
    stationId = keeper.store()->stationId();
  }
  const std::string jsonl10 = ReadAll(dir.path() / "records_2026_12_10.jsonl");
  const std::string csv11 = ReadAll(dir.path() / "records_2026_12_11.csv");

  // Day files lost or cut: export writes them again from the store.
  std::filesystem::remove(dir.path() / "records_2026_12_10.jsonl");
  dir.Write("records_2026_12_11.csv", RecordCsvHeader());
  std::size_t days = 0;
  ASSERT_EQ(ExportDayFiles(dir.path(), &days), std::nullopt);
  EXPECT_EQ(days, 2u);
  EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_10.jsonl"), jsonl10);
  EXPECT_EQ(ReadAll(dir.path() / "records_2026_12_11.csv"), csv11);

  // The store damaged: rebuilt from the day files.
  {
    std::ofstream damage(dir.path() / kRecordStoreFile, std::ios::binary | std::ios::trunc);
    damage << std::string(4096, '\0') << "garbage";
  }
  std::string error;
  EXPECT_FALSE(RecordStore::Open(dir.path(), &error));
  std::size_t count = 0;
  ASSERT_EQ(RebuildStore(dir.path(), &count), std::nullopt);
  EXPECT_EQ(count, 4u);
  auto store = RecordStore::Open(dir.path(), &error);
  ASSERT_TRUE(store) << error;
  const auto rows = store->Find({});
  ASSERT_EQ(rows.size(), 4u);
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].record, parts[i]);
  EXPECT_EQ(store->Unfiled().size(), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "records.sqlite3.old"));
  store.reset();

  // A store that still opens keeps its station id and what was forwarded; records of old day
  // files without an id get the same derived id on every rebuild.
  dir.Write("records_2026_12_09.jsonl",
            R"({"time":"2026-12-09T10:00:00+00:00","host":"h","channel":1,"port":"p",)"
            R"("programmer":"x","chip":"c","origin":"auto","image_crc":"0x0000",)"
            R"("image_sum":"0x0000","option_sum":"0x0000","serial_number":null,"chip_uid":null,)"
            R"("result":0,"result_text":"ok","verdict":"OK","ok_count":1,"ng_count":0})"
            "\n");
  {
    // First rebuild: the kept id was lost with the damaged store; give this store a known one.
    ASSERT_EQ(RebuildStore(dir.path()), std::nullopt);
    auto s = RecordStore::Open(dir.path(), &error);
    ASSERT_TRUE(s->MarkForwarded(2, nullptr));
    stationId = s->stationId();
  }
  std::string derived;
  {
    auto s = RecordStore::Open(dir.path(), &error);
    derived = s->Find({}).front().record.recordId;
  }
  ASSERT_EQ(RebuildStore(dir.path(), &count), std::nullopt);
  EXPECT_EQ(count, 5u);
  store = RecordStore::Open(dir.path(), &error);
  EXPECT_EQ(store->stationId(), stationId);
  const auto again = store->Find({});
  EXPECT_EQ(again.front().record.recordId, derived);
  EXPECT_EQ(derived.size(), 32u);
  std::set<std::string> forwarded;
  for (const StoredRecord& row : again) {
    if (row.forwarded) forwarded.insert(row.record.recordId);
  }
  EXPECT_EQ(forwarded.size(), 2u);
}

}  // namespace
}  // namespace korvan
