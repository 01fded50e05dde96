#include "lib/emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace korvan::sim {

namespace {

// Raw bytes at 1,000,000 baud 8N2, as a programmer's USB serial port is set.
void SetRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  cfsetispeed(&t, B1000000);
  cfsetospeed(&t, B1000000);
  t.c_cflag &= ~(PARENB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(fd, TCSANOW, &t);
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

Emulator::Emulator(Options options) : options_(std::move(options)) {}

Emulator::~Emulator() {
  Stop();
}

bool Emulator::Start(std::string* error) {
  if (options_.count < 1) {
    *error = "the count of programmers must be at least 1";
    return false;
  }
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    *error = ErrnoText("eventfd");
    return false;
  }
  for (int channel = 1; channel <= options_.count; ++channel) {
    Port port;
    port.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    if (port.master < 0 || grantpt(port.master) != 0 || unlockpt(port.master) != 0 ||
        ptsname_r(port.master, name, sizeof name) != 0 ||
        (port.slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
      *error = ErrnoText("pseudo-terminal");
      ClosePort(port);
      AbandonStart();
      return false;
    }
    SetRaw(port.master);
    SetRaw(port.slave);
    port.programmer = std::make_unique<Programmer>(channel, options_);
    paths_.emplace_back(name);
    ports_.push_back(std::move(port));
  }
  if (!LinkPorts(error)) {
    AbandonStart();
    return false;
  }
  thread_ = std::thread([this] { Run(); });
  return true;
}

// A start that failed half-way leaves nothing open.
void Emulator::AbandonStart() {
  for (auto& p : ports_) ClosePort(p);
  ports_.clear();
  paths_.clear();
  close(wake_);
  wake_ = -1;
}

bool Emulator::Stop(std::string* error) {
  if (stopped_ || wake_ < 0) return true;
  stopped_ = true;
  stopping_ = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t ignored = write(wake_, &one, sizeof one);
  if (thread_.joinable()) thread_.join();

  bool ok = true;
  if (!options_.dumpDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options_.dumpDir, ec);
    std::string message;
    for (const auto& port : ports_) {
      if (!port.programmer->Dump(options_.dumpDir, &message)) {
        ok = false;
        if (error) *error = message;
        break;
      }
    }
  }
  for (auto& port : ports_) ClosePort(port);
  RemoveLinks();
  close(wake_);
  return ok;
}

// Pseudo-terminal numbers are whatever the system hands out, and the station binds channels to
// ports in the text order of their names (/dev/pts/10 before /dev/pts/9). So each programmer is
// offered under a name of its own, ttyNAT01, ttyNAT02, ... in a private folder, whose text
// order is the programmers' order.
bool Emulator::LinkPorts(std::string* error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvan-sim-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = ErrnoText("link folder");
    return false;
  }
  linkDir_ = pattern;
  for (std::size_t i = 0; i < paths_.size(); ++i) {
    char leaf[32];
    std::snprintf(leaf, sizeof leaf, "ttyNAT%02zu", i + 1);
    const std::string link = linkDir_ + "/" + leaf;
    if (symlink(paths_[i].c_str(), link.c_str()) != 0) {
      *error = ErrnoText("port link");
      RemoveLinks();
      return false;
    }
    paths_[i] = link;
  }
  return true;
}

void Emulator::RemoveLinks() {
  if (linkDir_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(linkDir_, ec);
  linkDir_.clear();
}

void Emulator::ClosePort(Port& port) {
  if (port.master >= 0) close(port.master);
  if (port.slave >= 0) close(port.slave);
  port.master = -1;
  port.slave = -1;
}

ChannelSnapshot Emulator::Snapshot(int channel) const {
  std::lock_guard lock(mutex_);
  return ports_.at(static_cast<std::size_t>(channel - 1)).programmer->Snapshot();
}

bool Emulator::HungUp(int channel) const {
  std::lock_guard lock(mutex_);
  return ports_.at(static_cast<std::size_t>(channel - 1)).master < 0;
}

void Emulator::Serve(Port& port, TimePoint now) {
  Programmer& programmer = *port.programmer;
  const auto index = static_cast<std::size_t>(&port - ports_.data());
  const int channel = static_cast<int>(index) + 1;
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = read(port.master, buffer, sizeof buffer);
    if (n > 0) {
      if (trace_) {
        trace_->Bytes(channel, paths_[index], trace::Direction::ToProgrammer,
                      std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
      }
      programmer.OnRead(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)), now);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: all read; EIO cannot happen while the emulator holds the slave open
  }
  programmer.Advance(now);
  port.blocked = false;
  for (;;) {
    const auto bytes = programmer.WriteNow(now);
    if (bytes.empty()) break;
    const ssize_t n = write(port.master, bytes.data(), bytes.size());
    if (n > 0) {
      if (trace_) {
        trace_->Bytes(channel, paths_[index], trace::Direction::FromProgrammer,
                      bytes.first(static_cast<std::size_t>(n)));
      }
      programmer.Written(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    port.blocked = true;  // the station is not reading: wait until it does
    break;
  }
  if (programmer.HangupDue()) {
    // Close only once the station has read the last reply (closing the master drops what
    // the slave has not read yet), or when it has not read it within a second.
    int unread = 0;
    if (port.slave >= 0 && ioctl(port.slave, FIONREAD, &unread) != 0) unread = 0;
    // The bytes reach the slave's queue a moment after the write: give them that moment.
    if (port.hangupBy == TimePoint{}) {
      port.hangupFrom = now + std::chrono::milliseconds(20);
      port.hangupBy = now + std::chrono::seconds(1);
    }
    if ((unread == 0 && now >= port.hangupFrom) || now >= port.hangupBy) {
      ClosePort(port);
      if (trace_) trace_->Mark(channel, paths_[index], trace::WireTrace::Event::Hangup);
      // An unplugged adapter leaves /dev: its name goes too, so that no later search finds
      // it (or another pseudo-terminal that has meanwhile been given the same number).
      if (!linkDir_.empty() && index < paths_.size()) ::unlink(paths_[index].c_str());
    } else {
      port.recheck = now + std::chrono::milliseconds(5);
    }
  }
}

void Emulator::Run() {
  std::vector<pollfd> fds;
  while (!stopping_) {
    std::optional<TimePoint> next;
    fds.clear();
    fds.push_back({wake_, POLLIN, 0});
    {
      std::lock_guard lock(mutex_);
      const TimePoint now = Clock::now();
      for (auto& port : ports_) {
        if (port.master < 0) continue;
        Serve(port, now);
        if (port.master < 0) continue;
        short events = POLLIN;
        if (port.blocked) events |= POLLOUT;
        fds.push_back({port.master, events, 0});
        auto due = port.programmer->NextDue(!port.blocked);
        if (port.recheck != TimePoint{} && (!due || port.recheck < *due)) due = port.recheck;
        port.recheck = TimePoint{};
        if (due && (!next || *due < *next)) next = due;
      }
    }
    timespec timeout{};
    timespec* wait = nullptr;
    if (next) {
      const auto delta = std::max(Clock::duration::zero(), *next - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(delta).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
      timeout.tv_nsec = static_cast<long>(ns % 1000000000);
      wait = &timeout;
    }
    const int ready = ppoll(fds.data(), fds.size(), wait, nullptr);
    if (ready < 0 && errno != EINTR) break;
  }
}

}  // namespace korvan::sim
