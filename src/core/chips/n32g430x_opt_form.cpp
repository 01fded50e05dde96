#include "core/chips/n32g430x_opt_form.h"

#include <array>

namespace korvan {

namespace {

constexpr std::array<ControlText, 20> kTexts = {{
    {"RadBtnSWSLP", "0 : 0 : IWDG Freeze in SLEEP"},
    {"RadBtnNtSWSLPN", "1 : IWDG not Freeze in SLEEP"},
    {"RadBtnIWFRZDB", "0 : IWDG Freeze in STDBY"},
    {"RadBtnIWFRZNDB", "1 : WDG Not Freeze in SRDBY"},
    {"RadBtnIWFRZ2", "0 : IWDG Freeze in Stop2"},
    {"RadBtnIWNFRZ2", "1 : WDG Not Freeze in Stop2"},
    {"RadBtnIWFRZ", "0 : IWDG Freeze in Stop0 "},
    {"RadBtnIWNFRZ", "1 : IWDG Not Freeze in Stop0"},
    {"RadBtnRstPD", "0 : Reset generated when Power Down."},
    {"RadBtnNtRstPD", "1 : No reset generated."},
    {"RadBtnRstStp", "0 : Reset generated when Entering Stop."},
    {"RadBtnNtRstStp", "1 : No reset generated."},
    {"RadBtnIWGHW", "0 : Hardware watchdog."},
    {"RadBtnIWGSW", "1 : Software watcchdog."},
    {"RadioButtBT1", "0 : nBOOT1=0"},
    {"RadioButtBT1N", "1 : nBOOT1=1"},
    {"RadioButtBT0", "0 : nBOOT0=0"},
    {"RadioButtBT0N", "1 : nBOOT0=1"},
    {"RadioButtSWBT0", "0 : nSWBOOT0=0"},
    {"RadioButtSWBTN0", "1 : nSWBOOT0=1"},
}};

// The three boot rows of byte 14 below WRP1 carry no label.
constexpr std::array<std::string_view, 12> kRowLabels = {
    "RDP",       "IWDGSLEEPFRZ", "IWDGSTDBYFR", "IDWGSTOP2FRZ", "IDWGSTOP0FRZ", "nRST_STDBY",
    "nRST_STOP", "WDG_SW",       "Data 0",      "Data 1",       "WRP0",         "WRP1",
};

}  // namespace

TN32G430xOptBForm::TN32G430xOptBForm(OptionByteImage& image, const ChipRecord& chip,
                                     OperatorDialogs& frontend)
    : OptionByteEditor(image, chip, frontend, kRdp2IndexG430, PanelNAT32xROP) {
  SetBitRows({{"D0", 4, &N32xOptD0},
              {"D1", 6, &N32xOptD1},
              {"P0", 8, &N32xOptWP0},
              {"P1", 10, &N32xOptWP1}});
}

std::span<const ControlText> TN32G430xOptBForm::Texts() {
  return kTexts;
}

std::span<const std::string_view> TN32G430xOptBForm::RowLabels() {
  return kRowLabels;
}

void TN32G430xOptBForm::FormShow() {
  ShowCommon();
  ShowPair(2, 0, RadBtnIWGHW, RadBtnIWGSW);
  ShowPair(2, 1, RadBtnRstStp, RadBtnNtRstStp);
  ShowPair(2, 2, RadBtnRstPD, RadBtnNtRstPD);
  ShowPair(2, 3, RadBtnIWFRZ, RadBtnIWNFRZ);
  ShowPair(2, 4, RadBtnIWFRZ2, RadBtnIWNFRZ2);
  ShowPair(2, 5, RadBtnIWFRZDB, RadBtnIWFRZNDB);
  ShowPair(2, 6, RadBtnSWSLP, RadBtnNtSWSLPN);
  ShowPair(14, 0, RadioButtBT0, RadioButtBT0N);
  ShowPair(14, 1, RadioButtBT1, RadioButtBT1N);
  ShowPair(14, 2, RadioButtSWBT0, RadioButtSWBTN0);
  ShowByte(N32GxOptUSER, 2);
  ShowByte(N32GxOptUSER2, 14);
}

}  // namespace korvan
