// korvan-cli run --json as a script reads it, and the production records the run leaves.
#include <nlohmann/json.hpp>

#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;
using Json = nlohmann::json;

std::size_t Count(const std::vector<Json>& events, const std::string& kind) {
  return static_cast<std::size_t>(std::count_if(events.begin(), events.end(),
                                                [&](const Json& e) { return e["event"] == kind; }));
}

TEST_F(CliRun, JsonEventsCarryEachChannelsResultWithOneChannelFailing) {
  Options options;
  options.count = 4;
  options.faults.push_back({korvan::sim::FaultKind::Crc, 3, 2});  // channel 3's second reply
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);
  const std::string failing = emulator->Paths()[2];

  const Result r = Cli("run --json --records recs --chip N32G452CBL7 --ports " + Ports(*emulator) +
                       " app.hex auto");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const std::vector<Json> events = JsonLines(r.out);
  ASSERT_FALSE(events.empty());

  EXPECT_GT(Count(events, "info"), 4u);
  EXPECT_GT(Count(events, "gauge"), 4u);
  ASSERT_EQ(Count(events, "search"), 1u);
  ASSERT_EQ(Count(events, "step"), 1u);
  int failingChannel = 0;
  for (const Json& e : events) {
    if (e["event"] == "search") {
      ASSERT_EQ(e["channels"].size(), 4u);
      for (const Json& ch : e["channels"]) {
        EXPECT_TRUE(ch["connected"].get<bool>());
        EXPECT_EQ(ch["identity"], "Korvan200NAT V2.9");
      }
    }
    if (e["event"] == "gauge") {
      EXPECT_GE(e["channel"].get<int>(), 1);
      EXPECT_LE(e["progress"].get<int>(), e["maximum"].get<int>());
    }
    if (e["event"] != "step") continue;
    EXPECT_EQ(e["step"], "auto");
    EXPECT_FALSE(e["ok"].get<bool>());
    ASSERT_EQ(e["channels"].size(), 4u);
    for (const Json& ch : e["channels"]) {
      SCOPED_TRACE(ch.dump());
      EXPECT_TRUE(ch["auto_cycle"].get<bool>());
      if (ch["port"] == failing) {
        failingChannel = ch["channel"].get<int>();
        EXPECT_FALSE(ch["ok"].get<bool>());
        EXPECT_EQ(ch["result"], "failed");
        EXPECT_EQ(ch["status"], 0x23);  // the reply's CRC did not match
      } else {
        EXPECT_TRUE(ch["ok"].get<bool>());
        EXPECT_EQ(ch["result"], "ok");
        EXPECT_EQ(ch["command"], 9);  // Auto without option bytes ends after verify
      }
    }
  }
  ASSERT_NE(failingChannel, 0);
  const Json& summary = events.back();
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["exit_status"], 1);
  EXPECT_EQ(summary["failed_channels"], Json::array({failingChannel}));
  EXPECT_EQ(summary["steps"], Json::parse(R"([{"step":"auto","ok":false}])"));

  // One production record per part: three good, the failing channel's bad.
  const Result records = Cli("records --dir recs");
  EXPECT_EQ(records.status, 0) << records.err;
  const std::vector<Json> parts = JsonLines(records.out);
  ASSERT_EQ(parts.size(), 4u) << records.out;
  for (const Json& part : parts) {
    EXPECT_EQ(part["origin"], "auto");
    EXPECT_EQ(part["chip"], "N32G452CBL7");
    EXPECT_EQ(part["verdict"], part["port"] == failing ? "NG" : "OK") << part.dump();
  }

  // --quiet: the same results without the panel lines and gauges.
  const Result quiet = Cli("run --json --quiet --records recs --chip N32G452CBL7 --ports " +
                           Ports(*emulator) + " app.hex blank-check");
  const std::vector<Json> few = JsonLines(quiet.out);
  EXPECT_EQ(Count(few, "info") + Count(few, "gauge"), 0u) << quiet.out;
  EXPECT_EQ(Count(few, "step"), 1u) << quiet.out;
  ASSERT_FALSE(few.empty());
  EXPECT_EQ(few.back()["event"], "summary");
}

}  // namespace
