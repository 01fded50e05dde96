// The production record files: one pair per day in the station's log folder,
// records_yyyy_MM_dd.jsonl and records_yyyy_MM_dd.csv (the day of the record's own time).
//
// Every record is appended to each file on a descriptor opened with O_APPEND, under exclusive
// flocks on both files that every writer takes, so records of several writers (the window and a
// command-line station sharing a folder) never interleave. A write that stops short or fails (a
// full disk) is undone by cutting the file back to its length before the record, and a record
// that does not reach the CSV file is taken back from the JSON Lines file too: both files always
// hold the same records, as whole lines. A writer killed in the middle of a record can still
// leave a line without its line feed at the end of a file: readers skip it, and the next writer
// cuts it off before it appends. The CSV file gets its header line the moment it comes into
// being: it is created complete with its header and linked into place, never empty.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/records/production_record.h"
#include "core/util/atomic_file.h"

namespace korvan {

// A calendar day, as the record files are named by it.
struct RecordDay {
  int year = 0;
  int month = 0;
  int day = 0;
  auto operator<=>(const RecordDay&) const = default;
};

// "2026-12-10" (the station's short date) → the day; nullopt for anything else.
std::optional<RecordDay> ParseRecordDay(std::string_view text);

// "records_2026_12_10" without an extension.
std::string RecordFileStem(const RecordDay& day);

// How a record's bytes reach a file: write(2) unless a test puts a failing disk in its place.
using RecordWriteFunction = std::function<ssize_t(int fd, const void* data, std::size_t size)>;
RecordWriteFunction DefaultRecordWrite();

class RecordLog {
 public:
  // Writes into `folder`, which must exist. With Durability::Synced each record reaches the
  // disk (fdatasync) before Append returns.
  explicit RecordLog(std::filesystem::path folder, Durability durability = Durability::Synced)
      : folder_(std::move(folder)), durability_(durability) {}

  // Appends `record` to both files of its day (from `record.time`, ISO 8601), or to neither.
  // Returns the error text of the file that failed. Any thread, though the station calls it on
  // its own.
  std::optional<std::string> Append(const ProductionRecord& record) const;

  const std::filesystem::path& folder() const { return folder_; }

  // Replaces write(2) for the record lines (not for the CSV header of a new file).
  void SetWriteFunction(RecordWriteFunction write) { write_ = std::move(write); }

 private:
  std::filesystem::path folder_;
  Durability durability_;
  RecordWriteFunction write_ = DefaultRecordWrite();
};

struct RecordListing {
  struct Entry {
    ProductionRecord record;
    std::string jsonLine;  // the line as stored, without its line feed
  };
  std::vector<Entry> entries;       // oldest day first, in file order within a day
  std::size_t skippedLines = 0;     // lines cut short or not a record
  std::vector<std::string> errors;  // files that could not be read
};

// Reads the JSON Lines files in `folder` of `since` and later days (all days when not given).
// A missing folder gives an empty listing.
RecordListing ReadRecords(const std::filesystem::path& folder,
                          std::optional<RecordDay> since = std::nullopt);

}  // namespace korvan
