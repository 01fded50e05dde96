// The image summary the station reports after every load: flash and EEP windows, the loaded
// extent and the image checksums (which also feed the job settings).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/image/image_buffer.h"
#include "core/model/chip_record.h"

namespace korvan {

struct ImageSummary {
  struct Line {
    std::string text;
    bool timed;  // false for the 43-dot separator, which the panel shows without time
  };
  std::vector<Line> lines;
  std::uint16_t fileCrc = 0;       // CRC of the flash window (less 512 bytes for short N32G003)
  std::uint16_t fileSum = 0;       // ACC of the same bytes, low 16 bits
  std::uint32_t fileChecksum = 0;  // with a confirmed chip: ACC over the loaded extent
  std::string panel0;              // status bar: "文件校验和：0x%0.4x"
  std::string panel1;              // status bar: "芯片校验和：0x%0.4x"
};

// The summary over the flash window. `fileLoaded` is the window's file-loaded flag; `checkCtrl`
// bit 1 leaves the last 512 bytes of the flash out of the checksums.
ImageSummary SummarizeImage(const ImageBuffer& image, const ChipRecord& chip,
                            std::uint8_t checkCtrl, bool fileLoaded);

// "%0.4x" of the station's messages: at least four upper-case digits.
std::string Hex4(std::uint32_t value);

}  // namespace korvan
