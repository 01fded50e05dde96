// The station's side of the programmers' link: the four ports, the device search, each
// channel's receive path, the 10 ms tick, the request senders and the firmware upgrade.
#include <algorithm>
#include <random>

#include "core/app/station.h"
#include "core/image/firmware_cipher.h"
#include "core/protocol/replies.h"
#include "core/protocol/requests.h"
#include "core/serial/low_latency.h"
#include "core/serial/tcomm.h"
#include "core/util/format.h"

namespace korvan {

namespace p = protocol;

namespace {

constexpr char kChipTimeout[] = "芯片 %d ：操作超时！";
constexpr std::int16_t kReadBackTimeout = 300;
constexpr std::int16_t kIdentityTimeout = 500;
constexpr std::int16_t kUpgradeTimeout = 500;
constexpr std::uint32_t kUpgradeBlockUnits = p::FirmwareBlockRequest::kBlockUnits;

}  // namespace

void Station::SetUpLink() {
  for (int n = 1; n <= kChannelCount; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    links_[i] = std::make_unique<p::LinkBuffers>();
    ports_[i] = portProvider_.make(serialEvents_, n);
    PortHandlers handlers;
    handlers.received = [this, n](std::span<const std::uint8_t> block) { ReceiveData(n, block); };
    handlers.lineError = [this, n](std::uint32_t) { ReceiveError(n); };
    handlers.hangup = [this, n] { RequestHangup(n); };
    ports_[i]->SetHandlers(std::move(handlers));
  }
  random_ = [engine = std::make_shared<std::minstd_rand>(std::random_device{}())] {
    return static_cast<std::uint8_t>((*engine)() % 255);
  };
}

Station::~Station() {
  for (auto& c : ports_) {
    if (c) c->ClosePort();
  }
}

bool Station::AnyBusy() const {
  return std::any_of(channels_.begin(), channels_.end(),
                     [](const ChannelState& ch) { return ch.busy != 0; });
}

// ---------------------------------------------------------------------------------------------
// Ports and discovery

void Station::ListSerialPorts() {
  std::vector<std::string> names = portProvider_.list(portSources_);
  if (arrangePorts_) names = arrangePorts_(names);
  std::string last;
  for (std::string& name : names) {
    if (!name.empty()) last = name;
    window_.ComboBoxCOMItems.push_back(std::move(name));
  }
  window_.ComboBoxCOMText = last.empty() ? "无可用的串口" : last;
  Notify(ViewPart::Window);
}

void Station::ResetChannelView(ChannelState& ch) {
  ch.busy = 0;
  ch.upgrading = 0;
  ch.restartAnswerDue = 0;
  ch.held.clear();
  ch.gauge.enabled = false;
  ch.gauge.progress = 0;
  ch.gauge.colour = GaugeColour::Blue;
}

void Station::FreshBtnClick() {
  window_.ComboBoxCOMItems.clear();
  for (int n = 1; n <= kChannelCount; ++n) {
    link(n).ResetReceive();
    ResetChannelView(Channel(n));
    port(n).ClosePort();
  }
  ListSerialPorts();
  Notify(ViewPart::Gauges);
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

void Station::DropStaleBytes(int n) {
  // While a restart's answer is on its way its first bytes may already be here: they stay, so
  // that its frame completes and is set aside instead of spoiling the next reply.
  if (Channel(n).restartAnswerDue == 0) link(n).ResetReceive();
}

bool Station::OpenChannelPort(int n, const std::string& portName) {
  ChannelState& ch = Channel(n);
  ch.portName = portName;
  ch.identity.clear();
  port(n).SetCommName(portName);
  // A serial device asks its driver for low latency as it opens (ports of an emulator in the
  // same process have no latency to lower).
  auto* serial = dynamic_cast<TComm*>(&port(n));
  if (serial) {
    LowLatencyAccess access = lowLatencyAccess_;
    access.sysfsRoot = portSources_.sysfsRoot;
    serial->SetLowLatencyAccess(std::move(access));
  }
  try {
    port(n).OpenPort();
  } catch (const ECommsError& e) {
    ShowError(e.what());
    return false;
  }
  // A port without low latency works, only slower: the panel says so once per port.
  const std::string note = serial ? KeptLatencyNote(portName, serial->Latency()) : "";
  if (!note.empty() && latencyNoted_.insert(portName).second) info_.AddInfoLine(note);
  return true;
}

void Station::BitBtnFindDevClick() {
  window_.ComboBoxCOMItems.clear();
  for (int n = 1; n <= kChannelCount; ++n) {
    link(n).ResetReceive();
    Channel(n).connected = 0;
    Channel(n).identity.clear();
    ResetChannelView(Channel(n));
    port(n).ClosePort();
  }
  ListSerialPorts();
  Notify(ViewPart::Gauges);
  const std::vector<std::string> ports = window_.ComboBoxCOMItems;
  for (std::size_t i = 0; i < ports.size() && i < kChannelCount; ++i) {
    const int n = static_cast<int>(i) + 1;
    if (ports[i].empty()) {
      // A channel the port arrangement left without a port.
      Channel(n).portName.clear();
      continue;
    }
    info_.AddInfoLine(Format("查找设备%d............", n));
    Channel(n).connected = 0;
    Channel(n).timeout = kIdentityTimeout;
    // A port that cannot be opened ends the search: the later ports are not tried.
    if (!OpenChannelPort(n, ports[i])) break;
    if (port(n).IsOpen()) SendIdentityRequest(static_cast<int>(i));
  }
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

void Station::BitBtn1Click(int index) {
  if (index < 0 || index >= kChannelCount ||
      static_cast<std::size_t>(index) >= window_.ComboBoxCOMItems.size() ||
      window_.ComboBoxCOMItems[static_cast<std::size_t>(index)].empty()) {
    return;
  }
  const int n = index + 1;
  port(n).ClosePort();
  link(n).ResetReceive();
  Channel(n).connected = 0;
  Channel(n).restartAnswerDue = 0;
  Channel(n).held.clear();
  Channel(n).timeout = kIdentityTimeout;
  if (OpenChannelPort(n, window_.ComboBoxCOMItems[static_cast<std::size_t>(index)]) &&
      port(n).IsOpen()) {
    SendIdentityRequest(index);
  }
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

void Station::SendIdentityRequest(int index) {
  if (index < 0 || index >= kChannelCount) return;
  std::array<std::uint8_t, p::IdentityRequest::kLength> frame{};
  // Sent as it stands: the identity request is a whole frame already.
  port(index + 1).SendBlock(frame.data(),
                            static_cast<std::uint16_t>(p::IdentityRequest::Build(frame)));
}

// ---------------------------------------------------------------------------------------------
// Port events

void Station::ReceiveData(int n, std::span<const std::uint8_t> block) {
  if (n < 1 || n > kChannelCount) return;
  const auto i = static_cast<std::size_t>(n - 1);
  if (QuestionOpen() || receiving_[i]) {
    // A question is open (raised by a command or by a reply handler): every link stalls until
    // it is answered. The block waits and is handled then, in the order it came.
    deferred_[i].insert(deferred_[i].end(), block.begin(), block.end());
    return;
  }
  ReceiveDeferred();
  // Every received block restarts the time-out, whatever it holds.
  Channel(n).timeout = kOperationTimeout;
  receiving_[i] = true;
  link(n).ReceiveData(block, [&](std::span<const std::uint8_t> frame) { HandleFrame(n, frame); });
  while (!deferred_[i].empty() && !QuestionOpen()) {
    std::vector<std::uint8_t> more;
    more.swap(deferred_[i]);
    Channel(n).timeout = kOperationTimeout;
    link(n).ReceiveData(more, [&](std::span<const std::uint8_t> frame) { HandleFrame(n, frame); });
  }
  receiving_[i] = false;
  NotifyEnded();
}

void Station::ReceiveDeferred() {
  for (int n = 1; n <= kChannelCount && !QuestionOpen(); ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    if (receiving_[i] || deferred_[i].empty()) continue;
    std::vector<std::uint8_t> waiting;
    waiting.swap(deferred_[i]);
    ReceiveData(n, waiting);
  }
}

void Station::HandleFrame(int n, std::span<const std::uint8_t> frame) {
  ChannelState& ch = Channel(n);
  if (ch.restartAnswerDue > 0) {
    // The programmer's answer to the restart that closed the last operation: it is no reply
    // to whatever command was started since, which may go out now.
    ch.restartAnswerDue = 0;
    ReleaseHeld(n);
    return;
  }
  if (ch.connected) {
    DispatchReply(n, frame);
  } else {
    HandleIdentityReply(n, frame);
  }
}

void Station::ReceiveError(int n) {
  if (n < 1 || n > kChannelCount) return;
  ChannelState& ch = Channel(n);
  link(n).ResetReceive();
  const bool wasBusy = ch.busy != 0;
  ch.busy = 0;
  ch.upgrading = 0;
  if (wasBusy) ch.held.clear();
  // The panel and the gauge stay as they are, but a caller waiting for the operation learns
  // that it will not end by a reply.
  if (wasBusy) {
    OperationOutcome outcome;
    outcome.command = ch.pendingCommand;
    outcome.result = OperationResult::Failed;
    outcome.status = p::kStatusSerialLinkError;
    outcome.message = p::StatusText(p::kStatusSerialLinkError);
    outcome.chipName = chip_.chipName;
    outcome.totalCounter = totalCounter_;
    outcome.okCount = ch.okCount;
    outcome.ngCount = ch.ngCount;
    ch.lastOutcome = outcome;
    ended_.emplace_back(n, outcome);
  }
  NotifyEnded();
}

void Station::RequestHangup(int n) {
  if (n < 1 || n > kChannelCount) return;
  ChannelState& ch = Channel(n);
  port(n).ClosePort();
  ch.restartAnswerDue = 0;
  ch.held.clear();
  // The operation running on the channel can get no reply: it ends now, as a link failure.
  if (ch.busy) FailOperation(n, p::kStatusSerialLinkError);
  ch.connected = 0;
  ch.gauge.enabled = false;
  // The channel's own entry goes, found by its name: after an earlier hang-up the positions
  // of the later entries no longer match their channels.
  auto& items = window_.ComboBoxCOMItems;
  if (const auto it = std::find(items.begin(), items.end(), ch.portName); it != items.end()) {
    items.erase(it);
  }
  if (items.empty()) window_.ComboBoxCOMText = "请选择通讯口......";
  Notify(ViewPart::Window);
  Notify(ViewPart::Gauges);
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
  NotifyEnded();
}

void Station::HandleIdentityReply(int n, std::span<const std::uint8_t> frame) {
  p::LinkBuffers& buffers = link(n);
  const p::DecodeResult decoded = p::DecodeFrame(frame, buffers.packet);
  if (decoded.code != p::kStatusOk) return;
  const std::span<const std::uint8_t> packet(buffers.packet.data(), decoded.length);
  ChannelState& ch = Channel(n);

  std::string identity;
  if (p::IdentityRequest::ReadReply(packet, p::kModelName, identity) == 0) {
    ch.identity = identity;
    if (n == 1) window_.InfoPanel = identity;
    info_.AddInfoLine(Format("找到设备%d ：%s!", n, identity.c_str()));
    // Only a firmware image that loaded and checked out can make a programmer look old.
    const std::string imageVersion = firmwarePresent_ ? firmware_.VersionText() : std::string();
    if (FirmwareIsOlder(identity, imageVersion) == 3) {
      StartFirmwareUpgrade(n);
    } else {
      ch.pendingCommand = kPendingIdle;
      ch.connected = 1;
      ch.gauge.enabled = true;
    }
  } else if (p::IdentityRequest::ReadReply(packet, p::kUpgradeModelName, identity) == 0) {
    ch.identity = identity;
    StartFirmwareUpgrade(n);
  } else {
    ch.connected = 0;
    window_.InfoPanel = "未找到设备!";
    info_.AddInfoLine("未找到设备!");
  }
  Notify(ViewPart::Window);
  Notify(ViewPart::Gauges);
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

// ---------------------------------------------------------------------------------------------
// The 10 ms tick

void Station::Timer1Timer() {
  // While a question is open the links stall: no time passes for them.
  if (QuestionOpen()) return;
  ReceiveDeferred();
  if (QuestionOpen()) return;
  bool gauges = false;
  for (int n = 1; n <= kChannelCount; ++n) {
    ChannelState& ch = Channel(n);
    if (ch.restartAnswerDue > 0) {
      // No answer to the restart yet: what is held waits, and its time-out does not run.
      if (--ch.restartAnswerDue == 0) {
        link(n).ResetReceive();
        ReleaseHeld(n);
      }
      continue;
    }
    if (!ch.busy) continue;
    const StationOperation* op = OperationAwaiting(ch.pendingCommand);
    // Operations that report no progress of their own: the gauge runs with time.
    if (op && op->timedGauge && ch.gauge.progress < ch.gauge.maximum) {
      ++ch.gauge.progress;
      gauges = true;
    }
    if (--ch.timeout <= 0) {
      const char* format = op ? op->timeoutText : kChipTimeout;
      FinishOperation(n, OperationResult::TimedOut, p::kStatusCommandTimeout, Format(format, n));
    }
  }
  const std::string counter = Format("计数器：%d", totalCounter_);
  if (window_.StatusBar1[3] != counter) {
    window_.StatusBar1[3] = counter;
    Notify(ViewPart::StatusBar);
  }
  if (gauges) Notify(ViewPart::Gauges);
  NotifyEnded();
}

// ---------------------------------------------------------------------------------------------
// Request senders

void Station::SendPacket(int n, std::size_t length) {
  p::LinkBuffers& buffers = link(n);
  if (length == 0) return;
  const std::uint16_t frameLength =
      p::EncodePacket(std::span<const std::uint8_t>(buffers.packet.data(), length), buffers.frame);
  // A closed port takes nothing; the operation then ends by its time-out.
  if (frameLength != 0) port(n).SendBlock(buffers.frame.data(), frameLength);
}

std::array<std::uint8_t, p::kSettingsHeaderSize> Station::SettingsHeader(int n) {
  std::array<std::uint8_t, p::kSettingsHeaderSize> header{};
  p::BuildSettingsHeader(header, chip_, settings_, n, random_);
  return header;
}

void Station::SendBlankCheck(int n) {
  SendRequest(n, p::BlankCheckRequest{chip_, SettingsHeader(n)});
}

void Station::SendErase(int n) {
  SendRequest(n, p::EraseRequest{chip_, SettingsHeader(n)});
}

void Station::SendReadOptionBytes(int n) {
  SendRequest(n, p::ReadOptionBytesRequest{chip_, SettingsHeader(n)});
}

void Station::SendReadChipId(int n) {
  SendRequest(n, p::ReadChipIdRequest{chip_, SettingsHeader(n)});
}

void Station::SendReadOtp(int n) {
  SendRequest(n, p::ReadOtpRequest{chip_, SettingsHeader(n)});
}

void Station::SendReadBack(int n) {
  ChannelState& ch = Channel(n);
  SendRequest(n, p::ReadBackRequest{chip_, SettingsHeader(n), ch.dataPhase != 0, ch.blockIndex});
  ch.timeout = kReadBackTimeout;
}

void Station::SendDownload(int n) {
  ChannelState& ch = Channel(n);
  if (ch.dataPhase == 0) {
    std::array<std::uint8_t, p::kSettingsBlockSize> block{};
    p::BuildSettingsBlock(block, chip_, settings_, optionBytes_, n, random_);
    const std::span<const std::uint8_t> otp = chip_.otpPresent
                                                  ? std::span<const std::uint8_t>(image_.otp)
                                                  : std::span<const std::uint8_t>();
    SendRequest(n, p::DownloadSettingsRequest{chip_, block, otp});
  } else {
    SendRequest(n, p::DownloadImageRequest{chip_, image_.flash, ch.blockIndex});
  }
  ch.timeout = kReadBackTimeout;
}

void Station::SendProgramBlock(int n) {
  const ChannelState& ch = Channel(n);
  SendRequest(
      n, p::ProgramRequest{chip_, SettingsHeader(n), image_.flash, ch.blockIndex, ch.blockCount});
}

void Station::SendWriteOptionBytes(int n) {
  SendRequest(n, p::WriteOptionBytesRequest{chip_, SettingsHeader(n), optionBytes_});
}

void Station::SendWriteOtp(int n) {
  SendRequest(n, p::WriteOtpRequest{chip_, SettingsHeader(n), image_.otp});
}

void Station::SendReadAddress(int n) {
  SendRequest(n, p::ReadAddressRequest{chip_, SettingsHeader(n), settings_.readAddress,
                                       settings_.readLength});
}

void Station::SendRestart(int n) {
  SendRequest(n, p::RestartRequest{});
}

void Station::ExpectRestartAnswer(int n) {
  Channel(n).restartAnswerDue = kRestartAnswerWait;
}

void Station::SendWhenFree(int n, std::function<void()> send) {
  ChannelState& ch = Channel(n);
  if (ch.restartAnswerDue > 0) {
    ch.held.push_back(std::move(send));
    return;
  }
  send();
}

void Station::ReleaseHeld(int n) {
  ChannelState& ch = Channel(n);
  while (!ch.held.empty() && ch.restartAnswerDue == 0) {
    std::function<void()> send = std::move(ch.held.front());
    ch.held.erase(ch.held.begin());
    send();
  }
}

// ---------------------------------------------------------------------------------------------
// Programmer firmware upgrade

void Station::StartFirmwareUpgrade(int n) {
  if (!firmwarePresent_ || n < 1 || n > kChannelCount) return;
  ChannelState& ch = Channel(n);
  ch.upgrading = 1;
  ch.connected = 1;
  ch.busy = 1;
  ch.pendingCommand = kPendingFirmwareUpgrade;
  ch.timeout = kUpgradeTimeout;
  ch.upgradeAddress = firmware_.startAddress;
  // One block per 1024 address units up to the end address: the count announced to the
  // programmer is the number of blocks it will receive.
  const std::uint32_t span = firmware_.endAddress > firmware_.startAddress
                                 ? std::uint32_t{firmware_.endAddress} - firmware_.startAddress
                                 : 0;
  ch.upgradeBlocks = static_cast<std::uint16_t>(
      std::max<std::uint32_t>(1, (span + kUpgradeBlockUnits - 1) / kUpgradeBlockUnits));
  ch.gauge.enabled = true;
  ch.gauge.progress = 2;
  ch.gauge.maximum = ch.upgradeBlocks;
  ch.gauge.colour = GaugeColour::Blue;
  info_.AddInfoLine("开始升级编程器固件......");
  SendWhenFree(n, [this, n] { SendFirmwareBlock(n); });
  Notify(ViewPart::Gauges);
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

void Station::SendFirmwareBlock(int n) {
  const ChannelState& ch = Channel(n);
  SendRequest(n,
              p::FirmwareBlockRequest{ch.upgradeAddress, firmware_.startAddress, ch.upgradeBlocks,
                                      firmware_.buffer, kfw::CipherTransportBlock});
}

void Station::ContinueFirmwareUpgrade(int n, std::uint8_t s, std::size_t /*length*/) {
  ChannelState& ch = Channel(n);
  // A block the programmer refused leaves its firmware incomplete: the upgrade stops there
  // rather than reporting a completed upgrade.
  if (s != p::kStatusOk && s != p::kStatusDone) {
    ch.upgrading = 0;
    FailOperation(n, s);
    return;
  }
  ++ch.gauge.progress;
  const std::uint32_t next = std::uint32_t{ch.upgradeAddress} + kUpgradeBlockUnits;
  if (next < firmware_.endAddress) {
    ch.upgradeAddress = static_cast<std::uint16_t>(next);
    SendFirmwareBlock(n);
    Notify(ViewPart::Gauges);
    return;
  }
  ch.upgrading = 0;
  SendRestart(n);
  ExpectRestartAnswer(n);
  FinishOperation(n, OperationResult::Ok, p::kStatusOk, "Firmware Upgrade Completed!");
}

}  // namespace korvan
