// The hot-plug monitor against a fake sysfs tree that gains and loses adapters.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "core/app/event_loop.h"
#include "core/serial/hotplug.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class HotPlugTest : public ::testing::Test {
 protected:
  fs::path root;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvan-hotplug-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    fs::create_directories(root / "sys/class/tty");
  }
  void TearDown() override { fs::remove_all(root); }

  HotPlugOptions Options() const {
    HotPlugOptions options;
    options.sources = {root / "sys", "/dev", "/dev/ttyS0:/dev/pts/9"};
    options.pollInterval = 10ms;
    return options;
  }

  // The kernel adds the tty first and binds its driver a moment later.
  void Plug(const std::string& name, const std::string& driver) {
    const fs::path tty = root / "sys/class/tty" / name;
    fs::create_directories(tty / "device");
    fs::create_directories(root / "sys/bus/usb-serial/drivers" / driver);
    fs::create_directory_symlink("../../../../bus/usb-serial/drivers/" + driver,
                                 tty / "device/driver");
  }
  void Unplug(const std::string& name) { fs::remove_all(root / "sys/class/tty" / name); }
};

TEST(HotPlug, ComparePortSetsListsTheGoneThenTheNew) {
  EXPECT_EQ(ComparePortSets({"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"/dev/ttyUSB1", "/dev/ttyUSB2"}),
            (std::vector<PortChange>{{PortChangeKind::Disappeared, "/dev/ttyUSB0"},
                                     {PortChangeKind::Appeared, "/dev/ttyUSB2"}}));
  EXPECT_TRUE(ComparePortSets({"/dev/ttyUSB0"}, {"/dev/ttyUSB0"}).empty());
}

TEST_F(HotPlugTest, ReportsUsbSerialAdaptersComingAndGoing) {
  Plug("ttyUSB0", "ftdi_sio");  // present from the start: no event
  EventQueue queue;
  std::vector<PortChange> seen;
  HotPlugMonitor monitor(
      queue, [&](const PortChange& c) { seen.push_back(c); }, Options());
  monitor.Start();
  EXPECT_STREQ(monitor.Method(), "sysfs polling");  // a fake tree is never watched by udev
  EXPECT_EQ(monitor.Ports(), std::vector<std::string>{"/dev/ttyUSB0"});

  EventLoop loop;
  loop.AddQueue(queue);
  auto waitFor = [&](std::size_t count) {
    return loop.RunFor(5s, [&] { return seen.size() >= count; });
  };

  Plug("ttyUSB1", "cp210x");
  ASSERT_TRUE(waitFor(1));
  EXPECT_EQ(seen.back(), (PortChange{PortChangeKind::Appeared, "/dev/ttyUSB1"}));
  EXPECT_EQ(monitor.Ports(), (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
  Plug("ttyS1", "serial8250");  // an on-board port: not a USB adapter, not reported
  Plug("ttyACM0", "cdc_acm");
  ASSERT_TRUE(waitFor(2));
  EXPECT_EQ(seen.back(), (PortChange{PortChangeKind::Appeared, "/dev/ttyACM0"}));
  Unplug("ttyACM0");
  ASSERT_TRUE(waitFor(3));

  Unplug("ttyUSB0");
  ASSERT_TRUE(waitFor(4));
  EXPECT_EQ(seen.back(), (PortChange{PortChangeKind::Disappeared, "/dev/ttyUSB0"}));

  // Unplugged and plugged again: gone, then back.
  Unplug("ttyUSB1");
  ASSERT_TRUE(waitFor(5));
  Plug("ttyUSB1", "ftdi_sio");
  ASSERT_TRUE(waitFor(6));
  EXPECT_EQ(seen[4], (PortChange{PortChangeKind::Disappeared, "/dev/ttyUSB1"}));
  EXPECT_EQ(seen[5], (PortChange{PortChangeKind::Appeared, "/dev/ttyUSB1"}));
  EXPECT_EQ(monitor.Ports(), std::vector<std::string>{"/dev/ttyUSB1"});

  // Nothing else happened, and nothing comes after Stop.
  loop.RunFor(50ms);
  EXPECT_EQ(seen.size(), 6u);
  monitor.Stop();
  Unplug("ttyUSB1");
  loop.RunFor(50ms);
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_EQ(queue.Size(), 0u);
}

}  // namespace
}  // namespace korvan
