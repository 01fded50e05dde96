// korvan-cli ports: the port list the window's "通讯配置" group shows, each port with the
// identity text of the programmer that answered on it, or "未找到设备!", and below a USB
// adapter what tells it apart: driver, vendor:product, serial number, latency timer and its
// /dev/serial/by-id and by-path names. --json prints one JSON object per port instead.
//   korvan-cli ports [--ports P1:P2:...] [--json] [--sysfs DIR] [--dev DIR]
// Every port of the sorted list becomes a channel and is asked, as korvan-cli run takes them
// (stations of four). A port that cannot be used is named on stderr with the reason (it does
// not exist, is no serial device, is not permitted, or another process holds it). Exit status: 0
// when a programmer answered, 3 when none did.
// With --watch the command then stays and prints a line for every USB serial adapter (ttyUSB*,
// ttyACM*) that appears ("+ PATH") or disappears ("- PATH"), until interrupted or
// --watch-seconds pass; the exit status is then 0.
#include <signal.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/run_output.h"
#include "cli/station_session.h"
#include "core/app/event_loop.h"
#include "core/serial/hotplug.h"
#include "core/serial/port_list.h"

namespace korvan::cli {

namespace {

// The search's own panel lines are not wanted here: only the list.
class QuietOutput : public RunOutput {
 public:
  void InfoLine(const std::string&) override {}
  void SearchEnded(const std::vector<ChannelReport>&) override {}
  void StepEnded(const StepReport&) override {}
  void StandAloneResult(int, std::uint8_t) override {}
  void Problem(const std::string& text) override { std::cerr << "korvan-cli: " << text << '\n'; }
  void Finished(int) override {}
};

class PortsCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "ports", "List the serial ports that may carry a programmer and what answered on each.");
    sub->add_option("--ports", ports_,
                    "Ports to search besides the USB adapters, colon separated (replaces "
                    "KORVAN_PORTS); /dev/serial/by-id/... and by-path/... names are shown as "
                    "given");
    sub->add_flag("--json", json_,
                  "One JSON object per port: port, channel, identity, answered, source, driver, "
                  "vendor_product, serial_number, by_id, by_path, latency_timer_ms");
    sub->add_flag("--watch", watch_,
                  "Then print each USB serial adapter that appears (+ PATH) or disappears "
                  "(- PATH) until interrupted");
    sub->add_option("--watch-seconds", watchSeconds_, "End the watch after this many seconds")
        ->check(CLI::PositiveNumber);
    sub->add_option("--sysfs", sysfsRoot_, "Where the adapters are found in sysfs (default /sys)");
    sub->add_option("--dev", devDir_,
                    "Where the device nodes and the serial/by-id and by-path links are "
                    "(default /dev)");
    sub->footer(
        "Exit status: 0 a programmer answered (with --watch: the watch ended), 2 usage error, "
        "3 none answered (with no port at all: \"无可用的串口\" on stderr).");
    return sub;
  }

  int Run() override {
    const int status = List();
    // The search's ports are closed again before the watch: watching opens none.
    return watch_ && status != kExitUsage ? Watch() : status;
  }

 private:
  int List() {
    std::ostringstream boxes;  // the firmware-image notice is of no interest here
    CliFrontend frontend(boxes, std::cerr);
    QuietOutput output;
    StationSession session(frontend, output);
    session.portSources = Sources();
    session.Start(ports_);
    session.AwaitSearch();

    const std::vector<std::string> ports = session.ListedPorts();
    if (ports.empty()) {
      // A failure: stdout stays empty, so a script reading the list finds no port in it.
      std::cerr << "无可用的串口\n";
      return kExitIo;
    }
    // The details of each port, read again now that the search has its ports open.
    std::map<std::string, SerialPortInfo> details;
    for (SerialPortInfo& port : CandidateAdapters(session.portSources)) {
      details.emplace(port.path, std::move(port));
    }
    const std::vector<ChannelReport> channels = session.Channels();
    int found = 0;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      const ChannelReport* channel = nullptr;
      for (const ChannelReport& ch : channels) {
        if (ch.port == ports[i]) channel = &ch;
      }
      found += channel && channel->connected;
      SerialPortInfo info;
      info.path = ports[i];
      if (const auto it = details.find(ports[i]); it != details.end()) info = it->second;
      if (json_) {
        PrintJson(info, channel);
      } else {
        PrintText(info, channel);
      }
    }
    return found > 0 ? kExitOk : kExitIo;
  }

  PortSources Sources() const {
    PortSources sources = SystemPortSources();
    if (sysfsRoot_) sources.sysfsRoot = *sysfsRoot_;
    if (devDir_) sources.devDir = *devDir_;
    return sources;
  }

  static void PrintText(const SerialPortInfo& port, const ChannelReport* channel) {
    std::cout << port.path << '\t'
              << (!channel ? "not searched (the search stopped at a port that did not open)"
                  : channel->connected ? channel->identity
                                       : "未找到设备!")
              << '\n';
    std::string line;
    auto add = [&line](const char* label, const std::string& value) {
      if (!value.empty()) line += std::string("  ") + label + " " + value;
    };
    add("driver", port.driver);
    add("usb", port.vendorProduct);
    if (!port.driver.empty()) {
      add("serial", port.serialNumber.empty() ? "(none)" : port.serialNumber);
    }
    if (port.latencyTimerMs) add("latency", std::to_string(*port.latencyTimerMs) + " ms");
    if (!line.empty()) std::cout << line << '\n';
    if (!port.byId.empty()) std::cout << "  by-id   " << port.byId << '\n';
    if (!port.byPath.empty()) std::cout << "  by-path " << port.byPath << '\n';
  }

  static void PrintJson(const SerialPortInfo& port, const ChannelReport* channel) {
    using Json = nlohmann::ordered_json;
    auto text = [](const std::string& value) {
      return value.empty() ? Json(nullptr) : Json(value);
    };
    const Json line = {
        {"port", port.path},
        {"channel", channel ? Json(channel->channel) : Json(nullptr)},
        {"identity", channel && channel->connected ? Json(channel->identity) : Json(nullptr)},
        {"answered", channel && channel->connected},
        {"source", port.fromEnvironment ? "KORVAN_PORTS" : "usb"},
        {"driver", text(port.driver)},
        {"vendor_product", text(port.vendorProduct)},
        {"serial_number", text(port.serialNumber)},
        {"by_id", text(port.byId)},
        {"by_path", text(port.byPath)},
        {"latency_timer_ms", port.latencyTimerMs ? Json(*port.latencyTimerMs) : Json(nullptr)}};
    std::cout << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
  }

  int Watch() {
    std::cout.flush();
    HotPlugOptions options;
    options.sources = Sources();
    EventQueue queue;
    HotPlugMonitor monitor(
        queue,
        [](const PortChange& change) {
          std::cout << (change.kind == PortChangeKind::Appeared ? "+ " : "- ") << change.port
                    << '\n'
                    << std::flush;
        },
        options);
    monitor.Start();
    std::cerr << "watching USB serial adapters (" << monitor.Method() << "); Ctrl-C ends\n"
              << std::flush;

    stopRequested = 0;
    struct sigaction action {};
    action.sa_handler = [](int) { stopRequested = 1; };
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    EventLoop loop;
    loop.AddQueue(queue);
    loop.SetTick([] {});  // wakes the loop to notice a signal
    const auto limit =
        watchSeconds_ ? std::chrono::milliseconds(static_cast<long long>(*watchSeconds_ * 1000))
                      : std::chrono::milliseconds(std::chrono::hours(24 * 365));
    loop.RunFor(limit, [] { return stopRequested != 0; });
    monitor.Stop();
    return std::cout ? kExitOk : kExitIo;
  }

  static inline volatile std::sig_atomic_t stopRequested = 0;

  std::optional<std::string> ports_;
  bool json_ = false;
  bool watch_ = false;
  std::optional<double> watchSeconds_;
  std::optional<std::string> sysfsRoot_;
  std::optional<std::string> devDir_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::PortsCommand;
KORVAN_REGISTER_COMMAND(PortsCommand, "ports")
