// korvan-cli and the line database: `run --records-db URL` (or KORVAN_RECORDS_DB) forwards the
// station's production records to it while the run goes on, and reserves the run's serial
// numbers across the line before any is written.
#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "cli/run_output.h"
#include "cli/station_session.h"
#include "core/host/line_link.h"
#include "core/host/serial_guard.h"

namespace korvan::cli {

struct LineOptions {
  std::optional<std::string> url;  // --records-db
  bool offlineSerialNumbers = false;

  // Adds --records-db and --offline-serial-numbers to `sub`.
  void Add(CLI::App* sub);
  // --records-db, else KORVAN_RECORDS_DB; nullopt: no line database.
  std::optional<std::string> Url() const;
  // Why the line database named (by --records-db or KORVAN_RECORDS_DB) is no PostgreSQL
  // connection string, naming where it came from; "" when it is one or none is named.
  std::string Problem() const;
};

// The forwarding of one run, from its start to its end: at the end whatever the run recorded is
// given a few seconds to reach the database, and what could not is named.
class LineRun {
 public:
  // How long the end of a run waits for its records to reach the database.
  static constexpr std::chrono::seconds kFinalFlush{10};

  // Starts forwarding the store in `recordFolder` (its backlog first); nullptr and *error
  // when the store cannot be opened.
  static std::unique_ptr<LineRun> Start(StationSession& session, RunOutput& output,
                                        const std::filesystem::path& recordFolder,
                                        const std::string& url, std::string* error);
  ~LineRun();

  LineLink& link() { return link_; }

  // Reserves the serial numbers of `plans` (one per station of four) across the line, in one
  // transaction of the line database, before any is written. Numbers another station reserved,
  // or an OK part on the line got, refuse the run unless `allowReused` (then only warned
  // about); a database that cannot be reached refuses it unless `offline` (the station's own
  // guard only, warned about). kExitOk to go on; else the problem was said and this is the exit
  // status.
  int ReserveSerialNumbers(const std::vector<SerialPlan>& plans, bool allowReused, bool offline);

 private:
  LineRun(StationSession& session, RunOutput& output, const std::filesystem::path& folder,
          const std::string& url);

  StationSession& session_;
  RunOutput& output_;
  LineLink link_;
};

}  // namespace korvan::cli
