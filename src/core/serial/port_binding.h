// Channels bound to adapters: a fixture position keeps its programmer whatever order the
// system finds the USB adapters in.
//
// A binding file holds one binding per line, "CHANNEL  ADAPTER", where ADAPTER is the adapter's
// USB serial number or its /dev/serial/by-path name (whole, or the link's own name); a device
// path as listed (a KORVAN_PORTS entry, /dev/ttyUSB0, a by-id name) also names a port. Blank
// lines are skipped and '#' starts a comment. For example:
//   # fixture of line 3
//   1  A10K3XYZ
//   2  pci-0000:00:14.0-usb-0:1.2:1.0-port0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/serial/port_list.h"

namespace korvan {

struct ChannelBinding {
  int channel = 0;      // 1..
  std::string adapter;  // as written in the file
  int line = 0;         // where it was written
};

// The bindings of `text`, or nothing with `*error` saying which line is wrong and why: a line
// without exactly two fields, a channel that is no number in 1..channelCount, a channel or an
// adapter bound twice.
std::optional<std::vector<ChannelBinding>> ParseBindings(std::string_view text, int channelCount,
                                                         std::string* error);

// True when `adapter` (as a binding names it) is this port.
bool BindingMatches(const SerialPortInfo& port, std::string_view adapter);

struct BoundPorts {
  // Entry i is the port of channel i + 1, "" for a channel left without a port; as long as the
  // highest channel bound.
  std::vector<std::string> ports;
  std::vector<ChannelBinding> missing;  // bindings no port found matches, by channel
  std::vector<SerialPortInfo> extra;    // ports found that no binding takes, in found order
};

// Binds the ports found (in their order) to the channels: each binding takes the first port
// it matches that no earlier binding took.
BoundPorts BindPorts(const std::vector<ChannelBinding>& bindings,
                     const std::vector<SerialPortInfo>& found);

// "A10K3XYZ (/dev/ttyUSB0)": how a report names a port found.
std::string DescribeAdapter(const SerialPortInfo& port);

}  // namespace korvan
