// The station's record store: every production record also goes into an SQLite database in the
// record folder (records.sqlite3), where it can be looked up by time, chip UID, serial number and
// result without reading the day files. The database runs in WAL mode; each record is one
// transaction; the window and command-line stations sharing a folder share the database.
//
// Beside the records the store keeps two marks per record: "filed" (the record reached the day
// files, see RecordKeeper) and "forwarded" (a line database took it: the outbox).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records/production_record.h"
#include "core/util/atomic_file.h"

struct sqlite3;

namespace korvan {

struct StoredRecord {
  std::int64_t rowId = 0;
  ProductionRecord record;
  bool forwarded = false;
};

struct RecordQuery {                   // all optional; AND-ed
  std::optional<std::string> chipUid;  // upper-case hex, exact
  std::optional<std::uint32_t> serialNumber;
  std::optional<std::string> since, until;  // "yyyy-MM-dd" inclusive, on the record's local date
  std::optional<int> channel;
  std::optional<bool> pass;
  std::size_t limit = 0;  // 0 = all; rows come in rowId order
};

// The store's file in a record folder.
inline constexpr const char* kRecordStoreFile = "records.sqlite3";

// What a store is opened for. Queries of a store on a read-only folder or mount read it as it
// stands, without the write-ahead log's shared files (nothing there can change it meanwhile).
enum class StoreAccess { ReadWrite, Query };

class RecordStore {
 public:
  // Opens or creates `folder`/records.sqlite3 (WAL). nullptr and *error when it cannot; the
  // error says why: the folder is missing, permission is denied, the disk is full, or (only
  // when SQLite finds the file corrupt or no database) the store is damaged, with the advice
  // to rebuild it. With Durability::Synced a record has reached the disk when Append returns.
  static std::unique_ptr<RecordStore> Open(const std::filesystem::path& folder, std::string* error,
                                           Durability durability = Durability::Synced,
                                           StoreAccess access = StoreAccess::ReadWrite);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // This station's own id: 32 hex digits made when the store was created.
  const std::string& stationId() const { return stationId_; }
  const std::filesystem::path& file() const { return file_; }

  // One transaction per record; returns the row id (> 0), or 0 and *error. Idempotent on
  // record.recordId (a second append of the same id returns the first row id). A record without
  // an id is refused.
  std::int64_t Append(const ProductionRecord& record, std::string* error);
  // Many records in one transaction (rebuilding, generated test data); all or none.
  bool AppendMany(const std::vector<ProductionRecord>& records, bool filed, std::string* error);
  // Takes a record back (its day files could not be written).
  bool Remove(std::int64_t rowId, std::string* error);

  std::vector<StoredRecord> Find(const RecordQuery& query) const;
  // The same rows one at a time, without holding them all; `visit` returns false to stop.
  // False and *error when the store could not be read.
  bool ForEach(const RecordQuery& query, const std::function<bool(const StoredRecord&)>& visit,
               std::string* error = nullptr) const;
  // The local dates ("yyyy-MM-dd") that have records, in order.
  std::vector<std::string> Days() const;
  std::size_t Count() const;

  // The outbox: records not yet forwarded to a line database, oldest first.
  std::vector<StoredRecord> Unforwarded(std::size_t limit) const;
  std::size_t UnforwardedCount() const;
  // The same, or nothing when the store could not be read.
  std::optional<std::size_t> CountUnforwarded() const;
  bool MarkForwarded(std::int64_t rowIdUpTo, std::string* error);  // all rows <= id

  // Records not yet known to be in the day files, oldest first, and their mark.
  std::vector<StoredRecord> Unfiled() const;
  bool MarkFiled(std::int64_t rowId, std::string* error);
  bool MarkAllFiled(std::string* error);

  // The serial-number guard's question: OK records of `chip` whose serial number was written at
  // `address` and lies in [first, last]; the first (lowest serial, then lowest row) or nullopt.
  std::optional<StoredRecord> FirstOkSerialInRange(const std::string& chip, std::uint32_t address,
                                                   std::uint32_t first, std::uint32_t last) const;
  // Highest serial number among OK records of chip/address on `channel` (for "continue").
  std::optional<std::uint32_t> HighestOkSerial(const std::string& chip, std::uint32_t address,
                                               int channel) const;

  // Serial numbers (per chip and address) and chip UIDs that more than one OK record carries:
  // each group holds those records, in row order; groups by serial number, then by UID.
  struct DuplicateGroup {
    enum class Kind { SerialNumber, ChipUid } kind = Kind::SerialNumber;
    std::vector<StoredRecord> records;
  };
  std::vector<DuplicateGroup> Duplicates() const;

  // After a rebuild: takes the station id and the forwarded marks (by record id) of the store in
  // `oldFile`.
  bool AdoptFrom(const std::filesystem::path& oldFile, std::string* error);

  // The last error the database reported while reading (queries return nothing then).
  const std::string& readError() const { return readError_; }

 private:
  RecordStore(sqlite3* db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
  bool Exec(const char* sql, std::string* error);
  std::int64_t Insert(const ProductionRecord& record, bool filed, std::string* error);
  bool HasColumn(const char* name) const;
  // The columns ReadRow reads, as this store's schema has them.
  const char* Columns() const;
  std::string ColumnsOfSchema() const;

  sqlite3* db_ = nullptr;
  std::filesystem::path file_;
  std::string stationId_;
  Durability durability_ = Durability::Synced;
  mutable std::string readError_;
  bool readOnly_ = false;
  std::string columns_;
};

}  // namespace korvan
