// Saving and restoring a whole job through a project file: what the station's state gives to
// the file (MakeProjectContent) and what a successfully read file gives back (RestoreProject).
#pragma once

#include <cstdint>

#include "core/image/image_buffer.h"
#include "core/image/project_file.h"
#include "core/model/chip_record.h"
#include "core/model/job_settings.h"
#include "core/model/option_byte_image.h"

namespace korvan {

// Sets the image windows from the chip record. A part restored without OTP data has its EEP end
// just below its start: its EEP window is empty, also when the start is 0.
void ApplyChipWindows(ImageWindows& windows, const ChipRecord& chip);

// The project-file state that lives outside the chip record and the job settings.
struct ProjectMode {
  bool otpMode = false;      // the EEP section carries the OTP data
  std::uint8_t carried = 0;  // the 4-bit value carried from the last project read
};

// The content of a project file for the current job. `job` must be freshly assembled (display
// flags, checksums, option-byte sums, loaded file name). Fails (empty flash, `error` set) when
// the part's flash is larger than a project holds.
bool MakeProjectContent(const ImageBuffer& image, const ChipRecord& chip, const JobSettings& job,
                        const OptionByteImage& optionBytes, std::uint8_t modelCode,
                        ProjectMode mode, const RandomByteSource& random, ProjectContent& out,
                        std::string& error);

// Applies a successfully read project: chip record (confirmed), job settings, option bytes, the
// flash image (erased, then the project's bytes), the OTP data image (erased, then the EEP
// section's bytes, so that saving again gives the same job), the windows and the extent
// (flash start .. flash end), and the data-loaded flag. Returns the project's mode.
ProjectMode RestoreProject(const ProjectContent& project, ImageBuffer& image, ChipRecord& chip,
                           JobSettings& job, OptionByteImage& optionBytes);

}  // namespace korvan
