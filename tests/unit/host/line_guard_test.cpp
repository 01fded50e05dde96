// The window's serial-number check across the line: a station with two connected channels and
// serial numbers on asks the line database (a PostgreSQL server of the test's own) before it
// programs, and puts numbers held elsewhere, or a database it cannot reach, to the operator.
#include <gtest/gtest.h>

#include <string>

#include "core/host/line_link.h"
#include "core/line/line_database.h"
#include "support/fake_frontend.h"
#include "support/postgres_server.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::FakeFrontend;
using testing::PostgresServer;
using testing::TempDir;

class LineGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string problem;
    PostgresServer* server = PostgresServer::Shared(&problem);
    if (!server) GTEST_SKIP() << "no PostgreSQL server could be started: " << problem;
    url_ = server->CreateDatabase(&problem);
    ASSERT_FALSE(url_.empty()) << problem;

    station_.SetPortSources(testing::NoPorts(dir_.path()));
    for (int n = 1; n <= 2; ++n) station_.ChannelStateForTest(n).connected = 1;
    station_.form().CheckBoxSN.checked = true;
    station_.form().SNEdit1.text = "100";
    station_.form().SNEdit2.text = "200";
  }

  // The numbers station "other" on host-b holds, as a line database client reserves them.
  std::vector<SerialHolder> Reserve(std::uint32_t first, std::uint32_t last) {
    const SerialPlan plan = PlanSerialNumbers(station_, {1}, 1);
    std::string error;
    auto db = LineDatabase::Connect(url_, &error);
    EXPECT_TRUE(db) << error;
    if (!db) return {};
    auto held =
        db->Reserve("other", "host-b", {{1, plan.chip, plan.address, first, last}}, false, &error);
    EXPECT_TRUE(held) << error;
    return held.value_or(std::vector<SerialHolder>{});
  }

  bool Confirm(const std::string& url) {
    LineLink link(station_, dir_.path(), url);
    std::string error;
    EXPECT_TRUE(link.Start(&error)) << error;
    return ConfirmLineSerialNumbers(station_, link, 1, fe_);
  }

  bool PanelSays(const std::string& text) const {
    for (const std::string& line : station_.info().Lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  TempDir dir_;
  FakeFrontend fe_;
  Station station_{fe_};
  std::string url_;
};

TEST_F(LineGuardTest, FreeNumbersAreReservedWithoutAQuestion) {
  EXPECT_TRUE(Confirm(url_));
  EXPECT_TRUE(fe_.questions.empty());
  // Another station asking for channel 2's number now meets this station's reservation.
  const std::vector<SerialHolder> held = Reserve(200, 200);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].channel, 2);
}

TEST_F(LineGuardTest, NumbersHeldElsewhereAreAskedAbout) {
  ASSERT_TRUE(Reserve(150, 250).empty());
  for (const Answer answer : {Answer::Cancel, Answer::Ok}) {
    SCOPED_TRACE(answer == Answer::Ok ? "OK" : "Cancel");
    fe_.questions.clear();
    fe_.answers = {answer};
    EXPECT_EQ(Confirm(url_), answer == Answer::Ok);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_EQ(fe_.questions[0].buttons, Buttons::OkCancel);
    EXPECT_NE(fe_.questions[0].text.find("Serial numbers held elsewhere on the line"),
              std::string::npos);
    EXPECT_NE(fe_.questions[0].text.find("host-b"), std::string::npos) << fe_.questions[0].text;
  }
  EXPECT_TRUE(PanelSays("warning: channel 2"));
}

TEST_F(LineGuardTest, ADatabaseOutOfReachIsAskedAbout) {
  const std::string away = "postgresql://korvan@127.0.0.1:1/none?connect_timeout=2";
  for (const Answer answer : {Answer::Cancel, Answer::Ok}) {
    SCOPED_TRACE(answer == Answer::Ok ? "OK" : "Cancel");
    fe_.questions.clear();
    fe_.answers = {answer};
    EXPECT_EQ(Confirm(away), answer == Answer::Ok);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_NE(fe_.questions[0].text.find("cannot be reserved on the line database"),
              std::string::npos);
  }
  EXPECT_TRUE(PanelSays("serial numbers not reserved on the line"));
}

TEST_F(LineGuardTest, SerialNumbersOffAskNothingOfTheLine) {
  station_.form().CheckBoxSN.checked = false;
  EXPECT_TRUE(Confirm("postgresql://korvan@127.0.0.1:1/none?connect_timeout=2"));
  EXPECT_TRUE(fe_.questions.empty());
}

}  // namespace
}  // namespace korvan
