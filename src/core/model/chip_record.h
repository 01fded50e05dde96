// The chip record: everything the station knows about the target part. One instance lives for
// the whole run (owned by the station); it is filled by confirming a part in the chip dialog
// (ConfirmChip), by applying it (ApplyChip) and by loading a project file. Requests, the job
// settings and project files carry its fields. Used on the station's thread only.
#pragma once

#include <cstdint>
#include <string>

namespace korvan {

// Family codes; every later rule keys on them.
inline constexpr std::uint8_t kFamilyN32G45 = 0x00;   // "N32G45xxx", "N32A45xxx", "Else Chips"
inline constexpr std::uint8_t kFamilyN32G4FR = 0x10;  // "N32G4FRxx"
inline constexpr std::uint8_t kFamilyM0 = 0x20;       // "N32G0xxx" (Cortex-M0)
inline constexpr std::uint8_t kFamilyN32G43 = 0x30;   // "N32G43xx", "N32G401xx"
inline constexpr std::uint8_t kFamilyN32L4 = 0x40;    // "N32L4xxx"
inline constexpr std::uint8_t kFamilyN32WB = 0x50;    // "N32WBxxxx"
inline constexpr std::uint8_t kFamilyN32WB03 = 0x80;  // any name beginning "N32WB03"

// Always sent ahead of the family code.
inline constexpr std::uint8_t kChipGroup = 26;

// `editorLayout` bits of the general option-byte editor.
inline constexpr std::uint8_t kLayoutHideUser2 = 0x04;    // hides the USER2 group
inline constexpr std::uint8_t kLayoutHideResetPd = 0x10;  // hides the nRST_PD row

struct ChipRecord {
  // Part number as confirmed, listed or typed; requests carry at most its first 16 characters.
  std::string chipName;
  // The name's bytes as a project file stored them (see JobSettings::loadedFileNameGbk).
  std::string chipNameGbk;
  std::uint8_t chipGroup = kChipGroup;
  // The series' family code, or kFamilyN32WB03 for names beginning "N32WB03".
  std::uint8_t familyCode = 0x00;
  // Position of the part in its series list (low 8 bits); 0x80 for names beginning "N32G020G7".
  std::uint8_t partIndex = 0;
  std::uint16_t flashSizeKB = 128;
  std::uint16_t blockSize = 1024;
  // Number of 1024-byte blocks: equal to flashSizeKB.
  std::uint16_t blockCount = 128;
  // Option-byte image bytes the part uses: 20, 16, 8, or 0 when it has none.
  std::uint8_t optionByteLength = 0;
  // Flag set of the general option-byte editor (kLayoutHideUser2, kLayoutHideResetPd). A
  // project load leaves it alone, so it stays 0 until a part is confirmed in the run.
  std::uint8_t editorLayout = 0;
  // The flash window: first and last chip address of the flash.
  std::uint32_t flashStart = 0x08000000;
  std::uint32_t flashEnd = 0x0801FFFF;
  // The EEP data window.
  std::uint32_t eepStart = 0x08080000;
  std::uint32_t eepEnd = 0x08080FFF;
  // Bytes of OTP data; 0 = none.
  std::uint16_t otpSize = 0;
  // 1 when the part has OTP data (shows the OTP menu entries).
  std::uint8_t otpPresent = 0;
  // Family code 0x20. Held twice: the copies become bits 7 and 6 of `targetCtrl` and a project
  // file restores them separately, so they may differ after a load.
  std::uint8_t isM0Family = 0;      // -> targetCtrl bit 7
  std::uint8_t isM0FamilyCopy = 0;  // -> targetCtrl bit 6
  // Family code 0x30 or 0x40.
  std::uint8_t isG43xOrL4Family = 0;
  // Name begins "N32G020": family 0x20, but its option bytes are neither edited nor shown.
  std::uint8_t isN32G020 = 0;
  // Name begins "N32G430" or "N32G401": option-byte layout B and its own editor.
  std::uint8_t isN32G430G401 = 0;
  // A part has been confirmed (or restored from a project); operations refuse to run without.
  std::uint8_t chipConfirmed = 0;
};

// The job-settings bytes that receive chip bits outside the assembly of the job settings. The
// job settings own the bytes; the chip steps change them through these references.
//   linkCtrl:   bit 7 cleared by ConfirmChip; bits 2 and 3 cleared by ApplyChip.
//   eraseCtrl:  set to 0 by both.
//   checkCtrl:  ConfirmChip assigns it afresh: bit 2 every N32G003 part, bit 1 an N32G003 part
//               whose size character is "5" (its last 512 bytes are left out of views and sums).
//   familyCtrl: ApplyChip assigns it afresh: bit 0 isN32G020, bit 2 isN32G430G401.
struct ChipControlBytes {
  std::uint8_t& linkCtrl;
  std::uint8_t& eraseCtrl;
  std::uint8_t& checkCtrl;
  std::uint8_t& familyCtrl;
};

inline constexpr std::uint8_t kCheckN32G003 = 0x04;
inline constexpr std::uint8_t kCheckN32G003Short = 0x02;
inline constexpr std::uint8_t kFamilyCtrlN32G020 = 0x01;
inline constexpr std::uint8_t kFamilyCtrlN32G430G401 = 0x04;

}  // namespace korvan
