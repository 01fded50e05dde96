#include "core/image/image_buffer.h"

#include <sys/mman.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "core/image/hex_digits.h"

namespace korvan {

namespace {

// The picture on 2 MiB boundaries with transparent huge pages requested: filling it then costs
// a page fault per 2 MiB instead of one per 4 KiB, which a short-lived command-line run feels.
// Nothing is touched here.
std::uint8_t* AllocatePicture() {
  constexpr std::size_t kHugePage = 2 * 1024 * 1024;
  static_assert(kFlashImageSize % kHugePage == 0);
  void* p = std::aligned_alloc(kHugePage, kFlashImageSize);
  if (!p) throw std::bad_alloc();
  ::madvise(p, kFlashImageSize, MADV_HUGEPAGE);  // a hint: without huge pages nothing changes
  return static_cast<std::uint8_t*>(p);
}

}  // namespace

FlashPicture::FlashPicture() : bytes_(AllocatePicture()) {}

FlashPicture::FlashPicture(const FlashPicture& other)
    : bytes_(AllocatePicture()), filled_(other.filled_) {
  std::memcpy(bytes_, other.bytes_, filled_);
}

FlashPicture& FlashPicture::operator=(const FlashPicture& other) {
  if (this == &other) return *this;
  // What this picture filled beyond the other's is erased again (it is the other's now).
  std::memcpy(bytes_, other.bytes_, other.filled_);
  if (filled_ > other.filled_) {
    std::memset(bytes_ + other.filled_, kErasedByte, filled_ - other.filled_);
  } else {
    filled_ = other.filled_;
  }
  return *this;
}

// The picture moved from is left erased, as a new one: it takes fresh memory, untouched.
FlashPicture::FlashPicture(FlashPicture&& other) : FlashPicture() {
  std::swap(bytes_, other.bytes_);
  std::swap(filled_, other.filled_);
}

FlashPicture& FlashPicture::operator=(FlashPicture&& other) noexcept {
  std::swap(bytes_, other.bytes_);
  std::swap(filled_, other.filled_);
  return *this;
}

FlashPicture::~FlashPicture() {
  std::free(bytes_);
}

bool FlashPicture::operator==(const FlashPicture& other) const {
  const FlashPicture& longer = filled_ >= other.filled_ ? *this : other;
  const std::size_t common = std::min(filled_, other.filled_);
  return std::memcmp(bytes_, other.bytes_, common) == 0 &&
         std::all_of(longer.bytes_ + common, longer.bytes_ + longer.filled_,
                     [](std::uint8_t b) { return b == kErasedByte; });
}

void FlashPicture::Erase() {
  std::memset(bytes_, kErasedByte, filled_);
}

void FlashPicture::FillTo(std::size_t n) const {
  n = std::min(n, size());
  if (n <= filled_) return;
  std::memset(bytes_ + filled_, kErasedByte, n - filled_);
  filled_ = n;
}

ImageBuffer::ImageBuffer() {
  otp.fill(kErasedByte);
}

void ImageBuffer::EraseAll() {
  flash.Erase();
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
