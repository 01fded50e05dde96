// What the window does when a programmer adapter is plugged in or pulled out while it runs: a
// line in the information panel and, for a new adapter, the offer of a device search ("连接设备").
// The search rebinds every channel, so it is offered only while no channel is at work; a channel
// running on another port is never disturbed. A channel whose own adapter goes is handled by its
// port's hang-up (Station::RequestHangup), not here.
//
// Threading: the station's thread. The monitor's handler calls Handle there.
#pragma once

#include <string>

#include "core/job/frontend.h"
#include "core/app/station.h"
#include "core/serial/hotplug.h"

namespace korvan {

class PortWatch {
 public:
  // Posts the monitor's changes to `queue`, which the front end drains on the station's thread
  // (the station's own serialEvents() queue will do).
  PortWatch(Station& station, Frontend& frontend, EventQueue& queue,
            HotPlugOptions options = HotPlugOptions());

  // Starts watching; the panel says how. Throws std::system_error when the watch cannot start.
  void Start();
  void Stop() { monitor_.Stop(); }
  const HotPlugMonitor& monitor() const { return monitor_; }

  // An adapter came or went.
  void Handle(const PortChange& change);

 private:
  Station& station_;
  Frontend& frontend_;
  HotPlugMonitor monitor_;
};

// The per-channel text of a gauge's tooltip: "Channel 2: /dev/ttyUSB1, Korvan200NAT V2.9",
// "Channel 3: /dev/ttyUSB2, no programmer answered", "Channel 4: no port".
std::string ChannelTooltip(const Station& station, int channel);

}  // namespace korvan
