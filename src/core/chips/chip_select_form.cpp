#include "core/chips/chip_select_form.h"

namespace korvan {

TNChipSelectForm::TNChipSelectForm(ChipRecord& chip, ChipControlBytes control)
    : chip_(chip), control_(control) {}

void TNChipSelectForm::FormShow() {
  ListBoxSeries.items.clear();
  for (std::string_view name : SeriesNames()) ListBoxSeries.items.emplace_back(name);
  ListBoxSeries.itemIndex = 0;
  ListBoxSeriesClick();
}

void TNChipSelectForm::ListBoxSeriesClick() {
  ListBoxChips.items.clear();
  for (std::string_view part : PartsOfSeries(ListBoxSeries.itemIndex)) {
    ListBoxChips.items.emplace_back(part);
  }
  ListBoxChips.itemIndex = ListBoxChips.items.empty() ? -1 : 0;
  ListBoxChipsClick();
}

void TNChipSelectForm::ListBoxChipsClick() {
  const int index = ListBoxChips.itemIndex;
  if (index < 0 || index >= static_cast<int>(ListBoxChips.items.size())) return;
  EditSelChip.text = ListBoxChips.items[static_cast<std::size_t>(index)];
}

void TNChipSelectForm::BitBtnOKClick() {
  ConfirmChip(chip_, control_, ListBoxSeries.itemIndex, ListBoxChips.itemIndex, EditSelChip.text);
}

}  // namespace korvan
