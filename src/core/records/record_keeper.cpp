#include "core/records/record_keeper.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/util/format.h"

namespace korvan {

namespace fs = std::filesystem;

namespace {

// The folder's writer lock: held while a record goes into the store and the day files, and
// while unfiled records are repaired, exported or the store is rebuilt.
class FolderLock {
 public:
  explicit FolderLock(const fs::path& folder) {
    const fs::path file = folder / "records.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      error_ = Format("Cannot open \"%s\": %s", file.c_str(), std::strerror(errno));
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = Format("Cannot lock \"%s\": %s", file.c_str(), std::strerror(errno));
        return;
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  const std::optional<std::string>& error() const { return error_; }

 private:
  int fd_ = -1;
  std::optional<std::string> error_;
};

// The record ids one day's JSON Lines file holds (none when it does not exist).
std::set<std::string> RecordIdsOfDay(const fs::path& folder, const std::string& day) {
  std::set<std::string> ids;
  const auto parsed = ParseRecordDay(day);
  if (!parsed) return ids;
  std::ifstream in(folder / (RecordFileStem(*parsed) + ".jsonl"), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // a line without its line feed is not a record
    if (auto record = ParseRecordJson(line); record && !record->recordId.empty()) {
      ids.insert(record->recordId);
    }
  }
  return ids;
}

std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash) {
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

}  // namespace

std::string DerivedRecordId(std::string_view jsonLine) {
  return Format("%016llx%016llx",
                static_cast<unsigned long long>(Fnv1a(jsonLine, 0xcbf29ce484222325ULL)),
                static_cast<unsigned long long>(Fnv1a(jsonLine, 0x84222325cbf29ce4ULL)));
}

RecordKeeper::RecordKeeper(fs::path folder, Durability durability)
    : log_(std::move(folder), durability), durability_(durability) {}

std::optional<std::string> RecordKeeper::Open() {
  if (store_) return std::nullopt;
  std::string error;
  store_ = RecordStore::Open(folder(), &error, durability_);
  if (!store_) return error;
  FolderLock lock(folder());
  if (lock.error()) return lock.error();
  return Repair();
}

std::optional<std::string> RecordKeeper::Repair() {
  repaired_ = 0;
  std::map<std::string, std::set<std::string>> idsByDay;
  for (const StoredRecord& row : store_->Unfiled()) {
    const std::string day = row.record.time.substr(0, 10);
    auto it = idsByDay.find(day);
    if (it == idsByDay.end()) it = idsByDay.emplace(day, RecordIdsOfDay(folder(), day)).first;
    if (!it->second.count(row.record.recordId)) {
      if (auto error = log_.Append(row.record)) return error;
      it->second.insert(row.record.recordId);
      ++repaired_;
    }
    std::string error;
    if (!store_->MarkFiled(row.rowId, &error)) return error;
  }
  return std::nullopt;
}

std::optional<std::string> RecordKeeper::Append(const ProductionRecord& record) {
  if (auto error = Open()) {
    store_.reset();
    return error;
  }
  FolderLock lock(folder());
  if (lock.error()) return lock.error();
  std::string error;
  const std::int64_t row = store_->Append(record, &error);
  if (row == 0) return error;
  if (auto fileError = log_.Append(record)) {
    std::string removeError;
    if (!store_->Remove(row, &removeError)) {
      // Left unfiled: the next opening puts it into the day files.
      return *fileError + "; " + removeError;
    }
    return fileError;
  }
  // Losing this mark to a crash costs only a look into the day file at the next opening.
  store_->MarkFiled(row, nullptr);
  return std::nullopt;
}

std::optional<std::string> ExportDayFiles(const fs::path& folder, std::size_t* days) {
  if (days) *days = 0;
  std::string error;
  auto store = RecordStore::Open(folder, &error);
  if (!store) return error;
  FolderLock lock(folder);
  if (lock.error()) return lock.error();
  for (const std::string& day : store->Days()) {
    const auto parsed = ParseRecordDay(day);
    if (!parsed) continue;
    std::string jsonl, csv = RecordCsvHeader();
    RecordQuery query;
    query.since = query.until = day;
    const bool read = store->ForEach(
        query,
        [&](const StoredRecord& row) {
          jsonl += RecordJsonLine(row.record);
          csv += RecordCsvLine(row.record);
          return true;
        },
        &error);
    if (!read) return error;
    const std::string stem = (folder / RecordFileStem(*parsed)).string();
    // The CSV file first: a reader that finds the JSON Lines file new finds the CSV file new.
    if (!WriteFileAtomically(stem + ".csv", csv, error) ||
        !WriteFileAtomically(stem + ".jsonl", jsonl, error)) {
      return error;
    }
    if (days) ++*days;
  }
  if (!store->MarkAllFiled(&error)) return error;
  return std::nullopt;
}

std::optional<std::string> RebuildStore(const fs::path& folder, std::size_t* count) {
  if (count) *count = 0;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    return Format("Record folder \"%s\" does not exist", folder.c_str());
  }
  const fs::path file = folder / kRecordStoreFile;
  bool oldUsable = false;
  if (fs::exists(file, ec)) {
    // What only the old store holds goes into the day files first.
    RecordKeeper old(folder);
    oldUsable = !old.Open();
  }
  FolderLock lock(folder);
  if (lock.error()) return lock.error();

  const RecordListing listing = ReadRecords(folder);
  if (!listing.errors.empty()) return listing.errors.front();
  std::vector<ProductionRecord> records;
  records.reserve(listing.entries.size());
  for (const RecordListing::Entry& entry : listing.entries) {
    records.push_back(entry.record);
    if (records.back().recordId.empty()) records.back().recordId = DerivedRecordId(entry.jsonLine);
  }

  const fs::path work = folder / ".records-rebuild";
  fs::remove_all(work, ec);
  if (!fs::create_directory(work, ec)) {
    return Format("Cannot create \"%s\": %s", work.c_str(), ec.message().c_str());
  }
  std::string error;
  {
    auto fresh = RecordStore::Open(work, &error);
    if (!fresh) return error;
    if (!fresh->AppendMany(records, /*filed=*/true, &error)) {
      fresh.reset();
      fs::remove_all(work, ec);
      return error;
    }
    if (oldUsable) fresh->AdoptFrom(file, nullptr);
  }
  // The old store (and its journal, which belongs to it alone) makes way.
  fs::rename(file, folder / (std::string(kRecordStoreFile) + ".old"), ec);
  for (const char* suffix : {"-wal", "-shm"})
    fs::remove(folder / (kRecordStoreFile + std::string(suffix)), ec);
  fs::rename(work / kRecordStoreFile, file, ec);
  const std::error_code renameError = ec;
  fs::remove_all(work, ec);
  if (renameError) {
    return Format("Cannot put the rebuilt store in place: %s", renameError.message().c_str());
  }
  if (count) *count = records.size();
  return std::nullopt;
}

}  // namespace korvan
