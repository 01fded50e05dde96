// Choosing a part without the dialog: what the command-line station does for --chip/--series.
#pragma once

#include <optional>
#include <string_view>

#include "core/chips/catalogue.h"
#include "core/chips/chip_view.h"
#include "core/chips/option_bytes.h"
#include "core/model/chip_record.h"

namespace korvan {

// Where the dialog would stand when `name` is confirmed: with `series` given, that series and
// the name's position in its list (0 when the name is typed); without, the first series whose
// list holds the name with its position; for a name no list holds, series 0 and position 0.
// `series` must be 0..8 when given.
CatalogueEntry DialogSelectionFor(std::string_view name, std::optional<int> series);

// Confirms `name` as the chip dialog would (DialogSelectionFor), then does what the window
// does when the part name changes: option-byte defaults, then ApplyChip. Returns the series and
// position that were confirmed.
CatalogueEntry ConfirmAndApplyChip(ChipRecord& chip, ChipControlBytes control,
                                   OptionByteImage& optionBytes, ChipView& view,
                                   std::string_view name, std::optional<int> series = {});

}  // namespace korvan
