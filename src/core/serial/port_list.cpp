#include "core/serial/port_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace korvan {

PortSources SystemPortSources() {
  PortSources sources;
  if (const char* extra = std::getenv("KORVAN_PORTS")) sources.extraPorts = extra;
  return sources;
}

std::vector<std::string> CandidatePorts(const PortSources& sources) {
  namespace fs = std::filesystem;
  std::vector<std::string> ports;
  std::error_code ec;
  for (fs::directory_iterator it(sources.sysfsRoot / "class" / "tty", ec), end; !ec && it != end;
       it.increment(ec)) {
    // The driver link leads to .../drivers/<driver name>.
    const fs::path driver = fs::canonical(it->path() / "device" / "driver", ec);
    if (ec) {
      ec.clear();
      continue;
    }
    const std::string driverName = driver.filename().string();
    for (const char* wanted : kProgrammerPortDrivers) {
      if (driverName == wanted) {
        ports.push_back((sources.devDir / it->path().filename()).string());
        break;
      }
    }
  }
  std::string_view rest = sources.extraPorts;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (!entry.empty()) ports.emplace_back(entry);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return ports;
}

namespace {

// The process holding a lock on the file `st` describes: from the kernel's lock table, else
// from a UUCP lock file of the device's name. 0 when neither tells.
pid_t LockHolder(const std::string& path, const struct stat& st) {
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    // "1: FLOCK  ADVISORY  WRITE 4711 00:1a:1234 0 EOF"
    std::istringstream fields(line);
    std::string id, kind, advisory, mode, where;
    long pid = 0;
    if (!(fields >> id >> kind)) continue;
    if (kind == "->") fields >> kind;  // a waiter
    if (!(fields >> advisory >> mode >> pid >> where)) continue;
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
    if (major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino &&
        pid > 0) {
      return static_cast<pid_t>(pid);
    }
  }
  std::ifstream uucp("/var/lock/LCK.." + std::filesystem::path(path).filename().string());
  long pid = 0;
  if (uucp >> pid && pid > 0) return static_cast<pid_t>(pid);
  return 0;
}

std::string InUse(const std::string& path, const struct stat& st) {
  const pid_t holder = LockHolder(path, st);
  return holder > 0 ? "in use by another process (pid " + std::to_string(holder) + ")"
                    : std::string("in use by another process");
}

}  // namespace

std::optional<std::string> PortProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return errno == ENOENT ? std::string("does not exist") : std::string(std::strerror(errno));
  }
  if (!S_ISCHR(st.st_mode)) return "not a serial device";
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      return "permission denied (serial ports belong to the group dialout: sudo usermod -aG "
             "dialout $USER, then log out and in again)";
    }
    if (error == EBUSY) return InUse(path, st);  // held with TIOCEXCL
    return std::string(std::strerror(error));
  }
  std::optional<std::string> problem;
  if (!::isatty(fd)) {
    problem = "not a serial device";
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // Another owner of the port holds its lock (a channel, or another station).
    problem = errno == EWOULDBLOCK ? InUse(path, st) : std::string(std::strerror(errno));
  }
  ::close(fd);
  return problem;
}

bool TrialOpenPort(const std::string& path) {
  return !PortProblem(path);
}

std::vector<std::string> ListPortNames(const PortSources& sources) {
  std::vector<std::string> names = CandidatePorts(sources);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());

  std::vector<std::string> listed;
  std::set<std::pair<dev_t, ino_t>> seen;
  for (std::string& name : names) {
    // One device under two names would be bound to two channels.
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) continue;
    const auto identity = S_ISCHR(st.st_mode) ? std::pair<dev_t, ino_t>(st.st_rdev, 0)
                                              : std::pair<dev_t, ino_t>(st.st_dev, st.st_ino);
    if (seen.count(identity) != 0) continue;
    if (!TrialOpenPort(name)) continue;
    seen.insert(identity);
    listed.push_back(std::move(name));
  }
  return listed;
}

}  // namespace korvan
