// The station's services as a front end wires them through its host: the serial-number check the
// station asks before every command that numbers parts (the window's question, the command
// line's plan), the job check before every command that puts the job into parts (the window's
// message box), and the line database refused before anything is forwarded.
#include "core/host/station_host.h"

#include <gtest/gtest.h>

#include <string>

#include "core/job/job_fingerprint.h"
#include "support/fake_frontend.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::FakeFrontend;
using testing::TempDir;

class StationHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    station_.SetPortSources(testing::NoPorts(dir_.path()));
    station_.chip().chipName = "N32G452CBL7";
    station_.chip().chipConfirmed = 1;
    station_.image().dataLoaded = true;
    station_.form().CheckBoxSN.checked = true;
    station_.form().SNEdit1.text = "100";
  }

  // Download on an idle, connected channel 1: true when it started.
  bool Download() {
    ChannelState& ch = station_.ChannelStateForTest(1);
    ch.EndOperation(false);
    ch.connected = 1;
    station_.SpdBtnDownLoadClick();
    return station_.channel(1).busy != 0;
  }

  TempDir dir_;
  FakeFrontend fe_;
  Station station_{fe_, [] { return LocalTime{2024, 1, 5, 14, 3, 22}; }};
  StationHost host_{station_};
};

TEST_F(StationHostTest, TheCommandLinesCheckRefusesNumberingUntilTheRunsNumbersWereChecked) {
  host_.NumberOnlyWhenChecked();
  EXPECT_FALSE(Download());
  EXPECT_TRUE(fe_.questions.empty());
  host_.SetNumbersChecked(true);
  EXPECT_TRUE(Download());
}

TEST_F(StationHostTest, TheWindowsCheckAsksAboutANumberAnOkPartAlreadyGot) {
  host_.AskBeforeNumbering();
  EXPECT_TRUE(Download());  // no records yet: nothing to ask about
  EXPECT_TRUE(fe_.questions.empty());

  host_.StartRecords(dir_.path());
  OperationOutcome part;
  part.command = kPendingBlankCheck;
  part.autoCycle = true;
  part.serialNumber = 100;
  part.chipUidBytes = {0x01, 0xAB, 0x0F};
  EXPECT_EQ(host_.records()->AutoRecord(1, part).chipUid, "01AB0F");  // from the bytes, not a text
  host_.records()->OperationEnded(1, part);
  ASSERT_EQ(host_.records()->written(), 1u);

  fe_.answers.push_back(Answer::Cancel);
  EXPECT_FALSE(Download());
  ASSERT_EQ(fe_.questions.size(), 1u);
  EXPECT_NE(fe_.questions[0].text.find("100"), std::string::npos) << fe_.questions[0].text;
  fe_.answers.push_back(Answer::Ok);
  EXPECT_TRUE(Download());
}

TEST_F(StationHostTest, ALineDatabaseStringThatNamesNoneIsRefusedOnThePanel) {
  host_.StartRecords(dir_.path());
  const std::string problem = host_.StartLine("mysql://line/db", "KORVAN_RECORDS_DB");
  EXPECT_NE(problem.find("KORVAN_RECORDS_DB"), std::string::npos) << problem;
  EXPECT_EQ(host_.line(), nullptr);
  ASSERT_FALSE(station_.info().Lines().empty());
  EXPECT_NE(station_.info().Lines().back().find(problem), std::string::npos);
}

// The window with approved jobs required: Download, Auto and Program of a job the list does not
// hold are refused with a message box that names the job and the approved ones, before anything
// is sent; a listed job runs.
TEST_F(StationHostTest, TheWindowRefusesAJobNotOnTheApprovedListWithAMessageBox) {
  const auto job = FingerprintJob(station_.job());
  ASSERT_TRUE(job);
  const std::string other = std::string(64, '0');
  const std::string file = dir_.Write("approved.txt", other + " fan 1.0\n");
  EXPECT_EQ(host_.RequireApprovedJobsFrom(file), "");

  const std::string refusal = "The job is refused: job " + job->hex +
                              " (N32G452CBL7) is not approved in the approved jobs file " + file +
                              "; approved there: 0000000000000000 \"fan 1.0\"";
  EXPECT_FALSE(Download());
  for (auto command : {&Station::AutoSpdBtnClick, &Station::SpdBtnProgClick}) {
    (station_.*command)();
    EXPECT_EQ(station_.channel(1).busy, 0);
  }
  ASSERT_EQ(fe_.questions.size(), 3u);
  for (const auto& question : fe_.questions) {
    EXPECT_EQ(question.kind, MessageKind::Error);
    EXPECT_EQ(question.text, refusal);
  }

  dir_.Write("approved.txt", other + "\n" + job->hex + " pump 2.4.1\n");
  EXPECT_EQ(host_.RequireApprovedJobsFrom(file), "");
  EXPECT_TRUE(Download());
  EXPECT_EQ(fe_.questions.size(), 3u);
  EXPECT_EQ(station_.ChannelJobFingerprint(1), job->hex);

  // A list that cannot be read approves nothing.
  EXPECT_NE(host_.RequireApprovedJobsFrom((dir_.path() / "missing.txt").string()), "");
  EXPECT_FALSE(Download());
}

}  // namespace
}  // namespace korvan
