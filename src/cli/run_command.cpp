// korvan-cli run: the station without its window. Starts as the window does (firmware image, port
// list, device search), loads the job, sets the job form from the options and runs each STEP on
// every connected idle channel, waiting until every channel is idle again before the next one.
//   korvan-cli run [--ports P1:P2:...] [--bind FILE] (--chip PART [--series I] IN... | JOB.kvn)
//                  [job options] STEP...
// The information panel's lines go to stdout as they are added; after each step one line per
// channel says how it ended. A verify mismatch is answered Abort. The first step that fails on
// any channel ends the run.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/job_files.h"
#include "cli/job_options.h"
#include "cli/json_output.h"
#include "cli/line_records.h"
#include "cli/run_output.h"
#include "cli/run_steps.h"
#include "cli/station_session.h"
#include "cli/terminal_output.h"
#include "core/chips/catalogue.h"
#include "core/host/job_approval.h"
#include "core/host/serial_guard.h"
#include "core/job/job_fingerprint.h"
#include "core/job/serial_numbers.h"
#include "core/serial/port_binding.h"
#include "core/trace/tracing_port.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

class RunCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "run",
        "Start as the window does, find the programmers, load the job and run each STEP on every "
        "connected programmer.");
    sub->footer(std::string(StepHelp()) +
                "\n\nMore than four programmers: ports 1-4 are station 1, 5-8 station 2, and so "
                "on, each working as the window's four channels do; channels are numbered 1..N "
                "across them. With more than one station each panel line starts with "
                "\"station S:\", read-memory=OUT saves each station's read as OUT with -chN "
                "before the extension (N its first channel) and each station's log is "
                "NAT_..._stationS.log.\n\nOn a terminal (TERM not dumb) one live line per working "
                "channel shows step, bar, percent, KiB, rate and time left (coloured unless "
                "NO_COLOR is set); piped, with --json or --quiet, none. The run stops at the "
                "first failed step; a verify mismatch is answered Abort. A step after a restart "
                "(download, upgrade, monitor) goes out once the programmers answered it (at most "
                "3 s). Inputs are checked against the part's flash before anything is sent. The "
                "job's fingerprint (korvan-cli job show) is printed before the steps, goes into "
                "every production record and, with --json, into the summary."
                "\n\nExit status: 0 every step succeeded on every connected channel, 1 a step "
                "failed or timed out on a channel, an input was refused (line errors, no "
                "data, data outside the part's flash), or the job is not approved where approved "
                "jobs are required, 2 usage error (an unknown part, a "
                "--records-db that names no PostgreSQL database, more serial numbers than "
                "channels, or two channels whose serial numbers overlap included), 3 a file "
                "could not be read or written, or no port could be used or no programmer "
                "answered, 4 a production record could not be written, or the record store "
                "cannot take records (checked before the first step), 128+N "
                "stopped by signal N (SIGINT, SIGTERM, SIGHUP: the parts at work are recorded "
                "NG, interrupted).");
    sub->add_option("--ports", ports_,
                    "Ports to search besides the USB adapters, colon separated (replaces "
                    "KORVAN_PORTS); /dev/serial/by-id/... and by-path/... names are shown as "
                    "given");
    sub->add_option("--bind", bindFile_,
                    "Binds channels to adapters: a text file of lines 'CHANNEL ADAPTER' (USB "
                    "serial number or /dev/serial/by-path name; '#' comments). A channel whose "
                    "adapter is missing, or whose programmer does not answer, fails; adapters "
                    "bound to no channel are not used; a file that binds no channel is a usage "
                    "error");
    input_.AddTo(*sub, kTexts);
    sub->add_flag("--allow-reused-serial-numbers", allowReusedSerials_,
                  "Program serial numbers that OK parts of the same chip already got at the same "
                  "address (the record store says so); only warned about");
    sub->add_option("--watch-timeout", watchSeconds_,
                    "Seconds a watch=N step waits at most, up to 2592000 (default: no limit)")
        ->check(CLI::Range(0.001, 2592000.0));
    sub->add_flag("--json", json_,
                  "Write every event as one JSON object per line on stdout (panel lines, gauge "
                  "changes, step results per channel, stand-alone results, a final summary); "
                  "messages meant for an operator go to stderr");
    sub->add_flag("--quiet", quiet_, "Leave out the panel lines and gauge changes");
    sub->add_option("--records", records_,
                    "Folder for the production records (default: the station's log folder)");
    line_.Add(sub);
    sub->add_option("--approved-jobs", approvedJobsFile_,
                    "The approved jobs, for a station without a line database: a text file of "
                    "lines 'FINGERPRINT LABEL' (korvan-cli job show prints a job's fingerprint; "
                    "'#' comments). With --require-approved-job a job not listed is refused");
    sub->add_flag("--require-approved-job", requireApprovedJob_,
                  "Run the job only when it is approved (listed in --approved-jobs, or on the line "
                  "database and not revoked): another is refused with exit 1 before anything "
                  "but the device search is sent, naming its fingerprint and the jobs approved "
                  "for the part. A line database whose line requires approved jobs (korvan-cli "
                  "job require on) requires them without this option; out of reach, the "
                  "station's copy of its list from the last connection decides");
    auto* traceOption =
        sub->add_option("--trace", traceFile_,
                        "Write a wire trace to FILE: one JSON line per frame, noise run and line "
                        "event on every channel (read it with korvan-cli trace FILE); a file that "
                        "cannot be written is said once on stderr and the run goes on");
    sub->add_flag("--trace-full", traceFull_,
                  "With --trace: every frame's bytes in full (bodies over 64 bytes are "
                  "otherwise written as their header, length and CRC verdict)")
        ->needs(traceOption);
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
      } else if (const std::string unknown = UnknownStepMessage(item); !unknown.empty()) {
        return Usage(unknown);
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
    if (const std::string problem = input_.Problem(projectFirst, kTexts); !problem.empty()) {
      return Usage(problem);
    }
    if (const std::string problem = job_.Check(); !problem.empty()) return Usage(problem);
    if (const std::string problem = line_.Problem(); !problem.empty()) return Usage(problem);
    if (requireApprovedJob_ && !approvedJobsFile_ && !line_.Url()) {
      return Usage(
          "--require-approved-job needs the approved jobs: --approved-jobs FILE or a line "
          "database (--records-db)");
    }
    if (approvedJobsFile_ && line_.Url()) {
      return Usage("--approved-jobs goes without a line database: the line keeps its own list");
    }
    if (approvedJobsFile_) {
      std::ifstream in(*approvedJobsFile_, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      if (!in.is_open() || in.bad()) {
        std::cerr << "run: cannot read the approved jobs file " << *approvedJobsFile_ << '\n';
        return kExitIo;
      }
      std::string error;
      const auto jobs = ParseApprovedJobs(text, &error);
      if (!jobs) return Usage("--approved-jobs " + *approvedJobsFile_ + ": " + error);
      approvals_.jobs = *jobs;
      approvals_.source = "the approved jobs file " + *approvedJobsFile_;
    }
    approvals_.required = requireApprovedJob_;
    if (watchSeconds_ && !std::isfinite(*watchSeconds_)) {
      return Usage("--watch-timeout must be a finite number of seconds");
    }
    {
      std::string note, error;
      if (!input_.ResolveChip(note, error)) return Usage(error);
      if (!note.empty()) std::cerr << "korvan-cli: " << note << '\n';
    }
    if (bindFile_) {
      std::ifstream in(*bindFile_, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      if (!in.is_open() || in.bad()) {
        std::cerr << "run: cannot read the bind file " << *bindFile_ << '\n';
        return kExitIo;
      }
      std::string error;
      bindings_ = ParseBindings(text, kMaxChannels, &error);
      if (!bindings_) return Usage("--bind " + *bindFile_ + ": " + error);
      if (bindings_->empty()) {
        return Usage("--bind " + *bindFile_ + " binds no channel (no 'CHANNEL ADAPTER' line)");
      }
    }

    // With --json, stdout carries nothing but the events.
    CliFrontend frontend(json_ ? std::cerr : std::cout, std::cerr);
    input_.ApplyTo(frontend);
    frontend.abortOnMismatch = true;
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
    // Declared before the session so that it outlives the ports that write to it: it is
    // flushed and closed once the session closed them, stop signals included.
    std::shared_ptr<trace::WireTrace> wireTrace;
    StationSession::PortWrap tracePorts;
    if (traceFile_) {
      wireTrace = OpenWireTrace(
          *traceFile_, "korvan-cli run", traceFull_,
          [](const std::string& text) { std::cerr << "korvan-cli: " << text << '\n'; });
      tracePorts = [wireTrace](PortProvider ports, int firstChannel) {
        return TracedPorts(std::move(ports), wireTrace, firstChannel);
      };
    }
    StationSession session(frontend, output, std::move(tracePorts));
    if (records_) session.recordFolder = *records_;
    Station& station = session.station();
    // With --bind each search takes the ports found in the order of the bindings.
    auto bound = std::make_shared<BoundPorts>();
    if (bindings_) {
      session.SetPortArrangement(
          [&station, bindings = *bindings_, bound](const std::vector<std::string>& listed) {
            // Each port listed with what tells its adapter apart.
            const std::vector<SerialPortInfo> details = CandidateAdapters(station.portSources());
            std::vector<SerialPortInfo> found;
            for (const std::string& path : listed) {
              SerialPortInfo port;
              port.path = path;
              for (const SerialPortInfo& d : details) {
                if (d.path == path) port = d;
              }
              found.push_back(std::move(port));
            }
            *bound = BindPorts(bindings, found);
            return bound->ports;
          });
    }
    // From here on a stop signal ends the run cleanly, whatever phase it comes in.
    session.StopOnSignals();
    // The identity requests go out now; the answers are taken while the job loads.
    session.Start(ports_);
    if (!records_ && !station.logLocation().problem.empty()) {
      output.Problem(station.logLocation().problem + ", or give --records DIR");
      session.Close();
      return kExitIo;
    }
    if (const auto problem = session.RecordFolderProblem()) {
      // No part is programmed that could not be recorded.
      RecordProblem(output, *problem + "; no step was run");
      session.Close();
      return kExitRecord;
    }
    // The store itself, whether or not serial numbers are used: a part's record that cannot be
    // written is found out now, not after the part was programmed.
    if (const auto problem = session.RecordStoreProblem()) {
      RecordProblem(output,
                    "production records cannot be written: " + *problem + "; no step was run");
      session.Close();
      return kExitRecord;
    }
    // The records go to the line database too, from the station's store, while the run goes on.
    std::unique_ptr<LineRun> line;
    if (const auto url = line_.Url()) {
      std::string error;
      line = LineRun::Start(
          session, output,
          records_ ? std::filesystem::path(*records_) : station.logLocation().shutdownDir, *url,
          &error);
      if (!line) {
        RecordProblem(output, error + "; no step was run");
        session.Close();
        return kExitRecord;
      }
    }

    // The panel lines of choosing the part and loading the job, for the further stations.
    const std::size_t panelBefore = station.info().LineCount();
    if (input_.part) {
      station.DevButtonClick();
      if (!station.chip().chipConfirmed) {
        output.Problem("unknown part: " + *input_.part);
        return kExitUsage;
      }
    }
    // The further stations share the first one's image from their start and take its job
    // once loaded: the load changes that one image rather than making a second.
    station.LeadJob(true);
    const LoadSummary loaded = LoadInputs(station.desk(), frontend, inputs, input_.Checks());
    station.LeadJob(false);
    const std::vector<std::string> loadLines(
        station.info().Lines().begin() + static_cast<std::ptrdiff_t>(panelBefore),
        station.info().Lines().end());
    if (loaded.outcome == LoadOutcome::Failed) {
      if (!loaded.problem.empty()) output.Problem(loaded.problem);
      return kExitIo;
    }
    if (loaded.outcome == LoadOutcome::Refused) {
      output.Problem(loaded.problem + "; no step was run");
      return kExitFailed;
    }
    if (loaded.lineErrors > 0 && !input_.ignoreLineErrors) {
      // An image with unreadable lines is not programmed into parts.
      output.Problem(LineErrorProblem(loaded) +
                     "; answered Abort, no step was run (--ignore-line-errors reads on)");
      return kExitFailed;
    }
    job_.Apply(station.desk(), 1, session.ChannelCount());
    // One number per channel the search found a port for: a number beyond them would be
    // dropped without a word.
    if (job_.SerialNumberCount() > static_cast<std::size_t>(session.HighestPortChannel())) {
      output.Problem(Format("--serial-numbers gives %d numbers for %d channels (the ports found)",
                            static_cast<int>(job_.SerialNumberCount()),
                            session.HighestPortChannel()));
      session.Close();
      return kExitUsage;
    }
    // Further stations of four take the job the first one loaded, image and all (one copy of
    // the image for the whole gang, never read from disk again), and its panel lines of it.
    session.ForEachFurtherStation([&](Station& further, CliFrontend&, int s) {
      further.AdoptJob(station);
      for (const std::string& line : loadLines) further.info().AddLine(line);
      job_.Apply(further.desk(), s, session.ChannelCount());
    });

    // The job as it will be sent, and whether it may run: refused before any step.
    if (const int refused = CheckJob(session, output); refused != kExitOk) {
      session.Close();
      return refused;
    }

    session.AwaitSearch();
    if (const int signalNumber = StationSession::StopSignal()) {
      return Stopped(session, output, signalNumber);
    }
    ReportBinding(*bound, output);
    const bool silentBound = ReportSilentPorts(session, output);
    if (session.ConnectedCount() == 0) {
      output.Problem(session.NoProgrammerText());
      session.Close();
      return kExitIo;
    }

    if (const int refused = GuardSerialNumbers(session, output, steps, line.get());
        refused != kExitOk) {
      session.Close();
      return refused;
    }
    session.SetNumbersChecked(true);

    int status = kExitOk;
    for (const Step& step : steps) {
      output.StepStarted(step.text);
      const std::size_t lostBefore = session.RecordsLost();
      StepReport report = RunOne(session, frontend, step);
      const int signalNumber = StationSession::StopSignal();
      if (signalNumber != 0) {
        report.ok = false;
        if (report.note.empty()) report.note = "stopped by " + SignalName(signalNumber);
      }
      const std::size_t lost = session.RecordsLost() - lostBefore;
      if (lost > 0 && signalNumber == 0) {
        report.ok = false;
        if (report.note.empty()) report.note = "production records not written";
      }
      output.StepEnded(report);
      if (signalNumber != 0) return Stopped(session, output, signalNumber);
      if (lost > 0) {
        RecordProblem(
            output, Format("%d production record(s) could not be written: %s",
                           static_cast<int>(lost), session.LastRecordError().value_or("").c_str()));
        status = kExitRecord;
        break;
      }
      if (!report.ok) {
        status = kExitFailed;
        break;
      }
    }
    session.Close();
    // A bound channel without its adapter, or whose programmer did not answer, is a failed
    // channel.
    return status == kExitOk && (!bound->missing.empty() || silentBound) ? kExitFailed : status;
  }

  // Tells the job's fingerprint and refuses a job that is not approved where approved jobs are
  // required (--require-approved-job, or the line's own setting): exit 1. Every station of the
  // run checks the job again before a command that puts it into programmers or parts.
  int CheckJob(StationSession& session, RunOutput& output) {
    Station& station = session.station();
    std::string problem;
    const auto fingerprint = FingerprintJob(station.job(), &problem);
    output.JobReady(fingerprint ? fingerprint->hex : "");
    if (const auto url = line_.Url()) {
      const std::filesystem::path folder =
          records_ ? std::filesystem::path(*records_) : station.logLocation().shutdownDir;
      std::string note, error;
      const auto line = LineJobApprovals(*url, folder, &note, &error);
      if (line) {
        approvals_.jobs = line->jobs;
        approvals_.source = line->source;
        approvals_.required = requireApprovedJob_ || line->required;
        // Where approved jobs decide, a list from the station's copy is said.
        if (approvals_.required && !note.empty()) OperatorProblem(output, note);
      } else if (requireApprovedJob_) {
        OperatorProblem(output, "the approved jobs cannot be read: " + error + "; no step was run");
        return kExitFailed;
      }
    }
    if (!approvals_.required) return kExitOk;
    if (!fingerprint) {
      output.Problem("the job has no fingerprint: " + problem + "; no step was run");
      return kExitFailed;
    }
    if (const std::string refusal =
            JobRefusal(approvals_, fingerprint->hex, station.chip().chipName);
        !refusal.empty()) {
      OperatorProblem(output, refusal + "; no step was run");
      return kExitFailed;
    }
    for (int s = 1; s <= session.StationCount(); ++s) {
      RefuseUnapprovedJobs(session.station(s), approvals_);
    }
    return kExitOk;
  }

  // Before parts get serial numbers: `continue` takes the numbers on from the record store, and
  // numbers an OK part of the same chip already got at the same address refuse the run (exit 1)
  // unless --allow-reused-serial-numbers. A run with serial numbers off is not checked. With a
  // line database the numbers are then reserved across the line too.
  int GuardSerialNumbers(StationSession& session, RunOutput& output, const std::vector<Step>& steps,
                         LineRun* line) {
    bool programs = false;
    // Without a count limit, the most parts a channel may number in this run: one per Auto
    // cycle and up to N per watch=N.
    std::uint64_t parts = 0;
    for (const Step& step : steps) {
      const std::string word = step.operation ? step.operation->step : "watch";
      programs |= word == "download" || word == "auto" || word == "program" || word == "watch";
      if (word == "auto") parts += 1;
      if (!step.operation) parts += static_cast<std::uint64_t>(std::max(step.count, 0));
    }
    if (!programs) return kExitOk;
    const auto partsWithoutLimit =
        static_cast<std::uint32_t>(std::clamp<std::uint64_t>(parts, 1, 0xFFFFFFFF));
    // Every station of four for itself (its channels as the records number them), the first
    // clash over all of them told.
    std::optional<std::string> first;
    std::uint32_t firstSerial = 0;
    std::vector<SerialPlan> plans;
    for (int s = 1; s <= session.StationCount(); ++s) {
      RecordWriter* writer = session.recordWriter(s);
      Station& station = session.station(s);
      const std::vector<int> channels = ConnectedChannels(station);
      if (!writer || !PlanSerialNumbers(station, channels, s, partsWithoutLimit).enabled) {
        continue;
      }
      if (auto error = writer->keeper().Open()) {
        RecordProblem(output, "serial numbers cannot be checked: " + *error + "; no step was run");
        return kExitRecord;
      }
      const RecordStore& store = *writer->keeper().store();
      if (job_.ContinuesSerialNumbers()) {
        for (const std::string& line : ContinueSerialNumbers(station, store, channels, s)) {
          output.InfoLine(line);
        }
      }
      const SerialPlan plan = PlanSerialNumbers(station, channels, s, partsWithoutLimit);
      plans.push_back(plan);
      const auto clash = FindSerialClash(store, plan);
      if (clash && (!first || clash->earlier.record.serialNumber.value_or(0) < firstSerial)) {
        first = SerialClashText(plan, *clash);
        firstSerial = clash->earlier.record.serialNumber.value_or(0);
      }
    }
    // No number goes to two parts of this run, whatever the records say.
    if (const auto overlap = FindSerialOverlap(plans)) {
      output.Problem(SerialOverlapText(*overlap) +
                     "; no step was run (give each channel its own --serial-numbers value)");
      return kExitUsage;
    }
    const auto acrossTheLine = [&] {
      return line ? line->ReserveSerialNumbers(plans, allowReusedSerials_,
                                               line_.offlineSerialNumbers)
                  : kExitOk;
    };
    if (!first) return acrossTheLine();
    if (allowReusedSerials_) {
      output.Problem("warning: " + *first + " (--allow-reused-serial-numbers)");
      return acrossTheLine();
    }
    output.Problem(*first +
                   "; no step was run (--serial-numbers continue takes the numbers on, "
                   "--allow-reused-serial-numbers uses them again)");
    return kExitFailed;
  }

  void ReportBinding(const BoundPorts& bound, RunOutput& output) {
    for (const ChannelBinding& missing : bound.missing) {
      const std::string text = Format("channel %d: adapter %s (bind file line %d) is not connected",
                                      missing.channel, missing.adapter.c_str(), missing.line);
      output.ChannelMissing(missing.channel, missing.adapter, text);
      // The JSON goes to stdout; an operator reads stderr.
      if (json_) std::cerr << "korvan-cli: " << text << '\n';
    }
    for (const SerialPortInfo& extra : bound.extra) {
      output.Problem(Format("adapter %s is bound to no channel and is not used",
                            DescribeAdapter(extra).c_str()));
    }
  }

  // Every port the device search opened without a programmer answering is named: a run that
  // leaves a programmer out says so. A channel bound by --bind whose programmer did not answer
  // fails the run as a missing adapter does; returns true when there is one.
  bool ReportSilentPorts(StationSession& session, RunOutput& output) {
    bool silentBound = false;
    for (const ChannelReport& ch : session.Channels()) {
      if (ch.connected) continue;
      const ChannelBinding* binding = nullptr;
      if (bindings_) {
        for (const ChannelBinding& b : *bindings_) {
          if (b.channel == ch.channel) binding = &b;
        }
      }
      if (binding) {
        silentBound = true;
        const std::string text =
            Format("channel %d: no programmer answered on %s (adapter %s, bind file line %d)",
                   ch.channel, ch.port.c_str(), binding->adapter.c_str(), binding->line);
        output.ChannelMissing(ch.channel, binding->adapter, text);
        if (json_) std::cerr << "korvan-cli: " << text << '\n';
        continue;
      }
      OperatorProblem(output, Format("channel %d: no programmer answered on %s; it is left out",
                                     ch.channel, ch.port.c_str()));
    }
    return silentBound;
  }

  // The run was stopped by a signal: the parts left half done are recorded as interrupted, the
  // ports closed; the exit status is 128 + the signal's number, as a shell reports a signal.
  int Stopped(StationSession& session, RunOutput& output, int signalNumber) {
    const std::size_t lostBefore = session.RecordsLost();
    const std::vector<int> channels = session.Interrupt(signalNumber);
    std::string text = "stopped by " + SignalName(signalNumber);
    if (channels.empty()) {
      text += "; no part was being worked on";
    } else {
      text += "; interrupted on channel";
      for (int n : channels) text += Format(" %d", n);
    }
    output.Problem(text);
    if (session.RecordsLost() > lostBefore) {
      RecordProblem(output, "the record of an interrupted part could not be written: " +
                                session.LastRecordError().value_or(""));
    }
    session.Close();
    return 128 + signalNumber;
  }

  // A lost record is told even with --quiet, and on stderr even with --json.
  void RecordProblem(RunOutput& output, const std::string& text) { OperatorProblem(output, text); }
  // A problem an operator must see: with --json it goes to stderr as well as into the events.
  void OperatorProblem(RunOutput& output, const std::string& text) {
    output.Problem(text);
    if (json_) std::cerr << "korvan-cli: " << text << '\n' << std::flush;
  }

  StepReport RunOne(StationSession& session, CliFrontend& frontend, const Step& step) {
    Station& station = session.station();
    // A command goes to every station of four at once: the first one always (it says when no
    // programmer is connected), the others when one of their programmers is.
    auto everyStation = [&session](void (Station::*handler)()) {
      for (int s = 1; s <= session.StationCount(); ++s) {
        Station& st = session.station(s);
        bool connected = s == 1;
        for (int n = 1; n <= kChannelCount && !connected; ++n) {
          connected = st.channel(n).connected != 0;
        }
        if (connected) (st.*handler)();
      }
    };
    auto run = [&](void (Station::*handler)()) {
      return session.RunStep(step.text, [&] { everyStation(handler); });
    };
    if (!step.operation) {
      const auto limit =
          watchSeconds_ ? std::chrono::milliseconds(static_cast<long long>(*watchSeconds_ * 1000))
                        : std::chrono::milliseconds(std::chrono::hours(24 * 30));
      return session.AwaitStandAlone(step.text, step.count, limit);
    }
    const StationOperation& op = *step.operation;
    if (op.link.pending == kPendingIdle) {
      // The monitor request awaits no reply: the step is done once it has been sent.
      everyStation(op.start);
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
    StepReport report = op.link.pending == kPendingFirmwareUpgrade
                            ? session.RunStep(
                                  step.text, [&] { everyStation(op.start); }, true)
                            : run(op.start);
    if (op.link.pending == kPendingFirmwareUpgrade) {
      if (!station.firmwarePresent()) report.note = "no firmware image KorvanNAT.KFW";
      if (report.ok) {
        session.AwaitRestartAnswers();
        session.SearchAgain();
      }
    }
    if (op.argument == StepArgument::OutputFile && report.ok) {
      // Each station's first channel reads. With one station the read goes to OUT; with more,
      // station s's goes to OUT with "-chN" before the extension, N that channel's number.
      for (int s = 1; s <= session.StationCount() && report.ok; ++s) {
        const int first = SessionChannel(s, 1);
        bool read = false;
        for (const ChannelStepResult& r : report.channels) read = read || r.channel == first;
        if (!read) continue;
        std::string path = step.argument;
        if (session.StationCount() > 1) {
          const std::filesystem::path p(step.argument);
          path = (p.parent_path() /
                  (p.stem().string() + Format("-ch%d", first) + p.extension().string()))
                     .string();
        }
        if (!SaveMemory(session.station(s).desk(), session.FrontendOf(s), path)) {
          report.ok = false;
          report.note = "the memory read could not be saved to " + path;
        }
      }
    }
    return report;
  }

  int Usage(const std::string& text) {
    std::cerr << "run: " << text << "\nRun with --help for more information.\n";
    return kExitUsage;
  }

  std::optional<std::string> ports_;
  std::optional<std::string> bindFile_;
  std::optional<std::vector<ChannelBinding>> bindings_;
  static constexpr JobInputOptions::Texts kTexts{
      "the job is a .kvn project", "--chip is required unless the job is a project (.kvn)",
      "Answer Abort to the first line error of an input (the default)",
      "Answer OK to line errors: read on, and run the job with what was read",
      "Run the job even when an input holds no data inside the part's flash, data outside it, "
      "or more than it holds (only warned about, as the window does)"};

  JobInputOptions input_;
  bool allowReusedSerials_ = false;
  std::optional<double> watchSeconds_;
  bool json_ = false;
  bool quiet_ = false;
  std::optional<std::string> records_;
  LineOptions line_;
  std::optional<std::string> approvedJobsFile_;
  bool requireApprovedJob_ = false;
  // Outlives the stations' job checks (RefuseUnapprovedJobs): it is the command's own.
  JobApprovals approvals_;
  std::optional<std::string> traceFile_;
  bool traceFull_ = false;
  JobOptions job_;
  std::vector<std::string> items_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::RunCommand;
KORVAN_REGISTER_COMMAND(RunCommand, "run")
