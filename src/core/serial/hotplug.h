// Hot-plug of programmer adapters: notices a USB serial adapter (ttyUSB*, ttyACM*) appearing or
// disappearing while the station runs.
//
// A worker thread watches the kernel's device events through the udev monitor when the station
// was built with libudev and a udev daemon runs; otherwise (containers, minimal systems, tests
// with a fake tree) it looks at /sys/class/tty every poll interval. Either way the adapter
// ports are read from sysfs exactly as the port list reads them, and the differences from the
// last look are posted to the owner's EventQueue; the owner's handler runs on the owner's
// thread when it drains the queue. Watching opens no port, so a channel at work on another port
// is never disturbed.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/serial/port_list.h"
#include "core/util/event_queue.h"

namespace korvan {

enum class PortChangeKind { Appeared, Disappeared };

struct PortChange {
  PortChangeKind kind = PortChangeKind::Appeared;
  std::string port;  // device path, e.g. /dev/ttyUSB0
  bool operator==(const PortChange&) const = default;
};

// The paths of the USB serial adapters present (DiscoverAdapters), sorted;
// `sources.extraPorts` plays no part. Opens nothing.
std::vector<std::string> AdapterPorts(const PortSources& sources);

// What changed from `before` to `after` (both sorted): the ports gone, then the ports new, each
// in text order.
std::vector<PortChange> ComparePortSets(const std::vector<std::string>& before,
                                        const std::vector<std::string>& after);

struct HotPlugOptions {
  PortSources sources = SystemPortSources();
  // How often sysfs is looked at when there is no udev monitor.
  std::chrono::milliseconds pollInterval{500};
  // Use the udev monitor when it is available; it is never used for a sysfs root other than
  // /sys.
  bool allowUdev = true;
};

class HotPlugMonitor : public EventReceiver {
 public:
  using Handler = std::function<void(const PortChange&)>;

  // `queue` must outlive the monitor; `handler` runs on the thread that drains it.
  HotPlugMonitor(EventQueue& queue, Handler handler, HotPlugOptions options = HotPlugOptions());
  ~HotPlugMonitor();
  HotPlugMonitor(const HotPlugMonitor&) = delete;
  HotPlugMonitor& operator=(const HotPlugMonitor&) = delete;

  // Takes the adapter ports present now as the starting point (no events for them) and starts
  // the worker. Owner's thread. Throws std::system_error when the worker cannot be started.
  // Does nothing when already started.
  void Start();
  // Stops and joins the worker; changes not yet handled are dropped. Owner's thread.
  void Stop();

  bool Running() const { return worker_.joinable(); }
  // "udev" or "sysfs polling": how the running worker learns of changes.
  const char* Method() const { return usesUdev_ ? "udev" : "sysfs polling"; }
  // The adapter ports as of the last change handled on the owner's thread.
  const std::vector<std::string>& Ports() const { return ports_; }

  void HandleEvent(Event& event) override;

 private:
  void Watch(std::vector<std::string> known, void* udevMonitor);
  void Post(const PortChange& change);

  EventQueue& queue_;
  Handler handler_;
  HotPlugOptions options_;
  std::vector<std::string> ports_;
  std::thread worker_;
  int stopFd_ = -1;
  bool usesUdev_ = false;
};

}  // namespace korvan
