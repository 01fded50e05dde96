// korvan-cli ports on a fake sysfs and /dev tree: each adapter's details, as text and as JSON.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_serial_tree.h"

namespace korvan {
namespace {

using testing::FakeSerialTree;

struct Result {
  int status = -1;
  std::string out;
};

Result Ports(const FakeSerialTree& tree, const std::string& options) {
  const std::string command = "KORVAN_PORTS= " KORVAN_BINARY_DIR "/src/cli/korvan-cli ports " +
                              options + " --sysfs " + tree.sys().string() + " --dev " +
                              tree.dev().string() + " 2>/dev/null";
  Result r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(CliPorts, ShowsEachAdaptersDetailsAsTextAndJson) {
  FakeSerialTree tree;
  tree.Add({"ttyUSB0", "ftdi_sio", "0403:6001", "A10K3XYZ", 16,
            "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0", "pci-0000:00:14.0-usb-0:1:1.0-port0",
            true});
  tree.Add({"ttyACM0", "cdc_acm", "2e8a:000a", std::nullopt, std::nullopt, "", "", true});

  // No programmer answers on the fake adapters: listed with "未找到设备!", exit status 3. The
  // search opened the FTDI adapter and lowered its latency timer from 16 ms to 1 ms.
  const Result text = Ports(tree, "");
  EXPECT_EQ(text.status, 3);
  const std::string byId = (tree.dev() / "serial/by-id").string();
  const std::string byPath = (tree.dev() / "serial/by-path").string();
  EXPECT_EQ(text.out, tree.Dev("ttyACM0") + "\t未找到设备!\n" +
                          "  driver cdc_acm  usb 2e8a:000a  serial (none)\n" + tree.Dev("ttyUSB0") +
                          "\t未找到设备!\n" +
                          "  driver ftdi_sio  usb 0403:6001  serial A10K3XYZ  latency 1 ms\n" +
                          "  by-id   " + byId + "/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0\n" +
                          "  by-path " + byPath + "/pci-0000:00:14.0-usb-0:1:1.0-port0\n");

  const Result json = Ports(tree, "--json");
  EXPECT_EQ(json.status, 3);
  std::istringstream lines(json.out);
  std::vector<nlohmann::json> ports;
  for (std::string line; std::getline(lines, line);) ports.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(ports.size(), 2u) << json.out;
  EXPECT_EQ(ports[0]["port"], tree.Dev("ttyACM0"));
  EXPECT_EQ(ports[0]["channel"], 1);
  EXPECT_EQ(ports[0]["answered"], false);
  EXPECT_TRUE(ports[0]["serial_number"].is_null());
  EXPECT_TRUE(ports[0]["latency_timer_ms"].is_null());
  const nlohmann::json ftdi = {{"port", tree.Dev("ttyUSB0")},
                               {"channel", 2},
                               {"identity", nullptr},
                               {"answered", false},
                               {"source", "usb"},
                               {"driver", "ftdi_sio"},
                               {"vendor_product", "0403:6001"},
                               {"serial_number", "A10K3XYZ"},
                               {"by_id", byId + "/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"},
                               {"by_path", byPath + "/pci-0000:00:14.0-usb-0:1:1.0-port0"},
                               {"latency_timer_ms", 1}};
  EXPECT_EQ(ports[1], ftdi);
}

}  // namespace
}  // namespace korvan
