// The flash picture fills memory only as far as it is used: whatever way it is reached, it must
// read as the same 4 MiB a fully filled picture holds (0xFF where nothing was written).
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "core/image/image_buffer.h"

namespace korvan {
namespace {

// A picture with `at` written and nothing reached beyond `reach`.
FlashPicture Written(std::size_t at, std::uint8_t value, std::size_t reach) {
  FlashPicture p;
  p.First(reach)[at] = value;
  return p;
}

bool ErasedFrom(const FlashPicture& p, std::size_t from) {
  return std::all_of(p.begin() + from, p.end(), [](std::uint8_t b) { return b == kErasedByte; });
}

TEST(FlashPicture, ReadsAsAWholeErasedPictureHoweverFarItWasFilled) {
  const FlashPicture fresh;
  EXPECT_TRUE(fresh.First(0).empty());
  EXPECT_EQ(fresh[FlashPicture::size() - 1], kErasedByte);
  EXPECT_TRUE(ErasedFrom(fresh, 0));

  FlashPicture p = Written(10, 0x42, 64);
  EXPECT_EQ(p.Through(10).size(), 11u);
  EXPECT_EQ(p.Through(10)[10], 0x42);
  EXPECT_TRUE(p.Through(FlashPicture::size()).empty());  // a range past the picture
  EXPECT_EQ(p.Through(FlashPicture::size() - 1).size(), FlashPicture::size());
  EXPECT_TRUE(ErasedFrom(p, 11));
}

TEST(FlashPicture, CopiesAndAssignmentsCarryTheWholePicture) {
  // The source filled less than, as much as, or more than the target had.
  const struct {
    std::size_t sourceReach, targetReach;
  } cases[] = {{16, 4096}, {4096, 4096}, {4096, 16}, {FlashPicture::size(), 16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.sourceReach << " over " << c.targetReach);
    const FlashPicture source = Written(3, 0x11, c.sourceReach);
    FlashPicture target = Written(c.targetReach - 1, 0x22, c.targetReach);
    target = source;
    EXPECT_TRUE(target == source);
    EXPECT_EQ(target[3], 0x11);
    EXPECT_EQ(target[c.targetReach - 1], c.targetReach - 1 == 3 ? 0x11 : kErasedByte);
    EXPECT_TRUE(ErasedFrom(target, 4));

    const FlashPicture copy(source);
    EXPECT_TRUE(copy == source);
    EXPECT_TRUE(ErasedFrom(copy, 4));
  }
}

TEST(FlashPicture, EqualityLooksAtBytesNotAtHowFarEachWasFilled) {
  const FlashPicture shortOne = Written(0, kErasedByte, 1);
  const FlashPicture longOne = Written(0, kErasedByte, 8192);
  EXPECT_TRUE(shortOne == longOne);
  EXPECT_TRUE(longOne == shortOne);
  EXPECT_FALSE(Written(8000, 0x00, 8192) == shortOne);
  EXPECT_FALSE(shortOne == Written(8000, 0x00, 8192));
}

TEST(FlashPicture, EraseAndMoveLeaveErasedPictures) {
  FlashPicture p = Written(100, 0x33, 200);
  p.Erase();
  EXPECT_TRUE(ErasedFrom(p, 0));

  FlashPicture from = Written(5, 0x44, 10);
  FlashPicture to(std::move(from));
  EXPECT_EQ(to[5], 0x44);
  EXPECT_TRUE(ErasedFrom(from, 0));  // NOLINT(bugprone-use-after-move): left erased, usable
  from = std::move(to);
  EXPECT_EQ(from[5], 0x44);
}

}  // namespace
}  // namespace korvan
