// The window on four emulated programmers: the device search finds them, a part is chosen in
// the real chip dialog, a HEX file is loaded and "自动" runs on every channel. Four full blue
// gauges and the counter follow; a fault on one channel leaves that gauge red and the others
// blue. Each part gets its production record, and each gauge's tooltip names its port and
// programmer. The screenshot of the window after Auto goes to the build folder.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <algorithm>
#include <array>
#include <fstream>

#include "core/image/writers.h"
#include "core/records/record_log.h"
#include "emulated_station.h"
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

// Holds the first verify-mismatch box open for a while, as an operator reading it does, and
// notes what the station did meanwhile.
class ThinkingFrontend : public ScriptedQtFrontend {
 public:
  Station* station = nullptr;
  bool stalled = false;
  int boxes = 0;

  Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) override {
    if (buttons != Buttons::YesAbort) return ScriptedQtFrontend::Ask(kind, text, buttons);
    if (boxes++ == 0) {
      const std::size_t lines = station->info().LineCount();
      std::array<std::int16_t, kChannelCount> timeouts{};
      for (int n = 1; n <= kChannelCount; ++n) timeouts[n - 1] = station->channel(n).timeout;
      QTest::qWait(400);
      stalled = station->info().LineCount() == lines;
      for (int n = 1; n <= kChannelCount; ++n) {
        stalled = stalled && timeouts[n - 1] == station->channel(n).timeout;
      }
    }
    return Answer::Abort;
  }
};

struct Rig : korvan::testing::EmulatedStation<ThinkingFrontend> {
  explicit Rig(sim::Options options) : EmulatedStation(std::move(options)) {
    frontend.station = &station();
  }
};

}  // namespace

class StationRunTest : public QObject {
  Q_OBJECT

 private slots:
  void autoOnFourProgrammers();
  void informationPanelFollowsTheNewestLine();
  void faultOnOneChannel();
  void hangUpDisablesTheGauge();
  void silentProgrammerTimesOut();
  void verifyMismatchBoxStallsTheChannels();
};

void StationRunTest::autoOnFourProgrammers() {
  Rig rig({});
  gui::TKorvanNATxPrg& w = *rig.window;
  QTRY_COMPARE_WITH_TIMEOUT(rig.Connected(), 4, 10000);
  QCOMPARE(w.ui.InfoPanel->text(), QString("Korvan200NAT V2.9"));
  for (int n = 1; n <= 4; ++n) QVERIFY(w.Gauge(n)->isEnabled());
  QCOMPARE(w.ui.ComboBoxCOM->count(), 4);
  // Channels follow the sorted order of the port names.
  std::vector<std::string> ports = rig.emulator.Paths();
  std::sort(ports.begin(), ports.end());
  for (int n = 1; n <= 4; ++n) {
    QTRY_COMPARE(w.Gauge(n)->toolTip(), QStringLiteral("Channel %1: %2, Korvan200NAT V2.9")
                                            .arg(n)
                                            .arg(QString::fromStdString(ports[n - 1])));
  }

  rig.ChooseChip("N32G45xxx", "N32G452CBL7");
  rig.LoadHex(128 * 1024);
  QVERIFY(rig.station().dataLoaded());
  // "下载" stores image and settings in every programmer; each restarts afterwards.
  Click(w.ui.SpdBtnDownLoad);
  QVERIFY(rig.station().AnyBusy());
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 30000);
  for (int n = 1; n <= 4; ++n) {
    QVERIFY2(rig.GaugeFull(n), qPrintable(QString::number(n)));
    QCOMPARE(rig.station().channel(n).gauge.colour, GaugeColour::Blue);
    QVERIFY(w.ui.InfoMemo->toPlainText().contains(QStringLiteral("编程器%1 ：下载数据").arg(n)));
  }
  QTest::qWait(500);  // the programmers' answers to the restart

  // "Program Option Byte": Auto ends with the option bytes, and each part counts.
  Click(w.ui.CheckBoxOpt);
  QVERIFY(rig.station().form().CheckBoxOpt.checked);
  Click(w.ui.AutoSpdBtn);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 30000);

  for (int n = 1; n <= 4; ++n) {
    QVERIFY2(rig.GaugeFull(n), qPrintable(QString::number(n)));
    QCOMPARE(rig.station().channel(n).gauge.colour, GaugeColour::Blue);
    QVERIFY(w.Gauge(n)->styleSheet().contains("#1f5fd0"));
  }
  const QString panel = w.ui.InfoMemo->toPlainText();
  for (int n = 1; n <= 4; ++n) {
    QVERIFY2(panel.contains(QStringLiteral("芯片%1 ：").arg(n)), qPrintable(panel));
  }
  QCOMPARE(w.StatusPanel(3)->text(), QString("计数器：4"));
  Screenshot(w, "main_window_after_auto");

  // One record per part in the day's file beside the logs, and none for the download.
  const std::filesystem::path logs = rig.station().logLocation().shutdownDir;
  const RecordListing records = ReadRecords(logs);
  QCOMPARE(records.entries.size(), std::size_t{4});
  QCOMPARE(records.skippedLines, std::size_t{0});
  std::array<int, kChannelCount> perChannel{};
  for (const RecordListing::Entry& entry : records.entries) {
    const ProductionRecord& r = entry.record;
    QVERIFY2(r.channel >= 1 && r.channel <= 4, entry.jsonLine.c_str());
    ++perChannel[static_cast<std::size_t>(r.channel - 1)];
    QCOMPARE(r.port, ports[static_cast<std::size_t>(r.channel - 1)]);
    QCOMPARE(r.programmer, std::string("Korvan200NAT V2.9"));
    QCOMPARE(r.chip, std::string("N32G452CBL7"));
    QVERIFY2(r.origin == RecordOrigin::Auto && r.pass, entry.jsonLine.c_str());
  }
  QCOMPARE(perChannel, (std::array<int, kChannelCount>{1, 1, 1, 1}));
  const std::optional<RecordDay> day =
      ParseRecordDay(records.entries.front().record.time.substr(0, 10));
  QVERIFY(day);
  std::ifstream jsonl(logs / (RecordFileStem(*day) + ".jsonl"));
  std::ifstream csv(logs / (RecordFileStem(*day) + ".csv"));
  const auto lines = [](std::ifstream& in) {
    int count = 0;
    for (std::string line; std::getline(in, line);) ++count;
    return count;
  };
  QCOMPARE(lines(jsonl), 4);
  QCOMPARE(lines(csv), 1 + 4);  // the header and a line per part

  // The blank key starts Auto again from a control that has the focus.
  w.activateWindow();
  w.ui.GainEdit->setFocus();
  QTest::keyClick(w.ui.GainEdit, Qt::Key_Space);
  QVERIFY(rig.station().AnyBusy());
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 30000);
  QCOMPARE(w.StatusPanel(3)->text(), QString("计数器：8"));
  QCOMPARE(w.records()->written(), std::size_t{8});
  QCOMPARE(w.ui.GainEdit->text(), QString("0x01"));
}

namespace {

// The newest line of the information panel is in view, whole, at the bottom.
bool NewestLineShown(QPlainTextEdit& memo) {
  QTextCursor end(memo.document());
  end.movePosition(QTextCursor::End);
  const QRect viewport = memo.viewport()->rect();
  if (!viewport.contains(memo.cursorRect(end))) return false;
  const QTextCursor bottom = memo.cursorForPosition(QPoint(4, viewport.bottom() - 2));
  return bottom.block() == memo.document()->lastBlock();
}

}  // namespace

// A long line ("File … has been loaded!") wraps; the panel keeps showing the newest line through
// a Download on four programmers. Scrolled up by the operator it stays; scrolled back to the
// bottom it follows again.
void StationRunTest::informationPanelFollowsTheNewestLine() {
  Rig rig({});
  gui::TKorvanNATxPrg& w = *rig.window;
  QPlainTextEdit& memo = *w.ui.InfoMemo;
  QTRY_COMPARE_WITH_TIMEOUT(rig.Connected(), 4, 10000);
  rig.ChooseChip("N32G45xxx", "N32G452CBL7");
  // A panel already fuller than its view when the long line comes.
  for (int i = 0; i < 12; ++i) w.ui.ShowOptionByte1->trigger();
  rig.LoadHex(64 * 1024, "line-7/N32G452CBL7_motor_controller_release_2026-12-10_build_4711.hex");
  Click(w.ui.SpdBtnDownLoad);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 30000);
  QVERIFY(memo.toPlainText().contains("build_4711.hex\" has been loaded!"));
  QVERIFY2(memo.document()->lastBlock().text().contains("编程器"),
           qPrintable(memo.document()->lastBlock().text()));
  QVERIFY2(NewestLineShown(memo), qPrintable(memo.document()->lastBlock().text()));
  QVERIFY(!memo.horizontalScrollBar()->isVisible());
  QVERIFY(memo.verticalScrollBar()->isVisible());

  // The operator scrolls up to read: new lines do not move the view.
  QScrollBar* bar = memo.verticalScrollBar();
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  const int reading = bar->value();
  QVERIFY(reading < bar->maximum());
  w.ui.ShowOptionByte1->trigger();
  QCOMPARE(bar->value(), reading);
  QVERIFY(!NewestLineShown(memo));

  // Back at the bottom, the panel follows again.
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  w.ui.ShowOptionByte1->trigger();
  QVERIFY(NewestLineShown(memo));
  QVERIFY(memo.document()->lastBlock().text().contains("Option Byte Buffer"));
}

void StationRunTest::faultOnOneChannel() {
  sim::Options options;
  // The third programmer answers the identity request, then every second reply is damaged.
  options.faults.push_back({sim::FaultKind::Crc, 3, 2});
  Rig rig(options);
  gui::TKorvanNATxPrg& w = *rig.window;
  QTRY_COMPARE_WITH_TIMEOUT(rig.Connected(), 4, 10000);

  rig.ChooseChip("N32G45xxx", "N32G452CBL7");
  rig.LoadHex(64 * 1024);
  Click(w.ui.AutoSpdBtn);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 30000);

  // Channels follow the sorted order of the port names, which need not be the emulator's.
  int faulty = 0;
  for (int n = 1; n <= 4; ++n) {
    if (rig.station().channel(n).portName == rig.emulator.Paths()[2]) faulty = n;
  }
  QVERIFY(faulty != 0);
  for (int n = 1; n <= 4; ++n) {
    QVERIFY2(rig.GaugeFull(n), qPrintable(QString::number(n)));
    const GaugeColour expected = n == faulty ? GaugeColour::Red : GaugeColour::Blue;
    QVERIFY2(
        rig.station().channel(n).gauge.colour == expected,
        qPrintable(QStringLiteral("channel %1:\n%2").arg(n).arg(w.ui.InfoMemo->toPlainText())));
    QCOMPARE(w.Gauge(n)->styleSheet().contains("#d02020"), n == faulty);
  }
  Screenshot(w, "main_window_fault_on_one_channel");
}

void StationRunTest::hangUpDisablesTheGauge() {
  sim::Options options;
  // The second programmer's port goes away after it answered the identity request.
  options.faults.push_back({sim::FaultKind::Hangup, 2, 1});
  Rig rig(options);
  gui::TKorvanNATxPrg& w = *rig.window;
  QTRY_VERIFY_WITH_TIMEOUT(rig.emulator.HungUp(2), 10000);
  QTRY_COMPARE_WITH_TIMEOUT(w.ui.ComboBoxCOM->count(), 3, 10000);
  int lost = 0;
  for (int n = 1; n <= 4; ++n) {
    if (rig.station().channel(n).portName == rig.emulator.Paths()[1]) lost = n;
  }
  QVERIFY(lost != 0);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().channel(lost).connected, 10000);
  for (int n = 1; n <= 4; ++n) {
    QTRY_COMPARE_WITH_TIMEOUT(w.Gauge(n)->isEnabled(), n != lost, 10000);
  }
  QCOMPARE(w.ui.ComboBoxCOM->findText(QString::fromStdString(rig.emulator.Paths()[1])), -1);
}

// Timer1 runs from the start: a programmer that stops answering ends its download by the
// window's own tick, with its gauge red.
void StationRunTest::silentProgrammerTimesOut() {
  sim::Options options;
  options.count = 1;
  options.faults.push_back({sim::FaultKind::Drop, 1, 2});  // the download's reply is lost
  Rig rig(options);
  gui::TKorvanNATxPrg& w = *rig.window;
  QVERIFY(w.Timer1()->isActive());
  QTRY_COMPARE_WITH_TIMEOUT(rig.Connected(), 1, 10000);
  rig.ChooseChip("N32G45xxx", "N32G452CBL7");
  rig.LoadHex(4 * 1024);
  Click(w.ui.SpdBtnDownLoad);
  QVERIFY(rig.station().channel(1).busy);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().channel(1).busy, 10000);
  QVERIFY(w.ui.InfoMemo->toPlainText().contains("编程器 1 ：操作超时！"));
  QVERIFY(rig.station().channel(1).gauge.colour == GaugeColour::Red);
}

void StationRunTest::verifyMismatchBoxStallsTheChannels() {
  Rig rig({});  // blank parts: every channel's verify finds differences
  gui::TKorvanNATxPrg& w = *rig.window;
  QTRY_COMPARE_WITH_TIMEOUT(rig.Connected(), 4, 10000);
  rig.ChooseChip("N32G45xxx", "N32G452CBL7");
  rig.LoadHex(128 * 1024);
  Click(w.ui.SpdBtnVerify);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 30000);
  QVERIFY(rig.frontend.boxes >= 1);
  // While the box was open no other reply was handled and no time-out counted down.
  QVERIFY(rig.frontend.stalled);
  for (int n = 1; n <= 4; ++n) QCOMPARE(rig.station().channel(n).gauge.colour, GaugeColour::Red);
}

QTEST_MAIN(StationRunTest)
#include "station_run_test.moc"
