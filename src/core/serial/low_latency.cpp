#include "core/serial/low_latency.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "core/util/format.h"

namespace korvan {

namespace fs = std::filesystem;

namespace {

std::optional<int> ReadTimer(const fs::path& file) {
  std::ifstream in(file);
  int value = -1;
  if (!(in >> value) || value < 0) return std::nullopt;
  return value;
}

int WriteAttribute(const fs::path& file, const std::string& text) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return errno;
  const ssize_t written = ::write(fd, text.data(), text.size());
  const int error = written == static_cast<ssize_t>(text.size()) ? 0 : (written < 0 ? errno : EIO);
  ::close(fd);
  return error;
}

}  // namespace

LowLatencyAccess SystemLowLatencyAccess() {
  LowLatencyAccess access;
  access.getSerial = [](int fd, serial_struct& settings) {
    return ::ioctl(fd, TIOCGSERIAL, &settings);
  };
  access.setSerial = [](int fd, const serial_struct& settings) {
    return ::ioctl(fd, TIOCSSERIAL, &settings);
  };
  access.writeAttribute = WriteAttribute;
  return access;
}

LatencyResult RequestLowLatency(int fd, const LowLatencyAccess& access) {
  LatencyResult result;
  // The driver's own flag first: it also lowers an FTDI chip's timer, with no sysfs rights.
  serial_struct settings{};
  if (access.getSerial && access.setSerial && access.getSerial(fd, settings) == 0) {
    if ((settings.flags & ASYNC_LOW_LATENCY) == 0) {
      settings.flags |= ASYNC_LOW_LATENCY;
      // A driver may take the call and drop the flag: only the read-back counts.
      if (access.setSerial(fd, settings) != 0 || access.getSerial(fd, settings) != 0) {
        settings.flags = 0;
      }
    }
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0) {
      result.way = LatencyWay::DriverFlag;
      return result;
    }
  }

  // The device behind the port, as sysfs knows it: <root>/dev/char/<major>:<minor> leads to
  // the tty, whose device holds the latency timer of an FTDI adapter.
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return result;
  const fs::path tty =
      access.sysfsRoot / "dev" / "char" /
      (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
  std::error_code ec;
  if (!fs::exists(tty / "device", ec)) return result;
  result.way = LatencyWay::NoTimer;
  fs::path timer = tty / "device" / "latency_timer";
  if (!fs::exists(timer, ec)) return result;
  // Named as an operator finds it: /sys/class/tty/<name>/device/latency_timer.
  const fs::path named = access.sysfsRoot / "class" / "tty" / fs::canonical(tty, ec).filename() /
                         "device" / "latency_timer";
  if (!ec && fs::exists(named, ec)) timer = named;
  result.timerFile = timer;
  result.latencyMs = ReadTimer(timer);
  if (result.latencyMs && *result.latencyMs <= 1) {
    result.way = LatencyWay::TimerLow;
    return result;
  }
  if (access.writeAttribute && access.writeAttribute(timer, "1") == 0) {
    const std::optional<int> now = ReadTimer(timer);
    if (now && *now <= 1) {
      result.way = LatencyWay::TimerLow;
      result.latencyMs = now;
      result.lowered = true;
      return result;
    }
  }
  result.way = LatencyWay::Kept;
  return result;
}

std::string KeptLatencyNote(const std::string& port, const LatencyResult& result) {
  if (result.way != LatencyWay::Kept) return "";
  const std::string latency =
      result.latencyMs ? Format("%d ms", *result.latencyMs) : std::string("its latency timer");
  return Format(
      "Port %s keeps a latency of %s per reply: the driver refused low latency and %s cannot be "
      "written. Install the udev rule 60-korvan200nat.rules (lib/udev/rules.d, see README) and "
      "plug the adapter in again, or run: echo 1 | sudo tee %s",
      port.c_str(), latency.c_str(), result.timerFile.c_str(), result.timerFile.c_str());
}

}  // namespace korvan
