#include "core/chips/n32x_opt_form.h"

#include <array>

namespace korvan {

namespace {

// As the form stores them: a full-width space and colon, full-width digits from level 1 on.
constexpr std::array<std::string_view, 8> kBorItems = {
    "000　：BOR Level 0",  "001　：BOR Level １", "010　：BOR Level ２", "011　：BOR Level ３",
    "100　：BOR Level ４", "101　：BOR Level ５", "110　：BOR Level ６", "111　：BOR Level ７",
};

constexpr std::array<ControlText, 14> kTexts = {{
    {"RadioButton2", "0 : Reset generated when Entering PowerDown."},
    {"RadioButton1", "1 : No reset generated."},
    {"RadBtnRstStb", "0 : Reset generated when Entering Standby."},
    {"RadBtnNtRstStb", "1 : No reset generated."},
    {"RadBtnRstStp", "0 : Reset generated when Entering Stop."},
    {"RadBtnNtRstStp", "1 : No reset generated."},
    {"RadBtnIWGHW", "0 : Hardware watchdog."},
    {"RadBtnIWGSW", "1 : Software watcchdog."},
    {"RadioButtonNSB", "0 : nSWBOOT0=0"},
    {"RadioButtonSB", "1 : nSWBOOT0=1"},
    {"RadioButtonnBT1", "0 : nBOOT1=0"},
    {"RadioButtonBT1", "1 : nBOOT1=1"},
    {"RadioButtonnBT0", "0 : nBOOT0=0"},
    {"RadioButtonBT0", "1 : nBOOT0=1"},
}};

// Top to bottom; the last four belong to the USER2 group.
constexpr std::array<std::string_view, 15> kRowLabels = {
    "RDP",    "nRST_PD/BOT",  "nRST_STDBY", "nRST_STOP",  "WDG_SW",
    "Data 0", "Data 1",       "WRP0",       "WRP1",       "WPR2",
    "WPR3",   "BOR_LEVEL:  ", "nSWBOOT0: ", "nBOOT1 :  ", "nBOOT0 :  ",
};

}  // namespace

TN32xOptBForm::TN32xOptBForm(OptionByteImage& image, const ChipRecord& chip,
                             OperatorDialogs& frontend)
    : OptionByteEditor(image, chip, frontend, kRdp2Index, PanelATR32xROP) {
  SetBitRows({{"D0", 4, &ATR32xOptD0},
              {"D1", 6, &ATR32xOptD1},
              {"P0", 8, &ATR32xOptWP0},
              {"P1", 10, &ATR32xOptWP1},
              {"P2", 12, &ATR32xOptWP2},
              {"P3", 14, &ATR32xOptWP3}});
}

std::span<const std::string_view> TN32xOptBForm::ComBoxBORItems() {
  return kBorItems;
}

std::span<const ControlText> TN32xOptBForm::Texts() {
  return kTexts;
}

std::span<const std::string_view> TN32xOptBForm::RowLabels() {
  return kRowLabels;
}

void TN32xOptBForm::FormShow() {
  const bool hideUser2 = (chip_.editorLayout & kLayoutHideUser2) != 0;
  const bool hideResetPd = (chip_.editorLayout & kLayoutHideResetPd) != 0;
  PanelUSER2.visible = !hideUser2;
  PanelRSTPD.visible = !hideResetPd;
  PanelRstPBT.visible = !hideResetPd;
  BitBtnOK.top = BitBtnNG.top = hideUser2 ? 424 : 560;
  Height = hideUser2 ? 520 : 660;

  ShowCommon();
  ShowPair(2, 0, RadBtnIWGHW, RadBtnIWGSW);
  ShowPair(2, 1, RadBtnRstStp, RadBtnNtRstStp);
  ShowPair(2, 2, RadBtnRstStb, RadBtnNtRstStb);
  ShowPair(2, 3, RadioButton2, RadioButton1);
  ShowPair(18, 0, RadioButtonnBT0, RadioButtonBT0);
  ShowPair(18, 1, RadioButtonNSB, RadioButtonSB);
  ShowPair(18, 2, RadioButtonnBT1, RadioButtonBT1);
  ComBoxBOR.itemIndex = (image_[18] >> 4) & 7;
  ShowByte(NATxOptUSER1, 2);
  ShowByte(NATxOptUSER2, 18);
}

void TN32xOptBForm::ComBoxBORChange() {
  if (ComBoxBOR.itemIndex < 0 || ComBoxBOR.itemIndex > 7) return;
  SetOptionPair(image_, 18,
                static_cast<std::uint8_t>((image_[18] & 0x8F) + ComBoxBOR.itemIndex * 16));
  ShowByte(NATxOptUSER2, 18);
}

}  // namespace korvan
