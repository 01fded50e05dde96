// korvan-cli ports: the port list the window's "通讯配置" group shows, each port with the
// identity text of the programmer that answered on it, or "未找到设备!".
//   korvan-cli ports [--ports P1:P2:...]
// Only the first four ports of the sorted list become channels and are asked; later ones are
// listed as not searched. Exit status: 0 when a programmer answered, 3 when none did.
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/run_output.h"
#include "cli/station_session.h"

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
    sub->footer("Exit status: 0 a programmer answered, 3 none did.");
    return sub;
  }

  int Run() override {
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

 private:
  std::optional<std::string> ports_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::PortsCommand;
KORVAN_REGISTER_COMMAND(PortsCommand)
