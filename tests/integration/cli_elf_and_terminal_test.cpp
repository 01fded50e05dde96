// korvan-cli with the linker's ELF output, and its live progress lines on a terminal.
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "cli_fixture.h"

namespace korvan::testing::cli {
namespace {

// Links a program whose initialised data run from RAM but are stored in flash after the code,
// and makes the HEX file objcopy gives for it.
void LinkFirmware(const fs::path& dir) {
  std::ofstream(dir / "fw.s") << "  .section .text,\"ax\"\n"
                                 "  .fill 3000, 1, 0x5A\n"
                                 "  .ascii \"code end\"\n"
                                 "  .section .data,\"aw\"\n"
                                 "  .ascii \"data stored in flash, copied to RAM\"\n"
                                 "  .section .bss,\"aw\",@nobits\n"
                                 "  .zero 256\n";
  std::ofstream(dir / "fw.ld") << "MEMORY { FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 512K\n"
                                  "         RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 64K }\n"
                                  "SECTIONS {\n"
                                  "  .text : { *(.text*) } > FLASH\n"
                                  "  .data : { *(.data*) } > RAM AT> FLASH\n"
                                  "  .bss : { *(.bss*) } > RAM\n"
                                  "}\n";
  const std::string command = "cd '" + dir.string() +
                              "' && as -o fw.o fw.s && ld -T fw.ld -o firmware.elf fw.o && "
                              "objcopy -O ihex firmware.elf firmware.hex";
  ASSERT_EQ(std::system(command.c_str()), 0);
}

TEST_F(CliRun, AnElfFileProgramsTheBytesOfItsHexConversion) {
  LinkFirmware(dir);
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  const std::string run = "run --chip N32G457VEL7 --ports " + Ports(*emulator);
  const Result elf = Cli(run + " firmware.elf download auto read-memory=from-elf.bin");
  ASSERT_EQ(elf.status, 0) << elf.out << elf.err;
  const Result hex = Cli(run + " firmware.hex download auto read-memory=from-hex.bin");
  ASSERT_EQ(hex.status, 0) << hex.out << hex.err;
  const std::string fromElf = Slurp(dir / "from-elf.bin");
  ASSERT_FALSE(fromElf.empty());
  EXPECT_TRUE(fromElf == Slurp(dir / "from-hex.bin"));
  EXPECT_EQ(fromElf.substr(3000, 8 + 35), "code enddata stored in flash, copied to RAM");

  const Result broken = Cli(run + " fw.s.elf auto");  // no such file
  EXPECT_EQ(broken.status, 3);
  std::ofstream(dir / "text.elf") << "not an object file";
  const Result refused = Cli(run + " text.elf auto");
  EXPECT_EQ(refused.status, 3);
  EXPECT_NE((refused.out + refused.err).find("not an ELF file"), std::string::npos)
      << refused.out << refused.err;
}

// Runs korvan-cli on a pseudo-terminal of 100 columns and returns everything it wrote there.
std::string RunOnTerminal(const fs::path& dir, const std::vector<std::string>& args,
                          const std::vector<std::string>& environment, int* status) {
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 40;
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::setenv("KORVAN_PORTS", "", 1);
    ::unsetenv("NO_COLOR");
    for (const std::string& e : environment) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(KORVAN_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(KORVAN_CLI_PATH, argv.data());
    ::_exit(127);
  }
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO once the program has ended and closed the terminal
    }
  }
  ::close(master);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

TEST_F(CliRun, ATerminalGetsLiveProgressLinesAPipeTheLinesOfToday) {
  Write("app.hex", MakeFirmware(0x08000000, 40 * 1024, 128).hex);
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  const std::vector<std::string> args = {
      "run", "--chip", "N32G452CBL7", "--ports", Ports(*emulator), "app.hex", "download", "auto"};
  int status = -1;
  const std::string shown = RunOnTerminal(dir, args, {"TERM=xterm"}, &status);
  EXPECT_EQ(status, 0) << shown;
  // A live line per channel with step, percent and KiB, taken away (cursor up, clear) before
  // the next panel line or result; the results themselves are the plain ones.
  EXPECT_NE(shown.find("ch1 auto"), std::string::npos) << shown;
  EXPECT_NE(shown.find("ch2 auto"), std::string::npos) << shown;
  EXPECT_NE(shown.find("100%  "), std::string::npos) << shown;
  EXPECT_NE(shown.find(" KiB"), std::string::npos) << shown;
  EXPECT_NE(shown.find("F\x1b[J"), std::string::npos) << shown;
  EXPECT_NE(shown.find("[auto] channel 1"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\x1b[34m"), std::string::npos) << "the gauge's colour";

  const std::string plain = RunOnTerminal(dir, args, {"TERM=xterm", "NO_COLOR=1"}, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(plain.find("ch1 auto"), std::string::npos);
  EXPECT_EQ(plain.find("\x1b[34m"), std::string::npos) << "NO_COLOR";

  for (const char* other : {"--json", "--quiet"}) {
    std::vector<std::string> with = args;
    with.insert(with.begin() + 1, other);
    const std::string text = RunOnTerminal(dir, with, {"TERM=xterm"}, &status);
    EXPECT_EQ(status, 0) << other;
    EXPECT_EQ(text.find("\x1b["), std::string::npos) << other << "\n" << text;
  }

  const Result piped =
      Cli("run --chip N32G452CBL7 --ports " + Ports(*emulator) + " app.hex download auto");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out.find("\x1b["), std::string::npos);
  EXPECT_NE(piped.out.find("[auto] channel 1 ("), std::string::npos) << piped.out;
}

}  // namespace
}  // namespace korvan::testing::cli

namespace korvan::testing::cli {
namespace {

// The build's firmware image for the emulator, found through XDG_DATA_HOME as ./run --simulate
// points the station at it: used, and no emulated programmer needs it.
TEST_F(CliRun, TheBuildsSimulationFirmwareIsFoundAndUpgradesNobody) {
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  const std::string data = std::string(KORVAN_BINARY_DIR) + "/sim-data";
  const std::string command = "cd '" + dir.string() + "' && KORVAN_PORTS= XDG_DATA_HOME='" + data +
                              "' '" KORVAN_CLI_PATH "' run --chip N32G452CBL7 --ports " +
                              Ports(*emulator) + " app.hex chip-id >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  const Result r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "stdout.txt"),
                 Slurp(dir / "stderr.txt")};
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Firmware image \"" + data + "/korvan200nat/KorvanNAT.KFW\" V2.9"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("开始升级编程器固件"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[chip-id] channel 2"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace korvan::testing::cli
