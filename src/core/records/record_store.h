// The station's production-record store (stand-in until the real one lands).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records/production_record.h"

struct sqlite3;

namespace korvan {

struct StoredRecord {
  std::int64_t rowId = 0;
  ProductionRecord record;
  bool forwarded = false;
};

struct RecordQuery {
  std::optional<std::string> chipUid;
  std::optional<std::uint32_t> serialNumber;
  std::optional<std::string> since, until;
  std::optional<int> channel;
  std::optional<bool> pass;
  std::size_t limit = 0;
};

class RecordStore {
 public:
  static std::unique_ptr<RecordStore> Open(const std::filesystem::path& folder, std::string* error);
  ~RecordStore();
  const std::string& stationId() const { return stationId_; }
  std::int64_t Append(const ProductionRecord& record, std::string* error);
  std::vector<StoredRecord> Find(const RecordQuery& query) const;
  std::vector<StoredRecord> Unforwarded(std::size_t limit) const;
  std::size_t UnforwardedCount() const;
  bool MarkForwarded(std::int64_t rowIdUpTo, std::string* error);
  std::optional<StoredRecord> FirstOkSerialInRange(const std::string& chip, std::uint32_t address,
                                                   std::uint32_t first, std::uint32_t last) const;
  std::optional<std::uint32_t> HighestOkSerial(const std::string& chip, std::uint32_t address,
                                               int channel) const;

 private:
  std::vector<StoredRecord> Select(const std::string& where) const;
  sqlite3* db_ = nullptr;
  std::string stationId_;
};

}  // namespace korvan
