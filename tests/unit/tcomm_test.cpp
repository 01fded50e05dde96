#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/serial/tcomm.h"
#include "support/pty_pair.h"

namespace korvan {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;

// The settings the station gives each of its four ports.
void ConfigureAsStation(TComm& comm, const std::string& name) {
  comm.SetCommName(name);
  comm.SetBaudRate(1000000);
  comm.SetDtrControl(TDtrControl::DtrDisable);
  comm.SetTxContinueOnXoff(false);
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  comm.SetRtsControl(TRtsControl::RtsDisable);
  comm.SetStopBits(TStopBits::_2);
  comm.SetParity(TParity::None);
  comm.SetByteSize(TByteSize::_8);
  comm.SetReadIntervalTimeout(5);
}

// Drains the queue on this thread until `done` holds or `timeout` passes.
bool PumpUntil(EventQueue& queue, const std::function<bool()>& done,
               std::chrono::milliseconds timeout = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{queue.NotifyFd(), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 50)));
    queue.Drain();
  }
  return true;
}

std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t x = seed;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return bytes;
}

// Waits until `done` holds or `timeout` passes, without draining the queue; false on time-out.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 5000ms) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// The scheduler states (R, S, D, ...) of this process's threads other than the calling one.
std::vector<char> OtherThreadStates() {
  std::vector<char> states;
  const std::string self = std::to_string(::gettid());
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    if (entry.path().filename() == self) continue;
    // A thread that ends between the listing and the reading is skipped: its stat file
    // then fails to open or to read (ESRCH).
    const int fd = ::open((entry.path() / "stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0) continue;
    const std::string stat(buffer, static_cast<std::size_t>(n));
    // "tid (name) S ...": the state follows the name's closing parenthesis.
    const auto close = stat.rfind(')');
    if (close != std::string::npos && close + 2 < stat.size()) states.push_back(stat[close + 2]);
  }
  return states;
}

class TCommTest : public ::testing::Test {
 protected:
  EventQueue queue;
  PtyPair pty;
  TComm comm{queue};

  void SetUp() override { ConfigureAsStation(comm, pty.SlavePath()); }
};

TEST_F(TCommTest, DefaultsAreThoseOfTheComponent) {
  TComm fresh(queue);
  EXPECT_EQ(fresh.CommName(), "COM2");
  EXPECT_EQ(fresh.BaudRate(), 9600);
  EXPECT_EQ(fresh.DtrControl(), TDtrControl::DtrEnable);
  EXPECT_EQ(fresh.RtsControl(), TRtsControl::RtsEnable);
  EXPECT_TRUE(fresh.TxContinueOnXoff());
  EXPECT_TRUE(fresh.Outx_XonXoffFlow());
  EXPECT_TRUE(fresh.Inx_XonXoffFlow());
  EXPECT_EQ(fresh.ByteSize(), TByteSize::_8);
  EXPECT_EQ(fresh.Parity(), TParity::None);
  EXPECT_EQ(fresh.StopBits(), TStopBits::_1);
  EXPECT_EQ(fresh.XonLimit(), 500);
  EXPECT_EQ(fresh.XoffLimit(), 500);
  EXPECT_EQ(fresh.XonChar(), 0x11);
  EXPECT_EQ(fresh.XoffChar(), 0x13);
  EXPECT_EQ(fresh.ReadIntervalTimeout(), 100u);
  EXPECT_FALSE(fresh.IsOpen());
  EXPECT_EQ(fresh.Handle(), -1);
}

TEST_F(TCommTest, OpensClosesAndOpensAgain) {
  comm.ClosePort();  // closing a closed port does nothing
  for (int round = 0; round < 2; ++round) {
    comm.OpenPort();
    EXPECT_TRUE(comm.IsOpen());
    EXPECT_GE(comm.Handle(), 0);
    comm.ClosePort();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.Handle(), -1);
  }
  comm.ClosePort();
}

TEST_F(TCommTest, TheLineIsReallySet) {
  comm.OpenPort();
  termios t;
  ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1000000));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B1000000));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cflag & (PARENB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  // A line property set while open is applied at once.
  comm.SetBaudRate(115200);
  comm.SetStopBits(TStopBits::_1);
  ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
}

TEST_F(TCommTest, EachOpenFailureLeavesTheComponentClosedAndReusable) {
  struct Row {
    const char* what;
    std::string name;
    std::int32_t baud;
    TParity parity;
    std::string message;
  } rows[] = {
      {"missing device", "/dev/korvan-no-such-port", 1000000, TParity::None,
       "Error opening serial port:/dev/korvan-no-such-port"},
      {"not a terminal", "/dev/null", 1000000, TParity::None, "File handle is not a comm handle "},
      {"a speed the port cannot run", pty.SlavePath(), 123456, TParity::None,
       "Serial port " + pty.SlavePath() +
           " did not take the line settings 123456 baud 8N2, no flow control (it reports "},
      // A pseudo-terminal always runs 8 bits without parity.
      {"a parity the port drops", pty.SlavePath(), 1000000, TParity::Even,
       "Serial port " + pty.SlavePath() +
           " did not take the line settings 1000000 baud 8E2, no flow control (it reports "
           "1000000 baud 8N2, no flow control)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    comm.SetCommName(row.name);
    comm.SetBaudRate(row.baud);
    comm.SetParity(row.parity);
    try {
      comm.OpenPort();
      ADD_FAILURE() << "opened";
    } catch (const ECommsError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, row.message.size()), row.message);
    }
    EXPECT_FALSE(comm.IsOpen());
  }
  // The same component opens another name afterwards.
  ConfigureAsStation(comm, pty.SlavePath());
  comm.OpenPort();
  EXPECT_TRUE(comm.IsOpen());
}

TEST_F(TCommTest, OpeningTwiceLeavesTheOpenPortWorking) {
  comm.OpenPort();
  const int handle = comm.Handle();
  try {
    comm.OpenPort();
    ADD_FAILURE() << "opened twice";
  } catch (const ECommsError& e) {
    EXPECT_STREQ(e.what(), "This serial port already opened");
  }
  EXPECT_EQ(comm.Handle(), handle);
  const std::uint8_t byte = 0x5A;
  ASSERT_TRUE(comm.SendBlock(&byte, 1));
  EXPECT_EQ(pty.ReadMaster(1, 2000), std::vector<std::uint8_t>{0x5A});
}

TEST_F(TCommTest, ASecondOpenerIsRefused) {
  comm.OpenPort();
  TComm other(queue);
  ConfigureAsStation(other, pty.SlavePath());
  try {
    other.OpenPort();
    ADD_FAILURE() << "second opener got the port";
  } catch (const ECommsError& e) {
    EXPECT_EQ(std::string(e.what()), "Error opening serial port:" + pty.SlavePath());
  }
  EXPECT_FALSE(other.IsOpen());
  // Once the first owner lets go, the port is free again.
  comm.ClosePort();
  other.OpenPort();
  EXPECT_TRUE(other.IsOpen());
}

TEST_F(TCommTest, SendBlockRefusesAClosedPortAndAnEmptyBlock) {
  const std::uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_FALSE(comm.SendBlock(bytes, sizeof bytes));
  comm.OpenPort();
  EXPECT_FALSE(comm.SendBlock(bytes, 0));
  comm.ClosePort();
  EXPECT_FALSE(comm.SendBlock(bytes, sizeof bytes));
  EXPECT_EQ(pty.ReadMaster(1, 100).size(), 0u);
}

TEST_F(TCommTest, ALargeBlockIsWrittenWholeBeforeTheNextWithOneEmptyEventPerRun) {
  int empties = 0;
  comm.OnSendDataEmpty = [&](TComm& sender) {
    EXPECT_EQ(&sender, &comm);
    ++empties;
  };
  comm.OpenPort();
  // The write thread reports the empty queue once as it starts.
  ASSERT_TRUE(PumpUntil(queue, [&] { return empties == 1; }));

  // Far more than the pseudo-terminal takes at once: the block goes out in pieces.
  const auto big = Pattern(65535, 1);
  const auto small = Pattern(100, 2);
  ASSERT_TRUE(comm.SendBlock(big.data(), static_cast<std::uint16_t>(big.size())));
  ASSERT_TRUE(comm.SendBlock(small.data(), static_cast<std::uint16_t>(small.size())));
  auto expected = big;
  expected.insert(expected.end(), small.begin(), small.end());
  EXPECT_EQ(pty.ReadMaster(expected.size(), 10000), expected);

  ASSERT_TRUE(PumpUntil(queue, [&] { return empties >= 2; }));
  PumpUntil(
      queue, [] { return false; }, 200ms);
  EXPECT_EQ(empties, 2);
  EXPECT_TRUE(comm.SendQueueEmpty());
}

TEST_F(TCommTest, ReceivedBytesArriveInOrderInBlocksOfAtMost2048) {
  std::vector<std::uint8_t> received;
  std::size_t largest = 0;
  comm.OnReceiveData = [&](TComm&, const std::uint8_t* buffer, std::uint16_t length) {
    ASSERT_GT(length, 0);
    EXPECT_EQ(buffer[length], 0) << "a zero byte follows each block";
    largest = std::max<std::size_t>(largest, length);
    received.insert(received.end(), buffer, buffer + length);
  };
  comm.OpenPort();
  const auto sent = Pattern(65536, 3);
  std::thread farSide([&] { pty.WriteMaster(sent); });
  const bool all = PumpUntil(
      queue, [&] { return received.size() >= sent.size(); }, 10000ms);
  farSide.join();
  ASSERT_TRUE(all) << received.size();
  EXPECT_EQ(received, sent);
  EXPECT_LE(largest, 2048u);
}

TEST_F(TCommTest, TheFarSideClosingRaisesHangupAndNoThreadSpins) {
  int hangups = 0;
  int errors = 0;
  comm.OnRequestHangup = [&](TComm&) { ++hangups; };
  comm.OnReceiveError = [&](TComm&, std::uint32_t) { ++errors; };
  comm.OpenPort();
  pty.CloseMaster();
  ASSERT_TRUE(PumpUntil(queue, [&] { return hangups > 0; }));
  EXPECT_EQ(errors, 0);

  // The owner has not closed the port yet: the workers must be asleep, not polling a dead line.
  // A worker that spins is seen running; every thread left asleep in many readings in a row is
  // the sign (a worker that ended on the hang-up is fine too).
  int asleep = 0;
  const bool settled = WaitUntil([&] {
    const auto states = OtherThreadStates();
    const bool all = std::all_of(states.begin(), states.end(), [](char c) { return c == 'S'; });
    asleep = all ? asleep + 1 : 0;
    return asleep >= 200;
  });
  const auto states = OtherThreadStates();
  EXPECT_TRUE(settled) << "a worker kept running on the hung-up line: "
                       << std::string(states.begin(), states.end());

  // The station's handler closes the port; that must still work on a hung-up line.
  comm.ClosePort();
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(TCommTest, AHangupOfAnEarlierOpeningDoesNotReachTheReopenedPort) {
  int hangups = 0;
  comm.OnRequestHangup = [&](TComm& sender) {
    ++hangups;
    sender.ClosePort();
  };
  comm.OpenPort();
  pty.CloseMaster();
  // Both threads notice the loss before the owner's thread looks.
  const std::uint8_t byte = 1;
  comm.SendBlock(&byte, 1);
  WaitUntil([&] { return queue.Size() >= 2; }, 2000ms);
  PumpUntil(
      queue, [] { return false; }, 100ms);
  EXPECT_EQ(hangups, 1);

  // A new device search: the port is closed while a hang-up is still queued, then reopened.
  PtyPair fresh;
  comm.SetCommName(fresh.SlavePath());
  comm.OpenPort();
  const std::size_t queued = queue.Size();
  fresh.CloseMaster();
  // The read thread's hang-up is queued before the owner closes the port.
  EXPECT_TRUE(WaitUntil([&] { return queue.Size() > queued; }));
  comm.ClosePort();
  PtyPair third;
  comm.SetCommName(third.SlavePath());
  comm.OpenPort();
  PumpUntil(
      queue, [] { return false; }, 100ms);
  EXPECT_EQ(hangups, 1);
  EXPECT_TRUE(comm.IsOpen());
  ASSERT_TRUE(comm.SendBlock(&byte, 1));
  EXPECT_EQ(third.ReadMaster(1, 2000), std::vector<std::uint8_t>{1});
}

TEST_F(TCommTest, EventsStillQueuedWhenTheComponentGoesAwayAreDropped) {
  auto doomed = std::make_unique<TComm>(queue);
  ConfigureAsStation(*doomed, pty.SlavePath());
  doomed->OpenPort();
  pty.WriteMaster({1, 2, 3});
  ASSERT_TRUE(WaitUntil([&] { return queue.Size() > 0; }));
  doomed.reset();
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(LineCounters, ChangesMapToErrorFlagsAndModemEvents) {
  struct Row {
    const char* what;
    LineCounters after;
    std::uint32_t errors;
    std::uint32_t modem;
  } rows[] = {
      {"nothing", {}, 0, 0},
      {"frame", {.frame = 1}, kLineErrorFrame, 0},
      {"overrun", {.overrun = 2}, kLineErrorOverrun, 0},
      {"parity", {.parity = 1}, kLineErrorParity, 0},
      {"break", {.brk = 1}, kLineErrorBreak, 0},
      {"buffer overflow", {.bufOverrun = 1}, kLineErrorRxOver, 0},
      {"carrier", {.dcd = 1}, 0, kModemEventCarrier},
      {"ring", {.rng = 1}, 0, kModemEventRing},
      {"carrier and ring", {.dcd = 3, .rng = 1}, 0, kModemEventCarrier | kModemEventRing},
      {"frame and parity", {.frame = 1, .parity = 1}, kLineErrorFrame | kLineErrorParity, 0},
  };
  for (const Row& row : rows) {
    const LineChanges c = CompareLineCounters(LineCounters{}, row.after);
    EXPECT_EQ(c.errorFlags, row.errors) << row.what;
    EXPECT_EQ(c.modemEvents, row.modem) << row.what;
  }
}

}  // namespace
}  // namespace korvan
