// The forwarder from a station's record store to the line database, against a PostgreSQL server
// of the test's own that it stops and starts again.
#include "core/line/line_forwarder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>

#include "core/line/line_database.h"
#include "support/postgres_server.h"

namespace korvan {
namespace {

using testing::PostgresServer;
namespace fs = std::filesystem;

constexpr std::chrono::seconds kWait{30};

class LineForwarderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvan-outbox-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::string error;
    store_ = RecordStore::Open(folder_, &error);
    ASSERT_TRUE(store_) << error;
  }
  void TearDown() override {
    forwarder_.reset();
    store_.reset();
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  // A server of this test's own (it is stopped and started); skips when there can be none.
  bool StartServer() {
    std::string problem;
    server_ = PostgresServer::Start(&problem);
    if (!server_) {
      skip_ = "no PostgreSQL server could be started: " + problem;
      return false;
    }
    return true;
  }

  void Append(int count) {
    for (int i = 0; i < count; ++i) {
      ProductionRecord r;
      r.recordId = "rec" + std::to_string(appended_++);
      r.time = "2026-12-10T10:00:00+08:00";
      r.host = "host-a";
      r.chip = "N32G430C8L7";
      r.channel = appended_ % 4 + 1;
      r.pass = true;
      std::string error;
      ASSERT_GT(store_->Append(r, &error), 0) << error;
    }
    if (forwarder_) forwarder_->Wake();
  }

  void StartForwarder() {
    LineForwarderOptions options;
    options.batch = 7;  // several batches for a few records
    options.retryMin = std::chrono::milliseconds(20);
    options.retryMax = std::chrono::milliseconds(200);
    forwarder_ = std::make_unique<LineForwarder>(
        folder_, server_->Url(),
        [this](const LineNotice& n) {
          std::lock_guard lock(mutex_);
          notices_.push_back(n.kind);
        },
        options);
    std::string error;
    ASSERT_TRUE(forwarder_->Start(&error)) << error;
  }

  // The record ids on the line, in the order they arrived.
  std::vector<std::string> OnTheLine() {
    std::string error;
    auto db = LineDatabase::Connect(server_->Url(), &error);
    EXPECT_TRUE(db) << error;
    std::vector<std::string> ids;
    if (!db) return ids;
    for (const LineRecord& r : db->Find({}, &error).value_or(std::vector<LineRecord>{})) {
      EXPECT_EQ(r.stationId, store_->stationId());
      ids.push_back(r.record.recordId);
    }
    return ids;
  }

  std::vector<std::string> Appended() const {
    std::vector<std::string> ids;
    for (int i = 0; i < appended_; ++i) ids.push_back("rec" + std::to_string(i));
    return ids;
  }

  std::vector<LineNotice::Kind> Notices() {
    std::lock_guard lock(mutex_);
    return notices_;
  }

  fs::path folder_;
  std::unique_ptr<RecordStore> store_;
  std::unique_ptr<PostgresServer> server_;
  std::unique_ptr<LineForwarder> forwarder_;
  std::string skip_;
  int appended_ = 0;
  std::mutex mutex_;
  std::vector<LineNotice::Kind> notices_;
};

// A station that cannot reach the line but has nothing waiting must be told so: a run that
// ends there does not warn about records that are not there.
TEST_F(LineForwarderTest, AFailedFlushTellsHowManyRecordsWait) {
  if (!StartServer()) GTEST_SKIP() << skip_;
  std::string problem;
  ASSERT_TRUE(server_->Stop(&problem)) << problem;
  StartForwarder();
  std::optional<std::size_t> waiting;
  EXPECT_FALSE(forwarder_->Flush(kWait, &waiting));
  EXPECT_EQ(waiting, std::optional<std::size_t>(0));
  Append(3);
  EXPECT_FALSE(forwarder_->Flush(kWait, &waiting));
  EXPECT_EQ(waiting, std::optional<std::size_t>(3));
}

TEST_F(LineForwarderTest, ForwardsEveryRecordOnceInOrderAcrossAStoppedServer) {
  if (!StartServer()) GTEST_SKIP() << skip_;
  StartForwarder();
  Append(10);
  ASSERT_TRUE(forwarder_->Flush(kWait));
  EXPECT_EQ(store_->UnforwardedCount(), 0u);

  std::string problem;
  ASSERT_TRUE(server_->Stop(&problem)) << problem;
  Append(5);
  EXPECT_FALSE(forwarder_->Flush(kWait));
  Append(20);  // more tries fail while it is down: said once
  EXPECT_FALSE(forwarder_->Flush(kWait));
  EXPECT_FALSE(forwarder_->reachable());
  EXPECT_EQ(store_->UnforwardedCount(), 25u);
  EXPECT_EQ(Notices(), std::vector<LineNotice::Kind>{LineNotice::Kind::Unreachable});

  ASSERT_TRUE(server_->Restart(&problem)) << problem;
  ASSERT_TRUE(forwarder_->Flush(kWait));
  EXPECT_EQ(Notices(), (std::vector<LineNotice::Kind>{LineNotice::Kind::Unreachable,
                                                      LineNotice::Kind::Reachable}));
  EXPECT_EQ(store_->UnforwardedCount(), 0u);
  EXPECT_EQ(OnTheLine(), Appended());
  EXPECT_EQ(forwarder_->forwarded(), 35u);
}

TEST_F(LineForwarderTest, ABacklogLeftByAStoppedStationGoesOutOnTheNextStart) {
  if (!StartServer()) GTEST_SKIP() << skip_;
  // The last station committed 12 records locally and was killed before forwarding them; the
  // first 7 of them had reached the server before it died, unmarked.
  Append(12);
  {
    std::string error;
    auto db = LineDatabase::Connect(server_->Url(), &error);
    ASSERT_TRUE(db) << error;
    ASSERT_TRUE(db->Insert(store_->stationId(), store_->Unforwarded(7), &error)) << error;
  }
  StartForwarder();
  ASSERT_TRUE(forwarder_->Flush(kWait));
  EXPECT_EQ(store_->UnforwardedCount(), 0u);
  EXPECT_EQ(OnTheLine(), Appended());
  EXPECT_TRUE(Notices().empty());
}

TEST_F(LineForwarderTest, AServerThatIsNeverThereIsSaidOnceAndTheRecordsWait) {
  forwarder_ = std::make_unique<LineForwarder>(
      folder_, "postgresql://korvan@127.0.0.1:1/none",
      [this](const LineNotice& n) {
        std::lock_guard lock(mutex_);
        notices_.push_back(n.kind);
        EXPECT_NE(n.text.find("127.0.0.1:1"), std::string::npos) << n.text;
        EXPECT_EQ(n.pending, 3u);
      },
      LineForwarderOptions{7, std::chrono::milliseconds(200), std::chrono::milliseconds(5),
                           std::chrono::milliseconds(20)});
  Append(3);
  std::string error;
  ASSERT_TRUE(forwarder_->Start(&error)) << error;
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(forwarder_->Flush(kWait));
  EXPECT_EQ(Notices(), std::vector<LineNotice::Kind>{LineNotice::Kind::Unreachable});
  EXPECT_EQ(store_->UnforwardedCount(), 3u);
}

}  // namespace
}  // namespace korvan
