// korvan-cli records: prints the production records (one per finished part) that the window and
// the command-line station wrote into the record folder, oldest first, as JSON Lines or CSV.
// Without a query option it reads the day files; a query (--uid, --serial, --until,
// --channel, --result), --summary and --duplicates ask the record store. --export writes the
// day files anew from the store, --rebuild the store from the day files.
#include <stdlib.h>

#include <cctype>
#include <cstdint>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/command.h"
#include "core/app/log_file.h"
#include "core/line/line_database.h"
#include "core/records/record_keeper.h"
#include "core/records/record_log.h"
#include "core/records/record_store.h"
#include "core/records/record_summary.h"
#include "core/util/atomic_file.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

std::string DateCheck(const std::string& text) {
  return ParseRecordDay(text) ? std::string() : "expected a date as yyyy-MM-dd";
}

// "01 02 0a..." or "01:02:0A..." → "01020A..."; nullopt when anything else is in it.
std::optional<std::string> UidDigits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (c != ' ' && c != ':' && c != '-') {
      return std::nullopt;
    }
  }
  if (digits.empty()) return std::nullopt;
  return digits;
}

class RecordsCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "records",
        "Print the production records (one per finished part: Auto sequences and stand-alone "
        "results), oldest first, as JSON Lines or CSV; look them up in the record store, "
        "summarise them, find reused serial numbers and UIDs.");
    sub->footer(
        "Without --uid, --serial, --until, --channel, --result, --summary or --duplicates the "
        "day files are read (records_yyyy_MM_dd.jsonl); with one of them the record store "
        "(records.sqlite3 in the same folder). --export writes the day files of every day the "
        "store holds anew from it; --rebuild makes the store anew from the day files (the old "
        "one is kept as records.sqlite3.old). A store on a read-only folder is read as it "
        "stands. A good part a programmer made on its own carries the serial number its "
        "downloaded settings gave it (start + step per good part since the download), with "
        "\"serial_number_derived\": true (CSV: \"derived\" in the last column); --serial, "
        "--duplicates and the serial-number guard count it as any other.\n"
        "Exit status: 0 printed (also when there are none), 2 usage error, 3 the --dir folder "
        "does not exist, a record file or the store could not be read or written, or the output "
        "could not be written.");
    sub->add_option("--since", since_, "Only records of this day (yyyy-MM-dd) and later")
        ->check(DateCheck);
    sub->add_option("--until", until_, "Only records of this day (yyyy-MM-dd) and earlier")
        ->check(DateCheck);
    sub->add_option("--uid", uid_, "Only the records of this chip UID (hex digits)");
    sub->add_option("--serial", serial_, "Only the records with this serial number");
    sub->add_option("--channel", channel_, "Only the records of this channel")
        ->check(CLI::PositiveNumber);
    sub->add_option("--result", result_, "Only OK or only NG records")
        ->check(CLI::IsMember({"ok", "ng"}, CLI::ignore_case));
    sub->add_flag("--csv", csv_, "Print CSV (RFC 4180, header line first) in place of JSON Lines");
    sub->add_flag("--json", json_,
                  "JSON: records as JSON Lines (the default), --summary as one object, "
                  "--duplicates one object per group");
    sub->add_flag("--summary", summary_,
                  "Per day and channel, and per job (its fingerprint): parts, OK, NG, yield, "
                  "parts per hour; the NG result codes with their texts, most frequent first");
    sub->add_option("--html", html_,
                    "With --summary: also write the summary as one self-contained HTML page");
    sub->add_flag("--duplicates", duplicates_,
                  "Serial numbers (per chip and address) and chip UIDs found in more than one OK "
                  "record");
    sub->add_flag("--export", export_, "Write the day files anew from the record store");
    sub->add_flag("--rebuild", rebuild_, "Make the record store anew from the day files");
    sub->add_flag("--pending", pending_,
                  "The records not yet forwarded to the line database (the station's outbox)");
    sub->add_option("--db", db_,
                    "Ask the line database (postgresql://user@host/db) in place of the record "
                    "folder: the records of every station of the line");
    sub->add_option("--dir", dir_,
                    "Folder of the record files (default: the station's log folder)");
    return sub;
  }

  int Run() override {
    if (!db_.empty()) {
      if (pending_ || rebuild_ || export_ || !dir_.empty()) {
        std::cerr << "records: --db goes with neither --pending, --rebuild, --export nor --dir\n";
        return kExitUsage;
      }
      if (!html_.empty() && !summary_) {
        std::cerr << "records: --html goes with --summary\n";
        return kExitUsage;
      }
      return FromStore();
    }
    const LogLocation logs = dir_.empty() ? PrepareLogLocation() : LogLocation{};
    if (!logs.problem.empty()) {
      std::cerr << "records: " << logs.problem << ", or give --dir FOLDER\n";
      return kExitIo;
    }
    folder_ = dir_.empty() ? logs.shutdownDir : std::filesystem::path(dir_);
    std::error_code ec;
    if (!dir_.empty() && !std::filesystem::is_directory(folder_, ec)) {
      // A folder named on the command line that is not there is a mistake, not "no records".
      std::cerr << "records: no such folder: " << folder_.string() << '\n';
      return kExitIo;
    }
    if (!html_.empty() && !summary_) {
      std::cerr << "records: --html goes with --summary\n";
      return kExitUsage;
    }
    if (rebuild_ || export_) return Maintain();
    if (pending_) return Pending();
    if (!uid_.empty() || serial_ || !until_.empty() || channel_ || !result_.empty() || summary_ ||
        duplicates_) {
      return FromStore();
    }
    return FromDayFiles();
  }

 private:
  int FromDayFiles() {
    const RecordListing listing =
        ReadRecords(folder_, since_.empty() ? std::nullopt : ParseRecordDay(since_));
    if (csv_) std::cout << RecordCsvHeader();
    for (const RecordListing::Entry& entry : listing.entries) {
      if (csv_) {
        std::cout << RecordCsvLine(entry.record);
      } else {
        std::cout << entry.jsonLine << '\n';
      }
    }
    std::cout.flush();
    if (listing.skippedLines != 0) {
      std::cerr << "records: " << listing.skippedLines
                << " line(s) skipped: cut short or not a record\n";
    }
    for (const std::string& error : listing.errors) std::cerr << error << '\n';
    return !listing.errors.empty() || !std::cout ? kExitIo : kExitOk;
  }

  int Maintain() {
    if (rebuild_) {
      std::size_t count = 0;
      if (auto error = RebuildStore(folder_, &count)) {
        std::cerr << "records: " << *error << '\n';
        return kExitIo;
      }
      std::cout << "record store rebuilt from the day files: " << count << " record(s)\n";
    }
    if (export_) {
      std::size_t days = 0;
      if (auto error = ExportDayFiles(folder_, &days)) {
        std::cerr << "records: " << *error << '\n';
        return kExitIo;
      }
      std::cout << "day files written from the record store: " << days << " day(s)\n";
    }
    return std::cout ? kExitOk : kExitIo;
  }

  int Pending() {
    std::error_code ec;
    if (!std::filesystem::exists(folder_ / kRecordStoreFile, ec)) return kExitOk;  // none
    std::string error;
    const auto store = RecordStore::Open(folder_, &error, Durability::Synced, StoreAccess::Query);
    if (!store) {
      std::cerr << "records: " << error << '\n';
      return kExitIo;
    }
    if (csv_) std::cout << RecordCsvHeader();
    for (const StoredRecord& row : store->Unforwarded(SIZE_MAX)) {
      std::cout << (csv_ ? RecordCsvLine(row.record) : RecordJsonLine(row.record));
    }
    std::cout.flush();
    if (!store->readError().empty()) std::cerr << "records: " << store->readError() << '\n';
    return store->readError().empty() && std::cout ? kExitOk : kExitIo;
  }

  // The records of every station of the line, in the order they reached it, in a store of
  // their own in a temporary folder: the queries below then run on them as on a station's.
  std::unique_ptr<RecordStore> LineStore(std::string* error) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korvan-line-records-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      *error = "cannot make a temporary folder for the line's records";
      return nullptr;
    }
    lineFolder_ = pattern;
    auto line = LineDatabase::Connect(db_, error);
    if (!line) return nullptr;
    const auto found = line->Find({}, error);
    if (!found) return nullptr;
    auto store = RecordStore::Open(lineFolder_, error, Durability::Flushed);
    if (!store) return nullptr;
    std::vector<ProductionRecord> records;
    records.reserve(found->size());
    for (const LineRecord& r : *found) records.push_back(r.record);
    if (!store->AppendMany(records, true, error)) return nullptr;
    return store;
  }

  int FromStore() {
    std::error_code ec;
    if (db_.empty() && !std::filesystem::exists(folder_ / kRecordStoreFile, ec)) {
      std::cerr << "records: no record store in " << folder_.string()
                << " (make it from the day files with --rebuild)\n";
      return kExitIo;
    }
    std::string error;
    const auto store =
        db_.empty() ? RecordStore::Open(folder_, &error, Durability::Synced, StoreAccess::Query)
                    : LineStore(&error);
    if (!store) {
      std::cerr << "records: " << error << '\n';
      return kExitIo;
    }
    RecordQuery query;
    if (!uid_.empty()) {
      query.chipUid = UidDigits(uid_);
      if (!query.chipUid) {
        std::cerr << "records: --uid: " << uid_ << " is not a chip UID in hex digits\n";
        return kExitUsage;
      }
    }
    if (serial_) {
      const auto value = ParseInteger(*serial_);
      if (!value || *value < 0 || *value > 0xFFFFFFFF) {
        std::cerr << "records: --serial: " << *serial_ << " is not a 32-bit serial number\n";
        return kExitUsage;
      }
      query.serialNumber = static_cast<std::uint32_t>(*value);
    }
    if (!since_.empty()) query.since = since_;
    if (!until_.empty()) query.until = until_;
    if (channel_) query.channel = *channel_;
    if (!result_.empty()) query.pass = result_ == "ok" || result_ == "OK" || result_ == "Ok";

    if (duplicates_) return Duplicates(*store);
    if (summary_) return Summary(*store, query);

    if (csv_) std::cout << RecordCsvHeader();
    const bool read = store->ForEach(
        query,
        [&](const StoredRecord& row) {
          std::cout << (csv_ ? RecordCsvLine(row.record) : RecordJsonLine(row.record));
          return static_cast<bool>(std::cout);
        },
        &error);
    std::cout.flush();
    if (!read) std::cerr << "records: " << error << '\n';
    return read && std::cout ? kExitOk : kExitIo;
  }

  int Summary(const RecordStore& store, const RecordQuery& query) {
    SummaryBuilder builder;
    std::string error;
    std::string first, last;
    const bool read = store.ForEach(
        query,
        [&](const StoredRecord& row) {
          builder.Add(row.record);
          const std::string day = row.record.time.substr(0, 10);
          if (first.empty() || day < first) first = day;
          if (day > last) last = day;
          return true;
        },
        &error);
    if (!read) {
      std::cerr << "records: " << error << '\n';
      return kExitIo;
    }
    const RecordSummary summary = builder.Finish();
    std::cout << (json_ ? SummaryJson(summary) : SummaryText(summary));
    std::cout.flush();
    if (!html_.empty()) {
      std::string title = "Production summary";
      if (!first.empty()) title += " " + first + (first != last ? " to " + last : "");
      if (query.channel) title += Format(", channel %d", *query.channel);
      if (!WriteFileAtomically(html_, SummaryHtml(summary, title), error, Durability::Flushed)) {
        std::cerr << "records: " << error << '\n';
        return kExitIo;
      }
    }
    return std::cout ? kExitOk : kExitIo;
  }

  int Duplicates(const RecordStore& store) {
    using Json = nlohmann::ordered_json;
    for (const RecordStore::DuplicateGroup& group : store.Duplicates()) {
      const ProductionRecord& r = group.records.front().record;
      const bool serial = group.kind == RecordStore::DuplicateGroup::Kind::SerialNumber;
      if (json_) {
        Json j;
        if (serial) {
          j["serial_number"] = r.serialNumber.value_or(0);
          j["chip"] = r.chip;
          j["serial_number_address"] = r.serialNumberAddress.value_or(0);
        } else {
          j["chip_uid"] = r.chipUid.value_or("");
        }
        j["records"] = Json::array();
        for (const StoredRecord& row : group.records) {
          std::string line = RecordJsonLine(row.record);
          line.pop_back();
          j["records"].push_back(Json::parse(line));
        }
        std::cout << j.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
        continue;
      }
      if (serial) {
        std::cout << Format("serial number %u (0x%08X) of %s at 0x%08X in %zu OK records:\n",
                            r.serialNumber.value_or(0), r.serialNumber.value_or(0), r.chip.c_str(),
                            r.serialNumberAddress.value_or(0), group.records.size());
      } else {
        std::cout << Format("chip UID %s in %zu OK records:\n", r.chipUid->c_str(),
                            group.records.size());
      }
      for (const StoredRecord& row : group.records) {
        const ProductionRecord& p = row.record;
        std::cout << "  " << p.time << "  channel " << p.channel << "  " << p.chip << "  serial "
                  << (p.serialNumber ? std::to_string(*p.serialNumber) : "-") << "  UID "
                  << p.chipUid.value_or("-") << "  record " << p.recordId << '\n';
      }
    }
    std::cout.flush();
    return std::cout ? kExitOk : kExitIo;
  }

  std::filesystem::path folder_;
  std::string since_, until_, uid_, result_, html_, dir_;
  std::optional<std::string> serial_;
  std::optional<int> channel_;
  bool pending_ = false;
  std::string db_;
  // The line's records while a --db query runs; removed afterwards.
  struct TemporaryFolder : std::filesystem::path {
    using std::filesystem::path::operator=;
    ~TemporaryFolder() {
      std::error_code ec;
      if (!empty()) std::filesystem::remove_all(*this, ec);
    }
  } lineFolder_;
  bool csv_ = false, json_ = false, summary_ = false, duplicates_ = false, export_ = false,
       rebuild_ = false;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::RecordsCommand;
KORVAN_REGISTER_COMMAND(RecordsCommand, "records")
