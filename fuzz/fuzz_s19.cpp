// Motorola S-records and S-record files.
#include "object_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return korvan::fuzz::RunObjectText(data, size, korvan::ParseS19Line, korvan::LoadS19Text);
}
