#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/image/firmware_cipher.h"

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

}  // namespace
}  // namespace korvan
