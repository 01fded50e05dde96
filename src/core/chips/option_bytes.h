// What the station knows about option bytes beyond the image itself
// (core/model/option_byte_image.h): read-protection levels, the defaults of each part, and the
// lines the information panel shows.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/model/chip_record.h"
#include "core/model/option_byte_image.h"

namespace korvan {

// Index of the second read-protection byte: 16 in the general and Cortex-M0 layouts, 12 in the
// N32G430/N32G401 layout.
inline constexpr std::size_t kRdp2Index = 16;
inline constexpr std::size_t kRdp2IndexG430 = 12;

// The three read-protection levels the editors offer.
enum class ReadProtection { L0 = 0, L1 = 1, L2 = 2 };

// The level combo's entry for a level ("RDP1=5A / RDP2=FF : L0级--------未读保护", ...).
std::string_view ReadProtectionText(ReadProtection level);

// Reads the level back: RDP 0xA5 is L0; otherwise RDP2 0x33 is L2; anything else L1.
ReadProtection ReadProtectionOf(const OptionByteImage& image, std::size_t rdp2Index);

// Writes both pairs of a level: RDP at bytes 0/1 and RDP2 at rdp2Index/rdp2Index + 1.
void WriteReadProtection(OptionByteImage& image, ReadProtection level, std::size_t rdp2Index);

// The value panel of the level: "0x%0.2x/0x%0.2x" of RDP and RDP2 ("0xA5/0xFF").
std::string ReadProtectionPanel(const OptionByteImage& image, std::size_t rdp2Index);

// Resets the image to the defaults of the confirmed part and the flash window of `chip` to
// 0x08000000 + flash size, the EEP window to 0x08080000..0x08080FFF (ApplyChip may then move
// the flash window). Uses familyCode, isN32G430G401, chipName and flashSizeKB.
void SetOptionByteDefaults(OptionByteImage& image, ChipRecord& chip);

// True when the image differs from an unprogrammed, unprotected part in the bytes the station
// checks: byte 0 is not 0xA5, or any of bytes 2, 4, ..., 14 is not 0xFF. Complements, RDP2
// and USER2 are not looked at.
bool OptionBytesChanged(const OptionByteImage& image);

// The two lines of the image dump, without the information panel's time prefix:
// "Option Byte Setting: " with the value bytes 0, 2, ..., 16, and "Option Byte Buffer: " with
// bytes 0 .. optionByteLength - 1; each byte "%0.2X " (two upper-case digits and a blank).
std::array<std::string, 2> DumpOptionBytes(const OptionByteImage& image,
                                           std::uint8_t optionByteLength);

// The line of option bytes a programmer read from the part: "Read Chip n Option Byte : "
// followed by optionByteLength / 2 value bytes taken from the reply packet at offsets 8, 10,
// ... Bytes the packet does not hold are left out rather than read past its end.
std::string DumpReadOptionBytes(int channel, std::span<const std::uint8_t> replyPacket,
                                std::uint8_t optionByteLength);

}  // namespace korvan
