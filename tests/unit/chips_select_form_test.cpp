#include <gtest/gtest.h>

#include "core/chips/chip_select_form.h"

namespace korvan {
namespace {

struct Dialog {
  ChipRecord chip;
  std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0, familyCtrl = 0;
  TNChipSelectForm form{chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}};
  Dialog() { form.FormShow(); }
  void ClickSeries(int index) {
    form.ListBoxSeries.itemIndex = index;
    form.ListBoxSeriesClick();
  }
  void ClickPart(int index) {
    form.ListBoxChips.itemIndex = index;
    form.ListBoxChipsClick();
  }
};

TEST(TNChipSelectForm, OpensOnTheFirstSeriesAndPartEveryTime) {
  ChipRecord chip;
  std::uint8_t a = 0, b = 0, c = 0, d = 0;
  for (int opening = 0; opening < 2; ++opening) {
    TNChipSelectForm form(chip, {a, b, c, d});
    form.FormShow();
    ASSERT_EQ(form.ListBoxSeries.items.size(), 9u);
    EXPECT_EQ(form.ListBoxSeries.items[0], "N32G45xxx");
    EXPECT_EQ(form.ListBoxSeries.itemIndex, 0);
    EXPECT_EQ(form.ListBoxChips.items.size(), 33u);
    EXPECT_EQ(form.ListBoxChips.itemIndex, 0);
    EXPECT_EQ(form.EditSelChip.text, "N32G452CBL7");
    // Choose something else before the next opening.
    form.ListBoxSeries.itemIndex = 5;
    form.ListBoxSeriesClick();
    form.BitBtnOKClick();
    EXPECT_EQ(chip.chipName, "N32WB452CE");
  }
}

TEST(TNChipSelectForm, SeriesAndPartClicksFillTheListAndTheEdit) {
  Dialog d;
  d.ClickSeries(7);
  EXPECT_EQ(d.form.ListBoxChips.items.size(), 15u);
  EXPECT_EQ(d.form.EditSelChip.text, "N32G401F6S7-1");
  d.ClickSeries(8);
  EXPECT_EQ(d.form.ListBoxChips.items, std::vector<std::string>{"NSS32LOCK-1"});
  EXPECT_EQ(d.form.EditSelChip.text, "NSS32LOCK-1");
  d.ClickSeries(2);
  d.ClickPart(18);
  EXPECT_EQ(d.form.EditSelChip.text, "N32G031K8L7");
  d.form.BitBtnOKClick();
  EXPECT_EQ(d.chip.chipName, "N32G031K8L7");
  EXPECT_EQ(d.chip.partIndex, 18);
  EXPECT_EQ(d.chip.familyCode, 0x20);
  EXPECT_EQ(d.chip.chipConfirmed, 1);
}

TEST(TNChipSelectForm, ATypedNameKeepsTheSelectedSeriesAndPosition) {
  Dialog d;
  d.form.EditSelChip.text = "N32WB031KEQ6";
  d.form.BitBtnOKClick();
  EXPECT_EQ(d.chip.chipName, "N32WB031KEQ6");
  EXPECT_EQ(d.chip.familyCode, 0x80);
  EXPECT_EQ(d.chip.partIndex, 0);
  EXPECT_EQ(d.chip.flashSizeKB, 512);
  EXPECT_EQ(d.chip.editorLayout, 0x14);
  EXPECT_EQ(d.chip.optionByteLength, 0);

  // Clicking a series afterwards replaces the typed text; the empty text is accepted too.
  d.form.EditSelChip.text = "typed";
  d.ClickSeries(3);
  EXPECT_EQ(d.form.EditSelChip.text, "N32G430C6L7");
  d.form.EditSelChip.text.clear();
  d.form.BitBtnOKClick();
  EXPECT_EQ(d.chip.chipName, "");
  EXPECT_EQ(d.chip.familyCode, 0x30);
  EXPECT_EQ(d.chip.flashSizeKB, 1024);
}

TEST(TNChipSelectForm, ADoubleClickConfirmsAndCancelDoesNotUndoIt) {
  ChipRecord chip;
  std::uint8_t linkCtrl = 0xFC, eraseCtrl = 0x80, checkCtrl = 0, familyCtrl = 0;
  {
    TNChipSelectForm form(chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl});
    form.FormShow();
    form.ListBoxSeries.itemIndex = 2;
    form.ListBoxSeriesClick();
    form.ListBoxChips.itemIndex = 18;
    form.ListBoxChipsClick();
    form.ListBoxChipsDblClick();
    // Cancel runs nothing; the dialog is destroyed.
  }
  EXPECT_EQ(chip.chipName, "N32G031K8L7");
  EXPECT_EQ(chip.chipConfirmed, 1);
  EXPECT_EQ(linkCtrl, 0x7C);
  EXPECT_EQ(eraseCtrl, 0x00);
}

}  // namespace
}  // namespace korvan
