#include "core/serial/tcomm.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "core/util/format.h"

namespace korvan {
namespace {

constexpr std::size_t kReadBlockSize = 2048;

// While the driver keeps line counters, the read thread also wakes this often to notice modem
// line changes that come without data.
constexpr int kCounterPollMs = 100;

struct Speed {
  std::int32_t baud;
  speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> SpeedCode(std::int32_t baud) {
  for (const Speed& s : kSpeeds) {
    if (s.baud == baud) return s.code;
  }
  return std::nullopt;
}

std::int32_t SpeedBaud(speed_t code) {
  for (const Speed& s : kSpeeds) {
    if (s.code == code) return s.baud;
  }
  return 0;
}

// The parts of a terminal's settings that the component decides, masked out for comparison.
constexpr tcflag_t kCflagMask = CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CREAD;
constexpr tcflag_t kIflagMask = IXON | IXOFF | INPCK | IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR |
                                IGNCR | ICRNL | IXANY | IUCLC | IGNPAR;
constexpr tcflag_t kLflagMask = ICANON | ECHO | ECHOE | ECHONL | ISIG | IEXTEN;

// "1000000 baud 8N2, no flow control" and, when the terminal is not raw, ", not raw".
std::string DescribeLine(const termios& t) {
  int bits = 8;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      bits = 5;
      break;
    case CS6:
      bits = 6;
      break;
    case CS7:
      bits = 7;
      break;
    default:
      break;
  }
  char parity = 'N';
  if (t.c_cflag & PARENB) {
    const bool odd = (t.c_cflag & PARODD) != 0;
    parity = (t.c_cflag & CMSPAR) ? (odd ? 'M' : 'S') : (odd ? 'O' : 'E');
  }
  const char* stop = (t.c_cflag & CSTOPB) ? ((t.c_cflag & CSIZE) == CS5 ? "1.5" : "2") : "1";
  std::string flow;
  if (t.c_cflag & CRTSCTS) flow += flow.empty() ? "RTS/CTS" : " RTS/CTS";
  if (t.c_iflag & (IXON | IXOFF)) flow += flow.empty() ? "XON/XOFF" : " XON/XOFF";
  if (flow.empty()) flow = "no flow control";
  std::string text = Format("%d baud %d%c%s, %s", static_cast<int>(SpeedBaud(cfgetospeed(&t))),
                            bits, parity, stop, flow.c_str());
  if ((t.c_lflag & kLflagMask) != 0 || (t.c_oflag & OPOST) != 0) text += ", not raw";
  return text;
}

bool SameLine(const termios& a, const termios& b) {
  return cfgetospeed(&a) == cfgetospeed(&b) && cfgetispeed(&a) == cfgetispeed(&b) &&
         (a.c_cflag & kCflagMask) == (b.c_cflag & kCflagMask) &&
         (a.c_iflag & kIflagMask) == (b.c_iflag & kIflagMask) &&
         (a.c_lflag & kLflagMask) == (b.c_lflag & kLflagMask) &&
         (a.c_oflag & OPOST) == (b.c_oflag & OPOST);
}

// Modem-line and counter ioctls that the driver does not have (pseudo-terminals answer ENOTTY)
// are simply not available; they never make an open fail.
void SetModemLine(int fd, int line, bool on) {
  int bits = line;
  (void)::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

bool ReadCounters(int fd, LineCounters& out) {
  serial_icounter_struct c{};
  if (::ioctl(fd, TIOCGICOUNT, &c) != 0) return false;
  out.frame = static_cast<std::uint32_t>(c.frame);
  out.overrun = static_cast<std::uint32_t>(c.overrun);
  out.parity = static_cast<std::uint32_t>(c.parity);
  out.brk = static_cast<std::uint32_t>(c.brk);
  out.bufOverrun = static_cast<std::uint32_t>(c.buf_overrun);
  out.dcd = static_cast<std::uint32_t>(c.dcd);
  out.rng = static_cast<std::uint32_t>(c.rng);
  return true;
}

bool Signalled(int eventFd) {
  pollfd p{eventFd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// What both worker threads share: where they report, and the port they serve.
class WorkerThread {
 protected:
  WorkerThread(int fd, int closeFd, EventQueue& events, EventReceiver* receiver,
               std::uint32_t session)
      : fd_(fd), closeFd_(closeFd), events_(events), receiver_(receiver), session_(session) {}

  // Posts an event; false when it could not be queued.
  bool Post(EventKind kind, std::uint32_t value = 0) {
    Event event;
    event.receiver = receiver_;
    event.kind = kind;
    event.value = value;
    return Post(std::move(event));
  }
  bool Post(Event event) {
    event.tag = session_;
    try {
      events_.Post(std::move(event));
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  void PostHangup() { (void)Post(EventKind::RequestHangup); }
  // Posts the event or, when that fails, a hang-up; false in the second case.
  bool PostOrHangup(EventKind kind, std::uint32_t value) {
    if (Post(kind, value)) return true;
    PostHangup();
    return false;
  }

  int fd_;
  int closeFd_;
  EventQueue& events_;
  EventReceiver* receiver_;
  std::uint32_t session_;
};

class TReadThread : WorkerThread {
 public:
  TReadThread(int fd, int closeFd, EventQueue& events, EventReceiver* receiver,
              std::uint32_t session, const std::atomic<bool>& dropNulls)
      : WorkerThread(fd, closeFd, events, receiver, session), dropNulls_(dropNulls) {}

  void Run() {
    LineCounters counters;
    const bool haveCounters = ReadCounters(fd_, counters);
    pollfd fds[2] = {{closeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
    for (;;) {
      const int ready = ::poll(fds, 2, haveCounters ? kCounterPollMs : -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        PostHangup();
        break;
      }
      if (fds[0].revents != 0) break;  // closing
      if (haveCounters && !CheckCounters(counters)) break;
      const short port = fds[1].revents;
      if (port == 0) continue;
      if (port & POLLNVAL) break;  // the port is being closed
      if (port & POLLIN) {
        if (!ReadOnce(port)) break;
      } else {
        // POLLHUP or POLLERR without data: the device is gone.
        PostHangup();
        break;
      }
    }
    ::tcflush(fd_, TCIFLUSH);
  }

 private:
  // One read of up to a block; false when the thread must end.
  bool ReadOnce(short revents) {
    const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
    if (n > 0) return Deliver(static_cast<std::size_t>(n));
    if (n == 0) {
      // A terminal reads 0 bytes only once it has been hung up; then its settings cannot be
      // read either.
      termios t;
      if (::tcgetattr(fd_, &t) != 0 || (revents & (POLLHUP | POLLERR))) {
        PostHangup();
        return false;
      }
      // Not hung up after all: pause briefly rather than spin on a port that keeps reporting
      // end-of-file.
      pollfd p{closeFd_, POLLIN, 0};
      return ::poll(&p, 1, 10) == 0;
    }
    switch (errno) {
      case EINTR:
        return true;
      case EAGAIN:
        if (revents & (POLLHUP | POLLERR)) {
          PostHangup();
          return false;
        }
        return true;
      case EBADF:
        return false;  // the port is being closed
      default:         // EIO: the adapter was unplugged or the far side closed
        PostHangup();
        return false;
    }
  }

  bool Deliver(std::size_t count) {
    if (dropNulls_.load(std::memory_order_relaxed)) {
      count = static_cast<std::size_t>(std::remove(buffer_, buffer_ + count, 0) - buffer_);
      if (count == 0) return true;
    }
    Event event;
    event.receiver = receiver_;
    event.kind = EventKind::DataReceived;
    event.length = static_cast<std::uint32_t>(count);
    try {
      // The copy carries one zero byte after the data.
      event.block = std::make_unique<std::uint8_t[]>(count + 1);
    } catch (const std::bad_alloc&) {
      PostHangup();
      return false;
    }
    std::memcpy(event.block.get(), buffer_, count);
    if (!Post(std::move(event))) {
      PostHangup();
      return false;
    }
    return true;
  }

  bool CheckCounters(LineCounters& counters) {
    LineCounters now;
    if (!ReadCounters(fd_, now)) return true;  // a failing port shows in the read
    const LineChanges changes = CompareLineCounters(counters, now);
    counters = now;
    if (changes.errorFlags != 0 && !PostOrHangup(EventKind::ReceiveError, changes.errorFlags)) {
      return false;
    }
    if (changes.modemEvents != 0 &&
        !PostOrHangup(EventKind::ModemStateChange, changes.modemEvents)) {
      return false;
    }
    return true;
  }

  const std::atomic<bool>& dropNulls_;
  std::uint8_t buffer_[kReadBlockSize];
};

}  // namespace

class TWriteThread : WorkerThread {
 public:
  TWriteThread(int fd, int closeFd, EventQueue& events, TComm& comm)
      : WorkerThread(fd, closeFd, events, &comm, comm.session_),
        queue_(comm.sendQueue_),
        empty_(comm.sendQueueEmpty_),
        running_(comm.writerRunning_) {}

  void Run() {
    for (;;) {
      std::optional<TComm::SendItem> item = Next();
      if (!item) break;
      // A block taken while the port is closing is released unwritten.
      if (Signalled(closeFd_)) break;
      if (!WriteBlock(*item)) break;
    }
    ::tcflush(fd_, TCOFLUSH);
    empty_.store(true);
    running_.store(false);
  }

 private:
  // The next block to write, waiting for one; nullopt when the thread must end. Reports the
  // queue running empty once per run of blocks.
  std::optional<TComm::SendItem> Next() {
    bool notify = true;
    pollfd fds[2] = {{closeFd_, POLLIN, 0}, {queue_.NotifyFd(), POLLIN, 0}};
    for (;;) {
      if (auto item = queue_.TryPop()) return item;
      empty_.store(true);
      if (notify && !PostOrHangup(EventKind::SendDataEmpty, 0)) return std::nullopt;
      notify = false;
      const int ready = ::poll(fds, 2, -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        PostHangup();
        return std::nullopt;
      }
      if (fds[0].revents != 0) return std::nullopt;  // closing
    }
  }

  // Writes the whole block, in as many pieces as the driver takes; false when the thread must
  // end (a hang-up has been posted unless the port is being closed).
  bool WriteBlock(const TComm::SendItem& item) {
    const std::uint8_t* data = item.bytes.get();
    std::size_t remaining = item.length;
    pollfd fds[2] = {{closeFd_, POLLIN, 0}, {fd_, POLLOUT, 0}};
    while (remaining > 0) {
      const ssize_t n = ::write(fd_, data, remaining);
      if (n > 0) {
        data += n;
        remaining -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EBADF) return false;
      if (n < 0 && errno != EAGAIN) {
        PostHangup();
        return false;
      }
      // The driver's queue is full: wait until it takes more, or the port closes.
      const int ready = ::poll(fds, 2, -1);
      if (ready < 0) {
        if (errno == EINTR) continue;
        PostHangup();
        return false;
      }
      if (fds[0].revents != 0) return false;
      if (fds[1].revents & POLLNVAL) return false;
      if ((fds[1].revents & (POLLHUP | POLLERR)) && !(fds[1].revents & POLLOUT)) {
        PostHangup();
        return false;
      }
    }
    return true;
  }

  NotifyingQueue<TComm::SendItem>& queue_;
  std::atomic<bool>& empty_;
  std::atomic<bool>& running_;
};

LineChanges CompareLineCounters(const LineCounters& before, const LineCounters& after) {
  LineChanges c;
  if (after.bufOverrun != before.bufOverrun) c.errorFlags |= kLineErrorRxOver;
  if (after.overrun != before.overrun) c.errorFlags |= kLineErrorOverrun;
  if (after.parity != before.parity) c.errorFlags |= kLineErrorParity;
  if (after.frame != before.frame) c.errorFlags |= kLineErrorFrame;
  if (after.brk != before.brk) c.errorFlags |= kLineErrorBreak;
  if (after.dcd != before.dcd) c.modemEvents |= kModemEventCarrier;
  if (after.rng != before.rng) c.modemEvents |= kModemEventRing;
  return c;
}

TComm::TComm(EventQueue& events) : events_(events) {}

TComm::~TComm() {
  ClosePort();
  events_.Discard(this);
}

void TComm::OpenPort() {
  if (fd_ >= 0) throw ECommsError(kCommsAlreadyOpened);

  const int fd = ::open(commName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw ECommsError(Format(kCommsOpenFailed, commName_.c_str()), errno);
  if (!::isatty(fd)) {
    ::close(fd);
    throw ECommsError(kCommsNotACommHandle);
  }
  // Exclusive use: flock keeps out every other opener that asks (root included); TIOCEXCL
  // keeps out unprivileged openers that do not. The lock is taken first so that a port in use
  // elsewhere is left exactly as its owner set it.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    throw ECommsError(Format(kCommsOpenFailed, commName_.c_str()), error);
  }
  (void)::ioctl(fd, TIOCEXCL);
  fd_ = fd;
  ++session_;

  ::tcflush(fd_, TCIOFLUSH);
  sendQueue_.Clear();
  sendQueueEmpty_.store(true);

  std::string mismatch;
  if (!ApplyLineSettings(&mismatch)) {
    CloseDevice();
    throw ECommsError(mismatch);
  }
  latency_ = RequestLowLatency(fd_, lowLatencyAccess_);

  closeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (closeFd_ < 0) {
    const int error = errno;
    CloseDevice();
    throw ECommsError(kCommsUnableToCreateEvent, error);
  }

  // The threads run at the normal priority: raising it needs privileges the station does not
  // ask for, and the workers only sleep in poll between blocks.
  try {
    TReadThread reader(fd_, closeFd_, events_, this, session_, dropNulls_);
    readThread_ = std::thread([reader]() mutable { reader.Run(); });
  } catch (const std::system_error& e) {
    ::close(closeFd_);
    closeFd_ = -1;
    CloseDevice();
    throw ECommsError(kCommsUnableToCreateReadThread, e.code().value());
  }
  try {
    writerRunning_.store(true);
    TWriteThread writer(fd_, closeFd_, events_, *this);
    writeThread_ = std::thread([writer]() mutable { writer.Run(); });
  } catch (const std::system_error& e) {
    writerRunning_.store(false);
    const std::uint64_t one = 1;
    (void)::write(closeFd_, &one, sizeof one);
    readThread_.join();
    ::close(closeFd_);
    closeFd_ = -1;
    CloseDevice();
    throw ECommsError(kCommsUnableToCreateWriteThread, e.code().value());
  }
}

void TComm::SetHandlers(PortHandlers handlers) {
  OnReceiveData = nullptr;
  OnReceiveError = nullptr;
  OnRequestHangup = nullptr;
  if (handlers.received) {
    OnReceiveData = [f = std::move(handlers.received)](TComm&, const std::uint8_t* buffer,
                                                       std::uint16_t length) {
      f(std::span<const std::uint8_t>(buffer, length));
    };
  }
  if (handlers.lineError) {
    OnReceiveError = [f = std::move(handlers.lineError)](TComm&, std::uint32_t flags) { f(flags); };
  }
  if (handlers.hangup) {
    OnRequestHangup = [f = std::move(handlers.hangup)](TComm&) { f(); };
  }
}

void TComm::ClosePort() {
  if (fd_ < 0) return;
  // Both threads wait in poll on the close signal, so each ends at once: a pending write ends
  // quietly, and nothing is left to join for long.
  const std::uint64_t one = 1;
  (void)::write(closeFd_, &one, sizeof one);
  ::tcflush(fd_, TCIFLUSH);
  if (readThread_.joinable()) readThread_.join();
  ::tcflush(fd_, TCOFLUSH);
  sendQueueEmpty_.store(true);
  if (writeThread_.joinable()) writeThread_.join();
  sendQueue_.Clear();
  ::close(closeFd_);
  closeFd_ = -1;
  CloseDevice();
}

bool TComm::SendBlock(const void* buffer, std::uint16_t length) {
  if (fd_ < 0 || length == 0 || !writerRunning_.load()) return false;
  SendItem item;
  item.length = length;
  try {
    item.bytes = std::make_unique<std::uint8_t[]>(length + 1u);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(item.bytes.get(), buffer, length);
  // Cleared before the block is queued: the write thread may take it and find the queue empty
  // again before this function returns.
  sendQueueEmpty_.store(false);
  try {
    sendQueue_.Push(std::move(item));
  } catch (const std::bad_alloc&) {
    if (sendQueue_.Size() == 0) sendQueueEmpty_.store(true);
    return false;
  }
  return true;
}

void TComm::HandleEvent(Event& event) {
  switch (event.kind) {
    case EventKind::DataReceived:
      if (OnReceiveData) {
        OnReceiveData(*this, event.block.get(), static_cast<std::uint16_t>(event.length));
      }
      break;
    case EventKind::ReceiveError:
      if (OnReceiveError) OnReceiveError(*this, event.value);
      break;
    case EventKind::RequestHangup:
      // Both threads may report the same loss, and the owner's handler closes the port on the
      // first report. A report about an earlier opening must not reach the owner: it would
      // close a port that has since been opened again and works.
      if (fd_ >= 0 && event.tag == session_ && OnRequestHangup) OnRequestHangup(*this);
      break;
    case EventKind::ModemStateChange:
      if (OnModemStateChange) OnModemStateChange(*this, event.value);
      break;
    case EventKind::SendDataEmpty:
      if (OnSendDataEmpty) OnSendDataEmpty(*this);
      break;
  }
}

bool TComm::ApplyLineSettings(std::string* mismatch) {
  dropNulls_.store(ignoreNullChar_);

  termios t;
  if (::tcgetattr(fd_, &t) != 0) {
    if (mismatch) {
      *mismatch = Format("Serial port %s: cannot read its line settings: %s", commName_.c_str(),
                         std::strerror(errno));
    }
    return false;
  }
  // Raw bytes both ways; the flags this component decides are rebuilt from zero.
  t.c_iflag &= ~kIflagMask;
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~kLflagMask;
  t.c_cflag &= ~kCflagMask;
  t.c_cflag |= CREAD | CLOCAL;
  switch (byteSize_) {
    case TByteSize::_5:
      t.c_cflag |= CS5;
      break;
    case TByteSize::_6:
      t.c_cflag |= CS6;
      break;
    case TByteSize::_7:
      t.c_cflag |= CS7;
      break;
    case TByteSize::_8:
      t.c_cflag |= CS8;
      break;
  }
  switch (parity_) {
    case TParity::None:
      break;
    case TParity::Odd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case TParity::Even:
      t.c_cflag |= PARENB;
      break;
    case TParity::Mark:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case TParity::Space:
      t.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (stopBits_ != TStopBits::_1) t.c_cflag |= CSTOPB;
  if (parityCheck_) t.c_iflag |= INPCK;
  if (outxCtsFlow_ || rtsControl_ == TRtsControl::RtsHandshake) t.c_cflag |= CRTSCTS;
  if (outxXonXoffFlow_) t.c_iflag |= IXON;
  if (inxXonXoffFlow_) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = static_cast<cc_t>(xonChar_);
  t.c_cc[VSTOP] = static_cast<cc_t>(xoffChar_);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (const auto code = SpeedCode(baudRate_)) {
    cfsetospeed(&t, *code);
    cfsetispeed(&t, *code);
  }
  const termios wanted = t;
  (void)::tcsetattr(fd_, TCSANOW, &t);

  if (dtrControl_ == TDtrControl::DtrEnable) SetModemLine(fd_, TIOCM_DTR, true);
  if (dtrControl_ == TDtrControl::DtrDisable) SetModemLine(fd_, TIOCM_DTR, false);
  if (rtsControl_ == TRtsControl::RtsEnable) SetModemLine(fd_, TIOCM_RTS, true);
  if (rtsControl_ == TRtsControl::RtsDisable) SetModemLine(fd_, TIOCM_RTS, false);

  if (!mismatch) return true;
  termios got;
  const bool readBack = ::tcgetattr(fd_, &got) == 0;
  // A speed the terminal interface has no code for is never set, so it always shows here.
  if (readBack && SpeedCode(baudRate_) && SameLine(wanted, got)) return true;
  std::string asked = DescribeLine(wanted);
  if (!SpeedCode(baudRate_)) {
    asked.replace(0, asked.find(' '), std::to_string(baudRate_));
  }
  *mismatch = Format(kCommsLineNotTaken, commName_.c_str(), asked.c_str(),
                     readBack ? DescribeLine(got).c_str() : std::strerror(errno));
  return false;
}

void TComm::CloseDevice() {
  (void)::ioctl(fd_, TIOCNXCL);
  ::close(fd_);  // also releases the flock
  fd_ = -1;
}

}  // namespace korvan
