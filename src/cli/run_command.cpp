// korvan-cli run: the station without its window. Starts as the window does (firmware image, port
// list, device search), loads the job, sets the job form from the options and runs each STEP on
// every connected idle channel, waiting until every channel is idle again before the next one.
//   korvan-cli run [--ports P1:P2:...] (--chip PART [--series I] IN... | JOB.kvn) [job options]
//                  STEP...
// The information panel's lines go to stdout as they are added; after each step one line per
// channel says how it ended. A verify mismatch is answered Abort. The first step that fails on
// any channel ends the run.
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/job_files.h"
#include "cli/json_output.h"
#include "cli/run_output.h"
#include "cli/run_steps.h"
#include "cli/station_session.h"
#include "cli/terminal_output.h"
#include "core/chips/catalogue.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

// Splits a comma-separated list.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string::size_type from = 0;
  while (true) {
    const auto comma = text.find(',', from);
    items.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return items;
}

// The job form's settings a command line may change. Unset members leave the control as the
// chip choice and the loaded project left it.
struct JobOptions {
  std::optional<std::string> serialNumbers;  // SN1[,SN2[,SN3[,SN4]]]
  std::optional<std::string> snGain;
  std::optional<std::string> snAddress;
  bool snLittleEndian = false;
  std::optional<int> countLimit;
  bool noChipDetect = false;
  std::optional<int> insertMs, removeMs;
  bool keepPower = false;
  std::optional<int> powerOnMs, powerOffMs;
  std::optional<int> reset;  // RadioGrpRST index
  bool runAfter = false;
  bool runAndShut = false;
  std::optional<int> runMs;
  bool programOptionBytes = false;
  bool noProgramOptionBytes = false;
  bool blankError = false;
  bool eraseDirectly = false;
  std::optional<int> voltage;  // RadioGpVolt index
  std::optional<int> swclk;    // RadioGrpSpdF index

  void Add(CLI::App* sub) {
    const char* const job = "Job settings";
    sub->add_option("--serial-numbers", serialNumbers,
                    "Serial numbers on, starting at SN1[,SN2,SN3,SN4] for channels 1..4")
        ->group(job);
    sub->add_option("--sn-gain", snGain, "Serial-number step (default 0x01)")->group(job);
    sub->add_option("--sn-address", snAddress, "Where the serial number is written (0x0000FFF0)")
        ->group(job);
    sub->add_flag("--sn-little-endian", snLittleEndian, "Write serial numbers little-endian")
        ->group(job);
    sub->add_option("--count-limit", countLimit, "Limit the parts programmed (0: no limit)")
        ->check(CLI::Range(0, 999999999))
        ->group(job);
    sub->add_flag("--no-chip-detect", noChipDetect, "Turn automatic chip detection off")
        ->group(job);
    sub->add_option("--insert-ms", insertMs, "Settle time after a chip is inserted, 300..1500")
        ->check(CLI::Range(300, 1500))
        ->group(job);
    sub->add_option("--remove-ms", removeMs, "Settle time after a chip is removed, 300..2000")
        ->check(CLI::Range(300, 2000))
        ->group(job);
    sub->add_flag("--keep-power", keepPower, "Leave the target powered after programming")
        ->group(job);
    sub->add_option("--power-on-ms", powerOnMs, "Power-up settle time, 10..2000")
        ->check(CLI::Range(10, 2000))
        ->group(job);
    sub->add_option("--power-off-ms", powerOffMs, "Power-down settle time, 10..2000")
        ->check(CLI::Range(10, 2000))
        ->group(job);
    sub->add_option("--reset", reset, "Reset output after programming: low, hi-z or pulse")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, int>{{"low", 0}, {"hi-z", 1}, {"pulse", 2}}))
        ->group(job);
    sub->add_flag("--run-after", runAfter, "Start the part after programming")->group(job);
    sub->add_flag("--run-and-shut", runAndShut, "Run the part, then shut it down")->group(job);
    sub->add_option("--run-ms", runMs, "Run time before the shut-down, 100..2000")
        ->check(CLI::Range(100, 2000))
        ->group(job);
    sub->add_flag("--program-ob", programOptionBytes, "Program the option bytes")->group(job);
    sub->add_flag("--no-program-ob", noProgramOptionBytes, "Do not program the option bytes")
        ->group(job);
    sub->add_flag("--blank-error", blankError, "A part that is not blank is an error")->group(job);
    sub->add_flag("--erase-directly", eraseDirectly, "Erase without a blank check")->group(job);
    sub->add_option("--voltage", voltage, "Interface level: 3.3 or 5.0")
        ->transform(
            CLI::CheckedTransformer(std::map<std::string, int>{{"3.3", 0}, {"5.0", 1}, {"5", 1}}))
        ->group(job);
    sub->add_option("--swclk", swclk, "SWD clock: slow or fast")
        ->transform(CLI::CheckedTransformer(std::map<std::string, int>{{"slow", 0}, {"fast", 1}}))
        ->group(job);
  }

  // The text of a usage error, "" when the options fit together.
  std::string Check() const {
    if (programOptionBytes && noProgramOptionBytes) {
      return "--program-ob and --no-program-ob exclude each other";
    }
    std::vector<std::string> numbers;
    if (serialNumbers) {
      numbers = SplitList(*serialNumbers);
      if (numbers.size() > static_cast<std::size_t>(kChannelCount)) {
        return "--serial-numbers takes at most four numbers";
      }
    }
    if (snGain) numbers.push_back(*snGain);
    if (snAddress) numbers.push_back(*snAddress);
    for (const auto& text : numbers) {
      if (!ParseInteger(text)) return NotAnIntegerMessage(text);
    }
    return "";
  }

  // Ticks and fills the controls as an operator would, each with its click handler.
  void Apply(Station& station) const {
    JobForm& form = station.form();
    if (serialNumbers) {
      form.CheckBoxSN.checked = true;
      station.CheckBoxSNClick();
      const auto numbers = SplitList(*serialNumbers);
      for (std::size_t i = 0; i < numbers.size(); ++i) {
        form.SNEdit(static_cast<int>(i)).text = numbers[i];
      }
    }
    if (snGain) form.GainEdit.text = *snGain;
    if (snAddress) form.AddrEdit.text = *snAddress;
    if (snLittleEndian) form.SNOrderChk.checked = false;
    if (countLimit) {
      form.CheckBoxCtrl.checked = *countLimit > 0;
      station.CheckBoxCtrlClick();
      form.SpinEditNum.Set(*countLimit);
    }
    if (noChipDetect) {
      form.ChkBoxAuto.checked = false;
      station.ChkBoxAutoClick();
    }
    if (insertMs) form.SpinEditIn.Set(*insertMs);
    if (removeMs) form.SpinEditOut.Set(*removeMs);
    if (keepPower) form.ChkBoxVDD.checked = false;
    if (powerOnMs) form.SpinEditVddTim.Set(*powerOnMs);
    if (powerOffMs) form.SpinEditRstTim.Set(*powerOffMs);
    if (reset) form.RadioGrpRST.itemIndex = *reset;
    if (runAfter) form.CheckBoxRun.checked = true;
    if (runAndShut) form.ChkBoxRunSHT.checked = true;
    if (runMs) form.SpinEditRTM.Set(*runMs);
    if (programOptionBytes) form.CheckBoxOpt.checked = true;
    if (noProgramOptionBytes) form.CheckBoxOpt.checked = false;
    if (blankError) form.ChkBoxBlkEr.checked = true;
    if (eraseDirectly) form.ChkBoxEras.checked = true;
    if (voltage) form.RadioGpVolt.itemIndex = *voltage;
    if (swclk) form.RadioGrpSpdF.itemIndex = *swclk;
  }
};

class RunCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "run",
        "Start as the window does, find the programmers, load the job and run each STEP on every "
        "connected programmer.");
    sub->footer(std::string(StepHelp()) +
                "\n\nExit status: 0 every step succeeded on every connected channel, 1 a step "
                "failed or timed out on a channel (or an input had line errors), 2 usage error, "
                "3 a file could not be read or written, or no programmer answered.");
    sub->add_option("--ports", ports_,
                    "Ports to search besides the USB adapters, colon separated (replaces "
                    "KORVAN_PORTS)");
    sub->add_option("--chip", part_, "Part number (not needed when the job is a .kvn project)");
    sub->add_option("--series", series_, "Series selected in the chip dialog, 0..8")
        ->check(CLI::Range(0, kSeriesCount - 1));
    sub->add_option("--offset", offset_,
                    "Address of a binary input (decimal, 0x... or $...; default: the flash start)");
    sub->add_flag("--abort-on-error", abortOnError_,
                  "Answer Abort to the first line error of an input");
    sub->add_option("--watch-timeout", watchSeconds_,
                    "Seconds a watch=N step waits at most (default: no limit)")
        ->check(CLI::PositiveNumber);
    sub->add_flag("--json", json_,
                  "Write every event as one JSON object per line on stdout (panel lines, gauge "
                  "changes, step results per channel, stand-alone results, a final summary); "
                  "messages meant for an operator go to stderr");
    sub->add_flag("--quiet", quiet_, "Leave out the panel lines and gauge changes");
    sub->add_option("--records", records_,
                    "Folder for the production records (default: the station's log folder)");
    job_.Add(sub);
    sub->add_option("ITEMS", items_, "IN... (object files, or a .kvn project) then STEP...")
        ->required();
    return sub;
  }

  int Run() override {
    std::vector<std::string> inputs;
    std::vector<Step> steps;
    for (const auto& item : items_) {
      std::string error;
      const auto step = ParseStep(item, &error);
      if (!error.empty()) return Usage(error);
      if (step) {
        steps.push_back(*step);
      } else if (!steps.empty()) {
        return Usage("an input after the steps, or an unknown step: " + item);
      } else {
        inputs.push_back(item);
      }
    }
    if (steps.empty()) return Usage("no STEP given");
    if (const std::string problem = CheckInputNames(inputs); !problem.empty()) {
      return Usage(problem);
    }
    const bool projectFirst = !inputs.empty() && IsProjectFile(inputs.front());
    if (!projectFirst && !part_) {
      return Usage("--chip is required unless the job is a project (.kvn)");
    }
    if (offset_ && !ParseInteger(*offset_)) return Usage(NotAnIntegerMessage(*offset_));
    if (const std::string problem = job_.Check(); !problem.empty()) return Usage(problem);

    // With --json, stdout carries nothing but the events.
    CliFrontend frontend(json_ ? std::cerr : std::cout, std::cerr);
    frontend.abortOnError = abortOnError_;
    frontend.abortOnMismatch = true;
    frontend.loadOffset = offset_;
    frontend.chipPart = part_;
    frontend.chipSeries = series_;
    std::unique_ptr<RunOutput> output =
        json_ ? MakeJsonOutput(std::cout)
        : !quiet_ && IsLiveTerminal(STDOUT_FILENO)
            ? MakeTerminalOutput(std::cout, std::cerr, TerminalOptionsFor(STDOUT_FILENO))
            : MakeTextOutput(std::cout, std::cerr);
    if (quiet_) output = MakeQuietOutput(std::move(output));
    const int status = Execute(frontend, *output, inputs, steps);
    output->Finished(status);
    return status;
  }

 private:
  int Execute(CliFrontend& frontend, RunOutput& output, const std::vector<std::string>& inputs,
              const std::vector<Step>& steps) {
    StationSession session(frontend, output);
    if (records_) session.recordFolder = *records_;
    Station& station = session.station();
    // The identity requests go out now; the answers are taken while the job loads.
    session.Start(ports_);
    if (!records_ && !station.logLocation().problem.empty()) {
      output.Problem(station.logLocation().problem + ", or give --records DIR");
      return kExitIo;
    }

    if (part_) {
      station.DevButtonClick();
      if (!station.chip().chipConfirmed) {
        output.Problem("unknown part: " + *part_);
        return kExitUsage;
      }
    }
    const LoadSummary loaded = LoadInputs(station, frontend, inputs);
    if (loaded.outcome == LoadOutcome::Failed) return kExitIo;
    if (loaded.lineErrors > 0) {
      // An image with unreadable lines is not programmed into parts.
      output.Problem(Format("%d line error(s) in the input; no step was run", loaded.lineErrors));
      return kExitFailed;
    }
    job_.Apply(station);

    session.AwaitSearch();
    if (session.ConnectedCount() == 0) {
      output.Problem("no programmer answered");
      session.Close();
      return kExitIo;
    }

    int status = kExitOk;
    StationSession::StopOnSignals();
    for (const Step& step : steps) {
      output.StepStarted(step.text);
      StepReport report = RunOne(session, frontend, step);
      if (StationSession::StopRequested()) {
        report.ok = false;
        if (report.note.empty()) report.note = "stopped by a signal";
      }
      output.StepEnded(report);
      if (!report.ok) {
        status = kExitFailed;
        break;
      }
    }
    session.Close();
    return status;
  }

  StepReport RunOne(StationSession& session, CliFrontend& frontend, const Step& step) {
    Station& station = session.station();
    auto run = [&](void (Station::*handler)()) {
      return session.RunStep(step.text, [&] { (station.*handler)(); });
    };
    if (!step.operation) {
      const auto limit =
          watchSeconds_ ? std::chrono::milliseconds(static_cast<long long>(*watchSeconds_ * 1000))
                        : std::chrono::milliseconds(std::chrono::hours(24 * 30));
      return session.AwaitStandAlone(step.text, step.count, limit);
    }
    const StationOperation& op = *step.operation;
    if (op.pending == kPendingIdle) {
      // The monitor request awaits no reply: the step is done once it has been sent.
      (station.*op.start)();
      session.Flush();
      StepReport report{step.text, true, {}, ""};
      for (const ChannelReport& ch : session.Channels()) {
        if (ch.connected) report.channels.push_back({ch.channel, ch.port, true, {}, "sent"});
      }
      return report;
    }
    if (op.argument == StepArgument::AddressAndLength) {
      frontend.readAddress = ReadAddressEntry{step.argument, step.count};
    }
    StepReport report = op.pending == kPendingFirmwareUpgrade
                            ? session.RunStep(
                                  step.text, [&] { (station.*op.start)(); }, true)
                            : run(op.start);
    if (op.pending == kPendingFirmwareUpgrade) {
      if (!station.firmwarePresent()) report.note = "no firmware image KorvanNAT.KFW";
      if (report.ok) {
        session.AwaitRestartAnswers();
        session.SearchAgain();
      }
    }
    if (op.argument == StepArgument::OutputFile && report.ok &&
        !SaveMemory(station, frontend, step.argument)) {
      report.ok = false;
      report.note = "the memory read could not be saved to " + step.argument;
    }
    return report;
  }

  int Usage(const std::string& text) {
    std::cerr << "run: " << text << "\nRun with --help for more information.\n";
    return kExitUsage;
  }

  std::optional<std::string> ports_;
  std::optional<std::string> part_;
  std::optional<int> series_;
  std::optional<std::string> offset_;
  bool abortOnError_ = false;
  std::optional<double> watchSeconds_;
  bool json_ = false;
  bool quiet_ = false;
  std::optional<std::string> records_;
  JobOptions job_;
  std::vector<std::string> items_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::RunCommand;
KORVAN_REGISTER_COMMAND(RunCommand)
