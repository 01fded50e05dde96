// Object text files read from a file in chunks against the same text read in memory: the file
// reader cuts line ends (CR, LF, CR LF) and over-long lines across chunk boundaries, so both
// must store the same bytes, reach the same extent and ask the same questions.
//   byte 0: bit 0 set = S-record, clear = Intel HEX
//   byte 1: chunk size (0 = the reader's own)
//   rest:   the file
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/image/image_buffer.h"
#include "core/image/readers.h"
#include "fuzz_support.h"

namespace korvan::fuzz {
namespace {

class RecordingFrontend : public AnswerOkFrontend {
 public:
  std::vector<std::string> texts;
  Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) override {
    texts.push_back(text);
    return AnswerOkFrontend::Ask(kind, text, buttons);
  }
};

struct Outcome {
  std::array<std::uint8_t, 0x10000> flash;
  ImageBuffer* image;
  std::array<std::uint8_t, 128> option;
  RecordingFrontend frontend;
  ReadExtent extent;
  LoadResult result;
};

void Prepare(Outcome& o) {
  o.flash.fill(0xFF);
  o.option.fill(0xFF);
  o.image->otp.fill(0xFF);
  o.image->windows = ImageWindows{};
  o.image->windows.flashStart = 0x08000000;
  o.image->windows.flashEnd = 0x0800FFFF;
}

ReadTarget Target(Outcome& o) {
  return {o.flash, 0x08000000, o.image, o.option};
}

}  // namespace
}  // namespace korvan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace korvan;
  using namespace korvan::fuzz;
  static Outcome* memory = new Outcome{{}, new ImageBuffer(), {}, {}, {}, {}};
  static Outcome* file = new Outcome{{}, new ImageBuffer(), {}, {}, {}, {}};
  Input in(data, size);
  const bool s19 = (in.Byte() & 1) != 0;
  const std::size_t chunk = in.Byte();
  const std::string_view text = AsText(in.Rest());

  const int fd = ::memfd_create("text", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  for (Outcome* o : {memory, file}) {
    Prepare(*o);
    o->frontend.texts.clear();
    o->extent = ReadExtent{};
  }
  memory->result = s19 ? LoadS19Text(text, Target(*memory), memory->frontend, memory->extent)
                       : LoadHexText(text, Target(*memory), memory->frontend, memory->extent);
  file->result = detail::LoadTextFileInChunks(path, !s19, Target(*file), file->frontend,
                                              file->extent, chunk ? chunk : kObjectFileChunk);
  ::close(fd);

  const bool same = memory->flash == file->flash && memory->option == file->option &&
                    memory->image->otp == file->image->otp &&
                    memory->frontend.texts == file->frontend.texts &&
                    memory->extent.lowest == file->extent.lowest &&
                    memory->extent.highest == file->extent.highest &&
                    memory->extent.fileChecksum == file->extent.fileChecksum &&
                    memory->result.status == file->result.status &&
                    memory->result.lineErrors == file->result.lineErrors;
  if (!same) {
    std::fprintf(stderr, "file and memory reads differ (chunk %zu)\n", chunk);
    std::abort();
  }
  return 0;
}
