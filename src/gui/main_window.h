// The main window TKorvanNATxPrg: a renderer of the Station. Its widgets show the job form and
// the window state and write the operator's changes back into the job form; its menus, tool
// buttons and keys call the Station's handlers of the same names. Serial events are drained and
// the 10 ms tick is run on the GUI thread, between the window's own events. From the first
// showing on, every finished part gets its production record beside the logs, adapters plugged
// in or pulled out are reported in the information panel, and each gauge's tooltip names its
// port and programmer.
#pragma once

#include <QMainWindow>
#include <array>
#include <chrono>
#include <memory>

#include "core/app/port_watch.h"
#include "core/app/station.h"
#include "core/host/station_host.h"
#include "core/trace/wire_trace.h"
#include "gui/hex_table_model.h"
#include "ui_main_window.h"

class QButtonGroup;
class QLabel;
class QProgressBar;
class QSocketNotifier;
class QTimer;

namespace korvan::gui {

class QtFrontend;
class TAboutForm;

class TKorvanNATxPrg : public QMainWindow, public StationListener {
  Q_OBJECT

 public:
  // The window asks its questions through `frontend`, or through real dialogs of its own when
  // none is given. `environment` is where FormShow finds the executable's folder.
  explicit TKorvanNATxPrg(Frontend* frontend = nullptr,
                          StationEnvironment environment = StationEnvironment::Current(),
                          QWidget* parent = nullptr);
  ~TKorvanNATxPrg() override;

  Station& station() { return station_; }
  HexTableModel& flashModel() { return flashModel_; }
  HexTableModel& otpModel() { return otpModel_; }
  TAboutForm& aboutForm() { return *about_; }
  QProgressBar* Gauge(int channel) const {
    return gauges_.at(static_cast<std::size_t>(channel - 1));
  }
  QLabel* StatusPanel(int index) const { return status_.at(static_cast<std::size_t>(index)); }
  QTimer* Timer1() const { return timer1_; }
  // The production records and the adapter watch; null until the first showing's work is done.
  const RecordWriter* records() const { return host_.records(); }
  PortWatch* portWatch() { return portWatch_.get(); }

  // Loads the project `path` once the first showing's work is done (a .kvn file named on the
  // command line, as the desktop opens one).
  void OpenProjectWhenShown(std::string path) { startProject_ = std::move(path); }

  // The blank and Enter keys start Auto from anywhere in the window.
  void FormKeyPress(char key);
  // A request to end from outside the window (logout, shutdown, Ctrl-C): ends as "退出" does,
  // once the questions open at the time are closed.
  void EndFromOutside();

  Ui::TKorvanNATxPrg ui;

  // StationListener: the station changed something the window shows.
  void InfoLineAdded(const std::string& line) override;
  void InfoCleared() override;
  void ViewChanged(ViewPart part) override;
  void CloseRequested() override;
  void OperationEnded(int channel, const OperationOutcome& outcome) override;
  void ChannelsChanged() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetUpStatusBar();
  void SetUpHexViews();
  void SetUpMenus();
  void BindForm();
  void WireCommands();
  void SerialEventsReady();
  void Timer1Timer();
  void StartRecordsAndWatch();
  // At closing: the records get kLineFlushAtClose to reach the line database; the panel (and so
  // the log) says when some are left waiting in the station's store.
  static constexpr std::chrono::seconds kLineFlushAtClose{5};

  void RenderForm();
  void RenderWindow();
  void RenderStatusBar();
  void RenderGauges();

  std::unique_ptr<QtFrontend> ownFrontend_;
  Frontend& frontend_;
  std::string startProject_;
  StationEnvironment environment_;
  // The wire trace KORVAN_TRACE asks for (null without it); the station's ports write to it,
  // so it is made before the station and closed (flushed) after it.
  std::shared_ptr<trace::WireTrace> wireTrace_;
  Station station_;
  HexTableModel flashModel_;
  HexTableModel otpModel_;
  std::unique_ptr<TAboutForm> about_;
  // The station's services once it was shown: its records (between the station and this
  // window), the serial-number check, the line database KORVAN_RECORDS_DB names, the closing.
  // Its line link posts to the station's serial queue, so it goes before the station does.
  StationHost host_{station_};
  // Posts to the station's serial queue, so it goes before the station does.
  std::unique_ptr<PortWatch> portWatch_;
  QTimer* timer1_ = nullptr;
  QSocketNotifier* serialNotifier_ = nullptr;
  // A reply handler or the tick is running (and may be waiting in a modal question).
  bool inHandler_ = false;
  std::array<QProgressBar*, kChannelCount> gauges_{};
  std::array<QLabel*, 4> status_{};
  QButtonGroup* voltGroup_ = nullptr;
  QButtonGroup* speedGroup_ = nullptr;
  QButtonGroup* resetGroup_ = nullptr;
  bool shown_ = false;
  bool closing_ = false;
  // The information panel follows its newest line (the operator has not scrolled up).
  bool followInfo_ = true;
  // Questions closed so far by EndFromOutside.
  int endAttempts_ = 0;
};

}  // namespace korvan::gui
