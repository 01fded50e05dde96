
#include "core/model/settings_block.h"

#include <algorithm>
#include <string>

#include "core/model/checksum.h"
#include "core/util/gbk.h"

namespace korvan::protocol {

namespace {

namespace H = settings_header;

void Put16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
  Put16(out, at, static_cast<std::uint16_t>(v));
  Put16(out, at + 2, static_cast<std::uint16_t>(v >> 16));
}
std::uint16_t Get16(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}
std::uint32_t Get32(std::span<const std::uint8_t> in, std::size_t at) {
  return Get16(in, at) | static_cast<std::uint32_t>(Get16(in, at + 2)) << 16;
}

void PutText(std::span<std::uint8_t> field, const std::string& utf8, const std::string& stored) {
  std::fill(field.begin(), field.end(), 0);
  const std::string gbk =
      utf8.empty() ? std::string("?") : GbkForStorage(utf8, stored, field.size());
  std::copy(gbk.begin(), gbk.end(), field.begin());
}

}  // namespace

void BuildSettingsHeader(std::span<std::uint8_t, kSettingsHeaderSize> h, const ChipRecord& chip,
                         const JobSettings& job, int channel, const RandomByte& random) {
  std::fill(h.begin(), h.end(), 0);
  h[H::kChipGroup] = chip.chipGroup;
  h[H::kFamilyCode] = chip.familyCode;
  h[H::kPartIndex] = chip.partIndex;
  h[H::kRandom0] = random();
  h[H::kAutoDetect] = job.autoDetect;
  h[H::kRandom1] = random();
  h[H::kRandom2] = random();
  Put16(h, H::kFlashQuarterKiB, static_cast<std::uint16_t>(chip.flashSizeKB * 4));
  Put16(h, H::kFlashSizeKB, chip.flashSizeKB);
  Put16(h, H::kBlockCount, chip.blockCount);
  Put16(h, H::kBlockSize, chip.blockSize);
  Put16(h, H::kOtpSize, chip.otpSize);
  h[H::kFixed00] = 0x00;
  h[H::kFixed01] = 0x01;
  Put16(h, H::kEepStart, static_cast<std::uint16_t>(chip.eepStart));
  h[H::kLinkCtrl] = job.linkCtrl;
  h[H::kTargetCtrl] = job.targetCtrl;
  h[H::kPowerCtrl] = job.powerCtrl;
  h[H::kEraseCtrl] = job.eraseCtrl;
  h[H::kCheckCtrl] = job.checkCtrl;
  h[H::kFamilyCtrl] = job.familyCtrl;
  Put32(h, H::kFlashStart, channel == 1 ? chip.flashStart : 0);
  h[H::kPowerOnTime] = job.powerOnTime;
  h[H::kPowerOffTime] = job.powerOffTime;
  Put16(h, H::kInsertSettle, job.insertSettle);
  Put16(h, H::kRemoveSettle, job.removeSettle);
  Put16(h, H::kFileCrc, job.fileCrc);
  Put16(h, H::kFileSum, job.fileSum);
  Put16(h, H::kOtpCrc, job.otpCrc);
  Put16(h, H::kOtpSum, job.otpSum);
  Put16(h, H::kOptionSumInv, job.optionSumInv);
  Put16(h, H::kOptionSum, job.optionSum);
  h[H::kOptionByteLength] = chip.optionByteLength;
  h[H::kZero] = 0;
  Put16(h, H::kRunTime, job.runTime);
}

void BuildSettingsBlock(std::span<std::uint8_t, kSettingsBlockSize> b, const ChipRecord& chip,
                        const JobSettings& job, const OptionByteImage& optionBytes, int channel,
                        const RandomByte& random) {
  std::fill(b.begin(), b.end(), 0);
  b[0] = 'K';
  b[1] = 'V';
  b[2] = 'S';
  b[3] = 'B';
  BuildSettingsHeader(b.subspan<kSettingsBlockHeaderOffset, kSettingsHeaderSize>(), chip, job,
                      channel, random);
  b[0x044] = job.snEnable;
  b[0x045] = job.snSize;
  Put16(b, 0x046, job.snGain);
  Put32(b, 0x048, job.snAddress);
  Put32(b, 0x04C, job.snStart[std::clamp(channel, 1, 4) - 1]);
  b[0x054] = job.countEnable;
  Put32(b, 0x056, job.countLimit);
  std::copy(optionBytes.begin(), optionBytes.end(), b.begin() + kSettingsBlockOptionOffset);
  PutText(b.subspan(kSettingsBlockChipNameOffset, 16), chip.chipName, chip.chipNameGbk);
  PutText(b.subspan(kSettingsBlockFileNameOffset, 48), job.loadedFileName, job.loadedFileNameGbk);
  for (std::size_t i = 0x130; i < 0x1FC; ++i) b[i] = random();
  Put16(b, 0x1FC, PacketCrc(b, 0, 0x1FB));
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 0x1FE; ++i) sum = static_cast<std::uint16_t>(sum + b[i]);
  Put16(b, 0x1FE, sum);
}

void UnpackSettingsBlock(std::span<const std::uint8_t, kSettingsBlockSize> b, ChipRecord& chip,
                         JobSettings& job, OptionByteImage& optionBytes) {
  const auto h = b.subspan<kSettingsBlockHeaderOffset, kSettingsHeaderSize>();
  chip.chipGroup = h[H::kChipGroup];
  chip.familyCode = h[H::kFamilyCode];
  chip.partIndex = h[H::kPartIndex];
  job.autoDetect = h[H::kAutoDetect];
  chip.flashSizeKB = Get16(h, H::kFlashSizeKB);
  chip.blockCount = Get16(h, H::kBlockCount);
  chip.blockSize = Get16(h, H::kBlockSize);
  chip.otpSize = Get16(h, H::kOtpSize);
  chip.eepStart = Get16(h, H::kEepStart);
  job.linkCtrl = h[H::kLinkCtrl];
  job.targetCtrl = h[H::kTargetCtrl];
  job.powerCtrl = h[H::kPowerCtrl];
  job.eraseCtrl = h[H::kEraseCtrl];
  job.checkCtrl = h[H::kCheckCtrl];
  job.familyCtrl = h[H::kFamilyCtrl];
  chip.flashStart = Get32(h, H::kFlashStart);
  job.powerOnTime = h[H::kPowerOnTime];
  job.powerOffTime = h[H::kPowerOffTime];
  job.insertSettle = Get16(h, H::kInsertSettle);
  job.removeSettle = Get16(h, H::kRemoveSettle);
  job.fileCrc = Get16(h, H::kFileCrc);
  job.fileSum = Get16(h, H::kFileSum);
  job.otpCrc = Get16(h, H::kOtpCrc);
  job.otpSum = Get16(h, H::kOtpSum);
  job.optionSumInv = Get16(h, H::kOptionSumInv);
  job.optionSum = Get16(h, H::kOptionSum);
  chip.optionByteLength = h[H::kOptionByteLength];
  job.runTime = Get16(h, H::kRunTime);
  job.snEnable = b[0x044];
  job.snSize = b[0x045];
  job.snGain = Get16(b, 0x046);
  job.snAddress = Get32(b, 0x048);
  job.snStart[0] = Get32(b, 0x04C);
  job.countEnable = b[0x054];
  job.countLimit = Get32(b, 0x056);
  std::copy_n(b.begin() + kSettingsBlockOptionOffset, optionBytes.size(), optionBytes.begin());
}

}  // namespace korvan::protocol
