// korvan-cli ports --watch against a fake sysfs tree that gains and loses an adapter.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ReadAll;
using testing::TempDir;

// Runs korvan-cli with stdout and stderr into files of `dir`; returns its process id.
pid_t Spawn(const TempDir& dir, const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open((dir.path() / "out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open((dir.path() / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("KORVAN_PORTS", "", 1);
    std::vector<char*> argv{const_cast<char*>(KORVAN_BINARY_DIR "/src/cli/korvan-cli")};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

bool WaitForText(const fs::path& file, const std::string& text) {
  for (int i = 0; i < 500; ++i) {
    if (ReadAll(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(CliPortsWatch, PrintsAdaptersComingAndGoingUntilInterrupted) {
  TempDir dir;
  const fs::path sys = dir.path() / "sys";
  fs::create_directories(sys / "class/tty");
  fs::create_directories(sys / "bus/usb-serial/drivers/cp210x");
  const pid_t cli = Spawn(dir, {"ports", "--watch", "--sysfs", sys.string()});
  ASSERT_GT(cli, 0);
  ASSERT_TRUE(WaitForText(dir.path() / "err.txt", "watching USB serial adapters (sysfs polling)"))
      << ReadAll(dir.path() / "err.txt");

  const fs::path tty = sys / "class/tty/ttyUSB3";
  fs::create_directories(tty / "device");
  fs::create_directory_symlink("../../../../bus/usb-serial/drivers/cp210x", tty / "device/driver");
  EXPECT_TRUE(WaitForText(dir.path() / "out.txt", "+ /dev/ttyUSB3\n"));
  fs::remove_all(tty);
  EXPECT_TRUE(WaitForText(dir.path() / "out.txt", "- /dev/ttyUSB3\n"));

  ::kill(cli, SIGINT);
  int status = 0;
  ::waitpid(cli, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // No programmer on this machine's ports: the list says so, then the two changes.
  const std::string out = ReadAll(dir.path() / "out.txt");
  EXPECT_EQ(out.substr(out.find("+ ")), "+ /dev/ttyUSB3\n- /dev/ttyUSB3\n");
}

}  // namespace
}  // namespace korvan
