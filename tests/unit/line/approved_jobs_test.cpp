// The approved jobs: the plain file a station without a line database reads, the refusal a job
// not on the list gets, and the station's copy of the line's list.
#include "core/line/approved_jobs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "core/host/job_approval.h"
#include "unit/app/app_test_support.h"

namespace korvan {
namespace {

const std::string kA = std::string(64, 'a');
const std::string kB = std::string(63, 'b') + "0";
const std::string kC = std::string(64, 'c');

TEST(ApprovedJobsFile, ReadsFingerprintsWithLabelsAndSkipsComments) {
  std::string error;
  const auto jobs = ParseApprovedJobs(
      "# released by the test engineer\n"
      "\n" +
          std::string(64, 'A') +
          "   pump 2.4.1  # the current one\r\n"
          "\t" +
          kB + "\n" + kC + " label with # after it",
      &error);
  ASSERT_TRUE(jobs) << error;
  ASSERT_EQ(jobs->size(), 3u);
  EXPECT_EQ((*jobs)[0].fingerprint, kA);  // kept in lower case
  EXPECT_EQ((*jobs)[0].label, "pump 2.4.1");
  EXPECT_EQ((*jobs)[1].fingerprint, kB);
  EXPECT_EQ((*jobs)[1].label, "");
  EXPECT_EQ((*jobs)[2].label, "label with");
  EXPECT_TRUE(FindApproved(*jobs, std::string(64, 'C')));
  EXPECT_FALSE(FindApproved(*jobs, std::string(64, 'd')));
}

TEST(ApprovedJobsFile, RefusesALineThatIsNoFingerprint) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"abc label\n", "line 1: abc is not a job fingerprint (64 hex digits)"},
      {"# fine\n\nnot-hex-at-all",
       "line 3: not-hex-at-all is not a job fingerprint (64 hex digits)"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseApprovedJobs(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
  std::string badDigit = kA;
  badDigit[10] = 'g';
  std::string error;
  EXPECT_FALSE(ParseApprovedJobs(badDigit, &error));
}

TEST(JobRefusal, NamesTheJobWhereTheListCameFromAndTheJobsApprovedForThePart) {
  JobApprovals line{true,
                    {{kA, "N32G452CBL7", "pump 2.4.1", "R. Tan", "2024-03-01T09:00:00+00:00", {}},
                     {kB, "N32G452CBL7", "pump 2.3", "R. Tan", "2024-02-01T09:00:00+00:00",
                      std::string("2024-03-01T09:01:00+00:00")},
                     {kC, "N32G430C8L7", "fan", "L. Wu", "2024-02-01T09:00:00+00:00", {}}},
                    "the line database postgresql://line"};
  EXPECT_EQ(JobRefusal(line, kA, "N32G452CBL7"), "");
  EXPECT_EQ(JobRefusal(line, std::string(64, 'd'), "N32G452CBL7"),
            "job " + std::string(64, 'd') +
                " (N32G452CBL7) is not approved in the line database postgresql://line; "
                "approved for N32G452CBL7: aaaaaaaaaaaaaaaa \"pump 2.4.1\"");
  EXPECT_EQ(JobRefusal(line, kB, "N32G452CBL7"),
            "job " + kB +
                " (N32G452CBL7) was revoked 2024-03-01T09:01:00+00:00 in the line database "
                "postgresql://line; approved for N32G452CBL7: aaaaaaaaaaaaaaaa \"pump 2.4.1\"");
  EXPECT_EQ(JobRefusal(line, std::string(64, 'd'), "N32G401F8S7"),
            "job " + std::string(64, 'd') +
                " (N32G401F8S7) is not approved in the line database postgresql://line; no job is "
                "approved for N32G401F8S7");

  // A plain file names no parts: every job on it is named.
  JobApprovals file{true,
                    {{kA, "", "pump", "", "", {}}, {kC, "", "", "", "", {}}},
                    "the approved jobs file ok.txt"};
  EXPECT_EQ(JobRefusal(file, kB, "N32G452CBL7"),
            "job " + kB +
                " (N32G452CBL7) is not approved in the approved jobs file ok.txt; approved there: "
                "aaaaaaaaaaaaaaaa \"pump\", cccccccccccccccc");
}

TEST(LineApprovalsCopy, SavedWholeAndReadBack) {
  testing::TempDir dir;
  const auto file = dir.path() / kLineApprovalsCopyFile;
  std::string error;
  EXPECT_FALSE(LoadLineApprovals(file, &error));
  EXPECT_NE(error.find("no copy"), std::string::npos) << error;

  const LineApprovals copy{
      true,
      {{kA, "N32G452CBL7", "泵 2.4", "R. Tan", "2024-03-01T09:00:00+00:00", {}},
       {kB, "N32G452CBL7", "", "R. Tan", "2024-02-01T09:00:00+00:00",
        std::string("2024-03-01T09:01:00+00:00")}},
      "2024-03-02T08:00:00+08:00"};
  ASSERT_EQ(SaveLineApprovals(file, copy), "");
  const auto read = LoadLineApprovals(file, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->required, copy.required);
  EXPECT_EQ(read->jobs, copy.jobs);
  EXPECT_EQ(read->syncedAt, copy.syncedAt);

  std::ofstream(file) << "{\"jobs\": 3}";
  EXPECT_FALSE(LoadLineApprovals(file, &error));
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
}

}  // namespace
}  // namespace korvan
