// The station's side of the programmers' link: the four ports, the device search, each
// channel's receive path, the 10 ms tick, the request senders and the firmware upgrade.
#include <algorithm>
#include <random>

#include "core/app/station.h"
#include "core/image/firmware_cipher.h"
#include "core/protocol/replies.h"
#include "core/protocol/requests.h"
#include "core/util/format.h"

namespace korvan {

namespace p = protocol;

namespace {

constexpr std::int16_t kReadBackTimeout = 300;
constexpr std::int16_t kIdentityTimeout = 500;
constexpr std::int16_t kUpgradeTimeout = 500;
constexpr std::uint32_t kUpgradeBlockUnits = 1024;
constexpr std::size_t kUpgradeRequestLength = 2058;
constexpr std::size_t kUpgradeDataBytes = 2048;

}  // namespace

void Station::SetUpLink() {
  for (int n = 1; n <= kChannelCount; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    links_[i] = std::make_unique<p::LinkBuffers>();
    ports_[i] = std::make_unique<TComm>(serialEvents_);
    TComm& c = *ports_[i];
    c.SetBaudRate(1000000);
    c.SetByteSize(TByteSize::_8);
    c.SetParity(TParity::None);
    c.SetStopBits(TStopBits::_2);
    c.SetParityCheck(false);
    c.SetOutx_CtsFlow(false);
    c.SetOutx_DsrFlow(false);
    c.SetOutx_XonXoffFlow(false);
    c.SetInx_XonXoffFlow(false);
    c.SetDtrControl(TDtrControl::DtrDisable);
    c.SetRtsControl(TRtsControl::RtsDisable);
    c.SetReadIntervalTimeout(5);
    c.OnReceiveData = [this, n](TComm&, const std::uint8_t* buffer, std::uint16_t length) {
      ReceiveData(n, {buffer, length});
    };
    c.OnReceiveError = [this, n](TComm&, std::uint32_t) { ReceiveError(n); };
    c.OnRequestHangup = [this, n](TComm&) { RequestHangup(n); };
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
  std::vector<SerialPortInfo> found = ListPorts(portSources_);
  std::vector<std::string> names;
  if (arrangePorts_) {
    names = arrangePorts_(found);
  } else {
    for (SerialPortInfo& port : found) names.push_back(std::move(port.path));
  }
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
  ch.restartAnswerDue = 0;
  ch.gauge.enabled = false;
  ch.gauge.progress = 0;
  ch.gauge.colour = GaugeColour::Blue;
}

void Station::FreshBtnClick() {
  window_.ComboBoxCOMItems.clear();
  for (int n = 1; n <= kChannelCount; ++n) {
    link(n).ResetReceive();
    ResetChannelView(channel(n));
    port(n).ClosePort();
  }
  ListSerialPorts();
  Notify(ViewPart::Gauges);
  if (listener_) listener_->ChannelsChanged();
}

void Station::DropStaleBytes(int n) {
  // While a restart's answer is on its way its first bytes may already be here: they stay, so
  // that its frame completes and is set aside instead of spoiling the next reply.
  if (channel(n).restartAnswerDue == 0) link(n).ResetReceive();
}

bool Station::OpenChannelPort(int n, const std::string& portName) {
  ChannelState& ch = channel(n);
  ch.portName = portName;
  ch.identity.clear();
  port(n).SetCommName(portName);
  LowLatencyAccess access = lowLatencyAccess_;
  access.sysfsRoot = portSources_.sysfsRoot;
  port(n).SetLowLatencyAccess(std::move(access));
  try {
    port(n).OpenPort();
  } catch (const ECommsError& e) {
    ShowError(e.what());
    return false;
  }
  // A port without low latency works, only slower: the panel says so once per port.
  const std::string note = KeptLatencyNote(portName, port(n).Latency());
  if (!note.empty() && latencyNoted_.insert(portName).second) info_.AddInfoLine(note);
  return true;
}

void Station::BitBtnFindDevClick() {
  window_.ComboBoxCOMItems.clear();
  for (int n = 1; n <= kChannelCount; ++n) {
    link(n).ResetReceive();
    channel(n).connected = 0;
    channel(n).identity.clear();
    ResetChannelView(channel(n));
    port(n).ClosePort();
  }
  ListSerialPorts();
  Notify(ViewPart::Gauges);
  const std::vector<std::string> ports = window_.ComboBoxCOMItems;
  for (std::size_t i = 0; i < ports.size() && i < kChannelCount; ++i) {
    const int n = static_cast<int>(i) + 1;
    if (ports[i].empty()) {
      // A channel the port arrangement left without a port.
      channel(n).portName.clear();
      continue;
    }
    info_.AddInfoLine(Format("查找设备%d............", n));
    channel(n).connected = 0;
    channel(n).timeout = kIdentityTimeout;
    // A port that cannot be opened ends the search: the later ports are not tried.
    if (!OpenChannelPort(n, ports[i])) break;
    if (port(n).IsOpen()) SendIdentityRequest(static_cast<int>(i));
  }
  if (listener_) listener_->ChannelsChanged();
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
  channel(n).connected = 0;
  channel(n).restartAnswerDue = 0;
  channel(n).timeout = kIdentityTimeout;
  if (OpenChannelPort(n, window_.ComboBoxCOMItems[static_cast<std::size_t>(index)]) &&
      port(n).IsOpen()) {
    SendIdentityRequest(index);
  }
  if (listener_) listener_->ChannelsChanged();
}

void Station::SendIdentityRequest(int index) {
  if (index < 0 || index >= kChannelCount) return;
  port(index + 1).SendBlock(p::kIdentityRequestFrame.data(),
                            static_cast<std::uint16_t>(p::kIdentityRequestFrame.size()));
}

// ---------------------------------------------------------------------------------------------
// Port events

void Station::ReceiveData(int n, std::span<const std::uint8_t> block) {
  if (n < 1 || n > kChannelCount) return;
  const auto i = static_cast<std::size_t>(n - 1);
  ChannelState& ch = channel(n);
  // Every received block restarts the time-out, whatever it holds.
  ch.timeout = kOperationTimeout;
  if (receiving_[i]) {
    // A modal question inside a reply handler lets the front end deliver the next block
    // before the current one is done; it waits here and is handled right after.
    deferred_[i].insert(deferred_[i].end(), block.begin(), block.end());
    return;
  }
  receiving_[i] = true;
  link(n).ReceiveData(block, [&](std::span<const std::uint8_t> frame) { HandleFrame(n, frame); });
  while (!deferred_[i].empty()) {
    std::vector<std::uint8_t> more;
    more.swap(deferred_[i]);
    link(n).ReceiveData(more, [&](std::span<const std::uint8_t> frame) { HandleFrame(n, frame); });
  }
  receiving_[i] = false;
  NotifyEnded();
}

void Station::HandleFrame(int n, std::span<const std::uint8_t> frame) {
  ChannelState& ch = channel(n);
  if (ch.restartAnswerDue > 0) {
    // The programmer's answer to the restart that closed the last operation: it is no reply
    // to whatever command was started since.
    ch.restartAnswerDue = 0;
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
  ChannelState& ch = channel(n);
  link(n).ResetReceive();
  const bool wasBusy = ch.busy != 0;
  ch.busy = 0;
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
  ChannelState& ch = channel(n);
  port(n).ClosePort();
  ch.connected = 0;
  ch.restartAnswerDue = 0;
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
  if (listener_) listener_->ChannelsChanged();
}

void Station::HandleIdentityReply(int n, std::span<const std::uint8_t> frame) {
  p::LinkBuffers& buffers = link(n);
  const p::DecodeResult decoded = p::DecodeFrame(frame, buffers.packet);
  if (decoded.code != p::kStatusOk) return;
  const std::span<const std::uint8_t> packet(buffers.packet.data(), decoded.length);
  ChannelState& ch = channel(n);

  std::string identity;
  if (p::CheckIdentity(packet, p::kModelName, identity) == 0) {
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
  } else if (p::CheckIdentity(packet, p::kUpgradeModelName, identity) == 0) {
    ch.identity = identity;
    StartFirmwareUpgrade(n);
  } else {
    ch.connected = 0;
    window_.InfoPanel = "未找到设备!";
    info_.AddInfoLine("未找到设备!");
  }
  Notify(ViewPart::Window);
  Notify(ViewPart::Gauges);
  if (listener_) listener_->ChannelsChanged();
}

// ---------------------------------------------------------------------------------------------
// The 10 ms tick

void Station::Timer1Timer() {
  bool gauges = false;
  for (int n = 1; n <= kChannelCount; ++n) {
    ChannelState& ch = channel(n);
    if (ch.restartAnswerDue > 0) --ch.restartAnswerDue;
    if (!ch.busy) continue;
    switch (ch.pendingCommand) {
      case kPendingErase:
      case kPendingBlankCheck:
      case kPendingWriteOptionBytes:
      case kPendingReadOptionBytes:
        // These operations report no progress of their own: the gauge runs with time.
        if (ch.gauge.progress < ch.gauge.maximum) {
          ++ch.gauge.progress;
          gauges = true;
        }
        break;
      default:
        break;
    }
    if (--ch.timeout <= 0) {
      const char* format =
          ch.pendingCommand == kPendingDownload ? "编程器 %d ：操作超时！" : "芯片 %d ：操作超时！";
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

void Station::SendChipCommand(int n, std::uint8_t command, std::uint16_t parameter) {
  SendPacket(n,
             p::BuildHeaderRequest(link(n).packet, command, parameter, chip_, SettingsHeader(n)));
}

void Station::SendReadBack(int n) {
  ChannelState& ch = channel(n);
  SendChipCommand(n, p::ReadBackCommand(ch.dataPhase != 0), ch.blockIndex);
  ch.timeout = kReadBackTimeout;
}

void Station::SendDownload(int n) {
  ChannelState& ch = channel(n);
  std::size_t length = 0;
  if (ch.dataPhase == 0) {
    std::array<std::uint8_t, p::kSettingsBlockSize> block{};
    p::BuildSettingsBlock(block, chip_, settings_, optionBytes_, n, random_);
    const std::span<const std::uint8_t> otp = chip_.otpPresent
                                                  ? std::span<const std::uint8_t>(image_.otp)
                                                  : std::span<const std::uint8_t>();
    length = p::BuildDownloadSettingsRequest(link(n).packet, chip_, block, otp);
  } else {
    length = p::BuildDownloadImageRequest(link(n).packet, chip_, image_.flash, ch.blockIndex);
  }
  SendPacket(n, length);
  ch.timeout = kReadBackTimeout;
}

void Station::SendProgramBlock(int n) {
  const ChannelState& ch = channel(n);
  SendPacket(n, p::BuildProgramRequest(link(n).packet, chip_, SettingsHeader(n), image_.flash,
                                       ch.blockIndex, ch.blockCount));
}

void Station::SendWriteOptionBytes(int n) {
  SendPacket(
      n, p::BuildWriteOptionBytesRequest(link(n).packet, chip_, SettingsHeader(n), optionBytes_));
}

void Station::SendWriteOtp(int n) {
  SendPacket(n, p::BuildWriteOtpRequest(link(n).packet, chip_, SettingsHeader(n), image_.otp));
}

void Station::SendReadAddress(int n) {
  SendPacket(n, p::BuildReadAddressRequest(link(n).packet, chip_, SettingsHeader(n),
                                           settings_.readAddress, settings_.readLength));
}

void Station::SendRestart(int n) {
  SendPacket(n, p::BuildRestartRequest(link(n).packet));
}

void Station::ExpectRestartAnswer(int n) {
  channel(n).restartAnswerDue = kRestartAnswerWait;
}

// ---------------------------------------------------------------------------------------------
// Programmer firmware upgrade

void Station::StartFirmwareUpgrade(int n) {
  if (!firmwarePresent_ || n < 1 || n > kChannelCount) return;
  ChannelState& ch = channel(n);
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
  SendFirmwareBlock(n);
  Notify(ViewPart::Gauges);
  if (listener_) listener_->ChannelsChanged();
}

void Station::SendFirmwareBlock(int n) {
  const ChannelState& ch = channel(n);
  std::uint8_t* packet = link(n).packet.data();
  const std::uint32_t units = std::uint32_t{ch.upgradeAddress} - firmware_.startAddress;
  const auto index = static_cast<std::uint8_t>(units / kUpgradeBlockUnits);
  packet[0] = p::kCmdFirmwareBlock;
  packet[1] = static_cast<std::uint8_t>(ch.upgradeAddress);
  packet[2] = static_cast<std::uint8_t>(ch.upgradeAddress >> 8);
  packet[3] = index;
  packet[4] = static_cast<std::uint8_t>(ch.upgradeBlocks);
  packet[5] = 0x0F;
  packet[6] = 0x00;
  packet[7] = 0x08;
  // The last block may reach past the firmware; past the firmware buffer it carries 0xFF.
  const std::span<std::uint8_t> data(packet + 8, kUpgradeDataBytes);
  const std::size_t from = std::size_t{2} * units;
  std::fill(data.begin(), data.end(), std::uint8_t{0xFF});
  if (from < firmware_.buffer.size()) {
    const std::size_t count = std::min(kUpgradeDataBytes, firmware_.buffer.size() - from);
    std::copy_n(firmware_.buffer.begin() + static_cast<std::ptrdiff_t>(from), count, data.begin());
  }
  kfw::CipherTransportBlock(data, index);
  SendPacket(n, p::AppendPacketCrc(link(n).packet, kUpgradeRequestLength - 2));
}

void Station::ContinueFirmwareUpgrade(int n, std::uint8_t s) {
  ChannelState& ch = channel(n);
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
