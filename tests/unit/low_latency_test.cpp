// Low latency on opening a port: the driver's flag through an injected ioctl, the latency timer
// on a fake sysfs tree, and what the port and the station make of the result.
#include <gtest/gtest.h>
#include <linux/serial.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/app/station.h"
#include "core/serial/low_latency.h"
#include "core/serial/tcomm.h"
#include "core/trace/tracing_port.h"
#include "core/trace/wire_trace.h"
#include "support/fake_frontend.h"
#include "support/fake_serial_tree.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::FakeAdapter;
using testing::FakeSerialTree;

// A driver as the ioctls see it.
struct FakeDriver {
  bool serialIoctls = true;  // false: TIOCGSERIAL/TIOCSSERIAL answer ENOTTY
  bool keepsFlag = true;     // false: TIOCSSERIAL succeeds but the flag does not stick
  int flags = 0;
  int sets = 0;
};

LowLatencyAccess Access(FakeDriver& driver, const FakeSerialTree& tree, bool timerWritable) {
  LowLatencyAccess access = SystemLowLatencyAccess();
  access.sysfsRoot = tree.sys();
  access.getSerial = [&driver](int, serial_struct& s) {
    if (!driver.serialIoctls) return errno = ENOTTY, -1;
    s = serial_struct{};
    s.flags = driver.flags;
    return 0;
  };
  access.setSerial = [&driver](int, const serial_struct& s) {
    if (!driver.serialIoctls) return errno = ENOTTY, -1;
    ++driver.sets;
    if (driver.keepsFlag) driver.flags = s.flags;
    return 0;
  };
  if (!timerWritable) {
    access.writeAttribute = [](const std::filesystem::path&, const std::string&) { return EACCES; };
  }
  return access;
}

std::string ReadTimer(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  in >> text;
  return text;
}

TEST(LowLatency, DriverFlagThenLatencyTimerThenKept) {
  struct Case {
    const char* what;
    const char* driver;        // of the adapter
    std::optional<int> timer;  // its latency_timer
    FakeDriver ioctls;
    bool timerWritable;
    LatencyWay way;
    std::optional<int> latencyAfter;  // as the result reports it
    std::string timerAfter;           // the file afterwards ("" none)
  };
  const Case cases[] = {
      {"driver takes the flag", "ftdi_sio", 16, {}, true, LatencyWay::DriverFlag, {}, "16"},
      {"flag already set",
       "ftdi_sio",
       16,
       {true, true, ASYNC_LOW_LATENCY},
       false,
       LatencyWay::DriverFlag,
       {},
       "16"},
      {"flag dropped, timer lowered",
       "ftdi_sio",
       16,
       {true, false},
       true,
       LatencyWay::TimerLow,
       1,
       "1"},
      {"no ioctls, timer lowered", "ftdi_sio", 16, {false}, true, LatencyWay::TimerLow, 1, "1"},
      {"timer already low", "ftdi_sio", 1, {false}, false, LatencyWay::TimerLow, 1, "1"},
      {"timer not writable", "ftdi_sio", 16, {false}, false, LatencyWay::Kept, 16, "16"},
      {"no timer", "cp210x", std::nullopt, {false}, true, LatencyWay::NoTimer, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSerialTree tree;
    testing::PtyPair* pty =
        tree.Add({"ttyUSB0", c.driver, "0403:6001", "A1", c.timer, "", "", true});
    FakeDriver driver = c.ioctls;
    const LatencyResult result =
        RequestLowLatency(pty->Slave(), Access(driver, tree, c.timerWritable));
    EXPECT_EQ(result.way, c.way);
    EXPECT_EQ(result.latencyMs, c.latencyAfter);
    if (c.timer) {
      EXPECT_EQ(ReadTimer(tree.LatencyTimer("ttyUSB0")), c.timerAfter);
    }
    const std::string note = KeptLatencyNote("/dev/ttyUSB0", result);
    if (c.way == LatencyWay::Kept) {
      EXPECT_NE(note.find("/dev/ttyUSB0 keeps a latency of 16 ms"), std::string::npos) << note;
      EXPECT_NE(note.find("60-korvan200nat.rules"), std::string::npos) << note;
    } else {
      EXPECT_EQ(note, "");
    }
  }
}

TEST(LowLatency, APseudoTerminalIsLeftAlone) {
  // The real ioctls (a pty refuses them) and a sysfs that shows no device behind the pty.
  FakeSerialTree tree;
  testing::PtyPair pty;
  LowLatencyAccess access = SystemLowLatencyAccess();
  access.sysfsRoot = tree.sys();
  EXPECT_EQ(RequestLowLatency(pty.Slave(), access).way, LatencyWay::NotAnAdapter);
}

TEST(LowLatency, APortOpensWhateverItsLatency) {
  FakeSerialTree tree;
  tree.Add({"ttyUSB0", "ftdi_sio", "0403:6001", "A1", 16, "", "", true});
  EventQueue queue;
  TComm port(queue);
  port.SetCommName(tree.Dev("ttyUSB0"));
  port.SetBaudRate(1000000);
  port.SetStopBits(TStopBits::_2);
  FakeDriver driver{false};
  port.SetLowLatencyAccess(Access(driver, tree, false));
  port.OpenPort();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Latency().way, LatencyWay::Kept);
  port.ClosePort();

  FakeDriver flag;
  port.SetLowLatencyAccess(Access(flag, tree, false));
  port.OpenPort();
  EXPECT_EQ(port.Latency().way, LatencyWay::DriverFlag);
  EXPECT_EQ(flag.flags & ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY);
}

// Plain, and with every port wrapped by the wire trace (the note must not get lost in the
// wrapper).
class StationLatency : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(LowLatency, StationLatency, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Traced" : "Plain"; });

TEST_P(StationLatency, TheStationSaysOncePerPortWhichLatencyItKeeps) {
  FakeSerialTree tree;
  tree.Add({"ttyUSB0", "ftdi_sio", "0403:6001", "A1", 16, "", "", true});
  tree.Add({"ttyUSB1", "ftdi_sio", "0403:6001", "A2", 1, "", "", true});
  testing::FakeFrontend fe;
  testing::TempDir dir;
  PortProvider ports = SystemPortProvider();
  if (GetParam()) {
    ports =
        trace::TracingPortProvider(std::move(ports),
                                   std::make_shared<trace::WireTrace>(
                                       (dir.path() / "wire.trace").string(), trace::TraceOptions{}),
                                   1);
  }
  Station station(fe, SystemLocalTime, std::move(ports));
  station.SetPortSources(testing::NoPorts(dir.path()));
  station.FormShow({dir.path(), "", ""});
  FakeDriver driver{false};
  station.SetLowLatencyAccess(Access(driver, tree, false));
  station.SetPortSources(tree.Sources());

  auto notes = [&] {
    int count = 0;
    for (const std::string& line : station.info().Lines()) {
      if (line.find("keeps a latency") == std::string::npos) continue;
      EXPECT_NE(line.find(tree.Dev("ttyUSB0") + " keeps a latency of 16 ms"), std::string::npos)
          << line;
      ++count;
    }
    return count;
  };
  station.BitBtnFindDevClick();
  EXPECT_TRUE(station.port(1).IsOpen());
  EXPECT_TRUE(station.port(2).IsOpen());
  EXPECT_EQ(notes(), 1);
  station.BitBtnFindDevClick();  // the same ports again: nothing new to say
  EXPECT_EQ(notes(), 1);
}

}  // namespace
}  // namespace korvan
