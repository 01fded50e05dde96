#include "core/serial/hotplug.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <new>
#include <system_error>

#ifdef KORVAN_HAVE_UDEV
#include <libudev.h>
#endif

namespace korvan {

std::vector<std::string> AdapterPorts(const PortSources& sources) {
  std::vector<std::string> ports;
  for (SerialPortInfo& adapter : DiscoverAdapters(sources))
    ports.push_back(std::move(adapter.path));
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  return ports;
}

std::vector<PortChange> ComparePortSets(const std::vector<std::string>& before,
                                        const std::vector<std::string>& after) {
  std::vector<std::string> gone, added;
  std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                      std::back_inserter(gone));
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  std::vector<PortChange> changes;
  for (std::string& port : gone) changes.push_back({PortChangeKind::Disappeared, std::move(port)});
  for (std::string& port : added) changes.push_back({PortChangeKind::Appeared, std::move(port)});
  return changes;
}

namespace {

#ifdef KORVAN_HAVE_UDEV
// The udev monitor of tty devices, or nullptr when udev cannot be used here: a udev daemon
// answers on /run/udev/control; without one the kernel's events never reach udev's listeners.
udev_monitor* OpenUdevMonitor() {
  if (::access("/run/udev/control", F_OK) != 0) return nullptr;
  udev* context = udev_new();
  if (context == nullptr) return nullptr;
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  udev_unref(context);  // the monitor keeps its own reference
  if (monitor == nullptr) return nullptr;
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    udev_monitor_unref(monitor);
    return nullptr;
  }
  return monitor;
}
#endif

// With udev, sysfs is still looked at now and then, in case an event was lost (a full socket
// buffer).
constexpr int kUdevRescanMs = 10000;

}  // namespace

HotPlugMonitor::HotPlugMonitor(EventQueue& queue, Handler handler, HotPlugOptions options)
    : queue_(queue),
      handler_(std::move(handler)),
      options_(std::move(options)),
      stopFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (stopFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

HotPlugMonitor::~HotPlugMonitor() {
  Stop();
  ::close(stopFd_);
}

void HotPlugMonitor::Start() {
  if (Running()) return;
  void* udevMonitor = nullptr;
#ifdef KORVAN_HAVE_UDEV
  if (options_.allowUdev && options_.sources.sysfsRoot == "/sys") udevMonitor = OpenUdevMonitor();
#endif
  usesUdev_ = udevMonitor != nullptr;
  ports_ = AdapterPorts(options_.sources);
  try {
    worker_ = std::thread(&HotPlugMonitor::Watch, this, ports_, udevMonitor);
  } catch (...) {
#ifdef KORVAN_HAVE_UDEV
    if (udevMonitor) udev_monitor_unref(static_cast<udev_monitor*>(udevMonitor));
#endif
    throw;
  }
}

void HotPlugMonitor::Stop() {
  if (!Running()) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
  worker_.join();
  std::uint64_t value;
  n = ::read(stopFd_, &value, sizeof value);
  queue_.Discard(this);
}

void HotPlugMonitor::Post(const PortChange& change) {
  Event event;
  event.receiver = this;
  // The monitor is the only receiver of its events: a block of data, the device path, with the
  // kind of change in `value`.
  event.kind = EventKind::DataReceived;
  event.value = static_cast<std::uint32_t>(change.kind);
  event.length = static_cast<std::uint32_t>(change.port.size());
  try {
    event.block = std::make_unique<std::uint8_t[]>(change.port.size() + 1);
    std::memcpy(event.block.get(), change.port.data(), change.port.size());
    queue_.Post(std::move(event));
  } catch (const std::bad_alloc&) {
    // Out of memory: this change is not reported; the next look at sysfs carries on from it.
  }
}

void HotPlugMonitor::Watch(std::vector<std::string> known, void* udevMonitor) {
#ifdef KORVAN_HAVE_UDEV
  auto* monitor = static_cast<udev_monitor*>(udevMonitor);
  const int udevFd = monitor ? udev_monitor_get_fd(monitor) : -1;
#else
  (void)udevMonitor;
  const int udevFd = -1;
#endif
  const int timeoutMs =
      udevFd >= 0 ? kUdevRescanMs : static_cast<int>(options_.pollInterval.count());
  for (;;) {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {udevFd, POLLIN, 0}};
    const int ready = ::poll(fds, udevFd >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (fds[0].revents & POLLIN)) break;
    bool rescan = ready == 0;
#ifdef KORVAN_HAVE_UDEV
    if (monitor && (fds[1].revents & POLLIN)) {
      while (udev_device* device = udev_monitor_receive_device(monitor)) {
        const char* action = udev_device_get_action(device);
        const char* name = udev_device_get_sysname(device);
        if (action && name && std::strcmp(action, "remove") == 0) {
          // The sysfs entry may still be there while udev reports the removal, so a removal
          // is taken from the event itself.
          const std::string port = (options_.sources.devDir / name).string();
          const auto it = std::lower_bound(known.begin(), known.end(), port);
          if (it != known.end() && *it == port) {
            known.erase(it);
            Post({PortChangeKind::Disappeared, port});
          }
        } else {
          rescan = true;
        }
        udev_device_unref(device);
      }
    }
#endif
    if (!rescan) continue;
    std::vector<std::string> now = AdapterPorts(options_.sources);
    for (const PortChange& change : ComparePortSets(known, now)) Post(change);
    known = std::move(now);
  }
#ifdef KORVAN_HAVE_UDEV
  if (monitor) udev_monitor_unref(monitor);
#endif
}

void HotPlugMonitor::HandleEvent(Event& event) {
  if (event.kind != EventKind::DataReceived || !event.block) return;
  PortChange change;
  change.kind = static_cast<PortChangeKind>(event.value);
  change.port.assign(reinterpret_cast<const char*>(event.block.get()), event.length);
  const auto it = std::lower_bound(ports_.begin(), ports_.end(), change.port);
  const bool listed = it != ports_.end() && *it == change.port;
  if (change.kind == PortChangeKind::Appeared && !listed) ports_.insert(it, change.port);
  if (change.kind == PortChangeKind::Disappeared && listed) ports_.erase(it);
  if (handler_) handler_(change);
}

}  // namespace korvan
