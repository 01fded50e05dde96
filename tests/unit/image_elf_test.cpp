#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/image/elf_reader.h"
#include "core/image/readers.h"
#include "support/fake_frontend.h"

namespace korvan {
namespace {

namespace fs = std::filesystem;

// A minimal ELF file written byte by byte, so that every class and byte order can be tried
// (the host's linker writes only its own).
struct Segment {
  std::uint32_t type = 1;  // PT_LOAD
  std::uint64_t paddr = 0;
  std::uint64_t vaddr = 0;
  std::string bytes;
  std::uint64_t memsz = 0;  // 0: the file size
};

std::string BuildElf(bool is64, bool bigEndian, const std::vector<Segment>& segments) {
  std::string out;
  auto put = [&](std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
      const int shift = bigEndian ? 8 * (size - 1 - i) : 8 * i;
      out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
  };
  const int word = is64 ? 8 : 4;
  const std::uint64_t headerSize = is64 ? 64 : 52;
  const std::uint64_t phSize = is64 ? 56 : 32;
  std::uint64_t dataOffset = headerSize + phSize * segments.size();
  out = std::string(
      "\x7F"
      "ELF",
      4);
  out.push_back(is64 ? 2 : 1);
  out.push_back(bigEndian ? 2 : 1);
  out.push_back(1);
  out.append(9, '\0');
  put(2, 2);  // ET_EXEC
  put(is64 ? 62 : 40, 2);
  put(1, 4);
  put(0, word);  // entry
  put(headerSize, word);
  put(0, word);  // no section headers
  put(0, 4);
  put(headerSize, 2);
  put(phSize, 2);
  put(segments.size(), 2);
  put(is64 ? 64 : 40, 2);
  put(0, 2);
  put(0, 2);
  for (const Segment& s : segments) {
    const std::uint64_t memsz = s.memsz ? s.memsz : s.bytes.size();
    put(s.type, 4);
    if (is64) put(6, 4);
    put(dataOffset, word);
    put(s.vaddr ? s.vaddr : s.paddr, word);
    put(s.paddr, word);
    put(s.bytes.size(), word);
    put(memsz, word);
    if (!is64) put(6, 4);
    put(4, word);
    dataOffset += s.bytes.size();
  }
  for (const Segment& s : segments) out += s.bytes;
  return out;
}

class ElfFixture : public ::testing::Test {
 protected:
  ElfFixture() {
    dir = fs::path(::testing::TempDir()) /
          ("elf_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    SetWindows(elfImage);
    SetWindows(hexImage);
  }
  ~ElfFixture() override { fs::remove_all(dir); }

  static void SetWindows(ImageBuffer& image) {
    image.windows.flashStart = 0x08000000;
    image.windows.flashEnd = 0x0801FFFF;
    image.windows.eepStart = 0x08080000;
    image.windows.eepEnd = 0x08080FFF;
  }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  int Run(const std::string& command) {
    return std::system(("cd '" + dir.string() + "' && " + command + " >tool.log 2>&1").c_str());
  }
  LoadResult Load(const std::string& path, ImageBuffer& image, LoadMode mode = LoadMode::NewImage) {
    return LoadObjectFile(path, image, option, frontend, mode);
  }

  fs::path dir;
  ImageBuffer elfImage;
  ImageBuffer hexImage;
  std::array<std::uint8_t, 128> option{};
  testing::FakeFrontend frontend;
};

// The toolchain links a program whose data run from RAM but are stored in flash right after
// the code (load address differs from run address), with a zero-filled tail (.bss) in the
// same segment and a section outside every segment. The ELF file must give the image its HEX
// conversion gives, 64-bit as linked and 32-bit after conversion.
TEST_F(ElfFixture, LoadsAsItsHexConversionDoes) {
  Write("fw.s",
        "  .section .text,\"ax\"\n"
        "  .ascii \"CODE-in-flash-0123456789abcdefghij\"\n"
        "  .byte 1,2,3,4,5\n"
        "  .section .data,\"aw\"\n"
        "  .ascii \"DATA-runs-from-RAM-stored-in-flash\"\n"
        "  .section .bss,\"aw\",@nobits\n"
        "  .zero 64\n"
        "  .section .comment_kept,\"\"\n"
        "  .ascii \"not loaded\"\n");
  Write("fw.ld",
        "MEMORY { FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 64K\n"
        "         RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 8K }\n"
        "PHDRS { text PT_LOAD; data PT_LOAD; }\n"
        "SECTIONS {\n"
        "  .text : { *(.text*) } > FLASH :text\n"
        "  .data : { *(.data*) } > RAM AT> FLASH :data\n"
        "  .bss : { *(.bss*) } > RAM :data\n"
        "  .comment_kept 0 : { *(.comment_kept) } :NONE\n"
        "}\n");
  ASSERT_EQ(Run("as -o fw.o fw.s && ld -T fw.ld -o fw.elf fw.o && objcopy -O ihex fw.elf fw.hex"
                " && objcopy -O elf32-little fw.elf fw32.axf"),
            0);
  ASSERT_EQ(Load((dir / "fw.hex").string(), hexImage).status, LoadStatus::Done);
  const std::string code = "CODE-in-flash-0123456789abcdefghij\x01\x02\x03\x04\x05";
  const std::string data = "DATA-runs-from-RAM-stored-in-flash";
  ASSERT_EQ(std::string(hexImage.flash.begin() + code.size(),
                        hexImage.flash.begin() + code.size() + data.size()),
            data);
  for (const char* name : {"fw.elf", "fw32.axf"}) {
    SCOPED_TRACE(name);
    std::fill(elfImage.flash.begin(), elfImage.flash.end(), 0);
    const LoadResult result = Load((dir / name).string(), elfImage);
    EXPECT_EQ(result.status, LoadStatus::Done) << result.message;
    EXPECT_EQ(result.lineErrors, 0);
    EXPECT_TRUE(elfImage.flash == hexImage.flash);
    EXPECT_TRUE(elfImage.otp == hexImage.otp);
    EXPECT_EQ(elfImage.lowest, hexImage.lowest);
    EXPECT_EQ(elfImage.highest, hexImage.highest);
    EXPECT_EQ(elfImage.highest, 0x08000000u + code.size() + data.size() - 1);
    EXPECT_EQ(elfImage.fileChecksum, hexImage.fileChecksum);
    EXPECT_EQ(elfImage.flash[code.size() + data.size()], 0xFF);  // the .bss tail is not placed
  }
  EXPECT_TRUE(frontend.questions.empty()) << frontend.Texts()[0];
}

TEST_F(ElfFixture, EveryClassAndByteOrder) {
  const std::vector<Segment> segments = {
      {4, 0x08000000, 0, "note, not loadable"},   // PT_NOTE
      {1, 0x08000100, 0, "first", 0x100},         // zero-filled tail
      {1, 0x20000000, 0, "", 0x40},               // .bss only
      {1, 0x08000105, 0x20000000, "second\xAA"},  // runs from RAM
  };
  for (const bool is64 : {false, true}) {
    for (const bool big : {false, true}) {
      SCOPED_TRACE(std::string(is64 ? "64" : "32") + (big ? " big" : " little"));
      const std::string path = Write("fw.out", BuildElf(is64, big, segments));
      const LoadResult result = Load(path, elfImage);
      ASSERT_EQ(result.status, LoadStatus::Done) << result.message;
      EXPECT_EQ(std::string(elfImage.flash.begin() + 0xFF, elfImage.flash.begin() + 0x10D),
                "\xFF"
                "firstsecond\xAA\xFF");
      EXPECT_EQ(elfImage.flash[0], 0xFF);
      EXPECT_EQ(elfImage.lowest, 0x08000100u);
      EXPECT_EQ(elfImage.highest, 0x0800010Bu);
      EXPECT_EQ(elfImage.fileChecksum, 552u + 636u + 0xAAu);  // "first", "second", 0xAA
    }
  }
  EXPECT_TRUE(frontend.questions.empty());
}

TEST_F(ElfFixture, OutsideTheWindowsAsksOncePerSegmentLikeHex) {
  // 0x08030000 is within 4 MiB of the flash start but beyond this part's 128 KiB: HEX code 16.
  const std::string path = Write(
      "fw.elf",
      BuildElf(false, false, {{1, 0x08030000, 0, std::string(40, 'x')}, {1, 0x08000000, 0, "ok"}}));
  frontend.answers = {Answer::Ok};
  const LoadResult result = Load(path, elfImage);
  EXPECT_EQ(result.status, LoadStatus::Done);
  EXPECT_EQ(result.lineErrors, 1);
  EXPECT_EQ(frontend.Texts(), (std::vector<std::string>{"Segment 0 Data Error : 16.",
                                                        "文件数据超出芯片范围，请确认！"}));
  EXPECT_EQ(elfImage.flash[0], 'o');
  EXPECT_EQ(elfImage.flash[0x30000], 0xFF);

  frontend.questions.clear();
  frontend.answers = {Answer::Abort};
  EXPECT_EQ(Load(path, elfImage).status, LoadStatus::Aborted);
  EXPECT_EQ(elfImage.flash[0], 0xFF);  // the later segment was not read
}

TEST_F(ElfFixture, BrokenFilesAreRefusedAndChangeNothing) {
  const std::string good = BuildElf(false, false, {{1, 0x08000000, 0, "abcd"}});
  std::string badClass = good;
  badClass[4] = 3;
  std::string badOrder = good;
  badOrder[5] = 0;
  std::string pastTheEnd = good.substr(0, good.size() - 2);
  std::string headerSize40 = good;  // e_phentsize at offset 42 of a 32-bit header
  headerSize40[42] = 40;
  std::string headerSize16 = good;
  headerSize16[42] = 16;
  struct Row {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const Row rows[] = {
      {"a HEX file named .elf", ":00000001FF\n", "not an ELF file"},
      {"empty", "", "not an ELF file"},
      {"class", badClass, "unknown ELF class 3"},
      {"byte order", badOrder, "unknown byte order 0"},
      {"headers cut short", good.substr(0, 60), "program header"},
      {"segment past the end of the file", pastTheEnd, "lies beyond the end of the file"},
      {"program headers longer than the class's", headerSize40, "program headers of 40 bytes"},
      {"program headers shorter than the class's", headerSize16, "program headers of 16 bytes"},
      {"no loadable data", BuildElf(true, true, {{1, 0x20000000, 0, "", 0x40}}),
       "no loadable segment"},
      {"address beyond 32 bits", BuildElf(true, false, {{1, 0x1FFFFFFFEull, 0, "abcd"}}),
       "leaves the 32-bit address space"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    elfImage.flash[0] = 0x42;
    const std::string path = Write("broken.elf", row.bytes);
    bool announced = false;
    const LoadResult result = LoadObjectFile(path, elfImage, option, frontend, LoadMode::NewImage,
                                             ObjectFileKind::Elf, [&] { announced = true; });
    EXPECT_FALSE(announced);
    EXPECT_EQ(result.status, LoadStatus::IoError);
    EXPECT_NE(result.message.find(row.reason), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("broken.elf"), std::string::npos) << result.message;
    EXPECT_EQ(elfImage.flash[0], 0x42);
    EXPECT_FALSE(elfImage.dataLoaded);
  }
  EXPECT_TRUE(frontend.questions.empty());
}

}  // namespace
}  // namespace korvan
