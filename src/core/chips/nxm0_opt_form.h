// The option-byte editor of the Cortex-M0 parts (family 0x20, layout C). Its boot rows come in
// two variants: N32G003 parts have BOOT_LOCK and NRST_PA0 (group PanelG00X) where the others
// have nSWBOOT0, nBOOT1 and nBOOT0 (group PanelG03X). WRP0, WRP1 and RDP2 lie beyond the eight
// bytes the part uses; they are edited and sent all the same.
#pragma once

#include "core/chips/option_byte_editor.h"

namespace korvan {

class TNxM0OptBForm : public OptionByteEditor {
 public:
  TNxM0OptBForm(OptionByteImage& image, const ChipRecord& chip, OperatorDialogs& frontend);

  // Fixed client area, no resizable border.
  int ClientWidth = 702;
  int ClientHeight = 480;

  // Boot groups; FormShow shows exactly one of them.
  PanelView PanelG03X;
  PanelView PanelG00X;

  // The level panel "0x%0.2x/0x%0.2x" of bytes 0 and 16, and the value panels "0x%0.2x".
  PanelView PanelNAT32xROP;
  PanelView ATR32xOptUSER;
  PanelView ATR32xOptD0, ATR32xOptD1, ATR32xOptWP0, ATR32xOptWP1;

  // User byte (byte 2): the left radio of each pair writes 0, the right one 1.
  RadioView RadBtnSWBT1, RadBtnNtSWBT1;     // bit 5 nSWBOOT0 (PanelG03X)
  RadioView RadBtnBT1, RadBtnNtBT1;         // bit 4 nBOOT1 (PanelG03X)
  RadioView RadBtnBT0, RadBtnNtBT0;         // bit 3 nBOOT0 (PanelG03X)
  RadioView RadioBtnPA0IO, RadioBtnPA0RST;  // bit 4 NRST_PA0 (PanelG00X)
  RadioView RadioBtnUnLCKF, RadioBtnLCKF;   // bit 3 BOOT_LOCK (PanelG00X)
  RadioView RadBtnRstPD, RadBtnNtRstPD;     // bit 2 nRST_PD
  RadioView RadBtnRstStp, RadBtnNtRstStp;   // bit 1 nRST_STOP
  RadioView RadBtnIWGHW, RadBtnIWGSW;       // bit 0 WDG_SW

  // Radio captions, and the row labels top to bottom, as the form stores them.
  static std::span<const ControlText> Texts();
  static std::span<const std::string_view> RowLabels();

  void FormShow() override;

  void RadBtnIWGSWClick() { ClickBit(2, 0, true, RadBtnIWGSW, RadBtnIWGHW, ATR32xOptUSER); }
  void RadBtnIWGHWClick() { ClickBit(2, 0, false, RadBtnIWGHW, RadBtnIWGSW, ATR32xOptUSER); }
  void RadBtnNtRstStpClick() { ClickBit(2, 1, true, RadBtnNtRstStp, RadBtnRstStp, ATR32xOptUSER); }
  void RadBtnRstStpClick() { ClickBit(2, 1, false, RadBtnRstStp, RadBtnNtRstStp, ATR32xOptUSER); }
  void RadBtnNtRstPDClick() { ClickBit(2, 2, true, RadBtnNtRstPD, RadBtnRstPD, ATR32xOptUSER); }
  void RadBtnRstPDClick() { ClickBit(2, 2, false, RadBtnRstPD, RadBtnNtRstPD, ATR32xOptUSER); }
  void RadBtnNtBT0Click() { ClickBit(2, 3, true, RadBtnNtBT0, RadBtnBT0, ATR32xOptUSER); }
  void RadBtnBT0Click() { ClickBit(2, 3, false, RadBtnBT0, RadBtnNtBT0, ATR32xOptUSER); }
  void RadioBtnLCKFClick() { ClickBit(2, 3, true, RadioBtnLCKF, RadioBtnUnLCKF, ATR32xOptUSER); }
  void RadioBtnUnLCKFClick() { ClickBit(2, 3, false, RadioBtnUnLCKF, RadioBtnLCKF, ATR32xOptUSER); }
  void RadBtnNtBT1Click() { ClickBit(2, 4, true, RadBtnNtBT1, RadBtnBT1, ATR32xOptUSER); }
  void RadBtnBT1Click() { ClickBit(2, 4, false, RadBtnBT1, RadBtnNtBT1, ATR32xOptUSER); }
  void RadioBtnPA0RSTClick() { ClickBit(2, 4, true, RadioBtnPA0RST, RadioBtnPA0IO, ATR32xOptUSER); }
  void RadioBtnPA0IOClick() { ClickBit(2, 4, false, RadioBtnPA0IO, RadioBtnPA0RST, ATR32xOptUSER); }
  void RadBtnNtSWBT1Click() { ClickBit(2, 5, true, RadBtnNtSWBT1, RadBtnSWBT1, ATR32xOptUSER); }
  void RadBtnSWBT1Click() { ClickBit(2, 5, false, RadBtnSWBT1, RadBtnNtSWBT1, ATR32xOptUSER); }

  KORVAN_BIT_PANEL_ROW(D0, 0)
  KORVAN_BIT_PANEL_ROW(D1, 1)
  KORVAN_BIT_PANEL_ROW(P0, 2)
  KORVAN_BIT_PANEL_ROW(P1, 3)
};

}  // namespace korvan
