// korvan-cli run and ports, run as a production line runs them: the real program against
// emulated programmers on pseudo-terminals.
#include "core/image/firmware_image.h"
#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

TEST_F(CliRun, AutoOnFourEmulatedProgrammersLeavesTheImageInEveryPart) {
  if (std::string(KORVAN_SIM_PATH).empty()) GTEST_SKIP() << "korvan-sim is not built";
  // N32G457VEL7: 512 KiB. Data at the start and across a 4 KiB block boundary near the end.
  const Firmware fw = MakeFirmware(0x08000000, 70000, 512);
  Write("fw.hex", fw.hex);
  const fs::path dumps = dir / "dumps";
  SimProcess sim({"--count", "4", "--dump-dir", dumps.string()});
  ASSERT_FALSE(sim.ports().empty());

  const Result r = Cli("run --chip N32G457VEL7 fw.hex auto", sim.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(sim.Stop(), 0);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_NE(r.out.find("找到设备" + std::to_string(n) + " ："), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[auto] channel " + std::to_string(n)), std::string::npos) << r.out;
    const std::string dump = Slurp(dumps / ("chip" + std::to_string(n) + ".bin"));
    EXPECT_EQ(dump.size(), fw.image.size()) << "channel " << n;
    EXPECT_TRUE(dump == fw.image) << "channel " << n << " holds another image";
  }
}

TEST_F(CliRun, OneFailingChannelFailsTheRunWhileTheOthersSucceed) {
  Options options;
  options.count = 4;
  options.faults.push_back({korvan::sim::FaultKind::Crc, 3, 2});  // channel 3's second reply
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);

  const Result r = Cli("run --chip N32G452CBL7 --ports " + Ports(*emulator) + " app.hex auto");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  // Channels follow the ports' sorted order, which need not be the emulator's: find each
  // emulated programmer by its port.
  for (int k = 0; k < 4; ++k) {
    const std::string port = emulator->Paths()[static_cast<std::size_t>(k)];
    const std::string verdict = k == 2 ? "): NG" : "): OK";
    EXPECT_NE(r.out.find("(" + port + verdict), std::string::npos) << port << "\n" << r.out;
  }
}

TEST_F(CliRun, WithoutAnAnsweringProgrammerTheExitStatusIs3) {
  Options options;
  options.count = 1;
  options.faults.push_back({korvan::sim::FaultKind::Silent, 0, 1});
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);

  const Result r = Cli("run --chip N32G452CBL7 --ports " + Ports(*emulator) + " app.hex auto");
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.err.find("no programmer answered"), std::string::npos) << r.err;
}

// Download first: the next step must not start before the programmers answered the restart that
// ends a download, or every later reply is taken for the one before it.
TEST_F(CliRun, ReadMemoryAfterDownloadAndAutoSavesWhatWasProgrammed) {
  Options options;
  options.count = 1;
  auto emulator = StartEmulator(options);
  const Firmware fw = MakeFirmware(0x08001000, 9000, 128);
  Write("app.hex", fw.hex);

  const Result r = Cli("run --chip N32G452CBL7 --ports " + Ports(*emulator) +
                       " app.hex download auto read-memory=back.bin");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("芯片 ：Main Flash读取成功!"), std::string::npos) << r.out;
  const std::string back = Slurp(dir / "back.bin");
  EXPECT_EQ(back.size(), fw.image.size());
  EXPECT_TRUE(back == fw.image) << "the read-back differs from the image";
}

// The upgrade ends with a restart: the next step must wait for its answer, and talks to the
// programmers only after a new search has found them with their new firmware.
TEST_F(CliRun, UpgradeStepLeavesTheProgrammersFoundWithTheirNewFirmware) {
  // The firmware image sits beside the executable: run a copy of korvan-cli from the test folder.
  fs::create_directories(dir / "bin");
  fs::copy_file(KORVAN_CLI_PATH, dir / "bin/korvan-cli");
  std::string firmware = "firmware Korvan200NAT V3.1 for the test";
  firmware.resize(6000, '\0');
  korvan::FirmwarePackOptions pack;
  pack.version = "V3.1";
  std::string error;
  const auto kfw = korvan::PackFirmwareImage(
      std::span(reinterpret_cast<const std::uint8_t*>(firmware.data()), firmware.size()), pack,
      error);
  ASSERT_FALSE(kfw.empty()) << error;
  Write("bin/KorvanNAT.KFW", std::string(kfw.begin(), kfw.end()));
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);

  Options options;
  options.count = 2;
  options.version = "V3.1";  // not older: only the upgrade step sends the image
  auto emulator = StartEmulator(options);
  const std::string cli = (dir / "bin/korvan-cli").string();
  // Outside the build tree the copy counts as installed: its logs go to the state folder.
  const std::string command = "cd '" + dir.string() + "' && KORVAN_PORTS= XDG_STATE_HOME='" +
                              (dir / "state").string() + "' '" + cli +
                              "' run --chip N32G452CBL7 --ports " + Ports(*emulator) +
                              " app.hex upgrade chip-id >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  const std::string out = Slurp(dir / "stdout.txt");
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << out << Slurp(dir / "stderr.txt");
  for (const char* line :
       {"[upgrade] channel 1", "[upgrade] channel 2", "找到设备1 ：Korvan200NAT V3.1 for the test!",
        "[chip-id] channel 1", "[chip-id] channel 2"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
  EXPECT_EQ(out.find(": NG"), std::string::npos) << out;
}

// Every upgrade the device search starts is waited for, one that ends on an undecodable reply
// included, and so is the second upgrade a search after the first starts; Auto then runs on
// every programmer and its results are Auto's own.
TEST_F(CliRun, AutoWaitsForEveryUpgradeTheSearchStarts) {
  fs::create_directories(dir / "bin");
  fs::copy_file(KORVAN_CLI_PATH, dir / "bin/korvan-cli");
  std::string firmware = "firmware Korvan200NAT V3.0";
  firmware.resize(6000, '\0');
  korvan::FirmwarePackOptions pack;
  pack.version = "V3.0";
  std::string error;
  const auto kfw = korvan::PackFirmwareImage(
      std::span(reinterpret_cast<const std::uint8_t*>(firmware.data()), firmware.size()), pack,
      error);
  ASSERT_FALSE(kfw.empty()) << error;
  Write("bin/KorvanNAT.KFW", std::string(kfw.begin(), kfw.end()));
  const Firmware fw = MakeFirmware(0x08000000, 5000, 128);
  Write("app.hex", fw.hex);

  Options options;
  options.count = 4;
  options.version = "V2.9";  // older than the image: every programmer is upgraded
  options.replyDelayMs = 5;
  // Channel 1's first firmware block is answered with a frame that does not decode: that
  // upgrade fails, and the search after the upgrades starts a second one there.
  options.faults.push_back({korvan::sim::FaultKind::Escape, 1, 2});
  auto emulator = StartEmulator(options);
  const std::string cli = (dir / "bin/korvan-cli").string();
  const std::string command = "cd '" + dir.string() + "' && KORVAN_PORTS= XDG_STATE_HOME='" +
                              (dir / "state").string() + "' '" + cli +
                              "' run --chip N32G452CBL7 --ports " + Ports(*emulator) +
                              " app.hex auto >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  const std::string out = Slurp(dir / "stdout.txt");
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0) << out << Slurp(dir / "stderr.txt");
  EXPECT_NE(out.find("数据包错误！"), std::string::npos) << out;
  for (int n = 1; n <= 4; ++n) {
    EXPECT_NE(out.find("[auto] channel " + std::to_string(n)), std::string::npos) << n << out;
    const auto snapshot = emulator->Snapshot(n);
    EXPECT_EQ(snapshot.identity, "Korvan200NAT V3.0") << n;
    EXPECT_TRUE(std::string(snapshot.target.flash.begin(), snapshot.target.flash.end()) == fw.image)
        << "channel " << n << " was not programmed";
  }
}

TEST_F(CliRun, PortsListsEachPortWithWhatAnswered) {
  Options options;
  options.count = 2;
  options.faults.push_back({korvan::sim::FaultKind::Silent, 2, 1});
  auto emulator = StartEmulator(options);

  const Result r = Cli("ports --ports " + Ports(*emulator));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // The list is sorted as text, as the window sorts it.
  std::vector<std::string> paths = emulator->Paths();
  std::sort(paths.begin(), paths.end());
  std::string expected;
  for (const auto& p : paths) {
    expected += p + "\t" +
                (p == emulator->Paths()[1] ? std::string("未找到设备!")
                                           : std::string("Korvan200NAT V2.9")) +
                "\n";
  }
  EXPECT_EQ(r.out, expected) << r.err;

  const Result none = Cli("ports --ports /nonexistent/port");
  EXPECT_EQ(none.status, 3);
  EXPECT_EQ(none.out, "");
  EXPECT_TRUE(none.err.ends_with("\n无可用的串口\n")) << none.err;
}

}  // namespace
