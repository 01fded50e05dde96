#include "cli/station_session.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "core/app/log_file.h"
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
  for (int c = 1; c <= ChannelCount(); ++c) {
    if (!ChannelActive(c)) continue;
    interrupted.push_back(c);
    // A download or a firmware upgrade works on the programmer, not on a part.
    const ChannelSnapshot& ch = ChannelOf(c);
    const bool onPart = ch.busy != 0 && ch.upgrading == 0 &&
                        ch.pendingCommand != kPendingDownload &&
                        ch.pendingCommand != kPendingFirmwareUpgrade;
    const ChannelPlace at = PlaceOf(c);
    const Unit& unit = *units_[static_cast<std::size_t>(at.station - 1)];
    if (unit.host->records() && onPart) {
      unit.host->records()->Interrupted(at.channel, signalNumber);
    }
  }
  for (int c = 1; c <= ChannelCount(); ++c) PortOf(c).ClosePort();
  return interrupted;
}

StationSession::StationSession(CliFrontend& frontend, RunOutput& output, PortWrap wrapPorts,
                               PortProvider ports)
    : frontend_(frontend),
      output_(output),
      systemPorts_(std::move(ports)),
      wrapPorts_(std::move(wrapPorts)) {
  auto unit = std::make_unique<Unit>();
  unit->station = std::make_unique<Station>(frontend, SystemLocalTime, SessionPorts(1), &engine_);
  unit->host = std::make_unique<StationHost>(*unit->station);
  unit->host->NumberOnlyWhenChecked();
  unit->station->SetListener(this);
  units_.push_back(std::move(unit));
  // One queue, one tick and one set of waits for every channel of every station.
  loop_.AddQueue(engine_.events());
  loop_.SetTick([this] { engine_.Tick(); });
  loop_.SetTickWanted([this] { return engine_.TickWanted(); });
  AddStations(1);
}

StationSession::~StationSession() {
  for (auto& u : units_) u->station->SetListener(nullptr);
}

// The stations added their channels to the engine in order, so channel c of the session is the
// engine's channel c.
const ChannelSnapshot& StationSession::ChannelOf(int c) const {
  return engine_.Link(c).snapshot();
}

Port& StationSession::PortOf(int c) {
  return engine_.Link(c).port();
}

Station::PortArrangement StationSession::SliceFor(int s) {
  return [this, s](const std::vector<std::string>& listed) {
    const std::vector<std::string> all = arrange_ ? arrange_(listed) : listed;
    const auto from = static_cast<std::size_t>(SessionChannel(s, 1) - 1);
    std::vector<std::string> mine;
    for (std::size_t i = from; i < all.size() && i < from + kChannelCount; ++i) {
      mine.push_back(all[i]);
    }
    return mine;
  };
}

PortProvider StationSession::SessionPorts(int s) {
  // Every station lists the ports through the session, so that a search lists them once for
  // all stations (a port another station holds open would not pass the trial open).
  PortProvider ports = systemPorts_;
  ports.list = [this](const PortSources& sources) {
    return listed_ ? *listed_ : systemPorts_.list(sources);
  };
  if (wrapPorts_) ports = wrapPorts_(std::move(ports), SessionChannel(s, 1));
  return ports;
}

void StationSession::AddStations(int count) {
  for (int s = StationCount() + 1; s <= count; ++s) {
    auto unit = std::make_unique<Unit>();
    unit->out = std::make_unique<std::ostream>(frontend_.out().rdbuf());
    unit->err = std::make_unique<std::ostream>(frontend_.err().rdbuf());
    unit->frontend = std::make_unique<CliFrontend>(*unit->out, *unit->err);
    unit->station =
        std::make_unique<Station>(*unit->frontend, SystemLocalTime, SessionPorts(s), &engine_);
    unit->host = std::make_unique<StationHost>(*unit->station);
    unit->host->NumberOnlyWhenChecked();
    // The gang runs one job: a further station shares the first one's image from the start,
    // so that it never holds a picture of its own.
    unit->station->AdoptJob(station());
    unit->tap = std::make_unique<Tap>(*this, s);
    unit->station->SetListener(unit->tap.get());
    units_.push_back(std::move(unit));
  }
  for (int s = 1; s <= StationCount(); ++s) station(s).SetPortArrangement(SliceFor(s));
  const auto channels = static_cast<std::size_t>(ChannelCount());
  outcomes_.assign(channels, {});
  recordLost_.assign(channels, false);
  gauges_.assign(channels, GaugeState{});
}

void StationSession::SyncFrontends() {
  for (std::size_t i = 1; i < units_.size(); ++i) {
    CliFrontend& f = *units_[i]->frontend;
    f.abortOnError = frontend_.abortOnError;
    f.abortOnMismatch = frontend_.abortOnMismatch;
    f.readAddress = frontend_.readAddress;
    f.loadOffset = frontend_.loadOffset;
    f.openPaths = frontend_.openPaths;
    f.saveChoice = frontend_.saveChoice;
    f.chipPart = frontend_.chipPart;
    f.chipSeries = frontend_.chipSeries;
  }
}

void StationSession::ForEachFurtherStation(
    const std::function<void(Station&, CliFrontend&, int)>& apply) {
  SyncFrontends();
  MuteFurther(true);
  for (int s = 2; s <= StationCount(); ++s) {
    Unit& unit = *units_[static_cast<std::size_t>(s - 1)];
    apply(*unit.station, *unit.frontend, s);
  }
  MuteFurther(false);
}

void StationSession::MuteFurther(bool mute) {
  muteFurther_ = mute;
  for (std::size_t i = 1; i < units_.size(); ++i) {
    Unit& unit = *units_[i];
    unit.out->rdbuf(mute ? nullptr : frontend_.out().rdbuf());
    unit.err->rdbuf(mute ? nullptr : frontend_.err().rdbuf());
    unit.out->clear();
    unit.err->clear();
  }
}

CliFrontend& StationSession::FrontendOf(int s) {
  return s == 1 ? frontend_ : *units_.at(static_cast<std::size_t>(s - 1))->frontend;
}

void StationSession::SearchAll() {
  upgradeEnded_ = false;
  for (int c = 1; c <= ChannelCount(); ++c) PortOf(c).ClosePort();
  listed_ = systemPorts_.list(portSources);
  for (auto& u : units_) u->station->BitBtnFindDevClick();
  listed_.reset();
}

void StationSession::InfoLineOf(int s, const std::string& line) {
  if (StationCount() == 1) {
    output_.InfoLine(line);
    return;
  }
  if (s > 1 && muteFurther_) return;
  // Each station's panel numbers its own channels 1..4: the line says whose it is.
  output_.InfoLine(Format("station %d:", s) + (line.empty() ? "" : " " + line));
}

void StationSession::Start(const std::optional<std::string>& ports) {
  if (ports) portSources.extraPorts = *ports;
  std::vector<std::string> candidates = CandidatePorts(portSources);
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  for (const std::string& name : candidates) {
    if (auto problem = systemPorts_.problem ? systemPorts_.problem(name) : std::nullopt) {
      output_.Problem("port " + name + ": " + *problem);
      portProblems_.emplace_back(name, *problem);
    }
  }
  // One station of four for every four ports (at least one), all found in one listing.
  listed_ = systemPorts_.list(portSources);
  const std::size_t channels = (arrange_ ? arrange_(*listed_) : *listed_).size();
  AddStations(std::max(1, static_cast<int>((channels + kChannelCount - 1) / kChannelCount)));
  // The stations after the first show what the first one showed already: not again.
  MuteFurther(true);
  for (int s = 1; s <= StationCount(); ++s) {
    station(s).SetPortSources(portSources);
    station(s).FormShow(environment);
  }
  MuteFurther(false);
  listed_.reset();
  for (int c = 1; c <= ChannelCount(); ++c) {
    gauges_[static_cast<std::size_t>(c - 1)] = ChannelOf(c).gauge;
  }
  if (recordFolder) {
    std::error_code ec;  // a folder that cannot be made shows in the first record's error
    std::filesystem::create_directories(*recordFolder, ec);
  }
  for (int s = 1; s <= StationCount(); ++s) {
    Unit& unit = *units_[static_cast<std::size_t>(s - 1)];
    unit.host->StartRecords(recordFolder.value_or(station().logLocation().shutdownDir), s);
  }
}

std::size_t StationSession::RecordsLost() const {
  std::size_t lost = 0;
  for (const auto& u : units_) lost += u->host->records() ? u->host->records()->failed() : 0;
  return lost;
}

std::optional<std::string> StationSession::LastRecordError() const {
  for (const auto& u : units_) {
    const RecordWriter* records = u->host->records();
    if (records && records->lastError()) return records->lastError();
  }
  return std::nullopt;
}

std::optional<std::string> StationSession::RecordFolderProblem() const {
  if (!records()) return std::nullopt;
  const std::filesystem::path& folder = records()->log().folder();
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

std::optional<std::string> StationSession::RecordStoreProblem() {
  for (auto& u : units_) {
    RecordWriter* records = u->host->records();
    if (!records) continue;
    RecordKeeper& keeper = records->keeper();
    if (auto error = keeper.Open()) return error;
    const std::filesystem::path file = records->log().folder() / kRecordStoreFile;
    if (::access(file.c_str(), W_OK) != 0) {
      return "the record store " + file.string() + " is not writable: " + std::strerror(errno);
    }
  }
  return std::nullopt;
}

bool StationSession::ChannelActive(int c) const {
  const ChannelSnapshot& ch = ChannelOf(c);
  return ch.busy != 0 || ch.upgrading != 0;
}

bool StationSession::AnyActive() const {
  return engine_.AnyAtWork();
}

bool StationSession::SearchAnswered() {
  for (int c = 1; c <= ChannelCount(); ++c) {
    const ChannelSnapshot& ch = ChannelOf(c);
    if (ch.portName.empty() || !PortOf(c).IsOpen()) continue;
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
  return engine_.AnyUpgrading();
}

bool StationSession::SettleUpgrades(std::chrono::milliseconds limit) {
  // An upgraded programmer restarts with its new firmware; only a new search finds it, and that
  // search may start another upgrade (the first one failed, or the new firmware still reports
  // an older version). A few rounds at most: a programmer that keeps asking is left as its last
  // upgrade left it.
  for (int round = 0; round < kUpgradeRounds && (AnyUpgrading() || upgradeEnded_); ++round) {
    loop_.RunFor(kStepLimit, [this] { return !AnyActive() || StopRequested(); });
    upgradeEnded_ = false;
    if (StopRequested()) return false;
    AwaitRestartAnswers();
    if (round + 1 == kUpgradeRounds) break;
    SearchAll();
    loop_.RunFor(limit, [this] { return SearchAnswered() || StopRequested(); });
  }
  return !StopRequested();
}

std::vector<ChannelReport> StationSession::Channels() const {
  std::vector<ChannelReport> channels;
  for (int c = 1; c <= ChannelCount(); ++c) {
    const ChannelSnapshot& ch = ChannelOf(c);
    if (ch.portName.empty()) continue;
    channels.push_back({c, ch.portName, ch.connected ? ch.identity : "", ch.connected != 0});
  }
  return channels;
}

std::vector<std::string> StationSession::ListedPorts() const {
  std::vector<std::string> ports;
  for (const auto& u : units_) {
    const auto& items = u->station->window().ComboBoxCOMItems;
    for (const std::string& port : items) {
      if (!port.empty()) ports.push_back(port);
    }
  }
  return ports;
}

std::string StationSession::NoProgrammerText() const {
  std::string searched;
  for (int c = 1; c <= ChannelCount(); ++c) {
    const std::string& port = ChannelOf(c).portName;
    if (!port.empty()) searched += (searched.empty() ? "" : ", ") + port;
  }
  if (!searched.empty()) return "no programmer answered (on " + searched + ")";
  if (!portProblems_.empty()) return "no programmer answered: no port could be used";
  return "no programmer answered: no serial port found (no USB serial adapter, and neither "
         "--ports nor KORVAN_PORTS names one)";
}

int StationSession::HighestPortChannel() const {
  int highest = 0;
  for (int c = 1; c <= ChannelCount(); ++c) {
    if (!ChannelOf(c).portName.empty()) highest = c;
  }
  return highest;
}

int StationSession::ConnectedCount() const {
  int count = 0;
  for (int c = 1; c <= ChannelCount(); ++c) count += ChannelOf(c).connected != 0;
  return count;
}

void StationSession::OperationEndedOn(int s, int channel, const OperationOutcome& outcome) {
  if (channel < 1 || channel > kChannelCount) return;
  const int c = SessionChannel(s, channel);
  const auto i = static_cast<std::size_t>(c - 1);
  if (i >= outcomes_.size()) return;
  RecordWriter* records = units_[static_cast<std::size_t>(s - 1)]->host->records();
  const std::size_t lostBefore = RecordsLost();
  if (records) records->OperationEnded(channel, outcome);
  if (RecordsLost() > lostBefore) recordLost_[i] = true;
  // An upgrade started by a device search is no step's result.
  if (outcome.command == kPendingFirmwareUpgrade) upgradeEnded_ = true;
  if (outcome.command == kPendingFirmwareUpgrade && !upgradeStep_) return;
  outcomes_[i].push_back(outcome);
  // The station's text numbers its own channels 1..4: with several it says whose it is.
  std::string& message = outcomes_[i].back().message;
  if (StationCount() > 1 && !message.empty()) message = Format("station %d: ", s) + message;
}

void StationSession::StandAloneResultOn(int s, int channel, std::uint8_t code) {
  const int c = SessionChannel(s, channel);
  standAlone_.emplace_back(c, code);
  RecordWriter* records = units_[static_cast<std::size_t>(s - 1)]->host->records();
  if (records) records->StandAloneResult(channel, code);
  output_.StandAloneResult(c, code);
}

void StationSession::ViewChangedOn(int s, ViewPart part) {
  if (part != ViewPart::Gauges) return;
  for (int n = 1; n <= kChannelCount; ++n) {
    const int c = SessionChannel(s, n);
    if (static_cast<std::size_t>(c) > gauges_.size()) return;
    const GaugeState& now = ChannelOf(c).gauge;
    GaugeState& last = gauges_[static_cast<std::size_t>(c - 1)];
    if (now.progress == last.progress && now.maximum == last.maximum && now.colour == last.colour &&
        now.enabled == last.enabled) {
      continue;
    }
    last = now;
    output_.GaugeChanged(c, now);
  }
}

StepReport StationSession::RunStep(const std::string& name, const std::function<void()>& command,
                                   bool upgradeStep) {
  for (auto& list : outcomes_) list.clear();
  recordLost_.assign(recordLost_.size(), false);
  standAlone_.clear();
  upgradeStep_ = upgradeStep;
  SyncFrontends();
  command();

  std::vector<bool> started(static_cast<std::size_t>(ChannelCount()));
  for (int c = 1; c <= ChannelCount(); ++c) {
    started[static_cast<std::size_t>(c - 1)] =
        ChannelActive(c) || !outcomes_[static_cast<std::size_t>(c - 1)].empty();
  }
  loop_.RunFor(kStepLimit, [this] { return !AnyActive() || StopRequested(); });
  upgradeStep_ = false;

  StepReport report{name, true, {}, ""};
  for (int n = 1; n <= ChannelCount(); ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    // An operation may also end inside the command itself (a request that could not be sent).
    if (!started[i] && outcomes_[i].empty()) continue;
    ChannelStepResult r;
    r.channel = n;
    r.port = ChannelOf(n).portName;
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
  loop_.RunFor(limit, [this] { return !engine_.AnyRestartAnswerDue(); });
}

void StationSession::SearchAgain(std::chrono::milliseconds limit) {
  SearchAll();
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
  std::vector<int> good(static_cast<std::size_t>(ChannelCount()));
  std::vector<int> bad(static_cast<std::size_t>(ChannelCount()));
  const std::size_t taken = std::min(want, standAlone_.size());
  for (std::size_t k = 0; k < taken; ++k) {
    const auto [channel, code] = standAlone_[k];
    if (channel < 1 || channel > ChannelCount()) continue;
    (GoodPart(code) ? good : bad)[static_cast<std::size_t>(channel - 1)]++;
  }
  standAlone_.erase(standAlone_.begin(), standAlone_.begin() + static_cast<std::ptrdiff_t>(taken));
  for (int n = 1; n <= ChannelCount(); ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    if (good[i] + bad[i] == 0) continue;
    ChannelStepResult r;
    r.channel = n;
    r.port = ChannelOf(n).portName;
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
    for (int c = 1; c <= ChannelCount(); ++c) {
      if (PortOf(c).IsOpen() && !PortOf(c).SendQueueEmpty()) return false;
    }
    return true;
  });
}

void StationSession::Close() {
  if (closed_) return;
  closed_ = true;
  if (StationCount() == 1) {
    station().FormClose();
    return;
  }
  // With more than one station each panel goes to a log of its own, station 1's included: the
  // same second's name with the station's number.
  const std::string name = ShutdownLogName(SystemLocalTime());
  const std::string stem = name.substr(0, name.rfind('.'));
  for (int s = 1; s <= StationCount(); ++s) {
    const InfoMemo& info = station(s).info();
    if (info.LineCount() <= kShutdownLogMinLines) continue;
    const std::filesystem::path dir = station(s).logLocation().shutdownDir;
    if (WriteLogFile(dir / Format("%s_station%d.log", stem.c_str(), s), info.Lines())) {
      output_.Problem(Format("station %d: the log could not be written", s));
    }
  }
}

}  // namespace korvan::cli
