#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "core/image/readers.h"
#include "core/image/writers.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Golden(const char* name) {
  return ReadText(std::string(KORVAN_TEST_DATA_DIR "/writers/") + name);
}

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first, std::uint8_t step) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(first + i * step);
  return v;
}

TEST(Writers, GoldenFiles) {
  const auto b17 = Bytes(17, 0, 1);
  EXPECT_EQ(FormatHexFile(b17, 0x0100, 0x0100, 0x0110), Golden("range_0100_17.hex"));
  EXPECT_EQ(FormatS19File(b17, 0x0100, 0x0100, 0x0110), Golden("range_0100_17.s19"));
  const auto b26 = Bytes(26, 0xA0, 1);
  EXPECT_EQ(FormatHexFile(b26, 0x0800FFFB, 0x0800FFFB, 0x08010014),
            Golden("range_0800FFFB_26.hex"));
  const auto b16 = Bytes(16, 0x30, 1);
  EXPECT_EQ(FormatS19File(b16, 0x1FFF0, 0x1FFF0, 0x1FFFF), Golden("range_1FFF0_16.s19"));
  const auto b36 = Bytes(36, 0, 3);
  EXPECT_EQ(FormatS19File(b36, 0x08000000, 0x08000000, 0x08000023),
            Golden("range_08000000_36.s19"));
}

TEST(Writers, WholeFlashWindowAsHex) {
  ImageBuffer image;
  const std::string text = FormatHexFile(image.flash, 0x08000000, 0x08000000, 0x0807FFFF);
  std::vector<std::string> linear;
  std::size_t dataRecords = 0;
  std::istringstream lines(text);
  std::string line;
  std::string last;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(line.ends_with("\r"));
    line.pop_back();
    if (line.starts_with(":02000004")) linear.push_back(line);
    if (line.substr(7, 2) == "00") {
      ++dataRecords;
      EXPECT_TRUE(line.starts_with(":20")) << line;
    }
    last = line;
  }
  EXPECT_EQ(linear.front(), ":020000040800F2");
  EXPECT_EQ(linear.size(), 8u);
  EXPECT_EQ(linear.back(), ":020000040807EB");
  EXPECT_EQ(dataRecords, 0x80000u / 32);
  EXPECT_EQ(last, ":00000001FF");
}

TEST(Writers, AddressesOutsideTheArrayAreWrittenErased) {
  const std::vector<std::uint8_t> two = {0x11, 0x22};
  EXPECT_EQ(FormatHexFile(two, 0x10, 0x0F, 0x12), ":04000F00FF1122FFBC\r\n:00000001FF\r\n");
}

class WriterFiles : public ::testing::Test {
 protected:
  WriterFiles() {
    dir = std::filesystem::temp_directory_path() /
          (std::string("korvan_writers_") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  ~WriterFiles() override { std::filesystem::remove_all(dir); }
  std::string Path(const char* name) { return (dir / name).string(); }
  std::filesystem::path dir;
};

TEST_F(WriterFiles, ReadWriteReadGivesTheSameImage) {
  ImageBuffer original;
  original.windows.flashEnd = 0x0801FFFF;
  for (std::size_t i = 0; i < 0x20000; ++i) {
    original.flash[i] = static_cast<std::uint8_t>((i * 131) ^ (i >> 9));
  }
  struct Form {
    const char* name;
    bool hex;
    std::uint32_t start, end;
  } forms[] = {
      {"whole.hex", true, 0x08000000, 0x0801FFFF},
      {"whole.s19", false, 0x08000000, 0x0801FFFF},
      {"odd.hex", true, 0x08000005, 0x0801FFF0},
      {"odd.s19", false, 0x08000007, 0x0800FFFE},
  };
  for (const Form& form : forms) {
    SCOPED_TRACE(form.name);
    std::string error;
    const std::string path = Path(form.name);
    const bool saved =
        form.hex ? SaveHexFile(path, original.flash, 0x08000000, form.start, form.end, error)
                 : SaveS19File(path, original.flash, 0x08000000, form.start, form.end, error);
    ASSERT_TRUE(saved) << error;
    ImageBuffer copy;
    testing::FakeFrontend frontend;
    ReadExtent extent;
    const ReadTarget target{copy.flash, 0x08000000, &copy, {}};
    form.hex ? LoadHexFile(path, target, frontend, extent)
             : LoadS19File(path, target, frontend, extent);
    EXPECT_TRUE(frontend.questions.empty());
    EXPECT_EQ(extent.lowest, form.start);
    EXPECT_EQ(extent.highest, form.end);
    const std::uint32_t first = form.start - 0x08000000, last = form.end - 0x08000000;
    EXPECT_TRUE(std::equal(copy.flash.begin() + first, copy.flash.begin() + last + 1,
                           original.flash.begin() + first));
    EXPECT_EQ(std::count(copy.flash.begin(), copy.flash.end(), 0xFF) -
                  std::count(copy.flash.begin() + first, copy.flash.begin() + last + 1, 0xFF),
              static_cast<std::ptrdiff_t>(kFlashImageSize - (last - first + 1)));
    std::uint32_t sum = 0;
    for (std::uint32_t i = first; i <= last; ++i) sum += original.flash[i];
    EXPECT_EQ(extent.fileChecksum, sum);
  }
}

TEST_F(WriterFiles, BinaryRangesAndFailedSaves) {
  const auto bytes = Bytes(128, 1, 1);
  std::string error;
  ASSERT_TRUE(SaveBinFile(Path("ob.bin"), bytes, 0, 127, error));
  EXPECT_EQ(ReadText(Path("ob.bin")).size(), 128u);
  ASSERT_TRUE(SaveBinFile(Path("ob.bin"), bytes, 5, 4, error));
  EXPECT_EQ(ReadText(Path("ob.bin")), "");  // last < first: an empty file
  ASSERT_TRUE(SaveBinFile(Path("part.bin"), bytes, 126, 200, error));
  EXPECT_EQ(ReadText(Path("part.bin")), std::string("\x7F\x80", 2));

  // A save that cannot complete leaves the earlier file and no temporary file behind.
  std::filesystem::create_directory(dir / "taken.hex");
  EXPECT_FALSE(SaveHexFile(Path("taken.hex"), bytes, 0, 0, 127, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(SaveBinFile((dir / "no" / "such.bin").string(), bytes, 0, 1, error));
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 3u);  // ob.bin, part.bin, taken.hex
}

}  // namespace
}  // namespace korvan
