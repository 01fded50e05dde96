
#include "core/image/image_summary.h"

#include "core/util/format.h"

namespace korvan {

namespace {
constexpr const char* kSeparatorLine = "...........................................";
}

std::string Hex4(std::uint32_t value) {
  return Format("0x%04X", value);
}

ImageSummary SummarizeImage(const ImageBuffer& image, const ChipRecord& chip,
                            std::uint8_t checkCtrl, bool fileLoaded) {
  ImageSummary s;
  const std::uint32_t flashStart = chip.flashStart;
  const std::uint32_t flashEnd = chip.flashEnd;
  std::uint32_t last = flashEnd - flashStart;
  if (checkCtrl & 0x02) last -= 512;
  const std::span<const std::uint8_t> window = image.flash.Through(last);
  s.fileCrc = CRC(window, 0, last);
  s.fileSum = static_cast<std::uint16_t>(ACC(window, 0, last));

  auto separator = [&] { s.lines.push_back({kSeparatorLine, false}); };
  auto line = [&](std::string text) { s.lines.push_back({std::move(text), true}); };
  if (flashStart < flashEnd) {
    separator();
    line("目标Flash首地址 = " + Hex4(flashStart) + ".");
    line("目标Flash尾地址 = " + Hex4(flashEnd) + ".");
    if (chip.otpSize != 0) {
      separator();
      line("目标EEP Data首地址 = " + Hex4(chip.eepStart) + ".");
      line("目标EEP Data尾地址 = " + Hex4(chip.eepEnd) + ".");
    }
  }
  if (fileLoaded) {
    separator();
    line("目标文件首地址 = " + Hex4(image.lowest) + ".");
    line("目标文件尾地址 = " + Hex4(image.highest) + ".");
  }
  separator();
  if (chip.chipConfirmed) {
    s.fileChecksum = ACC(image.flash.Through(image.highest - flashStart), image.lowest - flashStart,
                         image.highest - flashStart);
    line("主 Flash CRC CheckSum = " + Hex4(s.fileCrc));
    line("主 Flash ACC CheckSum = " + Hex4(s.fileSum));
    s.panel0 = "文件校验和：" + Hex4(s.fileChecksum);
    s.panel1 = "芯片校验和：" + Hex4(s.fileSum);
  } else {
    s.fileChecksum = image.fileChecksum;
    line("File CRC CheckSum = " + Hex4(s.fileCrc));
    line("File ACC CheckSum  = " + Hex4(s.fileSum));
    s.panel0 = "文件校验和：" + Hex4(s.fileSum);
    s.panel1 = "芯片校验和：0x0000";
  }
  separator();
  return s;
}

}  // namespace korvan
