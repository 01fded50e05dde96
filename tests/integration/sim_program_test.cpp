// korvan-sim as a program: the ports line, signals, the dump, and the realtime pacing.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lib/emulator.h"
#include "sim_port.h"

extern char** environ;

namespace korvan::sim {
namespace {

using namespace korvan::sim::testing;
namespace p = korvan::protocol;
namespace fs = std::filesystem;

// korvan-sim started with `args`, its standard output on a pipe.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    args.insert(args.begin(), KORVAN_SIM_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, KORVAN_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The first line of output, waiting at most `timeout`.
  std::string FirstLine(milliseconds timeout = milliseconds(5000)) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + timeout;
    char c = 0;
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      if (read(out_, &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    return line;
  }

  // Sends `signal` and returns the exit status (-1 when it did not exit normally).
  int Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

std::vector<std::string> SplitPorts(const std::string& line) {
  std::vector<std::string> ports;
  std::stringstream in(line.substr(line.find('=') + 1));
  for (std::string port; std::getline(in, port, ':');) ports.push_back(port);
  return ports;
}

TEST(SimProgram, PrintsThePortsAndServesUntilASignal) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SimProcess sim({"--count", "4"});
    const std::string line = sim.FirstLine();
    ASSERT_EQ(line.rfind("KORVAN_PORTS=/", 0), 0u) << line;
    const auto ports = SplitPorts(line);
    ASSERT_EQ(ports.size(), 4u);
    for (const auto& path : ports) {
      SimPort port(path);
      ASSERT_TRUE(port.IsOpen()) << path;
      EXPECT_EQ(SimPort::IdentityText(port.Identity()), "Korvan200NAT V2.9") << path;
    }
    EXPECT_EQ(sim.Stop(signal), 0);
  }
}

TEST(SimProgram, RefusesBadOptions) {
  for (const char* bad : {"--fault=loud", "--chip-state=scrambled", "--model=XYZ", "--count=0"}) {
    SimProcess sim({bad});
    EXPECT_EQ(sim.Wait(), 2) << bad;
  }
}

TEST(SimProgram, DumpsEachChannelOnExit) {
  const fs::path dir = fs::temp_directory_path() / ("korvan-sim-dump-" + std::to_string(getpid()));
  fs::remove_all(dir);
  {
    SimProcess sim({"--count", "2", "--chip-state", "programmed@2", "--dump-dir", dir.string()});
    const auto ports = SplitPorts(sim.FirstLine());
    ASSERT_EQ(ports.size(), 2u);
    SimPort port(ports[0]);
    HeaderFields f;
    f.flashKb = 16;
    JobFields job;
    job.header = f;
    job.chipName = "N32G430C8L7";
    ASSERT_EQ(Status(port.Exchange(DownloadSettings(SettingsBlock(job)))), p::kStatusOk);
    Bytes body = SettingsHeader(f);
    body.resize(64 + 4096, 0x42);
    ASSERT_EQ(Status(port.Exchange(Request(p::kCmdProgram, 0, body))), p::kStatusOk);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
  }
  const auto read = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  };
  const Bytes chip1 = read(dir / "chip1.bin");
  ASSERT_EQ(chip1.size(), 16u * 1024u);
  EXPECT_EQ(chip1[0], 0x42);
  EXPECT_EQ(chip1[4096], 0xFF);
  const Bytes chip2 = read(dir / "chip2.bin");
  ASSERT_EQ(chip2.size(), 128u * 1024u);  // never told otherwise
  EXPECT_NE(chip2[0], 0xFF);
  EXPECT_EQ(read(dir / "chip1.ob").size(), 128u);
  EXPECT_EQ(read(dir / "chip1.otp").size(), 4096u);
  std::ifstream text(dir / "chip1.txt");
  const std::string settings((std::istreambuf_iterator<char>(text)), {});
  EXPECT_NE(settings.find("chipName = N32G430C8L7\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("flashSizeKB = 16\n"), std::string::npos) << settings;
  fs::remove_all(dir);
}

// With --realtime a reply comes no sooner than the wire and the flash allow: a program
// request of 4170 bytes (at least 4177 on the wire, 46 ms) plus the flash time of one block.
TEST(SimProgram, RealtimeTakesTheWireAndFlashTime) {
  Options options;
  options.count = 1;
  options.realtime = true;
  options.flashMs = 100;
  Emulator emulator(options);
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  SimPort port(emulator.Paths()[0]);
  Bytes body = SettingsHeader();
  body.resize(64 + 4096, 0x00);
  const auto start = std::chrono::steady_clock::now();
  const Bytes reply = port.Exchange(Request(p::kCmdProgram, 0, body));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Status(reply), p::kStatusOk);
  EXPECT_GE(elapsed, milliseconds(146));
}

}  // namespace
}  // namespace korvan::sim
