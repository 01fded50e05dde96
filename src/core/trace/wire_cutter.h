// The wire trace's reading of one direction of one channel's line: bytes in, one JSON line
// (JSON Lines, no newline) per piece out.
//
// A piece is a frame (start delimiter through end delimiter, with the five 0xFF of the trailer
// where they follow it in the same block), noise (bytes outside any frame, a run of delimiters
// but its last, a frame longer than any packet, a frame left open when the line closes or hangs
// up), the rest of a trailer that came in a later block, or an event of the line (open, close,
// hang-up, line error). Every byte that crossed the line is in exactly one piece, in order.
//
// The cutter is the trace's own, not the station's receive path: it keeps what the station
// drops (noise, cut frames) and never touches the station's buffers. Pure and single-threaded:
// the trace's writer thread runs one per direction per channel.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

namespace korvan::trace {

// Which way the bytes went.
enum class Direction { ToProgrammer, FromProgrammer };
// "pc>prog" or "prog>pc", as the trace file writes it.
const char* DirectionText(Direction direction);

// Frames whose packet body is longer than this are written as their header, lengths and CRC
// verdict unless the trace is full.
inline constexpr std::size_t kSummaryBodyBytes = 64;

class WireCutter {
 public:
  using Sink = std::function<void(std::string line)>;

  // `channel` as its front end numbers it (1..N), `port` the device path shown.
  WireCutter(int channel, std::string port, Direction direction, bool full);

  // One block as it crossed the line at `time` (seconds on the monotonic clock): every piece
  // that ends in it goes to `sink`; a frame still open waits for the next block.
  void Feed(double time, std::span<const std::uint8_t> block, const Sink& sink);

  // The line closed or hung up at `time`: a frame still open is written as noise ("cut").
  void Cut(double time, const Sink& sink);

  // An event line of this channel and port: "open", "close", "hangup", "line-error" (with its
  // flags), "lost" (with the byte count the trace had to drop).
  std::string EventLine(double time, const char* kind, std::uint64_t value = 0) const;

 private:
  enum class State { Outside, InFrame, Trailer };

  void EmitNoise(double time, const char* reason, const Sink& sink);
  void EmitFrame(double time, const Sink& sink);

  int channel_;
  std::string port_;
  Direction direction_;
  bool full_;
  State state_ = State::Outside;
  std::vector<std::uint8_t> frame_;  // the frame being cut, delimiters (and trailer) included
  std::vector<std::uint8_t> noise_;  // bytes outside frames not yet written
  bool frameDone_ = false;           // frame_ ends in its end delimiter (trailer may follow)
  int trailerLeft_ = 0;              // 0xFF bytes of the trailer still expected
};

// What a frame (its raw bytes, delimiters and trailer included) says, as the fields of its
// trace line: command or status (hex) and name (the protocol's, names.h), parameter, body length,
// CRC verdict ("ok", "bad", or "none" where the packet carries none: identity frames, progress
// reports, frames that do not decode), wire length, and the raw bytes in hex, or only the packet
// header
// ("head") when the body is longer than kSummaryBodyBytes and the trace is not full.
nlohmann::ordered_json DescribeFrame(std::span<const std::uint8_t> frame, Direction direction,
                                     bool full);

}  // namespace korvan::trace
