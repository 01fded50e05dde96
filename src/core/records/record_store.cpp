#include "core/records/record_store.h"

#include <sqlite3.h>

#include <cstdio>
#include <random>

namespace korvan {
namespace {

std::string RandomHex() {
  std::random_device rd;
  std::string out;
  for (int i = 0; i < 4; ++i) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(rd()));
    out += buf;
  }
  return out;
}

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(const std::filesystem::path& folder,
                                               std::string* error) {
  std::unique_ptr<RecordStore> store(new RecordStore);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (sqlite3_open((folder / "records.sqlite3").string().c_str(), &store->db_) != SQLITE_OK) {
    *error = "cannot open the record store";
    return nullptr;
  }
  sqlite3_busy_timeout(store->db_, 5000);
  sqlite3_exec(store->db_,
               "PRAGMA journal_mode=WAL;"
               "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT);"
               "CREATE TABLE IF NOT EXISTS records(row_id INTEGER PRIMARY KEY, record_id TEXT "
               "UNIQUE, json TEXT, address INTEGER, forwarded INTEGER DEFAULT 0);",
               nullptr, nullptr, nullptr);
  const std::string id = RandomHex();
  sqlite3_exec(store->db_, ("INSERT OR IGNORE INTO meta VALUES('station_id','" + id + "')").c_str(),
               nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(store->db_, "SELECT value FROM meta WHERE key='station_id'", -1, &st, nullptr);
  if (sqlite3_step(st) == SQLITE_ROW) {
    store->stationId_ = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  }
  sqlite3_finalize(st);
  return store;
}

RecordStore::~RecordStore() {
  sqlite3_close(db_);
}

std::int64_t RecordStore::Append(const ProductionRecord& record, std::string* error) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db_,
                     "INSERT INTO records(record_id, json, address) VALUES(?,?,?) ON "
                     "CONFLICT(record_id) DO NOTHING",
                     -1, &st, nullptr);
  std::string json = RecordJsonLine(record);
  sqlite3_bind_text(st, 1, record.recordId.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st, 2, json.c_str(), -1, SQLITE_TRANSIENT);
  if (record.serialNumberAddress) {
    sqlite3_bind_int64(st, 3, *record.serialNumberAddress);
  } else {
    sqlite3_bind_null(st, 3);
  }
  const int rc = sqlite3_step(st);
  sqlite3_finalize(st);
  if (rc != SQLITE_DONE) {
    *error = sqlite3_errmsg(db_);
    return 0;
  }
  sqlite3_prepare_v2(db_, "SELECT row_id FROM records WHERE record_id=?", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, record.recordId.c_str(), -1, SQLITE_TRANSIENT);
  std::int64_t row = 0;
  if (sqlite3_step(st) == SQLITE_ROW) row = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  return row;
}

std::vector<StoredRecord> RecordStore::Select(const std::string& where) const {
  std::vector<StoredRecord> out;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(
      db_, ("SELECT row_id, record_id, json, address, forwarded FROM records " + where).c_str(), -1,
      &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    StoredRecord r;
    r.rowId = sqlite3_column_int64(st, 0);
    auto parsed = ParseRecordJson(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)));
    if (parsed) r.record = *parsed;
    r.record.recordId = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
    if (sqlite3_column_type(st, 3) != SQLITE_NULL) {
      r.record.serialNumberAddress = static_cast<std::uint32_t>(sqlite3_column_int64(st, 3));
    }
    r.forwarded = sqlite3_column_int(st, 4) != 0;
    out.push_back(std::move(r));
  }
  sqlite3_finalize(st);
  return out;
}

std::vector<StoredRecord> RecordStore::Find(const RecordQuery& query) const {
  std::vector<StoredRecord> out;
  for (StoredRecord& r : Select("ORDER BY row_id")) {
    if (query.chipUid && r.record.chipUid != query.chipUid) continue;
    if (query.serialNumber && r.record.serialNumber != query.serialNumber) continue;
    if (query.channel && r.record.channel != *query.channel) continue;
    if (query.pass && r.record.pass != *query.pass) continue;
    out.push_back(std::move(r));
    if (query.limit != 0 && out.size() == query.limit) break;
  }
  return out;
}

std::vector<StoredRecord> RecordStore::Unforwarded(std::size_t limit) const {
  return Select("WHERE forwarded=0 ORDER BY row_id LIMIT " + std::to_string(limit));
}

std::size_t RecordStore::UnforwardedCount() const {
  return Select("WHERE forwarded=0").size();
}

bool RecordStore::MarkForwarded(std::int64_t rowIdUpTo, std::string* error) {
  const std::string sql =
      "UPDATE records SET forwarded=1 WHERE row_id<=" + std::to_string(rowIdUpTo);
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

std::optional<StoredRecord> RecordStore::FirstOkSerialInRange(const std::string& chip,
                                                              std::uint32_t address,
                                                              std::uint32_t first,
                                                              std::uint32_t last) const {
  std::optional<StoredRecord> best;
  for (StoredRecord& r : Select("ORDER BY row_id")) {
    if (!r.record.pass || r.record.chip != chip || r.record.serialNumberAddress != address ||
        !r.record.serialNumber || *r.record.serialNumber < first || *r.record.serialNumber > last)
      continue;
    if (!best || *r.record.serialNumber < *best->record.serialNumber) best = r;
  }
  return best;
}

std::optional<std::uint32_t> RecordStore::HighestOkSerial(const std::string& chip,
                                                          std::uint32_t address,
                                                          int channel) const {
  std::optional<std::uint32_t> best;
  for (StoredRecord& r : Select("ORDER BY row_id")) {
    if (r.record.pass && r.record.chip == chip && r.record.serialNumberAddress == address &&
        r.record.channel == channel && r.record.serialNumber &&
        (!best || *r.record.serialNumber > *best))
      best = r.record.serialNumber;
  }
  return best;
}

}  // namespace korvan
