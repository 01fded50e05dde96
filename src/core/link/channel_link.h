// One channel's link to its programmer: the port, the receive path with its frame cutter, the
// request path, the wait for a restart's answer with the requests held meanwhile, the
// channel's share of the 10 ms tick, and the channel's state, which only the link assigns: the
// programmer found on the port, the operations it runs (begin and end, the block transfers,
// the firmware upgrade, the Auto cycle's moves) and the stand-alone results it reports. The
// links live in the run's link engine (link_engine.h); a station runs its operations over its
// four; what a frame means and what the job does with it is the station's business (LinkHost).
//
// Threading: the station's thread only. The port's reader thread posts its blocks to the
// engine's event queue; they reach Receive from there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/link/channel.h"
#include "core/link/operation.h"
#include "core/protocol/codec.h"
#include "core/protocol/replies.h"
#include "core/serial/port.h"

namespace korvan {

// How the tick went for a channel.
struct LinkTick {
  bool gaugeMoved = false;            // the gauge of an operation without progress of its own moved
  bool expired = false;               // the operation's time-out ran out: it ends now
  const char* timeoutText = nullptr;  // ... and its panel line, %d the channel
};

// What a channel's link needs of the station it serves.
class LinkHost {
 public:
  virtual ~LinkHost() = default;
  // True while a question, dialog or file choice is open: every link stalls, received blocks
  // wait and no tick counts, until it is answered.
  virtual bool LinksStalled() const = 0;
  // A complete frame for channel `channel` that is not the answer to a restart: an identity
  // reply or a reply to the channel's operation.
  virtual void FrameReceived(int channel, std::span<const std::uint8_t> frame) = 0;
  // A progress report of stand-alone work (decoded: `packet`) that came while a restart's
  // answer was awaited: the programmer is already at work on its own, and the wait goes on.
  virtual void StandAloneReportReceived(int channel, std::span<const std::uint8_t> packet) = 0;
  // The operation whose replies come under `pending`; nullptr when none awaits them.
  virtual const LinkOperation* AwaitedOperation(std::uint8_t pending) const = 0;

  // The 10 ms tick of the host's channels (LinkEngine::TickHost): first the blocks that waited
  // while the links stalled are taken,
  virtual void BeforeTick() {}
  // then each channel whose operation's time-out ran out (`tick`) is told so and ends,
  virtual void ChannelTimedOut(int /*channel*/, const LinkTick& /*tick*/) {}
  // and last the tick is over; `gaugesMoved` when a gauge moved with it.
  virtual void AfterTick(bool /*gaugesMoved*/) {}
};

class ChannelLink {
 public:
  ChannelLink(int number, std::unique_ptr<Port> port, LinkHost& host);
  ~ChannelLink();
  ChannelLink(const ChannelLink&) = delete;
  ChannelLink& operator=(const ChannelLink&) = delete;

  int number() const { return number_; }
  Port& port() { return *port_; }
  protocol::LinkBuffers& buffers() { return buffers_; }
  const ChannelSnapshot& snapshot() const { return state_; }
  const ChannelState& state() const { return state_; }
  // For tests and fuzzers that put a channel into a given state before they drive it.
  ChannelState& StateForTest() { return state_; }

  // --- Receive path ---
  // True while a block is being cut into frames (a frame's handler may raise a question or
  // receive again): a block arriving then waits (Defer) and is handled right after.
  bool receiving() const { return receiving_; }
  void Defer(std::span<const std::uint8_t> block);
  // The blocks that waited, taken out in the order they came.
  std::vector<std::uint8_t> TakeDeferred();
  bool HasDeferred() const { return !deferred_.empty(); }
  // Cuts `block` into frames and hands each to the host (a restart's answer is taken here).
  // Every block restarts the time-out. Blocks deferred meanwhile follow while the links do not
  // stall.
  void Receive(std::span<const std::uint8_t> block);
  // The bytes of an unfinished frame go.
  void ResetReceive() { buffers_.ResetReceive(); }
  // Before a new command: the bytes of an earlier exchange go, unless a restart's answer is due
  // (its first bytes may already be here; they stay, so that its frame completes).
  void DropStaleBytes();

  // --- The channel's port and programmer ---
  // The channel is bound to the port `name` (the port takes the name); the identity of a
  // programmer found before is forgotten.
  void BindPort(const std::string& name);
  // The channel has no port: the port arrangement left it without one.
  void ForgetPort() { state_.portName.clear(); }
  // The programmer found before is forgotten: not connected, no identity.
  void ForgetProgrammer();
  // Not connected; the identity reply may take `timeout` ticks.
  void AwaitIdentity(std::int16_t timeout);
  // The programmer on the port named itself `identity`.
  void SetIdentity(const std::string& identity) { state_.identity = identity; }
  // The programmer answered and is ready: connected, no command pending, its gauge enabled.
  void SetConnected();
  // No programmer the station works with answered.
  void SetNotConnected() { state_.connected = 0; }
  // The port is gone (after Hangup and the end of its operation): not connected, the gauge
  // disabled.
  void ProgrammerGone();

  // --- Line events and resets ---
  // A line error: the unfinished frame goes, the channel is no longer busy or upgrading, and
  // the requests held for a busy channel go. Returns whether an operation was running.
  bool LineError();
  // The port is gone: closed, no restart answer awaited, nothing held.
  void Hangup();
  // Not at work: not busy, not upgrading, no restart answer awaited, nothing held, the gauge
  // disabled and empty.
  void ResetView();
  // Before the channel takes a port afresh: the port closed, the unfinished frame gone, not
  // connected, no restart answer awaited, nothing held, `timeout` ticks for the identity reply.
  void Disconnect(std::int16_t timeout);
  // Before the ports are listed afresh: the unfinished frame gone, not at work (ResetView), the
  // port closed.
  void Release();
  // At start-up: not connected, no Auto cycle, not busy, no blocks.
  void ResetAtStart();

  // --- Requests ---
  // Frames the packet of `length` bytes in the packet buffer and queues it on the port; a
  // closed port takes nothing (the operation then ends by its time-out).
  void SendPacket(std::size_t length);
  // Builds `request` (a protocol request type) in the packet buffer and sends it.
  template <typename Request>
  void Send(const Request& request) {
    SendPacket(request.Build(buffers_.packet));
  }
  // The identity request, a whole frame as it stands.
  void SendIdentityRequest();
  // The restart request was sent: the next frame is its answer and is set aside, or none is
  // expected once kRestartAnswerWait ticks pass without one.
  void ExpectRestartAnswer() { state_.restartAnswerDue = kRestartAnswerWait; }
  // Runs `send` (the first request of a command) now, or, while a restart's answer is due,
  // once it came or its wait ended.
  void SendWhenFree(std::function<void()> send);

  // --- Operations ---
  // An operation begins on the channel: the stale bytes dropped where `op` says so, its pending
  // command and Auto flag, busy, the gauge at 1 of its maximum for `chip`.
  void BeginOperation(const LinkOperation& op, const ChipRecord& chip);
  // Then its first request: `send` and `op`'s time-out, at once or once a restart's answer
  // came. `op` and `chip` must outlive the wait (the station's rows and chip record do).
  void SendFirstRequest(const LinkOperation& op, const ChipRecord& chip,
                        std::function<void()> send);
  // The gauge of the operation just begun shows `progress` (one that reports nothing of its
  // own may start part way).
  void MoveGauge(int progress) { state_.gauge.progress = progress; }
  // An Auto cycle goes on with `move`: the operation awaiting its next command, `next`, the
  // gauge at 1 of its maximum; then `send` (its first request), with the time-out of its block
  // transfer, if it is one.
  void ContinueAuto(const AutoTransition& move, const LinkOperation& next, const ChipRecord& chip,
                    const std::function<void()>& send);
  // The operation ends (its last reply, a failure, a time-out, a lost port): idle, not
  // upgrading, the gauge full, red when `failed`.
  void EndOperation(bool failed);
  // How the operation ended, kept as the channel's lastOutcome.
  void KeepOutcome(const OperationOutcome& outcome) { state_.lastOutcome = outcome; }

  // --- Block transfers (download, program, verify, read) ---
  // The reply to a block of `t` counted (see ReadBlockReply): the next block is due, or the
  // first one after the settings. Moves the block index and the gauge; true when another
  // request is due, false when the last block is done.
  bool BlockDone(const BlockTransfer& t);
  // Sends a request of `t` (`send` builds it from the channel's block index and data phase)
  // and gives it the transfer's time-out.
  void SendBlock(const BlockTransfer& t, const std::function<void()>& send);

  // --- Firmware upgrade ---
  // The upgrade starts: connected, busy and upgrading under kPendingFirmwareUpgrade, one block
  // per FirmwareBlockRequest::kBlockUnits address units from `startAddress` up to
  // `endAddress` (at least one), the gauge at 2 of the block count, kUpgradeTimeout ticks.
  void StartUpgrade(std::uint16_t startAddress, std::uint16_t endAddress);
  // The programmer took the block in flight: the gauge moves on; true when another block is
  // due below `endAddress` (upgradeAddress then names it), false when that was the last.
  bool UpgradeBlockDone(std::uint16_t endAddress);

  // --- Stand-alone work ---
  // A progress report of the programmer's own work: the gauge follows its stage, and a
  // completed part counts as OK or NG on the channel (NG turns the gauge red).
  void StandAloneReport(const protocol::ProgressReport& report);

  // --- The 10 ms tick ---
  // Counts the restart wait, else the running operation's time-out; the gauge of an operation
  // that reports no progress of its own moves with it.
  LinkTick Tick();

 private:
  void HandleFrame(std::span<const std::uint8_t> frame);
  // The restart's answer came or its wait ended: the held requests go out, in order, until one
  // of them is a restart again.
  void ReleaseHeld();

  int number_;
  LinkHost& host_;
  ChannelState state_;
  protocol::LinkBuffers buffers_;
  std::unique_ptr<Port> port_;
  bool receiving_ = false;
  std::vector<std::uint8_t> deferred_;
};

}  // namespace korvan
