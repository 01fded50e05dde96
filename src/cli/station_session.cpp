#include "cli/station_session.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "core/protocol/constants.h"
#include "core/serial/port_list.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

// As the station counts them: only "part programmed" is OK; 0x1E (read protection not set) and
// every other code are NG.
bool GoodPart(std::uint8_t code) {
  return code == protocol::kResultPartOk;
}

volatile std::sig_atomic_t stopSignal = 0;
void OnStopSignal(int signalNumber) {
  if (stopSignal == 0) stopSignal = signalNumber;
}

sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void StationSession::StopOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a wait ends at once
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigaction(signalNumber, &action, nullptr);
  const sigset_t stops = StopSignals();
  sigset_t before;
  sigprocmask(SIG_BLOCK, &stops, &before);
  sigset_t waiting = before;
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waiting, signalNumber);
  loop_.SetWaitSignalMask(waiting);
}

int StationSession::StopSignal() {
  if (stopSignal == 0) {
    // Take a signal that arrived while they were held back.
    sigset_t pending;
    if (sigpending(&pending) == 0 &&
        (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
         sigismember(&pending, SIGHUP) == 1)) {
      const sigset_t stops = StopSignals();
      sigset_t before;
      sigprocmask(SIG_UNBLOCK, &stops, &before);
      sigprocmask(SIG_SETMASK, &before, nullptr);
    }
  }
  return stopSignal;
}

std::vector<int> StationSession::Interrupt(int signalNumber) {
  std::vector<int> interrupted;
  for (int n = 1; n <= kChannelCount; ++n) {
    if (!ChannelActive(n)) continue;
    interrupted.push_back(n);
    // A download or a firmware upgrade works on the programmer, not on a part.
    const ChannelState& ch = station_.channel(n);
    const bool onPart = ch.busy != 0 && ch.upgrading == 0 &&
                        ch.pendingCommand != kPendingDownload &&
                        ch.pendingCommand != kPendingFirmwareUpgrade;
    if (records_ && onPart) records_->Interrupted(n, signalNumber);
  }
  for (int n = 1; n <= kChannelCount; ++n) station_.port(n).ClosePort();
  return interrupted;
}

StationSession::StationSession(CliFrontend& frontend, RunOutput& output, PortProvider ports)
    : frontend_(frontend), output_(output), station_(frontend, SystemLocalTime, std::move(ports)) {
  station_.SetListener(this);
  loop_.AddQueue(station_.serialEvents());
  loop_.SetTick([this] { station_.Timer1Timer(); });
}

StationSession::~StationSession() {
  station_.SetListener(nullptr);
}

void StationSession::Start(const std::optional<std::string>& ports) {
  if (ports) portSources.extraPorts = *ports;
  std::vector<std::string> candidates = CandidatePorts(portSources);
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  for (const std::string& name : candidates) {
    if (auto problem = PortProblem(name)) {
      output_.Problem("port " + name + ": " + *problem);
      portProblems_.emplace_back(name, *problem);
    }
  }
  station_.SetPortSources(portSources);
  station_.FormShow();
  for (int n = 1; n <= kChannelCount; ++n) {
    gauges_[static_cast<std::size_t>(n - 1)] = station_.channel(n).gauge;
  }
  if (recordFolder) {
    std::error_code ec;  // a folder that cannot be made shows in the first record's error
    std::filesystem::create_directories(*recordFolder, ec);
  }
  records_ = std::make_unique<RecordWriter>(
      station_, recordFolder.value_or(station_.logLocation().shutdownDir));
}

std::optional<std::string> StationSession::RecordFolderProblem() const {
  if (!records_) return std::nullopt;
  const std::filesystem::path& folder = records_->log().folder();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    return "the production-record folder " + folder.string() + " is missing or no folder";
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "the production-record folder " + folder.string() +
           " is not writable: " + std::strerror(errno);
  }
  return std::nullopt;
}

bool StationSession::ChannelActive(int n) const {
  const ChannelState& ch = station_.channel(n);
  return ch.busy != 0 || ch.upgrading != 0;
}

bool StationSession::AnyActive() const {
  for (int n = 1; n <= kChannelCount; ++n) {
    if (ChannelActive(n)) return true;
  }
  return false;
}

bool StationSession::SearchAnswered() {
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelState& ch = station_.channel(n);
    if (ch.portName.empty() || !station_.port(n).IsOpen()) continue;
    if (ch.connected == 0 && ch.upgrading == 0) return false;
  }
  return true;
}

std::vector<ChannelReport> StationSession::AwaitSearch(std::chrono::milliseconds limit) {
  loop_.RunFor(limit, [this] { return SearchAnswered() || StopRequested(); });
  if (!SettleUpgrades(limit)) return Channels();
  output_.SearchEnded(Channels());
  return Channels();
}

bool StationSession::AnyUpgrading() const {
  for (int n = 1; n <= kChannelCount; ++n) {
    if (station_.channel(n).upgrading) return true;
  }
  return false;
}

bool StationSession::SettleUpgrades(std::chrono::milliseconds limit) {
  // An upgraded programmer restarts with its new firmware; only a new search finds it, and that
  // search may start another upgrade (the first one failed, or the new firmware still reports
  // an older version). A few rounds at most: a programmer that keeps asking is left as its last
  // upgrade left it.
  for (int round = 0; round < kUpgradeRounds && AnyUpgrading(); ++round) {
    loop_.RunFor(kStepLimit, [this] { return !AnyActive() || StopRequested(); });
    if (StopRequested()) return false;
    AwaitRestartAnswers();
    if (round + 1 == kUpgradeRounds) break;
    station_.BitBtnFindDevClick();
    loop_.RunFor(limit, [this] { return SearchAnswered() || StopRequested(); });
  }
  return !StopRequested();
}

std::vector<ChannelReport> StationSession::Channels() const {
  std::vector<ChannelReport> channels;
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelState& ch = station_.channel(n);
    if (ch.portName.empty()) continue;
    channels.push_back({n, ch.portName, ch.connected ? ch.identity : "", ch.connected != 0});
  }
  return channels;
}

std::string StationSession::NoProgrammerText() const {
  std::string searched;
  for (int n = 1; n <= kChannelCount; ++n) {
    const std::string& port = station_.channel(n).portName;
    if (!port.empty()) searched += (searched.empty() ? "" : ", ") + port;
  }
  if (!searched.empty()) return "no programmer answered (on " + searched + ")";
  if (!portProblems_.empty()) return "no programmer answered: no port could be used";
  return "no programmer answered: no serial port found (no USB serial adapter, and neither "
         "--ports nor KORVAN_PORTS names one)";
}

int StationSession::ConnectedCount() const {
  int count = 0;
  for (int n = 1; n <= kChannelCount; ++n) count += station_.channel(n).connected != 0;
  return count;
}

void StationSession::OperationEnded(int channel, const OperationOutcome& outcome) {
  if (channel < 1 || channel > kChannelCount) return;
  const auto i = static_cast<std::size_t>(channel - 1);
  const std::size_t lostBefore = RecordsLost();
  if (records_) records_->OperationEnded(channel, outcome);
  if (RecordsLost() > lostBefore) recordLost_[i] = true;
  // An upgrade started by a device search is no step's result.
  if (outcome.command == kPendingFirmwareUpgrade && !upgradeStep_) return;
  outcomes_[i].push_back(outcome);
}

void StationSession::StandAloneResult(int channel, std::uint8_t code) {
  standAlone_.emplace_back(channel, code);
  if (records_) records_->StandAloneResult(channel, code);
  output_.StandAloneResult(channel, code);
}

void StationSession::ViewChanged(ViewPart part) {
  if (part != ViewPart::Gauges) return;
  for (int n = 1; n <= kChannelCount; ++n) {
    const GaugeState& now = station_.channel(n).gauge;
    GaugeState& last = gauges_[static_cast<std::size_t>(n - 1)];
    if (now.progress == last.progress && now.maximum == last.maximum && now.colour == last.colour &&
        now.enabled == last.enabled) {
      continue;
    }
    last = now;
    output_.GaugeChanged(n, now);
  }
}

StepReport StationSession::RunStep(const std::string& name, const std::function<void()>& command,
                                   bool upgradeStep) {
  for (auto& list : outcomes_) list.clear();
  recordLost_.fill(false);
  standAlone_.clear();
  upgradeStep_ = upgradeStep;
  command();

  std::array<bool, kChannelCount> started{};
  for (int n = 1; n <= kChannelCount; ++n) {
    started[static_cast<std::size_t>(n - 1)] =
        ChannelActive(n) || !outcomes_[static_cast<std::size_t>(n - 1)].empty();
  }
  loop_.RunFor(kStepLimit, [this] { return !AnyActive() || StopRequested(); });
  upgradeStep_ = false;

  StepReport report{name, true, {}, ""};
  for (int n = 1; n <= kChannelCount; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    // An operation may also end inside the command itself (a request that could not be sent).
    if (!started[i] && outcomes_[i].empty()) continue;
    ChannelStepResult r;
    r.channel = n;
    r.port = station_.channel(n).portName;
    r.ok = !outcomes_[i].empty();
    for (const OperationOutcome& o : outcomes_[i]) {
      if (o.result != OperationResult::Ok) r.ok = false;
    }
    if (!outcomes_[i].empty()) {
      // The first failure says why; otherwise the last end of the operation.
      r.outcome = outcomes_[i].back();
      for (const OperationOutcome& o : outcomes_[i]) {
        if (o.result != OperationResult::Ok) {
          r.outcome = o;
          break;
        }
      }
    } else if (ChannelActive(n)) {
      r.note = StopRequested() ? "still running when stopped" : "still running; given up";
    } else {
      r.note = "ended without a result (the port was lost?)";
    }
    if (recordLost_[i]) {
      // A part without its record is no good part for the line.
      r.ok = false;
      r.note = "its production record could not be written";
    }
    report.ok = report.ok && r.ok;
    report.channels.push_back(std::move(r));
  }
  if (report.channels.empty()) {
    report.ok = false;
    report.note = "no channel started";
  }
  return report;
}

void StationSession::AwaitRestartAnswers(std::chrono::milliseconds limit) {
  loop_.RunFor(limit, [this] {
    for (int n = 1; n <= kChannelCount; ++n) {
      if (station_.channel(n).restartAnswerDue > 0) return false;
    }
    return true;
  });
}

void StationSession::SearchAgain(std::chrono::milliseconds limit) {
  station_.BitBtnFindDevClick();
  loop_.RunFor(limit, [this] { return SearchAnswered() || StopRequested(); });
  if (!SettleUpgrades(limit)) return;
  output_.SearchEnded(Channels());
}

StepReport StationSession::AwaitStandAlone(const std::string& name, int count,
                                           std::chrono::milliseconds limit) {
  const auto want = static_cast<std::size_t>(count);
  const bool all = loop_.RunFor(limit, [&] {
    return standAlone_.size() >= want || StopRequested();
  }) && standAlone_.size() >= want;
  StepReport report{name, true, {}, ""};
  std::array<int, kChannelCount> good{};
  std::array<int, kChannelCount> bad{};
  const std::size_t taken = std::min(want, standAlone_.size());
  for (std::size_t k = 0; k < taken; ++k) {
    const auto [channel, code] = standAlone_[k];
    if (channel < 1 || channel > kChannelCount) continue;
    (GoodPart(code) ? good : bad)[static_cast<std::size_t>(channel - 1)]++;
  }
  standAlone_.erase(standAlone_.begin(), standAlone_.begin() + static_cast<std::ptrdiff_t>(taken));
  for (int n = 1; n <= kChannelCount; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    if (good[i] + bad[i] == 0) continue;
    ChannelStepResult r;
    r.channel = n;
    r.port = station_.channel(n).portName;
    r.ok = bad[i] == 0;
    r.note = Format("%d OK, %d NG", good[i], bad[i]);
    report.ok = report.ok && r.ok;
    report.channels.push_back(std::move(r));
  }
  if (!all) {
    report.ok = false;
    report.note = Format("%d of %d stand-alone results came", static_cast<int>(taken), count);
  }
  return report;
}

void StationSession::Flush(std::chrono::milliseconds limit) {
  loop_.RunFor(limit, [this] {
    for (int n = 1; n <= kChannelCount; ++n) {
      if (station_.port(n).IsOpen() && !station_.port(n).SendQueueEmpty()) return false;
    }
    return true;
  });
}

void StationSession::Close() {
  if (closed_) return;
  closed_ = true;
  station_.FormClose();
}

}  // namespace korvan::cli
