#include "core/chips/option_bytes.h"

#include <algorithm>

#include "core/util/format.h"

namespace korvan {

namespace {

constexpr std::uint8_t kRdpL0 = 0xA5;
constexpr std::uint8_t kRdpL1 = 0x00;
constexpr std::uint8_t kRdpL2 = 0xCC;
constexpr std::uint8_t kRdp2Open = 0xFF;
constexpr std::uint8_t kRdp2L2 = 0x33;

std::string HexBytes(std::string text, std::span<const std::uint8_t> bytes, std::size_t step) {
  for (std::size_t i = 0; i < bytes.size(); i += step) text += Format("%02X ", bytes[i]);
  return text;
}

}  // namespace

std::string_view ReadProtectionText(ReadProtection level) {
  switch (level) {
    case ReadProtection::L0:
      return "RDP1=5A / RDP2=FF : L0级--------未读保护";
    case ReadProtection::L1:
      return "RD1P=00 / RDP2=FF : L1级--------读保护（可逆）";
    case ReadProtection::L2:
      break;
  }
  return "RDP1=CC / RDP2=33 : L2级--------读保护（不可逆）";
}

ReadProtection ReadProtectionOf(const OptionByteImage& image, std::size_t rdp2Index) {
  if (image[0] == kRdpL0) return ReadProtection::L0;
  if (image[rdp2Index] == kRdp2L2) return ReadProtection::L2;
  return ReadProtection::L1;
}

void WriteReadProtection(OptionByteImage& image, ReadProtection level, std::size_t rdp2Index) {
  switch (level) {
    case ReadProtection::L0:
      SetOptionPair(image, 0, kRdpL0);
      SetOptionPair(image, rdp2Index, kRdp2Open);
      break;
    case ReadProtection::L1:
      SetOptionPair(image, 0, kRdpL1);
      SetOptionPair(image, rdp2Index, kRdp2Open);
      break;
    case ReadProtection::L2:
      SetOptionPair(image, 0, kRdpL2);
      SetOptionPair(image, rdp2Index, kRdp2L2);
      break;
  }
}

std::string ReadProtectionPanel(const OptionByteImage& image, std::size_t rdp2Index) {
  return Format("0x%02X/0x%02X", image[0], image[rdp2Index]);
}

void SetOptionByteDefaults(OptionByteImage& image, ChipRecord& chip) {
  image.fill(0xFF);

  chip.flashStart = 0x08000000;
  chip.flashEnd = chip.flashStart + std::uint32_t{chip.flashSizeKB} * 1024u - 1;
  chip.eepStart = 0x08080000;
  chip.eepEnd = 0x08080FFF;

  SetOptionPair(image, 0, kRdpL0);
  for (std::size_t k = 1; k <= 8; ++k) SetOptionPair(image, 2 * k, image[2 * k]);

  if (chip.familyCode != kFamilyM0) {
    // USER2: BOR level 0, both boot bits and nSWBOOT0 at 1.
    SetOptionPair(image, 18, 0x8F);
    return;
  }
  if (chip.isN32G430G401) {
    // An N32G430/N32G401 name typed under the Cortex-M0 series: RDP2 and USER2 left blank.
    image[16] = image[17] = image[18] = image[19] = 0xFF;
  } else if (chip.chipName.starts_with("N32G003")) {
    // BOOT_LOCK off: the first 3 KiB are not locked.
    SetOptionPair(image, 2, 0xF7);
  }
}

bool OptionBytesChanged(const OptionByteImage& image) {
  if (image[0] != kRdpL0) return true;
  for (std::size_t i = 2; i <= 14; i += 2) {
    if (image[i] != 0xFF) return true;
  }
  return false;
}

std::array<std::string, 2> DumpOptionBytes(const OptionByteImage& image,
                                           std::uint8_t optionByteLength) {
  const std::span<const std::uint8_t> all(image);
  return {
      HexBytes("Option Byte Setting: ", all.first(18), 2),
      HexBytes("Option Byte Buffer: ",
               all.first(std::min<std::size_t>(optionByteLength, kOptionByteImageSize)), 1),
  };
}

std::string DumpReadOptionBytes(int channel, std::span<const std::uint8_t> replyPacket,
                                std::uint8_t optionByteLength) {
  std::string line = Format("Read Chip %d Option Byte : ", channel);
  for (std::size_t k = 0; k < optionByteLength / 2u; ++k) {
    const std::size_t offset = 8 + 2 * k;
    if (offset >= replyPacket.size()) break;
    line += Format("%02X ", replyPacket[offset]);
  }
  return line;
}

}  // namespace korvan
