// korvan-nat: the station's window.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <string_view>

#include "core/util/version.h"

#include "gui/main_window.h"
#include "gui/station_icon.h"
#include "gui/termination_signals.h"

namespace {

// Errors that escape a handler are shown with their text, and the window goes on.
class Application : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
      QMessageBox::critical(activeWindow(), "Korvan200NAT", QString::fromStdString(error.what()));
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  // Answered before any window system is touched, so they work without a display too.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::printf("korvan-nat %s\n", korvan::kStationVersion);
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "Usage: korvan-nat [Qt options]\n"
          "The Korvan200NAT programmer station window.\n\n"
          "Programmers are searched on the USB serial adapters (ftdi_sio, cp210x) and on the\n"
          "colon-separated paths in KORVAN_PORTS (korvan-sim prints them).\n\n"
          "Options:\n"
          "  --help     show this text and exit\n"
          "  --version  show the version and exit\n"
          "Qt's own options (-platform NAME, -style NAME, ...) are taken as well.\n");
      return 0;
    }
  }
  Application app(argc, argv);
  QApplication::setApplicationName("Korvan200NAT");
  QApplication::setDesktopFileName("korvan-nat");
  QApplication::setWindowIcon(korvan::gui::StationIcon());

  // Logout, shutdown and Ctrl-C end the window as "退出" does, with its shutdown log.
  korvan::gui::TerminationSignals endRequests;
  korvan::gui::TKorvanNATxPrg window;
  QObject::connect(&endRequests, &korvan::gui::TerminationSignals::received, &window,
                   &korvan::gui::TKorvanNATxPrg::EndFromOutside);
  window.show();
  return QApplication::exec();
}
