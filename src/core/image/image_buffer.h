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
#include <span>

#include "core/model/checksum.h"

namespace korvan {

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

// The flash picture: kFlashImageSize bytes, erased (0xFF) until written. Memory is taken for all
// of it at once but filled only as far as it is used, from the front: a part's flash window is
// at most a MiB or two, and the picture behind it is erased in memory only when something
// reaches it. A command-line run then never touches the megabytes no part has, and a copy
// (before a load, or for a job of its own) copies only what was used.
//
// Every way to the bytes fills what it hands out first: First(n) the first n bytes, the whole
// range (data(), begin(), a span made from the picture) all of them; so no caller ever sees
// memory that was not erased or written. Filling does not change the picture's contents, so it
// is done for const access as well. One thread, like the image buffer.
class FlashPicture {
 public:
  using value_type = std::uint8_t;

  FlashPicture();
  FlashPicture(const FlashPicture& other);
  FlashPicture& operator=(const FlashPicture& other);
  FlashPicture(FlashPicture&& other);
  FlashPicture& operator=(FlashPicture&& other) noexcept;
  ~FlashPicture();

  static constexpr std::size_t size() { return kFlashImageSize; }

  // The first n bytes (n <= size()).
  std::span<std::uint8_t> First(std::size_t n) {
    Fill(n);
    return {bytes_, n};
  }
  std::span<const std::uint8_t> First(std::size_t n) const {
    Fill(n);
    return {bytes_, n};
  }
  // Bytes [0, last] when `last` lies in the picture, none otherwise: for checksums and saves
  // over a range that ends at `last`, which give nothing for a range past the picture.
  std::span<const std::uint8_t> Through(std::uint64_t last) const {
    return last < size() ? First(static_cast<std::size_t>(last) + 1)
                         : std::span<const std::uint8_t>();
  }
  // The bytes filled so far: every byte after them is erased. For a reader that takes what lies
  // past its span as erased (the image blocks sent to a programmer).
  std::span<const std::uint8_t> Filled() const { return {bytes_, filled_}; }
  // All of it.
  std::uint8_t* data() {
    Fill(size());
    return bytes_;
  }
  const std::uint8_t* data() const {
    Fill(size());
    return bytes_;
  }
  std::uint8_t* begin() { return data(); }
  std::uint8_t* end() { return data() + size(); }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size(); }
  std::uint8_t& operator[](std::size_t i) {
    Fill(i + 1);
    return bytes_[i];
  }
  std::uint8_t operator[](std::size_t i) const {
    Fill(i + 1);
    return bytes_[i];
  }

  // Where the bytes lie, without filling anything: only to tell two pictures apart or to move
  // a view from one to its copy, never to read.
  const std::uint8_t* Address() const { return bytes_; }

  // Same bytes throughout.
  bool operator==(const FlashPicture& other) const;

  // Erases the whole picture to 0xFF.
  void Erase();

 private:
  void Fill(std::size_t n) const {
    if (n > filled_) FillTo(n);
  }
  void FillTo(std::size_t n) const;

  std::uint8_t* bytes_;
  // Bytes [0, filled_) hold the picture; the rest are erased but not yet filled in memory.
  mutable std::size_t filled_ = 0;
};

struct ImageBuffer {
  ImageBuffer();

  FlashPicture flash;
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
