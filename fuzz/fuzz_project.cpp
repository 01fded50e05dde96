// Project files: the parser, and the writer on whatever the parser accepts (a read project
// must save again, and the saved file must read back the same).
#include <cstdlib>

#include "core/image/project_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvan;
  ProjectContent content;
  if (ParseProjectFile({data, size}, content) != kProjectOk) return 0;

  std::uint8_t next = 0;
  std::string error;
  const auto file = BuildProjectFile(
      content, [&] { return next = (next + 1) % 255; }, error);
  if (file.empty()) return 0;  // flash or EEP data too long to save: refused, not a fault
  ProjectContent again;
  if (ParseProjectFile(file, again) != kProjectOk || again.flash != content.flash ||
      again.eep != content.eep || again.settings != content.settings) {
    std::abort();
  }
  return 0;
}
