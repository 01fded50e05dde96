// korvan-cli run names every port it cannot use, with the reason, and works on with the others.
#include <fcntl.h>
#include <sys/file.h>

#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

TEST_F(CliRun, EachUnusablePortIsNamedWithItsReason) {
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  const std::string good = emulator->Paths()[0];
  const std::string held = emulator->Paths()[1];
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);
  Write("plain.txt", "not a port");
  // Another station holds the second programmer's port.
  const int holder = open(held.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  struct Case {
    std::string port;
    std::string says;
  } cases[] = {
      {"/nonexistent/ttyUSB9", "does not exist"},
      {"/dev/null", "not a serial device"},
      {(dir / "plain.txt").string(), "not a serial device"},
      {held, "in use by another process (pid " + std::to_string(getpid()) + ")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    // With a usable port beside it the job runs there.
    const Result mixed =
        Cli("run --chip N32G452CBL7 --quiet --ports " + c.port + ":" + good + " app.hex auto");
    EXPECT_EQ(mixed.status, 0) << mixed.out << mixed.err;
    EXPECT_NE(mixed.err.find("port " + c.port + ": " + c.says), std::string::npos) << mixed.err;
    EXPECT_NE(mixed.out.find("(" + good + "): OK"), std::string::npos) << mixed.out;
    // Alone, nothing can be done.
    const Result alone = Cli("run --chip N32G452CBL7 --quiet --ports " + c.port + " app.hex auto");
    EXPECT_EQ(alone.status, 3) << alone.out << alone.err;
    EXPECT_NE(alone.err.find("port " + c.port + ": " + c.says), std::string::npos) << alone.err;
    EXPECT_NE(alone.err.find("no port could be used"), std::string::npos) << alone.err;
  }
  close(holder);

  if (geteuid() != 0) {  // root opens any port
    ASSERT_EQ(chmod(good.c_str(), 0), 0);
    const Result denied = Cli("run --chip N32G452CBL7 --quiet --ports " + good + " app.hex auto");
    EXPECT_EQ(denied.status, 3);
    EXPECT_NE(denied.err.find("permission denied"), std::string::npos) << denied.err;
    EXPECT_NE(denied.err.find("dialout"), std::string::npos) << denied.err;
    chmod(good.c_str(), 0600);
  }
}

}  // namespace
