#include "core/protocol/settings_block.h"

#include <algorithm>
#include <string>

#include "core/protocol/codec.h"
#include "core/util/gbk.h"

namespace korvan::protocol {

namespace {

void Put16(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::span<std::uint8_t> out, std::size_t at, std::uint32_t v) {
  Put16(out, at, v & 0xFFFF);
  Put16(out, at + 2, v >> 16);
}

std::uint16_t Get16(std::span<const std::uint8_t> in, std::size_t at) {
  return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8));
}

std::uint32_t Get32(std::span<const std::uint8_t> in, std::size_t at) {
  return Get16(in, at) | (static_cast<std::uint32_t>(Get16(in, at + 2)) << 16);
}

// A text field: the GBK text cut to the width, zero-filled; "?" for an empty text.
void PutText(std::span<std::uint8_t> out, std::size_t at, std::size_t width,
             const std::string& text) {
  const std::string gbk = text.empty() ? std::string("?") : Utf8ToGbk(text, width);
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(at), width, 0);
  std::copy(gbk.begin(), gbk.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

constexpr std::size_t kHeaderAt = 0x004;
constexpr std::size_t kOptionAt = 0x070;

}  // namespace

void BuildSettingsHeader(std::span<std::uint8_t, kSettingsHeaderSize> out, const ChipRecord& chip,
                         const JobSettings& job, int channel, const RandomByte& random) {
  std::fill(out.begin(), out.end(), 0);
  out[3] = chip.chipGroup;
  out[4] = chip.familyCode;
  out[5] = chip.partIndex;
  out[6] = random();
  out[7] = job.autoDetect;
  out[10] = random();
  out[11] = random();
  Put16(out, 17, static_cast<std::uint32_t>(chip.flashSizeKB) * 4);
  Put16(out, 20, chip.flashSizeKB);
  Put16(out, 22, chip.blockCount);
  Put16(out, 24, chip.blockSize);
  Put16(out, 26, chip.otpSize);
  out[28] = 0x00;
  out[29] = 0x01;
  Put16(out, 30, chip.eepStart & 0xFFFF);
  out[32] = job.linkCtrl;
  out[33] = job.targetCtrl;
  out[34] = job.powerCtrl;
  out[35] = job.eraseCtrl;
  out[36] = job.checkCtrl;
  out[37] = job.familyCtrl;
  Put32(out, 38, channel == 1 ? chip.flashStart : 0);
  out[42] = job.powerOnTime;
  out[43] = job.powerOffTime;
  Put16(out, 44, job.insertSettle);
  Put16(out, 46, job.removeSettle);
  Put16(out, 48, job.fileCrc);
  Put16(out, 50, job.fileSum);
  Put16(out, 52, job.otpCrc);
  Put16(out, 54, job.otpSum);
  Put16(out, 56, job.optionSumInv);
  Put16(out, 58, job.optionSum);
  out[60] = chip.optionByteLength;
  Put16(out, 62, job.runTime);
}

void BuildSettingsBlock(std::span<std::uint8_t, kSettingsBlockSize> out, const ChipRecord& chip,
                        const JobSettings& job, const OptionByteImage& optionBytes, int channel,
                        const RandomByte& random) {
  std::fill(out.begin(), out.end(), 0);
  out[0] = 'K';
  out[1] = 'V';
  out[2] = 'S';
  out[3] = 'B';
  BuildSettingsHeader(out.subspan<kHeaderAt, kSettingsHeaderSize>(), chip, job, channel, random);
  out[0x44] = job.snEnable;
  out[0x45] = job.snSize;
  Put16(out, 0x46, job.snGain);
  Put32(out, 0x48, job.snAddress);
  Put32(out, 0x4C, job.snStart[static_cast<std::size_t>(std::clamp(channel, 1, 4) - 1)]);
  out[0x54] = job.countEnable;
  Put32(out, 0x56, job.countLimit);
  std::copy(optionBytes.begin(), optionBytes.end(), out.begin() + kOptionAt);
  PutText(out, 0x0F0, 16, chip.chipName);
  PutText(out, 0x100, 48, job.loadedFileName);
  for (std::size_t i = 0x130; i < 0x1FC; ++i) out[i] = random();
  Put16(out, 0x1FC, PacketCrc(out, 0, 0x1FB));
  // The field holds the plain 16-bit sum: the complement of the complement.
  const std::uint32_t complement = SumComplement16(out, 0, 0x1FD);
  Put16(out, 0x1FE, ((complement & 0xFFFF) ^ 0xFFFF) + 1);
}

void UnpackSettingsBlock(std::span<const std::uint8_t, kSettingsBlockSize> block, ChipRecord& chip,
                         JobSettings& job, OptionByteImage& optionBytes) {
  const auto h = block.subspan<kHeaderAt, kSettingsHeaderSize>();
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
  job.snEnable = block[0x44];
  job.snSize = block[0x45];
  job.snGain = Get16(block, 0x46);
  job.snAddress = Get32(block, 0x48);
  job.snStart[0] = Get32(block, 0x4C);
  job.countEnable = block[0x54];
  job.countLimit = Get32(block, 0x56);
  std::copy_n(block.begin() + kOptionAt, optionBytes.size(), optionBytes.begin());
}

}  // namespace korvan::protocol
