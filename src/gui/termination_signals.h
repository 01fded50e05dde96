// SIGTERM, SIGINT and SIGHUP (logout, shutdown, Ctrl-C, a closed terminal) as a Qt signal: the
// handler only writes the signal's number into a socket pair, whose other end a
// QSocketNotifier watches on the GUI thread, so the window can end as "退出" ends it.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace korvan::gui {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; one instance per process. Throws std::system_error when the socket
  // pair or a handler cannot be had.
  explicit TerminationSignals(QObject* parent = nullptr);
  // Puts the default actions back.
  ~TerminationSignals() override;

  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 signals:
  void received(int signalNumber);

 private:
  void Readable();

  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace korvan::gui
