// korvan-nat: the station's window.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <string>
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

constexpr const char* kHelp =
    "Usage: korvan-nat [OPTIONS] [PROJECT.kvn]\n"
    "The Korvan200NAT station window: controls up to four Korvan200NAT flash programmers on USB\n"
    "serial ports. Loads object files (Intel HEX, S-record, ELF, binary), chooses the N32 part,\n"
    "edits option bytes and serial numbers, downloads the job and programs parts on every\n"
    "channel at once. A PROJECT.kvn named on the command line is loaded once the window is up.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Environment:\n"
    "  KORVAN_PORTS     colon-separated serial ports searched besides the USB adapters\n"
    "                   (emulated programmers: korvan-sim prints the value to use)\n"
    "  KORVAN_TRACE     write a wire trace of every channel to this file (one JSON line per\n"
    "                   frame; korvan-cli trace FILE shows it as a timeline)\n"
    "  XDG_DATA_HOME    KorvanNAT.KFW, the programmers' firmware image, is looked for beside\n"
    "                   the program, then in $XDG_DATA_HOME/korvan200nat (default\n"
    "                   ~/.local/share/korvan200nat), then in /usr/share/korvan200nat\n"
    "  XDG_STATE_HOME   an installed station writes its logs and production records to\n"
    "                   $XDG_STATE_HOME/korvan200nat (default ~/.local/state/korvan200nat);\n"
    "                   run from its build folder, to Log/ beside the program\n"
    "\n"
    "Serial ports: programmers on /dev/ttyUSB* belong to the group dialout\n"
    "(sudo usermod -aG dialout $USER, then log in again).\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the window system is touched, so that they work without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("korvan-nat %s\n", korvan::kStationVersion);
      return 0;
    }
  }
  Application app(argc, argv);
  // What is left once Qt took its own options: the project to open.
  std::string project;
  for (const QString& arg : QApplication::arguments().mid(1)) {
    if (!arg.startsWith('-')) project = arg.toStdString();
  }
  QApplication::setApplicationName("Korvan200NAT");
  QApplication::setDesktopFileName("korvan-nat");
  QApplication::setWindowIcon(korvan::gui::StationIcon());

  // Logout, shutdown and Ctrl-C end the window as "退出" does, with its shutdown log.
  korvan::gui::TerminationSignals endRequests;
  korvan::gui::TKorvanNATxPrg window;
  if (!project.empty()) window.OpenProjectWhenShown(project);
  QObject::connect(&endRequests, &korvan::gui::TerminationSignals::received, &window,
                   &korvan::gui::TKorvanNATxPrg::EndFromOutside);
  window.show();
  return QApplication::exec();
}
