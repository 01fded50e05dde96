#include "core/link/channel_link.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/protocol/replies.h"
#include "core/protocol/requests.h"

namespace korvan {

namespace p = protocol;

ChannelLink::ChannelLink(int number, std::unique_ptr<Port> port, LinkHost& host)
    : number_(number), host_(host), port_(std::move(port)) {}

ChannelLink::~ChannelLink() {
  if (port_) port_->ClosePort();
}

// ---------------------------------------------------------------------------------------------
// Receive path

void ChannelLink::Defer(std::span<const std::uint8_t> block) {
  deferred_.insert(deferred_.end(), block.begin(), block.end());
}

std::vector<std::uint8_t> ChannelLink::TakeDeferred() {
  std::vector<std::uint8_t> waiting;
  waiting.swap(deferred_);
  return waiting;
}

void ChannelLink::Receive(std::span<const std::uint8_t> block) {
  // Every received block restarts the time-out, whatever it holds.
  state_.timeout = kOperationTimeout;
  receiving_ = true;
  buffers_.ReceiveData(block, [&](std::span<const std::uint8_t> frame) { HandleFrame(frame); });
  while (!deferred_.empty() && !host_.LinksStalled()) {
    const std::vector<std::uint8_t> more = TakeDeferred();
    state_.timeout = kOperationTimeout;
    buffers_.ReceiveData(more, [&](std::span<const std::uint8_t> frame) { HandleFrame(frame); });
  }
  receiving_ = false;
}

void ChannelLink::HandleFrame(std::span<const std::uint8_t> frame) {
  if (state_.restartAnswerDue > 0) {
    // A valid progress report is never the answer (the answer echoes the restart request,
    // whose bytes do not add up as a report's do): the programmer reports stand-alone work
    // while the answer is still due.
    const p::DecodeResult decoded = p::DecodeFrame(frame, buffers_.packet);
    const std::span<const std::uint8_t> packet(buffers_.packet.data(), decoded.length);
    if (decoded.code == p::kStatusOk && p::ReadProgressReport(packet)) {
      host_.StandAloneReportReceived(number_, packet);
      return;
    }
    // The programmer's answer to the restart that closed the last operation: it is no reply
    // to whatever command was started since, which may go out now.
    state_.restartAnswerDue = 0;
    ReleaseHeld();
    return;
  }
  host_.FrameReceived(number_, frame);
}

void ChannelLink::DropStaleBytes() {
  if (state_.restartAnswerDue == 0) buffers_.ResetReceive();
}

// ---------------------------------------------------------------------------------------------
// The channel's port and programmer

void ChannelLink::BindPort(const std::string& name) {
  state_.portName = name;
  state_.identity.clear();
  port_->SetCommName(name);
}

void ChannelLink::ForgetProgrammer() {
  state_.connected = 0;
  state_.identity.clear();
}

void ChannelLink::AwaitIdentity(std::int16_t timeout) {
  state_.connected = 0;
  state_.timeout = timeout;
}

void ChannelLink::SetConnected() {
  state_.pendingCommand = kPendingIdle;
  state_.connected = 1;
  state_.gauge.enabled = true;
}

void ChannelLink::ProgrammerGone() {
  state_.connected = 0;
  state_.gauge.enabled = false;
}

// ---------------------------------------------------------------------------------------------
// Line events and resets

bool ChannelLink::LineError() {
  buffers_.ResetReceive();
  const bool wasBusy = state_.busy != 0;
  state_.busy = 0;
  state_.upgrading = 0;
  if (wasBusy) state_.held.clear();
  return wasBusy;
}

void ChannelLink::Hangup() {
  port_->ClosePort();
  state_.restartAnswerDue = 0;
  state_.held.clear();
}

void ChannelLink::ResetView() {
  state_.busy = 0;
  state_.upgrading = 0;
  state_.restartAnswerDue = 0;
  state_.held.clear();
  state_.gauge.enabled = false;
  state_.gauge.progress = 0;
  state_.gauge.colour = GaugeColour::Blue;
}

void ChannelLink::Disconnect(std::int16_t timeout) {
  port_->ClosePort();
  buffers_.ResetReceive();
  state_.connected = 0;
  state_.restartAnswerDue = 0;
  state_.held.clear();
  state_.timeout = timeout;
}

void ChannelLink::Release() {
  buffers_.ResetReceive();
  ResetView();
  port_->ClosePort();
}

void ChannelLink::ResetAtStart() {
  state_.connected = 0;
  state_.autoFlag = 0;
  state_.busy = 0;
  state_.blockCount = 0;
  state_.blockIndex = 0;
}

// ---------------------------------------------------------------------------------------------
// Requests

void ChannelLink::SendPacket(std::size_t length) {
  if (length == 0) return;
  const std::uint16_t frameLength = p::EncodePacket(
      std::span<const std::uint8_t>(buffers_.packet.data(), length), buffers_.frame);
  if (frameLength != 0) port_->SendBlock(buffers_.frame.data(), frameLength);
}

void ChannelLink::SendIdentityRequest() {
  std::array<std::uint8_t, p::IdentityRequest::kLength> frame{};
  port_->SendBlock(frame.data(), static_cast<std::uint16_t>(p::IdentityRequest::Build(frame)));
}

void ChannelLink::SendWhenFree(std::function<void()> send) {
  if (state_.restartAnswerDue > 0) {
    state_.held.push_back(std::move(send));
    return;
  }
  send();
}

void ChannelLink::ReleaseHeld() {
  while (!state_.held.empty() && state_.restartAnswerDue == 0) {
    std::function<void()> send = std::move(state_.held.front());
    state_.held.erase(state_.held.begin());
    send();
  }
}

// ---------------------------------------------------------------------------------------------
// Operations

void ChannelLink::BeginOperation(const LinkOperation& op, const ChipRecord& chip) {
  if (op.dropsStaleBytes) DropStaleBytes();
  state_.pendingCommand = op.pending;
  if (op.autoFlag != kAutoFlagKept) state_.autoFlag = static_cast<std::uint8_t>(op.autoFlag);
  state_.BeginOperation(op.gaugeMaximum(chip), chip.flashSizeKB);
}

void ChannelLink::SendFirstRequest(const LinkOperation& op, const ChipRecord& chip,
                                   std::function<void()> send) {
  SendWhenFree([this, &op, &chip, first = std::move(send)] {
    first();
    if (op.timeout) {
      state_.timeout = op.timeout(chip);
    } else if (op.blocks) {
      state_.timeout = op.blocks->timeout;
    }
  });
}

void ChannelLink::ContinueAuto(const AutoTransition& move, const LinkOperation& next,
                               const ChipRecord& chip, const std::function<void()>& send) {
  state_.pendingCommand = move.next;
  state_.BeginOperation(move.gaugeMaximum(chip), chip.flashSizeKB);
  // A step of the cycle runs under the standard time-out (an erase's own longer one is its
  // command's), a block transfer under its own.
  if (next.blocks) {
    SendBlock(*next.blocks, send);
  } else {
    send();
  }
}

void ChannelLink::EndOperation(bool failed) {
  state_.EndOperation(failed);
  // Every end of an upgrade (its last block, a refusal, a time-out, a bad reply, a lost port)
  // leaves the channel idle.
  state_.upgrading = 0;
}

// ---------------------------------------------------------------------------------------------
// Block transfers

bool ChannelLink::BlockDone(const BlockTransfer& t) {
  if (t.settingsFirst && state_.dataPhase == 0) {
    // The settings are stored; the image follows block by block, its first block always.
    state_.dataPhase = 1;
    state_.blockIndex = 0;
    state_.gauge.progress = 1;
    return true;
  }
  state_.blockIndex = static_cast<std::uint16_t>(state_.blockIndex + p::kImageBlockStepKiB);
  // Past the last block the gauge stands one step beyond its maximum until the operation ends.
  state_.gauge.progress = state_.blockIndex + 1;
  return state_.blockIndex < state_.blockCount;
}

void ChannelLink::SendBlock(const BlockTransfer& t, const std::function<void()>& send) {
  send();
  state_.timeout = t.timeout;
}

// ---------------------------------------------------------------------------------------------
// Firmware upgrade

void ChannelLink::StartUpgrade(std::uint16_t startAddress, std::uint16_t endAddress) {
  constexpr std::uint32_t kUnits = p::FirmwareBlockRequest::kBlockUnits;
  state_.upgrading = 1;
  state_.connected = 1;
  state_.busy = 1;
  state_.pendingCommand = kPendingFirmwareUpgrade;
  state_.timeout = kUpgradeTimeout;
  state_.upgradeAddress = startAddress;
  // One block per kUnits address units up to the end address: the count announced to the
  // programmer is the number of blocks it will receive.
  const std::uint32_t span =
      endAddress > startAddress ? std::uint32_t{endAddress} - startAddress : 0;
  state_.upgradeBlocks =
      static_cast<std::uint16_t>(std::max<std::uint32_t>(1, (span + kUnits - 1) / kUnits));
  state_.gauge.enabled = true;
  state_.gauge.progress = 2;
  state_.gauge.maximum = state_.upgradeBlocks;
  state_.gauge.colour = GaugeColour::Blue;
}

bool ChannelLink::UpgradeBlockDone(std::uint16_t endAddress) {
  ++state_.gauge.progress;
  const std::uint32_t next =
      std::uint32_t{state_.upgradeAddress} + p::FirmwareBlockRequest::kBlockUnits;
  if (next >= endAddress) return false;
  state_.upgradeAddress = static_cast<std::uint16_t>(next);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Stand-alone work

void ChannelLink::StandAloneReport(const p::ProgressReport& report) {
  GaugeState& gauge = state_.gauge;
  switch (report.stage) {
    case p::kStageStart:
      gauge.progress = 5;
      gauge.maximum = 100;
      gauge.colour = GaugeColour::Blue;
      break;
    case p::kStageBlankCheck:
    case p::kStageErase:
    case p::kStageVerify:
    case p::kStageEepVerify:
    case p::kStageOptionBytes:
      gauge.progress = 50;
      gauge.maximum = 100;
      break;
    case p::kStageProgram:
    case p::kStageEepProgram:
      // Bounded by the maximum in force before this report's.
      gauge.progress = std::min<int>(report.value + 2, gauge.maximum);
      gauge.maximum = report.maximum;
      break;
    case p::kStageCompleted:
      if (report.result == p::kResultPartOk) {
        ++state_.okCount;
      } else {
        ++state_.ngCount;
        gauge.colour = GaugeColour::Red;
      }
      gauge.progress = gauge.maximum;
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// The 10 ms tick

LinkTick ChannelLink::Tick() {
  LinkTick tick;
  if (state_.restartAnswerDue > 0) {
    // No answer to the restart yet: what is held waits, and its time-out does not run.
    if (--state_.restartAnswerDue == 0) {
      buffers_.ResetReceive();
      ReleaseHeld();
    }
    return tick;
  }
  if (!state_.busy) return tick;
  const LinkOperation* op = host_.AwaitedOperation(state_.pendingCommand);
  if (op && op->timedGauge && state_.gauge.progress < state_.gauge.maximum) {
    ++state_.gauge.progress;
    tick.gaugeMoved = true;
  }
  tick.expired = --state_.timeout <= 0;
  if (tick.expired) tick.timeoutText = op ? op->timeoutText : kChipTimeoutText;
  return tick;
}

}  // namespace korvan
