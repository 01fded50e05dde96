#include "core/records/record_store.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "core/util/format.h"

namespace korvan {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS records (
  row_id INTEGER PRIMARY KEY,
  record_id TEXT NOT NULL UNIQUE,
  time TEXT NOT NULL,
  host TEXT NOT NULL,
  station INTEGER NOT NULL,
  channel INTEGER NOT NULL,
  port TEXT NOT NULL,
  programmer TEXT NOT NULL,
  chip TEXT NOT NULL,
  origin INTEGER NOT NULL,
  image_crc INTEGER NOT NULL,
  image_sum INTEGER NOT NULL,
  option_sum INTEGER NOT NULL,
  serial_number INTEGER,
  serial_address INTEGER,
  chip_uid TEXT,
  result INTEGER NOT NULL,
  result_text TEXT NOT NULL,
  pass INTEGER NOT NULL,
  interrupted INTEGER NOT NULL,
  ok_count INTEGER NOT NULL,
  ng_count INTEGER NOT NULL,
  filed INTEGER NOT NULL DEFAULT 0,
  forwarded INTEGER NOT NULL DEFAULT 0,
  serial_derived INTEGER NOT NULL DEFAULT 0,
  job_fingerprint TEXT
);
CREATE INDEX IF NOT EXISTS records_time ON records(time);
CREATE INDEX IF NOT EXISTS records_uid ON records(chip_uid) WHERE chip_uid IS NOT NULL;
CREATE INDEX IF NOT EXISTS records_serial ON records(serial_number)
  WHERE serial_number IS NOT NULL;
CREATE INDEX IF NOT EXISTS records_serial_used ON records(chip, serial_address, serial_number)
  WHERE pass = 1 AND serial_number IS NOT NULL;
CREATE INDEX IF NOT EXISTS records_serial_channel ON records(chip, serial_address, channel,
  serial_number) WHERE pass = 1 AND serial_number IS NOT NULL;
CREATE INDEX IF NOT EXISTS records_result ON records(pass, result);
CREATE INDEX IF NOT EXISTS records_unfiled ON records(row_id) WHERE filed = 0;
CREATE INDEX IF NOT EXISTS records_unforwarded ON records(row_id) WHERE forwarded = 0;
)sql";

// The columns ReadRow reads, the last two as the store's schema has them: a store made before
// serial numbers could be derived reads none as derived, one made before records carried the
// job's fingerprint reads none.
constexpr const char* kColumns =
    "row_id, record_id, time, host, station, channel, port, programmer, chip, origin, "
    "image_crc, image_sum, option_sum, serial_number, serial_address, chip_uid, result, "
    "result_text, pass, interrupted, ok_count, ng_count, forwarded";

// A prepared statement, finalised with its scope.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }

  void Bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void Bind(int i, const std::string& v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  template <typename T>
  void Bind(int i, const std::optional<T>& v) {
    if (v) {
      Bind(i, *v);
    } else {
      sqlite3_bind_null(stmt_, i);
    }
  }
  void Bind(int i, std::uint32_t v) { Bind(i, static_cast<std::int64_t>(v)); }
  void Bind(int i, int v) { Bind(i, static_cast<std::int64_t>(v)); }
  int Step() { return sqlite3_step(stmt_); }
  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  bool Null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::string Text(int col) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
                : std::string();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// A file name as an SQLite URI's path: the characters a URI gives a meaning to, escaped.
std::string UriPath(const std::filesystem::path& file) {
  std::string path;
  for (const char c : file.string()) {
    if (c == '%' || c == '?' || c == '#') {
      path += Format("%%%02X", static_cast<unsigned char>(c));
    } else {
      path += c;
    }
  }
  return path;
}

// What went wrong, said so that an operator knows what to do: only a store SQLite finds
// corrupt or no database at all is called damaged (and rebuilding it advised); a full disk or a
// permission problem is named as such, since rebuilding would not help there.
std::string DbError(sqlite3* db, const std::string& file) {
  const int code = sqlite3_errcode(db) & 0xFF;
  std::string text = Format("Record store \"%s\": %s", file.c_str(), sqlite3_errmsg(db));
  switch (code) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      text +=
          " (the store is damaged: it is rebuilt from the day files with "
          "`korvan-cli records --rebuild`)";
      break;
    case SQLITE_FULL:
      text += " (the disk is full)";
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      text += " (no permission to write it, or a read-only folder)";
      break;
    case SQLITE_CANTOPEN:
      text += " (no permission to open it, or a read-only folder)";
      break;
    default:
      break;
  }
  return text;
}

StoredRecord ReadRow(const Statement& s) {
  StoredRecord stored;
  ProductionRecord& r = stored.record;
  stored.rowId = s.Int(0);
  r.recordId = s.Text(1);
  r.time = s.Text(2);
  r.host = s.Text(3);
  r.station = static_cast<int>(s.Int(4));
  r.channel = static_cast<int>(s.Int(5));
  r.port = s.Text(6);
  r.programmer = s.Text(7);
  r.chip = s.Text(8);
  r.origin = s.Int(9) == 1 ? RecordOrigin::StandAlone : RecordOrigin::Auto;
  r.imageCrc = static_cast<std::uint16_t>(s.Int(10));
  r.imageSum = static_cast<std::uint16_t>(s.Int(11));
  r.optionSum = static_cast<std::uint16_t>(s.Int(12));
  if (!s.Null(13)) r.serialNumber = static_cast<std::uint32_t>(s.Int(13));
  if (!s.Null(14)) r.serialNumberAddress = static_cast<std::uint32_t>(s.Int(14));
  if (!s.Null(15)) r.chipUid = s.Text(15);
  r.result = static_cast<int>(s.Int(16));
  r.resultText = s.Text(17);
  r.pass = s.Int(18) != 0;
  r.interrupted = s.Int(19) != 0;
  r.okCount = static_cast<std::uint32_t>(s.Int(20));
  r.ngCount = static_cast<std::uint32_t>(s.Int(21));
  stored.forwarded = s.Int(22) != 0;
  r.serialNumberDerived = s.Int(23) != 0;
  if (!s.Null(24)) r.jobFingerprint = s.Text(24);
  return stored;
}

// The record's time as the day files sort it: "yyyy-MM-dd" is the local date, so a day's records
// lie between the date and the date followed by a letter after 'T'.
std::string DayEnd(const std::string& day) {
  return day + "U";
}

}  // namespace

std::unique_ptr<RecordStore> RecordStore::Open(const std::filesystem::path& folder,
                                               std::string* error, Durability durability,
                                               StoreAccess access) {
  const std::filesystem::path file = folder / kRecordStoreFile;
  auto fail = [&](const std::string& text) -> std::unique_ptr<RecordStore> {
    if (error) *error = text;
    return nullptr;
  };
  if (folder.empty()) return fail("No folder for the production records");
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    return fail(Format("Record store \"%s\": the folder does not exist", file.c_str()));
  }
  // Queries of a store nobody here can write read it as it stands.
  const bool readOnly = access == StoreAccess::Query &&
                        (::access(folder.c_str(), W_OK) != 0 ||
                         (std::filesystem::exists(file, ec) && ::access(file.c_str(), W_OK) != 0));
  if (readOnly && !std::filesystem::exists(file, ec)) {
    return fail(
        Format("Record store \"%s\": no store in a folder that cannot be written", file.c_str()));
  }
  sqlite3* db = nullptr;
  // Without a write-ahead log left beside it the file is all there is; with one (a station that
  // stopped without closing the store) SQLite reads the log too.
  const bool walLeft = std::filesystem::exists(file.string() + "-wal", ec);
  const std::string uri = "file:" + UriPath(file) +
                          (!readOnly ? ""
                           : walLeft ? "?mode=ro"
                                     : "?mode=ro&immutable=1");
  const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_URI;
  const int rc = sqlite3_open_v2(uri.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string text = db ? DbError(db, file) : "Record store: out of memory";
    sqlite3_close(db);
    return fail(text);
  }
  std::unique_ptr<RecordStore> store(new RecordStore(db, file));
  store->durability_ = durability;
  store->readOnly_ = readOnly;
  // Several stations may share the folder: wait for one another's transactions.
  sqlite3_busy_timeout(db, 10000);
  std::string problem;
  if (readOnly) {
    // Read as it is: a damaged file shows at the first query of its schema.
    if (!store->Exec("SELECT count(*) FROM sqlite_master;", &problem)) return fail(problem);
    store->columns_ = store->ColumnsOfSchema();
    Statement get(db, "SELECT value FROM meta WHERE key = 'station_id'");
    if (get && get.Step() == SQLITE_ROW) store->stationId_ = get.Text(0);
    return store;
  }
  const char* sync =
      durability == Durability::Synced ? "PRAGMA synchronous=FULL;" : "PRAGMA synchronous=NORMAL;";
  if (!store->Exec("PRAGMA journal_mode=WAL;", &problem) || !store->Exec(sync, &problem) ||
      !store->Exec(kSchema, &problem)) {
    return fail(problem);
  }
  // A store made before serial numbers could be derived gets the column (none derived).
  if (!store->HasColumn("serial_derived") &&
      !store->Exec("ALTER TABLE records ADD COLUMN serial_derived INTEGER NOT NULL DEFAULT 0;",
                   &problem)) {
    return fail(problem);
  }
  // A store made before records carried the job's fingerprint gets the column (none known).
  if (!store->HasColumn("job_fingerprint") &&
      !store->Exec("ALTER TABLE records ADD COLUMN job_fingerprint TEXT;", &problem)) {
    return fail(problem);
  }
  store->columns_ = store->ColumnsOfSchema();
  {
    Statement get(db, "SELECT value FROM meta WHERE key = 'station_id'");
    if (get && get.Step() == SQLITE_ROW) store->stationId_ = get.Text(0);
  }
  if (store->stationId_.empty()) {
    const std::string id = NewRecordId();
    Statement put(db, "INSERT OR IGNORE INTO meta(key, value) VALUES ('station_id', ?)");
    put.Bind(1, id);
    if (!put || put.Step() != SQLITE_DONE) return fail(DbError(db, file));
    Statement get(db, "SELECT value FROM meta WHERE key = 'station_id'");
    if (get && get.Step() == SQLITE_ROW) store->stationId_ = get.Text(0);
  }
  return store;
}

RecordStore::~RecordStore() {
  sqlite3_close_v2(db_);
}

bool RecordStore::HasColumn(const char* name) const {
  Statement s(db_, "SELECT 1 FROM pragma_table_info('records') WHERE name = ?");
  s.Bind(1, std::string(name));
  return s && s.Step() == SQLITE_ROW;
}

std::string RecordStore::ColumnsOfSchema() const {
  return std::string(kColumns) + (HasColumn("serial_derived") ? ", serial_derived" : ", 0") +
         (HasColumn("job_fingerprint") ? ", job_fingerprint" : ", NULL");
}

const char* RecordStore::Columns() const {
  return columns_.c_str();
}

bool RecordStore::Exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  sqlite3_free(message);
  if (error) *error = DbError(db_, file_);
  return false;
}

std::int64_t RecordStore::Insert(const ProductionRecord& r, bool filed, std::string* error) {
  if (r.recordId.empty()) {
    if (error) *error = "Record store: a record without a record id";
    return 0;
  }
  if (readOnly_) {
    if (error) *error = Format("Record store \"%s\": opened read-only", file_.c_str());
    return 0;
  }
  Statement ins(db_,
                "INSERT INTO records (record_id, time, host, station, channel, port, programmer, "
                "chip, origin, image_crc, image_sum, option_sum, serial_number, serial_address, "
                "chip_uid, result, result_text, pass, interrupted, ok_count, ng_count, filed, "
                "serial_derived, job_fingerprint) "
                "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) "
                "ON CONFLICT(record_id) DO NOTHING");
  if (!ins) {
    if (error) *error = DbError(db_, file_);
    return 0;
  }
  int i = 0;
  ins.Bind(++i, r.recordId);
  ins.Bind(++i, r.time);
  ins.Bind(++i, r.host);
  ins.Bind(++i, r.station);
  ins.Bind(++i, r.channel);
  ins.Bind(++i, r.port);
  ins.Bind(++i, r.programmer);
  ins.Bind(++i, r.chip);
  ins.Bind(++i, r.origin == RecordOrigin::StandAlone ? 1 : 0);
  ins.Bind(++i, static_cast<int>(r.imageCrc));
  ins.Bind(++i, static_cast<int>(r.imageSum));
  ins.Bind(++i, static_cast<int>(r.optionSum));
  ins.Bind(++i, r.serialNumber);
  ins.Bind(++i, r.serialNumberAddress);
  ins.Bind(++i, r.chipUid);
  ins.Bind(++i, r.result);
  ins.Bind(++i, r.resultText);
  ins.Bind(++i, r.pass ? 1 : 0);
  ins.Bind(++i, r.interrupted ? 1 : 0);
  ins.Bind(++i, r.okCount);
  ins.Bind(++i, r.ngCount);
  ins.Bind(++i, filed ? 1 : 0);
  ins.Bind(++i, r.serialNumberDerived ? 1 : 0);
  if (r.jobFingerprint.empty()) {
    sqlite3_bind_null(ins.get(), ++i);
  } else {
    ins.Bind(++i, r.jobFingerprint);
  }
  if (ins.Step() != SQLITE_DONE) {
    if (error) *error = DbError(db_, file_);
    return 0;
  }
  if (sqlite3_changes(db_) == 1) return sqlite3_last_insert_rowid(db_);
  Statement get(db_, "SELECT row_id FROM records WHERE record_id = ?");
  get.Bind(1, r.recordId);
  if (get && get.Step() == SQLITE_ROW) return get.Int(0);
  if (error) *error = DbError(db_, file_);
  return 0;
}

std::int64_t RecordStore::Append(const ProductionRecord& record, std::string* error) {
  // A single statement is its own transaction: committed (and, synced, on the disk) or not.
  return Insert(record, false, error);
}

bool RecordStore::AppendMany(const std::vector<ProductionRecord>& records, bool filed,
                             std::string* error) {
  if (!Exec("BEGIN IMMEDIATE", error)) return false;
  for (const ProductionRecord& record : records) {
    if (Insert(record, filed, error) == 0) {
      Exec("ROLLBACK", nullptr);
      return false;
    }
  }
  if (Exec("COMMIT", error)) return true;
  Exec("ROLLBACK", nullptr);
  return false;
}

bool RecordStore::Remove(std::int64_t rowId, std::string* error) {
  Statement del(db_, "DELETE FROM records WHERE row_id = ?");
  del.Bind(1, rowId);
  if (del && del.Step() == SQLITE_DONE) return true;
  if (error) *error = DbError(db_, file_);
  return false;
}

bool RecordStore::ForEach(const RecordQuery& q,
                          const std::function<bool(const StoredRecord&)>& visit,
                          std::string* error) const {
  std::string sql = std::string("SELECT ") + Columns() + " FROM records WHERE 1";
  if (q.chipUid) sql += " AND chip_uid = :uid";
  if (q.serialNumber) sql += " AND serial_number = :serial";
  if (q.since) sql += " AND time >= :since";
  if (q.until) sql += " AND time < :until";
  if (q.channel) sql += " AND channel = :channel";
  if (q.pass) sql += " AND pass = :pass";
  sql += " ORDER BY row_id";
  if (q.limit != 0) sql += " LIMIT :limit";
  Statement s(db_, sql);
  if (!s) {
    readError_ = DbError(db_, file_);
    if (error) *error = readError_;
    return false;
  }
  auto bind = [&](const char* name, auto value) {
    const int i = sqlite3_bind_parameter_index(s.get(), name);
    if (i > 0) s.Bind(i, value);
  };
  if (q.chipUid) bind(":uid", *q.chipUid);
  if (q.serialNumber) bind(":serial", *q.serialNumber);
  if (q.since) bind(":since", *q.since);
  if (q.until) bind(":until", DayEnd(*q.until));
  if (q.channel) bind(":channel", *q.channel);
  if (q.pass) bind(":pass", *q.pass ? 1 : 0);
  if (q.limit != 0) bind(":limit", static_cast<std::int64_t>(q.limit));
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    if (!visit(ReadRow(s))) return true;
  }
  if (rc != SQLITE_DONE) {
    readError_ = DbError(db_, file_);
    if (error) *error = readError_;
    return false;
  }
  return true;
}

std::vector<StoredRecord> RecordStore::Find(const RecordQuery& query) const {
  std::vector<StoredRecord> rows;
  ForEach(query, [&](const StoredRecord& row) {
    rows.push_back(row);
    return true;
  });
  return rows;
}

std::vector<std::string> RecordStore::Days() const {
  std::vector<std::string> days;
  // Skips from one day to the next along the time index.
  std::string after;
  for (;;) {
    Statement s(db_,
                "SELECT substr(time, 1, 10) FROM records WHERE time >= ? ORDER BY time LIMIT 1");
    s.Bind(1, after);
    if (!s || s.Step() != SQLITE_ROW) break;
    days.push_back(s.Text(0));
    after = DayEnd(days.back());
  }
  return days;
}

std::size_t RecordStore::Count() const {
  Statement s(db_, "SELECT count(*) FROM records");
  return s && s.Step() == SQLITE_ROW ? static_cast<std::size_t>(s.Int(0)) : 0;
}

std::vector<StoredRecord> RecordStore::Unforwarded(std::size_t limit) const {
  std::vector<StoredRecord> rows;
  std::string sql =
      std::string("SELECT ") + Columns() + " FROM records WHERE forwarded = 0 ORDER BY row_id";
  // SQLite takes a 64-bit signed limit: a larger one (SIZE_MAX for "all") would fail the
  // statement and read as an empty outbox.
  if (limit != 0 && limit <= static_cast<std::size_t>(INT64_MAX)) {
    sql += " LIMIT " + std::to_string(limit);
  }
  Statement s(db_, sql);
  while (s && s.Step() == SQLITE_ROW) rows.push_back(ReadRow(s));
  return rows;
}

std::size_t RecordStore::UnforwardedCount() const {
  return CountUnforwarded().value_or(0);
}

std::optional<std::size_t> RecordStore::CountUnforwarded() const {
  Statement s(db_, "SELECT count(*) FROM records WHERE forwarded = 0");
  if (s && s.Step() == SQLITE_ROW) return static_cast<std::size_t>(s.Int(0));
  return std::nullopt;
}

bool RecordStore::MarkForwarded(std::int64_t rowIdUpTo, std::string* error) {
  Statement s(db_, "UPDATE records SET forwarded = 1 WHERE forwarded = 0 AND row_id <= ?");
  s.Bind(1, rowIdUpTo);
  if (s && s.Step() == SQLITE_DONE) return true;
  if (error) *error = DbError(db_, file_);
  return false;
}

std::vector<StoredRecord> RecordStore::Unfiled() const {
  std::vector<StoredRecord> rows;
  Statement s(db_,
              std::string("SELECT ") + Columns() + " FROM records WHERE filed = 0 ORDER BY row_id");
  while (s && s.Step() == SQLITE_ROW) rows.push_back(ReadRow(s));
  return rows;
}

bool RecordStore::MarkFiled(std::int64_t rowId, std::string* error) {
  // The mark need not reach the disk at once: lost, it costs one look into a day file at the
  // next opening. The next record's commit takes it to the disk anyway.
  Exec("PRAGMA synchronous=NORMAL", nullptr);
  Statement s(db_, "UPDATE records SET filed = 1 WHERE row_id = ?");
  s.Bind(1, rowId);
  const bool done = s && s.Step() == SQLITE_DONE;
  if (!done && error) *error = DbError(db_, file_);
  if (durability_ == Durability::Synced) Exec("PRAGMA synchronous=FULL", nullptr);
  return done;
}

bool RecordStore::MarkAllFiled(std::string* error) {
  return Exec("UPDATE records SET filed = 1 WHERE filed = 0", error);
}

std::optional<StoredRecord> RecordStore::FirstOkSerialInRange(const std::string& chip,
                                                              std::uint32_t address,
                                                              std::uint32_t first,
                                                              std::uint32_t last) const {
  Statement s(db_, std::string("SELECT ") + Columns() +
                       " FROM records WHERE pass = 1 AND serial_number IS NOT NULL AND "
                       "serial_number BETWEEN ? AND ? "
                       "AND chip = ? AND serial_address = ? ORDER BY serial_number, row_id "
                       "LIMIT 1");
  s.Bind(1, first);
  s.Bind(2, last);
  s.Bind(3, chip);
  s.Bind(4, address);
  if (s && s.Step() == SQLITE_ROW) return ReadRow(s);
  return std::nullopt;
}

std::optional<std::uint32_t> RecordStore::HighestOkSerial(const std::string& chip,
                                                          std::uint32_t address,
                                                          int channel) const {
  Statement s(db_,
              "SELECT max(serial_number) FROM records WHERE pass = 1 AND serial_number IS NOT "
              "NULL AND chip = ? AND serial_address = ? AND channel = ?");
  s.Bind(1, chip);
  s.Bind(2, address);
  s.Bind(3, channel);
  if (s && s.Step() == SQLITE_ROW && !s.Null(0)) return static_cast<std::uint32_t>(s.Int(0));
  return std::nullopt;
}

std::vector<RecordStore::DuplicateGroup> RecordStore::Duplicates() const {
  std::vector<DuplicateGroup> groups;
  auto collect = [&](DuplicateGroup::Kind kind, const std::string& keys, const std::string& match) {
    Statement s(db_, std::string("SELECT ") + Columns() +
                         " FROM records AS r WHERE pass = 1 AND (" + keys + ") IN (SELECT " + keys +
                         " FROM records WHERE pass = 1 AND " + match + " GROUP BY " + keys +
                         " HAVING count(*) > 1) ORDER BY " + keys + ", row_id");
    std::string lastKey;
    while (s && s.Step() == SQLITE_ROW) {
      StoredRecord row = ReadRow(s);
      const ProductionRecord& r = row.record;
      const std::string key = kind == DuplicateGroup::Kind::ChipUid
                                  ? r.chipUid.value_or("")
                                  : r.chip + '\n' +
                                        std::to_string(r.serialNumberAddress.value_or(0)) + '\n' +
                                        std::to_string(r.serialNumber.value_or(0));
      if (groups.empty() || groups.back().kind != kind || key != lastKey) {
        groups.push_back({kind, {}});
        lastKey = key;
      }
      groups.back().records.push_back(std::move(row));
    }
  };
  collect(DuplicateGroup::Kind::SerialNumber, "chip, serial_address, serial_number",
          "serial_number IS NOT NULL");
  collect(DuplicateGroup::Kind::ChipUid, "chip_uid", "chip_uid IS NOT NULL");
  return groups;
}

bool RecordStore::AdoptFrom(const std::filesystem::path& oldFile, std::string* error) {
  Statement attach(db_, "ATTACH DATABASE ? AS old");
  attach.Bind(1, oldFile.string());
  if (!attach || attach.Step() != SQLITE_DONE) {
    if (error) *error = DbError(db_, file_);
    return false;
  }
  const bool ok = Exec(
      "BEGIN IMMEDIATE;"
      "INSERT OR REPLACE INTO meta(key, value) SELECT key, value FROM old.meta "
      "WHERE key = 'station_id';"
      "UPDATE records SET forwarded = 1 WHERE record_id IN "
      "(SELECT record_id FROM old.records WHERE forwarded = 1);"
      "COMMIT;",
      error);
  if (!ok) Exec("ROLLBACK", nullptr);
  Exec("DETACH DATABASE old", nullptr);
  Statement get(db_, "SELECT value FROM meta WHERE key = 'station_id'");
  if (get && get.Step() == SQLITE_ROW) stationId_ = get.Text(0);
  return ok;
}

}  // namespace korvan
