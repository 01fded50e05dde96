#include <gtest/gtest.h>

#include <vector>

#include "core/image/address_rules.h"
#include "core/image/binary_helpers.h"

namespace korvan {
namespace {

TEST(AddressRules, LoadOffset) {
  struct Row {
    const char* text;
    std::optional<std::int32_t> offset;
    std::int64_t index;
  } rows[] = {
      {"0x08000000", 0, 0},          {"0x08008000", 0x8000, 0x8000},  {"$08008004", 0x8004, 0x8000},
      {"134250496", 0x8000, 0x8000},  // decimal 0x08008000
      {"0x07FFFFF0", -16, -16},       // below the flash start: bytes below index 0 are dropped
      {"0x07FFFFFC", -4, -16},       {"0x0800800G", std::nullopt, 0}, {"", std::nullopt, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    const auto offset = LoadOffsetFromText(row.text, 0x08000000);
    EXPECT_EQ(offset, row.offset);
    if (offset) {
      EXPECT_EQ(LoadOffsetIndex(*offset), row.index);
    }
  }
  EXPECT_EQ(LoadOffsetShownText(0x08000000), "0x08000000");
  EXPECT_EQ(LoadOffsetShownText(0x0004C000), "0x0004C000");
}

TEST(AddressRules, ReadAddressAndLength) {
  EXPECT_EQ(ReadAddressFromText("0x08008004"), 0x08008000u);
  EXPECT_EQ(ReadAddressFromText(" 0x00000000"), 0u);
  EXPECT_EQ(ReadAddressFromText("$1FFFF80F"), 0x1FFFF800u);
  EXPECT_EQ(ReadAddressFromText("0x100000000"), std::nullopt);
  EXPECT_EQ(ReadAddressFromText("-16"), std::nullopt);
  EXPECT_EQ(ReadAddressFromText("abc"), std::nullopt);
  EXPECT_EQ(ReadAddressShownText(0x08000010), "0x08000010");
  const std::pair<int, int> lengths[] = {{0, 16},      {15, 16},     {16, 16},     {31, 16},
                                         {1024, 1024}, {4096, 4096}, {4097, 4096}, {-5, 16}};
  for (auto [in, out] : lengths) EXPECT_EQ(ReadLengthFromSpin(in), out) << in;
}

TEST(BinaryHelpers, ConsumeAndSum) {
  const std::vector<std::uint8_t> bytes = {0x34, 0x12, 'A' ^ 0x55, 'B' ^ 0x55, 0, 'C' ^ 0x55};
  std::uint32_t sum = 0;
  EXPECT_EQ(ReadWordLE(bytes, sum), 0x1234);
  EXPECT_EQ(sum, 0x46u);
  sum = 0;
  EXPECT_EQ(ReadMaskedText(std::span(bytes).subspan(2), sum, 4, 0x55), "AB");
  EXPECT_EQ(sum, static_cast<std::uint32_t>(('A' ^ 0x55) + ('B' ^ 0x55) + ('C' ^ 0x55)));
  sum = 1;
  SumBytes(bytes, sum, 2);
  EXPECT_EQ(sum, 0x47u);
  SumBytes(bytes, sum, 100);  // never past the span
  std::array<char, 32> field;
  field.fill('x');
  sum = 0;
  const std::vector<std::uint8_t> version = {'V', '3', '.', '0'};
  CopyVersionText(version, sum, 4, field);
  EXPECT_STREQ(field.data(), "V3.0");
  EXPECT_EQ(field[31], 0);
  EXPECT_EQ(sum, static_cast<std::uint32_t>('V' + '3' + '.' + '0'));
  sum = 0;
  EXPECT_EQ(ReadWordLE(std::span(bytes).first(1), sum), 0x34);
}

}  // namespace
}  // namespace korvan
