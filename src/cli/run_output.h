// What `korvan-cli run` and `korvan-cli ports` tell their caller, as events. The commands report
// through this interface only; how the events are written (plain text for an operator, or one
// record per line for a script) is the output's business, so a new format is one new class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/link/channel.h"

namespace korvan::cli {

// One channel as the device search left it.
struct ChannelReport {
  int channel = 0;  // 1..4
  std::string port;
  std::string identity;  // "" when no programmer answered
  bool connected = false;
};

// How one step ended on one channel it ran on.
struct ChannelStepResult {
  int channel = 0;
  std::string port;
  bool ok = false;
  // How the station ended the operation; nullopt when it ended without saying (the port was
  // lost, or the command runs without a reply, as the off-line monitor does).
  std::optional<OperationOutcome> outcome;
  std::string note;  // why it failed when the outcome does not say
};

struct StepReport {
  std::string step;  // as given on the command line ("auto", "read-memory=out.bin")
  bool ok = false;
  std::vector<ChannelStepResult> channels;
  std::string note;  // why the step failed as a whole (no channel started, a file not written)
};

class RunOutput {
 public:
  virtual ~RunOutput() = default;
  // A line added to the information panel, as the window shows it.
  virtual void InfoLine(const std::string& line) = 0;
  // The device search ended.
  virtual void SearchEnded(const std::vector<ChannelReport>& channels) = 0;
  // A channel's gauge moved, changed colour or was enabled or disabled.
  virtual void GaugeChanged(int channel, const GaugeState& gauge) {
    (void)channel;
    (void)gauge;
  }
  // A step begins (its gauges follow).
  virtual void StepStarted(const std::string& step) { (void)step; }
  // A step ended on every channel it ran on.
  virtual void StepEnded(const StepReport& report) = 0;
  // A programmer working on its own reported a finished part (6 and 0x1E are good parts).
  virtual void StandAloneResult(int channel, std::uint8_t code) = 0;
  // A problem of the command itself (not of a channel), e.g. a file not written.
  virtual void Problem(const std::string& text) = 0;
  // A channel bound to an adapter (--bind) has no port: its adapter was not found. `text` says
  // so for an operator.
  virtual void ChannelMissing(int channel, const std::string& adapter, const std::string& text) {
    (void)channel;
    (void)adapter;
    Problem(text);
  }
  // The line database could not be reached (`reachable` false) or can be again; `pending`
  // records wait in the station's store (none when it could not be counted). The information
  // panel says the same in `text`.
  virtual void LineDatabaseChanged(bool reachable, std::optional<std::size_t> pending,
                                   const std::string& text) {
    (void)reachable;
    (void)pending;
    (void)text;
  }
  // The job is loaded and set up; `fingerprint` is its fingerprint (64 hex digits), "" when it
  // has none (the job cannot be sent as it stands).
  virtual void JobReady(const std::string& fingerprint) { (void)fingerprint; }
  // The run is over with this exit status.
  virtual void Finished(int exitStatus) = 0;
};

// The operator's text: panel lines as they come, one line per channel after each step.
std::unique_ptr<RunOutput> MakeTextOutput(std::ostream& out, std::ostream& err);

// "OK", "NG" or "timed out", with the status code behind it; "not recorded" when the operation
// went well but the part's production record could not be written.
std::string DescribeResult(const ChannelStepResult& result);

}  // namespace korvan::cli
