#include "core/line/approved_jobs.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/util/atomic_file.h"

namespace korvan {

namespace {

using Json = nlohmann::ordered_json;

bool IsHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::vector<ApprovedJob>> ParseApprovedJobs(std::string_view text,
                                                          std::string* error) {
  std::vector<ApprovedJob> jobs;
  int number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    line = Trim(line);
    if (line.empty()) continue;
    const std::size_t blank = line.find_first_of(" \t");
    const std::string_view fingerprint = line.substr(0, blank);
    if (fingerprint.size() != 64 ||
        !std::all_of(fingerprint.begin(), fingerprint.end(), IsHexDigit)) {
      if (error) {
        *error = "line " + std::to_string(number) + ": " + std::string(fingerprint) +
                 " is not a job fingerprint (64 hex digits)";
      }
      return std::nullopt;
    }
    ApprovedJob job;
    job.fingerprint = Lower(fingerprint);
    if (blank != std::string_view::npos) job.label = std::string(Trim(line.substr(blank)));
    jobs.push_back(std::move(job));
  }
  return jobs;
}

const ApprovedJob* FindApproved(const std::vector<ApprovedJob>& list,
                                std::string_view fingerprint) {
  const std::string wanted = Lower(fingerprint);
  for (const ApprovedJob& job : list) {
    if (job.fingerprint == wanted && !job.revokedAt) return &job;
  }
  return nullptr;
}

const ApprovedJob* FindListed(const std::vector<ApprovedJob>& list, std::string_view fingerprint) {
  if (const ApprovedJob* approved = FindApproved(list, fingerprint)) return approved;
  const std::string wanted = Lower(fingerprint);
  for (const ApprovedJob& job : list) {
    if (job.fingerprint == wanted) return &job;
  }
  return nullptr;
}

std::string SaveLineApprovals(const std::filesystem::path& file, const LineApprovals& approvals) {
  Json j;
  j["synced_at"] = approvals.syncedAt;
  j["required"] = approvals.required;
  Json jobs = Json::array();
  for (const ApprovedJob& job : approvals.jobs) {
    Json entry;
    entry["fingerprint"] = job.fingerprint;
    entry["part"] = job.part;
    entry["label"] = job.label;
    entry["approved_by"] = job.approvedBy;
    entry["approved_at"] = job.approvedAt;
    entry["revoked_at"] = job.revokedAt ? Json(*job.revokedAt) : Json(nullptr);
    jobs.push_back(std::move(entry));
  }
  j["jobs"] = std::move(jobs);
  std::string error;
  if (!WriteFileAtomically(file.string(),
                           j.dump(2, ' ', false, Json::error_handler_t::replace) + '\n', error)) {
    return error;
  }
  return "";
}

std::optional<LineApprovals> LoadLineApprovals(const std::filesystem::path& file,
                                               std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error) *error = "no copy of the line's approved jobs in " + file.string();
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const Json j = Json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  const auto bad = [&]() -> std::optional<LineApprovals> {
    if (error) *error = "the copy of the line's approved jobs " + file.string() + " is damaged";
    return std::nullopt;
  };
  if (!j.is_object() || !j.contains("jobs") || !j["jobs"].is_array() ||
      !j.value("required", Json()).is_boolean() || !j.value("synced_at", Json()).is_string()) {
    return bad();
  }
  LineApprovals approvals;
  approvals.required = j["required"].get<bool>();
  approvals.syncedAt = j["synced_at"].get<std::string>();
  for (const Json& entry : j["jobs"]) {
    if (!entry.is_object()) return bad();
    ApprovedJob job;
    for (auto [key, field] : {std::pair{"fingerprint", &job.fingerprint},
                              {"part", &job.part},
                              {"label", &job.label},
                              {"approved_by", &job.approvedBy},
                              {"approved_at", &job.approvedAt}}) {
      const auto it = entry.find(key);
      if (it == entry.end() || !it->is_string()) return bad();
      *field = it->get<std::string>();
    }
    if (const auto it = entry.find("revoked_at"); it != entry.end() && !it->is_null()) {
      if (!it->is_string()) return bad();
      job.revokedAt = it->get<std::string>();
    }
    approvals.jobs.push_back(std::move(job));
  }
  return approvals;
}

}  // namespace korvan
