#include "core/chips/chip_setup.h"

namespace korvan {

CatalogueEntry DialogSelectionFor(std::string_view name, std::optional<int> series) {
  if (series) return {*series, PositionInSeries(*series, name).value_or(0)};
  return FindPart(name).value_or(CatalogueEntry{0, 0});
}

CatalogueEntry ConfirmAndApplyChip(ChipRecord& chip, ChipControlBytes control,
                                   OptionByteImage& optionBytes, ChipView& view,
                                   std::string_view name, std::optional<int> series) {
  const CatalogueEntry selection = DialogSelectionFor(name, series);
  ConfirmChip(chip, control, selection.series, selection.position, name);
  SetOptionByteDefaults(optionBytes, chip);
  ApplyChip(chip, control, view);
  return selection;
}

}  // namespace korvan
