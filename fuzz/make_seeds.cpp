// Writes the seed inputs that the harnesses cannot find on their own because checksums guard
// them: project files, firmware image files, reply frames and request sequences.
//   make_fuzz_seeds CORPUS_DIR     (writes CORPUS_DIR/project, kfw, codec and sim_request)
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/image/firmware_image.h"
#include "core/image/project_file.h"
#include "core/model/settings_block.h"
#include "core/protocol/codec.h"
#include "core/protocol/constants.h"
#include "core/protocol/requests.h"

namespace p = korvan::protocol;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::filesystem::path root;

void Write(const std::string& folder, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(root / folder);
  std::ofstream out(root / folder / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::uint8_t counter = 0;
std::uint8_t NextByte() {
  return counter = static_cast<std::uint8_t>((counter + 1) % 255);
}

void Projects() {
  korvan::ProjectContent c;
  c.modelName = "Korvan200NAT";
  c.chipName = "N32G452CBL7";
  c.objectFileName = "blink.hex";
  c.flashSizeBytes = 2048;
  c.flashStart = 0x08000000;
  c.eepStart = 0x08080000;
  c.optionStart = 0x1FFFF800;
  c.flash.resize(c.flashSizeBytes);
  for (std::size_t i = 0; i < c.flash.size(); ++i) c.flash[i] = static_cast<std::uint8_t>(i * 5);
  for (std::size_t i = 0; i < c.settings.size(); ++i) c.settings[i] = static_cast<std::uint8_t>(i);
  std::string error;
  Write("project", "plain.kvn", korvan::BuildProjectFile(c, NextByte, error));
  c.modeByte = korvan::kModeOtp | 3;
  c.otpSize = 32;
  c.eep.assign(32, 0x5A);
  Write("project", "otp.kvn", korvan::BuildProjectFile(c, NextByte, error));
}

void Firmware() {
  Bytes firmware(200);
  for (std::size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<std::uint8_t>(i);
  korvan::FirmwarePackOptions o;
  o.version = "V3.1";
  o.description = "seed";
  o.seed = 7;
  std::string error;
  Write("kfw", "small.kfw", korvan::PackFirmwareImage(firmware, o, error));
}

Bytes Frame(std::span<const std::uint8_t> packet) {
  Bytes frame(p::kFrameBufferSize);
  frame.resize(p::EncodePacket(packet, frame));
  return frame;
}

Bytes Reply(std::uint8_t command, Bytes body) {
  Bytes packet{command,
               0,
               0,
               0x30,
               0,
               0,
               static_cast<std::uint8_t>(body.size()),
               static_cast<std::uint8_t>(body.size() >> 8)};
  packet.insert(packet.end(), body.begin(), body.end());
  packet.resize(packet.size() + 2);
  p::AppendPacketCrc(packet, packet.size() - 2);
  return Frame(packet);
}

void Codec() {
  // Blocks as the harness reads them: a length byte, then the bytes.
  auto blocks = [](const Bytes& stream, std::size_t piece) {
    Bytes out;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      const std::size_t n = std::min(piece, stream.size() - at);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), stream.begin() + at, stream.begin() + at + n);
    }
    return out;
  };
  Bytes status = Reply(p::kCmdChip, {p::kStatusOk});
  Bytes data = Reply(p::kCmdReadBack, Bytes(300, 0xC0));
  Bytes both = status;
  both.insert(both.end(), data.begin(), data.end());
  Write("codec", "status", blocks(status, 100));
  Write("codec", "two_replies_split", blocks(both, 37));
  Write("codec", "byte_by_byte", blocks(status, 1));
}

// The station harness's inputs: channel, pending command index, flags, block index, block
// count, part size, then the blocks.
void StationReceive() {
  auto input = [](std::uint8_t channel, std::uint8_t pendingIndex, std::uint8_t flags,
                  const Bytes& stream) {
    Bytes out = {channel, pendingIndex, flags, 0, 0, 8, 0, 8, 0};
    for (std::size_t at = 0; at < stream.size(); at += 100) {
      const std::size_t n = std::min<std::size_t>(100, stream.size() - at);
      out.push_back(static_cast<std::uint8_t>(n));
      out.insert(out.end(), stream.begin() + at, stream.begin() + at + n);
    }
    return out;
  };
  const Bytes ok = Reply(p::kCmdChip, {p::kStatusOk});
  const Bytes notBlank = Reply(p::kCmdChip, {p::kStatusNotBlank});
  const Bytes data = Reply(p::kCmdReadBack, Bytes(4096, 0x11));
  // Index into the harness's table: 0 download, 1 erase, 2 blank check, 3 program, 4 verify,
  // 5 read memory, 6 write option bytes, 7 read option bytes, 8 chip ID, 11 read address,
  // 12 idle, 13 firmware upgrade.
  Write("station_receive", "download_ok", input(0, 0, 0x02, ok));
  Write("station_receive", "auto_blank_not_blank", input(1, 2, 0x03, notBlank));
  Write("station_receive", "program_ok", input(2, 3, 0x03, ok));
  Write("station_receive", "verify_data", input(3, 4, 0x03, data));
  Write("station_receive", "read_data", input(0, 5, 0x02, data));
  Write("station_receive", "option_bytes", input(0, 7, 0x02, Reply(p::kCmdChip, Bytes(128, 0xA5))));
  Write("station_receive", "chip_id", input(0, 8, 0x02, Reply(p::kCmdChip, Bytes(12, 0x42))));
  Write("station_receive", "read_address", input(0, 11, 0x02, Reply(p::kCmdChip, Bytes(64, 0x42))));
  Write("station_receive", "upgrade", input(0, 13, 0x02, ok));
  Bytes report = {0x00, 0xF0, 0x06, 0, 0, 0, 0, 0};
  report[7] = static_cast<std::uint8_t>(0x100 - 0xF6);
  report.resize(10);
  p::AppendPacketCrc(report, 8);
  Write("station_receive", "progress_done", input(1, 12, 0x00, Frame(report)));
  Bytes identity(22, 0);
  identity[0] = 0xA3;
  identity[1] = 0xA5;
  identity[2] = 0x35;
  identity[3] = 0x01;
  for (char c : std::string("Korvan200NAT V2.9")) identity.push_back(static_cast<std::uint8_t>(c));
  identity.resize(identity.size() + 3);
  p::AppendPacketCrc(identity, identity.size() - 2);
  Write("station_receive", "identity", input(0, 12, 0x00, Frame(identity)));
}

void SimRequests() {
  korvan::ChipRecord chip;
  chip.chipName = "N32G452CBL7";
  chip.familyCode = 0x30;
  chip.flashSizeKB = 8;
  chip.blockCount = 8;
  korvan::JobSettings job;
  korvan::OptionByteImage options;
  const p::RandomByte random = NextByte;
  std::array<std::uint8_t, p::kSettingsBlockSize> block{};
  p::BuildSettingsBlock(block, chip, job, options, 1, random);
  std::array<std::uint8_t, p::kSettingsHeaderSize> header{};
  p::BuildSettingsHeader(header, chip, job, 1, random);
  Bytes image(8 * 1024, 0x11);
  Bytes otp(528, 0x22);

  Bytes steps;
  std::array<std::uint8_t, p::kPacketBufferSize> packet{};
  auto raw = [&](std::size_t n) {
    const Bytes frame = Frame(std::span(packet.data(), n));
    steps.push_back(0);
    steps.push_back(static_cast<std::uint8_t>(frame.size()));
    steps.push_back(static_cast<std::uint8_t>(frame.size() >> 8));
    steps.insert(steps.end(), frame.begin(), frame.end());
  };
  auto wait = [&](std::uint16_t ms) {
    steps.insert(steps.end(),
                 {3, static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8)});
  };
  raw(p::DownloadSettingsRequest{chip, block, otp}.Build(packet));
  raw(p::DownloadImageRequest{chip, image, 0}.Build(packet));
  raw(p::DownloadImageRequest{chip, image, 4}.Build(packet));
  Write("sim_request", "download", steps);
  raw(p::RestartRequest::Build(packet));
  wait(5000);
  Write("sim_request", "download_standalone", steps);

  steps.clear();
  raw(p::EraseRequest{chip, header}.Build(packet));
  raw(p::ProgramRequest{chip, header, image, 0, 8}.Build(packet));
  raw(p::ProgramRequest{chip, header, image, 4, 8}.Build(packet));
  raw(p::ReadBackRequest{chip, header, false, 0}.Build(packet));
  raw(p::ReadOtpRequest{chip, header}.Build(packet));
  raw(p::ReadAddressRequest{chip, header, 0x08000000, 64}.Build(packet));
  raw(p::WriteOtpRequest{chip, header, otp}.Build(packet));
  raw(p::WriteOptionBytesRequest{chip, header, options}.Build(packet));
  raw(p::ReadOptionBytesRequest{chip, header}.Build(packet));
  Write("sim_request", "program_verify", steps);

  steps.clear();
  Bytes settings(block.begin(), block.end());
  steps.insert(steps.end(), {2, 0x00, 0x02});
  steps.insert(steps.end(), settings.begin(), settings.end());
  Write("sim_request", "settings_fixed_up", steps);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds CORPUS_DIR\n");
    return 2;
  }
  root = argv[1];
  Projects();
  Firmware();
  Codec();
  SimRequests();
  StationReceive();
  return 0;
}
