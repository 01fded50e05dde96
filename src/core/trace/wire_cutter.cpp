#include "core/trace/wire_cutter.h"

#include <cstdio>
#include <numeric>

#include "core/model/checksum.h"
#include "core/protocol/codec.h"
#include "core/protocol/constants.h"
#include "core/protocol/names.h"
#include "core/protocol/replies.h"

namespace korvan::trace {

namespace p = korvan::protocol;
using Json = nlohmann::ordered_json;

namespace {

// Longer than the largest frame any side sends (a program request escaped throughout): what
// runs longer without an end delimiter is not a frame.
constexpr std::size_t kMaxFrameBytes = p::kCutFrameBufferSize;

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

std::string Hex8(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string Hex16(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

// Unescapes the packet between the frame's first delimiter and its last. False on a bad escape
// (DB followed by anything but DC or DD; DB right before the end delimiter is dropped, as the
// station drops it).
bool Unescape(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& packet) {
  std::size_t begin = 0;
  while (begin < frame.size() && frame[begin] != p::kFrameEnd) ++begin;
  std::size_t end = frame.size();
  while (end > begin + 1 && frame[end - 1] != p::kFrameEnd) --end;
  for (std::size_t i = begin + 1; i + 1 < end; ++i) {
    if (frame[i] != p::kFrameEscape) {
      packet.push_back(frame[i]);
      continue;
    }
    if (i + 2 == end) break;
    const std::uint8_t next = frame[++i];
    if (next == p::kEscapedEnd) {
      packet.push_back(p::kFrameEnd);
    } else if (next == p::kEscapedEscape) {
      packet.push_back(p::kFrameEscape);
    } else {
      return false;
    }
  }
  return true;
}

const char* CrcVerdict(std::span<const std::uint8_t> packet) {
  if (packet.size() < p::kPacketHeaderSize + 2) return "none";
  const std::size_t n = packet.size();
  return p::PacketCrc(packet.first(n - 2)) == Le16(packet, n - 2) ? "ok" : "bad";
}

bool IsIdentity(std::span<const std::uint8_t> packet) {
  return packet.size() >= p::kIdentitySignature.size() &&
         std::equal(p::kIdentitySignature.begin(), p::kIdentitySignature.end(), packet.begin());
}

// A stand-alone progress report: 8 bytes adding up to 0, the first one 0.
bool IsProgressReport(std::span<const std::uint8_t> packet) {
  return packet.size() == p::kPacketHeaderSize && packet[0] == 0 &&
         static_cast<std::uint8_t>(std::accumulate(packet.begin(), packet.end(), 0u)) == 0;
}

std::string FormatTime(double time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", time);
  return text;
}

}  // namespace

const char* DirectionText(Direction direction) {
  return direction == Direction::ToProgrammer ? "pc>prog" : "prog>pc";
}

Json DescribeFrame(std::span<const std::uint8_t> frame, Direction direction, bool full) {
  Json j;
  j["kind"] = "frame";
  std::vector<std::uint8_t> packet;
  const bool decoded = Unescape(frame, packet);
  const std::span<const std::uint8_t> pk(packet);
  bool summarise = false;
  if (!decoded) {
    j["error"] = "bad-escape";
    j["crc"] = "none";
  } else if (IsIdentity(pk)) {
    j[direction == Direction::ToProgrammer ? "command" : "status"] = Hex8(pk[0]);
    j["name"] = "identity";
    if (direction == Direction::FromProgrammer) {
      std::string text;
      for (std::size_t i = p::kIdentityTextOffset;
           i < pk.size() && text.size() < p::kIdentityTextMax && pk[i] >= 0x20 && pk[i] < 0x80;
           ++i) {
        text += static_cast<char>(pk[i]);
      }
      j["identity"] = text;
    }
    j["crc"] = "none";
  } else if (direction == Direction::FromProgrammer && IsProgressReport(pk)) {
    j["name"] = "progress";
    j["stage"] = Hex8(pk[1]);
    j["result"] = Hex8(pk[2]);
    j["value"] = Le16(pk, 3);
    j["maximum"] = Le16(pk, 5);
    j["crc"] = "none";
  } else if (pk.size() < p::kPacketHeaderSize) {
    j["error"] = "short";
    j["crc"] = "none";
  } else {
    const std::uint16_t bodyLength = Le16(pk, 6);
    if (direction == Direction::ToProgrammer) {
      const std::uint16_t parameter = Le16(pk, 1);
      j["command"] = Hex8(pk[0]);
      if (auto name = p::CommandName(pk[0], parameter); !name.empty())
        j["name"] = std::string(name);
      j["param"] = Hex16(parameter);
    } else {
      // A reply echoes the request's command; its body starts with the status.
      j["command"] = Hex8(pk[0]);
      if (bodyLength >= 1 && pk.size() > p::kReplyDataOffset) {
        const std::uint8_t status = pk[p::kReplyDataOffset];
        j["status"] = Hex8(status);
        if (auto name = p::StatusName(status); !name.empty()) j["name"] = std::string(name);
      }
    }
    j["body"] = bodyLength;
    j["crc"] = CrcVerdict(pk);
    if (pk.size() != std::size_t{bodyLength} + p::kPacketHeaderSize + 2) {
      j["packet"] = pk.size();  // the body length does not match what came
    }
    summarise = !full && bodyLength > kSummaryBodyBytes;
  }
  j["bytes"] = frame.size();
  if (summarise) {
    j["head"] = Hex(pk.first(p::kPacketHeaderSize));
  } else {
    j["raw"] = Hex(frame);
  }
  return j;
}

WireCutter::WireCutter(int channel, std::string port, Direction direction, bool full)
    : channel_(channel), port_(std::move(port)), direction_(direction), full_(full) {}

namespace {

// {"t":…,"channel":…,"port":…,"dir":…, then the fields of `rest`.
std::string Line(double time, int channel, const std::string& port, Direction direction,
                 const Json& rest) {
  Json head;
  head["channel"] = channel;
  head["port"] = port;
  head["dir"] = DirectionText(direction);
  std::string line = "{\"t\":" + FormatTime(time) + ",";
  std::string h = head.dump(-1, ' ', false, Json::error_handler_t::replace);
  line.append(h, 1, h.size() - 2);
  if (!rest.empty()) {
    const std::string r = rest.dump(-1, ' ', false, Json::error_handler_t::replace);
    line += ',';
    line.append(r, 1, r.size() - 2);
  }
  line += '}';
  return line;
}

}  // namespace

std::string WireCutter::EventLine(double time, const char* kind, std::uint64_t value) const {
  Json rest;
  rest["kind"] = kind;
  if (std::string_view(kind) == "line-error")
    rest["flags"] = Hex16(static_cast<std::uint16_t>(value));
  if (std::string_view(kind) == "lost") rest["bytes"] = value;
  return Line(time, channel_, port_, direction_, rest);
}

void WireCutter::EmitNoise(double time, const char* reason, const Sink& sink) {
  if (noise_.empty()) return;
  Json rest;
  rest["kind"] = "noise";
  if (reason) rest["reason"] = reason;
  rest["bytes"] = noise_.size();
  rest["raw"] = Hex(noise_);
  sink(Line(time, channel_, port_, direction_, rest));
  noise_.clear();
}

void WireCutter::EmitFrame(double time, const Sink& sink) {
  EmitNoise(time, nullptr, sink);
  sink(Line(time, channel_, port_, direction_, DescribeFrame(frame_, direction_, full_)));
  frame_.clear();
  frameDone_ = false;
}

void WireCutter::Feed(double time, std::span<const std::uint8_t> block, const Sink& sink) {
  std::vector<std::uint8_t> trailer;  // the rest of a trailer whose frame a past block ended
  for (std::size_t i = 0; i < block.size(); ++i) {
    const std::uint8_t b = block[i];
    switch (state_) {
      case State::Trailer:
        if (b == 0xFF && trailerLeft_ > 0) {
          if (frameDone_) {
            frame_.push_back(b);
          } else {
            trailer.push_back(b);
          }
          if (--trailerLeft_ == 0) state_ = State::Outside;
          break;
        }
        state_ = State::Outside;
        trailerLeft_ = 0;
        [[fallthrough]];
      case State::Outside:
        if (frameDone_) EmitFrame(time, sink);
        if (!trailer.empty()) {
          Json rest;
          rest["kind"] = "trailer";
          rest["bytes"] = trailer.size();
          rest["raw"] = Hex(trailer);
          sink(Line(time, channel_, port_, direction_, rest));
          trailer.clear();
        }
        if (b == p::kFrameEnd) {
          frame_.assign(1, b);
          state_ = State::InFrame;
        } else {
          noise_.push_back(b);
        }
        break;
      case State::InFrame:
        if (b == p::kFrameEnd && frame_.size() == 1) {
          // A run of delimiters opens the frame at its last: the one before is noise.
          noise_.push_back(b);
          break;
        }
        frame_.push_back(b);
        if (b == p::kFrameEnd) {
          frameDone_ = true;
          state_ = State::Trailer;
          trailerLeft_ = static_cast<int>(p::kFrameTrailerLength);
        } else if (frame_.size() > kMaxFrameBytes) {
          noise_.insert(noise_.end(), frame_.begin(), frame_.end());
          frame_.clear();
          state_ = State::Outside;
          EmitNoise(time, "too-long", sink);
        }
        break;
    }
  }
  if (frameDone_) EmitFrame(time, sink);
  if (!trailer.empty()) {
    Json rest;
    rest["kind"] = "trailer";
    rest["bytes"] = trailer.size();
    rest["raw"] = Hex(trailer);
    sink(Line(time, channel_, port_, direction_, rest));
  }
  EmitNoise(time, nullptr, sink);
}

void WireCutter::Cut(double time, const Sink& sink) {
  if (state_ == State::InFrame) noise_.insert(noise_.end(), frame_.begin(), frame_.end());
  EmitNoise(time, state_ == State::InFrame ? "cut" : nullptr, sink);
  frame_.clear();
  frameDone_ = false;
  state_ = State::Outside;
  trailerLeft_ = 0;
}

}  // namespace korvan::trace
