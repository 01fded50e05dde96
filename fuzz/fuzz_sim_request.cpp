// The emulated programmer's side of the wire: request frames as a station (or a faulty line)
// sends them, the settings-block reader above all. The input is a series of steps, each an
// operation byte, a 16-bit length and that many bytes:
//   op 0: raw bytes on the wire;
//   op 1: a packet (header and body) framed with the right body length and CRC;
//   op 2: a settings download: the bytes are the settings block (and OTP data past 512), given
//         the magic, both checksums and its copy, scrambled and framed the way the station
//         sends it;
//   op 3: time passes (stand-alone cycle steps).
// After each step everything the programmer has to send is taken.
#include <algorithm>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/constants.h"
#include "fuzz_support.h"
#include "lib/programmer.h"

namespace p = korvan::protocol;
namespace sim = korvan::sim;

namespace {

void PutLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

std::vector<std::uint8_t> Frame(std::vector<std::uint8_t> packet) {
  packet.resize(std::max<std::size_t>(packet.size(), p::kPacketHeaderSize));
  PutLe16(&packet[6], static_cast<std::uint16_t>(packet.size() - p::kPacketHeaderSize));
  const std::size_t count = packet.size();
  packet.resize(count + 2);
  p::AppendPacketCrc(packet, count);
  std::vector<std::uint8_t> frame(2 * packet.size() + 7);
  frame.resize(p::EncodePacket(packet, frame));
  return frame;
}

std::vector<std::uint8_t> SettingsDownload(std::span<const std::uint8_t> bytes,
                                           std::uint16_t parameter) {
  constexpr std::size_t kBlock = 512;
  std::vector<std::uint8_t> block(kBlock, 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), kBlock), block.begin());
  std::copy(p::kSettingsBlockMagic.begin(), p::kSettingsBlockMagic.end(), block.begin());
  // A consistent geometry (size in KiB, and its bytes-per-4 field) of up to 4 MiB is brought
  // down to at most 64 KiB: every stand-alone part of a job is a fresh flash of that size, and
  // megabytes per part would make each input cost milliseconds without reaching other code.
  // Inconsistent or out-of-range geometries stay as they are, so their refusal is reached.
  std::uint8_t* header = block.data() + 0x004;
  const unsigned kb = header[20] | header[21] << 8;
  const unsigned quarter = header[17] | header[18] << 8;
  if (kb > 64 && kb <= 4096 && header[16] == 0 && header[19] == 0 &&
      quarter == ((kb * 4) & 0xFFFF)) {
    const unsigned small = 1 + kb % 64;
    PutLe16(&header[20], static_cast<std::uint16_t>(small));
    PutLe16(&header[17], static_cast<std::uint16_t>(small * 4));
  }
  PutLe16(&block[0x1FC], p::PacketCrc(std::span(block).first(0x1FC)));
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 0x1FE; ++i) sum = static_cast<std::uint16_t>(sum + block[i]);
  PutLe16(&block[0x1FE], sum);

  std::vector<std::uint8_t> packet(p::kPacketHeaderSize, 0);
  packet[0] = p::kCmdDownloadSettings;
  PutLe16(&packet[1], parameter);
  packet.insert(packet.end(), block.begin(), block.end());
  packet.insert(packet.end(), block.begin(), block.end());
  if (bytes.size() > kBlock) {  // OTP data: the programmer takes exactly 528 bytes
    std::vector<std::uint8_t> otp(528, 0xFF);
    const auto extra = bytes.subspan(kBlock);
    std::copy_n(extra.begin(), std::min(extra.size(), otp.size()), otp.begin());
    packet.insert(packet.end(), otp.begin(), otp.end());
  }
  const std::uint8_t m0 = static_cast<std::uint8_t>((packet[1] ^ p::kScrambleK0) | 0x80);
  const std::uint8_t m1 = static_cast<std::uint8_t>((packet[2] ^ p::kScrambleK1) | 0x80);
  for (std::size_t i = p::kPacketHeaderSize; i < packet.size(); ++i) {
    packet[i] ^= ((i - p::kPacketHeaderSize) % 2 == 0) ? m0 : m1;
  }
  return Frame(std::move(packet));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const sim::Options options = [] {
    sim::Options o;
    o.count = 1;
    o.standaloneParts = 3;
    o.ngEvery = 2;
    return o;
  }();
  sim::Programmer programmer(1, options);
  korvan::fuzz::Input in(data, size);
  sim::TimePoint now{};

  for (int steps = 0; !in.Empty() && steps < 64; ++steps) {
    const std::uint8_t op = in.Byte() % 4;
    const std::uint16_t length = in.Word();
    const auto bytes = in.Bytes(length);
    std::vector<std::uint8_t> wire;
    switch (op) {
      case 0:
        wire.assign(bytes.begin(), bytes.end());
        break;
      case 1:
        wire = Frame({bytes.begin(), bytes.end()});
        break;
      case 2:
        wire = SettingsDownload(bytes, length);
        break;
      default:
        now += std::chrono::milliseconds(length);
        break;
    }
    if (!wire.empty()) programmer.OnRead(wire, now);
    for (int rounds = 0; rounds < 1000; ++rounds) {
      programmer.Advance(now);
      const auto out = programmer.WriteNow(now);
      if (out.empty()) {
        const auto due = programmer.NextDue();
        if (!due || *due > now + std::chrono::seconds(10)) break;
        now = std::max(now, *due);
        continue;
      }
      programmer.Written(out.size());
    }
  }
  return 0;
}
