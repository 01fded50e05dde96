#include "core/link/channel_link.h"

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
    if (op.timeout) state_.timeout = op.timeout(chip);
  });
}

void ChannelLink::ContinueAuto(const AutoTransition& move, const ChipRecord& chip) {
  state_.pendingCommand = move.next;
  state_.BeginOperation(move.gaugeMaximum(chip), chip.flashSizeKB);
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
