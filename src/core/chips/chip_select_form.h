// The model of the chip selection dialog: a series list, the part list of the selected series
// and an edit field that may also be typed into. OK (or a double click on a part) confirms the
// edit's text with the selected series and position; nothing else leaves the dialog. Created
// for each opening, so it always opens on the first series and its first part.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/chips/catalogue.h"
#include "core/model/chip_record.h"

namespace korvan {

// A single-selection list box.
struct ListBoxView {
  std::vector<std::string> items;
  int itemIndex = -1;
};

struct EditView {
  std::string text;
};

class TNChipSelectForm {
 public:
  // `chip` and the bytes behind `control` must outlive the dialog.
  TNChipSelectForm(ChipRecord& chip, ChipControlBytes control);

  static constexpr std::string_view Caption = "N32Fxx Chip Selection Dialog";
  static constexpr int Width = 505;
  static constexpr int Height = 441;
  static constexpr int ItemHeight = 20;  // of both lists
  static constexpr std::string_view LabelSeries = "Chip Series Select:   ";
  static constexpr std::string_view LabelChips = "Chip Type Select:   ";
  static constexpr std::string_view LabelSelected = "Chip Selected: ";
  static constexpr std::string_view LabelInput = "注： 不在列表直接输入！ ";

  ListBoxView ListBoxSeries;
  ListBoxView ListBoxChips;
  // The part name OK confirms; the operator may type any text.
  EditView EditSelChip;

  // Fills the series list, selects series 0 and runs ListBoxSeriesClick.
  void FormShow();
  // Refills the part list from the selected series, selects its first part and puts that
  // part's name into the edit (replacing typed text).
  void ListBoxSeriesClick();
  // Puts the selected part's name into the edit.
  void ListBoxChipsClick();
  // Confirms the edit's text with the selected series and part position (ConfirmChip).
  void BitBtnOKClick();
  // A double click on a part confirms at once but leaves the dialog open; a later Cancel does
  // not undo it.
  void ListBoxChipsDblClick() { BitBtnOKClick(); }

 private:
  ChipRecord& chip_;
  ChipControlBytes control_;
};

}  // namespace korvan
