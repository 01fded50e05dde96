// The record store as a production line meets it: korvan-cli run against emulated programmers
// refuses serial numbers OK parts already got, carries on with `continue`, and korvan-cli records
// finds, counts and summarises what the runs wrote.
#include <nlohmann/json.hpp>

#include "integration/cli_fixture.h"

namespace {

using namespace korvan::testing::cli;
using Json = nlohmann::json;

TEST_F(CliRun, SerialNumbersOfOkPartsAreRefusedUntilContinuedOrAllowed) {
  Options options;
  options.count = 2;
  auto emulator = StartEmulator(options);
  Write("fw.hex", MakeFirmware(0x08000000, 4000, 512).hex);
  const std::string run =
      "run --chip N32G457VEL7 --records rec --ports " + Ports(*emulator) + " fw.hex ";
  auto records = [&] {
    const Result all = Cli("records --dir rec");
    EXPECT_EQ(all.status, 0) << all.err;
    return JsonLines(all.out);
  };

  Result r = Cli(run + "--serial-numbers 100 auto");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_EQ(records().size(), 2u);

  // The same numbers again: refused before anything is sent, naming the earlier part.
  r = Cli(run + "--serial-numbers 100 auto");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  const auto first = records();
  ASSERT_EQ(first.size(), 2u);
  const Json& earlier = first[0]["serial_number"] == 100 ? first[0] : first[1];
  const std::string said = r.out + r.err;
  EXPECT_NE(said.find("serial number 100 (0x00000064) of channel 1 was already given to an OK "
                      "part of N32G457VEL7 at 0x0000FFF0: channel " +
                      std::to_string(earlier["channel"].get<int>()) + ", " +
                      earlier["time"].get<std::string>() + ", chip UID " +
                      (earlier["chip_uid"].is_null() ? std::string("(not read)")
                                                     : earlier["chip_uid"].get<std::string>())),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("[auto]"), std::string::npos) << "a step ran: " << said;

  // Overridden: programmed, with a warning.
  r = Cli(run + "--serial-numbers 100 --allow-reused-serial-numbers auto");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE((r.out + r.err).find("warning: serial number 100"), std::string::npos)
      << r.out << r.err;
  ASSERT_EQ(records().size(), 4u);

  // Carried on: each channel after its own highest number.
  r = Cli(run + "--serial-numbers continue auto");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  auto all = records();
  ASSERT_EQ(all.size(), 6u);
  std::set<std::uint32_t> continued;
  for (std::size_t i = 4; i < 6; ++i) {
    continued.insert(all[i]["serial_number"].get<std::uint32_t>());
    EXPECT_EQ(all[i]["serial_number_address"], 0xFFF0);
    EXPECT_EQ(all[i]["record_id"].get<std::string>().size(), 32u);
  }
  EXPECT_EQ(continued, (std::set<std::uint32_t>{101, 0x40000001}));

  // Serial numbers off: not checked.
  r = Cli(run + "auto");
  EXPECT_EQ(r.status, 0) << r.out << r.err;

  // The store answers the same: by serial number, and the reused number 100.
  r = Cli("records --dir rec --serial 100 --result ok");
  EXPECT_EQ(JsonLines(r.out).size(), 2u) << r.out << r.err;
  r = Cli("records --dir rec --duplicates --json");
  EXPECT_EQ(r.status, 0) << r.err;
  bool reported100 = false;
  for (const Json& group : JsonLines(r.out)) {
    if (group.contains("serial_number") && group["serial_number"] == 100) {
      reported100 = true;
      EXPECT_EQ(group["records"].size(), 2u);
    }
  }
  EXPECT_TRUE(reported100) << r.out;
}

TEST_F(CliRun, SummaryCountsARunWithOneFailingChannel) {
  Options options;
  options.count = 4;
  options.faults.push_back({korvan::sim::FaultKind::Crc, 3, 2});  // channel 3's second reply
  auto emulator = StartEmulator(options);
  Write("app.hex", MakeFirmware(0x08000000, 6000, 128).hex);
  Result r =
      Cli("run --chip N32G452CBL7 --records rec --ports " + Ports(*emulator) + " app.hex auto");
  ASSERT_EQ(r.status, 1) << r.out << r.err;
  const auto listing = JsonLines(Cli("records --dir rec --result ng").out);
  ASSERT_EQ(listing.size(), 1u);
  const int ngChannel = listing[0]["channel"];

  r = Cli("records --dir rec --summary --json --html page.html");
  ASSERT_EQ(r.status, 0) << r.err;
  const Json summary = Json::parse(r.out);
  EXPECT_EQ(summary["total"]["parts"], 4);
  EXPECT_EQ(summary["total"]["ok"], 3);
  EXPECT_EQ(summary["total"]["ng"], 1);
  EXPECT_DOUBLE_EQ(summary["total"]["yield"].get<double>(), 75.0);
  ASSERT_EQ(summary["ng_codes"].size(), 1u);
  EXPECT_EQ(summary["ng_codes"][0]["count"], 1);
  EXPECT_EQ(summary["ng_codes"][0]["result"], listing[0]["result"]);
  EXPECT_EQ(summary["ng_codes"][0]["text"], listing[0]["result_text"]);
  for (const Json& row : summary["days"]) {
    if (row["channel"] == ngChannel) {
      EXPECT_EQ(row["ng"], 1);
    }
  }
  const std::string page = Slurp(dir / "page.html");
  EXPECT_NE(page.find("<svg"), std::string::npos);
  // Self-contained: nothing fetched.
  for (const char* fetch : {"<script", "<link", "src=", "@import", "url("}) {
    EXPECT_EQ(page.find(fetch), std::string::npos) << fetch;
  }
}

}  // namespace
