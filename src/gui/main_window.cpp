#include "gui/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "core/host/line_link.h"
#include "core/host/serial_guard.h"
#include "core/trace/tracing_port.h"
#include "core/util/format.h"
#include "gui/dialogs.h"
#include "gui/qt_frontend.h"
#include "gui/station_icon.h"

namespace korvan::gui {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// KORVAN_TRACE=FILE: the wire trace of every channel (read it with korvan-cli trace FILE).
std::shared_ptr<trace::WireTrace> WindowTrace() {
  const char* file = std::getenv("KORVAN_TRACE");
  if (!file || !*file) return nullptr;
  return OpenWireTrace(file, "korvan-nat", false, [](const std::string& text) {
    std::fprintf(stderr, "korvan-nat: %s\n", text.c_str());
  });
}

Frontend& ChooseFrontend(Frontend* given, std::unique_ptr<QtFrontend>& own) {
  if (given) return *given;
  own = std::make_unique<QtFrontend>();
  return *own;
}

void Show(QCheckBox* box, const CheckBoxState& state) {
  const QSignalBlocker block(box);
  box->setChecked(state.checked);
  box->setEnabled(state.enabled);
  box->setVisible(state.visible);
}

void Show(QLineEdit* edit, const EditState& state) {
  const QSignalBlocker block(edit);
  if (edit->text() != Q(state.text)) edit->setText(Q(state.text));
  edit->setMaxLength(state.maxLength > 0 ? state.maxLength : 32767);
  edit->setEnabled(state.enabled);
  edit->setVisible(state.visible);
}

void Show(QSpinBox* spin, const SpinEditState& state) {
  const QSignalBlocker block(spin);
  spin->setRange(state.minValue, state.maxValue);
  spin->setSingleStep(state.increment);
  spin->setValue(state.value);
  spin->setEnabled(state.enabled);
  spin->setVisible(state.visible);
}

void Show(QButtonGroup* group, QWidget* box, int itemIndex, bool enabled) {
  const QSignalBlocker block(group);
  if (QAbstractButton* button = group->button(itemIndex)) {
    button->setChecked(true);
  } else if (QAbstractButton* checked = group->checkedButton()) {
    group->setExclusive(false);
    checked->setChecked(false);
    group->setExclusive(true);
  }
  box->setEnabled(enabled);
}

QButtonGroup* MakeGroup(QWidget* owner, std::initializer_list<QAbstractButton*> buttons) {
  auto* group = new QButtonGroup(owner);
  int id = 0;
  for (QAbstractButton* button : buttons) group->addButton(button, id++);
  return group;
}

// The hexadecimal digit that is widest in `font`, so that a width made for it holds any number.
QChar WidestHexDigit(const QFont& font) {
  const QFontMetrics metrics(font);
  QChar widest = '0';
  for (QChar digit : QStringLiteral("0123456789ABCDEF")) {
    if (metrics.horizontalAdvance(digit) > metrics.horizontalAdvance(widest)) widest = digit;
  }
  return widest;
}

// The width a framed status panel needs to show `text` whole: the text, the frame and the
// indent a framed label keeps on its aligned side.
int PanelWidthFor(const QLabel& panel, const QString& text) {
  const QFontMetrics metrics(panel.font());
  const int indent = panel.indent() >= 0 ? panel.indent() : metrics.horizontalAdvance('x') / 2;
  return metrics.horizontalAdvance(text) + 2 * (panel.frameWidth() + panel.margin()) + 2 * indent;
}

// The file panel: the loaded file's path. When the path is longer than the panel, the folder is
// shortened in its middle and the file's name stays whole; the tooltip holds the whole path (as
// does the information panel's "has been loaded" line).
class PathPanel : public QLabel {
 public:
  using QLabel::QLabel;

  void setPath(const QString& path) {
    path_ = path;
    setToolTip(path);
    Fit();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    Fit();
  }

 private:
  void Fit() {
    const QFontMetrics metrics(font());
    const int inset = indent() >= 0 ? indent() : metrics.horizontalAdvance('x') / 2;
    const int room = contentsRect().width() - 2 * margin() - inset;
    QString shown = path_;
    if (metrics.horizontalAdvance(path_) > room) {
      const qsizetype slash = path_.lastIndexOf('/');
      const QString name = path_.mid(slash + 1);
      const int nameWidth = metrics.horizontalAdvance(name);
      if (slash >= 0 && nameWidth + metrics.horizontalAdvance(QStringLiteral("…/")) <= room) {
        shown = metrics.elidedText(path_.left(slash + 1), Qt::ElideMiddle, room - nameWidth) + name;
      } else if (nameWidth <= room) {
        shown = name;
      } else {
        shown = metrics.elidedText(name, Qt::ElideMiddle, room);
      }
    }
    if (text() != shown) QLabel::setText(shown);
  }

  QString path_;
};

QString GaugeStyle(GaugeColour colour) {
  const char* chunk = colour == GaugeColour::Red ? "#d02020" : "#1f5fd0";
  return QStringLiteral(
             "QProgressBar { border: 1px solid #8a8a8a; background: #f4f4f4; text-align: center; }"
             "QProgressBar::chunk { background-color: %1; }"
             "QProgressBar::chunk:disabled { background-color: #a8a8a8; }")
      .arg(chunk);
}

}  // namespace

TKorvanNATxPrg::TKorvanNATxPrg(Frontend* frontend, StationEnvironment environment, QWidget* parent)
    : QMainWindow(parent),
      frontend_(ChooseFrontend(frontend, ownFrontend_)),
      environment_(std::move(environment)),
      wireTrace_(WindowTrace()),
      station_(frontend_, SystemLocalTime, TracedPorts(SystemPortProvider(), wireTrace_)),
      flashModel_(station_.HexViewer()),
      otpModel_(station_.EEPDataView()) {
  ui.setupUi(this);
  if (auto* qt = dynamic_cast<QtFrontend*>(&frontend_)) qt->SetParent(this);
  setWindowTitle("Korvan200NAT Programmer Wizard");
  setWindowIcon(StationIcon());
  // A fixed single border with the system menu and the minimise button only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  gauges_ = {ui.Gauge1, ui.Gauge2, ui.Gauge3, ui.Gauge4};
  for (QProgressBar* gauge : gauges_) gauge->setStyleSheet(GaugeStyle(GaugeColour::Blue));
  ui.InfoMemo->setFont(QFont(QStringLiteral("宋体"), 9));
  // Only the operator moves the bar away from the bottom; a new line or a clear leaves it
  // where following put it.
  connect(ui.InfoMemo->verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] {
    QScrollBar* bar = ui.InfoMemo->verticalScrollBar();
    followInfo_ = bar->sliderPosition() >= bar->maximum();
  });
  connect(ui.InfoMemo->verticalScrollBar(), &QScrollBar::sliderReleased, this, [this] {
    QScrollBar* bar = ui.InfoMemo->verticalScrollBar();
    followInfo_ = bar->value() >= bar->maximum();
  });
  ui.SpdBtnLdPrj->setVisible(false);

  SetUpStatusBar();
  SetUpHexViews();
  SetUpMenus();
  BindForm();
  WireCommands();

  about_ = std::make_unique<TAboutForm>(this);
  about_->ui.LabelTL->setText("Korvan200NAT Flash MCU Programmer");

  timer1_ = new QTimer(this);
  timer1_->setObjectName("Timer1");
  timer1_->setInterval(10);
  timer1_->setTimerType(Qt::PreciseTimer);
  connect(timer1_, &QTimer::timeout, this, &TKorvanNATxPrg::Timer1Timer);
  // The tick runs for the window's whole life: time-outs, time-driven gauges, the counter.
  timer1_->start();
  // The ports' threads post to the station's queue; it is drained here, on the GUI thread.
  serialNotifier_ =
      new QSocketNotifier(station_.serialEvents().NotifyFd(), QSocketNotifier::Read, this);
  connect(serialNotifier_, &QSocketNotifier::activated, this, &TKorvanNATxPrg::SerialEventsReady);

  // The client area is 855 x 571 below the menu bar: tool bar, pages and status bar.
  ui.StatusBar1->setFixedHeight(20);
  ui.CentralWidget->setFixedSize(855, 551);
  setFixedSize(855, 571 + ui.MainMenu1->sizeHint().height());

  station_.SetListener(this);
  // Download, Auto and Program, from any menu entry, button or key: the record store (and the
  // line database) are asked first.
  host_.AskBeforeNumbering();
  qApp->installEventFilter(this);
  RenderForm();
  RenderWindow();
  RenderStatusBar();
  RenderGauges();
}

TKorvanNATxPrg::~TKorvanNATxPrg() {
  qApp->removeEventFilter(this);
  station_.SetListener(nullptr);
  // The station, its queue and the models go before the widgets do: nothing may reach them
  // from here on.
  timer1_->stop();
  delete serialNotifier_;
  serialNotifier_ = nullptr;
  ui.HexViewer->setModel(nullptr);
  ui.EEPDataView->setModel(nullptr);
}

// Panels 0, 1 and 3 are at least as wide as the layout gives them and wide enough for the widest
// text they can show (an eight-digit file checksum, a ten-digit counter); the file panel takes
// the rest of the bar.
void TKorvanNATxPrg::SetUpStatusBar() {
  static constexpr std::array<int, 4> kWidths = {140, 140, 390, 120};
  const std::array<QString, 4> widest = {
      QStringLiteral("文件校验和：0x%1").arg(QString(8, WidestHexDigit(font()))),
      QStringLiteral("芯片校验和：0x%1").arg(QString(4, WidestHexDigit(font()))), QString(),
      QStringLiteral("计数器：-2147483648")};
  for (std::size_t i = 0; i < status_.size(); ++i) {
    QLabel* panel = i == 2 ? new PathPanel(this) : new QLabel(this);
    panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    if (i == 2) {
      panel->setMinimumWidth(0);
      ui.StatusBar1->addWidget(panel, 1);
    } else {
      panel->setFixedWidth(std::max(kWidths[i], PanelWidthFor(*panel, widest[i])));
      ui.StatusBar1->addWidget(panel);
    }
    status_[i] = panel;
  }
}

void TKorvanNATxPrg::SetUpHexViews() {
  const auto setUp = [](QTableView* view, HexTableModel* model, int addressWidth) {
    view->setModel(model);
    view->verticalHeader()->hide();
    // Every row has the same height, so the view never measures rows it does not paint.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(18);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setMinimumSectionSize(16);
    view->setColumnWidth(0, addressWidth);
    for (int c = 1; c <= 16; ++c) view->setColumnWidth(c, 25);
    view->setColumnWidth(HexView::kColumns - 1, 130);
  };
  setUp(ui.HexViewer, &flashModel_, 70);
  setUp(ui.EEPDataView, &otpModel_, 73);
}

void TKorvanNATxPrg::SetUpMenus() {
  // The information panel's pop-up menu.
  auto* infoMenu = new QMenu(this);
  infoMenu->setObjectName("PopupMenuInfo");
  QAction* clear = infoMenu->addAction("Clear Information");
  clear->setObjectName("ClearInformation1");
  QAction* copy = infoMenu->addAction("Copy Information");
  copy->setObjectName("CopytoCli1");
  connect(clear, &QAction::triggered, this, [this] { station_.ClearInformation1Click(); });
  connect(copy, &QAction::triggered, this, [this] {
    const std::string text =
        station_.CopytoCli1Click(ui.InfoMemo->textCursor().selectedText().toStdString());
    QGuiApplication::clipboard()->setText(Q(text));
  });
  connect(ui.InfoMemo, &QWidget::customContextMenuRequested, this,
          [this, infoMenu](const QPoint& at) { infoMenu->popup(ui.InfoMemo->mapToGlobal(at)); });

  // The "OTP Data" grid's pop-up menu: "Load File" loads OTP data.
  auto* otpMenu = new QMenu(this);
  otpMenu->setObjectName("PopupMenuEEP");
  QAction* load = otpMenu->addAction("Load File");
  load->setObjectName("LoadFile1");
  connect(load, &QAction::triggered, this, [this] { station_.LoadOTPDataFile1Click(); });
  connect(ui.EEPDataView, &QWidget::customContextMenuRequested, this,
          [this, otpMenu](const QPoint& at) {
            otpMenu->popup(ui.EEPDataView->viewport()->mapToGlobal(at));
          });
}

// Widgets write the operator's changes into the job form; click handlers run after the change,
// as the toolkit runs them after the control changed.
void TKorvanNATxPrg::BindForm() {
  JobForm& f = station_.form();
  const auto check = [this](QCheckBox* box, CheckBoxState& state, void (Station::*handler)()) {
    connect(box, &QCheckBox::clicked, this, [this, &state, handler](bool checked) {
      state.checked = checked;
      if (handler) (station_.*handler)();
    });
  };
  check(ui.ChkBoxBlkEr, f.ChkBoxBlkEr, nullptr);
  check(ui.CheckBoxOpt, f.CheckBoxOpt, nullptr);
  check(ui.ChkBoxEras, f.ChkBoxEras, nullptr);
  check(ui.CheckBoxSN, f.CheckBoxSN, &Station::CheckBoxSNClick);
  check(ui.SNOrderChk, f.SNOrderChk, nullptr);
  check(ui.ChkBoxSNDP, f.ChkBoxSNDP, &Station::ChkBoxSNDPClick);
  check(ui.ChkBoxPCSN, f.ChkBoxPCSN, nullptr);
  check(ui.CheckBoxCtrl, f.CheckBoxCtrl, &Station::CheckBoxCtrlClick);
  check(ui.ChkBoxAuto, f.ChkBoxAuto, &Station::ChkBoxAutoClick);
  check(ui.ChkBoxVDD, f.ChkBoxVDD, nullptr);
  check(ui.CheckBoxRun, f.CheckBoxRun, nullptr);
  check(ui.ChkBoxRunSHT, f.ChkBoxRunSHT, nullptr);
  connect(ui.ChkBoxDlySkp, &QCheckBox::clicked, this,
          [this](bool checked) { station_.form().ChkBoxDlySkp.checked = checked; });

  const auto edit = [this](QLineEdit* line, EditState& state) {
    connect(line, &QLineEdit::textEdited, this,
            [&state](const QString& text) { state.text = text.toStdString(); });
  };
  edit(ui.SNEdit1, f.SNEdit1);
  edit(ui.SNEdit2, f.SNEdit2);
  edit(ui.SNEdit3, f.SNEdit3);
  edit(ui.SNEdit4, f.SNEdit4);
  edit(ui.GainEdit, f.GainEdit);
  edit(ui.AddrEdit, f.AddrEdit);

  const auto spin = [this](QSpinBox* box, SpinEditState& state) {
    connect(box, &QSpinBox::valueChanged, this, [&state](int value) { state.Set(value); });
  };
  spin(ui.SpinEditNum, f.SpinEditNum);
  spin(ui.SpinEditIn, f.SpinEditIn);
  spin(ui.SpinEditOut, f.SpinEditOut);
  spin(ui.SpinEditRTM, f.SpinEditRTM);
  spin(ui.SpinEditVddTim, f.SpinEditVddTim);
  spin(ui.SpinEditRstTim, f.SpinEditRstTim);
  spin(ui.SpinEdit1, f.SpinEdit1);

  voltGroup_ = MakeGroup(this, {ui.RadioGpVolt0, ui.RadioGpVolt1});
  speedGroup_ = MakeGroup(this, {ui.RadioGrpSpdF0, ui.RadioGrpSpdF1});
  resetGroup_ = MakeGroup(this, {ui.RadioGrpRST0, ui.RadioGrpRST1, ui.RadioGrpRST2});
  connect(voltGroup_, &QButtonGroup::idClicked, this,
          [this](int id) { station_.form().RadioGpVolt.itemIndex = id; });
  connect(speedGroup_, &QButtonGroup::idClicked, this,
          [this](int id) { station_.form().RadioGrpSpdF.itemIndex = id; });
  connect(resetGroup_, &QButtonGroup::idClicked, this,
          [this](int id) { station_.form().RadioGrpRST.itemIndex = id; });
  connect(ui.ViewPageCtrl, &QTabWidget::currentChanged, this, [this] {
    QWidget* page = ui.ViewPageCtrl->currentWidget();
    station_.SelectPage(page == ui.TabSheetFlash ? MainTab::MainFlash
                        : page == ui.TabSheetEEP ? MainTab::OtpData
                                                 : MainTab::ChipSetting);
  });
  connect(ui.PageControlSet, &QTabWidget::currentChanged, this,
          [this](int index) { station_.form().PageControlSet = static_cast<SettingsTab>(index); });
}

void TKorvanNATxPrg::WireCommands() {
  const auto on = [this](QObject* sender, auto handler) {
    if (auto* action = qobject_cast<QAction*>(sender)) {
      connect(action, &QAction::triggered, this, [this, handler] { (void)(station_.*handler)(); });
    } else if (auto* button = qobject_cast<QAbstractButton*>(sender)) {
      connect(button, &QAbstractButton::clicked, this,
              [this, handler] { (void)(station_.*handler)(); });
    }
  };
  // File commands; the tool buttons share the menu entries' handlers.
  on(ui.LoadObjectFile1, &Station::FileOpenBtnClick);
  on(ui.SpdBtnOpen, &Station::FileOpenBtnClick);
  on(ui.SpdBtnLoadMore, &Station::SpdBtnLoadMoreClick);
  on(ui.LoadOptionByteFile1, &Station::LoadOptionByteFile1Click);
  on(ui.LoadOTPDataFile1, &Station::LoadOTPDataFile1Click);
  on(ui.SaveMemorytoFile1, &Station::FileSaveBtnClick);
  on(ui.SaveOptionByte1, &Station::SaveOptionByte1Click);
  on(ui.SaveOTPDatatoFile1, &Station::SaveOTPDatatoFile1Click);
  on(ui.ShowOptionByte1, &Station::ShowOptionByte1Click);
  on(ui.SavetoProjectFile1, &Station::SavetoProjectFile1Click);
  on(ui.LoadFromProjectFile1, &Station::SpdBtnLdPrjClick);
  on(ui.SpdBtnLdPrj, &Station::SpdBtnLdPrjClick);
  // A loaded job shows its fingerprint on the panel (after the load's own lines).
  for (QObject* load :
       std::initializer_list<QObject*>{ui.LoadObjectFile1, ui.SpdBtnOpen, ui.SpdBtnLoadMore,
                                       ui.LoadFromProjectFile1, ui.SpdBtnLdPrj}) {
    on(load, &Station::ShowJobFingerprint);
  }
  on(ui.Exit1, &Station::SpdBtnExitClick);
  on(ui.SpdBtnExit, &Station::SpdBtnExitClick);
  // The part and its option bytes.
  on(ui.DevButton, &Station::DevButtonClick);
  on(ui.ButtonOpt, &Station::ButtonOptClick);
  // Ports and programmers.
  on(ui.FreshBtn, &Station::FreshBtnClick);
  on(ui.BitBtnFindDev, &Station::BitBtnFindDevClick);
  connect(ui.BitBtn1, &QPushButton::clicked, this,
          [this] { station_.BitBtn1Click(station_.form().SpinEdit1.value); });
  // Operation commands: the menu entries and tool buttons each operation names.
  for (const StationOperation& op : Station::Operations()) {
    for (const char* control : op.controls) {
      if (!control) continue;
      QObject* sender = findChild<QObject*>(QString::fromLatin1(control));
      Q_ASSERT(sender);
      on(sender, op.start);
    }
  }

  connect(ui.About1, &QAction::triggered, this, [this] {
    CentreOn(*about_, nullptr);
    about_->exec();
  });
}

void TKorvanNATxPrg::FormKeyPress(char key) {
  station_.FormKeyPress(key);
}

void TKorvanNATxPrg::SerialEventsReady() {
  // A modal question inside a reply handler stalls every channel until it is answered: while
  // the queue is being drained, the notifier and the tick wait.
  serialNotifier_->setEnabled(false);
  inHandler_ = true;
  station_.serialEvents().Drain();
  inHandler_ = false;
  serialNotifier_->setEnabled(true);
}

void TKorvanNATxPrg::Timer1Timer() {
  if (inHandler_) return;
  inHandler_ = true;
  station_.Timer1Timer();
  inHandler_ = false;
}

// ---------------------------------------------------------------------------------------------
// Rendering

// The panel follows the newest line unless the operator scrolled up to read; scrolled back to
// the bottom, it follows again.
void TKorvanNATxPrg::InfoLineAdded(const std::string& line) {
  QScrollBar* bar = ui.InfoMemo->verticalScrollBar();
  ui.InfoMemo->appendPlainText(Q(line));
  if (followInfo_) bar->setValue(bar->maximum());
}

void TKorvanNATxPrg::InfoCleared() {
  ui.InfoMemo->clear();
  followInfo_ = true;
}

void TKorvanNATxPrg::ViewChanged(ViewPart part) {
  switch (part) {
    case ViewPart::Form:
      RenderForm();
      break;
    case ViewPart::Window:
      RenderWindow();
      break;
    case ViewPart::StatusBar:
      RenderStatusBar();
      break;
    case ViewPart::Gauges:
      RenderGauges();
      break;
    case ViewPart::FlashView:
      flashModel_.Refresh();
      break;
    case ViewPart::OtpView:
      otpModel_.Refresh();
      break;
  }
}

void TKorvanNATxPrg::CloseRequested() {
  close();
}

// Questions still open are answered as their close box answers them, one after the other, and
// the window then ends as "退出" ends it: the ports close and the shutdown log is written.
void TKorvanNATxPrg::EndFromOutside() {
  if (closing_) return;
  QWidget* open = QApplication::activePopupWidget();
  if (!open) open = QApplication::activeModalWidget();
  // A question that refuses to close does not hold the end up for long: every event loop is
  // then left once the window has closed.
  static constexpr int kQuestionsClosed = 32;
  if (open && endAttempts_ < kQuestionsClosed) {
    ++endAttempts_;
    open->close();
    QTimer::singleShot(0, this, &TKorvanNATxPrg::EndFromOutside);
    return;
  }
  station_.SpdBtnExitClick();
  if (open) QCoreApplication::exit(0);
}

void TKorvanNATxPrg::OperationEnded(int, const OperationOutcome&) {
  RenderGauges();
}

void TKorvanNATxPrg::ChannelsChanged() {
  RenderGauges();
  RenderWindow();
}

void TKorvanNATxPrg::RenderForm() {
  const JobForm& f = station_.form();
  Show(ui.MCUNameEdit, f.MCUNameEdit);
  ui.MCUNameEdit->setReadOnly(true);
  ui.lbFlashSize->setText(Q(f.lbFlashSize.caption));
  ui.lbEEPSize->setText(Q(f.lbEEPSize.caption));
  ui.lbEEPSize->setVisible(f.lbEEPSize.visible);
  Show(voltGroup_, ui.RadioGpVolt, f.RadioGpVolt.itemIndex, f.RadioGpVolt.enabled);
  Show(speedGroup_, ui.RadioGrpSpdF, f.RadioGrpSpdF.itemIndex, f.RadioGrpSpdF.enabled);
  Show(ui.ChkBoxBlkEr, f.ChkBoxBlkEr);
  Show(ui.CheckBoxOpt, f.CheckBoxOpt);
  Show(ui.ChkBoxEras, f.ChkBoxEras);
  {
    const QSignalBlocker block(ui.ChkBoxDlySkp);
    ui.ChkBoxDlySkp->setChecked(f.ChkBoxDlySkp.checked);
    ui.ChkBoxDlySkp->setVisible(f.ChkBoxDlySkp.visible);
  }
  ui.ButtonOpt->setEnabled(f.ButtonOpt.enabled);
  ui.ButtonOpt->setVisible(f.ButtonOpt.visible);

  {
    const QSignalBlocker block(ui.PageControlSet);
    ui.PageControlSet->setCurrentIndex(static_cast<int>(f.PageControlSet));
  }
  Show(ui.CheckBoxSN, f.CheckBoxSN);
  Show(ui.SNEdit1, f.SNEdit1);
  Show(ui.SNEdit2, f.SNEdit2);
  Show(ui.SNEdit3, f.SNEdit3);
  Show(ui.SNEdit4, f.SNEdit4);
  Show(ui.GainEdit, f.GainEdit);
  Show(ui.AddrEdit, f.AddrEdit);
  Show(ui.SNOrderChk, f.SNOrderChk);
  Show(ui.ChkBoxSNDP, f.ChkBoxSNDP);
  Show(ui.ChkBoxPCSN, f.ChkBoxPCSN);
  Show(ui.SpinEdit1, f.SpinEdit1);
  ui.BitBtn1->setEnabled(f.BitBtn1.enabled);
  ui.BitBtn1->setVisible(f.BitBtn1.visible);

  Show(ui.CheckBoxCtrl, f.CheckBoxCtrl);
  Show(ui.SpinEditNum, f.SpinEditNum);
  Show(ui.ChkBoxAuto, f.ChkBoxAuto);
  Show(ui.SpinEditIn, f.SpinEditIn);
  Show(ui.SpinEditOut, f.SpinEditOut);

  Show(ui.ChkBoxVDD, f.ChkBoxVDD);
  Show(resetGroup_, ui.RadioGrpRST, f.RadioGrpRST.itemIndex, f.RadioGrpRST.enabled);
  Show(ui.CheckBoxRun, f.CheckBoxRun);
  Show(ui.ChkBoxRunSHT, f.ChkBoxRunSHT);
  Show(ui.SpinEditRTM, f.SpinEditRTM);
  Show(ui.SpinEditVddTim, f.SpinEditVddTim);
  Show(ui.SpinEditRstTim, f.SpinEditRstTim);
}

void TKorvanNATxPrg::RenderWindow() {
  const WindowState& w = station_.window();
  const int eepIndex = ui.ViewPageCtrl->indexOf(ui.TabSheetEEP);
  ui.ViewPageCtrl->setTabVisible(eepIndex, w.TabSheetEEPVisible);
  ui.ViewPageCtrl->setTabText(eepIndex, Q(w.TabSheetEEPCaption));
  const QSignalBlocker blockPages(ui.ViewPageCtrl);
  switch (w.ViewPageCtrl) {
    case MainTab::ChipSetting:
      ui.ViewPageCtrl->setCurrentWidget(ui.ChipSett);
      break;
    case MainTab::MainFlash:
      ui.ViewPageCtrl->setCurrentWidget(ui.TabSheetFlash);
      break;
    case MainTab::OtpData:
      if (w.TabSheetEEPVisible) ui.ViewPageCtrl->setCurrentWidget(ui.TabSheetEEP);
      break;
  }

  ui.LoadOTPDataFile1->setVisible(w.LoadOTPDataFile1);
  ui.SaveOTPDatatoFile1->setVisible(w.SaveOTPDatatoFile1);
  ui.WriteOTPDataMemory1->setVisible(w.WriteOTPDataMemory1);
  ui.ReadOTPMemory1->setVisible(w.ReadOTPMemory1);
  ui.WriteOptionByte1->setVisible(w.WriteOptionByte1);
  ui.SpdBtnWrtOPB->setVisible(w.WriteOptionByte1);
  ui.ReadOptionByte1->setVisible(w.ReadOptionByte1);

  ui.InfoPanel->setText(Q(w.InfoPanel));
  const QSignalBlocker block(ui.ComboBoxCOM);
  ui.ComboBoxCOM->clear();
  for (const std::string& port : w.ComboBoxCOMItems) ui.ComboBoxCOM->addItem(Q(port));
  ui.ComboBoxCOM->setPlaceholderText(Q(w.ComboBoxCOMText));
  ui.ComboBoxCOM->setCurrentIndex(ui.ComboBoxCOM->findText(Q(w.ComboBoxCOMText)));
}

void TKorvanNATxPrg::RenderStatusBar() {
  const WindowState& w = station_.window();
  for (std::size_t i = 0; i < status_.size(); ++i) {
    if (auto* path = dynamic_cast<PathPanel*>(status_[i])) {
      path->setPath(Q(w.StatusBar1[i]));
    } else {
      status_[i]->setText(Q(w.StatusBar1[i]));
    }
  }
}

void TKorvanNATxPrg::RenderGauges() {
  for (int n = 1; n <= kChannelCount; ++n) {
    const GaugeState& g = station_.channel(n).gauge;
    QProgressBar* bar = Gauge(n);
    bar->setEnabled(g.enabled);
    bar->setMaximum(g.maximum > 0 ? g.maximum : 1);
    bar->setValue(g.progress);
    const QString style = GaugeStyle(g.colour);
    if (bar->styleSheet() != style) bar->setStyleSheet(style);
    const QString tip = Q(ChannelTooltip(station_, n));
    if (bar->toolTip() != tip) bar->setToolTip(tip);
  }
}

// ---------------------------------------------------------------------------------------------
// Window events

void TKorvanNATxPrg::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - frameGeometry().center() + pos());
  }
  // The first showing's work (and the questions it may ask) comes once the window is up.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (closing_) return;  // ended before its first showing's work
        station_.FormShow(environment_);
        if (wireTrace_ && !wireTrace_->Writing()) {
          station_.AddInfoLine(std::string("KORVAN_TRACE: the wire trace ") +
                               std::getenv("KORVAN_TRACE") + " cannot be written");
        }
        StartRecordsAndWatch();
        if (!startProject_.empty() && !closing_) {
          if (auto* qt = dynamic_cast<QtFrontend*>(&frontend_)) qt->AnswerNextOpen(startProject_);
          station_.SpdBtnLdPrjClick();
          station_.ShowJobFingerprint();
        }
      },
      Qt::QueuedConnection);
}

// The log folder is known once the first showing's work is done: the records go beside the
// logs, and the adapter watch looks where the port list looks.
void TKorvanNATxPrg::StartRecordsAndWatch() {
  if (closing_) return;  // closed from a question of the first showing
  host_.StartRecords(station_.logLocation().shutdownDir);
  host_.ListenFor(this);
  // Forwarding to the line database KORVAN_RECORDS_DB names, when it is set; a refusal is
  // shown in a message box too.
  if (const auto url = LineDatabaseFromEnvironment()) {
    if (const std::string problem = host_.StartLine(*url, "KORVAN_RECORDS_DB"); !problem.empty()) {
      frontend_.Ask(MessageKind::Error, problem, Buttons::Ok);
    }
  }
  // Only approved jobs run: those KORVAN_APPROVED_JOBS lists (a line database's own list and
  // setting decide where there is one).
  if (const char* file = std::getenv("KORVAN_APPROVED_JOBS"); file && *file && !host_.line()) {
    if (const std::string problem = host_.RequireApprovedJobsFrom(file); !problem.empty()) {
      frontend_.Ask(MessageKind::Error, problem, Buttons::Ok);
    }
  }

  HotPlugOptions options;
  options.sources = station_.portSources();
  // Its changes come through the station's queue, drained by the serial notifier.
  portWatch_ = std::make_unique<PortWatch>(station_, frontend_, station_.serialEvents(), options);
  try {
    portWatch_->Start();
  } catch (const std::system_error& error) {
    station_.AddInfoLine(
        Format("Adapters plugged in or pulled out go unnoticed: %s", error.what()));
  }
}

void TKorvanNATxPrg::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    closing_ = true;
    timer1_->stop();
    if (portWatch_) portWatch_->Stop();
    host_.Close(kLineFlushAtClose);
  }
  event->accept();
}

bool TKorvanNATxPrg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && !QApplication::activeModalWidget() &&
      !QApplication::activePopupWidget()) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* widget = qobject_cast<QWidget*>(watched);
    const bool startsAuto =
        key->key() == Qt::Key_Space || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (startsAuto && key->modifiers() == Qt::NoModifier && widget && widget->window() == this) {
      if (!key->isAutoRepeat()) FormKeyPress(key->key() == Qt::Key_Space ? ' ' : '\r');
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace korvan::gui
