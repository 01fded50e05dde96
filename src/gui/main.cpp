// korvan-nat: the station's window.
#include <QApplication>
#include <QMessageBox>
#include <exception>

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
