// The job settings: the one record that tells a programmer how to program a part. Every request
// carries its chip and control part (the settings header); the download also carries the
// serial-number and count part, and project files store all of it.
//
// The chip identity and geometry (chipName, familyCode, partIndex, flashSizeKB, windows, otpSize,
// optionByteLength, family flags) live in the chip record (core/model/chip_record.h); this record
// holds everything else. Plain data: the station fills it at start-up (the defaults below), when
// a part is chosen or a project is loaded, and by AssembleJobSettings right before every command
// that talks to a programmer and before a project is saved. Used on the station's thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace korvan {

// targetCtrl bits.
inline constexpr std::uint8_t kTarget5V = 0x01;             // interface level "5.0V"
inline constexpr std::uint8_t kTargetG43xOrL4 = 0x10;       // isG43xOrL4Family
inline constexpr std::uint8_t kTargetNoOptionBytes = 0x20;  // "Program Option Byte" not ticked
inline constexpr std::uint8_t kTargetM0Copy = 0x40;         // second copy of isM0Family
inline constexpr std::uint8_t kTargetM0 = 0x80;             // isM0Family

// linkCtrl bits that the window sets (the others keep their value).
inline constexpr std::uint8_t kLinkSwdioShared = 0x04;  // "SWDIO复用"
inline constexpr std::uint8_t kLinkSlowClock = 0x10;    // "Slow SWCLK"
inline constexpr std::uint8_t kLinkBigEndianSn = 0x20;  // serial numbers stored big-endian

// powerCtrl bits; bits 0-1 are the reset-pin mode (0 low, 1 high impedance, 2 reset then off).
inline constexpr std::uint8_t kPowerResetMask = 0x03;
inline constexpr std::uint8_t kPowerRunAfter = 0x04;  // start the part after programming
inline constexpr std::uint8_t kPowerStaysOn = 0x30;   // power output left on after programming
inline constexpr std::uint8_t kPowerRunThenShut = 0x80;

inline constexpr std::uint8_t kCheckStopIfNotBlank = 0x01;  // checkCtrl bit 0
inline constexpr std::uint8_t kEraseDirect = 0x20;          // eraseCtrl bit 5, "直接擦除"
inline constexpr std::uint8_t kFamilyCtrlN32G003 = 0x10;    // familyCtrl bit 4

// The "on" value of the enable bytes (autoDetect, countEnable, snEnable).
inline constexpr std::uint8_t kEnabled = 15;

// countLimit when the count limit is off.
inline constexpr std::uint32_t kNoCountLimit = 0xFFFFFFFF;
// snAddress when serial numbers are off.
inline constexpr std::uint32_t kNoSerialAddress = 0xFFFFFFFF;

struct JobSettings {
  // --- Control bytes of the settings header ---
  // Assigned afresh by every assembly: kTarget* bits.
  std::uint8_t targetCtrl = 0;
  // kLink* bits from the window; applying a part clears bits 2 and 3, confirming one bit 7.
  std::uint8_t linkCtrl = 0x7C;
  // Power output, reset-pin mode and run bits (kPower*), assigned afresh by every assembly.
  std::uint8_t powerCtrl = 0;
  // Bit 5 "直接擦除" from the window; every chip choice sets the whole byte to 0.
  std::uint8_t eraseCtrl = 0x80;
  // Bit 0 "非空报错退出"; bit 2 N32G003 part; bit 1 N32G003 part with "5" as ninth character,
  // whose last 512 bytes are left out of the displayed image and the flash checksums.
  std::uint8_t checkCtrl = 0;
  // Bit 0 isN32G020, bit 2 isN32G430G401 (set by applying a part); bit 4 name begins "N32G003".
  std::uint8_t familyCtrl = 0;
  // 1 when the option bytes are written after programming ("Program Option Byte").
  std::uint8_t programOptionBytes = 0;

  // --- Chip detection and timings (stored units, not milliseconds) ---
  std::uint8_t autoDetect = kEnabled;  // kEnabled when "自动芯片检测" is ticked, else 0
  std::uint16_t insertSettle = 17;     // chip-inserted settle time, units of 30 ms
  std::uint16_t removeSettle = 17;     // chip-removed settle time, units of 30 ms
  std::uint8_t powerOnTime = 10;       // power-up settle time, units of 10 ms
  std::uint8_t powerOffTime = 10;      // power-down settle time, units of 10 ms
  std::uint16_t runTime = 50;          // run time before shut-down, units of 10 ms

  // --- Count limit (enforced by the programmers, not by the station) ---
  std::uint8_t countEnable = 0;  // kEnabled or 0
  std::uint32_t countLimit = kNoCountLimit;

  // --- Serial numbers ---
  std::uint8_t snEnable = 0;  // kEnabled or 0
  std::uint8_t snSize = 4;    // bytes per serial number, always 4
  std::uint16_t snGain = 1;
  std::uint32_t snAddress = 0x00FFFFFF;
  // Start value of channel n is snStart[n - 1] (snStart1..snStart4).
  std::array<std::uint32_t, 4> snStart = {0, 0, 0, 0};
  // How a project stores the serial-number display: bit 0 decimal display, bit 2 big-endian.
  std::uint8_t snDisplayFlags = 0;

  // --- Checksums carried in the settings header ---
  std::uint16_t fileCrc = 0;  // CRC of the flash image over the flash window
  std::uint16_t fileSum = 0;  // additive checksum of the same bytes
  std::uint16_t otpCrc = 0;   // the same over the first otpSize bytes of the OTP data image
  std::uint16_t otpSum = 0;
  std::uint16_t optionSum = 0;     // 16-bit sum of option-byte image bytes 0..23
  std::uint16_t optionSumInv = 0;  // its bitwise complement

  // --- Read-specific-address request ---
  std::uint32_t readAddress = 0;  // multiple of 16
  std::uint16_t readLength = 32;  // bytes, 16..4096 in steps of 16

  // Name of the last loaded object file without its directory; the download carries at most 48
  // characters of it, a project file stores it.
  std::string loadedFileName;
  // The name's bytes as a project file stored them: sent and saved unchanged while the name is
  // the one read (a name no character set shows whole keeps its bytes).
  std::string loadedFileNameGbk;

  bool operator==(const JobSettings&) const = default;
};

}  // namespace korvan
