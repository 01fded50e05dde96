// The window's answer to adapters plugged in and pulled out.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "core/app/event_loop.h"
#include "core/app/port_watch.h"
#include "support/fake_frontend.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using namespace std::chrono_literals;

struct SearchCounter : StationListener {
  int channelsChanged = 0;
  void ChannelsChanged() override { ++channelsChanged; }
};

class PortWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station.SetPortSources(testing::NoPorts(dir.path()));
    station.FormShow({dir.path(), "", ""});
    station.SetListener(&counter);
    fe.questions.clear();  // the missing firmware image
  }
  std::string LastLine() const {
    const auto& lines = station.info().Lines();
    return lines.empty() ? "" : lines.back().substr(lines.back().find(' ', 2) + 1);
  }
  HotPlugOptions Options() const {
    HotPlugOptions options;
    options.sources = testing::NoPorts(dir.path());
    options.sources.sysfsRoot = dir.path() / "sys";
    options.sources.devDir = "/dev";
    options.pollInterval = 10ms;
    return options;
  }

  testing::TempDir dir;
  testing::FakeFrontend fe;
  Station station{fe, [] { return LocalTime{2024, 1, 5, 14, 3, 22}; }};
  SearchCounter counter;
};

TEST_F(PortWatchTest, OffersTheDeviceSearchOnlyWhileNoChannelIsAtWork) {
  const struct {
    const char* name;
    int busyChannel;  // 0: all idle
    Answer answer;
    bool asked;
    bool searched;
    const char* lastLine;
  } cases[] = {
      {"idle, accepted", 0, Answer::Ok, true, true, "查找设备"},
      {"idle, declined", 0, Answer::Cancel, true, false,
       "USB serial adapter /dev/ttyUSB0 plugged in."},
      {"a channel at work", 2, Answer::Ok, false, false,
       "Search for programmers (连接设备) once every channel is idle."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EventQueue queue;
    PortWatch watch(station, fe, queue, Options());
    for (int n = 1; n <= kChannelCount; ++n)
      station.ChannelStateForTest(n).busy = n == c.busyChannel;
    fe.questions.clear();
    fe.answers = {c.answer};
    counter.channelsChanged = 0;

    watch.Handle({PortChangeKind::Appeared, "/dev/ttyUSB0"});
    ASSERT_EQ(fe.questions.size(), c.asked ? 1u : 0u);
    if (c.asked) {
      EXPECT_EQ(fe.questions[0].text,
                "USB serial adapter /dev/ttyUSB0 plugged in.\nSearch for programmers now?");
      EXPECT_EQ(fe.questions[0].buttons, Buttons::OkCancel);
    }
    EXPECT_EQ(counter.channelsChanged > 0, c.searched);
    if (!c.searched) {
      EXPECT_EQ(LastLine(), c.lastLine);
    }
  }
}

TEST_F(PortWatchTest, SaysWhichChannelLostItsAdapterWithoutAsking) {
  EventQueue queue;
  PortWatch watch(station, fe, queue, Options());
  station.ChannelStateForTest(2).portName = "/dev/ttyUSB1";
  watch.Handle({PortChangeKind::Disappeared, "/dev/ttyUSB1"});
  EXPECT_EQ(LastLine(), "USB serial adapter /dev/ttyUSB1 of channel 2 removed.");
  watch.Handle({PortChangeKind::Disappeared, "/dev/ttyUSB7"});
  EXPECT_EQ(LastLine(), "USB serial adapter /dev/ttyUSB7 removed.");
  EXPECT_TRUE(fe.questions.empty());
  EXPECT_EQ(counter.channelsChanged, 0);
}

TEST_F(PortWatchTest, AnAdapterInTheTreeReachesThePanelThroughTheStationsQueue) {
  std::filesystem::create_directories(dir.path() / "sys/class/tty");
  PortWatch watch(station, fe, station.serialEvents(), Options());
  watch.Start();
  EXPECT_EQ(LastLine(), "Watching USB serial adapters (sysfs polling).");
  const auto tty = dir.path() / "sys/class/tty/ttyUSB4";
  std::filesystem::create_directories(tty / "device");
  std::filesystem::create_directories(dir.path() / "sys/bus/usb-serial/drivers/ftdi_sio");
  std::filesystem::create_directory_symlink("../../../../bus/usb-serial/drivers/ftdi_sio",
                                            tty / "device/driver");
  fe.answers = {Answer::Cancel};
  EventLoop loop;
  loop.AddQueue(station.serialEvents());
  EXPECT_TRUE(loop.RunFor(5s, [&] { return !fe.questions.empty(); }));
  EXPECT_EQ(LastLine(), "USB serial adapter /dev/ttyUSB4 plugged in.");
}

TEST_F(PortWatchTest, GaugeTooltipsNameThePortAndTheProgrammer) {
  station.ChannelStateForTest(1).portName = "/dev/ttyUSB0";
  station.ChannelStateForTest(1).connected = 1;
  station.ChannelStateForTest(1).identity = "Korvan200NAT V2.9";
  station.ChannelStateForTest(2).portName = "/dev/ttyUSB1";
  EXPECT_EQ(ChannelTooltip(station, 1), "Channel 1: /dev/ttyUSB0, Korvan200NAT V2.9");
  EXPECT_EQ(ChannelTooltip(station, 2), "Channel 2: /dev/ttyUSB1, no programmer answered");
  EXPECT_EQ(ChannelTooltip(station, 4), "Channel 4: no port");
}

}  // namespace
}  // namespace korvan
