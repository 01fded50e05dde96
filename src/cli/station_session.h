// The command-line station: a Station driven by the core's EventLoop (serial events the moment
// they arrive, the 10 ms tick on time), started as the window starts and run one command at a
// time, each waited for until every channel it started is idle again.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/run_output.h"
#include "core/app/event_loop.h"
#include "core/app/record_writer.h"
#include "core/app/station.h"

namespace korvan::cli {

class StationSession : public StationListener {
 public:
  // How long the device search may take: every opened port normally answers in a few
  // milliseconds; a port without a programmer never does.
  static constexpr std::chrono::milliseconds kSearchWait{1500};
  // The longest any one step may take. The station's own time-outs end every operation long
  // before this; it only guards against a channel that never ends.
  static constexpr std::chrono::minutes kStepLimit{30};
  // Device searches that may each be followed by firmware upgrades before the station goes on.
  static constexpr int kUpgradeRounds = 3;

  // `ports`: where the station's ports come from (the system's serial devices unless a caller
  // wraps or replaces them, as the wire trace does).
  StationSession(CliFrontend& frontend, RunOutput& output,
                 PortProvider ports = SystemPortProvider());
  ~StationSession() override;

  // SIGINT, SIGTERM and SIGHUP stop the run instead of ending the process, so that it still
  // records the parts it leaves half done, closes its ports and writes its log. The signals are
  // held back except while the loop waits, so one never arrives in the middle of a reply's
  // handling: once it is taken, the loop returns before anything more is sent.
  void StopOnSignals();
  // The stop signal taken so far (0: none); a signal held back meanwhile is taken now.
  static int StopSignal();
  static bool StopRequested() { return StopSignal() != 0; }

  // After a stop: every channel still working on a part gets an NG record marked interrupted
  // (a download or a firmware upgrade, which work on the programmer, get none), and every port
  // is closed without a further request. Returns the channels that were interrupted.
  std::vector<int> Interrupt(int signalNumber);

  // Production records that could not be written since the start.
  std::size_t RecordsLost() const { return records_ ? records_->failed() : 0; }

  Station& station() { return station_; }
  EventLoop& loop() { return loop_; }

  // Where the port list looks; Start replaces its extra ports when given ports.
  PortSources portSources = SystemPortSources();
  // Where the production records go: the station's log folder unless set before Start.
  std::optional<std::filesystem::path> recordFolder;
  // Writes the production record of every finished part; there from Start on.
  const RecordWriter* records() const { return records_.get(); }
  // Why no production record could be written into the record folder (it is missing, no folder,
  // or not writable); nullopt when it takes files. From Start on.
  std::optional<std::string> RecordFolderProblem() const;

  // First showing of the window: log folder, defaults, firmware image, port list and device
  // search. `ports` replaces KORVAN_PORTS (colon-separated paths) when given. Every port that
  // cannot be used is reported first as a problem, with its reason (the port list leaves such
  // ports out without a word).
  void Start(const std::optional<std::string>& ports);

  // The ports Start found unusable, with their reasons.
  const std::vector<std::pair<std::string, std::string>>& portProblems() const {
    return portProblems_;
  }
  // Why no channel has a programmer, for the problem line: "no port could be used" or "no
  // programmer answered (on P1, P2)".
  std::string NoProgrammerText() const;

  // Waits until every port the search opened was answered by a programmer, or `limit` passed;
  // then waits for firmware upgrades started by the answers and, when one ran, searches again
  // so that the upgraded programmers are found with their new version. Reports the channels.
  std::vector<ChannelReport> AwaitSearch(std::chrono::milliseconds limit = kSearchWait);
  std::vector<ChannelReport> Channels() const;
  int ConnectedCount() const;

  // Runs `command` (one of the station's command handlers) and waits until every channel is
  // idle again; the report says how the operation ended on each channel it started.
  // The outcome of a firmware upgrade counts only in the upgrade step (`upgradeStep`).
  StepReport RunStep(const std::string& name, const std::function<void()>& command,
                     bool upgradeStep = false);

  // A firmware upgrade ends with the restart request before the programmer answers it. The
  // station sets that answer aside when it comes, but a new device search closes the ports
  // and would take a late answer for an identity reply: waits until no channel expects one
  // any more, or `limit`.
  void AwaitRestartAnswers(std::chrono::milliseconds limit = std::chrono::milliseconds(4000));

  // A new device search ("连接设备"), waited for as at the start: after a firmware upgrade the
  // programmers run their new firmware and answer with its identity.
  void SearchAgain(std::chrono::milliseconds limit = kSearchWait);

  // Waits for `count` stand-alone results (or `limit`); ok when all of them were good parts.
  StepReport AwaitStandAlone(const std::string& name, int count, std::chrono::milliseconds limit);

  // Lets the ports send what is queued (commands that await no reply), at most `limit`.
  void Flush(std::chrono::milliseconds limit = std::chrono::milliseconds(500));

  // The window closes: ports closed, the run's log written.
  void Close();

  // StationListener
  void InfoLineAdded(const std::string& line) override { output_.InfoLine(line); }
  void OperationEnded(int channel, const OperationOutcome& outcome) override;
  void StandAloneResult(int channel, std::uint8_t code) override;
  void ViewChanged(ViewPart part) override;

 private:
  bool ChannelActive(int n) const;
  bool AnyActive() const;
  bool AnyUpgrading() const;
  // After a search: waits for the upgrades it started and searches again, as long as new ones
  // start (at most kUpgradeRounds rounds). False when a stop signal came meanwhile.
  bool SettleUpgrades(std::chrono::milliseconds limit);
  bool SearchAnswered();

  CliFrontend& frontend_;
  RunOutput& output_;
  Station station_;
  EventLoop loop_;
  bool closed_ = false;
  bool upgradeStep_ = false;

  // Outcomes reported while a step runs, by channel.
  std::array<std::vector<OperationOutcome>, kChannelCount> outcomes_;
  // Channels whose production record could not be written while the step ran.
  std::array<bool, kChannelCount> recordLost_{};
  std::vector<std::pair<int, std::uint8_t>> standAlone_;
  std::unique_ptr<RecordWriter> records_;
  std::vector<std::pair<std::string, std::string>> portProblems_;
  // The gauges as last reported.
  std::array<GaugeState, kChannelCount> gauges_{};
};

}  // namespace korvan::cli
