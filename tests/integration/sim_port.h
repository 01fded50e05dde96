// The station's end of an emulated programmer for the emulator's own tests: the slave side of
// its pseudo-terminal opened with plain open/termios, and requests built by hand from the
// request layouts (not by the station's senders), so that a layout fault on either side shows.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/constants.h"

namespace korvan::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

inline void PutLe16(Bytes& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The 64-byte settings header for a general N32 part of `flashKb` KiB at 0x08000000.
struct HeaderFields {
  unsigned flashKb = 128;
  std::uint8_t linkCtrl = 0x7C;
  std::uint8_t targetCtrl = 0x00;  // bit 5 clear: the option bytes are programmed
  std::uint8_t optionByteLength = 20;
  std::uint32_t flashStart = 0x08000000;
};
inline Bytes SettingsHeader(const HeaderFields& f = {}) {
  Bytes h(64, 0);
  h[3] = 0x1A;
  h[4] = 0x10;
  h[5] = 0x03;
  h[6] = 0x5E;
  h[7] = 15;
  h[10] = 0x11;
  h[11] = 0x22;
  PutLe16(h, 17, f.flashKb * 4);
  PutLe16(h, 20, f.flashKb);
  PutLe16(h, 22, f.flashKb);
  PutLe16(h, 24, 1024);
  h[29] = 0x01;
  h[32] = f.linkCtrl;
  h[33] = f.targetCtrl;
  h[35] = 0x00;
  PutLe32(h, 38, f.flashStart);
  h[42] = 10;
  h[43] = 10;
  PutLe16(h, 44, 17);
  PutLe16(h, 46, 17);
  h[60] = f.optionByteLength;
  PutLe16(h, 62, 50);
  return h;
}

// A request packet: command, parameter, chip identity, body length, body, CRC.
inline Bytes Request(std::uint8_t command, std::uint16_t parameter, const Bytes& body) {
  Bytes p(8 + body.size() + 2, 0);
  p[0] = command;
  PutLe16(p, 1, parameter);
  p[3] = 0x1A;
  p[4] = 0x10;
  p[5] = 0x03;
  PutLe16(p, 6, static_cast<unsigned>(body.size()));
  std::copy(body.begin(), body.end(), p.begin() + 8);
  const std::uint16_t crc = protocol::PacketCrc(std::span(p).first(8 + body.size()));
  PutLe16(p, 8 + body.size(), crc);
  return p;
}

inline Bytes ChipCommand(std::uint16_t sub, const HeaderFields& f = {}) {
  return Request(protocol::kCmdChip, sub, SettingsHeader(f));
}

// The default option bytes of a general N32 part, optionally with read protection level 1.
inline Bytes OptionBytes(bool level1 = false) {
  Bytes ob(128, 0xFF);
  ob[0] = level1 ? 0x00 : 0xA5;
  ob[1] = level1 ? 0xFF : 0x5A;
  for (int k = 1; k <= 8; ++k) ob[2 * k + 1] = 0x00;
  ob[18] = 0x8F;
  ob[19] = 0x70;
  return ob;
}

struct JobFields {
  HeaderFields header;
  std::uint8_t snEnable = 0;
  std::uint16_t snGain = 1;
  std::uint32_t snAddress = 0xFFFFFFFF;
  std::uint32_t snStart = 0;
  std::uint8_t countEnable = 0;
  std::uint32_t countLimit = 0xFFFFFFFF;
  Bytes optionBytes = OptionBytes();
  std::string chipName = "N32G452CBL7";
  std::string fileName = "app.hex";
};

// The 512-byte settings block: "KVSB", header, serial-number and count fields, option bytes,
// names, random filler, CRC and 16-bit sum.
inline Bytes SettingsBlock(const JobFields& j) {
  Bytes b(512, 0);
  b[0] = 'K';
  b[1] = 'V';
  b[2] = 'S';
  b[3] = 'B';
  const Bytes h = SettingsHeader(j.header);
  std::copy(h.begin(), h.end(), b.begin() + 4);
  b[0x44] = j.snEnable;
  b[0x45] = 4;
  PutLe16(b, 0x46, j.snGain);
  PutLe32(b, 0x48, j.snAddress);
  PutLe32(b, 0x4C, j.snStart);
  b[0x54] = j.countEnable;
  PutLe32(b, 0x56, j.countLimit);
  std::copy(j.optionBytes.begin(), j.optionBytes.end(), b.begin() + 0x70);
  std::copy(j.chipName.begin(), j.chipName.end(), b.begin() + 0xF0);
  std::copy(j.fileName.begin(), j.fileName.end(), b.begin() + 0x100);
  for (int i = 0x130; i < 0x1FC; ++i) b[i] = static_cast<std::uint8_t>((i * 37) % 255);
  PutLe16(b, 0x1FC, protocol::PacketCrc(b, 0, 0x1FB));
  unsigned sum = 0;
  for (int i = 0; i < 0x1FE; ++i) sum += b[i];
  PutLe16(b, 0x1FE, sum & 0xFFFF);
  return b;
}

// The download request of the settings phase: the block, its copy, scrambled with the
// masks of parameter 0 (K0 | 0x80 on even body offsets, K1 | 0x80 on odd ones).
inline Bytes DownloadSettings(const Bytes& block) {
  Bytes body = block;
  body.insert(body.end(), block.begin(), block.end());
  const std::uint8_t m0 = protocol::kScrambleK0 | 0x80;
  const std::uint8_t m1 = protocol::kScrambleK1 | 0x80;
  for (std::size_t i = 0; i < body.size(); ++i) body[i] ^= (i % 2 == 0) ? m0 : m1;
  return Request(protocol::kCmdDownloadSettings, 0, body);
}

inline std::uint8_t Status(const Bytes& reply) {
  return reply.size() == 11 && reply[6] == 1 && reply[7] == 0 ? reply[8] : 0xEE;
}

// The slave side of an emulated programmer's pseudo-terminal.
class SimPort {
 public:
  explicit SimPort(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B1000000);
    t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~SimPort() {
    if (fd_ >= 0) close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }

  void WriteRaw(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
  }
  void Send(const Bytes& packet) {
    Bytes frame(2 * packet.size() + 7);
    frame.resize(protocol::EncodePacket(packet, frame));
    WriteRaw(frame);
  }

  // Reads until `count` frames were cut or `timeout` passed; returns the cut frames.
  std::vector<Bytes> ReadFrames(std::size_t count, milliseconds timeout = milliseconds(2000)) {
    std::vector<Bytes> frames;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (frames.size() < count) {
      const auto left =
          std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      std::uint8_t buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) {
        if (n < 0 && errno == EAGAIN) continue;
        hungUp_ = true;
        break;
      }
      raw_.insert(raw_.end(), buffer, buffer + n);
      link_->ReceiveData(
          std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)),
          [&](std::span<const std::uint8_t> f) { frames.emplace_back(f.begin(), f.end()); });
    }
    return frames;
  }

  // Decodes a cut frame; an empty result for a frame that does not decode.
  static Bytes Decode(const Bytes& frame) {
    Bytes packet(protocol::kPacketBufferSize);
    const auto r = protocol::DecodeFrame(frame, packet);
    if (r.code != protocol::kStatusOk) return {};
    packet.resize(r.length);
    return packet;
  }

  // Sends a request and returns the one decoded reply (empty when none came).
  Bytes Exchange(const Bytes& packet, milliseconds timeout = milliseconds(2000)) {
    Send(packet);
    const auto frames = ReadFrames(1, timeout);
    return frames.empty() ? Bytes{} : Decode(frames[0]);
  }
  Bytes Identity(milliseconds timeout = milliseconds(2000)) {
    WriteRaw(Bytes(protocol::kIdentityRequestFrame.begin(), protocol::kIdentityRequestFrame.end()));
    const auto frames = ReadFrames(1, timeout);
    return frames.empty() ? Bytes{} : Decode(frames[0]);
  }
  static std::string IdentityText(const Bytes& reply) {
    std::string text;
    for (std::size_t i = 22; i < reply.size() && reply[i] >= 0x20 && reply[i] < 0x80; ++i) {
      text += static_cast<char>(reply[i]);
    }
    return text;
  }

  bool hungUp() const { return hungUp_; }
  const Bytes& raw() const { return raw_; }

 private:
  int fd_ = -1;
  bool hungUp_ = false;
  Bytes raw_;
  std::unique_ptr<protocol::LinkBuffers> link_ = std::make_unique<protocol::LinkBuffers>();
};

}  // namespace korvan::sim::testing
