#include "core/serial/port_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
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

bool TrialOpenPort(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // Another owner of the port holds its lock (a channel, or another station).
  const bool usable = ::isatty(fd) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return usable;
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
