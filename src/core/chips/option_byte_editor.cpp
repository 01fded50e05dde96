#include "core/chips/option_byte_editor.h"

#include "core/util/format.h"

namespace korvan {

namespace {

const std::array<std::string_view, 3> kRopItems = {
    ReadProtectionText(ReadProtection::L0),
    ReadProtectionText(ReadProtection::L1),
    ReadProtectionText(ReadProtection::L2),
};

}  // namespace

OptionByteEditor::OptionByteEditor(OptionByteImage& image, const ChipRecord& chip,
                                   OperatorDialogs& frontend, std::size_t rdp2Index,
                                   PanelView& ropPanel)
    : image_(image), chip_(chip), frontend_(frontend), rdp2Index_(rdp2Index), ropPanel_(ropPanel) {}

std::span<const std::string_view> OptionByteEditor::ComBoxROPItems() {
  return kRopItems;
}

void OptionByteEditor::SetBitRows(std::vector<BitRow> rows) {
  rows_ = std::move(rows);
  // Until the form is shown the panels carry their captions from the form, "Bit7=1" ...
  bitCaptions_.assign(rows_.size(), {});
  for (auto& captions : bitCaptions_) {
    for (int bit = 0; bit < 8; ++bit)
      captions[static_cast<std::size_t>(bit)] = Format("Bit%d=1", bit);
  }
}

void OptionByteEditor::ShowCommon() {
  saved_ = image_;
  ComBoxROP.itemIndex = static_cast<int>(ReadProtectionOf(image_, rdp2Index_));
  ropPanel_.caption = ReadProtectionPanel(image_, rdp2Index_);
  for (std::size_t row = 0; row < rows_.size(); ++row) ShowRow(row);
}

void OptionByteEditor::ShowRow(std::size_t row) {
  const std::uint8_t value = image_[rows_[row].byteIndex];
  for (int bit = 0; bit < 8; ++bit) {
    bitCaptions_[row][static_cast<std::size_t>(bit)] = Format("Bit%d=%d", bit, (value >> bit) & 1);
  }
  ShowByte(*rows_[row].valuePanel, rows_[row].byteIndex);
}

void OptionByteEditor::ShowByte(PanelView& panel, std::size_t byteIndex) {
  panel.caption = Format("0x%02X", image_[byteIndex]);
}

void OptionByteEditor::ShowPair(std::size_t byteIndex, int bit, RadioView& zero, RadioView& one) {
  const bool set = (image_[byteIndex] >> bit) & 1;
  one.checked = set;
  zero.checked = !set;
}

void OptionByteEditor::ClickBit(std::size_t byteIndex, int bit, bool value, RadioView& clicked,
                                RadioView& partner, PanelView& valuePanel) {
  const auto mask = static_cast<std::uint8_t>(1u << bit);
  const auto byte =
      static_cast<std::uint8_t>(value ? image_[byteIndex] | mask : image_[byteIndex] & ~mask);
  SetOptionPair(image_, byteIndex, byte);
  clicked.checked = true;
  partner.checked = false;
  ShowByte(valuePanel, byteIndex);
}

void OptionByteEditor::ComBoxROPChange() {
  switch (ComBoxROP.itemIndex) {
    case 0:
      WriteReadProtection(image_, ReadProtection::L0, rdp2Index_);
      break;
    case 1:
      WriteReadProtection(image_, ReadProtection::L1, rdp2Index_);
      break;
    case 2:
      if (frontend_.Ask(MessageKind::Warning, std::string(kLevel2Question), Buttons::OkCancel) !=
          Answer::Ok) {
        ComBoxROP.itemIndex = static_cast<int>(ReadProtection::L1);
        return;
      }
      WriteReadProtection(image_, ReadProtection::L2, rdp2Index_);
      break;
    default:
      return;
  }
  ropPanel_.caption = ReadProtectionPanel(image_, rdp2Index_);
}

void OptionByteEditor::BitBtnNGClick() {
  image_ = saved_;
}

bool OptionByteEditor::BitPanelMouseDown(int row, int bit, MouseButton button) {
  if (row < 0 || row >= BitRowCount() || bit < 0 || bit > 7) return false;
  selectedRow_ = row;
  selectedMask_ = static_cast<std::uint8_t>(1u << bit);
  return button == MouseButton::Right;
}

bool OptionByteEditor::BitPanelMouseDown(std::string_view panelName, MouseButton button) {
  for (int row = 0; row < BitRowCount(); ++row) {
    for (int bit = 0; bit < 8; ++bit) {
      if (BitPanelName(row, bit) == panelName) return BitPanelMouseDown(row, bit, button);
    }
  }
  return false;
}

std::string OptionByteEditor::BitPanelName(int row, int bit) const {
  return Format("Pnl%.*sB%d", static_cast<int>(rows_.at(static_cast<std::size_t>(row)).name.size()),
                rows_.at(static_cast<std::size_t>(row)).name.data(), bit);
}

const std::string& OptionByteEditor::BitPanelCaption(int row, int bit) const {
  return bitCaptions_.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(bit));
}

std::optional<std::string> OptionByteEditor::BitPanelCaption(std::string_view panelName) const {
  for (int row = 0; row < BitRowCount(); ++row) {
    for (int bit = 0; bit < 8; ++bit) {
      if (BitPanelName(row, bit) == panelName) return BitPanelCaption(row, bit);
    }
  }
  return std::nullopt;
}

void OptionByteEditor::SetSelectedBit(bool value) {
  // The popup only opens over a panel, so a bit has been selected; without one there is
  // nothing to change.
  if (selectedMask_ == 0) return;
  const auto row = static_cast<std::size_t>(selectedRow_);
  const std::size_t index = rows_[row].byteIndex;
  const auto byte = static_cast<std::uint8_t>(value ? image_[index] | selectedMask_
                                                    : image_[index] & ~selectedMask_);
  SetOptionPair(image_, index, byte);
  ShowByte(*rows_[row].valuePanel, index);
  int bit = 0;
  while ((selectedMask_ >> bit) != 1) ++bit;
  bitCaptions_[row][static_cast<std::size_t>(bit)] = Format("Bit%d=%d", bit, value ? 1 : 0);
}

}  // namespace korvan
