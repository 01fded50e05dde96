#include "core/model/option_byte_image.h"

namespace korvan {

void SetOptionPair(OptionByteImage& image, std::size_t index, std::uint8_t value) {
  image[index] = value;
  image[index + 1] = static_cast<std::uint8_t>(value ^ 0xFF);
}

OptionChecksum OptionSum(const OptionByteImage& image) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 24; ++i) sum = static_cast<std::uint16_t>(sum + image[i]);
  return {sum, static_cast<std::uint16_t>(sum ^ 0xFFFF)};
}

}  // namespace korvan
