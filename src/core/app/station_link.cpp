// The station's side of the programmers' link: the four ports, the device search, each
// channel's receive path, the 10 ms tick, the request senders and the firmware upgrade.
#include <algorithm>
#include <random>
#include <stdexcept>

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

constexpr std::int16_t kIdentityTimeout = 500;

}  // namespace

void Station::SetUpLink() {
  firstChannel_ = engine_->AddChannels(*this, kChannelCount, portProvider_.make);
  for (int n = 1; n <= kChannelCount; ++n) {
    PortHandlers handlers;
    handlers.received = [this, n](std::span<const std::uint8_t> block) { ReceiveData(n, block); };
    handlers.lineError = [this, n](std::uint32_t) { ReceiveError(n); };
    handlers.hangup = [this, n] { RequestHangup(n); };
    port(n).SetHandlers(std::move(handlers));
  }
  random_ = [engine = std::make_shared<std::minstd_rand>(std::random_device{}())] {
    return static_cast<std::uint8_t>((*engine)() % 255);
  };
}

Station::~Station() {
  // The ports close before the station goes: their handlers reach it.
  engine_->ReleaseHost(*this);
}

int Station::EngineChannel(int n) const {
  if (n < 1 || n > kChannelCount) throw std::out_of_range("channel");
  return firstChannel_ + n - 1;
}

bool Station::AnyBusy() const {
  for (int n = 1; n <= kChannelCount; ++n) {
    if (Link(n).snapshot().busy != 0) return true;
  }
  return false;
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

void Station::FreshBtnClick() {
  window_.ComboBoxCOMItems.clear();
  for (int n = 1; n <= kChannelCount; ++n) Link(n).Release();
  ListSerialPorts();
  Notify(ViewPart::Gauges);
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

bool Station::OpenChannelPort(int n, const std::string& portName) {
  Link(n).BindPort(portName);
  // A serial device asks its driver for low latency as it opens (ports of an emulator in the
  // same process have no latency to lower and ignore it; a tracing port passes it on).
  {
    LowLatencyAccess access = lowLatencyAccess_;
    access.sysfsRoot = portSources_.sysfsRoot;
    port(n).SetLowLatencyAccess(std::move(access));
  }
  try {
    port(n).OpenPort();
  } catch (const ECommsError& e) {
    ShowError(e.what());
    return false;
  }
  // A port without low latency works, only slower: the panel says so once per port.
  const LatencyResult* latency = port(n).LineLatency();
  const std::string note = latency ? KeptLatencyNote(portName, *latency) : "";
  if (!note.empty() && latencyNoted_.insert(portName).second) info_.AddInfoLine(note);
  return true;
}

void Station::BitBtnFindDevClick() {
  window_.ComboBoxCOMItems.clear();
  for (int n = 1; n <= kChannelCount; ++n) {
    Link(n).ForgetProgrammer();
    Link(n).Release();
  }
  ListSerialPorts();
  Notify(ViewPart::Gauges);
  const std::vector<std::string> ports = window_.ComboBoxCOMItems;
  for (std::size_t i = 0; i < ports.size() && i < kChannelCount; ++i) {
    const int n = static_cast<int>(i) + 1;
    if (ports[i].empty()) {
      // A channel the port arrangement left without a port.
      Link(n).ForgetPort();
      continue;
    }
    info_.AddInfoLine(Format("查找设备%d............", n));
    Link(n).AwaitIdentity(kIdentityTimeout);
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
  Link(n).Disconnect(kIdentityTimeout);
  if (OpenChannelPort(n, window_.ComboBoxCOMItems[static_cast<std::size_t>(index)]) &&
      port(n).IsOpen()) {
    SendIdentityRequest(index);
  }
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

void Station::SendIdentityRequest(int index) {
  if (index < 0 || index >= kChannelCount) return;
  Link(index + 1).SendIdentityRequest();
}

// ---------------------------------------------------------------------------------------------
// Port events

void Station::ReceiveData(int n, std::span<const std::uint8_t> block) {
  if (n < 1 || n > kChannelCount) return;
  ChannelLink& l = Link(n);
  if (QuestionOpen() || l.receiving()) {
    // A question is open (raised by a command or by a reply handler): every link stalls until
    // it is answered. The block waits and is handled then, in the order it came.
    l.Defer(block);
    return;
  }
  ReceiveDeferred();
  l.Receive(block);
  NotifyEnded();
}

void Station::ReceiveDeferred() {
  for (int n = 1; n <= kChannelCount && !QuestionOpen(); ++n) {
    ChannelLink& l = Link(n);
    if (l.receiving() || !l.HasDeferred()) continue;
    const std::vector<std::uint8_t> waiting = l.TakeDeferred();
    ReceiveData(n, waiting);
  }
}

void Station::FrameReceived(int n, std::span<const std::uint8_t> frame) {
  if (Channel(n).connected) {
    DispatchReply(n, frame);
  } else {
    HandleIdentityReply(n, frame);
  }
}

void Station::StandAloneReportReceived(int n, std::span<const std::uint8_t> packet) {
  // Whatever command waits for the restart's answer, this report is the programmer's own work.
  // The link decoded it into the channel's packet buffer, where the report handler reads it.
  HandleProgressReport(n, packet.size());
}

void Station::ReceiveError(int n) {
  if (n < 1 || n > kChannelCount) return;
  const ChannelSnapshot& ch = Channel(n);
  const bool wasBusy = Link(n).LineError();
  // The panel and the gauge stay as they are, but a caller waiting for the operation learns
  // that it will not end by a reply.
  if (wasBusy) {
    OperationOutcome outcome;
    outcome.command = ch.pendingCommand;
    outcome.result = OperationResult::Failed;
    outcome.status = p::kStatusSerialLinkError;
    outcome.message = p::StatusText(p::kStatusSerialLinkError);
    outcome.chipName = job_.chip.chipName;
    outcome.totalCounter = totalCounter_;
    outcome.okCount = ch.okCount;
    outcome.ngCount = ch.ngCount;
    Link(n).KeepOutcome(outcome);
    ended_.emplace_back(n, outcome);
  }
  NotifyEnded();
}

void Station::RequestHangup(int n) {
  if (n < 1 || n > kChannelCount) return;
  const ChannelSnapshot& ch = Channel(n);
  Link(n).Hangup();
  // The operation running on the channel can get no reply: it ends now, as a link failure.
  if (ch.busy) FailOperation(n, p::kStatusSerialLinkError);
  Link(n).ProgrammerGone();
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
  p::LinkBuffers& buffers = Buffers(n);
  const p::DecodeResult decoded = p::DecodeFrame(frame, buffers.packet);
  if (decoded.code != p::kStatusOk) return;
  const std::span<const std::uint8_t> packet(buffers.packet.data(), decoded.length);
  ChannelLink& link = Link(n);

  std::string identity;
  if (p::IdentityRequest::ReadReply(packet, p::kModelName, identity) == 0) {
    link.SetIdentity(identity);
    if (n == 1) window_.InfoPanel = identity;
    info_.AddInfoLine(Format("找到设备%d ：%s!", n, identity.c_str()));
    // Only a firmware image that loaded and checked out can make a programmer look old.
    const std::string imageVersion = firmwarePresent_ ? firmware_.VersionText() : std::string();
    if (FirmwareIsOlder(identity, imageVersion) == 3) {
      StartFirmwareUpgrade(n);
    } else {
      link.SetConnected();
    }
  } else if (p::IdentityRequest::ReadReply(packet, p::kUpgradeModelName, identity) == 0) {
    link.SetIdentity(identity);
    StartFirmwareUpgrade(n);
  } else {
    link.SetNotConnected();
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
  // While a question is open the links stall: no time passes for them (the engine's tick of
  // the station's channels: ReceiveDeferred, ChannelTimedOut, AfterTick).
  engine_->TickHost(*this);
}

void Station::ChannelTimedOut(int n, const LinkTick& tick) {
  FinishOperation(n, OperationResult::TimedOut, p::kStatusCommandTimeout,
                  Format(tick.timeoutText, n));
}

void Station::AfterTick(bool gauges) {
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

std::array<std::uint8_t, p::kSettingsHeaderSize> Station::SettingsHeader(int n) {
  std::array<std::uint8_t, p::kSettingsHeaderSize> header{};
  p::BuildSettingsHeader(header, job_.chip, job_.settings, n, random_);
  return header;
}

void Station::SendBlankCheck(int n) {
  SendRequest(n, p::BlankCheckRequest{job_.chip, SettingsHeader(n)});
}

void Station::SendErase(int n) {
  SendRequest(n, p::EraseRequest{job_.chip, SettingsHeader(n)});
}

void Station::SendReadOptionBytes(int n) {
  SendRequest(n, p::ReadOptionBytesRequest{job_.chip, SettingsHeader(n)});
}

void Station::SendReadChipId(int n) {
  SendRequest(n, p::ReadChipIdRequest{job_.chip, SettingsHeader(n)});
}

void Station::SendReadOtp(int n) {
  SendRequest(n, p::ReadOtpRequest{job_.chip, SettingsHeader(n)});
}

void Station::SendReadBack(int n) {
  const ChannelSnapshot& ch = Channel(n);
  SendRequest(n,
              p::ReadBackRequest{job_.chip, SettingsHeader(n), ch.dataPhase != 0, ch.blockIndex});
}

void Station::SendDownload(int n) {
  const ChannelSnapshot& ch = Channel(n);
  if (ch.dataPhase == 0) {
    std::array<std::uint8_t, p::kSettingsBlockSize> block{};
    p::BuildSettingsBlock(block, job_.chip, job_.settings, job_.optionBytes, n, random_);
    const std::span<const std::uint8_t> otp = job_.chip.otpPresent
                                                  ? std::span<const std::uint8_t>(job_.Image().otp)
                                                  : std::span<const std::uint8_t>();
    SendRequest(n, p::DownloadSettingsRequest{job_.chip, block, otp});
  } else {
    SendRequest(n, p::DownloadImageRequest{job_.chip, job_.Image().flash.Filled(), ch.blockIndex});
  }
}

void Station::SendProgramBlock(int n) {
  const ChannelSnapshot& ch = Channel(n);
  SendRequest(n, p::ProgramRequest{job_.chip, SettingsHeader(n), job_.Image().flash.Filled(),
                                   ch.blockIndex, ch.blockCount});
}

void Station::SendWriteOptionBytes(int n) {
  SendRequest(n, p::WriteOptionBytesRequest{job_.chip, SettingsHeader(n), job_.optionBytes});
}

void Station::SendWriteOtp(int n) {
  SendRequest(n, p::WriteOtpRequest{job_.chip, SettingsHeader(n), job_.Image().otp});
}

void Station::SendReadAddress(int n) {
  SendRequest(n, p::ReadAddressRequest{job_.chip, SettingsHeader(n), job_.settings.readAddress,
                                       job_.settings.readLength});
}

void Station::SendRestart(int n) {
  SendRequest(n, p::RestartRequest{});
}

// ---------------------------------------------------------------------------------------------
// Programmer firmware upgrade

void Station::StartFirmwareUpgrade(int n) {
  if (!firmwarePresent_ || n < 1 || n > kChannelCount) return;
  Link(n).StartUpgrade(firmware_.startAddress, firmware_.endAddress);
  info_.AddInfoLine("开始升级编程器固件......");
  SendWhenFree(n, [this, n] { SendFirmwareBlock(n); });
  Notify(ViewPart::Gauges);
  TellListeners([](StationListener& l) { l.ChannelsChanged(); });
}

void Station::SendFirmwareBlock(int n) {
  const ChannelSnapshot& ch = Channel(n);
  SendRequest(n,
              p::FirmwareBlockRequest{ch.upgradeAddress, firmware_.startAddress, ch.upgradeBlocks,
                                      firmware_.buffer, kfw::CipherTransportBlock});
}

void Station::ContinueFirmwareUpgrade(int n, std::uint8_t s, std::size_t /*length*/) {
  // A block the programmer refused leaves its firmware incomplete: the upgrade stops there
  // rather than reporting a completed upgrade.
  if (s != p::kStatusOk && s != p::kStatusDone) return FailOperation(n, s);
  if (Link(n).UpgradeBlockDone(firmware_.endAddress)) {
    SendFirmwareBlock(n);
    Notify(ViewPart::Gauges);
    return;
  }
  SendRestart(n);
  ExpectRestartAnswer(n);
  FinishOperation(n, OperationResult::Ok, p::kStatusOk, "Firmware Upgrade Completed!");
}

}  // namespace korvan
