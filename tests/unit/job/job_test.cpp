#include "core/job/job.h"

#include <gtest/gtest.h>

namespace korvan {
namespace {

// Copies of a job share one image; a change gives the changing job its own copy, except while
// it leads, when the jobs sharing the image see the change.
TEST(Job, CopiesShareTheImageUntilOneChangesItUnlessItLeads) {
  Job first;
  first.MutableImage().flash[0] = 0x11;
  const ImageBuffer* own = &first.Image();
  EXPECT_EQ(&first.MutableImage(), own);  // not shared: changed in place

  Job second = first;
  EXPECT_EQ(&second.Image(), own);
  EXPECT_TRUE(first.ImageShared());

  first.SetLeading(true);
  first.MutableImage().flash[1] = 0x22;
  EXPECT_EQ(&first.Image(), own);
  EXPECT_EQ(second.Image().flash[1], 0x22);

  first.SetLeading(false);
  first.MutableImage().flash[2] = 0x33;
  EXPECT_NE(&first.Image(), own);
  EXPECT_FALSE(first.ImageShared());
  EXPECT_EQ(first.Image().flash[0], 0x11);
  EXPECT_EQ(first.Image().flash[2], 0x33);
  EXPECT_EQ(second.Image().flash[2], 0xFF);
  EXPECT_EQ(&second.Image(), own);
}

}  // namespace
}  // namespace korvan
