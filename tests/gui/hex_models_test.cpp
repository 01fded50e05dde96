// The hex viewers' table model over the core's HexView: a 4 MiB image is one model reset, the
// cells are formatted as rows are painted, and the model passes QAbstractItemModelTester
// through showing, clearing and showing again.
#include <QAbstractItemModelTester>
#include <QtTest>
#include <vector>

#include "gui/hex_table_model.h"

using korvan::HexView;
using korvan::gui::HexTableModel;

class HexModelsTest : public QObject {
  Q_OBJECT

 private slots:
  void passesModelTester();
  void cellsOfFourMebibytes();
};

void HexModelsTest::passesModelTester() {
  std::vector<std::uint8_t> image(4096, 0xFF);
  HexView view;
  HexTableModel model(view);
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

  QCOMPARE(model.rowCount(), 0);
  QCOMPARE(model.columnCount(), 18);
  view.Show(image, 0x1FFFF000, 256);
  model.Refresh();
  QCOMPARE(model.rowCount(), 256);
  view.Clear();
  model.Refresh();
  QCOMPARE(model.rowCount(), 0);
  // Rows that would read past the data are left out.
  view.Show(image, 0, 1000);
  model.Refresh();
  QCOMPARE(model.rowCount(), 256);
  QVERIFY(!model.data(model.index(256, 0)).isValid());
}

void HexModelsTest::cellsOfFourMebibytes() {
  std::vector<std::uint8_t> image(4u << 20, 0xFF);
  const char text[] = "Hello, N32\x7F\x80\x1F~ z";
  for (std::size_t i = 0; i < 16; ++i) image[16 + i] = static_cast<std::uint8_t>(text[i]);
  image.back() = 0x5A;

  HexView view;
  HexTableModel model(view);
  view.Show(image, 0x08000000, image.size() / 16);
  model.Refresh();
  QCOMPARE(model.rowCount(), 262144);

  const auto cell = [&](int row, int column) {
    return model.data(model.index(row, column)).toString();
  };
  QCOMPARE(cell(0, 0), QString("0x08000000"));
  QCOMPARE(cell(1, 0), QString("0x08000010"));
  QCOMPARE(cell(1, 1), QString("48"));
  QCOMPARE(cell(1, 16), QString("7A"));
  // 0x20..0x7F as characters (0x7F too), everything else ".".
  QCOMPARE(cell(1, 17), QString("Hello, N32\x7F..~ z"));
  QCOMPARE(cell(262143, 0), QString("0x083FFFF0"));
  QCOMPARE(cell(262143, 16), QString("5A"));
  QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString(""));
  QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("  0"));
  QCOMPARE(model.headerData(16, Qt::Horizontal).toString(), QString("  F"));
}

QTEST_MAIN(HexModelsTest)
#include "hex_models_test.moc"
