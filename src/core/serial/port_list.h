// The serial ports that may carry a programmer.
//
// Two sources: every USB serial adapter of the machine (the terminal devices ttyUSB* and
// ttyACM*, whatever their driver), found through udev where a udev daemon runs and by walking
// /sys/class/tty where none does, and every path listed in the environment variable
// KORVAN_PORTS (colon separated; this is how emulated programmers on pseudo-terminals are
// found). A port is listed only when it can be opened for exclusive use at that moment, so a
// port held by another program (or by a channel of this station) does not appear.
//
// Each adapter carries what tells it apart from the others whatever order the system found it
// in: driver, USB vendor:product, USB serial number and its stable names under
// /dev/serial/by-id and /dev/serial/by-path, plus the FTDI latency timer where it has one.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/serial/port.h"

namespace korvan {

// Where the port list looks. Tests point the roots at a fake tree.
struct PortSources {
  std::filesystem::path sysfsRoot = "/sys";
  std::filesystem::path devDir = "/dev";
  std::string extraPorts;  // colon-separated device paths
};

// /sys, /dev and the value of KORVAN_PORTS (empty when unset).
PortSources SystemPortSources();

// One port the station may search.
struct SerialPortInfo {
  // What the station opens and shows: /dev/ttyUSB0 for an adapter found, or the path as given
  // in KORVAN_PORTS (a /dev/serial/by-id/... name stays that name).
  std::string path;
  std::string driver;                 // ftdi_sio, cp210x, cdc_acm, ...; "" when not known
  std::string vendorProduct;          // USB idVendor:idProduct, e.g. "0403:6001"; "" when not known
  std::string serialNumber;           // USB serial number; "" when the adapter has none
  std::string byId;                   // /dev/serial/by-id/... leading to the device, "" when none
  std::string byPath;                 // /dev/serial/by-path/... leading to the device, "" when none
  std::optional<int> latencyTimerMs;  // the adapter's latency_timer (FTDI), when it has one
  bool fromEnvironment = false;       // a KORVAN_PORTS entry rather than an adapter found
};

// True for the names of USB serial terminals: ttyUSB<n> and ttyACM<n>.
bool IsUsbSerialName(std::string_view ttyName);

// The USB serial adapters present now, sorted by path, each with its details. Uses udev's
// enumeration when the station was built with libudev, a udev daemon runs and the roots are
// /sys and /dev; otherwise walks `sysfsRoot`/class/tty and reads the links under
// `devDir`/serial. Opens no port. A missing or unreadable tree gives no adapters.
std::vector<SerialPortInfo> DiscoverAdapters(const PortSources& sources);

// "udev" or "sysfs": how DiscoverAdapters finds adapters for these sources.
const char* DiscoveryMethod(const PortSources& sources);

// Every port named by the two sources, before any trial open: the adapters found, then the
// non-empty entries of extraPorts. An entry that leads to an adapter found carries that
// adapter's details under its own path.
std::vector<SerialPortInfo> CandidateAdapters(const PortSources& sources);
// The paths of CandidateAdapters, in the same order.
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
// sorted by path as text, each device once (two names of one device keep the first in text
// order). Blocks only for the opens. Any thread, though the station calls it on its own.
std::vector<SerialPortInfo> ListPorts(const PortSources& sources = SystemPortSources());
// The paths of ListPorts.
std::vector<std::string> ListPortNames(const PortSources& sources = SystemPortSources());

// Where a station's ports come from: how it makes each channel's port and how it lists the
// ports a device search may bind. The system's serial devices unless an emulator in the same
// process (or a test) gives its own.
struct PortProvider {
  PortFactory make;
  std::function<std::vector<std::string>(const PortSources& sources)> list;
  // Why a named port cannot be used (PortProblem for the system's); empty: every port named
  // can be tried.
  std::function<std::optional<std::string>(const std::string& path)> problem;
};

// TComm ports at the programmers' line settings, listed by ListPortNames.
PortProvider SystemPortProvider();

}  // namespace korvan
