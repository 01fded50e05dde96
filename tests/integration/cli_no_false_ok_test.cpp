// korvan-cli run where a production line needs a refusal or a failure, never an OK: one serial
// number per part over all channels, numbers the programmers write on their own recorded and
// guarded, a programmer that does not answer named, and nothing sent when a part could not be
// recorded or the line database is not even named right.
#include <nlohmann/json.hpp>
#include <set>

#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;
using Json = nlohmann::json;

// Requests the emulated programmers received, identity requests included.
unsigned Requests(const Emulator& emulator, int count) {
  unsigned sent = 0;
  for (int c = 1; c <= count; ++c) sent += emulator.Snapshot(c).requests;
  return sent;
}

TEST_F(CliRun, RunsThatCouldNotRecordOrNameTheirPartsRightSendNothing) {
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  Write("fw.hex", MakeFirmware(0x08000000, 2000, 64).hex);
  fs::create_directories(dir / "broken");
  Write("broken/records.sqlite3", std::string(5000, 'x'));
  Write("empty.bind", "# nothing bound yet\n\n");
  const std::string run = "run --chip N32G030F6S7 --ports " + Ports(*emulator) + " ";
  const struct {
    const char* name;
    std::string args;
    std::string env;
    int status;
    const char* said;
  } cases[] = {
      {"a store that is no database", "--records broken fw.hex download auto", "", 4,
       "file is not a database (the store is damaged: it is rebuilt from the day files with "
       "`korvan-cli records --rebuild`); no step was run"},
      {"another database's URL", "--records rec --records-db mysql://line/db fw.hex auto", "", 2,
       "--records-db mysql://line/db: not a PostgreSQL connection"},
      {"no URL at all", "--records rec --records-db notaurl fw.hex auto", "", 2,
       "--records-db notaurl: not a PostgreSQL connection"},
      {"a port out of range", "--records rec --records-db postgresql://h:99999/db fw.hex auto", "",
       2, "port 99999 is not 1..65535"},
      {"a string libpq refuses", "--records rec --records-db 'host=h port' fw.hex auto", "", 2,
       "--records-db host=h port: "},
      {"the environment's URL", "--records rec fw.hex auto", "KORVAN_RECORDS_DB=notaurl", 2,
       "KORVAN_RECORDS_DB notaurl: not a PostgreSQL connection"},
      {"a bind file that binds nothing", "--records rec --bind empty.bind fw.hex auto", "", 2,
       "--bind empty.bind binds no channel"},
      {"more numbers than channels", "--records rec --serial-numbers 1,2,3 fw.hex download auto",
       "", 2, "--serial-numbers gives 3 numbers for 2 channels"},
      {"two channels numbering the same parts",
       "--records rec --serial-numbers 100,102 --count-limit 3 fw.hex download", "", 2,
       "channels 1 and 2 would both number parts from 102 (0x00000066): channel 1 from "
       "0x00000064 to 0x00000066, channel 2 from 0x00000066 to 0x00000068; no step was run"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const unsigned before = Requests(*emulator, 2);
    const Result r =
        korvan::testing::RunKorvanCli(dir.string(), run + c.args, c.env + " KORVAN_PORTS=''");
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    // At most the search's identity request on each port: every refusal comes before the
    // first step.
    EXPECT_LE(Requests(*emulator, 2), before + 2) << r.out;
    EXPECT_FALSE(emulator->Snapshot(1).job.present);
    EXPECT_EQ(r.out.find("[download]"), std::string::npos) << r.out;
  }
}

TEST_F(CliRun, EightChannelsWithOneSerialNumberGiveEightDifferentNumbers) {
  Options options;
  options.count = 8;
  auto emulator = StartEmulator(options);
  Write("fw.hex", MakeFirmware(0x08000000, 2000, 64).hex);
  const Result r = Cli("run --quiet --chip N32G030F6S7 --records rec --ports " + Ports(*emulator) +
                       " --serial-numbers 100 fw.hex download auto");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::map<int, std::uint32_t> numbers;
  for (const Json& record : JsonLines(Cli("records --dir rec").out)) {
    numbers[record["channel"].get<int>()] = record["serial_number"].get<std::uint32_t>();
  }
  // Channel 1 as given, the others at their eighth of the range.
  EXPECT_EQ(numbers, (std::map<int, std::uint32_t>{{1, 100},
                                                   {2, 0x20000000},
                                                   {3, 0x40000000},
                                                   {4, 0x60000000},
                                                   {5, 0x80000000},
                                                   {6, 0xA0000000},
                                                   {7, 0xC0000000},
                                                   {8, 0xE0000000}}));
  const Result duplicates = Cli("records --dir rec --duplicates");
  EXPECT_EQ(duplicates.status, 0) << duplicates.err;
  EXPECT_EQ(duplicates.out, "");
}

TEST_F(CliRun, StandAlonePartsCarryTheNumbersTheirProgrammersWroteAndAreGuarded) {
  Options options;
  options.count = 2;
  options.standaloneParts = 3;
  auto emulator = StartEmulator(options);
  Write("fw.hex", MakeFirmware(0x08000000, 2000, 64).hex);
  const std::string run =
      "run --quiet --chip N32G030F6S7 --records rec --ports " + Ports(*emulator) + " ";
  Result r = Cli(run + "--serial-numbers 5000,6000 fw.hex download watch=6");
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  std::multiset<std::uint32_t> numbers;
  for (const Json& record : JsonLines(Cli("records --dir rec").out)) {
    ASSERT_EQ(record["origin"], "stand-alone");
    ASSERT_TRUE(record["serial_number"].is_number()) << record.dump();
    EXPECT_EQ(record["serial_number_derived"], true);
    numbers.insert(record["serial_number"].get<std::uint32_t>());
  }
  EXPECT_EQ(numbers, (std::multiset<std::uint32_t>{5000, 5001, 5002, 6000, 6001, 6002}));
  // What the programmers wrote into the parts.
  EXPECT_EQ(emulator->Snapshot(1).nextSerial, 5003u);
  EXPECT_EQ(emulator->Snapshot(2).nextSerial, 6003u);

  // The same numbers again, and numbers inside what the parts got: refused before any step.
  for (const char* again : {"5000,6000", "5002,7000"}) {
    SCOPED_TRACE(again);
    r = Cli(run + "--serial-numbers " + again + " fw.hex download watch=6");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("was already given to an OK part"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Cli("records --dir rec --duplicates").out, "");
}

TEST_F(CliRun, AProgrammerThatDoesNotAnswerIsNamedAndFailsItsBoundChannel) {
  Options options;
  options.count = 3;
  options.faults.push_back({korvan::sim::FaultKind::Silent, 2, 1000000});
  auto emulator = StartEmulator(options);
  std::vector<std::string> paths = emulator->Paths();
  Write("fw.hex", MakeFirmware(0x08000000, 2000, 64).hex);

  Result r = Cli("run --quiet --chip N32G030F6S7 --records rec --ports " + Ports(*emulator) +
                 " fw.hex download");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("channel 2: no programmer answered on " + paths[1] + "; it is left out"),
            std::string::npos)
      << r.err;

  // Bound to its channel, the silent programmer fails the run as a missing adapter does.
  Write("line.bind", "1 " + paths[0] + "\n2 " + paths[1] + "\n3 " + paths[2] + "\n");
  r = Cli("run --json --quiet --chip N32G030F6S7 --records rec --bind line.bind --ports " +
          Ports(*emulator) + " fw.hex download");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("channel 2: no programmer answered on " + paths[1] + " (adapter " +
                       paths[1] + ", bind file line 2)"),
            std::string::npos)
      << r.err;
  bool missing = false;
  for (const Json& event : JsonLines(r.out)) {
    if (event["event"] == "missing") missing = event["channel"] == 2;
    if (event["event"] == "summary") {
      EXPECT_EQ(event["exit_status"], 1);
    }
  }
  EXPECT_TRUE(missing) << r.out;
}

}  // namespace
