#include "core/protocol/requests.h"

#include <algorithm>

#include "core/protocol/codec.h"

namespace korvan::protocol {
namespace {

void PutU16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// Writes the 8-byte packet header; false when the whole packet and its CRC will not fit.
bool PutHeader(std::span<std::uint8_t> out, std::uint8_t command, std::uint16_t parameter,
               const ChipRecord& chip, std::uint16_t bodyLength) {
  if (out.size() < kPacketHeaderSize + bodyLength + 2) return false;
  out[0] = command;
  PutU16(out, 1, parameter);
  out[3] = chip.chipGroup;
  out[4] = chip.familyCode;
  out[5] = chip.partIndex;
  PutU16(out, 6, bodyLength);
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

std::size_t BuildIdentityRequest(std::span<std::uint8_t> out) {
  if (out.size() < kIdentityRequestFrame.size()) return 0;
  std::copy(kIdentityRequestFrame.begin(), kIdentityRequestFrame.end(), out.begin());
  return kIdentityRequestFrame.size();
}

std::size_t BuildRestartRequest(std::span<std::uint8_t> out) {
  if (out.size() < kRestartRequestLength) return 0;
  std::copy(kRestartPacket.begin(), kRestartPacket.end(), out.begin());
  return AppendPacketCrc(out, kRestartPacket.size());
}

std::size_t BuildHeaderRequest(std::span<std::uint8_t> out, std::uint8_t command,
                               std::uint16_t parameter, const ChipRecord& chip,
                               SettingsHeaderBytes header) {
  if (!PutHeader(out, command, parameter, chip, kSettingsHeaderSize)) return 0;
  std::copy(header.begin(), header.end(), out.begin() + kPacketHeaderSize);
  return AppendPacketCrc(out, kPacketHeaderSize + kSettingsHeaderSize);
}

std::size_t BuildReadAddressRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                    SettingsHeaderBytes header, std::uint32_t address,
                                    std::uint16_t size) {
  if (!PutHeader(out, kCmdChip, kSubReadAddress, chip, kSettingsHeaderSize)) return 0;
  std::copy(header.begin(), header.end(), out.begin() + kPacketHeaderSize);
  const std::size_t at = kPacketHeaderSize + 48;
  PutU16(out, at, static_cast<std::uint16_t>(address & 0xFFFF));
  PutU16(out, at + 2, static_cast<std::uint16_t>(address >> 16));
  PutU16(out, at + 4, size);
  return AppendPacketCrc(out, kPacketHeaderSize + kSettingsHeaderSize);
}

std::size_t BuildWriteOptionBytesRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                         SettingsHeaderBytes header,
                                         std::span<const std::uint8_t, kOptionImageBytes> image) {
  constexpr std::uint16_t kBody = kSettingsHeaderSize + kOptionImageBytes;
  if (!PutHeader(out, kCmdChip, kSubWriteOptionBytes, chip, kBody)) return 0;
  auto body = out.begin() + kPacketHeaderSize;
  std::copy(header.begin(), header.end(), body);
  std::copy(image.begin(), image.end(), body + kSettingsHeaderSize);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

std::size_t BuildWriteOtpRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                 SettingsHeaderBytes header,
                                 std::span<const std::uint8_t> otpData) {
  constexpr std::uint16_t kBody = kSettingsHeaderSize + kOtpRequestBytes;
  if (otpData.size() < kOtpRequestBytes) return 0;
  if (!PutHeader(out, kCmdWriteOtp, kWriteOtpParameter, chip, kBody)) return 0;
  auto body = out.begin() + kPacketHeaderSize;
  std::copy(header.begin(), header.end(), body);
  std::copy_n(otpData.begin(), kOtpRequestBytes, body + kSettingsHeaderSize);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

std::size_t BuildProgramRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                SettingsHeaderBytes header,
                                std::span<const std::uint8_t> flashImage, std::uint16_t blockIndex,
                                std::uint16_t blockCount) {
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

std::size_t BuildDownloadSettingsRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                         std::span<const std::uint8_t, kSettingsBlockSize> block,
                                         std::span<const std::uint8_t> otpData) {
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

std::size_t BuildDownloadImageRequest(std::span<std::uint8_t> out, const ChipRecord& chip,
                                      std::span<const std::uint8_t> flashImage,
                                      std::uint16_t blockIndex) {
  constexpr std::uint16_t kBody = kImageBlockBytes;
  if (!PutHeader(out, kCmdDownloadImage, blockIndex, chip, kBody)) return 0;
  PutImageBlock(out.subspan(kPacketHeaderSize), flashImage, blockIndex);
  return AppendPacketCrc(out, kPacketHeaderSize + kBody);
}

std::size_t BuildFirmwareBlockRequest(std::span<std::uint8_t> out, std::uint16_t address,
                                      std::uint16_t startAddress, std::uint16_t blockCount,
                                      std::span<const std::uint8_t> firmware,
                                      BlockCipher encipher) {
  if (out.size() < kFirmwareBlockRequestLength || address < startAddress) return 0;
  const std::uint32_t units = std::uint32_t{address} - startAddress;
  const auto index = static_cast<std::uint8_t>(units / kFirmwareBlockUnits);
  out[0] = kCmdFirmwareBlock;
  out[1] = static_cast<std::uint8_t>(address);
  out[2] = static_cast<std::uint8_t>(address >> 8);
  out[3] = index;
  out[4] = static_cast<std::uint8_t>(blockCount);
  out[5] = 0x0F;
  out[6] = 0x00;
  out[7] = 0x08;
  const std::span<std::uint8_t> data = out.subspan(8, kFirmwareBlockDataBytes);
  std::fill(data.begin(), data.end(), std::uint8_t{0xFF});
  const std::size_t from = std::size_t{2} * units;
  if (from < firmware.size()) {
    const std::size_t count = std::min(kFirmwareBlockDataBytes, firmware.size() - from);
    std::copy_n(firmware.begin() + static_cast<std::ptrdiff_t>(from), count, data.begin());
  }
  if (encipher) encipher(data, index);
  return AppendPacketCrc(out, kFirmwareBlockRequestLength - 2);
}

}  // namespace korvan::protocol
