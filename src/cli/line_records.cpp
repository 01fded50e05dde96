#include "cli/line_records.h"

#include <cstdlib>
#include <optional>

#include "cli/command.h"
#include "core/line/line_database.h"
#include "core/util/format.h"

namespace korvan::cli {

void LineOptions::Add(CLI::App* sub) {
  sub->add_option("--records-db", url,
                  "Line database (postgresql://user@host/db, postgres://..., or libpq's "
                  "key=value pairs) the production records are forwarded to and serial numbers "
                  "reserved in (default: KORVAN_RECORDS_DB); anything else is a usage error "
                  "before anything is sent");
  sub->add_flag("--offline-serial-numbers", offlineSerialNumbers,
                "Write serial numbers with only the station's own guard when the line database "
                "cannot be reached");
}

std::optional<std::string> LineOptions::Url() const {
  if (url && !url->empty()) return url;
  return LineDatabaseFromEnvironment();
}

std::string LineOptions::Problem() const {
  const auto named = Url();
  if (!named) return "";
  const std::string problem = LineDatabaseUrlProblem(*named);
  if (problem.empty()) return "";
  const bool fromOption = url && !url->empty();
  return (fromOption ? "--records-db " : "KORVAN_RECORDS_DB ") + LineDatabaseName(*named) + ": " +
         problem;
}

LineRun::LineRun(StationSession& session, RunOutput& output, const std::filesystem::path& folder,
                 const std::string& url)
    : session_(session),
      output_(output),
      link_(session.station(), folder, url, [this](const LineNotice& notice) {
        if (notice.kind == LineNotice::Kind::StoreFailed) return;
        output_.LineDatabaseChanged(notice.kind == LineNotice::Kind::Reachable, notice.pending,
                                    notice.text);
      }) {}

std::unique_ptr<LineRun> LineRun::Start(StationSession& session, RunOutput& output,
                                        const std::filesystem::path& recordFolder,
                                        const std::string& url, std::string* error) {
  std::unique_ptr<LineRun> run(new LineRun(session, output, recordFolder, url));
  if (!run->link_.Start(error)) return nullptr;
  return run;
}

int LineRun::ReserveSerialNumbers(const std::vector<SerialPlan>& plans, bool allowReused,
                                  bool offline) {
  const LineReservation reservation = ReserveOnLine(link_, plans, allowReused);
  const std::string& error = reservation.error;
  if (!reservation.reached) {
    if (offline) {
      output_.Problem("warning: serial numbers not reserved on the line (" + error +
                      "); only this station's own records were checked (--offline-serial-numbers)");
      return kExitOk;
    }
    output_.Problem("serial numbers cannot be reserved on the line (" + error +
                    "); no step was run (--offline-serial-numbers goes on with this station's "
                    "own records only)");
    return kExitFailed;
  }
  const std::vector<SerialHolder>* holders = &reservation.holders;
  if (holders->empty()) return kExitOk;
  if (allowReused) {
    for (const SerialHolder& holder : *holders) {
      output_.Problem("warning: " + holder.Text() + " (--allow-reused-serial-numbers)");
    }
    return kExitOk;
  }
  for (const SerialHolder& holder : *holders) output_.Problem(holder.Text());
  output_.Problem("no step was run (--allow-reused-serial-numbers uses the numbers anyway)");
  return kExitFailed;
}

LineRun::~LineRun() {
  std::optional<std::size_t> waiting;
  if (link_.Flush(kFinalFlush, &waiting)) return;
  // The database could not be reached, but nothing was waiting for it.
  if (waiting && *waiting == 0) return;
  // Said even when the panel said the database unreachable before: the run ends here.
  output_.Problem(
      "production records not yet on the line database " + LineDatabaseName(link_.url()) +
      "; they are kept in the station's store and forwarded when a station with the line "
      "database starts on it again (korvan-cli records --pending lists them)");
}

}  // namespace korvan::cli
