
// korvan-cli convert, run as a user runs it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class Convert : public ::testing::Test {
 protected:
  Convert() {
    dir = fs::temp_directory_path() /
          (std::string("korvan_convert_") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Convert() override { fs::remove_all(dir); }

  using Result = korvan::testing::CliResult;
  Result Run(const std::string& args) {
    return korvan::testing::RunKorvanCli(dir.string(), "convert " + args);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) { return Slurp(dir / name); }
  static bool HaveObjcopy() { return std::system("objcopy --version >/dev/null 2>&1") == 0; }

  fs::path dir;
};

// A 128 KiB part at 0x08000000.
constexpr const char* kChip = "--chip N32G452CBL7";

TEST_F(Convert, HexToBinaryFillsTheFlashWindowWithErasedBytes) {
  Write("app.hex", ":020000040800F2\r\n:0400100001020304E2\r\n:00000001FF\r\n");
  const Result r = Run(std::string(kChip) + " app.hex app.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string bin = Read("app.bin");
  ASSERT_EQ(bin.size(), 128u * 1024);
  EXPECT_EQ(bin.substr(0x10, 4), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(std::count(bin.begin(), bin.end(), '\xFF'), 128 * 1024 - 4);
  EXPECT_NE(r.out.find("File \"app.hex\" has been loaded!"), std::string::npos);
  EXPECT_NE(r.out.find("目标文件首地址 = 0x8000010."), std::string::npos);
  EXPECT_NE(r.out.find("目标文件尾地址 = 0x8000013."), std::string::npos);
  EXPECT_NE(r.out.find("主 Flash ACC CheckSum = "), std::string::npos);
}

TEST_F(Convert, ALineErrorStopsTheConversionUnlessIgnored) {
  const std::string text =
      ":020000040800F2\n:0100000011EE\n:0100010022FF\n:0100020033CA\n:00000001FF\n";
  Write("bad.hex", text);
  Result r = Run(std::string(kChip) + " bad.hex out.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), "Line 3 Data Error : 4.\n");
  EXPECT_NE(r.err.find("bad.hex: 1 line error(s)"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.bin"));

  r = Run(std::string(kChip) + " --ignore-line-errors bad.hex out.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Line 3 Data Error : 4.\n");
  EXPECT_EQ(Read("out.bin").substr(0, 3), "\x11\x22\x33");  // stored before its checksum
}

// A file of many bad lines shows its first few and a count, not one line each.
TEST_F(Convert, RepeatedLineErrorsAreSummarised) {
  std::string text = ":020000040801F1\n";  // 0x08010000.., beyond the 64 KiB part
  for (int i = 0; i < 40; ++i) text += ":0100000011EE\n";
  Write("far.hex", text + ":00000001FF\n");
  const Result r = Run("--chip N32G030K8L7 --ignore-line-errors far.hex out.bin");
  EXPECT_EQ(r.status, 1);
  std::istringstream lines(r.err);
  std::vector<std::string> shown;
  for (std::string line; std::getline(lines, line);) shown.push_back(line);
  ASSERT_EQ(shown.size(), 8u) << r.err;
  EXPECT_EQ(shown[0], "Line 2 Data Error : 16.");
  EXPECT_EQ(shown[4], "Line 6 Data Error : 16.");
  EXPECT_EQ(shown[6], "... and 35 more line errors");
  EXPECT_NE(shown[7].find("not one byte inside the flash"), std::string::npos) << shown[7];
}

TEST_F(Convert, OverlayOffsetAndOutsideTheChip) {
  Write("a.hex", ":020000040800F2\n:0400000011111111B8\n:00000001FF\n");
  Write("b.bin", std::string("\xAA\xBB", 2));
  Write("c.s19", "S30908020000CCCCCCCCBC\n");  // just past the 128 KiB flash
  Result r = Run(std::string(kChip) + " --offset 0x08000002 a.hex b.bin out.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  // 0x08000002 rounds down to index 0: the binary lies over the first bytes of a.hex.
  EXPECT_EQ(Read("out.bin").substr(0, 4), std::string("\xAA\xBB\x11\x11", 4));
  EXPECT_EQ(Read("out.bin").substr(4, 1), "\xFF");
  r = Run(std::string(kChip) + " --offset 0x08000010 a.hex b.bin out.bin");
  EXPECT_EQ(Read("out.bin").substr(0x10, 3), std::string("\xAA\xBB\xFF", 3));
  EXPECT_EQ(Read("out.bin").substr(0, 4), std::string("\x11\x11\x11\x11", 4));

  r = Run(std::string(kChip) + " a.hex c.s19 out.hex");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Line 1 Data Error : 16.\n文件数据超出芯片范围，请确认！\n", 0), 0u)
      << r.err;
  EXPECT_FALSE(fs::exists(dir / "out.hex"));
}

// A further input that ends before its first record leaves the extent of what was loaded
// before, as the window's "Load More Data" does; the file itself is still checked on its own.
TEST_F(Convert, AFurtherInputWithoutRecordsKeepsTheExtentLoadedBefore) {
  Write("a.hex", ":020000040800F2\n:0400100011111111A8\n:00000001FF\n");
  Write("end.hex", ":00000001FF\n");
  Result r = Run(std::string(kChip) + " --allow-outside a.hex end.hex out.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("0xFFFFFFFF"), std::string::npos) << r.out;
  const auto second = r.out.find("File \"end.hex\" has been loaded!");
  ASSERT_NE(second, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("目标文件首地址 = 0x8000010.", second), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("目标文件尾地址 = 0x8000013.", second), std::string::npos) << r.out;

  r = Run(std::string(kChip) + " a.hex end.hex out2.bin");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("end.hex holds no data"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "out2.bin"));
}

TEST_F(Convert, UsageAndFileErrors) {
  Write("a.hex", ":020000040800F2\n:0400000011111111B8\n:00000001FF\n");
  EXPECT_EQ(Run("a.hex out.bin").status, 2);                        // no chip
  EXPECT_EQ(Run(std::string(kChip) + " a.hex out.elf").status, 2);  // output format
  EXPECT_EQ(Run(std::string(kChip) + " a.txt out.bin").status, 2);  // input format
  EXPECT_EQ(Run(std::string(kChip) + " --offset 0x8zz a.hex out.bin").status, 2);
  EXPECT_EQ(Run(std::string(kChip) + " a.hex").status, 2);        // no output
  EXPECT_EQ(Run(std::string(kChip) + " a.hex a.hex").status, 2);  // the output is an input
  EXPECT_EQ(Read("a.hex"), ":020000040800F2\n:0400000011111111B8\n:00000001FF\n");
  const Result missing = Run(std::string(kChip) + " missing.hex out.bin");
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.err.find("missing.hex"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "out.bin"));
  EXPECT_EQ(Run(std::string(kChip) + " a.hex no/such/dir/out.bin").status, 3);
  Write("broken.kvn", "Tobrin but not much more");
  EXPECT_EQ(Run("broken.kvn out.bin").status, 3);
}

TEST_F(Convert, ProjectRoundTrip) {
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 17 + 3);
  Write("fw.bin", data);
  ASSERT_EQ(Run(std::string(kChip) + " fw.bin fw.kvn").status, 0);
  const Result r = Run("fw.kvn back.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Project File Open Success!"), std::string::npos);
  const std::string back = Read("back.bin");
  ASSERT_EQ(back.size(), 128u * 1024);
  EXPECT_EQ(back.substr(0, data.size()), data);
}

// Files made by objcopy (lower and upper case, LF and CR LF) come out as the bytes objcopy
// itself produces, and objcopy reads the command's output back as the same bytes.
TEST_F(Convert, AgreesWithObjcopy) {
  if (!HaveObjcopy()) GTEST_SKIP() << "objcopy not installed";
  std::string data(70000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) >> 3);
  Write("ref.bin", data);
  ASSERT_EQ(std::system(("cd '" + dir.string() +
                         "' && objcopy -I binary -O ihex --change-addresses 0x08000100 ref.bin "
                         "ref.hex && objcopy -I binary -O srec --change-addresses 0x08000100 "
                         "ref.bin ref.srec && tr A-F a-f <ref.hex >lower.hex && sed "
                         "'s/$/\\r/' ref.srec >crlf.srec")
                            .c_str()),
            0);
  std::string expected(128 * 1024, '\xFF');
  expected.replace(0x100, data.size(), data);
  for (const char* in : {"ref.hex", "ref.srec", "lower.hex", "crlf.srec"}) {
    SCOPED_TRACE(in);
    const Result r = Run(std::string(kChip) + " " + in + " out.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Read("out.bin"), expected);
  }
  for (const char* out : {"out.hex", "out.s19"}) {
    SCOPED_TRACE(out);
    ASSERT_EQ(Run(std::string(kChip) + " ref.hex " + out).status, 0);
    const std::string format = std::string(out).ends_with(".hex") ? "ihex" : "srec";
    ASSERT_EQ(std::system(("cd '" + dir.string() + "' && objcopy -I " + format + " -O binary " +
                           out + " check.bin")
                              .c_str()),
              0);
    EXPECT_EQ(Read("check.bin"), expected);
  }
}

// objcopy writes extended segment records (type 02) below 1 MiB: a part whose flash ends at
// 0x4FFFF reads them as the same bytes.
TEST_F(Convert, SegmentAddressingAgreesWithObjcopy) {
  if (!HaveObjcopy()) GTEST_SKIP() << "objcopy not installed";
  std::string data(3000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 8));
  Write("ref.bin", data);
  ASSERT_EQ(std::system(("cd '" + dir.string() +
                         "' && objcopy -I binary -O ihex --change-addresses 0x48000 ref.bin "
                         "seg.hex && grep -q '^:02000002' seg.hex")
                            .c_str()),
            0);
  // A typed name: flash 0x10000..0x4FFFF.
  const Result r = Run("--chip N32G020G8 --typed-name seg.hex out.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  std::string expected(256 * 1024, '\xFF');
  expected.replace(0x38000, data.size(), data);
  EXPECT_EQ(Read("out.bin"), expected);
}

}  // namespace
