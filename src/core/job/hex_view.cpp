#include "core/job/hex_view.h"

namespace korvan {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
}

std::string HexView::HeaderText(int column) {
  if (column < 1 || column > 16) return {};
  return std::string("  ") + kDigits[column - 1];
}

void HexView::Show(std::span<const std::uint8_t> data, std::uint32_t firstAddress,
                   std::size_t rows) {
  const std::size_t available = data.size() / 16;
  rows_ = rows < available ? rows : available;
  data_ = data.first(rows_ * 16);
  firstAddress_ = firstAddress;
}

std::string HexView::CellText(std::size_t row, int column) const {
  const auto bytes = RowBytes(row);
  if (column == 0) {
    std::uint32_t address = RowAddress(row);
    std::string text = "0x00000000";
    for (int i = 9; i >= 2; --i, address >>= 4)
      text[static_cast<std::size_t>(i)] = kDigits[address & 0xF];
    return text;
  }
  if (column <= 16) {
    const std::uint8_t b = bytes[static_cast<std::size_t>(column - 1)];
    return {kDigits[b >> 4], kDigits[b & 0xF]};
  }
  std::string text(16, '.');
  for (std::size_t i = 0; i < 16; ++i) {
    if (bytes[i] >= 0x20 && bytes[i] < 0x80) text[i] = static_cast<char>(bytes[i]);
  }
  return text;
}

}  // namespace korvan
