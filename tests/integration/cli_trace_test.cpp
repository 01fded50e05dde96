// The wire trace end to end: korvan-sim and korvan-cli run both trace the same wire, and
// korvan-cli trace reads both files back.
#include <nlohmann/json.hpp>

#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

// Frames per channel and direction in a trace file; fails the test on a line that is no JSON.
std::map<std::pair<int, std::string>, int> CountFrames(const fs::path& file) {
  std::map<std::pair<int, std::string>, int> frames;
  std::istringstream in(Slurp(file));
  std::string line;
  while (std::getline(in, line)) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << line;
    if (j.value("kind", "") == "frame") ++frames[{j.value("channel", 0), j.value("dir", "")}];
  }
  return frames;
}

TEST_F(CliRun, BothEndsTraceTheSameFramesAndTheTraceCommandReadsThem) {
  if (std::string(KORVAN_SIM_PATH).empty()) GTEST_SKIP() << "korvan-sim is not built";
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);
  const fs::path simTrace = dir / "sim.jsonl";
  // Five programmers: two stations of four, channels numbered 1..5 across them. Channel 2's
  // second reply comes with a spoilt CRC.
  SimProcess sim({"--count", "5", "--fault", "crc@2:2", "--trace", simTrace.string()});
  ASSERT_FALSE(sim.ports().empty());

  const Result r = Cli("run --chip N32G452CBL7 --trace run.jsonl app.hex auto", sim.ports());
  EXPECT_EQ(r.status, 1) << r.out << r.err;  // channel 2 fails on the bad CRC
  ASSERT_EQ(sim.Stop(), 0);

  // What the station sent is what the programmers read, frame for frame.
  const auto sent = CountFrames(dir / "run.jsonl");
  const auto read = CountFrames(simTrace);
  for (int channel = 1; channel <= 5; ++channel) {
    EXPECT_GE(sent.at({channel, "pc>prog"}), 2) << channel;  // identity, then work
    EXPECT_EQ(sent.at({channel, "pc>prog"}), read.at({channel, "pc>prog"})) << channel;
  }

  const Result timeline = Cli("trace run.jsonl");
  EXPECT_EQ(timeline.status, 0) << timeline.err;
  EXPECT_EQ(timeline.err, "");
  for (const char* text : {"channel 1\n", "channel 2\n", "channel 5\n", "identity", "ms after",
                           "CRC BAD", "summary:", "1 bad CRC"}) {
    EXPECT_NE(timeline.out.find(text), std::string::npos) << text << "\n" << timeline.out;
  }
  const Result one = Cli("trace --channel 2 sim.jsonl");
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_NE(one.out.find("channel 2\n"), std::string::npos) << one.out;
  EXPECT_EQ(one.out.find("channel 1\n"), std::string::npos) << one.out;
}

TEST_F(CliRun, ATraceFileThatCannotBeWrittenIsSaidOnceAndTheRunGoesOn) {
  Options options;
  options.count = 1;
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);
  const Result r = Cli("run --chip N32G452CBL7 --ports " + Ports(*emulator) +
                       " --trace no-such-folder/run.jsonl app.hex auto");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("no-such-folder/run.jsonl cannot be written"), std::string::npos) << r.err;
}

}  // namespace
