// korvan-cli run on more than four programmers: stations of four in one process, the channels
// numbered across them, one event loop for all.
#include "core/records/record_log.h"
#include "core/util/format.h"
#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;
using korvan::Format;

TEST_F(CliRun, EightProgrammersAreTwoStationsAndAFailingOneHoldsUpNoOtherChannel) {
  if (std::string(KORVAN_SIM_PATH).empty()) GTEST_SKIP() << "korvan-sim is not built";
  const Firmware fw = MakeFirmware(0x08000000, 20000, 128);
  Write("fw.hex", fw.hex);
  const fs::path dumps = dir / "dumps";
  // Channel 6 (station 2) answers the identity request, then drops the reply to its first
  // command: its part fails only when its time-out has run out.
  SimProcess sim({"--count", "8", "--dump-dir", dumps.string(), "--fault", "drop@6:2"});
  ASSERT_FALSE(sim.ports().empty());

  const Result r =
      Cli("run --records recs --chip N32G452CBL7 "
          "--serial-numbers 101,102,103,104,105,106,107,108 fw.hex auto",
          sim.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  // The port list asks every programmer too, not just the first four.
  const Result ports = Cli("ports", sim.ports());
  EXPECT_EQ(ports.status, 0) << ports.err;
  for (int c = 1; c <= 8; ++c) {
    EXPECT_NE(ports.out.find(Format("ttyNAT%02d\tKorvan200NAT", c)), std::string::npos)
        << ports.out;
  }
  ASSERT_EQ(sim.Stop(), 0);
  for (int c = 1; c <= 8; ++c) {
    const std::string port = Format("ttyNAT%02d)", c);
    const std::string verdict = c == 6 ? ": timed out" : ": OK";
    EXPECT_NE(r.out.find(Format("[auto] channel %d (", c)), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(port + verdict), std::string::npos) << c << "\n" << r.out;
    if (c == 6) continue;
    EXPECT_TRUE(Slurp(dumps / Format("chip%d.bin", c)) == fw.image) << "channel " << c;
  }
  // The panel lines say which station of four they come from.
  EXPECT_NE(r.out.find("station 2: > "), std::string::npos) << r.out;

  const korvan::RecordListing listing = korvan::ReadRecords(dir / "recs");
  ASSERT_EQ(listing.entries.size(), 8u);
  for (std::size_t k = 0; k < listing.entries.size(); ++k) {
    const korvan::ProductionRecord& rec = listing.entries[k].record;
    SCOPED_TRACE(listing.entries[k].jsonLine);
    EXPECT_EQ(rec.station, (rec.channel - 1) / 4 + 1);
    EXPECT_NE(rec.port.find(Format("ttyNAT%02d", rec.channel)), std::string::npos);
    // Every other part, its own station's included, was done before channel 6 gave up.
    if (rec.channel == 6) {
      EXPECT_FALSE(rec.pass);
      EXPECT_EQ(k + 1, listing.entries.size());
      continue;
    }
    EXPECT_TRUE(rec.pass);
    ASSERT_TRUE(rec.serialNumber.has_value());
    EXPECT_EQ(*rec.serialNumber, 100u + static_cast<unsigned>(rec.channel));
  }
}

// With more than one station every station's files carry its place, station 1's included:
// its panel goes to NAT_..._station1.log and its read to OUT-ch1 (station 2's to OUT-ch5), so a
// script globbing *_station*.log finds every station's log.
TEST_F(CliRun, EveryStationOfAGangNamesItsLogAndItsRead) {
  Write("app.hex", MakeFirmware(0x08000000, 64, 128).hex);
  Options options;
  options.count = 5;
  auto emulator = StartEmulator(options);
  // Outside the build tree the copy counts as installed: its logs go to the state folder.
  fs::create_directories(dir / "bin");
  fs::copy_file(KORVAN_CLI_PATH, dir / "bin/korvan-cli");
  const std::string command = "cd '" + dir.string() + "' && KORVAN_PORTS= XDG_STATE_HOME='" +
                              (dir / "state").string() + "' '" + (dir / "bin/korvan-cli").string() +
                              "' run --chip N32G452CBL7 --ports " + Ports(*emulator) +
                              " app.hex read-memory=back.bin >stdout.txt 2>stderr.txt";
  const int raw = std::system(command.c_str());
  ASSERT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0)
      << Slurp(dir / "stdout.txt") << Slurp(dir / "stderr.txt");
  EXPECT_FALSE(fs::exists(dir / "back.bin"));
  EXPECT_EQ(fs::file_size(dir / "back-ch1.bin"), 128u * 1024);
  EXPECT_EQ(fs::file_size(dir / "back-ch5.bin"), 128u * 1024);

  std::vector<std::string> logs;
  for (const auto& entry : fs::directory_iterator(dir / "state/korvan200nat/Log")) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".log")) logs.push_back(name);
  }
  std::sort(logs.begin(), logs.end());
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_TRUE(logs[0].starts_with("NAT_") && logs[0].ends_with("_station1.log")) << logs[0];
  EXPECT_TRUE(logs[1].starts_with("NAT_") && logs[1].ends_with("_station2.log")) << logs[1];
}

}  // namespace
