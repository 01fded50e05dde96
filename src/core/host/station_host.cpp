#include "core/host/station_host.h"

#include <utility>

#include "core/host/serial_guard.h"
#include "core/line/line_database.h"
#include "core/trace/tracing_port.h"

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
  return {};
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
