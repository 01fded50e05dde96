// The chip catalogue: nine series with their part lists, and the rules that derive a chip record
// from a series and a part name. The catalogue stores names only; the flash size and every
// other parameter come from the name and the series by rule, so a typed part number is treated
// exactly like a listed one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/chips/chip_view.h"
#include "core/model/chip_record.h"

namespace korvan {

inline constexpr int kSeriesCount = 9;

// The nine series names in list order ("N32G45xxx" .. "Else Chips").
std::span<const std::string_view> SeriesNames();

// The ordered part list of series `series` (0..8); empty for any other index. A part's position
// in the list is the part index that travels to the programmer.
std::span<const std::string_view> PartsOfSeries(int series);

// The family code of series `series` (0..8); 0x00 for any other index.
std::uint8_t FamilyCodeOfSeries(int series);

// Position of `name` in the list of `series` (exact, case-sensitive), or nullopt.
std::optional<int> PositionInSeries(int series, std::string_view name);

// The first series (in list order) whose list holds `name`, with its position, or nullopt.
struct CatalogueEntry {
  int series;
  int position;
};
std::optional<CatalogueEntry> FindPart(std::string_view name);

// Flash size in KiB of one size character ('4' 16 .. 'K' 3072); any other character 1024.
std::uint16_t FlashSizeOfCode(char code);

// Flash size in KiB read out of a part name. Prefix tests are exact and case-sensitive; a
// character position beyond the name's end counts as "no size code". Side effect: sets
// kCheckN32G003 in `checkCtrl` for an N32G003 name, and kCheckN32G003Short too when its size
// character is '5' (30 KiB). Other bits of `checkCtrl` are left alone.
std::uint16_t DecodeFlashSize(std::string_view name, std::uint8_t& checkCtrl);

// The chip dialog's OK: fills `chip` from the selected series index, the selected list position
// and the text of the part-name field (any text, the empty one included). A typed name keeps
// the series and position that are selected; only the name rules look at the text.
void ConfirmChip(ChipRecord& chip, ChipControlBytes control, int series, int position,
                 std::string_view name);

// Applies a confirmed part: block size and count, the control bytes, the flash window (family
// 0x80 from 0x01000000, N32G020 parts ending at 0x0004FFFF, all others from 0x08000000) and the
// window's controls in `view`. Runs right after SetOptionByteDefaults.
void ApplyChip(ChipRecord& chip, ChipControlBytes control, ChipView& view);

// Which option-byte editor a part gets; None for parts without editable option bytes
// (optionByteLength 0, or N32G020 parts).
enum class OptionByteEditorKind { None, General, M0, G430 };
OptionByteEditorKind OptionByteEditorFor(const ChipRecord& chip);
// "none", "general", "m0", "g430".
std::string_view OptionByteEditorName(OptionByteEditorKind kind);

}  // namespace korvan
