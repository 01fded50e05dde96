// The receive path of the codec: blocks as a serial port delivers them, cut into frames,
// decoded and checked as a channel does with every reply. The input is a series of blocks,
// each a length byte and that many bytes; every frame is also decoded on its own from the
// block it came in.
#include <memory>

#include "core/protocol/codec.h"
#include "core/protocol/constants.h"
#include "fuzz_support.h"

namespace p = korvan::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto* link = new p::LinkBuffers();
  link->ResetReceive();
  korvan::fuzz::Input in(data, size);

  // The whole input as one frame, into a packet buffer that is just big enough.
  p::DecodeFrame({data, size}, link->packet);

  while (!in.Empty()) {
    // Lengths up to 255 plus a doubling bit, so blocks of up to 510 bytes reach the buffer's
    // overflow rule without inputs of megabytes.
    const std::uint8_t head = in.Byte();
    const auto block = in.Bytes(head & 0x80 ? (head & 0x7F) * 4u : head);
    link->ReceiveData(block, [&](std::span<const std::uint8_t> frame) {
      const p::DecodeResult d = p::DecodeFrame(frame, link->packet);
      if (d.code == p::kStatusOk) p::CheckReply(std::span(link->packet).first(d.length));
    });
  }
  return 0;
}
