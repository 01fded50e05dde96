// Stations of a line sharing one line database: korvan-cli run against korvan-sim, each station
// with a record folder of its own, and a PostgreSQL server of the test's own. And the
// PostgreSQL client module: loaded only by commands that use a line database, found where the
// build and the package put it, and named when it cannot be loaded.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <thread>

#include "core/line/line_database.h"
#include "core/records/record_store.h"
#include "integration/cli_fixture.h"
#include "support/postgres_server.h"

namespace {

using namespace korvan::testing::cli;
using korvan::LineDatabase;
using korvan::LineRecord;
using korvan::RecordStore;
using korvan::StoredRecord;
using korvan::testing::PostgresServer;

class LineCli : public CliRun {
 protected:
  void SetUp() override {
    if (std::string(KORVAN_SIM_PATH).empty()) GTEST_SKIP() << "korvan-sim is not built";
    std::string problem;
    server_ = PostgresServer::Start(&problem);
    if (!server_) GTEST_SKIP() << "no PostgreSQL server could be started: " << problem;
    url_ = server_->Url();
    Write("fw.hex", MakeFirmware(0x08000000, 4096, 64).hex);
  }

  std::vector<LineRecord> OnTheLine() {
    std::string error;
    auto db = LineDatabase::Connect(url_, &error);
    EXPECT_TRUE(db) << error;
    if (!db) return {};
    return db->Find({}, &error).value_or(std::vector<LineRecord>{});
  }

  std::vector<StoredRecord> Local(const std::string& folder, std::string* stationId = nullptr) {
    std::string error;
    auto store = RecordStore::Open(dir / folder, &error);
    EXPECT_TRUE(store) << error;
    if (!store) return {};
    if (stationId) *stationId = store->stationId();
    return store->Find({});
  }

  std::string Run(const std::string& folder, const std::string& more,
                  const std::string& chip = "N32G430C8L7") {
    return "run --records " + folder + " --records-db " + url_ + " --chip " + chip + " fw.hex " +
           more;
  }

  // Station "a" downloads and runs sixteen Auto cycles (32 parts on two programmers) in the
  // background, its output in stdout.txt and stderr.txt; returns its pid (-1 when it could not
  // start). The part has 16 KiB of flash: on programmers in real time (--realtime --flash-ms 0)
  // a cycle takes about 0.4 s, the flash's bytes on the wire, so a test can act between parts,
  // and the run still goes on for some seconds after it acted.
  pid_t StartSixteenCycles(const std::string& ports) {
    std::string steps = "download";
    for (int i = 0; i < 16; ++i) steps += " auto";
    const std::string command = "cd '" + dir.string() + "' && KORVAN_PORTS='" + ports +
                                "' exec '" KORVAN_CLI_PATH "' " + Run("a", steps, "N32G003F4Q7") +
                                " >stdout.txt 2>stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  }

  std::unique_ptr<PostgresServer> server_;
  std::string url_;
};

TEST_F(LineCli, TwoStationsShareOneLineAndItsSerialNumbers) {
  SimProcess simA({"--count", "2"});
  SimProcess simB({"--count", "2"});
  ASSERT_FALSE(simA.ports().empty() || simB.ports().empty());

  Result r = Cli(Run("a", "--serial-numbers 100,200 download auto"), simA.ports());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = Cli(Run("b", "--serial-numbers 300,400 download auto"), simB.ports());
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  std::string idA, idB;
  const auto localA = Local("a", &idA);
  const auto localB = Local("b", &idB);
  ASSERT_EQ(localA.size(), 2u);
  ASSERT_EQ(localB.size(), 2u);
  const std::vector<LineRecord> line = OnTheLine();
  ASSERT_EQ(line.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    const StoredRecord& local = i < 2 ? localA[i] : localB[i - 2];
    EXPECT_EQ(line[i].stationId, i < 2 ? idA : idB);
    EXPECT_EQ(line[i].record, local.record);
  }
  EXPECT_EQ(Local("a")[0].forwarded, true);

  // One query across the line finds a part of either station.
  r = Cli("records --db " + url_ + " --serial 300");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"serial_number\":300"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\"serial_number\":100"), std::string::npos) << r.out;

  // Station B now asks for numbers station A reserved: refused, and A named.
  r = Cli(Run("b", "--serial-numbers 500,200 download auto"), simB.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("(id " + idA + ") channel 2"), std::string::npos)
      << r.out << r.err;
  EXPECT_EQ(Local("b").size(), 2u);  // nothing was programmed
  // Overridden: programmed, and the holder still named as a warning.
  r = Cli(Run("b", "--serial-numbers 500,200 --allow-reused-serial-numbers download auto"),
          simB.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("(id " + idA + ")"), std::string::npos) << r.out << r.err;
}

TEST_F(LineCli, NumbersProgrammersWriteOnTheirOwnAreReservedAndHeldOnTheLine) {
  SimProcess simA({"--count", "1", "--standalone-parts", "3"});
  SimProcess simB({"--count", "1"});
  ASSERT_FALSE(simA.ports().empty() || simB.ports().empty());

  // Station A's programmer numbers three parts on its own: 40000..40002, reserved before the
  // download (watch=3) and held by the parts' records once they are on the line.
  Result r = Cli(Run("a", "--serial-numbers 40000 download watch=3"), simA.ports());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<std::uint32_t> onLine;
  for (const LineRecord& record : OnTheLine()) {
    ASSERT_TRUE(record.record.serialNumber.has_value());
    EXPECT_TRUE(record.record.serialNumberDerived);
    onLine.push_back(*record.record.serialNumber);
  }
  EXPECT_EQ(onLine, (std::vector<std::uint32_t>{40000, 40001, 40002}));

  // Station B, with a store of its own that knows none of them, is refused the middle one.
  r = Cli(Run("b", "--serial-numbers 40001 download auto"), simB.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(Local("b").empty());
  // A count limit reserves the whole range its programmer may write.
  r = Cli(Run("b", "--serial-numbers 39998 --count-limit 3 download"), simB.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  r = Cli(Run("b", "--serial-numbers 39997 --count-limit 3 download"), simB.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(LineCli, ARunRefusesSerialNumbersItCannotReserveUnlessToldToTrustItsOwnGuard) {
  SimProcess sim({"--count", "1"});
  ASSERT_FALSE(sim.ports().empty());
  std::string problem;
  ASSERT_TRUE(server_->Stop(&problem)) << problem;
  Result r = Cli(Run("a", "--serial-numbers 7 download auto"), sim.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("--offline-serial-numbers"), std::string::npos) << r.err;
  EXPECT_TRUE(Local("a").empty());

  r = Cli(Run("a", "--serial-numbers 7 --offline-serial-numbers download auto"), sim.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(Local("a").size(), 1u);
  EXPECT_FALSE(Local("a")[0].forwarded);
  // Said once in the panel that the database cannot be reached.
  std::size_t said = 0;
  for (std::size_t at = r.out.find("Line database unreachable"); at != std::string::npos;
       at = r.out.find("Line database unreachable", at + 1)) {
    ++said;
  }
  EXPECT_EQ(said, 1u) << r.out;

  // What waits is listed, and goes out with the next start that reaches the database.
  r = Cli("records --dir a --pending");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"serial_number\":7"), std::string::npos) << r.out;
  ASSERT_TRUE(server_->Restart(&problem)) << problem;
  r = Cli(Run("a", "download"), sim.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(OnTheLine().size(), 1u);
  EXPECT_EQ(OnTheLine()[0].record, Local("a")[0].record);
  r = Cli("records --dir a --pending");
  EXPECT_EQ(r.out, "");
}

// Jobs released on the line: approved, listed and revoked there; a station on a line that
// requires approved jobs runs an approved one and refuses another with only the device search
// sent, and while the database is out of reach goes by its copy of the list, saying so.
TEST_F(LineCli, TheLineApprovesAndRevokesJobsAndItsStationsRunOnlyApprovedOnes) {
  SimProcess sim({"--count", "1"});
  ASSERT_FALSE(sim.ports().empty());
  const std::string job = " --chip N32G430C8L7 fw.hex";
  Result r = Cli("job show" + job);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string fingerprint = r.out.substr(13, 64);
  r = Cli("job show --reset pulse" + job);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string pulse = r.out.substr(13, 64);

  r = Cli("job approve" + job + " --by 'R. Tan' --label 'fan 1.0' --db " + url_);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("approved " + fingerprint + "  N32G430C8L7  \"fan 1.0\"  approved ", 0), 0u)
      << r.out;
  r = Cli("job approve --reset pulse" + job + " --by 'R. Tan' --db " + url_);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  r = Cli("job revoke " + pulse + " --db " + url_);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(Cli("job revoke " + pulse + " --db " + url_).status, 1);  // already revoked
  EXPECT_EQ(Cli("job revoke 1234 --db " + url_).status, 2);
  r = Cli("job list --json --db " + url_);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto listed = JsonLines(r.out);
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0]["fingerprint"], fingerprint);
  EXPECT_EQ(listed[0]["approved_by"], "R. Tan");
  EXPECT_TRUE(listed[0]["revoked_at"].is_null());
  EXPECT_EQ(listed[1]["fingerprint"], pulse);
  EXPECT_TRUE(listed[1]["revoked_at"].is_string());

  // Not required yet: any job runs.
  r = Cli(Run("a", "--reset low blank-check"), sim.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(Cli("job require on --db " + url_).status, 0);
  EXPECT_NE(Cli("job list --db " + url_).out.find("approved jobs required: on"), std::string::npos);

  r = Cli(Run("a", "--reset pulse --trace wire.jsonl auto"), sim.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("job " + pulse + " (N32G430C8L7) was revoked "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("approved for N32G430C8L7: " + fingerprint.substr(0, 16) +
                       " \"fan 1.0\"; no step was run"),
            std::string::npos)
      << r.err;
  for (const auto& line : JsonLines(Slurp(dir / "wire.jsonl"))) {
    if (line.value("kind", "") == "frame" && line.value("dir", "") == "pc>prog") {
      EXPECT_EQ(line.value("name", ""), "identity") << line.dump();
    }
  }
  r = Cli(Run("a", "auto"), sim.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<LineRecord> line = OnTheLine();
  ASSERT_EQ(line.size(), 1u);
  EXPECT_EQ(line[0].record.jobFingerprint, fingerprint);

  // Out of reach: the station's copy from its last run decides, and says so.
  std::string problem;
  ASSERT_TRUE(server_->Stop(&problem)) << problem;
  r = Cli(Run("a", "--reset pulse auto"), sim.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("only the jobs approved in the station's copy of its list"),
            std::string::npos)
      << r.err;
  r = Cli(Run("a", "auto"), sim.ports());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // A station that never reached the line has no copy: a run requiring approved jobs is refused.
  r = Cli(Run("b", "--require-approved-job auto"), sim.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("the approved jobs cannot be read"), std::string::npos) << r.err;
}

TEST_F(LineCli, AStationKilledBeforeForwardingForwardsOnItsNextStart) {
  SimProcess sim({"--count", "2"});
  ASSERT_FALSE(sim.ports().empty());
  // Records committed to the station's store and never forwarded: the state a station killed
  // between its local commit and the forwarding leaves.
  Result r = Cli("run --records a --chip N32G430C8L7 fw.hex download auto auto", sim.ports());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(Local("a").size(), 4u);
  EXPECT_TRUE(OnTheLine().empty());

  r = Cli(Run("a", "download"), sim.ports());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto local = Local("a");
  const auto line = OnTheLine();
  ASSERT_EQ(line.size(), local.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(line[i].record, local[i].record);
    EXPECT_TRUE(local[i].forwarded);
  }
}

TEST_F(LineCli, AStationKilledWhileTheServerIsAwayForwardsEverythingOnceAtItsNextStart) {
  SimProcess sim({"--count", "2", "--realtime", "--flash-ms", "0"});
  ASSERT_FALSE(sim.ports().empty());
  std::string problem;
  ASSERT_TRUE(server_->Stop(&problem)) << problem;
  const pid_t pid = StartSixteenCycles(sim.ports());
  ASSERT_GE(pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const auto recorded = [&] {
    std::string error;
    auto store = RecordStore::Open(dir / "a", &error);  // none until the run made it
    return store ? store->Find({}).size() : 0;
  };
  while (recorded() < 4 && std::chrono::steady_clock::now() < deadline) {
    // A condition polled with a deadline: the pause only spares the store.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Killed mid-run, its records committed locally and none forwarded.
  kill(pid, SIGKILL);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(raw));
  const std::size_t left = Local("a").size();
  ASSERT_GE(left, 4u);
  ASSERT_TRUE(server_->Restart(&problem)) << problem;
  EXPECT_TRUE(OnTheLine().empty());

  const Result r = Cli(Run("a", "download"), sim.ports());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto local = Local("a");
  ASSERT_EQ(local.size(), left);
  const auto line = OnTheLine();
  ASSERT_EQ(line.size(), local.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(line[i].stationRow, local[i].rowId);
    EXPECT_EQ(line[i].record, local[i].record);
    EXPECT_TRUE(local[i].forwarded);
  }
}

TEST_F(LineCli, TheServerStoppedMidRunGetsEveryRecordOnceInOrder) {
  // Programmers slow enough that the server can be stopped between parts (StartSixteenCycles).
  SimProcess sim({"--count", "2", "--realtime", "--flash-ms", "0"});
  ASSERT_FALSE(sim.ports().empty());
  const pid_t pid = StartSixteenCycles(sim.ports());
  ASSERT_GE(pid, 0);
  auto wait = [](const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      // A condition polled with a deadline: the pause only spares the databases.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
  };
  // Stopped once the first records are on the line, started again once more wait locally.
  EXPECT_TRUE(wait([&] { return !OnTheLine().empty(); }));
  std::string problem;
  ASSERT_TRUE(server_->Stop(&problem)) << problem;
  const std::size_t atStop = Local("a").size();
  wait([&] { return Local("a").size() >= atStop + 4; });
  ASSERT_TRUE(server_->Restart(&problem)) << problem;
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << Slurp(dir / "stdout.txt") << Slurp(dir / "stderr.txt");

  const auto local = Local("a");
  ASSERT_EQ(local.size(), 32u);
  EXPECT_GT(local.size(), atStop);  // records were made while the server was away
  const auto line = OnTheLine();
  ASSERT_EQ(line.size(), local.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(line[i].stationRow, local[i].rowId);
    EXPECT_EQ(line[i].record, local[i].record);
  }
}

// A command that uses no line database does not load the PostgreSQL client (libpq, libpqxx and
// what they bring), as the dynamic loader reports it; the check of a connection string does.
TEST_F(CliRun, OnlyCommandsThatUseALineDatabaseLoadThePostgreSQLClient) {
  Write("fw.hex", MakeFirmware(0x08000000, 4096, 64).hex);
  const struct {
    const char* args;
    int status;
    bool loads;
  } cases[] = {
      {"--version", 0, false},
      {"convert --chip N32G430C8L7 fw.hex out.bin", 0, false},
      {"run --records rec --records-db postgresql://h:99999/db --chip N32G430C8L7 fw.hex auto", 2,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = korvan::testing::RunKorvanCli(dir.string(), c.args, "LD_DEBUG=libs");
    EXPECT_EQ(r.status, c.status) << r.err;
    ASSERT_NE(r.err.find("calling init: "), std::string::npos) << "no report of the loader";
    EXPECT_EQ(r.err.find("libpq") != std::string::npos, c.loads) << r.err;
  }
}

// korvan-cli laid out as installed (PREFIX/bin/korvan-cli) finds the client module beside
// itself or in PREFIX/lib/<multiarch>/korvan200nat/, or where KORVAN_LINE_MODULE says; without it,
// every use of a line database fails and says why. A port libpq reads as out of range shows that
// the module was loaded and asked.
TEST_F(CliRun, TheLineDatabaseClientModuleIsFoundWhereItIsInstalledOrNamedWhenMissing) {
  const fs::path root = fs::canonical(dir);
  const fs::path bin = root / "prefix/bin";
  const fs::path lib = (bin / KORVAN_LINE_MODULE_FROM_BIN).lexically_normal();
  fs::create_directories(bin);
  fs::create_directories(lib);
  const fs::path cli = bin / "korvan-cli";
  std::error_code ec;
  fs::create_hard_link(KORVAN_CLI_PATH, cli, ec);
  if (ec) fs::copy_file(KORVAN_CLI_PATH, cli);
  const fs::path built = fs::path(KORVAN_CLI_PATH).parent_path() / "korvan-line-pg.so";
  ASSERT_TRUE(fs::exists(built)) << built;
  Write("fw.hex", MakeFirmware(0x08000000, 4096, 64).hex);
  Write("not-a-module.so", "text, not a shared object\n");

  const std::string loaded = "port 99999 is not 1..65535";
  const std::string failed = "the PostgreSQL client module could not be loaded: ";
  const struct {
    const char* name;
    fs::path placed;  // where the module is put; empty: nowhere
    std::string env;
    std::string said;
  } cases[] = {
      {"beside the program", bin / "korvan-line-pg.so", "", loaded},
      {"in the package's library folder", lib / "korvan-line-pg.so", "", loaded},
      {"named by KORVAN_LINE_MODULE", root / "elsewhere.so",
       "KORVAN_LINE_MODULE=" + (root / "elsewhere.so").string(), loaded},
      {"nowhere",
       {},
       "",
       failed + "korvan-line-pg.so is neither beside the program (in " + bin.string() +
           ") nor in " + lib.string()},
      {"named but missing, though installed", lib / "korvan-line-pg.so",
       "KORVAN_LINE_MODULE=" + (root / "missing.so").string(),
       failed + (root / "missing.so").string()},
      {"named, no shared object",
       {},
       "KORVAN_LINE_MODULE=not-a-module.so",
       failed + (root / "not-a-module.so").string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const fs::path& old :
         {bin / "korvan-line-pg.so", lib / "korvan-line-pg.so", root / "elsewhere.so"}) {
      fs::remove(old);
    }
    if (!c.placed.empty()) fs::copy_file(built, c.placed);
    // Checked before anything is sent: a usage error either way, with the reason.
    const Result run = korvan::testing::RunKorvanCli(
        dir.string(),
        "run --records rec --records-db postgresql://h:99999/db --chip N32G430C8L7 fw.hex auto",
        c.env + " KORVAN_PORTS=''", cli.string());
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("--records-db postgresql://h:99999/db: " + c.said), std::string::npos)
        << run.err;
    if (c.said == loaded) continue;
    // Asking the line without its client fails by name, with nothing printed as found.
    const Result records = korvan::testing::RunKorvanCli(
        dir.string(), "records --db postgresql://h:5432/db", c.env, cli.string());
    EXPECT_EQ(records.status, 3) << records.out << records.err;
    EXPECT_EQ(records.out, "");
    EXPECT_NE(records.err.find("records: " + c.said), std::string::npos) << records.err;
  }
}

}  // namespace
