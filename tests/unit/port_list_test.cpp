#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/serial/port_list.h"
#include "core/serial/tcomm.h"
#include "support/pty_pair.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;
using testing::PtyPair;

// A fake /sys and /dev: each tty names its driver; its /dev node is a link to a pty slave.
class PortListTest : public ::testing::Test {
 protected:
  fs::path root;
  std::vector<std::unique_ptr<PtyPair>> ptys;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvan-ports-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    fs::create_directories(root / "sys/class/tty");
    fs::create_directories(root / "dev");
  }
  void TearDown() override { fs::remove_all(root); }

  PortSources Sources(const std::string& extra = "") const {
    return {root / "sys", root / "dev", extra};
  }

  // Adds sys/class/tty/<name> with the given driver ("" for none) and, unless `node` is false,
  // dev/<name> leading to a new pty. Returns the pty.
  PtyPair* AddTty(const std::string& name, const std::string& driver, bool node = true) {
    const fs::path tty = root / "sys/class/tty" / name;
    fs::create_directories(tty);
    if (!driver.empty()) {
      fs::create_directories(root / "sys/bus/usb-serial/drivers" / driver);
      fs::create_directories(tty / "device");
      fs::create_directory_symlink("../../../../bus/usb-serial/drivers/" + driver,
                                   tty / "device/driver");
    }
    ptys.push_back(std::make_unique<PtyPair>());
    if (node) fs::create_symlink(ptys.back()->SlavePath(), root / "dev" / name);
    return ptys.back().get();
  }

  std::string Dev(const std::string& name) const { return (root / "dev" / name).string(); }
};

TEST_F(PortListTest, ListsAdapterPortsAndExtraPathsThatOpenSortedOnce) {
  AddTty("ttyUSB1", "cp210x");
  PtyPair* usb0 = AddTty("ttyUSB0", "ftdi_sio");
  AddTty("ttyUSB2", "ftdi_sio", /*node=*/false);  // no device node: cannot be opened
  AddTty("ttyS0", "serial8250");                  // on-board port: other driver
  AddTty("ttyACM0", "cdc_acm");
  AddTty("tty0", "");  // virtual console: no device
  PtyPair emulated;

  const std::string extra =
      "::" + emulated.SlavePath() + ":/dev/null:" + Dev("ttyUSB1") + ":/dev/korvan-no-such-port:";
  const std::vector<std::string> candidates = CandidatePorts(Sources(extra));
  EXPECT_EQ(candidates.size(), 7u);  // three adapter ports, four extra entries

  std::vector<std::string> expected = {emulated.SlavePath(), Dev("ttyUSB0"), Dev("ttyUSB1")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListPortNames(Sources(extra)), expected);

  // The pty of ttyUSB0 under its own name as well: listed once, under the first name.
  const auto twice = ListPortNames(Sources(usb0->SlavePath()));
  ASSERT_EQ(twice.size(), 2u);
  EXPECT_EQ(twice[0], std::min(usb0->SlavePath(), Dev("ttyUSB0")));
}

TEST_F(PortListTest, APortInUseIsNotListed) {
  AddTty("ttyUSB0", "ftdi_sio");
  AddTty("ttyUSB1", "ftdi_sio");
  EventQueue queue;
  TComm channel(queue);
  channel.SetCommName(Dev("ttyUSB0"));
  channel.SetBaudRate(1000000);
  channel.SetStopBits(TStopBits::_2);
  channel.OpenPort();
  EXPECT_EQ(ListPortNames(Sources()), std::vector<std::string>{Dev("ttyUSB1")});
  channel.ClosePort();
  EXPECT_EQ(ListPortNames(Sources()).size(), 2u);
}

TEST_F(PortListTest, NoSysfsAndNoExtraPathsListNothing) {
  EXPECT_TRUE(ListPortNames({root / "nothing-here", root / "dev", ""}).empty());
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
