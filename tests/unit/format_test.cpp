#include <gtest/gtest.h>

#include "core/util/format.h"

namespace korvan {
namespace {

TEST(ParseInteger, AcceptsTheThreeWaysAnEditBoxWritesANumber) {
  struct Row {
    const char* text;
    std::optional<std::int64_t> value;
  } rows[] = {
      {"0", 0},
      {"123", 123},
      {" 0x08000000", 0x08000000},
      {"0X1f", 0x1F},
      {"$FF", 255},
      {"-16", -16},
      {"+7", 7},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"", std::nullopt},
      {"0x", std::nullopt},
      {"$", std::nullopt},
      {"12a", std::nullopt},
      {"0x1G", std::nullopt},
      {"abc", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseInteger(row.text), row.value) << row.text;
  }
}

TEST(Format, UpperCaseHexAndLongOutput) {
  EXPECT_EQ(Format("0x%02X", 254), "0xFE");
  EXPECT_EQ(Format("Line %d Data Error : %d.", 3, 4), "Line 3 Data Error : 4.");
  const std::string longText(1000, 'a');
  EXPECT_EQ(Format("%s!", longText.c_str()), longText + "!");
  EXPECT_EQ(NotAnIntegerMessage("zz"), "'zz' is not a valid integer value");
}

}  // namespace
}  // namespace korvan
