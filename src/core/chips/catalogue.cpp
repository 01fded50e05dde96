#include "core/chips/catalogue.h"

#include <array>

#include "core/util/format.h"

namespace korvan {

namespace {

using namespace std::string_view_literals;

constexpr std::array kSeriesNames = {
    "N32G45xxx"sv, "N32G4FRxx"sv, "N32G0xxx"sv,  "N32G43xx"sv,   "N32L4xxx"sv,
    "N32WBxxxx"sv, "N32A45xxx"sv, "N32G401xx"sv, "Else Chips"sv,
};

constexpr std::array<std::uint8_t, kSeriesCount> kSeriesFamily = {
    kFamilyN32G45, kFamilyN32G4FR, kFamilyM0,     kFamilyN32G43, kFamilyN32L4,
    kFamilyN32WB,  kFamilyN32G45,  kFamilyN32G43, kFamilyN32G45,
};

constexpr std::array kN32G45 = {
    "N32G452CBL7"sv, "N32G452CBC7"sv, "N32G452RBL7"sv, "N32G452MBL7"sv, "N32G452VBL7"sv,
    "N32G452CCL7"sv, "N32G452CCC7"sv, "N32G452RCL7"sv, "N32G452MCL7"sv, "N32G452VCL7"sv,
    "N32G452QCL7"sv, "N32G452REL7"sv, "N32G452MEL7"sv, "N32G452VEL7"sv, "N32G452QEL7"sv,
    "N32G455CBL7"sv, "N32G455RBL7"sv, "N32G455MBL7"sv, "N32G455VBL7"sv, "N32G455CCL7"sv,
    "N32G455RCL7"sv, "N32G455MCL7"sv, "N32G455VCL7"sv, "N32G455REL7"sv, "N32G455MEL7"sv,
    "N32G455VEL7"sv, "N32G457RCL7"sv, "N32G457MCL7"sv, "N32G457VCL7"sv, "N32G457REL7"sv,
    "N32G457MEL7"sv, "N32G457VEL7"sv, "N32G457QEL7"sv,
};

constexpr std::array kN32G4FR = {
    "N32G4FRKCQ7"sv, "N32G4FRHCQ7"sv, "N32G4FRKEQ7"sv,
    "N32G4FRHEQ7"sv, "N32G4FRREL7"sv, "N32G4FRMEL7"sv,
};

constexpr std::array kN32G0 = {
    "N32G003F5Q7"sv,   "N32G003F4Q7"sv, "N32G003F5S7"sv,   "N32G003F4S7"sv, "N32G030F6U7"sv,
    "N32G030F6S7"sv,   "N32G030K6Q7"sv, "N32G030K6Q7-1"sv, "N32G030K6L7"sv, "N32G030K8L7"sv,
    "N32G030C8L7"sv,   "N32G031F6U7"sv, "N32G031F6S7"sv,   "N32G031K6L7"sv, "N32G031K6Q7"sv,
    "N32G031K6L7-1"sv, "N32G031F8U7"sv, "N32G031F8S7"sv,   "N32G031K8L7"sv, "N32G031K8Q7"sv,
    "N32G031K8L7-1"sv, "N32G031C8L7"sv, "N32G031C8T7"sv,   "N32G032F6U7"sv, "N32G032F6S7"sv,
    "N32G032F6W7"sv,   "N32G032P8W7"sv, "N32G032K6Q7"sv,   "N32G032K6L7"sv, "N32G032C8L7"sv,
    "N32G032R8L7"sv,   "N32G020G5xx"sv, "N32G020G6xx"sv,   "N32G020G7xx"sv, "N32G020K6xx"sv,
    "N32G020K7xx"sv,   "N32G020K8xx"sv,
};

constexpr std::array kN32G43 = {
    "N32G430C6L7"sv, "N32G430K6L7"sv, "N32G430C6Q7"sv, "N32G430K6Q7"sv, "N32G430G6Q7"sv,
    "N32G430F6Q7"sv, "N32G430F6S7"sv, "N32G430C8L7"sv, "N32G430K8L7"sv, "N32G430C8Q7"sv,
    "N32G430K8Q7"sv, "N32G430G8Q7"sv, "N32G430F8Q7"sv, "N32G430F8S7"sv, "N32G432K8L7"sv,
    "N32G432KBL7"sv, "N32G432C8L7"sv, "N32G432CBL7"sv, "N32G432R8L7"sv, "N32G432RBL7"sv,
    "N32G435K8L7"sv, "N32G435KBL7"sv, "N32G435C8L7"sv, "N32G435CBL7"sv, "N32G435R8L7"sv,
    "N32G435RBL7"sv,
};

// "N32L406CBl7" carries a lower-case l: that is the name programmers and project files know.
constexpr std::array kN32L4 = {
    "N32L433K8L7"sv, "N32L433KBL7"sv, "N32L436C8L7"sv, "N32L436CBL7"sv,
    "N32L436R8L7"sv, "N32L436RBL7"sv, "N32L436MBL7"sv, "N32L402C8x7"sv,
    "N32L402CBx7"sv, "N32L403K8Q7"sv, "N32L403KBQ7"sv, "N32L406C8Q7"sv,
    "N32L406CBl7"sv, "N32L406R8Q7"sv, "N32L406RBL7"sv, "N32L406MBL7"sv,
};

constexpr std::array kN32WB = {
    "N32WB452CE"sv, "N32WB452RE"sv, "N32WB452LE"sv, "N32WB031KEQ6"sv, "N32WB031KCQ6"sv,
};

constexpr std::array kN32A45 = {
    "N32A455REL8"sv, "N32A455VEL8"sv, "N32A455CEL7"sv, "N32A455REL7"sv, "N32A455VEL7"sv,
};

constexpr std::array kN32G401 = {
    "N32G401F6S7-1"sv, "N32G401F8S7-1"sv, "N32G401F6Q7"sv, "N32G401F8Q7"sv,   "N32G401G6Q7"sv,
    "N32G401G8Q7"sv,   "N32G401K6L7"sv,   "N32G401K8L7"sv, "N32G401K8Q7-1"sv, "N32G401C6L7"sv,
    "N32G401C8L7"sv,   "N32G401K6Q7"sv,   "N32G401K8Q7"sv, "N32G401C6Q7"sv,   "N32G401C8Q7"sv,
};

constexpr std::array kElseChips = {"NSS32LOCK-1"sv};

const std::array<std::span<const std::string_view>, kSeriesCount> kPartLists = {
    kN32G45, kN32G4FR, kN32G0, kN32G43, kN32L4, kN32WB, kN32A45, kN32G401, kElseChips,
};

// Character at 1-based position `position`, or '\0' when the name is shorter: a missing
// character is "no size code" like any other.
char CharAt(std::string_view name, std::size_t position) {
  return position <= name.size() ? name[position - 1] : '\0';
}

bool BeginsWith(std::string_view name, std::string_view prefix) {
  return name.starts_with(prefix);
}

}  // namespace

std::span<const std::string_view> SeriesNames() {
  return kSeriesNames;
}

std::span<const std::string_view> PartsOfSeries(int series) {
  if (series < 0 || series >= kSeriesCount) return {};
  return kPartLists[static_cast<std::size_t>(series)];
}

std::uint8_t FamilyCodeOfSeries(int series) {
  if (series < 0 || series >= kSeriesCount) return kFamilyN32G45;
  return kSeriesFamily[static_cast<std::size_t>(series)];
}

std::optional<int> PositionInSeries(int series, std::string_view name) {
  const auto parts = PartsOfSeries(series);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i] == name) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<CatalogueEntry> FindPart(std::string_view name) {
  for (int series = 0; series < kSeriesCount; ++series) {
    if (auto position = PositionInSeries(series, name)) return CatalogueEntry{series, *position};
  }
  return std::nullopt;
}

std::uint16_t FlashSizeOfCode(char code) {
  switch (code) {
    case '4':
      return 16;
    case '6':
      return 32;
    case '8':
      return 64;
    case 'B':
      return 128;
    case 'C':
      return 256;
    case 'D':
      return 384;
    case 'E':
      return 512;
    case 'F':
      return 768;
    case 'G':
      return 1024;
    case 'I':
      return 2048;
    case 'K':
      return 3072;
    default:
      return 1024;
  }
}

std::uint16_t DecodeFlashSize(std::string_view name, std::uint8_t& checkCtrl) {
  if (BeginsWith(name, "N32G003")) {
    checkCtrl |= kCheckN32G003;
    if (CharAt(name, 9) == '5') {
      // 32 KiB of flash of which the top 512 bytes are not the application's.
      checkCtrl |= kCheckN32G003Short;
      return 30;
    }
    return 16;
  }
  if (BeginsWith(name, "NSS32LOCK")) return 512;
  if (BeginsWith(name, "N32G020")) {
    switch (CharAt(name, 9)) {
      case '5':
        return 32;
      case '6':
        return 64;
      case '7':
        return 128;
      case '8':
        return 256;
      // Other N32G020 variants are unknown: treat them like a name without a size code.
      default:
        return 1024;
    }
  }
  if (BeginsWith(name, "N32WB45")) return FlashSizeOfCode(CharAt(name, 10));
  if (BeginsWith(name, "N32WB03")) return CharAt(name, 10) == 'E' ? 512 : 256;
  return FlashSizeOfCode(CharAt(name, 9));
}

void ConfirmChip(ChipRecord& chip, ChipControlBytes control, int series, int position,
                 std::string_view name) {
  chip.otpPresent = 0;
  chip.isM0Family = 0;
  chip.isM0FamilyCopy = 0;
  chip.otpSize = 0;
  control.eraseCtrl = 0;
  control.checkCtrl = 0;
  control.linkCtrl &= static_cast<std::uint8_t>(~0x80u);
  chip.chipGroup = kChipGroup;
  chip.chipConfirmed = 1;

  chip.chipName = std::string(name);
  chip.familyCode = FamilyCodeOfSeries(series);
  chip.partIndex = static_cast<std::uint8_t>(position);

  chip.flashSizeKB = DecodeFlashSize(name, control.checkCtrl);

  // The programmer tells this part from its list neighbours by a part index of its own.
  if (BeginsWith(name, "N32G020G7")) chip.partIndex = 0x80;

  const std::uint8_t family = chip.familyCode;
  chip.isM0Family = family == kFamilyM0 ? 1 : 0;
  chip.isM0FamilyCopy = chip.isM0Family;
  chip.isG43xOrL4Family = (family == kFamilyN32G43 || family == kFamilyN32L4) ? 1 : 0;
  chip.isN32G020 = BeginsWith(name, "N32G020") ? 1 : 0;
  chip.isN32G430G401 = (BeginsWith(name, "N32G430") || BeginsWith(name, "N32G401")) ? 1 : 0;

  switch (family) {
    case kFamilyM0:
      chip.editorLayout = 0x00;
      chip.optionByteLength = 8;
      break;
    case kFamilyN32G43:
      chip.editorLayout = 0x20;
      chip.optionByteLength = chip.isN32G430G401 ? 16 : 20;
      break;
    case kFamilyN32L4:
      chip.editorLayout = 0x20;
      chip.optionByteLength = 20;
      break;
    default:  // 0x00, 0x10, 0x50
      chip.editorLayout = kLayoutHideUser2 | kLayoutHideResetPd;
      chip.optionByteLength = 20;
      break;
  }

  // N32WB03x parts have no option bytes, whatever series they were confirmed under; the
  // derived flags and the editor layout above keep the series' values.
  if (BeginsWith(name, "N32WB03")) {
    chip.familyCode = kFamilyN32WB03;
    chip.optionByteLength = 0;
  }
}

void ApplyChip(ChipRecord& chip, ChipControlBytes control, ChipView& view) {
  control.linkCtrl &= static_cast<std::uint8_t>(~0x0Cu);
  view.ChkBoxDlySkp.checked = false;
  view.ChkBoxDlySkp.visible = false;
  view.RadioGpVolt.itemIndex = 0;
  view.RadioGpVolt.enabled = true;

  view.lbFlashSize.caption = Format("%d KB.", chip.flashSizeKB);

  chip.blockSize = 1024;
  chip.blockCount = chip.flashSizeKB;

  control.eraseCtrl = 0;
  control.familyCtrl = 0;
  if (chip.isN32G020) control.familyCtrl |= kFamilyCtrlN32G020;
  if (chip.isN32G430G401) control.familyCtrl |= kFamilyCtrlN32G430G401;

  const std::uint32_t size = std::uint32_t{chip.flashSizeKB} * 1024u;
  if (chip.familyCode == kFamilyN32WB03) {
    // On these parts SWDIO may be shared with a pin function; only they offer the choice.
    view.ChkBoxDlySkp.visible = true;
    chip.flashStart = 0x01000000;
    chip.flashEnd = chip.flashStart + size - 1;
  } else if (chip.isN32G020) {
    // The N32G020 flash ends at a fixed address and grows downwards with its size. A size
    // larger than the space below that end (an unknown variant decoded as 1024 KiB) starts the
    // window at address 0 rather than wrapping round above its end.
    chip.flashEnd = 0x0004FFFF;
    chip.flashStart = size <= 0x00050000 ? 0x00050000 - size : 0;
  } else {
    chip.flashStart = 0x08000000;
    chip.flashEnd = chip.flashStart + size - 1;
  }
}

OptionByteEditorKind OptionByteEditorFor(const ChipRecord& chip) {
  if (chip.optionByteLength == 0 || chip.isN32G020) return OptionByteEditorKind::None;
  if (chip.familyCode == kFamilyM0) return OptionByteEditorKind::M0;
  if (chip.isN32G430G401) return OptionByteEditorKind::G430;
  return OptionByteEditorKind::General;
}

std::string_view OptionByteEditorName(OptionByteEditorKind kind) {
  switch (kind) {
    case OptionByteEditorKind::General:
      return "general";
    case OptionByteEditorKind::M0:
      return "m0";
    case OptionByteEditorKind::G430:
      return "g430";
    case OptionByteEditorKind::None:
      break;
  }
  return "none";
}

}  // namespace korvan
