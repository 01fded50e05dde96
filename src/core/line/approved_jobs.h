// The approved jobs: the fingerprints of the jobs an engineer released for a line (see
// core/job/job_fingerprint.h), each with its part, a label, who released it and when, and when it
// was revoked. A line keeps the list in its database (LineDatabase); a station without one reads
// it from a plain file; a station on a line keeps a copy of the database's list from its last
// connection, so that it can go on while the database is out of reach.
//
// The plain file: one approved job a line, its fingerprint (64 hex digits) and then, after
// blanks, its label (the rest of the line; may be empty). '#' starts a comment, to the end of
// the line; blank lines are skipped.
//
//   # released 2024-03-01 by the test engineer
//   3f1c…e0a9  pump controller 2.4.1
//
// Threading: plain data and functions; any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvan {

struct ApprovedJob {
  std::string fingerprint;  // 64 lower-case hex digits
  std::string part;         // "" where the list does not say (a plain file)
  std::string label;
  std::string approvedBy;  // "" where the list does not say
  std::string approvedAt;  // ISO 8601; "" where the list does not say
  // When it was revoked; a revoked job no longer runs.
  std::optional<std::string> revokedAt;

  bool operator==(const ApprovedJob&) const = default;
};

// The jobs of a plain file's text; nullopt and *error ("line 3: ...") at the first line that is
// neither a fingerprint with its label nor a comment.
std::optional<std::vector<ApprovedJob>> ParseApprovedJobs(std::string_view text,
                                                          std::string* error);

// The entry of `list` that lets `fingerprint` run (either case), not revoked; nullptr when none.
// An entry revoked and another not for the same fingerprint: the one not revoked counts.
const ApprovedJob* FindApproved(const std::vector<ApprovedJob>& list, std::string_view fingerprint);
// The entry of `list` for `fingerprint` whether revoked or not (the one not revoked first).
const ApprovedJob* FindListed(const std::vector<ApprovedJob>& list, std::string_view fingerprint);

// The station's copy of a line's list: the list, whether the line requires approved jobs, and
// when it was taken from the database.
struct LineApprovals {
  bool required = false;
  std::vector<ApprovedJob> jobs;
  std::string syncedAt;  // ISO 8601
};

// The copy's file in a station's record folder.
inline constexpr const char* kLineApprovalsCopyFile = "line-approved-jobs.json";

// Writes the copy whole (a temporary file renamed over the old one); "" when written, else why
// not.
std::string SaveLineApprovals(const std::filesystem::path& file, const LineApprovals& approvals);
// Reads the copy; nullopt and *error when there is none or it cannot be read.
std::optional<LineApprovals> LoadLineApprovals(const std::filesystem::path& file,
                                               std::string* error);

}  // namespace korvan
