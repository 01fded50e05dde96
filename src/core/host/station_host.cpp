#include "core/host/station_host.h"

#include <fstream>
#include <sstream>
#include <utility>

#include "core/host/serial_guard.h"
#include "core/line/line_database.h"
#include "core/trace/tracing_port.h"
#include "core/util/format.h"

namespace korvan {

std::shared_ptr<trace::WireTrace> OpenWireTrace(const std::string& file, const std::string& program,
                                                bool full,
                                                std::function<void(const std::string&)> problem) {
  trace::TraceOptions options;
  options.program = program;
  options.full = full;
  options.problem = std::move(problem);
  return std::make_shared<trace::WireTrace>(file, std::move(options));
}

PortProvider TracedPorts(PortProvider ports, const std::shared_ptr<trace::WireTrace>& trace,
                         int firstChannel) {
  if (!trace) return ports;
  return trace::TracingPortProvider(std::move(ports), trace, firstChannel);
}

StationHost::StationHost(Station& station) : station_(station) {}

StationHost::~StationHost() {
  station_.SetSerialNumberCheck(nullptr);
  station_.SetJobCheck(nullptr);
  if (recording_) station_.RemoveListener(recording_.get());
}

RecordWriter& StationHost::StartRecords(const std::filesystem::path& folder, int stationNumber) {
  records_ = std::make_unique<RecordWriter>(station_, folder);
  records_->SetStationNumber(stationNumber);
  return *records_;
}

void StationHost::ListenFor(StationListener* next) {
  recording_ = std::make_unique<RecordingListener>(*records_, next);
  station_.SetListener(recording_.get());
}

void StationHost::AskBeforeNumbering() {
  station_.SetSerialNumberCheck([this] { return NumbersConfirmed(); });
}

void StationHost::NumberOnlyWhenChecked() {
  station_.SetSerialNumberCheck([this] { return numbersChecked_; });
}

bool StationHost::NumbersConfirmed() {
  // Before the records start there is nothing to program yet.
  if (!records_) return true;
  if (!ConfirmSerialNumbers(station_, *records_, station_.frontend())) return false;
  return !line_ ||
         ConfirmLineSerialNumbers(station_, *line_, records_->stationNumber(), station_.frontend());
}

std::string StationHost::StartLine(const std::string& url, const std::string& source) {
  // A string that names no PostgreSQL database would only ever look like a server that is down.
  if (const std::string problem = LineDatabaseUrlProblem(url); !problem.empty()) {
    const std::string text = "Production records are not forwarded: " + source + " " +
                             LineDatabaseName(url) + " names no line database (" + problem + ")";
    station_.AddInfoLine(text);
    return text;
  }
  const std::filesystem::path folder =
      records_ ? records_->log().folder() : station_.logLocation().shutdownDir;
  line_ = std::make_unique<LineLink>(station_, folder, url);
  std::string error;
  if (!line_->Start(&error)) {
    line_.reset();
    const std::string text = "Production records are not forwarded to the line database " +
                             LineDatabaseName(url) + ": " + error;
    station_.AddInfoLine(text);
    return text;
  }
  station_.AddInfoLine("Production records are forwarded to the line database " +
                       LineDatabaseName(url));
  lineUrl_ = url;
  CheckJobs();
  return {};
}

std::string StationHost::RequireApprovedJobsFrom(const std::string& file) {
  approvals_ = {true, {}, "the approved jobs file " + file};
  CheckJobs();
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string problem;
  if (!in.is_open() || in.bad()) {
    problem = "cannot be read";
  } else if (const auto jobs = ParseApprovedJobs(text.str(), &problem)) {
    approvals_.jobs = *jobs;
    station_.AddInfoLine(
        Format("Only approved jobs run: %zu listed in %s", jobs->size(), file.c_str()));
    return "";
  }
  const std::string said =
      "The approved jobs file " + file + " " + problem + ": no job is approved, none runs";
  station_.AddInfoLine(said);
  return said;
}

void StationHost::CheckJobs() {
  station_.SetJobCheck([this](const std::string& fingerprint) { return JobAllowed(fingerprint); });
}

bool StationHost::JobAllowed(const std::string& fingerprint) {
  if (!lineUrl_.empty()) {
    const std::filesystem::path folder =
        records_ ? records_->log().folder() : station_.logLocation().shutdownDir;
    std::string note, error;
    if (auto line = LineJobApprovals(lineUrl_, folder, &note, &error)) {
      approvals_ = std::move(*line);
      // Only where approved jobs decide is the copy's list worth a word.
      if (!approvals_.required) note.clear();
    } else {
      // Not known whether the line requires approved jobs: the last answer stands.
      note = "The line's approved jobs cannot be read: " + error;
    }
    if (note != lastApprovalsNote_ && !note.empty()) station_.AddInfoLine(note);
    lastApprovalsNote_ = note;
  }
  if (!approvals_.required) return true;
  const std::string refusal = JobRefusal(approvals_, fingerprint, station_.chip().chipName);
  if (refusal.empty()) return true;
  station_.frontend().Ask(MessageKind::Error, "The job is refused: " + refusal, Buttons::Ok);
  return false;
}

void StationHost::Close(std::chrono::milliseconds lineFlush) {
  if (line_) {
    std::optional<std::size_t> waiting;
    if (!line_->Flush(lineFlush, &waiting) && !(waiting && *waiting == 0)) {
      // Into the panel, so that the run's log says it too.
      station_.AddInfoLine(
          "production records not yet on the line database " + LineDatabaseName(line_->url()) +
          "; they are kept in the station's store and forwarded when a station with the line "
          "database starts on it again (korvan-cli records --pending lists them)");
    }
    line_.reset();
  }
  station_.FormClose();
}

}  // namespace korvan
