// korvan-cli run --bind: channels keep their adapters whatever the order the ports are found in;
// a missing adapter fails its channel, an adapter bound to no channel is left alone.
#include <nlohmann/json.hpp>

#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;

class CliBind : public CliRun {
 protected:
  void SetUp() override {
    Options options;
    options.count = 3;
    emulator = StartEmulator(options);
    paths = emulator->Paths();
    std::sort(paths.begin(), paths.end());
    Write("app.hex", MakeFirmware(0x08000000, 600, 128).hex);
    // Channel 1 takes the last port found, channel 2 the first; the middle one is bound to no
    // channel and channel 4's adapter is not plugged in.
    Write("line3.bind",
          "# fixture of line 3\n1  " + paths[2] + "\n2 " + paths[0] + "   # left\n\n4 FT9NOSUCH\n");
  }
  std::unique_ptr<Emulator> emulator;
  std::vector<std::string> paths;
};

TEST_F(CliBind, ChannelsTakeTheirBoundPortsAndAMissingAdapterFailsItsChannel) {
  const Result r = Cli("run --chip N32G452CBL7 --bind line3.bind --ports " + Ports(*emulator) +
                       " app.hex program");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("[program] channel 1 (" + paths[2] + "): OK"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[program] channel 2 (" + paths[0] + "): OK"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(paths[1]), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("channel 4: adapter FT9NOSUCH (bind file line 5) is not connected"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("adapter " + paths[1] + " is bound to no channel"), std::string::npos)
      << r.err;

  const Result json = Cli("run --json --quiet --chip N32G452CBL7 --bind line3.bind --ports " +
                          Ports(*emulator) + " app.hex program");
  EXPECT_EQ(json.status, 1) << json.out << json.err;
  EXPECT_NE(json.err.find("channel 4: adapter FT9NOSUCH"), std::string::npos) << json.err;
  bool missing = false;
  nlohmann::json summary;
  std::istringstream lines(json.out);
  for (std::string line; std::getline(lines, line);) {
    const auto event = nlohmann::json::parse(line);
    if (event["event"] == "missing") {
      missing = true;
      EXPECT_EQ(event["channel"], 4);
      EXPECT_EQ(event["adapter"], "FT9NOSUCH");
    }
    if (event["event"] == "summary") summary = event;
  }
  EXPECT_TRUE(missing) << json.out;
  EXPECT_EQ(summary["exit_status"], 1);
  EXPECT_EQ(summary["failed_channels"], nlohmann::json::array({4}));
}

TEST_F(CliBind, AMalformedOrUnreadableBindFileRunsNothing) {
  Write("bad.bind", "1 " + paths[0] + "\n2 A B\n");
  const Result bad = Cli("run --chip N32G452CBL7 --bind bad.bind --ports " + Ports(*emulator) +
                         " app.hex program");
  EXPECT_EQ(bad.status, 2) << bad.out << bad.err;
  EXPECT_NE(bad.err.find("bad.bind: line 2: expected CHANNEL ADAPTER"), std::string::npos)
      << bad.err;
  EXPECT_EQ(bad.out, "");

  const Result none = Cli("run --chip N32G452CBL7 --bind no-such.bind --ports " + Ports(*emulator) +
                          " app.hex program");
  EXPECT_EQ(none.status, 3) << none.out << none.err;
}

}  // namespace
