// korvan-cli trace: the timeline of a trace file, run as a user runs it.
#include <gtest/gtest.h>

#include <string>

#include "support/cli_runner.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

using testing::ReadAll;
using testing::TempDir;

using Output = testing::CliResult;

Output RunTrace(const TempDir& dir, const std::string& args) {
  return testing::RunKorvanCli(dir.path().string(), "trace " + args);
}

const std::string kFixture = KORVAN_TEST_DATA_DIR "/trace/wire.jsonl";

// The fixture holds a reply with its gap, a request overtaken by the next one, noise, a bad
// CRC, a hang-up that leaves a request unanswered, lines out of time order across channels, and
// a last line cut short.
TEST(TraceCommand, TimelineOfAFixture) {
  TempDir dir;
  const Output all = RunTrace(dir, "'" + kFixture + "'");
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.out, ReadAll(KORVAN_TEST_DATA_DIR "/trace/wire.timeline.txt"));
  EXPECT_EQ(all.err, "trace: 1 line(s) skipped: cut short or not a trace line (first: line 16)\n");

  const Output two = RunTrace(dir, "--channel 2 '" + kFixture + "'");
  EXPECT_EQ(two.status, 0);
  EXPECT_EQ(two.out.find("channel 1"), std::string::npos) << two.out;
  EXPECT_NE(all.out.find(two.out), std::string::npos) << "channel 2 shown as in the whole\n"
                                                      << two.out;
}

TEST(TraceCommand, AFileThatCannotBeReadExits3) {
  TempDir dir;
  const Output r = RunTrace(dir, "'" + (dir.path() / "none.jsonl").string() + "'");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("cannot read"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace korvan
