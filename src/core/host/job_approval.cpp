#include "core/host/job_approval.h"

#include "core/app/station.h"
#include "core/job/job_fingerprint.h"
#include "core/line/line_database.h"
#include "core/records/production_record.h"
#include "core/util/format.h"

namespace korvan {

namespace {

// At most this many approved jobs are named in a refusal; the rest are counted.
constexpr std::size_t kNamedJobs = 8;

std::string Named(const ApprovedJob& job) {
  return ShortFingerprint(job.fingerprint) + (job.label.empty() ? "" : " \"" + job.label + "\"");
}

}  // namespace

std::string JobRefusal(const JobApprovals& approvals, const std::string& fingerprint,
                       const std::string& part) {
  if (FindApproved(approvals.jobs, fingerprint)) return "";
  std::string text = "job " + fingerprint + " (" + part + ")";
  if (const ApprovedJob* listed = FindListed(approvals.jobs, fingerprint)) {
    text += " was revoked " + listed->revokedAt.value_or("") + " in " + approvals.source;
  } else {
    text += " is not approved in " + approvals.source;
  }
  // A list that names parts names the jobs of this part; a plain file names none.
  std::vector<const ApprovedJob*> forPart;
  bool namesParts = false;
  for (const ApprovedJob& job : approvals.jobs) namesParts = namesParts || !job.part.empty();
  for (const ApprovedJob& job : approvals.jobs) {
    if (!job.revokedAt && (!namesParts || job.part == part)) forPart.push_back(&job);
  }
  const std::string whose = namesParts ? "approved for " + part : "approved there";
  if (forPart.empty()) return text + "; no job is " + whose;
  text += "; " + whose + ": ";
  for (std::size_t i = 0; i < forPart.size() && i < kNamedJobs; ++i) {
    text += (i == 0 ? "" : ", ") + Named(*forPart[i]);
  }
  if (forPart.size() > kNamedJobs) text += Format(" and %zu more", forPart.size() - kNamedJobs);
  return text;
}

std::optional<JobApprovals> LineJobApprovals(const std::string& url,
                                             const std::filesystem::path& folder, std::string* note,
                                             std::string* error) {
  const std::filesystem::path copyFile = folder / kLineApprovalsCopyFile;
  std::string problem;
  if (auto line = LineDatabase::Connect(url, &problem)) {
    const auto jobs = line->ApprovedJobs(&problem);
    const auto required = jobs ? line->RequiresApprovedJobs(&problem) : std::nullopt;
    if (jobs && required) {
      LineApprovals copy{*required, *jobs, Iso8601Text(SystemZonedTime())};
      // The copy is what lets the station go on offline; a copy that cannot be kept is said,
      // and the list from the database still holds for now.
      if (const std::string failed = SaveLineApprovals(copyFile, copy); !failed.empty()) {
        if (note) {
          *note = "the copy of the line's approved jobs could not be saved in " +
                  copyFile.string() + ": " + failed;
        }
      }
      return JobApprovals{*required, *jobs, "the line database " + LineDatabaseName(url)};
    }
  }
  std::string copyProblem;
  const auto copy = LoadLineApprovals(copyFile, &copyProblem);
  if (!copy) {
    if (error) *error = problem + "; " + copyProblem;
    return std::nullopt;
  }
  if (note) {
    *note = "the line database is out of reach (" + problem +
            "): only the jobs approved in the station's copy of its list (synced " +
            copy->syncedAt + ") run";
  }
  return JobApprovals{
      copy->required, copy->jobs,
      "the station's copy of the line database's list (synced " + copy->syncedAt + ")"};
}

void RefuseUnapprovedJobs(Station& station, const JobApprovals& approvals) {
  station.SetJobCheck([&station, &approvals](const std::string& fingerprint) {
    if (!approvals.required) return true;
    const std::string refusal = JobRefusal(approvals, fingerprint, station.chip().chipName);
    if (refusal.empty()) return true;
    station.frontend().Ask(MessageKind::Error, "The job is refused: " + refusal, Buttons::Ok);
    return false;
  });
}

}  // namespace korvan
