#include "core/serial/port_list.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <system_error>
#include <utility>

#ifdef KORVAN_HAVE_UDEV
#include <libudev.h>
#endif

namespace korvan {

namespace fs = std::filesystem;

namespace {

// Two names lead to one device when they have the same identity: the device number of a
// character device, else the file itself. Nothing when the name leads nowhere.
using DeviceIdentity = std::pair<dev_t, ino_t>;
std::optional<DeviceIdentity> IdentityOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return S_ISCHR(st.st_mode) ? DeviceIdentity(st.st_rdev, 0) : DeviceIdentity(st.st_dev, st.st_ino);
}

// The first line of a sysfs attribute without surrounding blanks; "" when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return "";
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = line.find_last_not_of(" \t\r\n");
  return line.substr(first, last - first + 1);
}

std::optional<int> ReadMilliseconds(const fs::path& file) {
  const std::string text = ReadAttribute(file);
  if (text.empty() || text.size() > 6) return std::nullopt;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return std::atoi(text.c_str());
}

// The links of `devDir`/serial/by-id and by-path, by the device each leads to; the first name
// in text order when several lead to one device. Dangling links are left out.
struct StableNames {
  std::map<DeviceIdentity, std::string> byId, byPath;
};
StableNames ReadStableNames(const fs::path& devDir) {
  StableNames names;
  auto read = [](const fs::path& folder, std::map<DeviceIdentity, std::string>& into) {
    std::error_code ec;
    std::vector<std::string> links;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      links.push_back(it->path().string());
    }
    std::sort(links.begin(), links.end());
    for (const std::string& link : links) {
      if (const auto identity = IdentityOf(link)) into.emplace(*identity, link);
    }
  };
  read(devDir / "serial" / "by-id", names.byId);
  read(devDir / "serial" / "by-path", names.byPath);
  return names;
}

void AddStableNames(SerialPortInfo& port, const StableNames& names) {
  const auto identity = IdentityOf(port.path);
  if (!identity) return;
  if (const auto it = names.byId.find(*identity); it != names.byId.end()) port.byId = it->second;
  if (const auto it = names.byPath.find(*identity); it != names.byPath.end()) {
    port.byPath = it->second;
  }
}

// The sysfs walk: /sys/class/tty/<name> for each USB serial name whose device has a driver
// bound. The USB device is the nearest folder above the tty's device that has an idVendor.
std::vector<SerialPortInfo> WalkSysfs(const PortSources& sources) {
  std::vector<SerialPortInfo> adapters;
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(sources.sysfsRoot, ec);
  for (fs::directory_iterator it(sources.sysfsRoot / "class" / "tty", ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!IsUsbSerialName(name)) continue;
    std::error_code linkError;
    // The driver link leads to .../drivers/<driver name>.
    const fs::path device = it->path() / "device";
    const fs::path driver = fs::canonical(device / "driver", linkError);
    if (linkError) continue;
    SerialPortInfo port;
    port.path = (sources.devDir / name).string();
    port.driver = driver.filename().string();
    port.latencyTimerMs = ReadMilliseconds(device / "latency_timer");
    fs::path at = fs::canonical(device, linkError);
    while (!linkError && at.has_relative_path() && at != root) {
      if (fs::exists(at / "idVendor", linkError)) {
        const std::string vendor = ReadAttribute(at / "idVendor");
        const std::string product = ReadAttribute(at / "idProduct");
        if (!vendor.empty() && !product.empty()) port.vendorProduct = vendor + ":" + product;
        port.serialNumber = ReadAttribute(at / "serial");
        break;
      }
      at = at.parent_path();
    }
    adapters.push_back(std::move(port));
  }
  return adapters;
}

#ifdef KORVAN_HAVE_UDEV
std::string Text(const char* value) {
  return value ? value : "";
}

// udev's enumeration of the tty subsystem: the same details, with the stable names udev made.
std::vector<SerialPortInfo> EnumerateUdev(const PortSources& sources) {
  std::vector<SerialPortInfo> adapters;
  udev* context = udev_new();
  if (context == nullptr) return adapters;
  udev_enumerate* enumeration = udev_enumerate_new(context);
  if (enumeration != nullptr && udev_enumerate_add_match_subsystem(enumeration, "tty") >= 0 &&
      udev_enumerate_scan_devices(enumeration) >= 0) {
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
      udev_device* tty = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
      if (tty == nullptr) continue;
      const std::string name = Text(udev_device_get_sysname(tty));
      udev_device* parent = udev_device_get_parent(tty);
      if (IsUsbSerialName(name) && parent != nullptr && udev_device_get_driver(parent)) {
        SerialPortInfo port;
        const std::string node = Text(udev_device_get_devnode(tty));
        port.path = node.empty() ? (sources.devDir / name).string() : node;
        port.driver = Text(udev_device_get_driver(parent));
        const std::string latency = Text(udev_device_get_sysattr_value(parent, "latency_timer"));
        if (!latency.empty() && latency.size() <= 6 &&
            std::all_of(latency.begin(), latency.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
          port.latencyTimerMs = std::atoi(latency.c_str());
        }
        if (udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device")) {
          const std::string vendor = Text(udev_device_get_sysattr_value(usb, "idVendor"));
          const std::string product = Text(udev_device_get_sysattr_value(usb, "idProduct"));
          if (!vendor.empty() && !product.empty()) port.vendorProduct = vendor + ":" + product;
          port.serialNumber = Text(udev_device_get_sysattr_value(usb, "serial"));
        }
        const std::string byId = (sources.devDir / "serial" / "by-id").string() + "/";
        const std::string byPath = (sources.devDir / "serial" / "by-path").string() + "/";
        udev_list_entry* link;
        udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(tty)) {
          const std::string linkName = Text(udev_list_entry_get_name(link));
          if (port.byId.empty() && linkName.rfind(byId, 0) == 0) port.byId = linkName;
          if (port.byPath.empty() && linkName.rfind(byPath, 0) == 0) port.byPath = linkName;
        }
        adapters.push_back(std::move(port));
      }
      udev_device_unref(tty);  // the parents belong to it
    }
  }
  if (enumeration != nullptr) udev_enumerate_unref(enumeration);
  udev_unref(context);
  return adapters;
}
#endif

bool UsesUdev(const PortSources& sources) {
#ifdef KORVAN_HAVE_UDEV
  // Without a daemon udev has made no links and keeps no database: the walk reads the same.
  return sources.sysfsRoot == "/sys" && sources.devDir == "/dev" &&
         ::access("/run/udev/control", F_OK) == 0;
#else
  (void)sources;
  return false;
#endif
}

}  // namespace

PortSources SystemPortSources() {
  PortSources sources;
  if (const char* extra = std::getenv("KORVAN_PORTS")) sources.extraPorts = extra;
  return sources;
}

bool IsUsbSerialName(std::string_view ttyName) {
  for (std::string_view prefix : {"ttyUSB", "ttyACM"}) {
    if (ttyName.size() > prefix.size() && ttyName.substr(0, prefix.size()) == prefix &&
        std::all_of(ttyName.begin() + static_cast<std::ptrdiff_t>(prefix.size()), ttyName.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      return true;
    }
  }
  return false;
}

const char* DiscoveryMethod(const PortSources& sources) {
  return UsesUdev(sources) ? "udev" : "sysfs";
}

std::vector<SerialPortInfo> DiscoverAdapters(const PortSources& sources) {
  std::vector<SerialPortInfo> adapters;
#ifdef KORVAN_HAVE_UDEV
  if (UsesUdev(sources)) adapters = EnumerateUdev(sources);
#endif
  if (!UsesUdev(sources)) {
    adapters = WalkSysfs(sources);
    const StableNames names = ReadStableNames(sources.devDir);
    for (SerialPortInfo& port : adapters) AddStableNames(port, names);
  }
  std::sort(adapters.begin(), adapters.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
  return adapters;
}

std::vector<SerialPortInfo> CandidateAdapters(const PortSources& sources) {
  std::vector<SerialPortInfo> ports = DiscoverAdapters(sources);
  const std::size_t adapterCount = ports.size();
  std::string_view rest = sources.extraPorts;
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    if (entry.empty()) continue;
    SerialPortInfo port;
    port.path = std::string(entry);
    port.fromEnvironment = true;
    // A stable name (or any other name) of an adapter found: the adapter's details.
    if (const auto identity = IdentityOf(port.path)) {
      for (std::size_t i = 0; i < adapterCount; ++i) {
        if (IdentityOf(ports[i].path) != identity) continue;
        SerialPortInfo same = ports[i];
        same.path = port.path;
        same.fromEnvironment = true;
        port = std::move(same);
        break;
      }
    }
    ports.push_back(std::move(port));
  }
  return ports;
}

std::vector<std::string> CandidatePorts(const PortSources& sources) {
  std::vector<std::string> paths;
  for (SerialPortInfo& port : CandidateAdapters(sources)) paths.push_back(std::move(port.path));
  return paths;
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

std::vector<SerialPortInfo> ListPorts(const PortSources& sources) {
  std::vector<SerialPortInfo> ports = CandidateAdapters(sources);
  // Sorted as text; of one path named twice the adapter found comes first.
  std::stable_sort(
      ports.begin(), ports.end(),
      [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
  std::vector<SerialPortInfo> listed;
  std::set<DeviceIdentity> seen;
  std::string previous;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (i > 0 && ports[i].path == previous) continue;
    previous = ports[i].path;
    // One device under two names would be bound to two channels.
    const auto identity = IdentityOf(ports[i].path);
    if (!identity || seen.count(*identity) != 0) continue;
    if (!TrialOpenPort(ports[i].path)) continue;
    seen.insert(*identity);
    listed.push_back(std::move(ports[i]));
  }
  return listed;
}

std::vector<std::string> ListPortNames(const PortSources& sources) {
  std::vector<std::string> names;
  for (SerialPortInfo& port : ListPorts(sources)) names.push_back(std::move(port.path));
  return names;
}

}  // namespace korvan
