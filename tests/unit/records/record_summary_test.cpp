// The production summary: counts, yield, parts per hour and the NG Pareto on a small fixture, and
// its HTML page as a browser shows it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/records/record_summary.h"
#include "core/util/format.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::ReadAll;
using testing::TempDir;

ProductionRecord Part(const std::string& time, int channel, int result, const char* text) {
  ProductionRecord r;
  r.time = time;
  r.channel = channel;
  r.pass = result == 0;
  r.result = result;
  r.resultText = text;
  return r;
}

// Two days, two channels: channel 1 makes 4 parts in 30 minutes on the 10th (one NG), channel 2
// two; the 11th has only NG parts of channel 1 and 2.
std::vector<ProductionRecord> Fixture() {
  return {
      Part("2026-12-10T08:00:00+08:00", 1, 0, "OK"),
      Part("2026-12-10T08:10:00+08:00", 1, 0x12, "verify failed"),
      Part("2026-12-10T08:20:00+08:00", 1, 0, "OK"),
      Part("2026-12-10T08:30:00+08:00", 1, 0, "OK"),
      Part("2026-12-10T09:15:00+08:00", 2, 0, "OK"),
      Part("2026-12-10T09:15:30+08:00", 2, 0, "OK"),
      Part("2026-12-11T10:00:00+08:00", 1, 0x21, "no chip"),
      Part("2026-12-11T10:01:00+08:00", 2, 0x12, "verify failed at 0x08000000"),
      Part("2026-12-11T10:02:00+08:00", 2, 0x12, "verify failed"),
  };
}

RecordSummary Summarise(const std::vector<ProductionRecord>& records) {
  SummaryBuilder builder;
  for (const ProductionRecord& r : records) builder.Add(r);
  return builder.Finish();
}

TEST(RecordSummary, CountsPerDayAndChannelAndTheNgCodesMostFrequentFirst) {
  const RecordSummary s = Summarise(Fixture());
  struct Want {
    const char* day;
    int channel;
    std::size_t parts, ok, ng;
    std::optional<double> perHour;
  };
  const Want want[] = {
      {"2026-12-10", 1, 4, 3, 1, 6.0},           // 3 parts after the first in 30 minutes
      {"2026-12-10", 2, 2, 2, 0, std::nullopt},  // 30 s apart: too short to say
      {"2026-12-10", 0, 6, 5, 1, 5 * 3600.0 / 4530},
      {"2026-12-11", 1, 1, 0, 1, std::nullopt},
      {"2026-12-11", 2, 2, 0, 2, 60.0},
      {"2026-12-11", 0, 3, 0, 3, 60.0},
  };
  ASSERT_EQ(s.days.size(), std::size(want));
  for (std::size_t i = 0; i < s.days.size(); ++i) {
    const SummaryRow& row = s.days[i];
    EXPECT_EQ(row.key, want[i].day) << i;
    EXPECT_EQ(row.channel, want[i].channel) << i;
    EXPECT_EQ(row.counts.parts, want[i].parts) << i;
    EXPECT_EQ(row.counts.ok, want[i].ok) << i;
    EXPECT_EQ(row.counts.ng, want[i].ng) << i;
    ASSERT_EQ(row.counts.partsPerHour.has_value(), want[i].perHour.has_value()) << i;
    if (want[i].perHour) {
      EXPECT_NEAR(*row.counts.partsPerHour, *want[i].perHour, 1e-9) << i;
    }
  }
  EXPECT_EQ(s.total.parts, 9u);
  EXPECT_NEAR(s.total.yield(), 500.0 / 9, 1e-9);
  ASSERT_EQ(s.channels.size(), 2u);
  EXPECT_EQ(s.channels[1].counts.parts, 4u);

  // 0x12 three times (its commonest text), then 0x21 once.
  ASSERT_EQ(s.ngCodes.size(), 2u);
  EXPECT_EQ(s.ngCodes[0].result, 0x12);
  EXPECT_EQ(s.ngCodes[0].count, 3u);
  EXPECT_EQ(s.ngCodes[0].text, "verify failed");
  EXPECT_EQ(s.ngCodes[1].result, 0x21);

  // Hours of the whole station: 08, 09 on the 10th, 10 on the 11th.
  ASSERT_EQ(s.hours.size(), 3u);
  EXPECT_EQ(s.hours[0].key, "2026-12-10 08");
  EXPECT_EQ(s.hours[0].counts.parts, 4u);
  EXPECT_EQ(s.hours[2].counts.ng, 3u);

  const std::string text = SummaryText(s);
  EXPECT_NE(text.find("2026-12-10       1      4      3      1    75.0%       6.0"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("      3  0x12  verify failed\n      1  0x21  no chip\n"), std::string::npos)
      << text;
}

// Per job: the parts of each fingerprint in the order it first appears; records that name none
// count as one unknown job.
TEST(RecordSummary, CountsPerJob) {
  std::vector<ProductionRecord> records = Fixture();
  const std::string a = std::string(64, 'a'), b = "b1" + std::string(62, '0');
  for (std::size_t i = 0; i < records.size(); ++i) {
    records[i].chip = "N32G452CBL7";
    records[i].jobFingerprint = i < 4 ? b : i < 6 ? a : "";
  }
  const RecordSummary s = Summarise(records);
  ASSERT_EQ(s.jobs.size(), 3u);
  EXPECT_EQ(s.jobs[0].fingerprint, b);
  EXPECT_EQ(s.jobs[0].counts.parts, 4u);
  EXPECT_EQ(s.jobs[0].counts.ng, 1u);
  EXPECT_EQ(s.jobs[1].fingerprint, a);
  EXPECT_EQ(s.jobs[1].counts.ok, 2u);
  EXPECT_EQ(s.jobs[2].fingerprint, "");
  EXPECT_EQ(s.jobs[2].counts.ng, 3u);

  const std::string text = SummaryText(s);
  EXPECT_NE(text.find("b100000000000000  N32G452CBL7       4      3      1    75.0%       6.0\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("unknown           N32G452CBL7       3      0      3     0.0%"),
            std::string::npos)
      << text;
  const std::string json = SummaryJson(s);
  EXPECT_NE(json.find("\"job_fingerprint\":\"" + a + "\",\"chip\":\"N32G452CBL7\""),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"job_fingerprint\":null"), std::string::npos) << json;
}

TEST(RecordSummary, TimesWithTheirOffsetsAreComparedInUtc) {
  EXPECT_EQ(RecordEpochSeconds("1970-01-01T00:00:00+00:00"), 0);
  EXPECT_EQ(RecordEpochSeconds("1970-01-01T08:00:00+08:00"), 0);
  EXPECT_EQ(RecordEpochSeconds("1969-12-31T20:30:00-03:30"), 0);
  EXPECT_EQ(RecordEpochSeconds("2026-12-10T14:03:22+08:00"), 1796882602);
  for (const char* bad : {"", "2026-12-10", "2026-12-10T14:03:22Z", "2026-13-10T14:03:22+08:00",
                          "2026-12-10T14:03:2x+08:00"}) {
    EXPECT_EQ(RecordEpochSeconds(bad), std::nullopt) << bad;
  }
}

// The page as a browser draws it: rendered with headless Chromium into
// build/screenshots/record_summary.png (look at it when the page changes).
TEST(RecordSummary, HtmlPageRendersInAHeadlessBrowser) {
  const char* browsers[] = {"/usr/bin/chromium", "/usr/bin/chromium-browser"};
  std::string browser;
  for (const char* b : browsers) {
    if (std::filesystem::exists(b)) browser = b;
  }
  std::vector<ProductionRecord> parts = Fixture();
  // A working shift of channel 3 too, with its hours.
  for (int i = 0; i < 40; ++i) {
    parts.push_back(Part(Format("2026-12-11T%02d:%02d:00+08:00", 11 + i / 10, (i % 10) * 6), 3,
                         i % 9 == 4 ? 0x1E : 0, i % 9 == 4 ? "Error：芯片未设定读保护！" : "OK"));
  }
  const std::string html = SummaryHtml(Summarise(parts), "Production summary <test> & page");
  EXPECT_NE(html.find("<title>Production summary &lt;test&gt; &amp; page</title>"),
            std::string::npos);
  for (const char* fetch : {"<script", "<link", "src=", "@import", "url("}) {
    EXPECT_EQ(html.find(fetch), std::string::npos) << fetch;
  }
  if (browser.empty()) GTEST_SKIP() << "chromium is not installed: the page is not rendered";

  TempDir dir;
  const std::string page = dir.Write("summary.html", html);
  const std::filesystem::path shots = std::filesystem::path(KORVAN_BINARY_DIR) / "screenshots";
  std::filesystem::create_directories(shots);
  const std::filesystem::path png = shots / "record_summary.png";
  std::filesystem::remove(png);
  const std::string command =
      "'" + browser +
      "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--user-data-dir='" +
      (dir.path() / "profile").string() + "' --screenshot='" + png.string() +
      "' --window-size=1200,900 'file://" + page + "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  const std::string image = ReadAll(png);
  ASSERT_GT(image.size(), 10000u);
  EXPECT_EQ(image.substr(1, 3), "PNG");
}

}  // namespace
}  // namespace korvan
