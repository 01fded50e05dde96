#include "gui/hex_table_model.h"

#include <QFontDatabase>

namespace korvan::gui {

HexTableModel::HexTableModel(const HexView& view, QObject* parent)
    : QAbstractTableModel(parent),
      view_(view),
      font_(QFontDatabase::systemFont(QFontDatabase::FixedFont)) {
  // Small enough that "0x08000000" fits the 70-pixel address column whole.
  font_.setPixelSize(10);
}

void HexTableModel::Refresh() {
  beginResetModel();
  endResetModel();
}

int HexTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(view_.RowCount());
}

int HexTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : HexView::kColumns;
}

QVariant HexTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() < 0 || index.column() < 0 ||
      static_cast<std::size_t>(index.row()) >= view_.RowCount() ||
      index.column() >= HexView::kColumns) {
    return {};
  }
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(
          view_.CellText(static_cast<std::size_t>(index.row()), index.column()));
    case Qt::FontRole:
      return font_;
    case Qt::TextAlignmentRole:
      return index.column() == HexView::kColumns - 1 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                                     : QVariant(Qt::AlignCenter);
    default:
      return {};
  }
}

QVariant HexTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
      section >= HexView::kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  return QString::fromStdString(HexView::HeaderText(section));
}

}  // namespace korvan::gui
