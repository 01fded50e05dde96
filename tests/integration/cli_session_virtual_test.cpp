// The command line's session (its stations of four, the device search, steps, restart waits and
// a stop in the middle of parts) on emulated programmers in this process, on their virtual
// clock: seconds on the wire take milliseconds, and nothing waits on the wall clock.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/job_files.h"
#include "cli/run_output.h"
#include "cli/station_session.h"
#include "core/image/firmware_image.h"
#include "integration/station_rig.h"
#include "lib/virtual_bench.h"

namespace korvan::cli {
namespace {

using namespace std::chrono_literals;

// What a run shows, kept for the assertions.
struct KeptOutput : RunOutput {
  std::vector<std::string> lines;
  std::vector<std::string> problems;
  std::vector<StepReport> steps;
  void InfoLine(const std::string& line) override { lines.push_back(line); }
  void SearchEnded(const std::vector<ChannelReport>&) override {}
  void StepEnded(const StepReport& report) override { steps.push_back(report); }
  void StandAloneResult(int, std::uint8_t) override {}
  void Problem(const std::string& text) override { problems.push_back(text); }
  void Finished(int) override {}
};

class CliSessionVirtual : public ::testing::Test {
 protected:
  // `count` programmers, found by the session's first search, with a small job loaded into
  // station 1 and taken by the others, as `korvan-cli run` loads it.
  void StartWith(int count, sim::Options options = {},
                 std::function<void(const std::filesystem::path&)> prepare = {}) {
    options.count = count;
    std::vector<std::string> names;
    std::string ports;
    for (int n = 1; n <= count; ++n) {
      names.push_back((dir_.path() / ("ttyKV" + std::to_string(n))).string());
      ports += (n > 1 ? ":" : "") + names.back();
    }
    bench_ = std::make_unique<sim::VirtualBench>(options, names);
    time_ = std::make_unique<sim::BenchTime>(*bench_);
    session_ = std::make_unique<StationSession>(frontend_, output_, StationSession::PortWrap{},
                                                bench_->Provider());
    session_->loop().SetTime(time_.get());
    session_->recordFolder = dir_.path() / "records";
    if (prepare) prepare(dir_.path());
    session_->environment = {dir_.path(), "", ""};
    session_->Start(ports);
    session_->AwaitSearch();

    const std::filesystem::path image = dir_.path() / "fw.bin";
    std::ofstream(image, std::ios::binary) << std::string(2048, '\x5A');
    frontend_.chipPart = "N32G030F6S7";
    Station& first = session_->station();
    first.DevButtonClick();
    const LoadSummary loaded = LoadInputs(first.desk(), frontend_, {image.string()});
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.problem;
    session_->ForEachFurtherStation(
        [&](Station& further, CliFrontend&, int) { further.AdoptJob(first); });
    session_->SetNumbersChecked(true);
  }

  // A command on every station, as a step of `korvan-cli run` runs it.
  StepReport Step(const std::string& name, void (Station::*command)()) {
    return session_->RunStep(name, [&] {
      for (int s = 1; s <= session_->StationCount(); ++s) (session_->station(s).*command)();
    });
  }

  std::size_t RecordsWritten() {
    std::size_t written = 0;
    for (int s = 1; s <= session_->StationCount(); ++s) {
      written += session_->recordWriter(s)->written();
    }
    return written;
  }

  testing::TempFolder dir_;
  std::ostringstream out_, err_;
  CliFrontend frontend_{out_, err_};
  KeptOutput output_;
  std::unique_ptr<sim::VirtualBench> bench_;
  std::unique_ptr<sim::BenchTime> time_;
  std::unique_ptr<StationSession> session_;
};

TEST_F(CliSessionVirtual, SixProgrammersMakeTwoStationsThatDownloadWaitForRestartsAndRunAuto) {
  sim::Options slowRestart;
  slowRestart.restartDelayMs = 1500;  // each programmer answers its restart 1.5 s late
  StartWith(6, slowRestart);
  ASSERT_EQ(session_->StationCount(), 2);
  ASSERT_EQ(session_->ConnectedCount(), 6);
  EXPECT_TRUE(output_.problems.empty()) << output_.problems.front();

  const StepReport download = Step("download", &Station::SpdBtnDownLoadClick);
  EXPECT_TRUE(download.ok) << download.note;
  ASSERT_EQ(download.channels.size(), 6u);
  for (const ChannelStepResult& c : download.channels) EXPECT_TRUE(c.ok) << c.channel;

  // The restarts' answers come on the virtual clock; none is expected once the wait ended.
  const auto before = bench_->Now();
  session_->AwaitRestartAnswers();

  for (int c = 1; c <= 6; ++c) {
    EXPECT_EQ(session_->ChannelOf(c).restartAnswerDue, 0);
  }
  EXPECT_GE(bench_->Now() - before, 1s);

  const StepReport cycle = Step("auto", &Station::AutoSpdBtnClick);
  EXPECT_TRUE(cycle.ok) << cycle.note;
  ASSERT_EQ(cycle.channels.size(), 6u);
  for (const ChannelStepResult& c : cycle.channels) {
    ASSERT_TRUE(c.outcome) << c.channel;
    EXPECT_TRUE(c.outcome->autoCycle);
    EXPECT_EQ(c.outcome->result, OperationResult::Ok) << c.channel << ": " << c.outcome->message;
  }
  // One record per part, from either station; the further station's lines say whose they are.
  EXPECT_EQ(session_->recordWriter(1)->written(), 4u);
  EXPECT_EQ(session_->recordWriter(2)->written(), 2u);
  bool secondStationSpoke = false;
  for (const std::string& line : output_.lines)
    secondStationSpoke |= line.starts_with("station 2:");
  EXPECT_TRUE(secondStationSpoke);
}

// Programmers that need firmware are upgraded by the first search and found again with the new
// firmware's identity before anything else runs, even when every upgrade is over before the
// search's wait ends (at memory speed here): the search is repeated because upgrades ended,
// not only while one is still running.
TEST_F(CliSessionVirtual, ProgrammersThatNeedFirmwareAreUpgradedAndFoundAgain) {
  sim::Options needy;
  needy.model = "MMN";
  StartWith(5, needy, [](const std::filesystem::path& dir) {
    // Three blocks of 1024 address units; the identity text sits in the middle block.
    const std::string identity = "Korvan200NAT V3.0";
    std::vector<std::uint8_t> firmware(3 * 2048, 0x5A);
    std::copy(identity.begin(), identity.end(), firmware.begin() + 2048 + 100);
    firmware[2048 + 100 + identity.size()] = 0;
    std::string error;
    const auto file = PackFirmwareImage(firmware, {"V3.0", "session test", 0, 0, 11}, error);
    ASSERT_FALSE(file.empty()) << error;
    std::ofstream(dir / kFirmwareFileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
  });
  ASSERT_EQ(session_->ConnectedCount(), 5);
  for (int c = 1; c <= 5; ++c) {
    const ChannelPlace at = PlaceOf(c);
    EXPECT_EQ(session_->station(at.station).IdentityText(at.channel), "Korvan200NAT V3.0") << c;
    EXPECT_EQ(bench_->Snapshot(c).identity, "Korvan200NAT V3.0") << c;
  }
}

TEST_F(CliSessionVirtual, AStopInTheMiddleOfPartsRecordsEachAsInterruptedAndClosesThePorts) {
  sim::Options slow;
  slow.realtime = true;  // the wire and flash times of real programmers, on the virtual clock
  StartWith(5, slow);
  ASSERT_EQ(session_->ConnectedCount(), 5);
  ASSERT_TRUE(Step("download", &Station::SpdBtnDownLoadClick).ok);
  session_->AwaitRestartAnswers();

  for (int s = 1; s <= session_->StationCount(); ++s) session_->station(s).AutoSpdBtnClick();
  session_->loop().RunFor(50ms);
  const std::size_t before = RecordsWritten();
  const std::vector<int> interrupted = session_->Interrupt(SIGTERM);
  EXPECT_EQ(interrupted, (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(RecordsWritten() - before, 5u);
  for (int c = 1; c <= 5; ++c) {
    const ChannelPlace at = PlaceOf(c);
    EXPECT_FALSE(session_->station(at.station).port(at.channel).IsOpen()) << c;
  }
}

}  // namespace
}  // namespace korvan::cli
