#include "core/protocol/requests.h"

#include <algorithm>

#include "core/protocol/codec.h"

namespace korvan::protocol {
namespace {

namespace H = packet_header;

void PutU16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Writes the 8-byte packet header; false when the whole packet and its CRC will not fit.
bool PutHeader(std::span<std::uint8_t> out, std::uint8_t command, std::uint16_t parameter,
               const ChipRecord& chip, std::uint16_t bodyLength) {
  if (out.size() < kPacketHeaderSize + bodyLength + 2) return false;
  out[H::kCommand] = command;
  PutU16(out, H::kParameter, parameter);
  out[H::kChipGroup] = chip.chipGroup;
  out[H::kFamilyCode] = chip.familyCode;
  out[H::kPartIndex] = chip.partIndex;
  PutU16(out, H::kBodyLength, bodyLength);
  return true;
}

// Copies the 4096 image bytes at blockIndex × 1024, padding past the image's end with 0xFF.
void PutImageBlock(std::span<std::uint8_t> out, std::span<const std::uint8_t> image,
                   std::uint16_t blockIndex) {
  const std::size_t from = std::size_t{blockIndex} * 1024;
  const std::size_t have =
      from < image.size() ? std::min(kImageBlockBytes, image.size() - from) : 0;
  std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(from < image.size() ? from : 0), have,
              out.begin());
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(have),
            out.begin() + static_cast<std::ptrdiff_t>(kImageBlockBytes), std::uint8_t{0xFF});
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Requests without a chip

std::size_t IdentityRequest::Build(std::span<std::uint8_t> out) {
  if (out.size() < kLength) return 0;
  std::copy(kIdentityRequestFrame.begin(), kIdentityRequestFrame.end(), out.begin());
  return kLength;
}

std::uint8_t IdentityRequest::ReadReply(std::span<const std::uint8_t> packet,
                                        std::string_view expected, std::string& identity) {
  if (packet.size() <= kIdentityMarkerOffset ||
      !std::equal(kIdentitySignature.begin(), kIdentitySignature.end(), packet.begin()) ||
      packet[kIdentityMarkerOffset] == 0) {
    return kIdentityBadSignature;
  }
  std::string text;
  for (std::size_t i = kIdentityTextOffset;
       i < packet.size() && i < kIdentityTextOffset + kIdentityTextMax; ++i) {
    if (packet[i] < 0x20 || packet[i] > 0x7F) break;
    text += static_cast<char>(packet[i]);
  }
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const int have = k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
    const int want = static_cast<unsigned char>(expected[k]);
    if (have != want) return static_cast<std::uint8_t>(have - want == 0 ? 1 : have - want);
  }
  identity = std::move(text);
  return 0;
}

std::size_t RestartRequest::Build(std::span<std::uint8_t> out) {
  if (out.size() < kLength) return 0;
  std::copy(kRestartPacket.begin(), kRestartPacket.end(), out.begin());
  return AppendPacketCrc(out, kRestartPacket.size());
}

std::size_t FirmwareBlockRequest::Build(std::span<std::uint8_t> out) const {
  if (out.size() < kLength || address < startAddress) return 0;
  const std::uint32_t units = std::uint32_t{address} - startAddress;
  const auto index = static_cast<std::uint8_t>(units / kBlockUnits);
  out[H::kCommand] = kCmdFirmwareBlock;
  PutU16(out, kAddressOffset, address);
  out[kIndexOffset] = index;
  out[kCountOffset] = static_cast<std::uint8_t>(blockCount);
  out[kFixedOffset] = 0x0F;
  out[kFixedOffset + 1] = 0x00;
  out[kFixedOffset + 2] = 0x08;
  const std::span<std::uint8_t> data = out.subspan(kDataOffset, kDataBytes);
  std::fill(data.begin(), data.end(), std::uint8_t{0xFF});
  const std::size_t from = std::size_t{2} * units;
  if (from < firmware.size()) {
    const std::size_t count = std::min(kDataBytes, firmware.size() - from);
    std::copy_n(firmware.begin() + static_cast<std::ptrdiff_t>(from), count, data.begin());
  }
  if (encipher) encipher(data, index);
  return AppendPacketCrc(out, kLength - 2);
}

// ---------------------------------------------------------------------------------------------
// Settings header alone

std::size_t HeaderRequest::Build(std::span<std::uint8_t> out) const {
  if (!PutHeader(out, command, parameter, chip, kSettingsHeaderSize)) return 0;
  std::copy(header.begin(), header.end(), out.begin() + kPacketHeaderSize);
  return AppendPacketCrc(out, kPacketHeaderSize + kSettingsHeaderSize);
}

std::size_t BlankCheckRequest::Build(std::span<std::uint8_t> out) const {
  return HeaderRequest{kCmdChip, kSubBlankCheck, chip, header}.Build(out);
}

std::size_t EraseRequest::Build(std::span<std::uint8_t> out) const {
  return HeaderRequest{kCmdChip, kSubErase, chip, header}.Build(out);
}

std::size_t ReadOptionBytesRequest::Build(std::span<std::uint8_t> out) const {
  return HeaderRequest{kCmdChip, kSubReadOptionBytes, chip, header}.Build(out);
}

std::span<const std::uint8_t> ReadOptionBytesRequest::ReadReply(
    std::span<const std::uint8_t> packet) {
  return packet.first(packet.size() >= kReplyCrcBytes ? packet.size() - kReplyCrcBytes : 0);
}

std::size_t ReadChipIdRequest::Build(std::span<std::uint8_t> out) const {
  return HeaderRequest{kCmdChip, kSubReadChipId, chip, header}.Build(out);
}

std::optional<std::span<const std::uint8_t>> ReadChipIdRequest::ReadReply(
    std::span<const std::uint8_t> packet) {
  return ReplyData(packet, kChipIdBytes);
}

std::size_t ReadBackRequest::Build(std::span<std::uint8_t> out) const {
  return HeaderRequest{Command(dataPhase), blockIndex, chip, header}.Build(out);
}

std::optional<std::span<const std::uint8_t>> ReadBackRequest::ReadReply(
    std::span<const std::uint8_t> packet) {
  return ReplyData(packet, kReplyBlockBytes);
}

std::size_t ReadOtpRequest::Build(std::span<std::uint8_t> out) const {
  return HeaderRequest{kCmdReadOtp, 0, chip, header}.Build(out);
}

std::optional<std::span<const std::uint8_t>> ReadOtpRequest::ReadReply(
    std::span<const std::uint8_t> packet, std::size_t count) {
  return ReplyData(packet, std::min(count, kReplyBlockBytes));
}

std::size_t ReadAddressRequest::Build(std::span<std::uint8_t> out) const {
  namespace S = settings_header;
  if (!PutHeader(out, kCmdChip, kSubReadAddress, chip, kSettingsHeaderSize)) return 0;
  std::copy(header.begin(), header.end(), out.begin() + kPacketHeaderSize);
  PutU16(out, kPacketHeaderSize + S::kReadAddress, static_cast<std::uint16_t>(address & 0xFFFF));
  PutU16(out, kPacketHeaderSize + S::kReadAddress + 2, static_cast<std::uint16_t>(address >> 16));
  PutU16(out, kPacketHeaderSize + S::kReadSize, size);
  return AppendPacketCrc(out, kPacketHeaderSize + kSettingsHeaderSize);
}

std::span<const std::uint8_t> ReadAddressRequest::ReadReply(std::span<const std::uint8_t> packet) {
  return ReplyData(packet);
}

// ---------------------------------------------------------------------------------------------
// Data after the settings header

std::size_t WriteOptionBytesRequest::Build(std::span<std::uint8_t> out) const {
  constexpr std::uint16_t kBody = kSettingsHeaderSize + kOptionImageBytes;
  if (!PutHeader(out, kCmdChip, kSubWriteOptionBytes, chip, kBody)) return 0;
  auto body = out.begin() + kPacketHeaderSize;
  std::copy(header.begin(), header.end(), body);
  std::copy(image.begin(), image.end(), body + kSettingsHeaderSize);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

std::size_t WriteOtpRequest::Build(std::span<std::uint8_t> out) const {
  constexpr std::uint16_t kBody = kSettingsHeaderSize + kOtpRequestBytes;
  if (otpData.size() < kOtpRequestBytes) return 0;
  if (!PutHeader(out, kCmdWriteOtp, kWriteOtpParameter, chip, kBody)) return 0;
  auto body = out.begin() + kPacketHeaderSize;
  std::copy(header.begin(), header.end(), body);
  std::copy_n(otpData.begin(), kOtpRequestBytes, body + kSettingsHeaderSize);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

std::size_t ProgramRequest::Build(std::span<std::uint8_t> out) const {
  constexpr std::uint16_t kBody = kSettingsHeaderSize + kImageBlockBytes;
  std::uint16_t parameter = blockIndex;
  if (std::size_t{blockIndex} + kImageBlockStepKiB >= blockCount) {
    parameter |= kProgramLastBlockFlag;
  }
  if (!PutHeader(out, kCmdProgram, parameter, chip, kBody)) return 0;
  std::copy(header.begin(), header.end(), out.begin() + kPacketHeaderSize);
  PutImageBlock(out.subspan(kPacketHeaderSize + kSettingsHeaderSize), flashImage, blockIndex);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

// ---------------------------------------------------------------------------------------------
// Download

std::size_t DownloadSettingsRequest::Build(std::span<std::uint8_t> out) const {
  const bool withOtp = !otpData.empty();
  if (withOtp && otpData.size() < kOtpRequestBytes) return 0;
  const std::uint16_t bodyLength =
      static_cast<std::uint16_t>(2 * kSettingsBlockSize + (withOtp ? kOtpRequestBytes : 0));
  constexpr std::uint16_t kParameter = 0;
  if (!PutHeader(out, kCmdDownloadSettings, kParameter, chip, bodyLength)) return 0;
  auto body = out.subspan(kPacketHeaderSize, bodyLength);
  std::copy(block.begin(), block.end(), body.begin());
  std::copy(block.begin(), block.end(), body.begin() + kSettingsBlockSize);
  if (withOtp)
    std::copy_n(otpData.begin(), kOtpRequestBytes, body.begin() + 2 * kSettingsBlockSize);
  const std::uint8_t m0 = static_cast<std::uint8_t>(((kParameter & 0xFF) ^ kScrambleK0) | 0x80);
  const std::uint8_t m1 = static_cast<std::uint8_t>(((kParameter >> 8) ^ kScrambleK1) | 0x80);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] ^= (i % 2 == 0) ? m0 : m1;
  return AppendPacketCrc(out, kPacketHeaderSize + bodyLength);
}

std::size_t DownloadImageRequest::Build(std::span<std::uint8_t> out) const {
  constexpr std::uint16_t kBody = kImageBlockBytes;
  if (!PutHeader(out, kCmdDownloadImage, blockIndex, chip, kBody)) return 0;
  PutImageBlock(out.subspan(kPacketHeaderSize), flashImage, blockIndex);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

}  // namespace korvan::protocol
