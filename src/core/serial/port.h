// `Port`: what a channel needs of the line to its programmer.
//
// The station talks to a programmer through one Port per channel. `TComm` is the Port of a real
// serial device (or an emulator's pseudo-terminal); the emulator also offers in-process Ports
// wired straight to its programmer model, which run under a virtual clock.
//
// The contract every Port keeps, whatever carries the bytes:
// - One thread, the owner's, calls every function and runs every handler.
// - Handlers are never run from inside a call of the owner's (OpenPort, ClosePort, SendBlock):
//   received bytes, line errors and hang-ups come later, each as one call of its handler, in
//   the order they happened on the line.
// - `SendBlock` queues a copy of the bytes and returns at once; blocks go out whole and in the
//   order queued. It queues nothing and returns false when the port is closed or `length` is 0.
// - A received block is whatever the line delivered, 1 to 2048 bytes, with no regard for
//   frames; its bytes belong to the port and are gone when the handler returns.
// - `ClosePort` may be called from inside a handler; after it no handler of that opening runs
//   any more (in particular a hang-up reported before the close is not raised).
// - `OpenPort` throws `ECommsError` when the port cannot be opened, "This serial port already
//   opened" when it is open already; a failed open leaves the port closed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "core/serial/low_latency.h"

namespace korvan {

class EventQueue;

// The one error a port raises: a port that cannot be opened.
class ECommsError : public std::runtime_error {
 public:
  // `systemError` is the errno behind the failure, 0 when there is none.
  explicit ECommsError(const std::string& message, int systemError = 0)
      : std::runtime_error(message), systemError_(systemError) {}
  int SystemError() const { return systemError_; }

 private:
  int systemError_;
};

// What a port tells its owner; each is optional.
struct PortHandlers {
  // Received bytes.
  std::function<void(std::span<const std::uint8_t> block)> received;
  // A line error (the kLineError* flags of tcomm.h).
  std::function<void(std::uint32_t flags)> lineError;
  // The device is gone (an adapter pulled out, the far side closed).
  std::function<void()> hangup;
};

class Port {
 public:
  virtual ~Port() = default;

  // The device the next OpenPort opens.
  virtual const std::string& CommName() const = 0;
  virtual void SetCommName(const std::string& value) = 0;

  virtual void OpenPort() = 0;
  // Does nothing when the port is not open.
  virtual void ClosePort() = 0;
  virtual bool IsOpen() const = 0;
  virtual bool SendBlock(const void* buffer, std::uint16_t length) = 0;
  // True when nothing is waiting to be sent (advisory).
  virtual bool SendQueueEmpty() const = 0;

  // Replaces the handlers; call before OpenPort.
  virtual void SetHandlers(PortHandlers handlers) = 0;

  // How the next OpenPort reaches the driver and sysfs to ask for low latency. A port with no
  // latency to lower (an emulator's in the same process) ignores it; a port wrapping another
  // passes it on.
  virtual void SetLowLatencyAccess(LowLatencyAccess access) { (void)access; }
  // What the last OpenPort did about the line's latency; nullptr for a port without one.
  virtual const LatencyResult* LineLatency() const { return nullptr; }
};

// Makes the port of channel `channel` (1..4); its events are raised through `events`, the queue
// the owner's thread drains (a port that raises them otherwise may ignore it).
using PortFactory = std::function<std::unique_ptr<Port>(EventQueue& events, int channel)>;

// The programmers' serial line: a TComm at 1,000,000 baud 8N2 without flow control.
std::unique_ptr<Port> MakeProgrammerSerialPort(EventQueue& events, int channel);

}  // namespace korvan
