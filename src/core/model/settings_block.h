// The station's side of the settings header (64 bytes, carried by almost every request) and the
// settings block (512 bytes, carried by the download and stored in project files), and their
// inverse for restoring a job from a project file.
//
// Settings block: "KVSB", the settings header, serial-number and count fields, the 128-byte
// option-byte image at 0x070, chipName (16) and the object file name (48) as GBK text fields
// ("?" when empty), 204 random bytes, PacketCrc over 0x000..0x1FB at 0x1FC and the 16-bit sum
// of 0x000..0x1FD at 0x1FE.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "core/model/chip_record.h"
#include "core/model/job_settings.h"
#include "core/model/option_byte_image.h"

namespace korvan::protocol {

inline constexpr std::size_t kSettingsHeaderSize = 64;
inline constexpr std::size_t kSettingsBlockSize = 512;
inline constexpr std::size_t kSettingsBlockHeaderOffset = 0x004;
inline constexpr std::size_t kSettingsBlockOptionOffset = 0x070;
inline constexpr std::size_t kSettingsBlockChipNameOffset = 0x0F0;
inline constexpr std::size_t kSettingsBlockFileNameOffset = 0x100;

// Field offsets of the settings header, little-endian; the random bytes (6, 10, 11) are fields
// the programmer ignores. The read-address request puts its address over the two checksum words
// at 48 and its size over the OTP CRC at 52.
namespace settings_header {
inline constexpr std::size_t kChipGroup = 3;
inline constexpr std::size_t kFamilyCode = 4;
inline constexpr std::size_t kPartIndex = 5;
inline constexpr std::size_t kRandom0 = 6;
inline constexpr std::size_t kAutoDetect = 7;
inline constexpr std::size_t kRandom1 = 10;
inline constexpr std::size_t kRandom2 = 11;
inline constexpr std::size_t kFlashQuarterKiB = 17;  // 16-bit: flash size in 256-byte units
inline constexpr std::size_t kFlashSizeKB = 20;
inline constexpr std::size_t kBlockCount = 22;
inline constexpr std::size_t kBlockSize = 24;
inline constexpr std::size_t kOtpSize = 26;
inline constexpr std::size_t kFixed00 = 28;   // always 0x00
inline constexpr std::size_t kFixed01 = 29;   // always 0x01
inline constexpr std::size_t kEepStart = 30;  // low 16 bits
inline constexpr std::size_t kLinkCtrl = 32;
inline constexpr std::size_t kTargetCtrl = 33;
inline constexpr std::size_t kPowerCtrl = 34;
inline constexpr std::size_t kEraseCtrl = 35;
inline constexpr std::size_t kCheckCtrl = 36;
inline constexpr std::size_t kFamilyCtrl = 37;
inline constexpr std::size_t kFlashStart = 38;  // 32-bit, channel 1 only
inline constexpr std::size_t kPowerOnTime = 42;
inline constexpr std::size_t kPowerOffTime = 43;
inline constexpr std::size_t kInsertSettle = 44;
inline constexpr std::size_t kRemoveSettle = 46;
inline constexpr std::size_t kFileCrc = 48;
inline constexpr std::size_t kFileSum = 50;
inline constexpr std::size_t kOtpCrc = 52;
inline constexpr std::size_t kOtpSum = 54;
inline constexpr std::size_t kOptionSumInv = 56;
inline constexpr std::size_t kOptionSum = 58;
inline constexpr std::size_t kOptionByteLength = 60;
inline constexpr std::size_t kZero = 61;
inline constexpr std::size_t kRunTime = 62;
inline constexpr std::size_t kReadAddress = kFileCrc;  // 32-bit, read-address request only
inline constexpr std::size_t kReadSize = kOtpCrc;      // 16-bit, read-address request only
}  // namespace settings_header

// Random bytes 0..254 for the fields the programmer ignores.
using RandomByte = std::function<std::uint8_t()>;

// Writes the settings header for `channel` (1..4): only channel 1 carries flashStart.
void BuildSettingsHeader(std::span<std::uint8_t, kSettingsHeaderSize> out, const ChipRecord& chip,
                         const JobSettings& job, int channel, const RandomByte& random);

// Writes the settings block for `channel`, with the channel's serial-number start value.
void BuildSettingsBlock(std::span<std::uint8_t, kSettingsBlockSize> out, const ChipRecord& chip,
                        const JobSettings& job, const OptionByteImage& optionBytes, int channel,
                        const RandomByte& random);

// The inverse of BuildSettingsBlock for channel 1, as a project restores a job: the chip
// identity and geometry (eepStart from its low 16 bits only), the control bytes, timings,
// checksum words, serial-number and count fields, and the option-byte image. Names, windows
// that the block does not carry, and the remaining settings are left alone.
void UnpackSettingsBlock(std::span<const std::uint8_t, kSettingsBlockSize> block, ChipRecord& chip,
                         JobSettings& job, OptionByteImage& optionBytes);

}  // namespace korvan::protocol
