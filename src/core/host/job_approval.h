// Which jobs a station may run: the approved jobs it checks a job's fingerprint against before
// the job goes into a programmer or a part, and where that list came from (a plain file, the
// line database, or the station's copy of the line's list while the database is out of reach).
//
// Threading: the station's thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/line/approved_jobs.h"

namespace korvan {

class Station;

struct JobApprovals {
  // Only approved jobs run; when false the list is only told about.
  bool required = false;
  std::vector<ApprovedJob> jobs;
  // Where the list came from, as texts name it: "the approved jobs file approved.txt", "the line
  // database postgresql://…", "the station's copy of the line database's list (synced …)".
  std::string source;
};

// "" when the job `fingerprint` of `part` may run under `approvals` (it is listed and not
// revoked); otherwise why not, naming the whole fingerprint, where the list came from and the
// jobs approved for that part (every job of a list that names no parts).
std::string JobRefusal(const JobApprovals& approvals, const std::string& fingerprint,
                       const std::string& part);

// The line's approved jobs and its setting, from the line database at `url`. When the database
// answers, its list is saved as the station's copy in `folder` (kLineApprovalsCopyFile); when it
// cannot be reached, the copy is read and `note` says so (the reason and the copy's time); a copy
// that could not be saved is told in `note` too.
// nullopt and *error when neither the database nor a copy gives a list.
std::optional<JobApprovals> LineJobApprovals(const std::string& url,
                                             const std::filesystem::path& folder, std::string* note,
                                             std::string* error);

// The station refuses to put a job that `approvals` does not let run into programmers or parts
// (Station::SetJobCheck): its frontend is told why. `approvals` must outlive the check; a
// check of approvals not required lets every job run.
void RefuseUnapprovedJobs(Station& station, const JobApprovals& approvals);

}  // namespace korvan
