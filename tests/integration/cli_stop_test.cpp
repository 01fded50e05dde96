// korvan-cli run stopped by a signal in the middle of Auto, and production records that cannot be
// written: the real program against korvan-sim at real-time speed, so that the parts are still
// being programmed when the signal comes.
#include <fcntl.h>
#include <poll.h>

#include <chrono>
#include <ctime>

#include "core/records/record_log.h"
#include "core/util/format.h"
#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

// korvan-cli as a child process whose stdout the test reads line by line as it comes.
class CliProcess {
 public:
  CliProcess(const fs::path& dir, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(127);
      setenv("KORVAN_PORTS", "", 1);
      dup2(out[1], STDOUT_FILENO);
      const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(KORVAN_CLI_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KORVAN_CLI_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    fd_ = out[0];
  }
  ~CliProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }

  // Reads lines until one holds `text` (true), or the program ends its output or the guard time
  // passes (false). Everything read is kept in `out`.
  bool AwaitLine(const std::string& text, std::chrono::seconds guard = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + guard;
    std::size_t from = 0;
    for (;;) {
      for (std::size_t end; (end = out.find('\n', from)) != std::string::npos; from = end + 1) {
        if (out.substr(from, end - from).find(text) != std::string::npos) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      out.append(buffer, static_cast<std::size_t>(n));
    }
  }
  void Signal(int signalNumber) { kill(pid_, signalNumber); }
  // Reads the rest of the output and returns the exit status (128 + N for a death by signal N).
  int Wait() {
    AwaitLine("\x01never\x01", std::chrono::seconds(60));
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }

  std::string out;

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "records_%Y_%m_%d", &local);
  return text;
}

class CliStop : public CliRun, public ::testing::WithParamInterface<int> {};

// Four parts half programmed when the signal comes: each gets an NG record marked interrupted,
// nothing more is asked of the programmers, and the exit status is 128 + the signal.
TEST_P(CliStop, AStopSignalRecordsThePartsAtWorkAsInterrupted) {
  const int signalNumber = GetParam();
  Write("fw.hex", MakeFirmware(0x08000000, 128 * 1024, 128).hex);
  SimProcess sim({"--count", "4", "--realtime", "--flash-ms", "150"});
  ASSERT_FALSE(sim.ports().empty());
  fs::create_directory(dir / "rec");

  CliProcess cli(dir, {"run", "--chip", "N32G452CBL7", "--ports", sim.ports(), "--json",
                       "--records", "rec", "fw.hex", "auto"});
  // Programming has begun once a gauge moves past its first step.
  ASSERT_TRUE(cli.AwaitLine("\"progress\":3,")) << cli.out;
  cli.Signal(signalNumber);
  EXPECT_EQ(cli.Wait(), 128 + signalNumber) << cli.out << Slurp(dir / "stderr.txt");

  const std::string last = cli.out.substr(cli.out.rfind('\n', cli.out.size() - 2) + 1);
  EXPECT_NE(last.find("\"event\":\"summary\""), std::string::npos) << last;
  EXPECT_NE(last.find("\"exit_status\":" + std::to_string(128 + signalNumber)), std::string::npos)
      << last;
  EXPECT_NE(cli.out.find("\"event\":\"problem\",\"text\":\"stopped by " +
                         korvan::Format("SIG%s", sigabbrev_np(signalNumber))),
            std::string::npos)
      << cli.out;

  const korvan::RecordListing records = korvan::ReadRecords(dir / "rec");
  ASSERT_EQ(records.entries.size(), 4u) << cli.out;
  for (const auto& entry : records.entries) {
    EXPECT_TRUE(entry.record.interrupted) << entry.jsonLine;
    EXPECT_FALSE(entry.record.pass) << entry.jsonLine;
    EXPECT_EQ(entry.record.result, 128 + signalNumber);
  }
  // The ports were let go: a new station finds all four programmers at once.
  const Result again = Cli("ports --ports " + sim.ports());
  EXPECT_EQ(again.status, 0) << again.out << again.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStop, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

// Eight programmers are two stations of four: a stop interrupts the parts of both.
TEST_F(CliRun, AStopSignalInterruptsThePartsOfEveryStation) {
  Write("fw.hex", MakeFirmware(0x08000000, 128 * 1024, 128).hex);
  SimProcess sim({"--count", "8", "--realtime", "--flash-ms", "150"});
  ASSERT_FALSE(sim.ports().empty());
  fs::create_directory(dir / "rec");

  CliProcess cli(dir, {"run", "--chip", "N32G452CBL7", "--ports", sim.ports(), "--json",
                       "--records", "rec", "fw.hex", "auto"});
  // A channel of the second station is programming (and so are the others, started with it).
  ASSERT_TRUE(cli.AwaitLine("\"channel\":8,\"progress\":3,")) << cli.out;
  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(), 128 + SIGINT) << cli.out << Slurp(dir / "stderr.txt");
  EXPECT_NE(cli.out.find("interrupted on channel 1 2 3 4 5 6 7 8"), std::string::npos) << cli.out;

  const korvan::RecordListing records = korvan::ReadRecords(dir / "rec");
  ASSERT_EQ(records.entries.size(), 8u) << cli.out;
  std::vector<int> channels;
  for (const auto& entry : records.entries) {
    EXPECT_TRUE(entry.record.interrupted) << entry.jsonLine;
    EXPECT_FALSE(entry.record.pass) << entry.jsonLine;
    EXPECT_EQ(entry.record.station, (entry.record.channel - 1) / 4 + 1) << entry.jsonLine;
    channels.push_back(entry.record.channel);
  }
  std::sort(channels.begin(), channels.end());
  EXPECT_EQ(channels, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// A reader that goes away ends the printing, not the run: the parts are finished and recorded.
TEST_F(CliRun, AClosedOutputEndsThePrintingNotTheRun) {
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);
  fs::create_directory(dir / "rec");
  Write("pipe.sh", "cd '" + dir.string() +
                       "' && KORVAN_PORTS= '" KORVAN_CLI_PATH
                       "' run --chip N32G452CBL7 --records rec --ports " +
                       Ports(*emulator) +
                       " app.hex auto auto 2>stderr.txt | head -c 1 >/dev/null\n"
                       "echo ${PIPESTATUS[0]} >status.txt\n");
  ASSERT_EQ(std::system(("bash '" + (dir / "pipe.sh").string() + "'").c_str()), 0);
  EXPECT_EQ(Slurp(dir / "status.txt"), "0\n") << Slurp(dir / "stderr.txt");
  EXPECT_EQ(korvan::ReadRecords(dir / "rec").entries.size(), 4u);
}

// Records that cannot be written: the run fails with 4 and says so on stderr, even with --quiet
// and with --json; a record is in both day files or in neither.
TEST_F(CliRun, ARecordThatCannotBeWrittenFailsTheRun) {
  Options options;
  options.count = 1;
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);
  Write("not-a-folder", "");
  fs::create_directory(dir / "full");
  // A disk that is full for the CSV file only: the JSON line already written is taken back.
  fs::create_symlink("/dev/full", dir / "full" / (Today() + ".csv"));

  struct Case {
    const char* records;
    const char* flags;
    const char* says;  // on stderr
    bool programmed;   // whether the part was programmed before the failure showed
  } cases[] = {
      {"not-a-folder/rec", "--quiet", "production-record folder", false},
      {"not-a-folder/rec", "--json", "production-record folder", false},
      {"full", "--quiet", "1 production record(s) could not be written", true},
      {"full", "--json --quiet", "No space left on device", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.records) + " " + c.flags);
    const Result r = Cli(std::string("run --chip N32G452CBL7 --ports ") + Ports(*emulator) +
                         " --records " + c.records + " " + c.flags + " app.hex auto");
    EXPECT_EQ(r.status, 4) << r.out << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    if (std::string(c.flags).find("--json") != std::string::npos) {
      EXPECT_NE(r.out.find("\"event\":\"problem\""), std::string::npos) << r.out;
      EXPECT_NE(r.out.find("\"exit_status\":4"), std::string::npos) << r.out;
    }
    EXPECT_EQ(r.out.find("[auto]") != std::string::npos ||
                  r.out.find("\"step\":\"auto\"") != std::string::npos,
              c.programmed)
        << r.out;
  }
  EXPECT_EQ(Slurp(dir / "full" / (Today() + ".jsonl")), "");
  // The part was programmed well, but a part without its record is not counted good.
  const Result text =
      Cli("run --chip N32G452CBL7 --ports " + Ports(*emulator) + " --records full app.hex auto");
  EXPECT_EQ(text.status, 4);
  EXPECT_NE(text.out.find("): not recorded: its production record could not be written"),
            std::string::npos)
      << text.out;
}

}  // namespace
