// The option-byte editor of the general N32 parts (layout A: families 0x00, 0x10, 0x40, 0x50,
// and 0x30 parts other than N32G430/N32G401). `editorLayout` of the chip record decides which
// rows it shows: bit 2 hides the USER2 group, bit 4 the nRST_PD row.
#pragma once

#include "core/chips/option_byte_editor.h"

namespace korvan {

class TN32xOptBForm : public OptionByteEditor {
 public:
  TN32xOptBForm(OptionByteImage& image, const ChipRecord& chip, OperatorDialogs& frontend);

  // Geometry: 718 wide, centred on the main window; 520 high with the buttons at 424 when the
  // USER2 group is hidden, 660 high with the buttons at 560 otherwise.
  int Width = 718;
  int Height = 660;
  ButtonView BitBtnOK{560};
  ButtonView BitBtnNG{560};

  // Groups shown or hidden by the layout: the nRST_PD row (two panels) and USER2.
  PanelView PanelRSTPD{"nRST_PD/BOT"};
  PanelView PanelRstPBT;
  PanelView PanelUSER2;

  // Value panels ("0x%0.2x"); the level panel "0x%0.2x/0x%0.2x" of bytes 0 and 16.
  PanelView PanelATR32xROP;
  PanelView NATxOptUSER1;
  PanelView ATR32xOptD0, ATR32xOptD1;
  PanelView ATR32xOptWP0, ATR32xOptWP1, ATR32xOptWP2, ATR32xOptWP3;
  PanelView NATxOptUSER2;

  // User byte 1 (byte 2): the left radio of each pair writes 0, the right one 1.
  RadioView RadioButton2, RadioButton1;    // bit 3 nRST_PD
  RadioView RadBtnRstStb, RadBtnNtRstStb;  // bit 2 nRST_STDBY
  RadioView RadBtnRstStp, RadBtnNtRstStp;  // bit 1 nRST_STOP
  RadioView RadBtnIWGHW, RadBtnIWGSW;      // bit 0 WDG_SW
  // User byte 2 (byte 18).
  RadioView RadioButtonNSB, RadioButtonSB;    // bit 1 nSWBOOT0
  RadioView RadioButtonnBT1, RadioButtonBT1;  // bit 2 nBOOT1
  RadioView RadioButtonnBT0, RadioButtonBT0;  // bit 0 nBOOT0

  // Brown-out level, byte 18 bits 4..6.
  ComboView ComBoxBOR;
  static std::span<const std::string_view> ComBoxBORItems();

  // Radio captions, and the row labels top to bottom, as the form stores them.
  static std::span<const ControlText> Texts();
  static std::span<const std::string_view> RowLabels();

  void FormShow() override;

  void RadBtnIWGSWClick() { ClickBit(2, 0, true, RadBtnIWGSW, RadBtnIWGHW, NATxOptUSER1); }
  void RadBtnIWGHWClick() { ClickBit(2, 0, false, RadBtnIWGHW, RadBtnIWGSW, NATxOptUSER1); }
  void RadBtnNtRstStpClick() { ClickBit(2, 1, true, RadBtnNtRstStp, RadBtnRstStp, NATxOptUSER1); }
  void RadBtnRstStpClick() { ClickBit(2, 1, false, RadBtnRstStp, RadBtnNtRstStp, NATxOptUSER1); }
  void RadBtnNtRstStbClick() { ClickBit(2, 2, true, RadBtnNtRstStb, RadBtnRstStb, NATxOptUSER1); }
  void RadBtnRstStbClick() { ClickBit(2, 2, false, RadBtnRstStb, RadBtnNtRstStb, NATxOptUSER1); }
  void RadioButton1Click() { ClickBit(2, 3, true, RadioButton1, RadioButton2, NATxOptUSER1); }
  void RadioButton2Click() { ClickBit(2, 3, false, RadioButton2, RadioButton1, NATxOptUSER1); }
  void RadioButtonBT0Click() {
    ClickBit(18, 0, true, RadioButtonBT0, RadioButtonnBT0, NATxOptUSER2);
  }
  void RadioButtonnBT0Click() {
    ClickBit(18, 0, false, RadioButtonnBT0, RadioButtonBT0, NATxOptUSER2);
  }
  void RadioButtonSBClick() { ClickBit(18, 1, true, RadioButtonSB, RadioButtonNSB, NATxOptUSER2); }
  void RadioButtonNSBClick() {
    ClickBit(18, 1, false, RadioButtonNSB, RadioButtonSB, NATxOptUSER2);
  }
  void RadioButtonBT1Click() {
    ClickBit(18, 2, true, RadioButtonBT1, RadioButtonnBT1, NATxOptUSER2);
  }
  void RadioButtonnBT1Click() {
    ClickBit(18, 2, false, RadioButtonnBT1, RadioButtonBT1, NATxOptUSER2);
  }

  // Byte 18 := (byte 18 AND 0x8F) + level x 16; bits 7 and 3..0 keep their values.
  void ComBoxBORChange();

  KORVAN_BIT_PANEL_ROW(D0, 0)
  KORVAN_BIT_PANEL_ROW(D1, 1)
  KORVAN_BIT_PANEL_ROW(P0, 2)
  KORVAN_BIT_PANEL_ROW(P1, 3)
  KORVAN_BIT_PANEL_ROW(P2, 4)
  KORVAN_BIT_PANEL_ROW(P3, 5)
};

}  // namespace korvan
