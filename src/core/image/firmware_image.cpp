#include "core/image/firmware_image.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "core/image/binary_helpers.h"
#include "core/image/firmware_cipher.h"
#include "core/image/readers.h"
#include "core/util/format.h"

namespace korvan {

namespace {

void PutWord(std::vector<std::uint8_t>& file, std::size_t offset, std::uint16_t value) {
  file[offset] = static_cast<std::uint8_t>(value);
  file[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

bool LoadFirmwareImage(const std::string& path, FirmwareImage& image) {
  image = FirmwareImage();
  std::string contents, error;
  if (!ReadWholeFile(path, contents, error, kFirmwareBufferSize)) return false;
  return ParseFirmwareImage(
      {reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()}, image);
}

bool ParseFirmwareImage(std::span<const std::uint8_t> file, FirmwareImage& image) {
  image = FirmwareImage();
  if (file.size() > kFirmwareBufferSize) file = file.first(kFirmwareBufferSize);
  if (file.size() < kfw::kPayloadOffset) return false;

  std::array<std::uint8_t, 8> signature;
  std::copy_n(file.begin(), 8, signature.begin());
  kfw::CipherSignature(signature);
  if (std::memcmp(signature.data(), kfw::kSignature, 8) != 0) return false;

  std::uint32_t sum = 0;
  SumBytes(file, sum, 8);
  CopyVersionText(file.subspan(kfw::kVersionOffset), sum, kfw::kVersionLength, image.version);
  const std::uint16_t key = ReadWordLE(file.subspan(kfw::kKeyWordOffset), sum);
  auto word = [&](std::size_t offset, kfw::HeaderWordSlot slot) {
    return kfw::CipherHeaderWord(ReadWordLE(file.subspan(offset), sum), key, slot);
  };
  image.startAddress = kFirmwareStartAddress;
  image.endAddress = word(kfw::kEndAddressOffset, kfw::kSlotEndAddress);
  image.parameter1 = word(kfw::kParameter1Offset, kfw::kSlotParameter1);
  image.parameter2 = word(kfw::kParameter2Offset, kfw::kSlotParameter2);
  image.payloadLength = word(kfw::kPayloadLengthOffset, kfw::kSlotPayloadLength);

  std::array<std::uint8_t, kfw::kDescriptionLength> description;
  std::copy_n(file.begin() + kfw::kDescriptionOffset, description.size(), description.begin());
  SumBytes(description, sum, description.size());
  kfw::CipherDescription(description, key);
  image.description.assign(
      reinterpret_cast<const char*>(description.data()),
      std::find(description.begin(), description.end(), 0) - description.begin());

  const auto keyBlock = file.subspan(kfw::kKeyBlockOffset, kfw::kKeyBlockSize);
  SumBytes(keyBlock, sum, keyBlock.size());

  // The payload, its filler and the checksum must all lie inside the file.
  const std::size_t payload = kfw::RoundUp16(image.payloadLength);
  const std::size_t checksumOffset = kfw::kPayloadOffset + payload + kfw::kFillerLength;
  if (checksumOffset + kfw::kChecksumLength > file.size()) return false;
  for (std::size_t done = 0; done < payload; done += 16) {
    const auto piece = file.subspan(kfw::kPayloadOffset + done, 16);
    SumBytes(piece, sum, piece.size());
    std::copy(piece.begin(), piece.end(), image.buffer.begin() + done);
    kfw::CipherPayload(std::span(image.buffer).subspan(done, 16), keyBlock, done);
  }
  // Bytes of the last 16-byte piece beyond the payload length are not firmware.
  std::fill(image.buffer.begin() + image.payloadLength, image.buffer.begin() + payload, 0);
  SumBytes(file.subspan(kfw::kPayloadOffset + payload), sum, kfw::kFillerLength);
  std::uint32_t unused = 0;
  const std::uint32_t stored =
      ReadWordLE(file.subspan(checksumOffset), unused) |
      static_cast<std::uint32_t>(ReadWordLE(file.subspan(checksumOffset + 2), unused)) << 16;
  image.present = stored == sum;
  return image.present;
}

int FirmwareIsOlder(std::string_view identityText, std::string_view imageVersion) {
  if (imageVersion.empty()) return 0;
  const std::size_t at = identityText.find(" V");
  if (at == std::string_view::npos) return 3;
  const std::string_view version = identityText.substr(at + 1, 31);
  // As many characters as the programmer's version has, byte-wise: "V3" against "V3.0" is the
  // same version, not an older one. The image's text ends in zeros, which sort below any
  // character the programmer reports.
  const std::string_view image = imageVersion.substr(0, 31);
  for (std::size_t i = 0; i < version.size(); ++i) {
    const auto mine = static_cast<unsigned char>(version[i]);
    const auto theirs = i < image.size() ? static_cast<unsigned char>(image[i]) : 0U;
    if (mine != theirs) return mine < theirs ? 3 : 0;
  }
  return 0;
}

std::vector<std::uint8_t> PackFirmwareImage(std::span<const std::uint8_t> firmware,
                                            const FirmwarePackOptions& options,
                                            std::string& error) {
  if (firmware.size() > kfw::kMaxPayload) {
    error = Format("The firmware has %zu bytes; an image holds at most %zu.", firmware.size(),
                   kfw::kMaxPayload);
    return {};
  }
  if (options.version.size() > kfw::kVersionLength) {
    error = Format("The version text has more than %zu characters.", kfw::kVersionLength);
    return {};
  }
  if (options.description.size() > kfw::kDescriptionLength) {
    error = Format("The description has more than %zu bytes.", kfw::kDescriptionLength);
    return {};
  }
  std::mt19937 random(options.seed);
  auto randomByte = [&] { return static_cast<std::uint8_t>(random()); };

  const std::size_t payload = kfw::RoundUp16(firmware.size());
  std::vector<std::uint8_t> file(kfw::kPayloadOffset + payload + kfw::kFillerLength +
                                 kfw::kChecksumLength);
  std::array<std::uint8_t, 8> signature;
  std::memcpy(signature.data(), kfw::kSignature, 8);
  kfw::CipherSignature(signature);
  std::copy(signature.begin(), signature.end(), file.begin());
  std::copy(options.version.begin(), options.version.end(), file.begin() + kfw::kVersionOffset);

  const auto key = static_cast<std::uint16_t>(random());
  const auto units = static_cast<std::uint16_t>((firmware.size() + 1) / 2);
  PutWord(file, kfw::kKeyWordOffset, key);
  PutWord(file, kfw::kEndAddressOffset,
          kfw::CipherHeaderWord(static_cast<std::uint16_t>(kFirmwareStartAddress + units), key,
                                kfw::kSlotEndAddress));
  PutWord(file, kfw::kParameter1Offset,
          kfw::CipherHeaderWord(options.parameter1, key, kfw::kSlotParameter1));
  PutWord(file, kfw::kParameter2Offset,
          kfw::CipherHeaderWord(options.parameter2, key, kfw::kSlotParameter2));
  PutWord(file, kfw::kPayloadLengthOffset,
          kfw::CipherHeaderWord(static_cast<std::uint16_t>(firmware.size()), key,
                                kfw::kSlotPayloadLength));

  const auto description =
      std::span(file).subspan(kfw::kDescriptionOffset, kfw::kDescriptionLength);
  std::copy(options.description.begin(), options.description.end(), description.begin());
  kfw::CipherDescription(description, key);

  const auto keyBlock = std::span(file).subspan(kfw::kKeyBlockOffset, kfw::kKeyBlockSize);
  for (auto& b : keyBlock) b = randomByte();
  const auto body = std::span(file).subspan(kfw::kPayloadOffset, payload);
  std::copy(firmware.begin(), firmware.end(), body.begin());
  kfw::CipherPayload(body, keyBlock);
  for (auto& b : std::span(file).subspan(kfw::kPayloadOffset + payload, kfw::kFillerLength)) {
    b = randomByte();
  }

  std::uint32_t sum = 0;
  const std::size_t checksumOffset = file.size() - kfw::kChecksumLength;
  for (std::size_t i = 0; i < checksumOffset; ++i) {
    if (i != 8 && i != 9) sum += file[i];
  }
  for (int i = 0; i < 4; ++i) file[checksumOffset + i] = static_cast<std::uint8_t>(sum >> (8 * i));
  return file;
}

}  // namespace korvan
