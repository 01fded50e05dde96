
#include "core/model/settings_block.h"

#include <algorithm>
#include <string>

#include "core/model/checksum.h"
#include "core/util/gbk.h"

namespace korvan::protocol {

namespace {

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
  h[3] = chip.chipGroup;
  h[4] = chip.familyCode;
  h[5] = chip.partIndex;
  h[6] = random();
  h[7] = job.autoDetect;
  h[10] = random();
  h[11] = random();
  Put16(h, 17, static_cast<std::uint16_t>(chip.flashSizeKB * 4));
  Put16(h, 20, chip.flashSizeKB);
  Put16(h, 22, chip.blockCount);
  Put16(h, 24, chip.blockSize);
  Put16(h, 26, chip.otpSize);
  h[28] = 0x00;
  h[29] = 0x01;
  Put16(h, 30, static_cast<std::uint16_t>(chip.eepStart));
  h[32] = job.linkCtrl;
  h[33] = job.targetCtrl;
  h[34] = job.powerCtrl;
  h[35] = job.eraseCtrl;
  h[36] = job.checkCtrl;
  h[37] = job.familyCtrl;
  Put32(h, 38, channel == 1 ? chip.flashStart : 0);
  h[42] = job.powerOnTime;
  h[43] = job.powerOffTime;
  Put16(h, 44, job.insertSettle);
  Put16(h, 46, job.removeSettle);
  Put16(h, 48, job.fileCrc);
  Put16(h, 50, job.fileSum);
  Put16(h, 52, job.otpCrc);
  Put16(h, 54, job.otpSum);
  Put16(h, 56, job.optionSumInv);
  Put16(h, 58, job.optionSum);
  h[60] = chip.optionByteLength;
  h[61] = 0;
  Put16(h, 62, job.runTime);
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
  chip.chipGroup = h[3];
  chip.familyCode = h[4];
  chip.partIndex = h[5];
  job.autoDetect = h[7];
  chip.flashSizeKB = Get16(h, 20);
  chip.blockCount = Get16(h, 22);
  chip.blockSize = Get16(h, 24);
  chip.otpSize = Get16(h, 26);
  chip.eepStart = Get16(h, 30);
  job.linkCtrl = h[32];
  job.targetCtrl = h[33];
  job.powerCtrl = h[34];
  job.eraseCtrl = h[35];
  job.checkCtrl = h[36];
  job.familyCtrl = h[37];
  chip.flashStart = Get32(h, 38);
  job.powerOnTime = h[42];
  job.powerOffTime = h[43];
  job.insertSettle = Get16(h, 44);
  job.removeSettle = Get16(h, 46);
  job.fileCrc = Get16(h, 48);
  job.fileSum = Get16(h, 50);
  job.otpCrc = Get16(h, 52);
  job.otpSum = Get16(h, 54);
  job.optionSumInv = Get16(h, 56);
  job.optionSum = Get16(h, 58);
  chip.optionByteLength = h[60];
  job.runTime = Get16(h, 62);
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
