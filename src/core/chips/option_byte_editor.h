// What the three option-byte editors share: the model behind a modal dialog that edits the
// option-byte image in place. Every click takes effect at once; the dialog keeps the copy it
// took when it opened, Cancel puts that copy back, OK and the close box keep the edits.
//
// A dialog only renders the model: each member named after a control holds that control's
// state (caption, checked, item index, visibility), and each handler is named after the
// control's event. The window sets a combo's itemIndex before it calls the combo's change
// handler, as the toolkit does. Used on the station's thread only; the image and the frontend
// must outlive the model.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/chips/option_bytes.h"
#include "core/model/chip_record.h"
#include "core/util/operator_dialogs.h"

namespace korvan {

// A panel or label: its caption and whether it is shown.
struct PanelView {
  std::string caption;
  bool visible = true;
};

// One radio button; the two of a pair are never both checked after a click or an opening.
struct RadioView {
  bool checked = false;
};

// A selection-only combo box; -1 is no entry.
struct ComboView {
  int itemIndex = -1;
};

struct ButtonView {
  int top = 0;
};

enum class MouseButton { Left, Right, Middle };

// A control's fixed text as the form stores it (object name, text).
using ControlText = std::pair<std::string_view, std::string_view>;

inline constexpr std::string_view kOptionByteEditorCaption = "Config N32xx Option Byte Wizard";

// The question asked before level 2 is written; it cannot be undone on the part.
inline constexpr std::string_view kLevel2Question = "改选项会导致芯片将不可再继续烧写，请确认！";

class OptionByteEditor {
 public:
  OptionByteEditor(const OptionByteEditor&) = delete;
  OptionByteEditor& operator=(const OptionByteEditor&) = delete;
  virtual ~OptionByteEditor() = default;

  // Read-protection level: L0, L1, L2 in this order.
  ComboView ComBoxROP;
  static std::span<const std::string_view> ComBoxROPItems();

  // Opening: takes the saved copy and shows the image. Showing writes nothing into the image.
  virtual void FormShow() = 0;

  // L0 and L1 are written at once; L2 only after the operator confirms it. Refused, the combo
  // falls back to L1 and neither the image nor the panel changes.
  void ComBoxROPChange();

  // OK keeps the edits; Cancel restores all 128 bytes from the copy taken at opening.
  void BitBtnOKClick() {}
  void BitBtnNGClick();

  // Bit panels: rows "D0", "D1", "P0", "P1" (and "P2", "P3" in the general editor), bits 7..0.
  // Any mouse button selects the panel's bit; returns true when the popup menu opens (right
  // button), whose entries call N03Click ("0") and N110Click ("1").
  bool BitPanelMouseDown(int row, int bit, MouseButton button);
  void N03Click() { SetSelectedBit(false); }
  void N110Click() { SetSelectedBit(true); }

  int BitRowCount() const { return static_cast<int>(rows_.size()); }
  // "PnlD0B7" for row 0, bit 7.
  std::string BitPanelName(int row, int bit) const;
  // Caption of a bit panel ("Bit7=1"); by position or by object name (nullopt if no such panel).
  const std::string& BitPanelCaption(int row, int bit) const;
  std::optional<std::string> BitPanelCaption(std::string_view panelName) const;
  // Mouse-down by object name; false also when there is no such panel.
  bool BitPanelMouseDown(std::string_view panelName, MouseButton button);

  // The bit last pressed: mask 0x01..0x80 (0 before any press) and its row.
  std::uint8_t SelectedMask() const { return selectedMask_; }
  int SelectedRow() const { return selectedRow_; }

  const OptionByteImage& SavedCopy() const { return saved_; }

 protected:
  // One row of bit panels: its name in the panels' names, its image byte, its value panel.
  struct BitRow {
    std::string_view name;
    std::size_t byteIndex;
    PanelView* valuePanel;
  };

  OptionByteEditor(OptionByteImage& image, const ChipRecord& chip, OperatorDialogs& frontend,
                   std::size_t rdp2Index, PanelView& ropPanel);

  // Registers the bit rows in selector order (0 = Data 0, ...).
  void SetBitRows(std::vector<BitRow> rows);

  // The common part of opening: saved copy, level combo and panel, bit rows and value panels.
  void ShowCommon();
  // Shows a radio pair from a bit of the image.
  void ShowPair(std::size_t byteIndex, int bit, RadioView& zero, RadioView& one);
  // A radio click: sets or clears the bit, writes the complement, checks the clicked radio and
  // unchecks its partner, shows the byte in its value panel.
  void ClickBit(std::size_t byteIndex, int bit, bool value, RadioView& clicked, RadioView& partner,
                PanelView& valuePanel);
  void ShowByte(PanelView& panel, std::size_t byteIndex);

  OptionByteImage& image_;
  const ChipRecord& chip_;
  OperatorDialogs& frontend_;

 private:
  void SetSelectedBit(bool value);
  void ShowRow(std::size_t row);

  std::size_t rdp2Index_;
  PanelView& ropPanel_;
  std::vector<BitRow> rows_;
  std::vector<std::array<std::string, 8>> bitCaptions_;
  OptionByteImage saved_{};
  std::uint8_t selectedMask_ = 0;
  int selectedRow_ = 0;
};

}  // namespace korvan

// The eight named mouse-down handlers of one row of bit panels, for the editors' classes.
#define KORVAN_BIT_PANEL_ROW(ROW, rowIndex)   \
  bool Pnl##ROW##B7MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 7, b); \
  }                                           \
  bool Pnl##ROW##B6MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 6, b); \
  }                                           \
  bool Pnl##ROW##B5MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 5, b); \
  }                                           \
  bool Pnl##ROW##B4MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 4, b); \
  }                                           \
  bool Pnl##ROW##B3MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 3, b); \
  }                                           \
  bool Pnl##ROW##B2MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 2, b); \
  }                                           \
  bool Pnl##ROW##B1MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 1, b); \
  }                                           \
  bool Pnl##ROW##B0MouseDown(MouseButton b) { \
    return BitPanelMouseDown(rowIndex, 0, b); \
  }
