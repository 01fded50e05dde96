// Intel HEX records and files.
#include "object_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return korvan::fuzz::RunObjectText(data, size, korvan::ParseHexLine, korvan::LoadHexText);
}
