#include "core/image/image_buffer.h"

#include <sys/mman.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/image/hex_digits.h"

namespace korvan {

namespace detail {

void* AllocateLargeBlock(std::size_t bytes) {
  constexpr std::size_t kHugePage = 2 * 1024 * 1024;
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* p = std::aligned_alloc(kHugePage, rounded);
  if (!p) throw std::bad_alloc();
  ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint: without huge pages nothing changes
  return p;
}

void FreeLargeBlock(void* block) noexcept {
  std::free(block);
}

}  // namespace detail

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

namespace {
bool RangeIsValid(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  return start <= 0xFFFFFF && end <= 0xFFFFFF && end >= start && end < bytes.size();
}
}  // namespace

std::uint32_t ACC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end) {
  if (!RangeIsValid(bytes, start, end)) return 0;
  // Eight bytes at a time in four 16-bit lanes (at most 128 words per round, so a lane never
  // overflows): this sum runs over the whole flash window after every load.
  const std::uint8_t* p = bytes.data() + start;
  std::size_t n = std::size_t{end} - start + 1;
  std::uint32_t sum = 0;
  constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  while (n >= 8) {
    const std::size_t words = std::min<std::size_t>(n / 8, 128);
    std::uint64_t lanes = 0;
    for (std::size_t w = 0; w < words; ++w) {
      std::uint64_t x;
      std::memcpy(&x, p + 8 * w, 8);
      lanes += (x & kLowBytes) + ((x >> 8) & kLowBytes);
    }
    sum += static_cast<std::uint32_t>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) +
                                      ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
    p += 8 * words;
    n -= 8 * words;
  }
  while (n-- > 0) sum += *p++;
  return sum;
}

}  // namespace korvan
