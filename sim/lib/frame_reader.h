// The programmer's frame reader: turns the bytes arriving on its serial line into the packets
// the station sent. Written on its own from the framing rules rather than with the station's
// receive path, so that a fault in either side's frame handling shows against the other.
//
// Framing: a frame is a start delimiter 0xC0, the packet with 0xC0 sent as DB DC and 0xDB as
// DB DD, and an end delimiter 0xC0 (the station follows it with five 0xFF). Outside a frame
// everything up to the next 0xC0 is noise and skipped. A delimiter that directly follows a
// start delimiter starts the frame afresh, so a run of delimiters opens one frame at its last.
// A frame is reported once its end delimiter arrives, however the bytes were split into reads:
//   - Ok: the unescaped packet (of any length; what a packet must hold is the caller's rule);
//   - BadEscape: DB followed by anything but DC, DD or the end delimiter (DB directly before
//     the end delimiter is dropped);
//   - TooLong: more packet bytes than the reader holds.
//
// Pure and without allocation: bytes in, callbacks out. One reader per line, one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvan::sim {

class FrameReader {
 public:
  static constexpr std::size_t kMaxPacket = 8192;

  enum class Status { Ok, BadEscape, TooLong };

  // Reads a block and calls `onFrame(Status, std::span<const std::uint8_t> packet)` for every
  // frame that ends in it, in order; the packet is empty unless the status is Ok and is valid
  // during the call only. A frame left open waits for the next block.
  template <typename OnFrame>
  void Read(std::span<const std::uint8_t> block, OnFrame&& onFrame) {
    for (const std::uint8_t b : block) {
      if (Step(b)) {
        const Status status = status_;
        onFrame(status, status == Status::Ok
                            ? std::span<const std::uint8_t>(packet_.data(), length_)
                            : std::span<const std::uint8_t>());
      }
    }
  }

 private:
  enum class State {
    Outside,  // between frames: waiting for a start delimiter
    Opened,   // start delimiter seen, nothing after it yet
    Inside,   // packet bytes
    Escape,   // the byte after DB
  };

  // Takes one byte; true when it ended a frame.
  bool Step(std::uint8_t b);
  void Put(std::uint8_t b);

  std::array<std::uint8_t, kMaxPacket> packet_{};
  std::size_t length_ = 0;
  State state_ = State::Outside;
  Status status_ = Status::Ok;
};

}  // namespace korvan::sim
