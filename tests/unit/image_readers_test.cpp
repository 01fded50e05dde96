#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "core/image/readers.h"
#include "core/util/format.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

// Builds one record with a correct checksum unless told otherwise (upper-case digits).
std::string HexRecord(std::uint8_t type, std::uint16_t offset, std::vector<std::uint8_t> data,
                      int checksumDelta = 0) {
  std::string line = Format(":%02X%04X%02X", static_cast<unsigned>(data.size()), offset, type);
  std::uint32_t sum = data.size() + (offset >> 8) + (offset & 0xFF) + type;
  for (auto b : data) {
    line += Format("%02X", b);
    sum += b;
  }
  return line + Format("%02X", (0x100 - (sum & 0xFF) + checksumDelta) & 0xFF);
}

std::string SRecord(char kind, std::uint32_t address, std::vector<std::uint8_t> data,
                    int checksumDelta = 0) {
  const int addressBytes = kind == '1' ? 2 : kind == '2' ? 3 : 4;
  const unsigned count = addressBytes + data.size() + 1;
  std::string line = Format("S%c%02X", kind, count);
  std::uint32_t sum = count;
  for (int i = addressBytes - 1; i >= 0; --i) {
    const std::uint8_t b = (address >> (8 * i)) & 0xFF;
    line += Format("%02X", b);
    sum += b;
  }
  for (auto b : data) {
    line += Format("%02X", b);
    sum += b;
  }
  return line + Format("%02X", (~sum + checksumDelta) & 0xFF);
}

class ReaderFixture : public ::testing::Test {
 protected:
  ReaderFixture() {
    image.windows.flashStart = 0x08000000;
    image.windows.flashEnd = 0x0801FFFF;
    image.windows.eepStart = 0x08080000;
    image.windows.eepEnd = 0x08080FFF;
    image.windows.otpStart = 0x1FFF7000;
    image.windows.optionStart = 0x1FFFF800;
    option.fill(0xFF);
  }
  ReadTarget Target() { return {image.flash, image.windows.flashStart, &image, option}; }

  ImageBuffer image;
  std::array<std::uint8_t, 128> option{};
};

TEST(HexPairToByte, EachCharacterOnItsOwnWithoutValidation) {
  EXPECT_EQ(HexPairToByte('0', '0'), 0x00);
  EXPECT_EQ(HexPairToByte('F', 'e'), 0xFE);
  EXPECT_EQ(HexPairToByte('a', 'B'), 0xAB);
  EXPECT_EQ(HexPairToByte('9', '9'), 0x99);
  // 'G' counts as 16, 'z' as 35, '^' as 0x2E: the byte is high * 16 + low truncated to 8 bits.
  EXPECT_EQ(HexPairToByte('G', '0'), 0x00);
  EXPECT_EQ(HexPairToByte('0', 'G'), 0x10);
  EXPECT_EQ(HexPairToByte('^', '0'), 0xE0);
  EXPECT_EQ(HexPairToByte('1', 'z'), 0x33);
}

TEST(Checksums, AccAndRangeRules) {
  const std::vector<std::uint8_t> abc = {'a', 'b', 'c'};
  EXPECT_EQ(ACC(abc, 0, 2), 0x126u);
  EXPECT_EQ(ACC(abc, 1, 1), 0x62u);
  EXPECT_EQ(ACC(abc, 2, 1), 0u);  // end below start
  EXPECT_EQ(ACC(abc, 0, 3), 0u);  // past the array
  ImageBuffer image;
  EXPECT_EQ(ACC(image.flash, 0, 0x1000000), 0u);  // above 0xFFFFFF
  EXPECT_EQ(ACC(image.flash, 0, 0xFFFFF), 0xFFu * 0x100000);
}

TEST(FillBlocks16, FillsWholeBlocksAndStopsAtTheEnd) {
  std::array<std::uint8_t, 40> bytes{};
  FillBlocks16(bytes, 0, 0xFF);
  EXPECT_EQ(bytes[15], 0xFF);
  EXPECT_EQ(bytes[16], 0x00);
  FillBlocks16(bytes, 255, 0xAA);  // asks for 4096 bytes of a 40-byte array
  for (auto b : bytes) EXPECT_EQ(b, 0xAA);
}

TEST_F(ReaderFixture, HexRecordsTable) {
  struct Row {
    const char* what;
    std::string line;
    int code;
    // where the first data byte must (or must not) be found afterwards
    enum Where { None, Flash, Otp, Option } where;
    std::uint32_t index;
    std::uint32_t checksumAdded;
  };
  const std::vector<std::uint8_t> two = {0x12, 0x34};
  const Row rows[] = {
      {"flash", HexRecord(0, 0x0010, two), 0, Row::Flash, 0x10, 0x46},
      {"flash end, last byte past the window still follows", HexRecord(0, 0xFFFF, two), 0,
       Row::Flash, 0x1FFFF, 0x46},
      {"EEP window", HexRecord(0, 0x0004, two), 0, Row::Otp, 4, 0x46},  // linear 0x0808
      {"bad checksum still stores", HexRecord(0, 0x0020, two, 1), 4, Row::Flash, 0x20, 0x46},
      {"near the image, in no window", HexRecord(0, 0x0000, two), 16, Row::None, 0, 0x46},
      {"wrong checksum overrides 16", HexRecord(0, 0x0000, two, 1), 4, Row::None, 0, 0x46},
      {"line shorter than its count", HexRecord(0, 0x0030, two).substr(0, 14), 4, Row::None, 0, 0},
      {"type 04 with an address field", HexRecord(4, 0x0001, {0x08, 0x00}), 3, Row::None, 0, 0},
      {"type 06", HexRecord(6, 0, two), 5, Row::None, 0, 0},
      {"no colon", ";" + HexRecord(0, 0x0010, two).substr(1), 1, Row::None, 0, 0},
      {"count 0 with garbage", ":00zzzz99", 0, Row::None, 0, 0},
      {"type 01 with a count", HexRecord(1, 0, two), 0, Row::None, 0, 0},
      {"type 02 shorter than its two bytes", ":0100000200FD", 4, Row::None, 0, 0},
  };
  const std::uint32_t linear[] = {0x0800, 0x0801, 0x0808, 0x0800, 0x0804, 0x0804, 0x0800,
                                  0,      0,      0x0800, 0,      0,      0};
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& row = rows[i];
    SCOPED_TRACE(row.what);
    image.EraseAll();
    ReadCursor cursor;
    cursor.linearOffset = linear[i] << 16;
    EXPECT_EQ(ParseHexLine(row.line, Target(), cursor), row.code);
    EXPECT_EQ(cursor.fileChecksum, row.checksumAdded);
    switch (row.where) {
      case Row::Flash:
        EXPECT_EQ(image.flash[row.index], 0x12);
        EXPECT_EQ(image.flash[row.index + 1], 0x34);
        break;
      case Row::Otp:
        EXPECT_EQ(image.otp[row.index], 0x12);
        break;
      default:
        break;
    }
    if (row.where != Row::Flash) {
      EXPECT_EQ(std::count(image.flash.begin(), image.flash.end(), 0xFF), kFlashImageSize);
    }
    if (row.where != Row::Otp) {
      EXPECT_EQ(std::count(image.otp.begin(), image.otp.end(), 0xFF), kOtpImageSize);
    }
  }
}

TEST_F(ReaderFixture, HexWindowsOrderExtentAndBounds) {
  ReadCursor cursor;
  // Far from the image: ignored silently and not counted, but the extent still sees it.
  cursor.linearOffset = 0x2000'0000;
  EXPECT_EQ(ParseHexLine(HexRecord(0, 0x0000, {1, 2}), Target(), cursor), 0);
  EXPECT_EQ(cursor.fileChecksum, 0u);
  EXPECT_EQ(cursor.lowest, 0x20000000u);
  EXPECT_EQ(cursor.highest, 0x20000001u);

  // Option-byte window: the flag goes up, bytes past the 128-byte image are dropped.
  cursor.linearOffset = 0x1FFF'0000;
  std::vector<std::uint8_t> many(32, 0x5A);
  EXPECT_EQ(ParseHexLine(HexRecord(0, 0xF870, many), Target(), cursor), 0);
  EXPECT_TRUE(image.programOptionBytes);
  EXPECT_EQ(option[0x70], 0x5A);
  EXPECT_EQ(option[0x7F], 0x5A);
  EXPECT_EQ(option[0x6F], 0xFF);
  EXPECT_EQ(cursor.fileChecksum, 32u * 0x5A);

  // OTP data window maps to the OTP data image.
  EXPECT_EQ(ParseHexLine(HexRecord(0, 0x7FFE, {7, 8, 9}), Target(), cursor), 0);
  EXPECT_EQ(image.otp[0xFFE], 7);
  EXPECT_EQ(image.otp[0xFFF], 8);

  // A flash window as large as the image: the tail of a record past the array is dropped.
  image.windows.flashEnd = 0x0BFFFFFF;
  cursor.linearOffset = 0x083F'0000;
  std::vector<std::uint8_t> sixteen(16, 0x33);
  EXPECT_EQ(ParseHexLine(HexRecord(0, 0xFFF8, sixteen), Target(), cursor), 0);
  EXPECT_EQ(image.flash[kFlashImageSize - 1], 0x33);
  EXPECT_EQ(cursor.lowest, 0x083FFFF8u);
  EXPECT_EQ(cursor.highest, 0x20000001u);
}

TEST_F(ReaderFixture, SRecordsTable) {
  struct Row {
    const char* what;
    std::string line;
    int code;
    bool storedInFlash;
    std::uint32_t index;
    std::uint32_t checksumAdded;
  };
  const std::vector<std::uint8_t> two = {0x12, 0x34};
  const Row rows[] = {
      {"S3 in flash", SRecord('3', 0x08000100, two), 0, true, 0x100, 0x46},
      {"S2 near nothing", SRecord('2', 0x000100, two), 16, false, 0, 0x46},
      {"S1 far away still 16", SRecord('1', 0x0100, two), 16, false, 0, 0x46},
      {"S3 bad checksum stores", SRecord('3', 0x08000200, two, 1), 4, true, 0x200, 0x46},
      {"S3 count 5: no data, checksum only", "S30500001000EA", 0, false, 0, 0},
      {"S5 ignored", "S5030001FB", 0, false, 0, 0},
      {"S9 with junk ignored", "S9zz", 0, false, 0, 0},
      {"S4", "S4030000FC", 2, false, 0, 0},
      {"S6", "S604000001FA", 2, false, 0, 0},
      {"type not a digit", "S.000011", 2, false, 0, 0},
      {"lower-case s", "s111000048656C6C6F2C20576F726C64210A7B", 1, false, 0, 0},
      {"count below the address", "S1000011", 4, false, 0, 0},
      {"line shorter than its count", SRecord('3', 0x08000300, two).substr(0, 16), 4, false, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    image.EraseAll();
    ReadCursor cursor;
    EXPECT_EQ(ParseS19Line(row.line, Target(), cursor), row.code);
    EXPECT_EQ(cursor.fileChecksum, row.checksumAdded);
    if (row.storedInFlash) {
      EXPECT_EQ(image.flash[row.index], 0x12);
      EXPECT_EQ(image.flash[row.index + 1], 0x34);
    } else {
      EXPECT_EQ(std::count(image.flash.begin(), image.flash.end(), 0xFF), kFlashImageSize);
    }
  }
}

TEST_F(ReaderFixture, SRecordOptionWindowIsTwiceAsLong) {
  ReadCursor cursor;
  // 0x1FFFFA00 lies in the S-record option window (0x400 long) but past the 128-byte image.
  EXPECT_EQ(ParseS19Line(SRecord('3', 0x1FFFFA00, {1}), Target(), cursor), 0);
  EXPECT_TRUE(image.programOptionBytes);
  image.programOptionBytes = false;
  EXPECT_EQ(ParseHexLine(":020000041FFFDC", Target(), cursor), 0);
  cursor.linearOffset = 0x1FFF0000;
  // Intel HEX: 0x1FFFFA00 is outside the 0x200-byte window and far from the flash image.
  EXPECT_EQ(ParseHexLine(HexRecord(0, 0xFA00, {1}), Target(), cursor), 0);
  EXPECT_FALSE(image.programOptionBytes);
}

TEST_F(ReaderFixture, HexTextOkGoesOnAbortStopsAndEndLinesStop) {
  const std::string text = HexRecord(4, 0, {0x08, 0x00}) + "\r\n" +  // line 1
                           HexRecord(6, 0, {1}) + "\r\n" +           // line 2: code 5
                           HexRecord(0, 0x0000, {0xAA}) + "\r\n" +   // line 3
                           ":00FFFF0101\r\n" +                       // line 4: end
                           HexRecord(0, 0x0001, {0xBB}) + "\r\n";
  {
    testing::FakeFrontend frontend;
    ReadExtent extent;
    const LoadResult result = LoadHexText(text, Target(), frontend, extent);
    EXPECT_EQ(result.status, LoadStatus::Done);
    EXPECT_EQ(frontend.Texts(), std::vector<std::string>{"Line 2 Data Error : 5."});
    EXPECT_EQ(image.flash[0], 0xAA);
    EXPECT_EQ(image.flash[1], 0xFF);
    EXPECT_EQ(extent.lowest, 0x08000000u);
    EXPECT_EQ(extent.highest, 0x08000000u);
  }
  image.EraseAll();
  {
    testing::FakeFrontend frontend;
    frontend.answers.push_back(Answer::Abort);
    ReadExtent extent;
    const LoadResult result = LoadHexText(text, Target(), frontend, extent);
    EXPECT_EQ(result.status, LoadStatus::Aborted);
    EXPECT_EQ(result.lineErrors, 1);
    EXPECT_EQ(image.flash[0], 0xFF);
  }
  // A record of type 01 with a count is no end line.
  image.EraseAll();
  {
    testing::FakeFrontend frontend;
    ReadExtent extent;
    LoadHexText(HexRecord(1, 0, {0}) + "\n" + HexRecord(0, 0x0800, {0x11}) + "\n", Target(),
                frontend, extent);
    EXPECT_EQ(image.flash[0x0800], 0xFF);  // linear offset 0: 0x0800 is far from the flash
  }
}

TEST_F(ReaderFixture, SRecordLineNumbersDoNotWrapAt65536) {
  std::string text;
  for (int i = 0; i < 70000; ++i) text += "S5030001FB\n";
  text += "S4030000FC\n";
  testing::FakeFrontend frontend;
  ReadExtent extent;
  LoadS19Text(text, Target(), frontend, extent);
  EXPECT_EQ(frontend.Texts(), std::vector<std::string>{"Line 70001 Data Error : 2."});
}

// Hostile lines: random characters, random counts and types, lines cut anywhere. Nothing may be
// stored outside the arrays the reader was given.
TEST_F(ReaderFixture, RandomLinesStoreOnlyInsideTheirArrays) {
  std::vector<std::uint8_t> guarded(kFlashImageSize + 2 * 4096, 0xEE);
  std::vector<std::uint8_t> optionGuarded(128 + 2 * 64, 0xEE);
  const std::span<std::uint8_t> destination(guarded.data() + 4096, kFlashImageSize);
  const std::span<std::uint8_t> options(optionGuarded.data() + 64, 128);
  image.windows.flashEnd = 0x0BFFFFFF;  // a window larger than the image
  const ReadTarget target{destination, 0x08000000, &image, options};
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 8) & 0xFFFF; };
  const char alphabet[] = "0123456789ABCDEFabcdefS:GZz \t";
  for (int round = 0; round < 20000; ++round) {
    std::string line(1, round % 2 ? ':' : 'S');
    if (round % 3 == 0) {
      // A plausible record: a count, an address near a window edge, a type, some data.
      line += round % 2 ? Format("%02X%04X%02X", next() & 0xFF, next(), next() % 7)
                        : Format("%c%02X%08X", static_cast<char>('0' + next() % 10), next() & 0xFF,
                                 0x08000000u + 0x3FFF00u + (next() & 0x1FF));
    }
    const int extra = static_cast<int>(next() % 600);
    for (int i = 0; i < extra; ++i) line += alphabet[next() % (sizeof alphabet - 1)];
    ReadCursor cursor;
    cursor.linearOffset = (next() % 4 == 0) ? 0x1FFF0000 : 0x083F0000;
    if (round % 2) {
      ParseHexLine(line, target, cursor);
    } else {
      ParseS19Line(line, target, cursor);
    }
  }
  EXPECT_TRUE(
      std::all_of(guarded.begin(), guarded.begin() + 4096, [](auto b) { return b == 0xEE; }));
  EXPECT_TRUE(std::all_of(guarded.end() - 4096, guarded.end(), [](auto b) { return b == 0xEE; }));
  EXPECT_TRUE(std::all_of(optionGuarded.begin(), optionGuarded.begin() + 64,
                          [](auto b) { return b == 0xEE; }));
  EXPECT_TRUE(
      std::all_of(optionGuarded.end() - 64, optionGuarded.end(), [](auto b) { return b == 0xEE; }));
  EXPECT_NE(std::count(destination.begin(), destination.end(), 0xEE),
            static_cast<std::ptrdiff_t>(kFlashImageSize));  // the lines did store something
}

class ObjectFileFixture : public ReaderFixture {
 protected:
  ObjectFileFixture() {
    dir = std::filesystem::temp_directory_path() /
          ("korvan_obj_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
  }
  ~ObjectFileFixture() override { std::filesystem::remove_all(dir); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  std::filesystem::path dir;
  testing::FakeFrontend frontend;
};

TEST(ObjectFileKind, ByExtension) {
  EXPECT_EQ(ObjectFileKindOf("a/b.hex"), ObjectFileKind::IntelHex);
  EXPECT_EQ(ObjectFileKindOf("B.HEX"), ObjectFileKind::IntelHex);
  EXPECT_EQ(ObjectFileKindOf("x.s19"), ObjectFileKind::SRecord);
  EXPECT_EQ(ObjectFileKindOf("x.S10"), ObjectFileKind::SRecord);
  EXPECT_EQ(ObjectFileKindOf("x.s28"), ObjectFileKind::Unknown);
  EXPECT_EQ(ObjectFileKindOf("x.Bin"), ObjectFileKind::Binary);
  EXPECT_EQ(ObjectFileKindOf("x.elf"), ObjectFileKind::Elf);
  EXPECT_EQ(ObjectFileKindOf("x.AXF"), ObjectFileKind::Elf);
  EXPECT_EQ(ObjectFileKindOf("x.out"), ObjectFileKind::Elf);
  EXPECT_EQ(ObjectFileKindOf("x.o"), ObjectFileKind::Unknown);
  EXPECT_EQ(ObjectFileKindOf("dir.hex/file"), ObjectFileKind::Unknown);
}

TEST_F(ObjectFileFixture, BinaryPlacementFollowsTheLoadOffset) {
  std::string bytes(0x180000, '\0');  // 1.5 MiB: only the first 1 MiB is read
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  const std::string path = Write("big.bin", bytes);
  image.windows.flashEnd = 0x081FFFFF;
  frontend.loadOffsets.push_back("0x08008004");  // not a multiple of 16
  const LoadResult result = LoadObjectFile(path, image, option, frontend, LoadMode::NewImage);
  EXPECT_EQ(result.status, LoadStatus::Done);
  EXPECT_EQ(frontend.loadOffsetPrompts, std::vector<std::string>{"0x08000000"});
  EXPECT_EQ(image.lowest, 0x08008004u);  // as entered
  EXPECT_EQ(image.highest, 0x08008004u + 0xFFFFF);
  EXPECT_EQ(image.flash[0x7FFF], 0xFF);
  EXPECT_EQ(image.flash[0x8000], 0x00);  // placed at the address rounded down to 16
  EXPECT_EQ(image.flash[0x8001], 7);
  EXPECT_EQ(image.flash[0x8000 + 0xFFFFF], static_cast<std::uint8_t>(0xFFFFF * 7));
  EXPECT_EQ(image.flash[0x8000 + 0x100000], 0xFF);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 0x100000; ++i) sum += static_cast<std::uint8_t>(bytes[i]);
  EXPECT_EQ(image.fileChecksum, sum);
  EXPECT_TRUE(image.dataLoaded);
  EXPECT_TRUE(frontend.questions.empty());
}

TEST_F(ObjectFileFixture, DecliningTheOffsetOrAnUnreadableFileChangesNothing) {
  image.flash[0] = 0x42;
  image.otp[0] = 0x43;
  const std::string path = Write("a.bin", "abc");
  frontend.loadOffsets.push_back(std::nullopt);
  EXPECT_EQ(LoadObjectFile(path, image, option, frontend, LoadMode::NewImage).status,
            LoadStatus::Cancelled);
  frontend.loadOffsets.push_back("0x8zz");
  EXPECT_EQ(LoadObjectFile(path, image, option, frontend, LoadMode::NewImage).status,
            LoadStatus::Cancelled);
  EXPECT_EQ(frontend.Texts(), std::vector<std::string>{"'0x8zz' is not a valid integer value"});
  const LoadResult missing =
      LoadObjectFile((dir / "missing.hex").string(), image, option, frontend, LoadMode::NewImage);
  EXPECT_EQ(missing.status, LoadStatus::IoError);
  EXPECT_FALSE(missing.message.empty());
  EXPECT_EQ(image.flash[0], 0x42);
  EXPECT_EQ(image.otp[0], 0x43);
  EXPECT_FALSE(image.dataLoaded);
}

TEST_F(ObjectFileFixture, NewImageErasesOverlayKeepsAndOutsideDataWarns) {
  const std::string first =
      Write("first.hex", HexRecord(4, 0, {0x08, 0x00}) + "\n" + HexRecord(0, 0x0000, {1, 2, 3, 4}) +
                             "\n" + ":00000001FF\n");
  const std::string second = Write(
      "second.s19", SRecord('3', 0x08000002, {9}) + "\n" + SRecord('3', 0x0801FFFF, {6, 5}) + "\n");
  image.flash[0x100] = 0x77;
  image.otp[5] = 0x78;
  LoadObjectFile(first, image, option, frontend, LoadMode::NewImage);
  EXPECT_EQ(image.flash[0x100], 0xFF);
  EXPECT_EQ(image.otp[5], 0xFF);
  EXPECT_TRUE(frontend.questions.empty());
  EXPECT_EQ(image.lowest, 0x08000000u);
  EXPECT_EQ(image.highest, 0x08000003u);
  EXPECT_EQ(image.fileChecksum, 10u);

  LoadObjectFile(second, image, option, frontend, LoadMode::Overlay);
  const std::vector<std::uint8_t> head(image.flash.begin(), image.flash.begin() + 4);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{1, 2, 9, 4}));
  EXPECT_EQ(image.flash[0x20000], 5);  // past the flash end, still inside the image
  EXPECT_EQ(image.highest, 0x08020000u);
  EXPECT_EQ(frontend.Texts(), std::vector<std::string>{"文件数据超出芯片范围，请确认！"});
  EXPECT_EQ(frontend.questions.back().kind, MessageKind::Warning);
}

// CR, LF and CR LF all end a line, in memory and in a file cut into chunks anywhere (a CR LF
// split across two reads is still one line end): every style gives the same image, extent and
// line numbers.
TEST_F(ObjectFileFixture, EveryLineEndStyleReadsTheSameInMemoryAndInChunks) {
  const std::vector<std::string> hexLines = {
      HexRecord(4, 0, {0x08, 0x00}), HexRecord(0, 0x0000, {1, 2, 3}),
      HexRecord(6, 0, {1}),  // line 3: code 5
      HexRecord(0, 0x0100, {4, 5}),  ":00000001FF",
      HexRecord(0, 0x0200, {6})};
  const std::vector<std::string> s19Lines = {SRecord('3', 0x08000000, {1, 2, 3}), "S4030000FC",
                                             SRecord('3', 0x08000100, {4, 5})};
  struct Style {
    const char* name;
    const char* end;
  } styles[] = {{"LF", "\n"}, {"CR LF", "\r\n"}, {"CR", "\r"}};
  for (const bool hex : {true, false}) {
    const auto& lines = hex ? hexLines : s19Lines;
    const std::string error = hex ? "Line 3 Data Error : 5." : "Line 2 Data Error : 2.";
    for (const Style& style : styles) {
      std::string text;
      for (const auto& line : lines) text += line + style.end;
      const std::string path = Write(hex ? "a.hex" : "a.s19", text);
      for (const std::size_t chunk :
           {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{7}, kObjectFileChunk}) {
        SCOPED_TRACE(std::string(hex ? "HEX " : "S19 ") + style.name + " chunk " +
                     std::to_string(chunk));
        image.EraseAll();
        testing::FakeFrontend asked;
        ReadExtent extent;
        const LoadResult result =
            chunk == 0 ? (hex ? LoadHexText(text, Target(), asked, extent)
                              : LoadS19Text(text, Target(), asked, extent))
                       : detail::LoadTextFileInChunks(path, hex, Target(), asked, extent, chunk);
        EXPECT_EQ(result.status, LoadStatus::Done);
        EXPECT_EQ(asked.Texts(), std::vector<std::string>{error});
        EXPECT_EQ(extent.lowest, 0x08000000u);
        EXPECT_EQ(extent.highest, 0x08000101u);  // the HEX record after the end line is not read
        EXPECT_EQ(image.flash[2], 3);
        EXPECT_EQ(image.flash[0x101], 5);
        EXPECT_EQ(image.flash[0x200], 0xFF);
      }
    }
  }
}

// What follows a record's checksum is not read, however long: a line longer than any record
// keeps its record and skips its rest (in a file without holding it in memory), and a long line
// that holds no record is one line error. Lines after it are read; in memory and in chunks alike.
TEST_F(ObjectFileFixture, ALongLineIsCutAfterItsRecordAndReadingGoesOn) {
  const std::string tail(kMaxObjectLineLength + 10, '0');
  struct Case {
    const char* name;
    bool hex;
    std::string text;
    std::vector<std::string> questions;
  } cases[] = {
      {"HEX record with a long tail",
       true,
       HexRecord(4, 0, {0x08, 0x00}) + "\n" + HexRecord(0, 0x0004, {0xA5}) + tail + "\n" +
           HexRecord(0, 0x0010, {0x5A}) + "\n",
       {}},
      {"HEX record with a long tail, last without line end",
       true,
       HexRecord(4, 0, {0x08, 0x00}) + "\r\n" + HexRecord(0, 0x0010, {0x5A}) + "\r\n" +
           HexRecord(0, 0x0004, {0xA5}) + std::string(3 * kMaxObjectLineLength, 'x'),
       {}},
      {"S19 record with a long tail",
       false,
       SRecord('3', 0x08000004, {0xA5}) + tail + "\r" + SRecord('3', 0x08000010, {0x5A}) + "\r",
       {}},
      {"long lines without a record",
       true,
       HexRecord(4, 0, {0x08, 0x00}) + "\n" + tail + "\n" + HexRecord(0, 0x0004, {0xA5}) + "\n" +
           HexRecord(0, 0x0010, {0x5A}) + "\n" + std::string(kMaxObjectLineLength, 'x'),
       {"Line 2 Data Error : 1.", "Line 5 Data Error : 1."}},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.hex ? "long.hex" : "long.s19", c.text);
    for (const std::size_t chunk :
         {std::size_t{0}, std::size_t{7}, std::size_t{4096}, kObjectFileChunk}) {
      SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
      image.EraseAll();
      testing::FakeFrontend asked;
      ReadExtent extent;
      const LoadResult result =
          chunk == 0 ? (c.hex ? LoadHexText(c.text, Target(), asked, extent)
                              : LoadS19Text(c.text, Target(), asked, extent))
                     : detail::LoadTextFileInChunks(path, c.hex, Target(), asked, extent, chunk);
      EXPECT_EQ(result.status, LoadStatus::Done);
      EXPECT_EQ(asked.Texts(), c.questions);
      EXPECT_EQ(result.lineErrors, static_cast<int>(c.questions.size()));
      EXPECT_EQ(image.flash[0x04], 0xA5);
      EXPECT_EQ(image.flash[0x10], 0x5A);
      EXPECT_EQ(extent.lowest, 0x08000004u);
      EXPECT_EQ(extent.highest, 0x08000010u);
    }
  }
}

// A huge text file (here 128 MiB of a sparse file, mostly one line of NUL characters between
// two records) is read in bounded memory: the peak resident size grows by far less than the file.
TEST_F(ObjectFileFixture, AHugeSparseTextFileIsReadInBoundedMemory) {
  const std::string path = (dir / "sparse.hex").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << HexRecord(4, 0, {0x08, 0x00}) << "\n" << HexRecord(0, 0, {0x11}) << "\n";
  }
  const std::uint64_t size = 128ull << 20;
  std::filesystem::resize_file(path, size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << "\n" << HexRecord(0, 0x0020, {0x22}) << "\n";
  }
  // The child measures its own peak from a reset, so the parent's memory does not count.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto rssKiB = [](const char* field) {
      std::ifstream status("/proc/self/status");
      std::string line;
      while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
      }
      return -1L;
    };
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak resident size
    const long before = rssKiB("VmHWM:");
    testing::FakeFrontend asked;
    const LoadResult result = LoadObjectFile(path, image, option, asked, LoadMode::NewImage);
    const long grown = rssKiB("VmHWM:") - before;
    const bool ok = result.status == LoadStatus::Done && result.lineErrors == 1 &&
                    image.flash[0] == 0x11 && image.flash[0x20] == 0x22 && before > 0 &&
                    grown < 32 * 1024;
    if (!ok)
      std::fprintf(stderr, "peak grew by %ld KiB, %d line errors\n", grown, result.lineErrors);
    std::_Exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The extent of a binary runs from the address entered over the file's length, wherever that
// lies: below the flash start, inside it, or at the top of the address space, where it ends at
// 0xFFFFFFFF rather than wrapping. Data outside the flash are reported.
TEST_F(ObjectFileFixture, ABinaryExtentRunsFromTheEnteredAddressWithoutWrapping) {
  const std::string path = Write("forty.bin", std::string(40, '\x5A'));
  struct Case {
    const char* address;
    std::uint32_t lowest;
    std::uint32_t highest;
    bool outside;
  } cases[] = {
      {"0x07FFFFF8", 0x07FFFFF8, 0x0800001F, true},
      {"0x08000010", 0x08000010, 0x08000037, false},
      {"0xFFFFFFF0", 0xFFFFFFF0, 0xFFFFFFFF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    testing::FakeFrontend asked;
    asked.loadOffsets.push_back(c.address);
    const LoadResult result = LoadObjectFile(path, image, option, asked, LoadMode::NewImage);
    EXPECT_EQ(result.status, LoadStatus::Done);
    EXPECT_EQ(image.lowest, c.lowest);
    EXPECT_EQ(image.highest, c.highest);
    EXPECT_EQ(asked.Texts(), c.outside ? std::vector<std::string>{kOutsideChipWarning}
                                       : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace korvan
