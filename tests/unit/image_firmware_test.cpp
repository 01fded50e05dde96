#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/image/firmware_cipher.h"
#include "core/image/firmware_image.h"
#include "core/util/atomic_file.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

namespace korvan {
namespace {

// Hand-written vectors: the emulator deciphers with the same code, so a change here must show.
TEST(FirmwareCipher, PinnedVectorsAndRoundTrips) {
  std::vector<std::uint8_t> block(8, 0);
  kfw::CipherTransportBlock(block, 0);
  EXPECT_EQ(block, (std::vector<std::uint8_t>{0xA7, 0x1E, 0x62, 0xD9, 0x0A, 0x8D, 0x34, 0xF1}));
  std::vector<std::uint8_t> second(2, 0);
  kfw::CipherTransportBlock(second, 1);
  EXPECT_EQ(second, (std::vector<std::uint8_t>{0x83, 0xFF}));

  EXPECT_EQ(kfw::CipherHeaderWord(0x1234, 0x0001, kfw::kSlotEndAddress), 0x123C);
  EXPECT_EQ(kfw::CipherHeaderWord(0x123C, 0x0001, kfw::kSlotEndAddress), 0x1234);
  EXPECT_EQ(kfw::CipherHeaderWord(0, 0x8000, kfw::kSlotPayloadLength), 0x0007);

  const std::vector<std::uint8_t> key = {0x10, 0x20};
  std::vector<std::uint8_t> payload(17, 0);
  kfw::CipherPayload(payload, key);
  EXPECT_EQ(payload[0], 0x10);
  EXPECT_EQ(payload[1], 0x21);
  EXPECT_EQ(payload[3], 0x23);
  EXPECT_EQ(payload[16], 0x5B);
  // In pieces, as the loader deciphers 16 bytes at a time.
  kfw::CipherPayload(std::span(payload).first(16), key, 0);
  kfw::CipherPayload(std::span(payload).subspan(16), key, 16);
  EXPECT_EQ(payload, std::vector<std::uint8_t>(17, 0));

  std::array<std::uint8_t, 8> signature = {'K', 'V', '2', 'x', 'F', 'm', 'W', 'r'};
  kfw::CipherSignature(signature);
  EXPECT_EQ(signature[0], 'K' ^ 0x5B);
  kfw::CipherSignature(signature);
  EXPECT_EQ(signature[7], 'r');

  std::vector<std::uint8_t> text = {'a', 'b'};
  kfw::CipherDescription(text, 0x0102);
  EXPECT_EQ(text, (std::vector<std::uint8_t>{'a' ^ 0x02 ^ 0x3C, 'b' ^ 0x04 ^ 0x81}));
}

class FirmwareFile : public ::testing::Test {
 protected:
  FirmwareFile() {
    path = (std::filesystem::temp_directory_path() /
            (std::string("korvan_kfw_") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".KFW"))
               .string();
  }
  ~FirmwareFile() override { std::filesystem::remove(path); }
  void Save(const std::vector<std::uint8_t>& file) {
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), error));
  }
  std::string path;
};

std::vector<std::uint8_t> Firmware(std::size_t n) {
  std::vector<std::uint8_t> firmware(n);
  for (std::size_t i = 0; i < n; ++i) firmware[i] = static_cast<std::uint8_t>(i * 13 + (i >> 8));
  return firmware;
}

TEST_F(FirmwareFile, PackedThenLoadedGivesBackTheFirmware) {
  for (std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{2048}, std::size_t{5001}, kfw::kMaxPayload}) {
    SCOPED_TRACE(size);
    const auto firmware = Firmware(size);
    std::string error;
    FirmwarePackOptions options{"V3.0", "line 2 programmer", 0x1234, 0xBEEF, 99};
    const auto file = PackFirmwareImage(firmware, options, error);
    ASSERT_FALSE(file.empty()) << error;
    EXPECT_LE(file.size(), kFirmwareBufferSize);
    Save(file);
    FirmwareImage image;
    ASSERT_TRUE(LoadFirmwareImage(path, image));
    EXPECT_TRUE(image.present);
    EXPECT_EQ(image.VersionText(), "V3.0");
    EXPECT_EQ(image.description, "line 2 programmer");
    EXPECT_EQ(image.startAddress, 0x2000);
    EXPECT_EQ(image.endAddress, 0x2000 + (size + 1) / 2);
    EXPECT_EQ(image.payloadLength, size);
    EXPECT_EQ(image.parameter1, 0x1234);
    EXPECT_EQ(image.parameter2, 0xBEEF);
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), image.buffer.begin()));
    EXPECT_TRUE(std::all_of(image.buffer.begin() + size, image.buffer.end(),
                            [](std::uint8_t b) { return b == 0; }));
    // The payload is not stored in the clear.
    if (size >= 64) {
      EXPECT_FALSE(
          std::equal(firmware.begin(), firmware.begin() + 64, file.begin() + kfw::kPayloadOffset));
    }
  }
}

TEST_F(FirmwareFile, DamageClearsThePresentFlag) {
  std::string error;
  const auto good = PackFirmwareImage(Firmware(3000), {"V2.1", "", 0, 0, 5}, error);
  struct Row {
    const char* what;
    std::size_t offset;  // byte changed; SIZE_MAX: file cut short
    bool present;
  } rows[] = {
      {"signature", 0, false},
      {"unused bytes 8..9 are outside the checksum", 8, true},
      {"version", 12, false},
      {"key block", 200, false},
      {"payload", kfw::kPayloadOffset + 7, false},
      {"filler", good.size() - 5, false},
      {"stored checksum", good.size() - 1, false},
      {"file cut short", SIZE_MAX, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    auto file = good;
    if (row.offset == SIZE_MAX) {
      file.resize(file.size() - 10);
    } else {
      file[row.offset] ^= 0x01;
    }
    Save(file);
    FirmwareImage image;
    EXPECT_EQ(LoadFirmwareImage(path, image), row.present);
    EXPECT_EQ(image.present, row.present);
  }
  FirmwareImage image;
  EXPECT_FALSE(LoadFirmwareImage(path + ".missing", image));
}

TEST(FirmwareImagePack, RefusesWhatTheLayoutCannotHold) {
  std::string error;
  EXPECT_TRUE(
      PackFirmwareImage(Firmware(kfw::kMaxPayload + 1), {"V1", "", 0, 0, 0}, error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_TRUE(PackFirmwareImage(Firmware(4), {std::string(23, 'V'), "", 0, 0, 0}, error).empty());
  EXPECT_TRUE(PackFirmwareImage(Firmware(4), {"V1", std::string(65, 'd'), 0, 0, 0}, error).empty());
}

TEST(FirmwareIsOlder, ComparesTheVersionAfterTheFirstBlankV) {
  struct Row {
    const char* identity;
    const char* image;
    int result;
  } rows[] = {
      {"Korvan200NAT V2.1", "V2.3", 3},
      {"Korvan200NAT V2.1", "V2.1", 0},
      {"Korvan200NAT V2.1", "V1.9", 0},
      {"Korvan200NAT", "V1.0", 3},   // no version: older than any image version
      {"Korvan200NAT V2.1", "", 0},  // no image version: nothing is older
      {"Korvan200NAT", "", 0},
      // Only as many characters as the programmer's version has are compared.
      {"Korvan200NAT V2.1", "V2.10", 0},
      {"Korvan200NAT V3", "V3.0", 0},
      {"Korvan200NAT V3", "V4.0", 3},
      {"Korvan200NAT V3.0", "V3", 0},
      {"Korvan200NAT V2.9", "V3", 3},
      {"Korvan200NAT V2.1 build", "V2.1", 0},
      {"Korvan200NAT v2.1", "V2.0", 3},        // lower-case v is no version
      {"Korvan200NATX V3.0 V1.0", "V2.0", 0},  // the first " V" counts
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FirmwareIsOlder(row.identity, row.image), row.result)
        << row.identity << " / " << row.image;
  }
}

// korvan-kfw as an operator runs it: pack, then info on the packed image and on a damaged one.
TEST_F(FirmwareFile, ToolPacksAndShowsImages) {
  const std::string tool = KORVAN_BINARY_DIR "/tools/kfw/korvan-kfw";
  const std::string raw = path + ".bin";
  std::string error;
  const auto firmware = Firmware(4000);
  ASSERT_TRUE(WriteFileAtomically(
      raw, std::string_view(reinterpret_cast<const char*>(firmware.data()), firmware.size()),
      error));
  auto run = [](const std::string& command) {
    const int raw = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(run(tool + " pack --version V3.1 --description 'line A' " + raw + " " + path), 0);
  FirmwareImage image;
  ASSERT_TRUE(LoadFirmwareImage(path, image));
  EXPECT_EQ(image.VersionText(), "V3.1");
  EXPECT_EQ(image.description, "line A");
  EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), image.buffer.begin()));
  EXPECT_EQ(run(tool + " info " + path), 0);
  EXPECT_EQ(run(tool + " info " + raw), 1);  // not an image
  EXPECT_EQ(run(tool + " info " + path + ".missing"), 3);
  EXPECT_EQ(run(tool + " pack " + raw + " " + path), 2);  // no version
  EXPECT_EQ(run(tool + " pack --version " + std::string(23, 'V') + " " + raw + " " + path), 2);
  std::filesystem::remove(raw);
}

}  // namespace
}  // namespace korvan
