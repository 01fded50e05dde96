#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/chips/chip_setup.h"
#include "core/chips/n32g430x_opt_form.h"
#include "core/chips/nxm0_opt_form.h"
#include "core/util/format.h"
#include "support/chosen_chip.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

using testing::FakeFrontend;

using Station = testing::ChosenChip;

using Bytes = std::vector<std::pair<std::size_t, std::uint8_t>>;

template <typename Form>
struct Row {
  const char* what;
  const char* part;
  std::function<void(Form&, FakeFrontend&)> act;  // after FormShow
  Bytes bytes;                                    // image bytes afterwards
  std::function<void(const Form&)> check;
};

template <typename Form>
void RunRows(std::span<const Row<Form>> rows) {
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Station s(row.part);
    Form form(s.image, s.chip, s.frontend);
    form.FormShow();
    if (row.act) row.act(form, s.frontend);
    for (auto [index, value] : row.bytes) EXPECT_EQ(s.image[index], value) << "byte " << index;
    if (row.check) row.check(form);
  }
}

template <typename Form>
void ChooseLevel(Form& form, FakeFrontend& frontend, int level, Answer answer = Answer::Ok) {
  if (level == 2) frontend.answers.push_back(answer);
  form.ComBoxROP.itemIndex = level;
  form.ComBoxROPChange();
}

// ---- Cortex-M0 editor ----

const Row<TNxM0OptBForm> kM0Rows[] = {
    {"N32G003 opens on the lock and PA0 rows",
     "N32G003F5Q7",
     nullptr,
     {{2, 0xF7}, {3, 0x08}},
     [](const TNxM0OptBForm& f) {
       EXPECT_TRUE(f.PanelG00X.visible);
       EXPECT_FALSE(f.PanelG03X.visible);
       EXPECT_TRUE(f.RadioBtnUnLCKF.checked);
       EXPECT_FALSE(f.RadioBtnLCKF.checked);
       EXPECT_TRUE(f.RadioBtnPA0RST.checked);
       EXPECT_FALSE(f.RadioBtnPA0IO.checked);
       EXPECT_TRUE(f.RadBtnIWGSW.checked);
       EXPECT_TRUE(f.RadBtnNtRstStp.checked);
       EXPECT_TRUE(f.RadBtnNtRstPD.checked);
       EXPECT_EQ(f.ATR32xOptUSER.caption, "0xF7");
       EXPECT_EQ(f.ComBoxROP.itemIndex, 0);
       EXPECT_EQ(f.PanelNAT32xROP.caption, "0xA5/0xFF");
       EXPECT_EQ(f.ClientWidth, 702);
       EXPECT_EQ(f.ClientHeight, 480);
     }},
    {"N32G003: lock the first 3 KB",
     "N32G003F5Q7",
     [](TNxM0OptBForm& f, FakeFrontend&) { f.RadioBtnLCKFClick(); },
     {{2, 0xFF}, {3, 0x00}},
     [](const TNxM0OptBForm& f) {
       EXPECT_TRUE(f.RadioBtnLCKF.checked);
       EXPECT_FALSE(f.RadioBtnUnLCKF.checked);
       EXPECT_EQ(f.ATR32xOptUSER.caption, "0xFF");
     }},
    {"N32G003: PA0 as general IO",
     "N32G003F4S7",
     [](TNxM0OptBForm& f, FakeFrontend&) { f.RadioBtnPA0IOClick(); },
     {{2, 0xE7}, {3, 0x18}},
     nullptr},
    {"other M0 parts open on the boot rows",
     "N32G031K8L7",
     nullptr,
     {{2, 0xFF}},
     [](const TNxM0OptBForm& f) {
       EXPECT_TRUE(f.PanelG03X.visible);
       EXPECT_FALSE(f.PanelG00X.visible);
       for (const RadioView* one : {&f.RadBtnNtSWBT1, &f.RadBtnNtBT1, &f.RadBtnNtBT0,
                                    &f.RadBtnNtRstPD, &f.RadBtnNtRstStp, &f.RadBtnIWGSW}) {
         EXPECT_TRUE(one->checked);
       }
       for (const RadioView* zero : {&f.RadBtnSWBT1, &f.RadBtnBT1, &f.RadBtnBT0, &f.RadBtnRstPD,
                                     &f.RadBtnRstStp, &f.RadBtnIWGHW}) {
         EXPECT_FALSE(zero->checked);
       }
       for (int row = 0; row < 4; ++row) {
         for (int bit = 0; bit < 8; ++bit)
           EXPECT_EQ(f.BitPanelCaption(row, bit), Format("Bit%d=1", bit));
       }
       EXPECT_EQ(f.BitRowCount(), 4);
       EXPECT_EQ(f.ATR32xOptUSER.caption, "0xFF");
       EXPECT_EQ(f.ATR32xOptWP1.caption, "0xFF");
     }},
    {"nSWBOOT0=0",
     "N32G031K8L7",
     [](TNxM0OptBForm& f, FakeFrontend&) { f.RadBtnSWBT1Click(); },
     {{2, 0xDF}, {3, 0x20}},
     [](const TNxM0OptBForm& f) { EXPECT_EQ(f.ATR32xOptUSER.caption, "0xDF"); }},
    {"each boot and reset radio writes its own bit",
     "N32G031K8L7",
     [](TNxM0OptBForm& f, FakeFrontend&) {
       f.RadBtnIWGHWClick();   // bit 0
       f.RadBtnRstStpClick();  // bit 1
       f.RadBtnRstPDClick();   // bit 2
       f.RadBtnBT0Click();     // bit 3
       f.RadBtnBT1Click();     // bit 4
       EXPECT_EQ(f.ATR32xOptUSER.caption, "0xE0");
       f.RadBtnIWGSWClick();
       f.RadBtnNtRstPDClick();
       f.RadBtnNtBT1Click();
     },
     {{2, 0xF5}, {3, 0x0A}},
     [](const TNxM0OptBForm& f) {
       EXPECT_TRUE(f.RadBtnIWGSW.checked);
       EXPECT_FALSE(f.RadBtnIWGHW.checked);
       EXPECT_TRUE(f.RadBtnBT0.checked);
       EXPECT_FALSE(f.RadBtnNtBT0.checked);
     }},
    {"L2 confirmed writes bytes 16/17 beyond the part's eight",
     "N32G031K8L7",
     [](TNxM0OptBForm& f, FakeFrontend& fe) { ChooseLevel(f, fe, 2); },
     {{0, 0xCC}, {1, 0x33}, {16, 0x33}, {17, 0xCC}, {12, 0xFF}},
     [](const TNxM0OptBForm& f) { EXPECT_EQ(f.PanelNAT32xROP.caption, "0xCC/0x33"); }},
    {"L2 refused",
     "N32G031K8L7",
     [](TNxM0OptBForm& f, FakeFrontend& fe) {
       ChooseLevel(f, fe, 2, Answer::Cancel);
       EXPECT_EQ(fe.Texts(),
                 std::vector<std::string>{"改选项会导致芯片将不可再继续烧写，请确认！"});
     },
     {{0, 0xA5}, {1, 0x5A}, {16, 0xFF}, {17, 0x00}},
     [](const TNxM0OptBForm& f) {
       EXPECT_EQ(f.ComBoxROP.itemIndex, 1);
       EXPECT_EQ(f.PanelNAT32xROP.caption, "0xA5/0xFF");
     }},
    {"WRP0 bit 0 through the popup",
     "N32G031K8L7",
     [](TNxM0OptBForm& f, FakeFrontend&) {
       EXPECT_TRUE(f.PnlP0B0MouseDown(MouseButton::Right));
       f.N03Click();
     },
     {{8, 0xFE}, {9, 0x01}},
     [](const TNxM0OptBForm& f) {
       EXPECT_EQ(f.BitPanelCaption("PnlP0B0"), "Bit0=0");
       EXPECT_EQ(f.ATR32xOptWP0.caption, "0xFE");
       EXPECT_FALSE(f.BitPanelCaption("PnlP2B0"));  // no WRP2 row on this editor
     }},
};

TEST(TNxM0OptBForm, OpeningAndEdits) {
  RunRows<TNxM0OptBForm>(kM0Rows);
}

// ---- N32G430 editor ----

const Row<TN32G430xOptBForm> kG430Rows[] = {
    {"opening on the default image",
     "N32G430K8L7",
     nullptr,
     {},
     [](const TN32G430xOptBForm& f) {
       EXPECT_EQ(f.ComBoxROP.itemIndex, 0);
       EXPECT_EQ(f.PanelNAT32xROP.caption, "0xA5/0xFF");
       for (const RadioView* one :
            {&f.RadBtnNtSWSLPN, &f.RadBtnIWFRZNDB, &f.RadBtnIWNFRZ2, &f.RadBtnIWNFRZ,
             &f.RadBtnNtRstPD, &f.RadBtnNtRstStp, &f.RadBtnIWGSW, &f.RadioButtBT1N,
             &f.RadioButtBT0N, &f.RadioButtSWBTN0}) {
         EXPECT_TRUE(one->checked);
       }
       for (const RadioView* zero :
            {&f.RadBtnSWSLP, &f.RadBtnIWFRZDB, &f.RadBtnIWFRZ2, &f.RadBtnIWFRZ, &f.RadBtnRstPD,
             &f.RadBtnRstStp, &f.RadBtnIWGHW, &f.RadioButtBT1, &f.RadioButtBT0,
             &f.RadioButtSWBT0}) {
         EXPECT_FALSE(zero->checked);
       }
       EXPECT_EQ(f.N32GxOptUSER.caption, "0xFF");
       EXPECT_EQ(f.N32GxOptUSER2.caption, "0xFF");
       EXPECT_EQ(f.N32xOptWP1.caption, "0xFF");
       EXPECT_EQ(f.Width, 718);
       EXPECT_EQ(f.Height, 623);
     }},
    {"freeze in Stop2, then in Sleep",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend&) {
       f.RadBtnIWFRZ2Click();
       EXPECT_EQ(f.N32GxOptUSER.caption, "0xEF");
       f.RadBtnSWSLPClick();
     },
     {{2, 0xAF}, {3, 0x50}},
     [](const TN32G430xOptBForm& f) {
       EXPECT_EQ(f.N32GxOptUSER.caption, "0xAF");
       EXPECT_TRUE(f.RadBtnSWSLP.checked);
       EXPECT_FALSE(f.RadBtnNtSWSLPN.checked);
     }},
    {"the other user-byte radios",
     "N32G401C8Q7",
     [](TN32G430xOptBForm& f, FakeFrontend&) {
       f.RadBtnIWGHWClick();    // bit 0
       f.RadBtnRstStpClick();   // bit 1
       f.RadBtnRstPDClick();    // bit 2
       f.RadBtnIWFRZClick();    // bit 3
       f.RadBtnIWFRZDBClick();  // bit 5
       EXPECT_EQ(f.N32GxOptUSER.caption, "0xD0");
       f.RadBtnIWNFRZClick();
       f.RadBtnIWFRZNDBClick();
       f.RadBtnNtRstStpClick();
     },
     {{2, 0xFA}, {3, 0x05}},
     nullptr},
    {"nSWBOOT0=0",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend&) { f.RadioButtSWBT0Click(); },
     {{14, 0xFB}, {15, 0x04}, {2, 0xFF}},
     [](const TN32G430xOptBForm& f) { EXPECT_EQ(f.N32GxOptUSER2.caption, "0xFB"); }},
    {"nBOOT0 is bit 0 and nBOOT1 bit 1 of byte 14",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend&) {
       f.RadioButtBT0Click();
       EXPECT_EQ(f.N32GxOptUSER2.caption, "0xFE");
       f.RadioButtBT0NClick();
       f.RadioButtBT1Click();
     },
     {{14, 0xFD}, {15, 0x02}},
     [](const TN32G430xOptBForm& f) {
       EXPECT_TRUE(f.RadioButtBT1.checked);
       EXPECT_TRUE(f.RadioButtBT0N.checked);
     }},
    {"L2 confirmed uses bytes 12/13 and leaves byte 14",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend& fe) {
       f.RadioButtSWBT0Click();
       ChooseLevel(f, fe, 2);
     },
     {{0, 0xCC}, {1, 0x33}, {12, 0x33}, {13, 0xCC}, {14, 0xFB}, {15, 0x04}, {16, 0xFF}},
     [](const TN32G430xOptBForm& f) { EXPECT_EQ(f.PanelNAT32xROP.caption, "0xCC/0x33"); }},
    {"L2 then L0",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend& fe) {
       ChooseLevel(f, fe, 2);
       ChooseLevel(f, fe, 0);
     },
     {{0, 0xA5}, {1, 0x5A}, {12, 0xFF}, {13, 0x00}, {14, 0xFF}, {15, 0x00}},
     [](const TN32G430xOptBForm& f) { EXPECT_EQ(f.PanelNAT32xROP.caption, "0xA5/0xFF"); }},
    {"L2 refused",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend& fe) { ChooseLevel(f, fe, 2, Answer::Cancel); },
     {{0, 0xA5}, {1, 0x5A}, {12, 0xFF}, {13, 0x00}},
     [](const TN32G430xOptBForm& f) { EXPECT_EQ(f.ComBoxROP.itemIndex, 1); }},
    {"Data 1 bit 6 through the popup",
     "N32G430K8L7",
     [](TN32G430xOptBForm& f, FakeFrontend&) {
       f.PnlD1B6MouseDown(MouseButton::Right);
       f.N03Click();
     },
     {{6, 0xBF}, {7, 0x40}},
     [](const TN32G430xOptBForm& f) {
       EXPECT_EQ(f.BitPanelCaption("PnlD1B6"), "Bit6=0");
       EXPECT_EQ(f.N32xOptD1.caption, "0xBF");
     }},
};

TEST(TN32G430xOptBForm, OpeningAndEdits) {
  RunRows<TN32G430xOptBForm>(kG430Rows);
}

template <typename Form>
void CancelRestoresAndReopenShows(const char* part) {
  Station s(part);
  s.image[127] = 0x5A;
  const OptionByteImage before = s.image;
  {
    Form form(s.image, s.chip, s.frontend);
    form.FormShow();
    form.RadBtnRstStpClick();
    form.PnlD0B1MouseDown(MouseButton::Right);
    form.N03Click();
    ChooseLevel(form, s.frontend, 2);
    s.image[127] = 0;
    form.BitBtnNGClick();
    EXPECT_EQ(s.image, before);
  }
  {
    Form form(s.image, s.chip, s.frontend);
    form.FormShow();
    form.RadBtnRstStpClick();
    ChooseLevel(form, s.frontend, 2);
    form.BitBtnOKClick();
  }
  Form form(s.image, s.chip, s.frontend);
  form.FormShow();
  EXPECT_EQ(form.ComBoxROP.itemIndex, 2);
  EXPECT_EQ(form.PanelNAT32xROP.caption, "0xCC/0x33");
  EXPECT_TRUE(form.RadBtnRstStp.checked);
  EXPECT_FALSE(form.RadBtnNtRstStp.checked);
}

TEST(TNxM0OptBForm, CancelRestoresAllBytesAndReopeningShowsTheEdits) {
  CancelRestoresAndReopenShows<TNxM0OptBForm>("N32G031K8L7");
}

TEST(TN32G430xOptBForm, CancelRestoresAllBytesAndReopeningShowsTheEdits) {
  CancelRestoresAndReopenShows<TN32G430xOptBForm>("N32G430K8L7");
}

}  // namespace
}  // namespace korvan
