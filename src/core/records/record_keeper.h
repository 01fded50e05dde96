// Where every production record goes: first into the record store (records.sqlite3), then into
// the day files (records_yyyy_MM_dd.jsonl and .csv), which stay the hand-off to a line's own
// systems. A record is written when both took it; when the day files refuse it (a full disk) it
// is taken back from the store, so the two agree.
//
// A station that dies between the two writes leaves a record in the store that the day files
// lack. The store marks every record once the day files have it ("filed"); opening the keeper
// looks at the records without the mark, appends to its day files each one whose record id the
// files do not hold yet, and marks it. Appending and this repair run under one lock file
// (records.lock) that every writer of the folder takes, so a record is never filed twice.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records/record_log.h"
#include "core/records/record_store.h"

namespace korvan {

class RecordKeeper {
 public:
  explicit RecordKeeper(std::filesystem::path folder, Durability durability = Durability::Synced);

  // Opens the store (once; again after a failure) and files what a crash left unfiled. Returns
  // the error when the store cannot be opened or a record could not be filed.
  std::optional<std::string> Open();

  // The record into the store, then into its day files; both or neither. The error says why not.
  std::optional<std::string> Append(const ProductionRecord& record);

  // Records the last Open put into the day files.
  std::size_t repaired() const { return repaired_; }

  // Open first; null while the store cannot be opened.
  RecordStore* store() { return store_.get(); }
  const RecordLog& log() const { return log_; }
  RecordLog& log() { return log_; }
  const std::filesystem::path& folder() const { return log_.folder(); }

 private:
  std::optional<std::string> Repair();

  RecordLog log_;
  Durability durability_;
  std::unique_ptr<RecordStore> store_;
  std::size_t repaired_ = 0;
};

// Writes the day files anew from the store: for every day the store holds, both files are
// replaced whole by the store's records of that day in row order. Days the store lacks are left
// alone. Returns the error, or nullopt; *days counts the days written.
std::optional<std::string> ExportDayFiles(const std::filesystem::path& folder,
                                          std::size_t* days = nullptr);

// Makes the store anew from the day files (a store lost or damaged). A store that still opens
// first files what the day files lack, and the new store keeps its station id and which records
// were forwarded. The old file is kept as records.sqlite3.old. Records of older day files without
// a record id get one derived from their line, the same on every rebuild.
std::optional<std::string> RebuildStore(const std::filesystem::path& folder,
                                        std::size_t* records = nullptr);

// The id a record read from a file without one gets: derived from its JSON line.
std::string DerivedRecordId(std::string_view jsonLine);

}  // namespace korvan
