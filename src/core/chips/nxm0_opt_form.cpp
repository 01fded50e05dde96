#include "core/chips/nxm0_opt_form.h"

#include <array>

namespace korvan {

namespace {

constexpr std::array<ControlText, 16> kTexts = {{
    {"RadBtnSWBT1", "0 : nSWBOOT0=0"},
    {"RadBtnNtSWBT1", "1 : nSWBOOT0=1"},
    {"RadBtnBT1", "0 : nBOOT1=0"},
    {"RadBtnNtBT1", "1 : nBOOT1=1"},
    {"RadBtnBT0", "0 : nBOOT0=0"},
    {"RadBtnNtBT0", "1 : nBOOT0=1"},
    {"RadioBtnPA0IO", "0 : PA0 General IO"},
    {"RadioBtnPA0RST", "1 : PA0 as RESET"},
    {"RadioBtnUnLCKF", "0 : Not Lock first 3KB"},
    {"RadioBtnLCKF", "1 : Lock First 3KB"},
    {"RadBtnRstPD", "0 : Reset generated when Power Down."},
    {"RadBtnNtRstPD", "1 : No reset generated."},
    {"RadBtnRstStp", "0 : Reset generated when Entering Stop."},
    {"RadBtnNtRstStp", "1 : No reset generated."},
    {"RadBtnIWGHW", "0 : Hardware watchdog."},
    {"RadBtnIWGSW", "1 : Software watcchdog."},
}};

// Top to bottom; "nSWBOOT0" .. "nBOOT0" in PanelG03X, "NRST_PA0" and "BOOT_LOCK" in PanelG00X.
constexpr std::array<std::string_view, 13> kRowLabels = {
    "RDP",       "nSWBOOT0", "nBOOT1", "nBOOT0", "NRST_PA0", "BOOT_LOCK", "nRST_PD",
    "nRST_STOP", "WDG_SW",   "Data 0", "Data 1", "WRP0",     "WRP1",
};

}  // namespace

TNxM0OptBForm::TNxM0OptBForm(OptionByteImage& image, const ChipRecord& chip,
                             OperatorDialogs& frontend)
    : OptionByteEditor(image, chip, frontend, kRdp2Index, PanelNAT32xROP) {
  SetBitRows({{"D0", 4, &ATR32xOptD0},
              {"D1", 6, &ATR32xOptD1},
              {"P0", 8, &ATR32xOptWP0},
              {"P1", 10, &ATR32xOptWP1}});
}

std::span<const ControlText> TNxM0OptBForm::Texts() {
  return kTexts;
}

std::span<const std::string_view> TNxM0OptBForm::RowLabels() {
  return kRowLabels;
}

void TNxM0OptBForm::FormShow() {
  ShowCommon();
  const bool n32g003 = chip_.chipName.starts_with("N32G003");
  PanelG00X.visible = n32g003;
  PanelG03X.visible = !n32g003;
  if (n32g003) {
    ShowPair(2, 3, RadioBtnUnLCKF, RadioBtnLCKF);
    ShowPair(2, 4, RadioBtnPA0IO, RadioBtnPA0RST);
  } else {
    ShowPair(2, 3, RadBtnBT0, RadBtnNtBT0);
    ShowPair(2, 4, RadBtnBT1, RadBtnNtBT1);
    ShowPair(2, 5, RadBtnSWBT1, RadBtnNtSWBT1);
  }
  ShowPair(2, 0, RadBtnIWGHW, RadBtnIWGSW);
  ShowPair(2, 1, RadBtnRstStp, RadBtnNtRstStp);
  ShowPair(2, 2, RadBtnRstPD, RadBtnNtRstPD);
  ShowByte(ATR32xOptUSER, 2);
}

}  // namespace korvan
