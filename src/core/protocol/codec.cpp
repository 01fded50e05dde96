#include "core/protocol/codec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/protocol/constants.h"

namespace korvan::protocol {

namespace {

// True when any of the eight bytes in v is 0xC0 or 0xDB (may also say so, harmlessly, for a
// byte next to one that is).
inline bool HasDelimiterOrEscape(std::uint64_t v) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
  const std::uint64_t a = v ^ (kOnes * kFrameEnd);
  const std::uint64_t b = v ^ (kOnes * kFrameEscape);
  return (((a - kOnes) & ~a) | ((b - kOnes) & ~b)) & kHigh;
}

inline std::uint64_t Load8(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

std::size_t AppendPacketCrc(std::span<std::uint8_t> packet, std::size_t count) {
  if (count == 0 || count + 2 > packet.size()) return 0;
  const std::uint16_t crc = PacketCrc(packet.first(count));
  packet[count] = static_cast<std::uint8_t>(crc & 0xFF);
  packet[count + 1] = static_cast<std::uint8_t>(crc >> 8);
  return count + 2;
}

std::uint16_t EncodePacket(std::span<const std::uint8_t> packet, std::span<std::uint8_t> frame) {
  const std::size_t n = packet.size();
  if (n == 0 || n + 2 + kFrameTrailerLength > frame.size()) return 0;
  const std::uint8_t* in = packet.data();
  std::uint8_t* out = frame.data();
  std::size_t w = 0;
  std::size_t i = 0;
  out[w++] = kFrameEnd;
  // With room for every byte escaped, runs of eight plain bytes are copied whole; a frame
  // buffer shorter than that is checked byte by byte.
  if (2 * n + 2 + kFrameTrailerLength <= frame.size()) {
    for (; i + 8 <= n; i += 8) {
      const std::uint64_t v = Load8(in + i);
      if (!HasDelimiterOrEscape(v)) {
        std::memcpy(out + w, &v, 8);
        w += 8;
        continue;
      }
      for (std::size_t k = i; k < i + 8; ++k) {
        const std::uint8_t b = in[k];
        if (b == kFrameEnd || b == kFrameEscape) {
          out[w++] = kFrameEscape;
          out[w++] = b == kFrameEnd ? kEscapedEnd : kEscapedEscape;
        } else {
          out[w++] = b;
        }
      }
    }
  }
  const std::size_t bodyLimit = frame.size() - 1 - kFrameTrailerLength;
  for (; i < n; ++i) {
    const std::uint8_t b = in[i];
    if (b == kFrameEnd || b == kFrameEscape) {
      if (w + 2 > bodyLimit) return 0;
      out[w++] = kFrameEscape;
      out[w++] = b == kFrameEnd ? kEscapedEnd : kEscapedEscape;
    } else {
      if (w + 1 > bodyLimit) return 0;
      out[w++] = b;
    }
  }
  out[w++] = kFrameEnd;
  for (std::size_t k = 0; k < kFrameTrailerLength; ++k) out[w++] = 0xFF;
  if (w > 0xFFFF) return 0;
  return static_cast<std::uint16_t>(w);
}

DecodeResult DecodeFrame(std::span<const std::uint8_t> frame, std::span<std::uint8_t> packet) {
  const std::size_t n = frame.size();
  std::size_t i = 0;
  while (i < n && frame[i] != kFrameEnd) ++i;
  if (i == n) return {kStatusIncomplete, 0, 0};
  ++i;
  if (i < n && frame[i] == kFrameEnd) ++i;

  std::size_t w = 0;
  while (i < n) {
    // Runs of eight plain bytes are copied whole.
    if (i + 8 <= n && w + 8 <= packet.size()) {
      const std::uint64_t v = Load8(frame.data() + i);
      if (!HasDelimiterOrEscape(v)) {
        std::memcpy(packet.data() + w, &v, 8);
        i += 8;
        w += 8;
        continue;
      }
    }
    std::uint8_t b = frame[i++];
    if (b == kFrameEnd) {
      if (w < kPacketHeaderSize) return {kStatusBadPacket, 0, i};
      return {kStatusOk, w, i};
    }
    if (b == kFrameEscape) {
      if (i == n) break;  // the frame ends inside an escape: incomplete
      const std::uint8_t e = frame[i];
      if (e == kFrameEnd) continue;  // DB directly before the end delimiter is dropped
      ++i;
      if (e == kEscapedEnd) {
        b = kFrameEnd;
      } else if (e == kEscapedEscape) {
        b = kFrameEscape;
      } else {
        return {kStatusBadPacket, 0, i < n ? i : 0};
      }
    }
    // A frame that decodes to more than the packet buffer holds cannot be a reply.
    if (w == packet.size()) return {kStatusBadPacket, 0, 0};
    packet[w++] = b;
  }
  return {kStatusIncomplete, 0, 0};
}

std::uint8_t CheckReply(std::span<const std::uint8_t> packet) {
  const std::size_t n = packet.size();
  // The receive path hands over at least a header's worth; anything shorter is no reply.
  if (n < kPacketHeaderSize) return kStatusBadPacket;
  const std::uint16_t stored =
      static_cast<std::uint16_t>(packet[n - 2] | (static_cast<std::uint16_t>(packet[n - 1]) << 8));
  if (PacketCrc(packet.first(n - 2)) != stored) return kStatusCrcMismatch;
  const std::uint16_t bodyLength =
      static_cast<std::uint16_t>(packet[6] | (static_cast<std::uint16_t>(packet[7]) << 8));
  if (bodyLength != 1) return kStatusOk;
  // Header, status byte and CRC: anything shorter would read the CRC as the status.
  if (n < kPacketHeaderSize + 3) return kStatusBadPacket;
  return packet[kPacketHeaderSize];
}

bool LinkBuffers::CutFrame(std::size_t& p) {
  const std::size_t count = receiveCount_;
  while (p < count) {
    if (receive_[p] != kFrameEnd) {
      ++p;
      continue;
    }
    cut_[0] = kFrameEnd;
    cutLength_ = 1;
    ++p;
    if (p < count && receive_[p] == kFrameEnd) {
      cutLength_ = 0;
      continue;
    }
    // Copy up to and including the end delimiter.
    const std::uint8_t* begin = receive_.data() + p;
    const void* end = std::memchr(begin, kFrameEnd, count - p);
    if (end == nullptr) {
      p = count;
      return false;
    }
    const std::size_t length = static_cast<const std::uint8_t*>(end) - begin + 1;
    std::memcpy(cut_.data() + 1, begin, length);
    cutLength_ = 1 + length;
    p += length;
    return true;
  }
  return false;
}

void LinkBuffers::Append(std::span<const std::uint8_t> block) {
  if (block.size() > kReceiveBufferSize) block = block.last(kReceiveBufferSize);
  // Drop what was buffered rather than the new block: a partial frame that never completed
  // is worth less than fresh bytes.
  if (receiveCount_ + block.size() > kReceiveBufferSize) receiveCount_ = 0;
  if (!block.empty()) std::memcpy(receive_.data() + receiveCount_, block.data(), block.size());
  receiveCount_ = static_cast<std::uint16_t>(receiveCount_ + block.size());
}

void LinkBuffers::Compact(std::size_t consumed) {
  if (consumed >= receiveCount_) {
    receiveCount_ = 0;
    return;
  }
  const std::size_t rest = receiveCount_ - consumed;
  if (consumed > 0) std::memmove(receive_.data(), receive_.data() + consumed, rest);
  receiveCount_ = static_cast<std::uint16_t>(rest);
}

}  // namespace korvan::protocol
