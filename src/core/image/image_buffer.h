// The image buffer: the memory picture of what the programmers write into a target part.
//
// One instance lives for the whole run, owned by the station and touched only on its thread.
// The flash image maps target address flashStart + i to byte i; the OTP data image maps the EEP
// data window and the OTP data window; the option-byte image (owned next to the chip record)
// is reached through the option-byte window. Every array has a fixed size and every store into
// one is bounded by it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "core/model/checksum.h"

namespace korvan {

namespace detail {
// Large blocks on 2 MiB boundaries with transparent huge pages requested: the 4 MiB flash image
// then costs two page faults instead of a thousand, which a short-lived command-line run feels.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block) noexcept;
}  // namespace detail

template <typename T>
struct LargeBlockAllocator {
  using value_type = T;
  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(detail::AllocateLargeBlock(n * sizeof(T))); }
  void deallocate(T* p, std::size_t) noexcept { detail::FreeLargeBlock(p); }
  template <typename U>
  bool operator==(const LargeBlockAllocator<U>&) const noexcept {
    return true;
  }
};

using FlashBytes = std::vector<std::uint8_t, LargeBlockAllocator<std::uint8_t>>;

inline constexpr std::uint32_t kFlashImageSize = 0x400000;  // 4 MiB
inline constexpr std::uint32_t kOtpImageSize = 0x1000;      // 4096 bytes
// A window start that leaves its window empty (start + length wraps below start).
inline constexpr std::uint32_t kWindowUnset = 0xFFFFFFF0;
inline constexpr std::uint32_t kOtpWindowLength = 0x1000;
// The option-byte window is longer for S-records than for Intel HEX.
inline constexpr std::uint32_t kOptionWindowLengthHex = 0x200;
inline constexpr std::uint32_t kOptionWindowLengthS19 = 0x400;
inline constexpr std::uint8_t kErasedByte = 0xFF;

// The address windows the readers test, in this order: flash, EEP, OTP, option byte (where
// windows overlap the earlier one wins). Flash and EEP windows are inclusive; an EEP end below
// its start leaves the EEP window empty.
struct ImageWindows {
  std::uint32_t flashStart = 0x08000000;
  std::uint32_t flashEnd = 0x0801FFFF;
  std::uint32_t eepStart = 0x08080000;
  std::uint32_t eepEnd = 0x08080FFF;
  std::uint32_t otpStart = kWindowUnset;
  std::uint32_t optionStart = kWindowUnset;
  // Set for a restored part without OTP data, whose EEP end lies just below its start: the
  // window is empty even when the start is 0 and the end wrapped to 0xFFFFFFFF.
  bool eepEmpty = false;

  bool operator==(const ImageWindows&) const = default;

  bool InFlash(std::uint32_t a) const { return a >= flashStart && a <= flashEnd; }
  bool InEep(std::uint32_t a) const { return !eepEmpty && a >= eepStart && a <= eepEnd; }
  // [start, start + length) in 32-bit arithmetic: a start whose window would wrap past the top
  // of the address space gives an empty window (the unset value 0xFFFFFFF0).
  static bool InSpan(std::uint32_t a, std::uint32_t start, std::uint32_t length) {
    const std::uint32_t end = start + length;
    return a >= start && a < end;
  }
  bool InOtp(std::uint32_t a) const { return InSpan(a, otpStart, kOtpWindowLength); }
};

struct ImageBuffer {
  ImageBuffer();

  FlashBytes flash;  // kFlashImageSize bytes, never resized
  std::array<std::uint8_t, kOtpImageSize> otp{};
  ImageWindows windows;

  // Extent of the last object-file load: lowest and highest target address of its data records.
  std::uint32_t lowest = 0xFFFFFFFF;
  std::uint32_t highest = 0;
  // Additive sum of the data bytes read by the last object-file load.
  std::uint32_t fileChecksum = 0;
  // Set whenever a reader stores a byte through the option-byte window.
  bool programOptionBytes = false;
  // Set when an object file (or a project) has been loaded.
  bool dataLoaded = false;

  // Fills the whole flash image and the whole OTP data image with 0xFF.
  void EraseAll();
};

// Fills (blocksMinusOne + 1) * 16 bytes of `destination` with `fill`, never past its end.
void FillBlocks16(std::span<std::uint8_t> destination, std::uint32_t blocksMinusOne,
                  std::uint8_t fill);

// Two hexadecimal characters to one byte. No validity check: 'A'..'Z' and 'a'..'z' count from
// 10, anything else is taken as c - '0' (8-bit arithmetic); a wrong character shows only
// through the record checksum.
std::uint8_t HexPairToByte(char high, char low);

// Additive sum over bytes [start, end] inclusive; 0 when start or end lies above 0xFFFFFF, when
// end < start, or when end lies past the array.
std::uint32_t ACC(std::span<const std::uint8_t> bytes, std::uint32_t start, std::uint32_t end);

// The image checksum `CRC` is the packet CRC (core/model/checksum.h).

}  // namespace korvan
