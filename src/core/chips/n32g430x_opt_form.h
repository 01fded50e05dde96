// The option-byte editor of the N32G430 and N32G401 parts (layout B). It differs from the
// general editor by the second read-protection pair at bytes 12/13, the watchdog-freeze bits of
// the user byte and the boot bits of user byte 2 at byte 14: nBOOT0 is bit 0, nBOOT1 bit 1 and
// nSWBOOT0 bit 2, for showing and editing alike.
#pragma once

#include "core/chips/option_byte_editor.h"

namespace korvan {

class TN32G430xOptBForm : public OptionByteEditor {
 public:
  TN32G430xOptBForm(OptionByteImage& image, const ChipRecord& chip, OperatorDialogs& frontend);

  // Centred on the main window; no hidden groups.
  int Width = 718;
  int Height = 623;

  // The level panel "0x%0.2x/0x%0.2x" of bytes 0 and 12, and the value panels "0x%0.2x".
  PanelView PanelNAT32xROP;
  PanelView N32GxOptUSER;
  PanelView N32xOptD0, N32xOptD1, N32xOptWP0, N32xOptWP1;
  PanelView N32GxOptUSER2;

  // User byte (byte 2): the left radio of each pair writes 0, the right one 1.
  RadioView RadBtnSWSLP, RadBtnNtSWSLPN;    // bit 6 IWDG in Sleep
  RadioView RadBtnIWFRZDB, RadBtnIWFRZNDB;  // bit 5 IWDG in Standby
  RadioView RadBtnIWFRZ2, RadBtnIWNFRZ2;    // bit 4 IWDG in Stop2
  RadioView RadBtnIWFRZ, RadBtnIWNFRZ;      // bit 3 IWDG in Stop0
  RadioView RadBtnRstPD, RadBtnNtRstPD;     // bit 2 nRST_STDBY
  RadioView RadBtnRstStp, RadBtnNtRstStp;   // bit 1 nRST_STOP
  RadioView RadBtnIWGHW, RadBtnIWGSW;       // bit 0 WDG_SW
  // User byte 2 (byte 14).
  RadioView RadioButtBT1, RadioButtBT1N;      // bit 1 nBOOT1
  RadioView RadioButtBT0, RadioButtBT0N;      // bit 0 nBOOT0
  RadioView RadioButtSWBT0, RadioButtSWBTN0;  // bit 2 nSWBOOT0

  // Radio captions, and the labelled rows top to bottom, as the form stores them.
  static std::span<const ControlText> Texts();
  static std::span<const std::string_view> RowLabels();

  void FormShow() override;

  void RadBtnIWGSWClick() { ClickBit(2, 0, true, RadBtnIWGSW, RadBtnIWGHW, N32GxOptUSER); }
  void RadBtnIWGHWClick() { ClickBit(2, 0, false, RadBtnIWGHW, RadBtnIWGSW, N32GxOptUSER); }
  void RadBtnNtRstStpClick() { ClickBit(2, 1, true, RadBtnNtRstStp, RadBtnRstStp, N32GxOptUSER); }
  void RadBtnRstStpClick() { ClickBit(2, 1, false, RadBtnRstStp, RadBtnNtRstStp, N32GxOptUSER); }
  void RadBtnNtRstPDClick() { ClickBit(2, 2, true, RadBtnNtRstPD, RadBtnRstPD, N32GxOptUSER); }
  void RadBtnRstPDClick() { ClickBit(2, 2, false, RadBtnRstPD, RadBtnNtRstPD, N32GxOptUSER); }
  void RadBtnIWNFRZClick() { ClickBit(2, 3, true, RadBtnIWNFRZ, RadBtnIWFRZ, N32GxOptUSER); }
  void RadBtnIWFRZClick() { ClickBit(2, 3, false, RadBtnIWFRZ, RadBtnIWNFRZ, N32GxOptUSER); }
  void RadBtnIWNFRZ2Click() { ClickBit(2, 4, true, RadBtnIWNFRZ2, RadBtnIWFRZ2, N32GxOptUSER); }
  void RadBtnIWFRZ2Click() { ClickBit(2, 4, false, RadBtnIWFRZ2, RadBtnIWNFRZ2, N32GxOptUSER); }
  void RadBtnIWFRZNDBClick() { ClickBit(2, 5, true, RadBtnIWFRZNDB, RadBtnIWFRZDB, N32GxOptUSER); }
  void RadBtnIWFRZDBClick() { ClickBit(2, 5, false, RadBtnIWFRZDB, RadBtnIWFRZNDB, N32GxOptUSER); }
  void RadBtnNtSWSLPNClick() { ClickBit(2, 6, true, RadBtnNtSWSLPN, RadBtnSWSLP, N32GxOptUSER); }
  void RadBtnSWSLPClick() { ClickBit(2, 6, false, RadBtnSWSLP, RadBtnNtSWSLPN, N32GxOptUSER); }
  void RadioButtBT0NClick() { ClickBit(14, 0, true, RadioButtBT0N, RadioButtBT0, N32GxOptUSER2); }
  void RadioButtBT0Click() { ClickBit(14, 0, false, RadioButtBT0, RadioButtBT0N, N32GxOptUSER2); }
  void RadioButtBT1NClick() { ClickBit(14, 1, true, RadioButtBT1N, RadioButtBT1, N32GxOptUSER2); }
  void RadioButtBT1Click() { ClickBit(14, 1, false, RadioButtBT1, RadioButtBT1N, N32GxOptUSER2); }
  void RadioButtSWBTN0Click() {
    ClickBit(14, 2, true, RadioButtSWBTN0, RadioButtSWBT0, N32GxOptUSER2);
  }
  void RadioButtSWBT0Click() {
    ClickBit(14, 2, false, RadioButtSWBT0, RadioButtSWBTN0, N32GxOptUSER2);
  }

  KORVAN_BIT_PANEL_ROW(D0, 0)
  KORVAN_BIT_PANEL_ROW(D1, 1)
  KORVAN_BIT_PANEL_ROW(P0, 2)
  KORVAN_BIT_PANEL_ROW(P1, 3)
};

}  // namespace korvan
