#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "core/image/project_file.h"
#include "core/util/gbk.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

RandomByteSource Counter() {
  auto next = std::make_shared<std::uint32_t>(0);
  return [next] { return static_cast<std::uint8_t>((*next)++ * 37 % 255); };
}

ProjectContent SampleJob(std::size_t flashBytes, std::size_t eepBytes) {
  ProjectContent p;
  p.modelName = ModelName(26);
  p.chipName = "N32G452CBL7";
  p.objectFileName = "固件.hex";
  p.countLimit = 5000;
  p.snStart234 = {0x200, 0x300, 0x400};
  p.snDisplayFlags = 0x05;
  p.otpSize = static_cast<std::uint16_t>(eepBytes);
  p.flashStart = 0x08000000;
  p.eepStart = 0x08080000;
  p.optionStart = 0x1FFFF800;
  p.modeByte = static_cast<std::uint8_t>((eepBytes ? kModeOtp : 0) | 0x03);
  p.flashAcc = 0x1234;
  p.flashCrc = 0x5678;
  p.otpAcc = 0x9ABC;
  p.otpCrc = 0xDEF0;
  p.optionSum = 0x0A0B;
  p.optionSumInv = 0xF5F4;
  for (std::size_t i = 0; i < p.settings.size(); ++i) p.settings[i] = static_cast<std::uint8_t>(i);
  p.flash.resize(flashBytes);
  for (std::size_t i = 0; i < flashBytes; ++i) p.flash[i] = static_cast<std::uint8_t>(i * 7 + 1);
  p.eep.assign(eepBytes, 0x3C);
  return p;
}

void ExpectSameJob(const ProjectContent& a, const ProjectContent& b) {
  EXPECT_EQ(a.modelCode, b.modelCode);
  EXPECT_EQ(a.modelName, b.modelName);
  EXPECT_EQ(a.chipName, b.chipName);
  EXPECT_EQ(a.objectFileName, b.objectFileName);
  EXPECT_EQ(a.snStart234, b.snStart234);
  EXPECT_EQ(a.snDisplayFlags, b.snDisplayFlags);
  EXPECT_EQ(a.flash.size(), b.flashSizeBytes);
  EXPECT_EQ(a.otpSize, b.otpSize);
  EXPECT_EQ(a.flashStart, b.flashStart);
  EXPECT_EQ(a.eepStart, b.eepStart);
  EXPECT_EQ(a.optionStart, b.optionStart);
  EXPECT_EQ(a.modeByte, b.modeByte);
  EXPECT_EQ(a.flashAcc, b.flashAcc);
  EXPECT_EQ(a.flashCrc, b.flashCrc);
  EXPECT_EQ(a.otpAcc, b.otpAcc);
  EXPECT_EQ(a.otpCrc, b.otpCrc);
  EXPECT_EQ(a.optionSum, b.optionSum);
  EXPECT_EQ(a.optionSumInv, b.optionSumInv);
  EXPECT_EQ(a.settings, b.settings);
  EXPECT_EQ(a.flash, b.flash);
  EXPECT_EQ(a.eep, b.eep);
}

TEST(ProjectFile, BuildThenParseGivesTheSameJob) {
  struct Row {
    std::size_t flash, eep, fileSize;
  } rows[] = {
      // header 2403 + CFG 1028 + MFM 3 + flash + one key per started or finished KiB + EEP 5
      {128 * 1024, 0, 2403 + 1028 + 3 + 128 * 1024 + 129 + 5 + 4 + 256},
      {1000, 0, 2403 + 1028 + 3 + 1000 + 1 + 5 + 4 + 256},
      {64 * 1024, 2048, 2403 + 1028 + 3 + 64 * 1024 + 65 + 5 + 2048 + 3 + 4 + 256},
      {1024 * 1024, 4096, 2403 + 1028 + 3 + 1024 * 1024 + 1025 + 5 + 4096 + 5 + 4 + 256},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.flash);
    const ProjectContent job = SampleJob(row.flash, row.eep);
    std::string error;
    const auto file = BuildProjectFile(job, Counter(), error);
    ASSERT_EQ(file.size(), row.fileSize) << error;
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "Tobrin");
    ProjectContent back;
    ASSERT_EQ(ParseProjectFile(file, back), kProjectOk);
    ExpectSameJob(job, back);
    EXPECT_EQ(back.countLimit, 5000u);
  }
}

TEST(ProjectFile, EveryStoredByteIsCheckedButTheTrailer) {
  const ProjectContent job = SampleJob(2048, 16);
  std::string error;
  const auto good = BuildProjectFile(job, Counter(), error);
  const std::size_t cfg = kProjectSectionsOffset;
  const std::size_t mfm = cfg + 3 + 1 + 1024;
  const std::size_t eep = mfm + 3 + 1 + 2048 + 2;
  struct Row {
    const char* what;
    std::size_t offset;
    int result;
  } rows[] = {
      {"header name", 30, kProjectCorrupted},
      {"pad", 354 + 100, kProjectCorrupted},
      {"CFG key", cfg + 3, kProjectCorrupted},
      {"CFG data", cfg + 500, kProjectCorrupted},
      {"CFG marker", cfg, kProjectNoEep},  // reading goes on one section out of step
      {"MFM marker", mfm + 1, kProjectNoEep},
      {"MFM key after the first KiB", mfm + 4 + 1024, kProjectCorrupted},
      {"MFM data", mfm + 10, kProjectCorrupted},
      {"EEP marker", eep + 2, kProjectNoEep},
      {"EEP data", eep + 3 + 2 + 1 + 5, kProjectCorrupted},
      {"stored checksum", good.size() - 257, kProjectCorrupted},
      {"signature", 0, kProjectBadSignature},
      {"trailer", good.size() - 1, kProjectOk},
      {"trailer start", good.size() - 256, kProjectOk},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto file = good;
    file[row.offset] ^= 0x40;
    ProjectContent out;
    out.chipName = "unchanged";
    EXPECT_EQ(ParseProjectFile(file, out), row.result);
    if (row.result != kProjectOk) {
      EXPECT_EQ(out.chipName, "unchanged");
    }
  }
}

TEST(ProjectFile, ShortFilesAreCorruptedAndChangeNothing) {
  std::string error;
  const auto good = BuildProjectFile(SampleJob(4096, 0), Counter(), error);
  for (std::size_t cut : {std::size_t{7}, std::size_t{300}, std::size_t{2403}, std::size_t{3000},
                          good.size() - 256 - 2, good.size() - 256}) {
    SCOPED_TRACE(cut);
    ProjectContent out;
    out.chipName = "unchanged";
    const std::vector<std::uint8_t> file(good.begin(), good.begin() + cut);
    const int expected = cut == good.size() - 256 ? kProjectOk : kProjectCorrupted;
    EXPECT_EQ(ParseProjectFile(file, out), expected);
    if (expected != kProjectOk) {
      EXPECT_EQ(out.chipName, "unchanged");
    }
  }
  ProjectContent out;
  EXPECT_EQ(ParseProjectFile(std::vector<std::uint8_t>{'T', 'o', 'b'}, out), kProjectBadSignature);
}

TEST(ProjectFile, NamesAreCutToTheirFieldsAndTheMaskByteEndsAName) {
  ProjectContent job = SampleJob(16, 0);
  job.chipName = std::string(30, 'N');
  job.objectFileName = "ab%cd";
  std::string error;
  job.modelName = std::string("A") + static_cast<char>(kProjectTextMask) + "B";  // invalid UTF-8
  auto file = BuildProjectFile(job, Counter(), error);
  ProjectContent back;
  ASSERT_EQ(ParseProjectFile(file, back), kProjectOk);
  EXPECT_EQ(back.chipName, std::string(20, 'N'));
  EXPECT_EQ(back.objectFileName, "ab%cd");
  EXPECT_EQ(back.modelName, "A?B");

  // A GBK byte equal to the mask is stored as 0 and ends the name when it is read back.
  job.chipName = "N3" + GbkToUtf8("\xA5\xA1") + "G";  // a double-byte character led by 0xA5
  file = BuildProjectFile(job, Counter(), error);
  ASSERT_EQ(ParseProjectFile(file, back), kProjectOk);
  EXPECT_EQ(back.chipName, "N3");
}

TEST(ProjectFile, WriteAndReadThroughTheFrontend) {
  const auto dir = std::filesystem::temp_directory_path() / "korvan_project_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "job.kvn").string();
  testing::FakeFrontend frontend;
  std::string error;
  const ProjectContent job = SampleJob(8192, 0);
  ASSERT_TRUE(WriteProjectFile(path, job, frontend, error));
  ProjectContent back;
  EXPECT_EQ(ReadProjectFile(path, frontend, back, error), kProjectOk);
  ExpectSameJob(job, back);
  EXPECT_EQ(frontend.Texts(), (std::vector<std::string>{"Created Project File : " + path,
                                                        "Project File Open Success!"}));
  EXPECT_EQ(ReadProjectFile(path + ".missing", frontend, back, error), kProjectIoError);
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(dir);
}

TEST(ProjectFile, ModelNames) {
  EXPECT_EQ(ModelName(26), "Korvan200NAT");
  EXPECT_EQ(ModelName(0), ModelName(200));
  EXPECT_NE(ModelName(0), "Korvan200NAT");
}

}  // namespace
}  // namespace korvan
