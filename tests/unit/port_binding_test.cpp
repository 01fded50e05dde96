// Channels bound to adapters by serial number or by-path name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/serial/port_binding.h"

namespace korvan {
namespace {

TEST(PortBinding, ParsesLinesCommentsAndBlanks) {
  std::string error;
  const auto bindings = ParseBindings(
      "# line 3 fixture\n\n1  A10K3XYZ\n2\tpci-0000:00:14.0-usb-0:2:1.0-port0  # left\r\n"
      "  4 /tmp/sim/ttyNAT01",
      4, &error);
  ASSERT_TRUE(bindings) << error;
  ASSERT_EQ(bindings->size(), 3u);
  EXPECT_EQ((*bindings)[0].channel, 1);
  EXPECT_EQ((*bindings)[0].adapter, "A10K3XYZ");
  EXPECT_EQ((*bindings)[0].line, 3);
  EXPECT_EQ((*bindings)[1].adapter, "pci-0000:00:14.0-usb-0:2:1.0-port0");
  EXPECT_EQ((*bindings)[2].channel, 4);
  EXPECT_EQ((*bindings)[2].line, 5);
  EXPECT_TRUE(ParseBindings("", 4, &error)->empty());
}

TEST(PortBinding, AMalformedLineIsNamed) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"1 A\n2\n", "line 2: expected CHANNEL ADAPTER"},
      {"1 A B\n", "line 1: expected CHANNEL ADAPTER"},
      {"0 A\n", "line 1: channel 0 is not a number from 1 to 4"},
      {"5 A\n", "line 1: channel 5 is not a number from 1 to 4"},
      {"x1 A\n", "line 1: channel x1 is not a number from 1 to 4"},
      {"-1 A\n", "line 1: channel -1 is not a number from 1 to 4"},
      {"1 A\n1 B\n", "line 2: channel 1 is bound twice"},
      {"1 A\n# two\n2 A\n", "line 3: adapter A is bound twice"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseBindings(c.text, 4, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

SerialPortInfo Port(const std::string& path, const std::string& serial, const std::string& byPath) {
  SerialPortInfo port;
  port.path = path;
  port.serialNumber = serial;
  port.byPath = byPath.empty() ? "" : "/dev/serial/by-path/" + byPath;
  return port;
}

TEST(PortBinding, ChannelsTakeTheirAdaptersWhateverTheOrderFound) {
  // Found in sorted order; the clone adapters share one serial number.
  const std::vector<SerialPortInfo> found = {
      Port("/dev/ttyUSB0", "FT2", "pci-usb-0:2:1.0-port0"),
      Port("/dev/ttyUSB1", "FT1", "pci-usb-0:1:1.0-port0"),
      Port("/dev/ttyUSB2", "", "pci-usb-0:3:1.0-port0"),
      Port("/dev/ttyUSB3", "CLONE", "pci-usb-0:4:1.0-port0"),
      Port("/dev/ttyUSB4", "CLONE", "pci-usb-0:5:1.0-port0"),
      Port("/tmp/sim/ttyNAT01", "", ""),
  };
  const struct {
    const char* what;
    std::vector<ChannelBinding> bindings;
    std::vector<std::string> ports;
    std::vector<int> missing;
    std::vector<std::string> extra;
  } cases[] = {
      {"by serial number and by-path name",
       {{1, "FT1", 1},
        {2, "FT2", 2},
        {3, "pci-usb-0:3:1.0-port0", 3},
        {4, "/dev/serial/by-path/pci-usb-0:5:1.0-port0", 4}},
       {"/dev/ttyUSB1", "/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB4"},
       {},
       {"/dev/ttyUSB3", "/tmp/sim/ttyNAT01"}},
      {"a missing adapter leaves its channel without a port",
       {{1, "FT1", 1}, {3, "GONE", 2}, {4, "/tmp/sim/ttyNAT01", 3}},
       {"/dev/ttyUSB1", "", "", "/tmp/sim/ttyNAT01"},
       {3},
       {"/dev/ttyUSB0", "/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyUSB4"}},
      {"one serial number on two adapters: the first found, the other left over",
       {{2, "CLONE", 1}},
       {"", "/dev/ttyUSB3"},
       {},
       {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB4", "/tmp/sim/ttyNAT01"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const BoundPorts bound = BindPorts(c.bindings, found);
    EXPECT_EQ(bound.ports, c.ports);
    std::vector<int> missing;
    for (const auto& m : bound.missing) missing.push_back(m.channel);
    EXPECT_EQ(missing, c.missing);
    std::vector<std::string> extra;
    for (const auto& e : bound.extra) extra.push_back(e.path);
    EXPECT_EQ(extra, c.extra);
  }
  // An adapter without a serial number is never taken by an empty name.
  EXPECT_FALSE(BindingMatches(found[2], ""));
  EXPECT_EQ(DescribeAdapter(found[0]), "FT2 (/dev/ttyUSB0)");
  EXPECT_EQ(DescribeAdapter(found[2]), "/dev/ttyUSB2");
}

}  // namespace
}  // namespace korvan
