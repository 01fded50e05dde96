// The serial ports that may carry a programmer.
//
// Two sources: the terminal devices whose driver is one of the USB-serial adapters the
// programmers use (`/sys/class/tty/<name>/device/driver` is `ftdi_sio` or `cp210x`, device
// `/dev/<name>`), and every path listed in the environment variable KORVAN_PORTS (colon
// separated; this is how emulated programmers on pseudo-terminals are found). A port is listed
// only when it can be opened for exclusive use at that moment, so a port held by another
// program (or by a channel of this station) does not appear.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/serial/port.h"

namespace korvan {

// Adapter drivers whose ports are listed.
inline constexpr const char* kProgrammerPortDrivers[] = {"ftdi_sio", "cp210x"};

// Where the port list looks. Tests point the roots at a fake tree.
struct PortSources {
  std::filesystem::path sysfsRoot = "/sys";
  std::filesystem::path devDir = "/dev";
  std::string extraPorts;  // colon-separated device paths
};

// /sys, /dev and the value of KORVAN_PORTS (empty when unset).
PortSources SystemPortSources();

// The paths named by the two sources, before any trial open: devDir/<name> for each adapter
// port in sysfs, then the non-empty entries of extraPorts. A missing or unreadable sysfs tree
// gives no adapter ports.
std::vector<std::string> CandidatePorts(const PortSources& sources);

// Why `path` cannot carry a programmer now, as an operator can act on it: "does not exist",
// "not a serial device", "permission denied (...the group dialout...)", "in use by another
// process (pid N)" (the pid where the port's lock tells it), or the system's error text.
// nullopt when it is a terminal device that could be opened for reading and writing and locked
// for exclusive use; it is closed again at once. Never throws.
std::optional<std::string> PortProblem(const std::string& path);

// True when PortProblem finds none.
bool TrialOpenPort(const std::string& path);

// The ports a device search may bind to channels: the candidates that pass the trial open,
// sorted as text, each device once (two names of one device keep the first in text order).
// Blocks only for the opens. Any thread, though the station calls it on its own.
std::vector<std::string> ListPortNames(const PortSources& sources = SystemPortSources());

// Where a station's ports come from: how it makes each channel's port and how it lists the
// ports a device search may bind. The system's serial devices unless an emulator in the same
// process (or a test) gives its own.
struct PortProvider {
  PortFactory make;
  std::function<std::vector<std::string>(const PortSources& sources)> list;
};

// TComm ports at the programmers' line settings, listed by ListPortNames.
PortProvider SystemPortProvider();

}  // namespace korvan
