// The main window as a renderer of the Station: layout, captions, menus and shortcuts, the
// status bar, the chip choice through the real chip dialog, a file load filling the "Main
// Flash" table, and the job form following the operator's clicks and typing.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "core/image/writers.h"
#include "core/job/job_fingerprint.h"
#include "gui/dialogs.h"
#include "gui/main_window.h"
#include "gui_test_support.h"

using namespace korvan;
using korvan::testing::Click;
using korvan::testing::ClickItem;
using korvan::testing::Screenshot;
using korvan::testing::ScriptedQtFrontend;
using korvan::testing::WhenModal;

namespace {

// A window over a station whose executable folder is a temporary one.
struct WindowFixture {
  QTemporaryDir dir;
  ScriptedQtFrontend frontend;
  gui::TKorvanNATxPrg window{&frontend, StationEnvironment{dir.path().toStdString(), "", ""}};

  WindowFixture() {
    window.show();
    QTRY_VERIFY(window.station().info().LineCount() > 0);
  }

  // Chooses a part in the real chip dialog.
  void ChooseChip(const QString& series, const QString& part) {
    WhenModal([series, part](QWidget& modal) {
      auto* dialog = qobject_cast<gui::TNChipSelectForm*>(&modal);
      QVERIFY(dialog);
      ClickItem(dialog->ui.ListBoxSeries, series);
      ClickItem(dialog->ui.ListBoxChips, part);
      Click(dialog->ui.BitBtnOK);
    });
    Click(window.ui.DevButton);
  }

  // Writes `bytes` at 0x08000000 as an Intel HEX file and returns its path.
  std::string HexFile(const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir.filePath("firmware.hex").toStdString();
    std::string error;
    if (!SaveHexFile(path, bytes, 0x08000000, 0x08000000,
                     0x08000000 + static_cast<std::uint32_t>(bytes.size()) - 1, error)) {
      qWarning("%s", error.c_str());
    }
    return path;
  }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void layout();
  void menuEntries_data();
  void menuEntries();
  void toolButtons_data();
  void toolButtons();
  void chipChoiceAndLoad();
  void formFollowsClicks();
  void serialNumberTab();
  void informationPanelMenu();
  void endFromOutsideWithAQuestionOpen();
  void gaugesFollowChannels();
  void setOptionByteOpensTheEditorOfThePart_data();
  void setOptionByteOpensTheEditorOfThePart();
};

void MainWindowTest::layout() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  QCOMPARE(w.windowTitle(), QString("Korvan200NAT Programmer Wizard"));
  // Client area below the menu: 855 x 571, tool bar and pages above the status bar.
  QCOMPARE(w.width(), 855);
  QCOMPARE(w.ui.CentralWidget->height() + w.ui.StatusBar1->height(), 571);
  QCOMPARE(w.height(), 571 + w.ui.MainMenu1->height());
  QCOMPARE(w.minimumSize(), w.maximumSize());

  QCOMPARE(w.ui.ViewPageCtrl->tabText(0), QString("Chip Setting"));
  QCOMPARE(w.ui.ViewPageCtrl->tabText(1), QString("Main Flash"));
  QVERIFY(!w.ui.ViewPageCtrl->isTabVisible(2));
  QCOMPARE(w.ui.PageControlSet->tabText(0), QString("序列号设置"));
  QCOMPARE(w.ui.PageControlSet->tabText(1), QString("数量设置和芯片检测"));
  QCOMPARE(w.ui.PageControlSet->tabText(2), QString("信号输出控制"));
  QCOMPARE(w.ui.MCUNameEdit->text(), QString("请选择目标MCU的型号..."));
  QVERIFY(w.ui.MCUNameEdit->isReadOnly());
  QCOMPARE(w.ui.MCUNameEdit->maxLength(), 16);
  QCOMPARE(w.ui.InfoPanel->text(), QString("Device = ??????"));
  QCOMPARE(w.ui.ComboBoxCOM->placeholderText(),
           QString::fromStdString(w.station().window().ComboBoxCOMText));
  QVERIFY(!w.ui.ButtonOpt->isVisible());
  QVERIFY(!w.ui.ChkBoxDlySkp->isVisible());
  QVERIFY(!w.ui.SpdBtnLdPrj->isVisible());

  // The checksum and counter panels are at least 140, 140 and 120 wide (wider where their
  // longest texts need it); the file panel takes the rest of the bar.
  const int widths[] = {140, 140, 0, 120};
  const char* texts[] = {"文件校验和：", "芯片校验和：", "", "计数器：0"};
  for (int i = 0; i < 4; ++i) {
    QVERIFY2(w.StatusPanel(i)->width() >= widths[i], qPrintable(QString::number(i)));
    QCOMPARE(w.StatusPanel(i)->text(), QString(texts[i]));
  }
  QVERIFY(w.StatusPanel(2)->width() >= 300);
  QVERIFY(w.StatusPanel(3)->geometry().right() < w.ui.StatusBar1->width());
  for (int n = 1; n <= 4; ++n) QVERIFY(w.Gauge(n));
  QCOMPARE(w.Timer1()->interval(), 10);

  // First showing: the greeting, and the missing firmware image reported.
  QVERIFY(w.ui.InfoMemo->toPlainText().contains("Hello! Korvan200NAT User!"));
  QCOMPARE(f.frontend.questions.size(), std::size_t{1});
  QVERIFY(QString::fromStdString(f.frontend.questions[0]).endsWith("没有找到，请确认！"));

  // "About" shows the About box modally, with the title set at start-up.
  bool shown = false;
  WhenModal([&shown](QWidget& modal) {
    auto* about = qobject_cast<gui::TAboutForm*>(&modal);
    QVERIFY(about);
    QCOMPARE(about->ui.LabelTL->text(), QString("Korvan200NAT Flash MCU Programmer"));
    shown = true;
    Click(about->ui.OKButton);
  });
  w.ui.About1->trigger();
  QVERIFY(shown);
}

void MainWindowTest::menuEntries_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("shortcut");
  const char* rows[][3] = {
      {"LoadObjectFile1", "&Load Object File", "F3"},
      {"LoadOptionByteFile1", "Load Option Byte File", ""},
      {"SaveMemorytoFile1", "&Save Memory to File", "F2"},
      {"ShowOptionByte1", "Show &Option Byte", "Ctrl+S"},
      {"SavetoProjectFile1", "Save to Project File", "Ctrl+F2"},
      {"LoadFromProjectFile1", "Load From Project File", "Ctrl+F3"},
      {"Exit1", "E&xit", "Ctrl+X"},
      {"Download1", "&Download", "F4"},
      {"AutoProgram1", "&Auto Program", "F5"},
      {"BlankCheck1", "&Blank Check", "F7"},
      {"EraseChip1", "&Erase Chip", "F8"},
      {"Programming1", "&Programming", "F9"},
      {"Verification1", "&Verification", "F10"},
      {"ReadOptionByte1", "Read  Option Byte", "Ctrl+O"},
      {"WriteOptionByte1", "Write &Option Byte", "F11"},
      {"ReadMG32xxChipID1", "&Read Chip ID", "Ctrl+I"},
      {"ReadChipMemoryX1", "Read Chip Memory", ""},
      {"ReadAddress1", "Read Specific Address", ""},
      {"EnterOffLineMonitor1", "Enter Off-Line Monitor", ""},
      {"DoFirmWareUpgrade1", "Do FirmWare Upgrade", ""},
      {"About1", "About", "F1"},
  };
  for (const auto& row : rows) QTest::newRow(row[0]) << row[0] << row[1] << row[2];
}

void MainWindowTest::menuEntries() {
  QFETCH(QString, action);
  QFETCH(QString, text);
  QFETCH(QString, shortcut);
  WindowFixture f;
  auto* entry = f.window.findChild<QAction*>(action);
  QVERIFY(entry);
  QCOMPARE(entry->text(), text);
  QCOMPARE(entry->shortcut().toString(), shortcut);
}

void MainWindowTest::toolButtons_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("hint");
  const char* rows[][3] = {
      {"SpdBtnExit", "退出", "Exit Application"},
      {"SpdBtnOpen", "&加载数据", "Load Object File"},
      {"SpdBtnLoadMore", "加载更多数据", ""},
      {"SpdBtnDownLoad", "下载", "下载目标程序到编程器的FLASH中"},
      {"AutoSpdBtn", "自动", "编程、校验并写入Option Bytes"},
      {"SpdBtnBlankChk", "查空", "目标MCU Flash查空"},
      {"SpdBtnErase", "擦除", "在线擦除目标MCU Flash"},
      {"SpdBtnProg", "编程", "将目标代码写入到MCU的Flash中"},
      {"SpdBtnVerify", "校验", "编程数据的校验"},
      {"SpdBtnWrtOPB", "写Option Byte", "Option Bytes的写入"},
  };
  for (const auto& row : rows) QTest::newRow(row[0]) << row[0] << row[1] << row[2];
}

void MainWindowTest::toolButtons() {
  QFETCH(QString, button);
  QFETCH(QString, text);
  QFETCH(QString, hint);
  WindowFixture f;
  auto* tool = f.window.ui.PanelBtns->findChild<QToolButton*>(button);
  QVERIFY(tool);
  QCOMPARE(tool->text(), text);
  QCOMPARE(tool->toolTip(), hint);
  QVERIFY(tool->autoRaise());
}

void MainWindowTest::chipChoiceAndLoad() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  f.ChooseChip("N32G45xxx", "N32G452CBL7");
  QCOMPARE(w.ui.MCUNameEdit->text(), QString("N32G452CBL7"));
  QCOMPARE(w.ui.lbFlashSize->text(), QString("128K"));
  QVERIFY(w.ui.ButtonOpt->isVisible());
  QVERIFY(w.ui.RadioGpVolt0->isChecked());
  QVERIFY(w.ui.InfoMemo->toPlainText().contains("Chip \"N32G452CBL7\" is Selected!"));

  std::vector<std::uint8_t> bytes(0x1234);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  const std::string path = f.HexFile(bytes);
  f.frontend.openFiles.push_back(path);
  Click(w.ui.SpdBtnOpen);
  // The loaded job's fingerprint closes the load's lines.
  const auto fingerprint = FingerprintJob(w.station().job());
  QVERIFY(fingerprint);
  QVERIFY(w.ui.InfoMemo->toPlainText().endsWith(
      QString::fromStdString("Job fingerprint: " + ShortFingerprint(fingerprint->hex))));

  QCOMPARE(w.flashModel().rowCount(), 128 * 1024 / 16);
  QCOMPARE(w.ui.HexViewer->model()->data(w.ui.HexViewer->model()->index(0, 0)).toString(),
           QString("0x08000000"));
  QCOMPARE(w.ui.HexViewer->model()->data(w.ui.HexViewer->model()->index(0, 2)).toString(),
           QString("07"));
  QCOMPARE(w.ui.HexViewer->columnWidth(0), 70);
  QCOMPARE(w.ui.HexViewer->columnWidth(1), 25);
  QCOMPARE(w.ui.HexViewer->columnWidth(17), 130);
  QCOMPARE(w.StatusPanel(2)->text(), QString::fromStdString(path));
  QVERIFY(w.StatusPanel(0)->text().startsWith("文件校验和：0x"));
  QCOMPARE(w.ui.ViewPageCtrl->currentWidget(), w.ui.ChipSett);
  Screenshot(w, "main_window_loaded");
  w.ui.ViewPageCtrl->setCurrentWidget(w.ui.TabSheetFlash);
  Screenshot(w, "main_window_main_flash");
  // The page the operator turned to stays while the station redraws the window.
  w.station().MCUNameEditChange();
  QCOMPARE(w.ui.ViewPageCtrl->currentWidget(), w.ui.TabSheetFlash);
  // A load turns back to "Chip Setting".
  f.frontend.openFiles.push_back(path);
  Click(w.ui.SpdBtnLoadMore);
  QCOMPARE(w.ui.ViewPageCtrl->currentWidget(), w.ui.ChipSett);

  // Choosing a part again empties the viewer.
  f.ChooseChip("N32G45xxx", "N32G452CBL7");
  QCOMPARE(w.flashModel().rowCount(), 0);
  QVERIFY(!w.station().dataLoaded());
}

void MainWindowTest::formFollowsClicks() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  const JobForm& form = w.station().form();

  w.ui.PageControlSet->setCurrentIndex(1);
  QVERIFY(!w.ui.SpinEditNum->isEnabled());
  Click(w.ui.CheckBoxCtrl);
  QVERIFY(form.CheckBoxCtrl.checked);
  QVERIFY(w.ui.SpinEditNum->isEnabled());
  w.ui.SpinEditNum->selectAll();
  QTest::keyClicks(w.ui.SpinEditNum, "1200");
  QCOMPARE(form.SpinEditNum.value, 1200);

  Click(w.ui.ChkBoxAuto);
  QVERIFY(!form.ChkBoxAuto.checked);
  QVERIFY(!w.ui.SpinEditIn->isEnabled());
  QVERIFY(!w.ui.SpinEditOut->isEnabled());

  w.ui.PageControlSet->setCurrentIndex(0);
  QCOMPARE(form.PageControlSet, SettingsTab::SerialNumbers);
  QVERIFY(!w.ui.SNEdit1->isEnabled());
  Click(w.ui.CheckBoxSN);
  QVERIFY(w.ui.SNEdit1->isEnabled());
  w.ui.GainEdit->selectAll();
  QTest::keyClicks(w.ui.GainEdit, "0x10");
  QCOMPARE(form.GainEdit.text, std::string("0x10"));

  w.ui.PageControlSet->setCurrentIndex(2);
  Click(w.ui.RadioGrpRST2);
  QCOMPARE(form.RadioGrpRST.itemIndex, 2);
  Click(w.ui.RadioGrpSpdF0);
  QCOMPARE(form.RadioGrpSpdF.itemIndex, 0);
  Click(w.ui.ChkBoxVDD);
  QVERIFY(!form.ChkBoxVDD.checked);
  Screenshot(w, "main_window_signal_tab");

  // The assembly reads what the widgets show.
  QVERIFY(w.station().AssembleJobSettings());
  QCOMPARE(w.station().settings().countLimit, 1200u);
  QCOMPARE(w.station().settings().snGain, 0x10);
  QCOMPARE(w.station().settings().powerCtrl & 0x33, 0x32);
}

void MainWindowTest::serialNumberTab() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  const std::pair<QLabel*, const char*> labels[] = {
      {w.ui.LabelSN1, "序列号1初值："}, {w.ui.LabelSN2, "序列号2初值："},
      {w.ui.LabelSN3, "序列号3初值："}, {w.ui.LabelSN4, "序列号4初值："},
      {w.ui.LabelGain, "序列号增量："}, {w.ui.LabelAddr, "序列号地址："},
  };
  for (const auto& [label, text] : labels) QCOMPARE(label->text(), QString(text));
  QCOMPARE(w.ui.CheckBoxSN->text(), QString("添加序列号功能"));
  QCOMPARE(w.ui.CheckBoxSN->toolTip(), QString("序列号只存储于Flash区域！"));
  // Each label stands left of its edit.
  const std::pair<QLabel*, QLineEdit*> pairs[] = {{w.ui.LabelSN1, w.ui.SNEdit1},
                                                  {w.ui.LabelSN4, w.ui.SNEdit4},
                                                  {w.ui.LabelGain, w.ui.GainEdit},
                                                  {w.ui.LabelAddr, w.ui.AddrEdit}};
  for (const auto& [label, edit] : pairs) {
    QVERIFY(label->geometry().right() < edit->x());
    QCOMPARE(label->y(), edit->y());
  }
}

// Ended from outside (logout) while the About box is open: the box closes first, then the window
// ends as "退出" does and writes its shutdown log.
void MainWindowTest::endFromOutsideWithAQuestionOpen() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  for (int i = 0; i < 6; ++i) w.station().AddInfoLine("a line of work");
  WhenModal([&w](QWidget&) { w.EndFromOutside(); });
  w.ui.About1->trigger();
  QTRY_VERIFY(!w.isVisible());
  QVERIFY(!w.aboutForm().isVisible());
  const QDir logs(QString::fromStdString(w.station().logLocation().shutdownDir.string()));
  QCOMPARE(logs.entryList({"NAT_*.log"}, QDir::Files).size(), 1);
}

void MainWindowTest::informationPanelMenu() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  QVERIFY(!w.ui.InfoMemo->toPlainText().isEmpty());
  auto* clear = w.findChild<QAction*>("ClearInformation1");
  QVERIFY(clear);
  clear->trigger();
  QVERIFY(w.ui.InfoMemo->toPlainText().isEmpty());
  QCOMPARE(w.station().info().LineCount(), std::size_t{0});
  w.station().AddInfoLine("one line");
  QVERIFY(w.ui.InfoMemo->toPlainText().endsWith("one line"));
}

void MainWindowTest::gaugesFollowChannels() {
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  Station& s = w.station();
  s.ChannelStateForTest(1).BeginOperation(128, 128);
  s.ChannelStateForTest(2).BeginOperation(128, 128);
  s.ChannelStateForTest(2).EndOperation(true);
  s.ChannelStateForTest(3).BeginOperation(64, 128);
  s.ChannelStateForTest(3).EndOperation(false);
  for (int n = 1; n <= 3; ++n) s.ChannelStateForTest(n).gauge.enabled = true;
  s.ChannelStateForTest(4).gauge.enabled = false;
  w.ViewChanged(ViewPart::Gauges);

  QCOMPARE(w.Gauge(1)->value(), 1);
  QCOMPARE(w.Gauge(1)->maximum(), 128);
  QCOMPARE(w.Gauge(2)->value(), 128);
  QVERIFY(w.Gauge(2)->styleSheet().contains("#d02020"));
  QCOMPARE(w.Gauge(3)->value(), 64);
  QVERIFY(w.Gauge(3)->styleSheet().contains("#1f5fd0"));
  QVERIFY(!w.Gauge(4)->isEnabled());
  QVERIFY(w.Gauge(1)->isEnabled());
  Screenshot(*w.ui.ChipSett, "gauges_running_red_blue_disabled");
}

void MainWindowTest::setOptionByteOpensTheEditorOfThePart_data() {
  QTest::addColumn<QString>("series");
  QTest::addColumn<QString>("part");
  QTest::addColumn<QString>("editor");
  QTest::newRow("general") << "N32G45xxx"
                           << "N32G452CBL7"
                           << "korvan::gui::TN32xOptBForm";
  QTest::newRow("Cortex-M0") << "N32G0xxx"
                             << "N32G031K8L7"
                             << "korvan::gui::TNxM0OptBForm";
  QTest::newRow("N32G430") << "N32G43xx"
                           << "N32G430K8L7"
                           << "korvan::gui::TN32G430xOptBForm";
}

void MainWindowTest::setOptionByteOpensTheEditorOfThePart() {
  QFETCH(QString, series);
  QFETCH(QString, part);
  QFETCH(QString, editor);
  WindowFixture f;
  gui::TKorvanNATxPrg& w = f.window;
  f.ChooseChip(series, part);
  QVERIFY(w.ui.ButtonOpt->isVisible());
  QVERIFY(!w.ui.CheckBoxOpt->isChecked());

  // Clearing the watchdog bit leaves option bytes that differ from the defaults, so "Program
  // Option Byte" is ticked when the editor closes.
  QString shown;
  WhenModal([&shown](QWidget& modal) {
    shown = modal.metaObject()->className();
    Click(modal.findChild<QRadioButton*>("RadBtnIWGHW"));
    Click(modal.findChild<QPushButton*>("BitBtnOK"));
  });
  Click(w.ui.ButtonOpt);
  QCOMPARE(shown, editor);
  QCOMPARE(w.station().optionBytes()[2] & 0x01, 0);
  QVERIFY(w.ui.CheckBoxOpt->isChecked());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
