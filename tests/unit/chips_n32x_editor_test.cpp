#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/chips/chip_setup.h"
#include "core/chips/n32x_opt_form.h"
#include "core/util/format.h"
#include "support/chosen_chip.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

using testing::FakeFrontend;

using Station = testing::ChosenChip;

// The radio pairs as (the "0" button, the "1" button).
std::vector<std::pair<const RadioView*, const RadioView*>> Pairs(const TN32xOptBForm& f) {
  return {{&f.RadBtnIWGHW, &f.RadBtnIWGSW},        {&f.RadBtnRstStp, &f.RadBtnNtRstStp},
          {&f.RadBtnRstStb, &f.RadBtnNtRstStb},    {&f.RadioButton2, &f.RadioButton1},
          {&f.RadioButtonnBT0, &f.RadioButtonBT0}, {&f.RadioButtonNSB, &f.RadioButtonSB},
          {&f.RadioButtonnBT1, &f.RadioButtonBT1}};
}

struct Row {
  const char* what;
  const char* part;
  std::function<void(TN32xOptBForm&, FakeFrontend&)> act;   // after FormShow
  std::vector<std::pair<std::size_t, std::uint8_t>> bytes;  // image bytes afterwards
  std::function<void(const TN32xOptBForm&)> check;
};

const Row kRows[] = {
    {"opening on the default image of a 0x14 layout",
     "N32G452CBL7",
     nullptr,
     {{0, 0xA5}, {1, 0x5A}, {2, 0xFF}, {16, 0xFF}, {18, 0x8F}, {19, 0x70}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.ComBoxROP.itemIndex, 0);
       EXPECT_EQ(f.PanelATR32xROP.caption, "0xA5/0xFF");
       for (auto [zero, one] : Pairs(f)) {
         EXPECT_TRUE(one->checked);
         EXPECT_FALSE(zero->checked);
       }
       for (int row = 0; row < 6; ++row) {
         for (int bit = 0; bit < 8; ++bit) {
           EXPECT_EQ(f.BitPanelCaption(row, bit), Format("Bit%d=1", bit));
         }
       }
       for (const PanelView* p : {&f.NATxOptUSER1, &f.ATR32xOptD0, &f.ATR32xOptD1, &f.ATR32xOptWP0,
                                  &f.ATR32xOptWP1, &f.ATR32xOptWP2, &f.ATR32xOptWP3}) {
         EXPECT_EQ(p->caption, "0xFF");
       }
       EXPECT_EQ(f.NATxOptUSER2.caption, "0x8F");
       EXPECT_EQ(f.ComBoxBOR.itemIndex, 0);
       EXPECT_FALSE(f.PanelUSER2.visible);
       EXPECT_FALSE(f.PanelRSTPD.visible);
       EXPECT_FALSE(f.PanelRstPBT.visible);
       EXPECT_EQ(f.Height, 520);
       EXPECT_EQ(f.Width, 718);
       EXPECT_EQ(f.BitBtnOK.top, 424);
       EXPECT_EQ(f.BitBtnNG.top, 424);
     }},
    {"opening for an N32L4 part shows USER2 and nRST_PD",
     "N32L436RBL7",
     nullptr,
     {},
     [](const TN32xOptBForm& f) {
       EXPECT_TRUE(f.PanelUSER2.visible);
       EXPECT_TRUE(f.PanelRSTPD.visible);
       EXPECT_TRUE(f.PanelRstPBT.visible);
       EXPECT_EQ(f.ComBoxBOR.itemIndex, 0);
       EXPECT_EQ(TN32xOptBForm::ComBoxBORItems()[0], "000　：BOR Level 0");
       EXPECT_EQ(f.NATxOptUSER2.caption, "0x8F");
       EXPECT_EQ(f.Height, 660);
       EXPECT_EQ(f.BitBtnOK.top, 560);
     }},
    {"opening for an N32G435 part shows USER2 and nRST_PD",
     "N32G435CBL7",
     nullptr,
     {},
     [](const TN32xOptBForm& f) {
       EXPECT_TRUE(f.PanelUSER2.visible);
       EXPECT_TRUE(f.PanelRSTPD.visible);
       EXPECT_EQ(f.Height, 660);
     }},
    {"BOR level 3, then nBOOT0=0",
     "N32L436RBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       f.ComBoxBOR.itemIndex = 3;
       f.ComBoxBORChange();
       EXPECT_EQ(f.NATxOptUSER2.caption, "0xBF");
       f.RadioButtonnBT0Click();
     },
     {{18, 0xBE}, {19, 0x41}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.NATxOptUSER2.caption, "0xBE");
       EXPECT_TRUE(f.RadioButtonnBT0.checked);
       EXPECT_FALSE(f.RadioButtonBT0.checked);
     }},
    {"BOR keeps bits 7 and 3..0",
     "N32L436RBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       f.RadioButtonnBT1Click();  // 0x8B
       f.ComBoxBOR.itemIndex = 7;
       f.ComBoxBORChange();  // 0xFB
       f.ComBoxBOR.itemIndex = 5;
       f.ComBoxBORChange();
     },
     {{18, 0xDB}, {19, 0x24}},
     [](const TN32xOptBForm& f) { EXPECT_EQ(f.NATxOptUSER2.caption, "0xDB"); }},
    {"hardware watchdog",
     "N32G452CBL7",
     [](TN32xOptBForm& f, FakeFrontend&) { f.RadBtnIWGHWClick(); },
     {{2, 0xFE}, {3, 0x01}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.NATxOptUSER1.caption, "0xFE");
       EXPECT_TRUE(f.RadBtnIWGHW.checked);
       EXPECT_FALSE(f.RadBtnIWGSW.checked);
     }},
    {"every user-byte radio writes its own bit",
     "N32L436RBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       f.RadBtnRstStpClick();     // byte 2 bit 1
       f.RadBtnRstStbClick();     // byte 2 bit 2
       f.RadioButton2Click();     // byte 2 bit 3
       f.RadioButtonNSBClick();   // byte 18 bit 1
       f.RadioButtonnBT1Click();  // byte 18 bit 2
     },
     {{2, 0xF1}, {3, 0x0E}, {18, 0x89}, {19, 0x76}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.NATxOptUSER1.caption, "0xF1");
       EXPECT_EQ(f.NATxOptUSER2.caption, "0x89");
     }},
    {"and the \"1\" radios set them again",
     "N32L436RBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       f.RadBtnIWGHWClick();
       f.RadBtnRstStpClick();
       f.RadBtnRstStbClick();
       f.RadioButton2Click();
       f.RadioButtonnBT0Click();
       f.RadioButtonNSBClick();
       f.RadioButtonnBT1Click();
       f.RadBtnIWGSWClick();
       f.RadBtnNtRstStpClick();
       f.RadBtnNtRstStbClick();
       f.RadioButton1Click();
       f.RadioButtonBT0Click();
       f.RadioButtonSBClick();
       f.RadioButtonBT1Click();
     },
     {{2, 0xFF}, {3, 0x00}, {18, 0x8F}, {19, 0x70}},
     [](const TN32xOptBForm& f) {
       for (auto [zero, one] : Pairs(f)) {
         EXPECT_TRUE(one->checked);
         EXPECT_FALSE(zero->checked);
       }
     }},
    {"WRP1 bit 3 to 0 through the popup",
     "N32G452CBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       EXPECT_TRUE(f.PnlP1B3MouseDown(MouseButton::Right));
       f.N03Click();
     },
     {{10, 0xF7}, {11, 0x08}, {8, 0xFF}, {12, 0xFF}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.BitPanelCaption("PnlP1B3"), "Bit3=0");
       EXPECT_EQ(f.BitPanelCaption("PnlP1B2"), "Bit2=1");
       EXPECT_EQ(f.BitPanelCaption("PnlP0B3"), "Bit3=1");
       EXPECT_EQ(f.ATR32xOptWP1.caption, "0xF7");
       EXPECT_EQ(f.ATR32xOptWP0.caption, "0xFF");
     }},
    {"a left press selects too; \"1\" sets the bit back",
     "N32G452CBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       EXPECT_FALSE(f.PnlD0B7MouseDown(MouseButton::Left));
       f.N03Click();
       EXPECT_EQ(f.ATR32xOptD0.caption, "0x7F");
       EXPECT_FALSE(f.BitPanelMouseDown("PnlP3B0", MouseButton::Middle));
       f.N03Click();
       EXPECT_TRUE(f.PnlD0B7MouseDown(MouseButton::Right));
       f.N110Click();
     },
     {{4, 0xFF}, {5, 0x00}, {14, 0xFE}, {15, 0x01}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.BitPanelCaption("PnlD0B7"), "Bit7=1");
       EXPECT_EQ(f.BitPanelCaption("PnlP3B0"), "Bit0=0");
       EXPECT_EQ(f.ATR32xOptWP3.caption, "0xFE");
     }},
    {"L1",
     "N32G452CBL7",
     [](TN32xOptBForm& f, FakeFrontend&) {
       f.ComBoxROP.itemIndex = 1;
       f.ComBoxROPChange();
     },
     {{0, 0x00}, {1, 0xFF}, {16, 0xFF}, {17, 0x00}},
     [](const TN32xOptBForm& f) { EXPECT_EQ(f.PanelATR32xROP.caption, "0x00/0xFF"); }},
    {"L2 refused",
     "N32G452CBL7",
     [](TN32xOptBForm& f, FakeFrontend& fe) {
       fe.answers.push_back(Answer::Cancel);
       f.ComBoxROP.itemIndex = 2;
       f.ComBoxROPChange();
       ASSERT_EQ(fe.questions.size(), 1u);
       EXPECT_EQ(fe.questions[0].text, "改选项会导致芯片将不可再继续烧写，请确认！");
       EXPECT_EQ(fe.questions[0].kind, MessageKind::Warning);
       EXPECT_EQ(fe.questions[0].buttons, Buttons::OkCancel);
     },
     {{0, 0xA5}, {1, 0x5A}, {16, 0xFF}, {17, 0x00}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.ComBoxROP.itemIndex, 1);
       EXPECT_EQ(f.PanelATR32xROP.caption, "0xA5/0xFF");
     }},
    {"L2 confirmed",
     "N32G452CBL7",
     [](TN32xOptBForm& f, FakeFrontend& fe) {
       fe.answers.push_back(Answer::Ok);
       f.ComBoxROP.itemIndex = 2;
       f.ComBoxROPChange();
     },
     {{0, 0xCC}, {1, 0x33}, {16, 0x33}, {17, 0xCC}},
     [](const TN32xOptBForm& f) {
       EXPECT_EQ(f.ComBoxROP.itemIndex, 2);
       EXPECT_EQ(f.PanelATR32xROP.caption, "0xCC/0x33");
     }},
};

TEST(TN32xOptBForm, OpeningAndEdits) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    Station s(row.part);
    TN32xOptBForm form(s.image, s.chip, s.frontend);
    form.FormShow();
    if (row.act) row.act(form, s.frontend);
    for (auto [index, value] : row.bytes) EXPECT_EQ(s.image[index], value) << "byte " << index;
    if (row.check) row.check(form);
  }
}

TEST(TN32xOptBForm, AProjectLoadedBeforeAnyPartShowsEveryRow) {
  ChipRecord chip;  // editorLayout 0: no part confirmed in this run
  chip.chipConfirmed = 1;
  chip.familyCode = 0x00;
  OptionByteImage image;
  image.fill(0xFF);
  FakeFrontend frontend;
  TN32xOptBForm form(image, chip, frontend);
  form.FormShow();
  EXPECT_TRUE(form.PanelUSER2.visible);
  EXPECT_TRUE(form.PanelRSTPD.visible);
  EXPECT_EQ(form.Height, 660);
  EXPECT_EQ(form.BitBtnNG.top, 560);
  // RDP 0xFF and RDP2 0xFF read back as L1.
  EXPECT_EQ(form.ComBoxROP.itemIndex, 1);
  EXPECT_EQ(form.ComBoxBOR.itemIndex, 7);
}

TEST(TN32xOptBForm, CancelRestoresAllBytesCloseBoxKeepsTheEdits) {
  Station s("N32L436RBL7");
  s.image[100] = 0x12;
  const OptionByteImage before = s.image;
  {
    TN32xOptBForm form(s.image, s.chip, s.frontend);
    form.FormShow();
    form.RadBtnIWGHWClick();
    form.ComBoxBOR.itemIndex = 6;
    form.ComBoxBORChange();
    form.PnlD1B0MouseDown(MouseButton::Right);
    form.N03Click();
    form.ComBoxROP.itemIndex = 2;
    form.ComBoxROPChange();
    s.image[100] = 0x34;  // a byte the editor does not show
    EXPECT_NE(s.image, before);
    form.BitBtnNGClick();
    EXPECT_EQ(s.image, before);
  }
  {
    // The close box runs no handler: the edits stay.
    TN32xOptBForm form(s.image, s.chip, s.frontend);
    form.FormShow();
    form.RadBtnRstStbClick();
    form.ComBoxBOR.itemIndex = 2;
    form.ComBoxBORChange();
    form.PnlD0B4MouseDown(MouseButton::Right);
    form.N03Click();
  }
  EXPECT_EQ(s.image[2], 0xFB);
  EXPECT_EQ(s.image[18], 0xAF);
  EXPECT_EQ(s.image[4], 0xEF);
  {
    // OK keeps them as well, and reopening shows them everywhere.
    TN32xOptBForm form(s.image, s.chip, s.frontend);
    form.FormShow();
    EXPECT_EQ(form.SavedCopy(), s.image);
    EXPECT_EQ(form.NATxOptUSER1.caption, "0xFB");
    EXPECT_TRUE(form.RadBtnRstStb.checked);
    EXPECT_FALSE(form.RadBtnNtRstStb.checked);
    EXPECT_EQ(form.NATxOptUSER2.caption, "0xAF");
    EXPECT_EQ(form.ComBoxBOR.itemIndex, 2);
    EXPECT_EQ(form.ATR32xOptD0.caption, "0xEF");
    EXPECT_EQ(form.BitPanelCaption("PnlD0B4"), "Bit4=0");
    form.BitBtnOKClick();
  }
  EXPECT_EQ(s.image[2], 0xFB);
}

}  // namespace
}  // namespace korvan
