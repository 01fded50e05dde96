// The station's services, wired once for whichever front end runs a station: the wire trace of
// its ports, its production records, the serial-number check every command that numbers parts
// asks first, the line database its records go to, and its closing (the line given time to take
// the last records, the shutdown log). The window runs one host for its station; the command
// line one for each station of four of a gang.
//
// Threading: the station's thread.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/app/station.h"
#include "core/host/job_approval.h"
#include "core/host/line_link.h"
#include "core/host/record_writer.h"
#include "core/serial/port_list.h"
#include "core/trace/wire_trace.h"

namespace korvan {

// The wire trace to `file`, written by `program` ("korvan-nat", "korvan-cli"); with `full` every
// frame's bytes in full. A file that cannot be written is told to `problem` and to the trace's
// Writing().
std::shared_ptr<trace::WireTrace> OpenWireTrace(const std::string& file, const std::string& program,
                                                bool full,
                                                std::function<void(const std::string&)> problem);

// `ports` as a station gets them: every channel's port writes to `trace` when there is one,
// the channels numbered from `firstChannel`.
PortProvider TracedPorts(PortProvider ports, const std::shared_ptr<trace::WireTrace>& trace,
                         int firstChannel = 1);

class StationHost {
 public:
  explicit StationHost(Station& station);
  ~StationHost();
  StationHost(const StationHost&) = delete;
  StationHost& operator=(const StationHost&) = delete;

  // Production records into `folder` (the station's log folder once it was first shown), as
  // station `stationNumber` of the process.
  RecordWriter& StartRecords(const std::filesystem::path& folder, int stationNumber = 1);
  // The station's listener that writes the records and passes every call on to `next` (the
  // front end's own): the window's way. The command line hands each result to records() itself.
  void ListenFor(StationListener* next);
  RecordWriter* records() { return records_.get(); }
  const RecordWriter* records() const { return records_.get(); }

  // The serial-number check (Station::SetSerialNumberCheck) asks the operator, through the
  // station's frontend, about numbers that OK parts already got: in the record store, then on
  // the line database when the station forwards to one. The window's way.
  void AskBeforeNumbering();
  // The check lets numbering commands run only once the run's numbers were checked as a whole
  // (SetNumbersChecked): the command line's way, which plans a run's numbers before any step.
  void NumberOnlyWhenChecked();
  void SetNumbersChecked(bool checked) { numbersChecked_ = checked; }

  // Forwarding to the line database at `url`, named in texts as `source` ("KORVAN_RECORDS_DB").
  // A string that names no PostgreSQL database, or a store that cannot be forwarded from, is
  // said on the panel and returned; "" when forwarding started (also said on the panel).
  std::string StartLine(const std::string& url, const std::string& source);
  LineLink* line() { return line_.get(); }

  // Jobs the station may put into programmers or parts (Download, Auto, Program), asked before
  // each such command; a refused job is told in a message box through the station's frontend:
  //  - RequireApprovedJobsFrom: only the jobs listed in the plain file `file` run (the window's
  //    KORVAN_APPROVED_JOBS). Returns why the file cannot be used ("" when it can); then every
  //    job is refused, as none is known to be approved.
  //  - with a line database (StartLine), its list and its setting decide, asked again at every
  //    such command; out of reach, the station's copy from the last answer does, which the
  //    panel says.
  std::string RequireApprovedJobsFrom(const std::string& file);
  const JobApprovals& approvals() const { return approvals_; }

  // Closing: the line database gets `lineFlush` to take the last records (the panel, and so the
  // log, says when some are left waiting in the store), then the station's shutdown log.
  void Close(std::chrono::milliseconds lineFlush);

 private:
  bool NumbersConfirmed();
  bool JobAllowed(const std::string& fingerprint);
  void CheckJobs();

  Station& station_;
  std::unique_ptr<RecordWriter> records_;
  std::unique_ptr<RecordingListener> recording_;
  std::unique_ptr<LineLink> line_;
  bool numbersChecked_ = false;
  JobApprovals approvals_;
  std::string lineUrl_;            // the line database whose list decides, when set
  std::string lastApprovalsNote_;  // told on the panel once until it changes
};

}  // namespace korvan
