// The packet codec: packet CRCs (core/model/checksum.h), frames on the wire, and the per-channel
// receive path.
//
// A packet is an 8-byte header (command, 16-bit parameter, chip identity, 16-bit body length),
// a body and a 16-bit CRC, little-endian. On the wire it travels as a frame: 0xC0, the packet
// with 0xC0 sent as DB DC and 0xDB as DB DD, 0xC0, then five 0xFF.
//
// Everything here is pure: bytes in, bytes out, no I/O, no clock and no allocation. Callers
// own every buffer; a channel's buffers live in its `LinkBuffers` for the whole run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/model/checksum.h"

namespace korvan::protocol {

inline constexpr std::size_t kPacketHeaderSize = 8;
inline constexpr std::size_t kPacketBufferSize = 8192;
// Twice the largest packet (the 4170-byte program request) plus the delimiters and trailer.
inline constexpr std::size_t kFrameBufferSize = 8347;
inline constexpr std::size_t kReceiveBufferSize = 16384;
inline constexpr std::size_t kCutFrameBufferSize = 16384;

inline constexpr std::uint8_t kFrameEnd = 0xC0;
inline constexpr std::uint8_t kFrameEscape = 0xDB;
inline constexpr std::uint8_t kEscapedEnd = 0xDC;      // DB DC stands for C0
inline constexpr std::uint8_t kEscapedEscape = 0xDD;   // DB DD stands for DB
inline constexpr std::size_t kFrameTrailerLength = 5;  // 0xFF bytes after the end delimiter

// Writes the CRC of packet[0..count-1] at packet[count] (low byte) and packet[count+1] and
// returns count + 2, the packet's full length. Returns 0, writing nothing, when count is 0 or
// the packet has no room for the two bytes.
std::size_t AppendPacketCrc(std::span<std::uint8_t> packet, std::size_t count);

// Encodes `packet` (at least one byte) as a frame into `frame` and returns the frame length:
// between packet.size() + 7 and 2 * packet.size() + 7. Returns 0, leaving `frame` in an
// unspecified state, when the packet is empty or the frame does not fit.
std::uint16_t EncodePacket(std::span<const std::uint8_t> packet, std::span<std::uint8_t> frame);

// The outcome of decoding one frame.
struct DecodeResult {
  // kStatusOk (0x00): a packet of at least 8 bytes; kStatusIncomplete (0x20): no end
  // delimiter; kStatusBadPacket (0x2A): a bad escape, fewer than 8 bytes, or a packet longer
  // than the packet buffer.
  std::uint8_t code = 0;
  // Decoded packet bytes written to the packet buffer (0 unless code is kStatusOk).
  std::size_t length = 0;
  // Frame bytes used up, for a caller decoding from the front of a longer buffer: through
  // the end delimiter on success, through the offending byte on a bad escape, none when the
  // frame is incomplete.
  std::size_t consumed = 0;
};

// Decodes one frame: skips everything through the first 0xC0 (and one more 0xC0 directly
// after it), then unescapes into `packet` up to the next 0xC0.
DecodeResult DecodeFrame(std::span<const std::uint8_t> frame, std::span<std::uint8_t> packet);

// Checks a decoded reply of packet.size() bytes: kStatusCrcMismatch (0x23) when its last two
// bytes are not the CRC of the rest; otherwise the status byte at offset 8 when the body
// length at offset 6 is 1, else 0. A reply shorter than a header, or one that announces a
// status byte but is too short to hold it, gives kStatusBadPacket.
std::uint8_t CheckReply(std::span<const std::uint8_t> packet);

// One channel's link buffers and its receive path. About 49 KiB: keep it in long-lived
// storage, not on the stack. Used on one thread only (the station's, or the emulator's).
class LinkBuffers {
 public:
  // Requests are assembled here and replies decoded here, overwriting the last request.
  std::array<std::uint8_t, kPacketBufferSize> packet{};
  // The encoded frame of the packet being sent.
  std::array<std::uint8_t, kFrameBufferSize> frame{};

  // Bytes received and not yet consumed.
  std::span<const std::uint8_t> Pending() const { return {receive_.data(), receiveCount_}; }
  std::uint16_t ReceiveCount() const { return receiveCount_; }
  // Drops every received byte not yet consumed (a new exchange begins).
  void ResetReceive() { receiveCount_ = 0; }

  // The frame found by the last successful CutFrame, delimiters included.
  std::span<const std::uint8_t> CutFrameBytes() const { return {cut_.data(), cutLength_}; }

  // Appends a received block and hands every complete frame in the buffer, in order, to
  // `onFrame(std::span<const std::uint8_t> frame)`; the span is valid during the call only.
  // The unconsumed tail (a partial frame and whatever precedes it) moves to the front and
  // waits for the next block. A block that would overflow the buffer replaces what was
  // buffered, so a stream without frames can never wedge the channel.
  template <typename OnFrame>
  void ReceiveData(std::span<const std::uint8_t> block, OnFrame&& onFrame) {
    Append(block);
    std::size_t p = 0;
    for (;;) {
      const std::size_t before = p;
      if (!CutFrame(p)) {
        p = before;
        break;
      }
      onFrame(CutFrameBytes());
    }
    Compact(p);
  }

  // Cuts the next frame out of the receive buffer from position p (updated) into the
  // cut-frame buffer. A run of delimiters leaves only its last one as the start of the frame.
  // Returns false when the receive count is reached before an end delimiter.
  bool CutFrame(std::size_t& p);

 private:
  void Append(std::span<const std::uint8_t> block);
  void Compact(std::size_t consumed);

  std::array<std::uint8_t, kReceiveBufferSize> receive_{};
  std::array<std::uint8_t, kCutFrameBufferSize> cut_{};
  std::uint16_t receiveCount_ = 0;
  std::size_t cutLength_ = 0;
};

}  // namespace korvan::protocol
