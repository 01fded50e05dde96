// korvan-cli ports: the port list the window's "通讯配置" group shows, each port with the
// identity text of the programmer that answered on it, or "未找到设备!".
//   korvan-cli ports [--ports P1:P2:...]
// Only the first four ports of the sorted list become channels and are asked; later ones are
// listed as not searched. A port that cannot be used is named on stderr with the reason (it does
// not exist, is no serial device, is not permitted, or another process holds it). Exit status: 0
// when a programmer answered, 3 when none did.
// With --watch the command then stays and prints a line for every USB serial adapter (ftdi_sio,
// cp210x) that appears ("+ PATH") or disappears ("- PATH"), until interrupted or
// --watch-seconds pass; the exit status is then 0.
#include <signal.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/run_output.h"
#include "cli/station_session.h"
#include "core/app/event_loop.h"
#include "core/serial/hotplug.h"

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
                    "KORVAN_PORTS)");
    sub->add_flag("--watch", watch_,
                  "Then print each USB serial adapter that appears (+ PATH) or disappears "
                  "(- PATH) until interrupted");
    sub->add_option("--watch-seconds", watchSeconds_, "End the watch after this many seconds")
        ->check(CLI::PositiveNumber);
    sub->add_option("--sysfs", sysfsRoot_, "Where the watch finds sysfs (default /sys)");
    sub->footer(
        "Exit status: 0 a programmer answered (with --watch: the watch ended), 2 usage error, "
        "3 none answered.");
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
    session.Start(ports_);
    session.AwaitSearch();

    const Station& station = session.station();
    const auto& ports = station.window().ComboBoxCOMItems;
    if (ports.empty()) {
      std::cout << "无可用的串口\n";
      return kExitIo;
    }
    int found = 0;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      std::string what = "not searched (only the first four ports become channels)";
      for (const ChannelReport& ch : session.Channels()) {
        if (ch.port != ports[i]) continue;
        what = ch.connected ? ch.identity : "未找到设备!";
        found += ch.connected;
      }
      std::cout << ports[i] << '\t' << what << '\n';
    }
    return found > 0 ? kExitOk : kExitIo;
  }

  int Watch() {
    std::cout.flush();
    HotPlugOptions options;
    if (sysfsRoot_) options.sources.sysfsRoot = *sysfsRoot_;
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
  bool watch_ = false;
  std::optional<double> watchSeconds_;
  std::optional<std::string> sysfsRoot_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::PortsCommand;
KORVAN_REGISTER_COMMAND(PortsCommand)
