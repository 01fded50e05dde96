// korvan-cli job: a job's fingerprint.
//   korvan-cli job show (JOB.kvn | --chip PART IN...) [job options] [--json]
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

class JobCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub =
        app.add_subcommand("job", "A job's fingerprint (what a part receives from it).");
    sub->require_subcommand(1);
    sub->footer(
        "The fingerprint is a SHA-256 digest of the part, the bytes the download sends for main "
        "flash (and OTP where used), the option bytes and whether they are programmed, read "
        "protection, and the settings that act on the part (power, reset, speed, detection, count "
        "limit, serial numbers on, their address, step and byte order); not of serial-number start "
        "values, file names or times. The same bytes loaded from a HEX, S-record, binary, ELF or "
        ".kvn file give the same fingerprint. Exit status: 0 done, 1 the job was refused (line "
        "errors, no data, data outside the part's flash), 2 usage error, 3 a file could not be "
        "read.");

    show_ = sub->add_subcommand("show", "Print the job's fingerprint and what it covers.");
    showJob_.AddTo(show_);
    show_->add_flag("--json", json_, "Print one JSON object");

    return sub;
  }

  int Run() override { return Show(); }

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

  CLI::App* show_ = nullptr;
  JobArguments showJob_;
  bool json_ = false;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::JobCommand;
KORVAN_REGISTER_COMMAND(JobCommand)
