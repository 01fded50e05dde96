// korvan-cli records [--since DATE] [--csv] [--dir FOLDER]: prints the production records
// (one per finished part) that the window and the command-line station appended to the day
// files in the log folder, oldest first: as JSON Lines, or as CSV with one header line.
#include <iostream>
#include <optional>
#include <string>

#include "cli/command.h"
#include "core/app/log_file.h"
#include "core/records/record_log.h"

namespace korvan::cli {

namespace {

class RecordsCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "records",
        "Print the production records (one per finished part: Auto sequences and stand-alone "
        "results), oldest first, as JSON Lines or CSV.");
    sub->footer(
        "Exit status: 0 printed (also when there are none), 2 usage error, 3 the --dir folder "
        "does not exist, a record file could not be read or the output could not be written.");
    sub->add_option("--since", since_, "Only records of this day (yyyy-MM-dd) and later")
        ->check([](const std::string& text) {
          return ParseRecordDay(text) ? std::string() : "expected a date as yyyy-MM-dd";
        });
    sub->add_flag("--csv", csv_, "Print CSV (RFC 4180, header line first) in place of JSON Lines");
    sub->add_option("--dir", dir_,
                    "Folder of the record files (default: the station's log folder)");
    return sub;
  }

  int Run() override {
    const LogLocation logs = dir_.empty() ? PrepareLogLocation() : LogLocation{};
    if (!logs.problem.empty()) {
      std::cerr << "records: " << logs.problem << ", or give --dir FOLDER\n";
      return kExitIo;
    }
    const std::filesystem::path folder =
        dir_.empty() ? logs.shutdownDir : std::filesystem::path(dir_);
    std::error_code ec;
    if (!dir_.empty() && !std::filesystem::is_directory(folder, ec)) {
      // A folder named on the command line that is not there is a mistake, not "no records".
      std::cerr << "records: no such folder: " << folder.string() << '\n';
      return kExitIo;
    }
    const RecordListing listing =
        ReadRecords(folder, since_.empty() ? std::nullopt : ParseRecordDay(since_));
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

 private:
  std::string since_;
  bool csv_ = false;
  std::string dir_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::RecordsCommand;
KORVAN_REGISTER_COMMAND(RecordsCommand)
