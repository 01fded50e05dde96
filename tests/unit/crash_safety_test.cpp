// A save killed at any moment leaves the file that was there before (or the new one, complete):
// a child process saves a project file or a log over and over and is killed with SIGKILL at
// random moments; after every kill the file must read back whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/app/log_file.h"
#include "core/image/project_file.h"
#include "core/image/readers.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;

class CrashSafety : public ::testing::Test {
 protected:
  CrashSafety() {
    dir = fs::temp_directory_path() /
          (std::string("korvan_crash_") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
           std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~CrashSafety() override { fs::remove_all(dir); }

  // Runs save(1), save(2), ... in a child process until it is killed with SIGKILL after
  // `delay`. Returns false when the child ended some other way.
  static bool KillDuringSaves(const std::function<void(int)>& save,
                              std::chrono::microseconds delay) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      for (int round = 1;; ++round) save(round);
    }
    std::this_thread::sleep_for(delay);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  // How long one save takes here (sanitizers and a busy machine change it a lot).
  static std::chrono::microseconds TimeOneSave(const std::function<void(int)>& save) {
    const auto start = std::chrono::steady_clock::now();
    save(0);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start);
  }

  // Kill moments spread over the first three saves of a child. At least 30 kills, and more
  // (up to 300) until a kill has landed inside a save, which leaves its temporary file behind.
  template <typename AfterKill>
  void KillAtRandomMoments(const std::function<void(int)>& save, const fs::path& target,
                           unsigned seed, AfterKill afterKill) {
    const auto one = TimeOneSave(save);
    std::mt19937 random(seed);
    for (int kill = 0; kill < 300 && (kill < 30 || Leftovers(target) == 0); ++kill) {
      const std::chrono::microseconds delay(random() % (3 * one.count() + 1));
      ASSERT_TRUE(KillDuringSaves(save, delay));
      afterKill(kill);
      if (::testing::Test::HasFatalFailure()) return;
    }
    // The kills did land inside saves.
    EXPECT_GT(Leftovers(target), 0);
  }

  // Files the killed saves left behind besides `target` (their temporary files).
  int Leftovers(const fs::path& target) const {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path() != target) ++n;
    }
    return n;
  }

  std::string Read(const fs::path& file) const {
    std::string contents, error;
    EXPECT_TRUE(ReadWholeFile(file.string(), contents, error)) << error;
    return contents;
  }

  fs::path dir;
};

// A project whose every flash byte and name tell the round that saved it.
ProjectContent ProjectOfRound(int round) {
  ProjectContent c;
  c.chipName = "N32G452CBL7";
  c.objectFileName = "round" + std::to_string(round) + ".hex";
  c.flashSizeBytes = 512 * 1024;
  c.flashStart = 0x08000000;
  c.flash.assign(c.flashSizeBytes, static_cast<std::uint8_t>(round));
  return c;
}

TEST_F(CrashSafety, KilledProjectSaveLeavesAWholeProjectFile) {
  const fs::path target = dir / "job.kvn";
  testing::FakeFrontend frontend;
  std::string error;
  ASSERT_TRUE(WriteProjectFile(target.string(), ProjectOfRound(0), frontend, error)) << error;

  int lastRound = 0;
  const std::function<void(int)> save = [&](int round) {
    std::string e;
    testing::FakeFrontend f;
    WriteProjectFile(target.string(), ProjectOfRound(lastRound + round), f, e);
  };
  KillAtRandomMoments(save, target, 20261210, [&](int kill) {
    const std::string bytes = Read(target);
    ProjectContent read;
    ASSERT_EQ(
        ParseProjectFile({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, read),
        kProjectOk)
        << "after kill " << kill;
    // Saved whole by one round, and never older than the file before the kill.
    const int round = std::stoi(read.objectFileName.substr(5));
    EXPECT_GE(round, lastRound);
    EXPECT_EQ(read.flash, ProjectOfRound(round).flash) << "after kill " << kill;
    lastRound = round;
  });
}

// A log of `lines` lines, each naming the round.
std::vector<std::string> LogOfRound(int round, std::size_t lines) {
  std::vector<std::string> log;
  for (std::size_t i = 0; i < lines; ++i) {
    log.push_back("2026-12-10 03:40:00 CH1 round " + std::to_string(round) + " line " +
                  std::to_string(i) + " Program OK");
  }
  return log;
}

std::string LogText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

// A log is never overwritten: each save of the same name takes a new one. Every log there is
// after a kill is whole (the first one, and those the killed child finished).
TEST_F(CrashSafety, KilledLogWriteLeavesOnlyWholeLogs) {
  const fs::path target = dir / "NATx_2026_12_10_03_40_00.log";
  constexpr std::size_t kLines = 20000;
  ASSERT_FALSE(WriteLogFile(target, LogOfRound(0, kLines)).has_value());

  const std::function<void(int)> save = [&](int round) {
    WriteLogFile(target, LogOfRound(round, kLines));
  };
  KillAtRandomMoments(save, target, 1210, [&](int kill) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      const fs::path& file = entry.path();
      if (file.filename().string().starts_with(".")) continue;  // a save's temporary file
      const std::string text = Read(file);
      const std::string prefix = "2026-12-10 03:40:00 CH1 round ";
      ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << file << " after kill " << kill;
      const int round = std::stoi(text.substr(prefix.size()));
      EXPECT_EQ(text, LogText(LogOfRound(round, kLines))) << file << " after kill " << kill;
      if (file != target) fs::remove(file);  // the next kill's logs take these names again
    }
    EXPECT_EQ(Read(target), LogText(LogOfRound(0, kLines)));
  });
}

}  // namespace
}  // namespace korvan
