#include "core/job/job.h"

namespace korvan {

ImageBuffer& Job::MutableImage() {
  if (image_.use_count() > 1 && !leading_) image_ = std::make_shared<ImageBuffer>(*image_);
  return *image_;
}

}  // namespace korvan
