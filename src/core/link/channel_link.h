// One channel's link to its programmer: the port, the receive path with its frame cutter, the
// request path, the wait for a restart's answer with the requests held meanwhile, and the
// channel's share of the 10 ms tick. The station owns one per channel and runs its operations
// over them; what a frame means is the station's business (LinkHost).
//
// Threading: the station's thread only. The port's reader thread posts its blocks to the
// station's event queue; they reach Receive from there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "core/link/channel.h"
#include "core/link/operation.h"
#include "core/protocol/codec.h"
#include "core/serial/port.h"

namespace korvan {

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
};

// How the tick went for a channel.
struct LinkTick {
  bool gaugeMoved = false;            // the gauge of an operation without progress of its own moved
  bool expired = false;               // the operation's time-out ran out: it ends now
  const char* timeoutText = nullptr;  // ... and its panel line, %d the channel
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
  // For the station's command and reply steps, which run the channel's operations.
  ChannelState& state() { return state_; }
  const ChannelState& state() const { return state_; }

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
  // An Auto cycle goes on with `move`: the operation awaiting its next command, the gauge at 1
  // of its maximum. The station sends the step's first request.
  void ContinueAuto(const AutoTransition& move, const ChipRecord& chip);

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
