#include <gtest/gtest.h>

#include "core/util/gbk.h"

namespace korvan {
namespace {

TEST(Gbk, ConvertsBothWaysAndCutsOnCharacterBoundaries) {
  EXPECT_EQ(Utf8ToGbk("序列号"), "\xD0\xF2\xC1\xD0\xBA\xC5");
  EXPECT_EQ(GbkToUtf8("\xD0\xF2\xC1\xD0\xBA\xC5"), "序列号");
  EXPECT_EQ(Utf8ToGbk("N32G452CBL7"), "N32G452CBL7");
  EXPECT_EQ(Utf8ToGbk("A序列", 4), "A\xD0\xF2");  // the second character does not fit whole
  EXPECT_EQ(Utf8ToGbk("A序列", 5), "A\xD0\xF2\xC1\xD0");
  EXPECT_EQ(Utf8ToGbk("a\xFF"
                      "b"),
            "a?b");                     // malformed UTF-8
  EXPECT_EQ(Utf8ToGbk("x😀y"), "x?y");   // no GBK character
  EXPECT_EQ(GbkToUtf8("a\xD0"), "a?");  // cut double-byte character
  EXPECT_EQ(GbkToUtf8(Utf8ToGbk("固件升级 V3.0")), "固件升级 V3.0");
}

}  // namespace
}  // namespace korvan
