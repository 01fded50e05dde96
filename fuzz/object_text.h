// The body of the Intel HEX and S-record harnesses. The first byte chooses what is read:
//   bit 0 clear: the rest is a whole file (LoadHexText / LoadS19Text, every line answered OK);
//   bit 0 set:   the rest is one record (ParseHexLine / ParseS19Line) after running offsets;
//   bit 1 set:   the address windows come from the input (flash, EEP and OTP windows and the
//                option-byte window) instead of a typical part's.
// The image buffer lives for the whole run: the readers must stay inside it whatever the
// windows and addresses are.
#pragma once

#include <array>

#include "core/image/image_buffer.h"
#include "core/image/readers.h"
#include "fuzz_support.h"

namespace korvan::fuzz {

// A typical part's address windows, or (mode bit 1) windows taken from the input, with the EEP
// window empty when mode bit 2 is set.
inline ImageWindows WindowsFromInput(Input& in, std::uint8_t mode) {
  ImageWindows windows;
  if (mode & 2) {
    windows.flashStart = in.Long();
    windows.flashEnd = in.Long();
    windows.eepStart = in.Long();
    windows.eepEnd = in.Long();
    windows.otpStart = in.Long();
    windows.optionStart = in.Long();
    windows.eepEmpty = (mode & 4) != 0;
  }
  return windows;
}

template <typename ParseLine, typename LoadText>
int RunObjectText(const std::uint8_t* data, std::size_t size, ParseLine parseLine,
                  LoadText loadText) {
  static ImageBuffer* image = new ImageBuffer();
  static std::array<std::uint8_t, 128> optionBytes{};
  Input in(data, size);
  const std::uint8_t mode = in.Byte();

  image->windows = WindowsFromInput(in, mode);
  const ReadTarget target{image->flash, image->windows.flashStart, image, optionBytes};

  if (mode & 1) {
    ReadCursor cursor;
    cursor.segmentOffset = in.Long();
    cursor.linearOffset = in.Long();
    parseLine(AsText(in.Rest()), target, cursor);
  } else {
    AnswerOkFrontend frontend;
    ReadExtent extent;
    loadText(AsText(in.Rest()), target, frontend, extent);
  }
  return 0;
}

}  // namespace korvan::fuzz
