// A hex viewer as data: the window's table asks for the cells of the rows it shows, and each
// cell is formatted on demand from the image it views. Nothing is prebuilt, so showing any
// screenful costs the same whatever the size of the image.
//
// 18 columns: 0 the row address "0x%08X", 1..16 the row's bytes "%02X", 17 the bytes as text
// (0x20..0x7F as their character, everything else "."). Row r covers the 16 bytes at
// data[16 r ..] and the address firstAddress + 16 r.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korvan {

class HexView {
 public:
  static constexpr int kColumns = 18;

  // Header row cells: "" above the address and text columns, "  0" .. "  F" above the bytes.
  static std::string HeaderText(int column);

  // Empties the view: the header row only.
  void Clear() {
    data_ = {};
    rows_ = 0;
  }

  // Shows `rows` rows of `data` from `firstAddress`; rows that would read past the end of
  // `data` are left out. `data` must outlive the view or the next Show/Clear.
  void Show(std::span<const std::uint8_t> data, std::uint32_t firstAddress, std::size_t rows);

  std::size_t RowCount() const { return rows_; }
  std::uint32_t RowAddress(std::size_t row) const {
    return firstAddress_ + static_cast<std::uint32_t>(16 * row);
  }
  // The 16 bytes of a row; row < RowCount().
  std::span<const std::uint8_t, 16> RowBytes(std::size_t row) const {
    return data_.subspan(16 * row).first<16>();
  }

  // The image the view shows was copied from `from` to `to` (same size): the view shows the
  // same rows of the copy. A view of other data stays as it is.
  void Move(std::span<const std::uint8_t> from, std::span<const std::uint8_t> to) {
    if (data_.empty() || data_.data() < from.data() || data_.data() >= from.data() + from.size()) {
      return;
    }
    data_ = to.subspan(static_cast<std::size_t>(data_.data() - from.data()), data_.size());
  }

  // The text of one cell; row < RowCount(), 0 <= column < kColumns.
  std::string CellText(std::size_t row, int column) const;

 private:
  std::span<const std::uint8_t> data_;
  std::uint32_t firstAddress_ = 0;
  std::size_t rows_ = 0;
};

}  // namespace korvan
