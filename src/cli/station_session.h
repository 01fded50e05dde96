// The command-line station: one link engine of every channel, driven by one EventLoop (serial
// events the moment they arrive, the engine's 10 ms tick on time while a channel has a time-out
// to count), started as the window starts and run one command at a time, each waited for until
// every channel it started is idle again. The channels serve Stations of four, which number the
// records, panel prefixes, logs and serial-number defaults: ports 1-4 station 1, 5-8 station 2,
// and so on; channel n of station s is channel (s - 1) * 4 + n of the session and of the engine.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/run_output.h"
#include "core/app/event_loop.h"
#include "core/app/station.h"
#include "core/host/station_host.h"

namespace korvan::cli {

// Channel c of a session (1, 2, ... across its stations) is channel `channel` (1..4) of station
// `station` (1, 2, ...): stations of four, in order.
struct ChannelPlace {
  int station;
  int channel;
};
inline ChannelPlace PlaceOf(int c) {
  return {(c - 1) / kChannelCount + 1, (c - 1) % kChannelCount + 1};
}
inline int SessionChannel(int station, int channel) {
  return (station - 1) * kChannelCount + channel;
}

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

  // Wraps the ports a station makes (the wire trace does), given the number of the station's
  // first channel across the session (1, 5, 9, ...).
  using PortWrap = std::function<PortProvider(PortProvider ports, int firstChannel)>;

  // `ports` makes the stations' ports and lists those a search may bind: the system's serial
  // devices unless given (tests: emulated programmers on a virtual clock, with the loop's time
  // set to theirs).
  StationSession(CliFrontend& frontend, RunOutput& output, PortWrap wrapPorts = {},
                 PortProvider ports = SystemPortProvider());
  ~StationSession() override;
  StationSession(const StationSession&) = delete;
  StationSession& operator=(const StationSession&) = delete;

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

  // Production records that could not be written since the start, over all stations.
  std::size_t RecordsLost() const;
  // The error of the last record that could not be written, if any.
  std::optional<std::string> LastRecordError() const;

  // Station 1 (the only one with up to four ports).
  Station& station() { return *units_.front()->station; }
  // The stations, 1..StationCount(); there are more than one from Start on when more than four
  // ports were found.
  int StationCount() const { return static_cast<int>(units_.size()); }
  Station& station(int s) { return *units_.at(static_cast<std::size_t>(s - 1))->station; }
  // Channels over all stations (four each).
  int ChannelCount() const { return StationCount() * kChannelCount; }
  // Channel c of the session (1..ChannelCount()), read only.
  const ChannelSnapshot& ChannelOf(int c) const;
  EventLoop& loop() { return loop_; }

  // An ordering and selection of the ports listed, as Station::SetPortArrangement takes it, for
  // the channels of all stations: entry i goes to channel i + 1. Set before Start.
  void SetPortArrangement(Station::PortArrangement arrange) { arrange_ = std::move(arrange); }

  // Runs `apply` on every station after the first, with the frontend that station asks
  // through; their panel lines and the questions' texts are not shown meanwhile (the first
  // station showed them already). Each takes the job the first one loaded this way.
  void ForEachFurtherStation(const std::function<void(Station&, CliFrontend&, int)>& apply);
  // The frontend station `s` asks through.
  CliFrontend& FrontendOf(int s);

  // Where the stations find their executable folder (the firmware image, the logs) at Start.
  StationEnvironment environment = StationEnvironment::Current();
  // Where the port list looks; Start replaces its extra ports when given ports.
  PortSources portSources = SystemPortSources();
  // The run's serial numbers were planned and checked as a whole (against the record store and
  // the line): from now on the stations' commands that number parts may run. Until then each
  // station's check refuses them.
  void SetNumbersChecked(bool checked) {
    for (auto& u : units_) u->host->SetNumbersChecked(checked);
  }
  // Where the production records go: the station's log folder unless set before Start.
  std::optional<std::filesystem::path> recordFolder;
  // Writes the production record of every finished part of station 1; there from Start on.
  const RecordWriter* records() const { return units_.front()->host->records(); }
  // The record writer of station `s` (1..StationCount()); there from Start on.
  RecordWriter* recordWriter(int s) {
    return units_.at(static_cast<std::size_t>(s - 1))->host->records();
  }
  // Why no production record could be written into the record folder (it is missing, no folder,
  // or not writable); nullopt when it takes files. From Start on.
  std::optional<std::string> RecordFolderProblem() const;
  // Why the record store in that folder cannot take records (it cannot be opened, is damaged,
  // or its file is not writable); nullopt when every station's store is ready. From Start on.
  std::optional<std::string> RecordStoreProblem();

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
  // The port lists of the stations, in channel order: the ports the last search bound.
  std::vector<std::string> ListedPorts() const;
  int ConnectedCount() const;
  // The highest channel the search bound a port to (0: none).
  int HighestPortChannel() const;

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

  // StationListener of station 1 (the others have a Tap each)
  void InfoLineAdded(const std::string& line) override { InfoLineOf(1, line); }
  void OperationEnded(int channel, const OperationOutcome& outcome) override {
    OperationEndedOn(1, channel, outcome);
  }
  void StandAloneResult(int channel, std::uint8_t code) override {
    StandAloneResultOn(1, channel, code);
  }
  void ViewChanged(ViewPart part) override { ViewChangedOn(1, part); }

 private:
  // What one station of four hears, passed on with the station's number.
  class Tap : public StationListener {
   public:
    Tap(StationSession& session, int s) : session_(session), s_(s) {}
    void InfoLineAdded(const std::string& line) override { session_.InfoLineOf(s_, line); }
    void OperationEnded(int channel, const OperationOutcome& outcome) override {
      session_.OperationEndedOn(s_, channel, outcome);
    }
    void StandAloneResult(int channel, std::uint8_t code) override {
      session_.StandAloneResultOn(s_, channel, code);
    }
    void ViewChanged(ViewPart part) override { session_.ViewChangedOn(s_, part); }

   private:
    StationSession& session_;
    int s_;
  };
  struct Unit {
    // Stations after the first ask through a frontend of their own, muted while the job is
    // loaded into them again.
    std::unique_ptr<std::ostream> out, err;
    std::unique_ptr<CliFrontend> frontend;
    std::unique_ptr<Station> station;
    std::unique_ptr<Tap> tap;
    // The station's services: its records and the serial-number check of its numbering
    // commands (the run's numbers are planned and checked as a whole first).
    std::unique_ptr<StationHost> host;
  };

  void InfoLineOf(int s, const std::string& line);
  void OperationEndedOn(int s, int channel, const OperationOutcome& outcome);
  void StandAloneResultOn(int s, int channel, std::uint8_t code);
  void ViewChangedOn(int s, ViewPart part);
  // Channel `c` of the session (1..ChannelCount()).
  Port& PortOf(int c);
  // The system's ports, listed through listed_ while a search is under way.
  PortProvider SessionPorts(int s);
  // Makes stations 2..count, each with its own slice of the port list.
  void AddStations(int count);
  Station::PortArrangement SliceFor(int s);
  // A device search on every station: all ports closed, listed once, each station binding its
  // four.
  void SearchAll();
  // The stations' frontends take the run's answers (read address, file choices) as the first
  // station's has them now.
  void SyncFrontends();
  // Stations after the first neither show panel lines nor write their boxes while set.
  void MuteFurther(bool mute);

  bool ChannelActive(int n) const;
  bool AnyActive() const;
  bool AnyUpgrading() const;
  // After a search: waits for the upgrades it started and searches again, as long as new ones
  // start (at most kUpgradeRounds rounds). False when a stop signal came meanwhile.
  bool SettleUpgrades(std::chrono::milliseconds limit);
  bool SearchAnswered();

  CliFrontend& frontend_;
  RunOutput& output_;
  // The links of every station's channels; declared before the stations, which it outlives.
  LinkEngine engine_;
  std::vector<std::unique_ptr<Unit>> units_;
  EventLoop loop_;
  bool closed_ = false;
  bool upgradeStep_ = false;
  // A firmware upgrade ended since the last search: its programmer restarted with new firmware
  // and is found only by searching again, however quickly the upgrade went.
  bool upgradeEnded_ = false;
  // Panel lines of stations after the first are not shown while set.
  bool muteFurther_ = false;
  Station::PortArrangement arrange_;
  // The port list of the search under way: listed once, while every port is closed, and
  // sliced among the stations.
  std::optional<std::vector<std::string>> listed_;
  PortProvider systemPorts_;
  PortWrap wrapPorts_;

  // Outcomes reported while a step runs, by channel of the session.
  std::vector<std::vector<OperationOutcome>> outcomes_;
  // Channels whose production record could not be written while the step ran.
  std::vector<bool> recordLost_;
  std::vector<std::pair<int, std::uint8_t>> standAlone_;
  std::vector<std::pair<std::string, std::string>> portProblems_;
  // The gauges as last reported.
  std::vector<GaugeState> gauges_;
};

}  // namespace korvan::cli
