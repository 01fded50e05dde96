
#include "core/image/project.h"

#include <algorithm>

#include "core/model/settings_block.h"
#include "core/util/format.h"
#include "core/util/gbk.h"

namespace korvan {

namespace {

// A name's stored bytes are kept beside it only where converting the name back would not give
// them again; a name that converts cleanly needs nothing more.
std::string BytesNotShownWhole(const std::string& utf8, const std::string& stored) {
  return Utf8ToGbk(utf8) == stored ? std::string() : stored;
}

}  // namespace

void ApplyChipWindows(ImageWindows& windows, const ChipRecord& chip) {
  windows.flashStart = chip.flashStart;
  windows.flashEnd = chip.flashEnd;
  windows.eepStart = chip.eepStart;
  windows.eepEnd = chip.eepEnd;
  windows.eepEmpty = chip.otpSize == 0 && chip.eepEnd == chip.eepStart - 1;
}

bool MakeProjectContent(const ImageBuffer& image, const ChipRecord& chip, const JobSettings& job,
                        const OptionByteImage& optionBytes, std::uint8_t modelCode,
                        ProjectMode mode, const RandomByteSource& random, ProjectContent& out,
                        std::string& error) {
  const std::uint32_t flashBytes = static_cast<std::uint32_t>(chip.flashSizeKB) * 1024;
  if (flashBytes > kProjectFlashLimit) {
    error =
        Format("A project holds at most 1 MiB of flash; this part has %u KiB.", chip.flashSizeKB);
    return false;
  }
  ProjectContent p;
  p.modelCode = modelCode;
  p.modelName = ModelName(modelCode);
  p.chipName = chip.chipName;
  p.chipNameGbk = chip.chipNameGbk;
  p.objectFileName = job.loadedFileName;
  p.objectFileNameGbk = job.loadedFileNameGbk;
  p.countLimit = job.countLimit;
  p.snStart234 = {job.snStart[1], job.snStart[2], job.snStart[3]};
  p.snDisplayFlags = job.snDisplayFlags;
  p.flashSizeBytes = flashBytes;
  p.otpSize = chip.otpSize;
  p.flashStart = chip.flashStart;
  p.eepStart = chip.eepStart;
  p.optionStart = image.windows.optionStart;
  p.modeByte =
      static_cast<std::uint8_t>((mode.otpMode ? kModeOtp : 0) | (mode.carried & kModeCarriedMask));
  p.flashAcc = job.fileSum;
  p.flashCrc = job.fileCrc;
  p.otpAcc = job.otpSum;
  p.otpCrc = job.otpCrc;
  p.optionSum = job.optionSum;
  p.optionSumInv = job.optionSumInv;
  p.settings.fill(0);
  protocol::BuildSettingsBlock(std::span(p.settings).first<protocol::kSettingsBlockSize>(), chip,
                               job, optionBytes, 1, random);
  const std::span<const std::uint8_t> flash = image.flash.First(flashBytes);
  p.flash.assign(flash.begin(), flash.end());
  if (mode.otpMode) {
    const std::size_t otpBytes = std::min<std::size_t>(chip.otpSize, kOtpImageSize);
    p.eep.assign(image.otp.begin(), image.otp.begin() + otpBytes);
  }
  out = std::move(p);
  return true;
}

ProjectMode RestoreProject(const ProjectContent& project, ImageBuffer& image, ChipRecord& chip,
                           JobSettings& job, OptionByteImage& optionBytes) {
  protocol::UnpackSettingsBlock(std::span(project.settings).first<protocol::kSettingsBlockSize>(),
                                chip, job, optionBytes);
  chip.chipName = project.chipName;
  chip.chipNameGbk = BytesNotShownWhole(project.chipName, project.chipNameGbk);
  chip.flashEnd = chip.flashStart + static_cast<std::uint32_t>(chip.flashSizeKB) * 1024 - 1;
  chip.eepEnd = chip.eepStart + chip.otpSize - 1;
  chip.isM0Family = (job.targetCtrl & 0x80) ? 1 : 0;
  chip.isM0FamilyCopy = (job.targetCtrl & 0x40) ? 1 : 0;
  chip.isG43xOrL4Family = (job.targetCtrl & 0x10) ? 1 : 0;
  chip.isN32G020 = (job.familyCtrl & 0x01) ? 1 : 0;
  chip.isN32G430G401 = (job.familyCtrl & 0x04) ? 1 : 0;
  chip.chipConfirmed = 1;
  job.loadedFileName = project.objectFileName;
  job.loadedFileNameGbk = BytesNotShownWhole(project.objectFileName, project.objectFileNameGbk);
  job.snStart[1] = project.snStart234[0];
  job.snStart[2] = project.snStart234[1];
  job.snStart[3] = project.snStart234[2];
  job.snDisplayFlags = project.snDisplayFlags;

  image.EraseAll();
  // The flash data are addressed within the first MiB of the image.
  const std::span<std::uint8_t> flash =
      image.flash.First(std::min<std::size_t>(project.flash.size(), kProjectFlashLimit));
  for (std::size_t i = 0; i < project.flash.size(); ++i) {
    flash[i % kProjectFlashLimit] = project.flash[i];
  }
  std::copy_n(project.eep.begin(), std::min(project.eep.size(), image.otp.size()),
              image.otp.begin());
  ApplyChipWindows(image.windows, chip);
  image.windows.optionStart = project.optionStart;
  image.lowest = chip.flashStart;
  image.highest = chip.flashEnd;
  image.dataLoaded = true;

  // A project saved in OTP mode carries OTP data for its part: the download sends them and the
  // OTP commands are offered, as after choosing a part with OTP data.
  chip.otpPresent = project.OtpMode() ? 1 : 0;

  ProjectMode mode;
  mode.otpMode = project.OtpMode();
  mode.carried = project.modeByte & kModeCarriedMask;
  return mode;
}

}  // namespace korvan
