// The job: the document every part of a run receives. The part (chip record), the image buffer,
// the option bytes, the job settings and the values of the window's setting controls (the job
// form), whether an object file or project was loaded and the project mode it came with.
//
// The image buffer is the job's one large piece (4 MiB of flash picture), so a job shares it:
// copies of a job (the stations of a gang of programmers, each with its own four channels) see
// the one buffer until one of them changes it, which then gets its own copy first. Reading goes
// through Image(), changing through MutableImage(); nothing else reaches the buffer.
//
// Threading: one thread, the station's.
#pragma once

#include <memory>

#include "core/image/image_buffer.h"
#include "core/image/project.h"
#include "core/job/job_form.h"
#include "core/model/chip_record.h"
#include "core/model/job_settings.h"
#include "core/model/option_byte_image.h"

namespace korvan {

class Job {
 public:
  Job() : image_(std::make_shared<ImageBuffer>()) {}

  ChipRecord chip;
  OptionByteImage optionBytes{};
  JobSettings settings;
  JobForm form;
  // An object file or a project was loaded into the image.
  bool fileLoaded = false;
  ProjectMode projectMode;

  const ImageBuffer& Image() const { return *image_; }
  // The buffer to change: this job's own, copied first while another job shares it (unless
  // this job leads).
  ImageBuffer& MutableImage();
  // True while another job shares this one's image buffer.
  bool ImageShared() const { return image_.use_count() > 1; }
  // While a job leads, its changes go into the shared buffer itself and the jobs sharing it
  // follow: a gang's further stations while the first loads the job they take next, so that
  // the load makes no second picture.
  void SetLeading(bool leading) { leading_ = leading; }

 private:
  std::shared_ptr<ImageBuffer> image_;
  bool leading_ = false;
};

}  // namespace korvan
