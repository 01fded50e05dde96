// ELF object files. The first byte chooses the windows: bit 1 set, the flash, EEP and OTP
// windows and the option-byte window come from the input, bit 2 set empties the EEP window (as
// in the HEX harness); clear, a typical part's. The rest is the file, read through libelf and
// placed into an image buffer that lives for the whole run: the reader must stay inside the file
// and the image whatever the headers say.
#include <array>

#include "core/image/elf_reader.h"
#include "core/image/image_buffer.h"
#include "object_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvan;
  using namespace korvan::fuzz;
  static ImageBuffer* image = new ImageBuffer();
  static std::array<std::uint8_t, 128> optionBytes{};
  Input in(data, size);
  const std::uint8_t mode = in.Byte();
  image->windows = WindowsFromInput(in, mode);
  const ReadTarget target{image->flash, image->windows.flashStart, image, optionBytes};
  AnswerOkFrontend frontend;
  ReadExtent extent;
  LoadElfBytes(AsText(in.Rest()), target, frontend, extent);
  return 0;
}
