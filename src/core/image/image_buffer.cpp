#include "core/image/image_buffer.h"

#include <algorithm>

#include "core/image/hex_digits.h"

namespace korvan {

ImageBuffer::ImageBuffer() : flash(kFlashImageSize, kErasedByte) {
  otp.fill(kErasedByte);
}

void ImageBuffer::EraseAll() {
  FillBlocks16(flash, kFlashImageSize / 16 - 1, kErasedByte);
  FillBlocks16(otp, kOtpImageSize / 16 - 1, kErasedByte);
}

void FillBlocks16(std::span<std::uint8_t> destination, std::uint32_t blocksMinusOne,
                  std::uint8_t fill) {
  const std::uint64_t wanted = (static_cast<std::uint64_t>(blocksMinusOne) + 1) * 16;
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::uint64_t>(wanted, destination.size()));
  std::fill_n(destination.begin(), count, fill);
}

std::uint8_t HexPairToByte(char high, char low) {
  return detail::HexPair(high, low);
}

namespace detail {
bool RangeIsValid(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  return start <= 0xFFFFFF && end <= 0xFFFFFF && end >= start && end < bytes.size();
}
}  // namespace detail

std::uint32_t ACC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  if (!detail::RangeIsValid(bytes, start, end)) return 0;
  std::uint32_t sum = 0;
  for (std::uint32_t i = start; i <= end; ++i) sum += bytes[i];
  return sum;
}

}  // namespace korvan
