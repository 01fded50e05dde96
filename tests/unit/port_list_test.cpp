#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/serial/port_list.h"
#include "core/serial/tcomm.h"
#include "support/fake_serial_tree.h"
#include "support/pty_pair.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;
using testing::FakeAdapter;
using testing::FakeSerialTree;
using testing::PtyPair;

// The adapters of a small line: three driver families, one adapter without a serial number, an
// on-board port, a virtual console, a tty whose driver is not bound yet and a by-id link left
// behind by an adapter that is gone.
class PortListTest : public ::testing::Test {
 protected:
  FakeSerialTree tree;
  PtyPair* usb0 = nullptr;

  void SetUp() override {
    tree.Add({"ttyUSB1", "cp210x", "10c4:ea60", "0001", std::nullopt,
              "usb-Silicon_Labs_CP2102_0001-if00-port0", "pci-0000:00:14.0-usb-0:2:1.0-port0",
              true});
    usb0 = tree.Add({"ttyUSB0", "ftdi_sio", "0403:6001", "A10K3XYZ", 16,
                     "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0",
                     "pci-0000:00:14.0-usb-0:1:1.0-port0", true});
    tree.Add({"ttyUSB2", "ftdi_sio", "0403:6015", std::nullopt, 1, "",
              "pci-0000:00:14.0-usb-0:3:1.0-port0", true});
    tree.Add({"ttyACM0", "cdc_acm", "2e8a:000a", "E66038B7", std::nullopt,
              "usb-Korvan_Probe_E66038B7-if00", "", true});
    tree.Add({"ttyS0", "serial8250", "0000:0000", std::nullopt, std::nullopt, "", "", true});
    tree.Add({"tty0", "", "", std::nullopt, std::nullopt, "", "", true});
    tree.Add({"ttyUSB7", "", "0403:6001", "GONE", std::nullopt, "", "", false});
    fs::create_symlink("../../ttyUSB9", tree.dev() / "serial/by-id/usb-FTDI_gone-if00-port0");
  }
};

TEST_F(PortListTest, FindsEveryUsbSerialAdapterWithItsDetails) {
  struct Expected {
    std::string name, driver, vendorProduct, serial, byId, byPath;
    std::optional<int> latency;
  };
  const std::vector<Expected> expected = {
      {"ttyACM0", "cdc_acm", "2e8a:000a", "E66038B7", "usb-Korvan_Probe_E66038B7-if00", "", {}},
      {"ttyUSB0", "ftdi_sio", "0403:6001", "A10K3XYZ",
       "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0", "pci-0000:00:14.0-usb-0:1:1.0-port0", 16},
      {"ttyUSB1",
       "cp210x",
       "10c4:ea60",
       "0001",
       "usb-Silicon_Labs_CP2102_0001-if00-port0",
       "pci-0000:00:14.0-usb-0:2:1.0-port0",
       {}},
      {"ttyUSB2", "ftdi_sio", "0403:6015", "", "", "pci-0000:00:14.0-usb-0:3:1.0-port0", 1},
  };
  const std::vector<SerialPortInfo> found = DiscoverAdapters(tree.Sources());
  ASSERT_EQ(found.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& e = expected[i];
    const SerialPortInfo& f = found[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(f.path, tree.Dev(e.name));
    EXPECT_EQ(f.driver, e.driver);
    EXPECT_EQ(f.vendorProduct, e.vendorProduct);
    EXPECT_EQ(f.serialNumber, e.serial);
    EXPECT_EQ(f.byId, e.byId.empty() ? "" : (tree.dev() / "serial/by-id" / e.byId).string());
    EXPECT_EQ(f.byPath,
              e.byPath.empty() ? "" : (tree.dev() / "serial/by-path" / e.byPath).string());
    EXPECT_EQ(f.latencyTimerMs, e.latency);
    EXPECT_FALSE(f.fromEnvironment);
  }
  EXPECT_STREQ(DiscoveryMethod(tree.Sources()), "sysfs");
}

TEST_F(PortListTest, ListsAdaptersAndExtraPathsThatOpenSortedOnce) {
  PtyPair emulated;
  const std::string byId =
      (tree.dev() / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0").string();
  // Empty entries, a path that is no terminal, one that does not exist, an adapter named twice
  // and by its stable name.
  const std::string extra = "::" + emulated.SlavePath() + ":/dev/null:" + tree.Dev("ttyUSB1") +
                            ":/dev/korvan-no-such-port:" + byId + ":";
  EXPECT_EQ(CandidatePorts(tree.Sources(extra)).size(), 9u);  // four adapters, five entries

  const std::vector<SerialPortInfo> listed = ListPorts(tree.Sources(extra));
  std::vector<std::string> paths;
  for (const auto& port : listed) paths.push_back(port.path);
  // The stable name sorts before /dev/ttyUSB0 and stands for it; ttyUSB1 once.
  std::vector<std::string> expected = {emulated.SlavePath(), byId, tree.Dev("ttyACM0"),
                                       tree.Dev("ttyUSB1"), tree.Dev("ttyUSB2")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(ListPortNames(tree.Sources(extra)), expected);

  for (const auto& port : listed) {
    if (port.path == byId) {
      EXPECT_TRUE(port.fromEnvironment);
      EXPECT_EQ(port.serialNumber, "A10K3XYZ");  // the adapter's details under the name given
      EXPECT_EQ(port.byId, byId);
    }
    if (port.path == emulated.SlavePath()) {
      EXPECT_TRUE(port.fromEnvironment);
      EXPECT_EQ(port.driver, "");
    }
    if (port.path == tree.Dev("ttyUSB1")) {
      EXPECT_FALSE(port.fromEnvironment);
    }
  }

  // The pty of ttyUSB0 under its own name as well: listed once, under the first name.
  const auto twice = ListPortNames(tree.Sources(usb0->SlavePath()));
  ASSERT_EQ(twice.size(), 4u);
  EXPECT_NE(std::find(twice.begin(), twice.end(), std::min(usb0->SlavePath(), tree.Dev("ttyUSB0"))),
            twice.end());
  EXPECT_EQ(std::find(twice.begin(), twice.end(), std::max(usb0->SlavePath(), tree.Dev("ttyUSB0"))),
            twice.end());
}

TEST_F(PortListTest, APortInUseIsNotListed) {
  EventQueue queue;
  TComm channel(queue);
  channel.SetCommName(tree.Dev("ttyUSB0"));
  channel.SetBaudRate(1000000);
  channel.SetStopBits(TStopBits::_2);
  channel.OpenPort();
  const auto busy = ListPortNames(tree.Sources());
  EXPECT_EQ(std::find(busy.begin(), busy.end(), tree.Dev("ttyUSB0")), busy.end());
  EXPECT_EQ(busy.size(), 3u);
  channel.ClosePort();
  EXPECT_EQ(ListPortNames(tree.Sources()).size(), 4u);
}

TEST(PortList, NoSysfsAndNoExtraPathsListNothing) {
  EXPECT_TRUE(ListPortNames({"/nonexistent/korvan-sys", "/nonexistent/korvan-dev", ""}).empty());
}

TEST(PortList, UsbSerialNames) {
  for (const char* name : {"ttyUSB0", "ttyUSB12", "ttyACM3"}) EXPECT_TRUE(IsUsbSerialName(name));
  for (const char* name : {"ttyUSB", "ttyS0", "tty1", "ttyUSBx", "ttyAMA0", "ttyACM0a"}) {
    EXPECT_FALSE(IsUsbSerialName(name)) << name;
  }
}

TEST(PortSources, ExtraPathsComeFromTheEnvironment) {
  ::setenv("KORVAN_PORTS", "/dev/pts/7:/dev/pts/9", 1);
  EXPECT_EQ(SystemPortSources().extraPorts, "/dev/pts/7:/dev/pts/9");
  ::unsetenv("KORVAN_PORTS");
  EXPECT_EQ(SystemPortSources().extraPorts, "");
  EXPECT_EQ(SystemPortSources().sysfsRoot, "/sys");
}

}  // namespace
}  // namespace korvan
