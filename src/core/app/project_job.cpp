#include "core/app/project_job.h"

#include <algorithm>

#include "core/protocol/settings_block.h"
#include "core/util/format.h"

namespace korvan {

bool MakeProjectContent(const ImageBuffer& image, const ChipRecord& chip, const JobSettings& job,
                        const OptionByteImage& optionBytes, std::uint8_t modelCode,
                        ProjectMode mode, const RandomByteSource& random, ProjectContent& out,
                        std::string& error) {
  const std::uint32_t flashBytes = static_cast<std::uint32_t>(chip.flashSizeKB) * 1024;
  if (flashBytes > kProjectFlashLimit) {
    error = Format("A project holds at most %u KiB of flash, the part has %u KiB",
                   kProjectFlashLimit / 1024, static_cast<unsigned>(chip.flashSizeKB));
    return false;
  }
  out = ProjectContent{};
  out.modelCode = modelCode;
  out.modelName = ModelName(modelCode);
  out.chipName = chip.chipName;
  out.objectFileName = job.loadedFileName;
  out.countLimit = job.countLimit;
  out.snStart234 = {job.snStart[1], job.snStart[2], job.snStart[3]};
  out.snDisplayFlags = job.snDisplayFlags;
  out.flashSizeBytes = flashBytes;
  out.otpSize = chip.otpSize;
  out.flashStart = chip.flashStart;
  out.eepStart = chip.eepStart;
  out.optionStart = image.windows.optionStart;
  out.modeByte =
      static_cast<std::uint8_t>((mode.otpMode ? kModeOtp : 0) | (mode.carried & kModeCarriedMask));
  out.flashAcc = job.fileSum;
  out.flashCrc = job.fileCrc;
  out.otpAcc = job.otpSum;
  out.otpCrc = job.otpCrc;
  out.optionSum = job.optionSum;
  out.optionSumInv = job.optionSumInv;
  protocol::BuildSettingsBlock(std::span(out.settings).first<protocol::kSettingsBlockSize>(), chip,
                               job, optionBytes, 1, random);
  out.flash.assign(image.flash.begin(), image.flash.begin() + flashBytes);
  if (mode.otpMode) {
    const std::size_t n = std::min<std::size_t>(chip.otpSize, image.otp.size());
    out.eep.assign(image.otp.begin(), image.otp.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return true;
}

ProjectMode RestoreProject(const ProjectContent& project, ImageBuffer& image, ChipRecord& chip,
                           JobSettings& job, OptionByteImage& optionBytes) {
  protocol::UnpackSettingsBlock(std::span(project.settings).first<protocol::kSettingsBlockSize>(),
                                chip, job, optionBytes);
  chip.chipName = project.chipName;
  chip.flashEnd = chip.flashStart + static_cast<std::uint32_t>(chip.flashSizeKB) * 1024 - 1;
  chip.eepEnd = chip.eepStart + chip.otpSize - 1;
  chip.isM0Family = (job.targetCtrl & kTargetM0) ? 1 : 0;
  chip.isM0FamilyCopy = (job.targetCtrl & kTargetM0Copy) ? 1 : 0;
  chip.isG43xOrL4Family = (job.targetCtrl & kTargetG43xOrL4) ? 1 : 0;
  chip.isN32G020 = (job.familyCtrl & kFamilyCtrlN32G020) ? 1 : 0;
  chip.isN32G430G401 = (job.familyCtrl & kFamilyCtrlN32G430G401) ? 1 : 0;
  chip.chipConfirmed = 1;
  job.loadedFileName = project.objectFileName;
  job.snStart[1] = project.snStart234[0];
  job.snStart[2] = project.snStart234[1];
  job.snStart[3] = project.snStart234[2];
  job.snDisplayFlags = project.snDisplayFlags;

  image.EraseAll();
  // The flash data are addressed within the first MiB of the image.
  for (std::size_t i = 0; i < project.flash.size(); ++i) {
    image.flash[i % kProjectFlashLimit] = project.flash[i];
  }
  std::copy_n(project.eep.begin(), std::min(project.eep.size(), image.otp.size()),
              image.otp.begin());
  image.windows.flashStart = chip.flashStart;
  image.windows.flashEnd = chip.flashEnd;
  if (chip.otpSize != 0) {
    image.windows.eepStart = chip.eepStart;
    image.windows.eepEnd = chip.eepEnd;
  } else {
    // No OTP data: the EEP window is empty. Taken literally, a restored start of 0 with its end
    // one below would wrap to 0xFFFFFFFF and send every address outside the flash to the OTP
    // data image.
    image.windows.eepStart = kWindowUnset;
    image.windows.eepEnd = kWindowUnset - 1;
  }
  image.windows.optionStart = project.optionStart;
  image.lowest = chip.flashStart;
  image.highest = chip.flashEnd;
  image.dataLoaded = true;
  return {project.OtpMode(), static_cast<std::uint8_t>(project.modeByte & kModeCarriedMask)};
}

}  // namespace korvan
