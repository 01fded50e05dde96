// Firmware image files: the loader's checks, and the version test on whatever it accepts.
#include "core/image/firmware_image.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static korvan::FirmwareImage* image = new korvan::FirmwareImage();
  if (korvan::ParseFirmwareImage({data, size}, *image)) {
    korvan::FirmwareIsOlder("Korvan200NAT V2.9", image->VersionText());
  }
  return 0;
}
