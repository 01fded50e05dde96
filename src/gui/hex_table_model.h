// The table model of a hex viewer (HexViewer, EEPDataView) over the core's HexView. The view
// asks for the cells of the rows it paints and each one is formatted then, so opening a 4 MiB
// image costs one model reset, not a grid of strings filled cell by cell.
#pragma once

#include <QAbstractTableModel>
#include <QFont>

#include "core/job/hex_view.h"

namespace korvan::gui {

class HexTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // `view` must outlive the model.
  explicit HexTableModel(const HexView& view, QObject* parent = nullptr);

  // The HexView was shown again or cleared: every row is read afresh.
  void Refresh();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  const HexView& view_;
  QFont font_;
};

}  // namespace korvan::gui
