// korvan-cli job: a job's fingerprint, and the line's list of approved jobs.
//   korvan-cli job show (JOB.kvn | --chip PART IN...) [job options] [--json]
//   korvan-cli job approve (JOB.kvn | --chip PART IN...) [job options] --by NAME [--label TEXT]
//                          --db URL
//   korvan-cli job revoke FINGERPRINT --db URL
//   korvan-cli job list --db URL [--json]
//   korvan-cli job require (on | off) --db URL
// A job is loaded as `run` loads it (the job desk's file commands, the same job options), with no
// station and no programmer, so that `job show` prints the fingerprint `run` sends the job with.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/job_files.h"
#include "cli/job_options.h"
#include "core/job/job.h"
#include "core/job/job_desk.h"
#include "core/job/job_fingerprint.h"
#include "core/line/line_database.h"
#include "core/link/channel.h"

namespace korvan::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr JobInputOptions::Texts kTexts{
    "the job is a .kvn project", "--chip is required unless the job is a project (.kvn)",
    "Answer Abort to the first line error of an input (the default)",
    "Answer OK to line errors: read on, and take the job as read",
    "Take the job even when an input holds no data inside the part's flash, data outside it, or "
    "more than it holds (only warned about, as the window does)"};

// A job given on the command line as `run` takes it: the inputs, the part and the job options.
struct JobArguments {
  JobInputOptions input;
  JobOptions job;
  std::vector<std::string> files;

  void AddTo(CLI::App* sub) {
    input.AddTo(*sub, kTexts);
    job.Add(sub);
    sub->add_option("IN", files, "Object files (HEX, S-record, binary, ELF) or a .kvn project")
        ->required();
  }

  // Loads the job and takes its fingerprint; on failure says why on stderr (`verb` first) and
  // returns nullopt with the exit status in `status`.
  std::optional<JobFingerprint> Fingerprint(const char* verb, std::string& part, int& status) {
    const auto usage = [&](const std::string& text) {
      std::cerr << "job " << verb << ": " << text << '\n';
      status = kExitUsage;
      return std::nullopt;
    };
    if (const std::string problem = CheckInputNames(files); !problem.empty()) return usage(problem);
    if (const std::string problem = input.Problem(IsProjectFile(files.front()), kTexts);
        !problem.empty()) {
      return usage(problem);
    }
    if (const std::string problem = job.Check(); !problem.empty()) return usage(problem);
    std::string note, error;
    if (!input.ResolveChip(note, error)) return usage(error);
    if (!note.empty()) std::cerr << "job " << verb << ": " << note << '\n';

    // The panel's lines and the other boxes go to stderr: stdout carries the answer only.
    CliFrontend frontend(std::cerr, std::cerr);
    input.ApplyTo(frontend);
    Job loaded;
    InfoMemo panel;
    JobDesk desk(loaded, panel, frontend, SystemLocalTime);
    desk.InitView();
    if (input.part) desk.DevButtonClick();
    const LoadSummary summary = LoadInputs(desk, frontend, files, input.Checks());
    const auto fail = [&](const std::string& text, int exit) {
      std::cerr << "job " << verb << ": " << text << '\n';
      status = exit;
      return std::nullopt;
    };
    if (summary.outcome == LoadOutcome::Failed) return fail(summary.problem, kExitIo);
    if (summary.outcome == LoadOutcome::Refused) return fail(summary.problem, kExitFailed);
    if (summary.lineErrors > 0 && !input.ignoreLineErrors) {
      return fail(LineErrorProblem(summary) + " (--ignore-line-errors reads on)", kExitFailed);
    }
    job.Apply(desk, 1, kChannelCount);
    auto fingerprint = FingerprintJob(loaded, &error);
    if (!fingerprint) return fail("the job has no fingerprint: " + error, kExitFailed);
    part = loaded.chip.chipName;
    return fingerprint;
  }
};

// --db URL, checked before anything is connected to.
std::unique_ptr<LineDatabase> ConnectLine(const char* verb, const std::string& url, int& status) {
  if (const std::string problem = LineDatabaseUrlProblem(url); !problem.empty()) {
    std::cerr << "job " << verb << ": --db " << LineDatabaseName(url) << ": " << problem << '\n';
    status = kExitUsage;
    return nullptr;
  }
  std::string error;
  auto line = LineDatabase::Connect(url, &error);
  if (!line) {
    std::cerr << "job " << verb << ": " << error << '\n';
    status = kExitIo;
  }
  return line;
}

Json ApprovedJson(const ApprovedJob& job) {
  return {{"fingerprint", job.fingerprint},
          {"part", job.part},
          {"label", job.label},
          {"approved_by", job.approvedBy},
          {"approved_at", job.approvedAt},
          {"revoked_at", job.revokedAt ? Json(*job.revokedAt) : Json(nullptr)}};
}

std::string ApprovedLine(const ApprovedJob& job) {
  std::string line = job.fingerprint + "  " + job.part + "  \"" + job.label + "\"  approved " +
                     job.approvedAt + " by " + job.approvedBy;
  if (job.revokedAt) line += ", revoked " + *job.revokedAt;
  return line;
}

class JobCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "job", "A job's fingerprint (what a part receives from it), and the line's approved jobs.");
    sub->require_subcommand(1);
    sub->footer(
        "The fingerprint is a SHA-256 digest of the part, the bytes the download sends for main "
        "flash (and OTP where used), the option bytes and whether they are programmed, read "
        "protection, and the settings that act on the part (power, reset, speed, detection, count "
        "limit, serial numbers on, their address, step and byte order); not of serial-number start "
        "values, file names or times. The same bytes loaded from a HEX, S-record, binary, ELF or "
        ".kvn file give the same fingerprint. Exit status: 0 done, 1 the job was refused (line "
        "errors, no data, data outside the part's flash) or a fingerprint to revoke is not "
        "approved, 2 usage error, 3 a file or the line database could not be read or written.");

    show_ = sub->add_subcommand("show", "Print the job's fingerprint and what it covers.");
    showJob_.AddTo(show_);
    show_->add_flag("--json", json_, "Print one JSON object");

    approve_ = sub->add_subcommand(
        "approve",
        "Release the job for the line: its fingerprint goes on the line database's list "
        "of approved jobs.");
    approveJob_.AddTo(approve_);
    approve_->add_option("--by", by_, "Who releases it")->required();
    approve_->add_option("--label", label_, "What the job is, in words (e.g. firmware version)");
    approve_->add_option("--db", db_, "The line database (postgresql://user@host/db)")->required();

    revoke_ = sub->add_subcommand("revoke", "Revoke an approved job: no station runs it any more.");
    revoke_->add_option("FINGERPRINT", fingerprint_, "The job's whole fingerprint (64 hex digits)")
        ->required();
    revoke_->add_option("--db", db_, "The line database (postgresql://user@host/db)")->required();

    list_ = sub->add_subcommand("list", "List the line's approved and revoked jobs.");
    list_->add_option("--db", db_, "The line database (postgresql://user@host/db)")->required();
    list_->add_flag("--json", json_, "Print JSON Lines: one object per job");

    require_ = sub->add_subcommand(
        "require", "Whether every station and window of the line runs approved jobs only.");
    require_->add_option("SETTING", setting_, "on or off")
        ->required()
        ->check(CLI::IsMember({"on", "off"}));
    require_->add_option("--db", db_, "The line database (postgresql://user@host/db)")->required();
    return sub;
  }

  int Run() override {
    if (show_->parsed()) return Show();
    if (approve_->parsed()) return Approve();
    if (revoke_->parsed()) return Revoke();
    if (list_->parsed()) return List();
    return Require();
  }

 private:
  int Show() {
    int status = kExitOk;
    std::string part;
    const auto fp = showJob_.Fingerprint("show", part, status);
    if (!fp) return status;
    if (json_) {
      Json covered = Json::array();
      for (const FingerprintItem& item : fp->covered) {
        covered.push_back({{"name", item.name}, {"value", item.shown}});
      }
      std::cout << Json{{"fingerprint", fp->hex},
                        {"short", ShortFingerprint(fp->hex)},
                        {"part", part},
                        {"covered", covered}}
                       .dump(-1, ' ', false, Json::error_handler_t::replace)
                << '\n';
    } else {
      std::cout << "fingerprint  " << fp->hex << "\nshort        " << ShortFingerprint(fp->hex)
                << "\npart         " << part << "\ncovers:\n";
      for (const FingerprintItem& item : fp->covered) {
        std::cout << "  " << item.name
                  << std::string(item.name.size() < 24 ? 24 - item.name.size() : 1, ' ')
                  << item.shown << '\n';
      }
      std::cout << "not covered: serial-number start values, file names and times\n";
    }
    return std::cout.flush() ? kExitOk : kExitIo;
  }

  int Approve() {
    int status = kExitOk;
    std::string part;
    const auto fp = approveJob_.Fingerprint("approve", part, status);
    if (!fp) return status;
    const auto line = ConnectLine("approve", db_, status);
    if (!line) return status;
    std::string error;
    const auto approved = line->Approve({fp->hex, part, label_, by_, "", std::nullopt}, &error);
    if (!approved) {
      std::cerr << "job approve: " << error << '\n';
      return kExitIo;
    }
    std::cout << "approved " << ApprovedLine(*approved) << '\n';
    return kExitOk;
  }

  int Revoke() {
    if (!IsFingerprint(fingerprint_)) {
      std::cerr << "job revoke: " << fingerprint_
                << " is not a whole job fingerprint (64 hex digits; job list shows them)\n";
      return kExitUsage;
    }
    int status = kExitOk;
    const auto line = ConnectLine("revoke", db_, status);
    if (!line) return status;
    std::string error;
    std::string wanted = fingerprint_;
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto revoked = line->Revoke(wanted, &error);
    if (!revoked) {
      if (!error.empty()) {
        std::cerr << "job revoke: " << error << '\n';
        return kExitIo;
      }
      std::cerr << "job revoke: " << wanted << " is not an approved job of the line\n";
      return kExitFailed;
    }
    std::cout << "revoked " << ApprovedLine(*revoked) << '\n';
    return kExitOk;
  }

  int List() {
    int status = kExitOk;
    const auto line = ConnectLine("list", db_, status);
    if (!line) return status;
    std::string error;
    const auto jobs = line->ApprovedJobs(&error);
    const auto required = jobs ? line->RequiresApprovedJobs(&error) : std::nullopt;
    if (!jobs || !required) {
      std::cerr << "job list: " << error << '\n';
      return kExitIo;
    }
    if (json_) {
      for (const ApprovedJob& job : *jobs) {
        std::cout << ApprovedJson(job).dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
      }
    } else {
      std::cout << "approved jobs required: " << (*required ? "on" : "off") << '\n';
      for (const ApprovedJob& job : *jobs) std::cout << ApprovedLine(job) << '\n';
    }
    return std::cout.flush() ? kExitOk : kExitIo;
  }

  int Require() {
    int status = kExitOk;
    const auto line = ConnectLine("require", db_, status);
    if (!line) return status;
    std::string error;
    if (!line->SetRequireApprovedJobs(setting_ == "on", &error)) {
      std::cerr << "job require: " << error << '\n';
      return kExitIo;
    }
    std::cout << "approved jobs required on the line: " << setting_ << '\n';
    return kExitOk;
  }

  CLI::App* show_ = nullptr;
  CLI::App* approve_ = nullptr;
  CLI::App* revoke_ = nullptr;
  CLI::App* list_ = nullptr;
  CLI::App* require_ = nullptr;
  JobArguments showJob_;
  JobArguments approveJob_;
  bool json_ = false;
  std::string by_, label_, db_, fingerprint_, setting_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::JobCommand;
KORVAN_REGISTER_COMMAND(JobCommand, "job")
