#include "gui/termination_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace korvan::gui {

namespace {

constexpr std::array kSignals = {SIGTERM, SIGINT, SIGHUP};

// [0] is written by the handler, [1] read on the GUI thread.
int pair_[2] = {-1, -1};

void OnSignal(int signalNumber) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(signalNumber);
  // A full pair already holds a request to end; nothing more is needed.
  [[maybe_unused]] const ssize_t written = ::write(pair_[0], &byte, 1);
  errno = saved;
}

[[noreturn]] void Fail(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair_) != 0) {
    Fail("socketpair");
  }
  notifier_ = new QSocketNotifier(pair_[1], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Readable);

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : kSignals) {
    if (::sigaction(signalNumber, &action, nullptr) != 0) Fail("sigaction");
  }
}

TerminationSignals::~TerminationSignals() {
  for (int signalNumber : kSignals) std::signal(signalNumber, SIG_DFL);
  delete notifier_;
  for (int& fd : pair_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void TerminationSignals::Readable() {
  std::array<unsigned char, 16> bytes{};
  const ssize_t count = ::read(pair_[1], bytes.data(), bytes.size());
  for (ssize_t i = 0; i < count; ++i) emit received(bytes[static_cast<std::size_t>(i)]);
}

}  // namespace korvan::gui
