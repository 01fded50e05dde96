#include "lib/frame_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/hex_bytes.h"

namespace korvan::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const char* text) {
  return korvan::testing::HexBytes(text);
}

// One line per frame reported: "#<block> ok <packet bytes>", "#<block> bad-escape" or
// "#<block> too-long".
std::string Trace(FrameReader& reader, const std::vector<Bytes>& blocks) {
  std::string trace;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    reader.Read(blocks[i], [&](FrameReader::Status status, std::span<const std::uint8_t> packet) {
      trace += "#" + std::to_string(i);
      switch (status) {
        case FrameReader::Status::Ok:
          trace += " ok";
          for (const std::uint8_t b : packet) {
            char cell[4];
            std::snprintf(cell, sizeof cell, " %02X", b);
            trace += cell;
          }
          break;
        case FrameReader::Status::BadEscape:
          trace += " bad-escape";
          break;
        case FrameReader::Status::TooLong:
          trace += " too-long";
          break;
      }
      trace += "\n";
    });
  }
  return trace;
}

struct Row {
  const char* name;
  std::vector<const char*> blocks;
  std::string expected;
};

// Hand-written wire bytes, independent of the station's encoder and receive path.
TEST(SimFrameReader, HandWrittenVectors) {
  const Row rows[] = {
      {"the restart request",
       {"C0 8A 52 45 53 54 A8 02 00 00 00 CD 02 C0 FF FF FF FF FF"},
       "#0 ok 8A 52 45 53 54 A8 02 00 00 00 CD 02\n"},
      {"the identity request, a bare three-byte packet",
       {"C0 A3 A5 35 C0 FF FF FF FF FF"},
       "#0 ok A3 A5 35\n"},
      {"escapes are undone",
       {"C0 DB DC DB DD DB DD DB DC C0 FF FF FF FF FF"},
       "#0 ok C0 DB DB C0\n"},
      {"an escaped CRC byte",
       {"C0 93 05 00 1A 00 00 01 00 FC DB DC 60 C0"},
       "#0 ok 93 05 00 1A 00 00 01 00 FC C0 60\n"},
      {"a wrong CRC is the programmer's to judge: the packet arrives as sent",
       {"C0 93 03 00 1A 00 00 01 00 00 02 59 C0"},
       "#0 ok 93 03 00 1A 00 00 01 00 00 02 59\n"},
      {"a frame split over two blocks, noise before it",
       {"11 22 C0 93 05 00 1A 00", "00 01 00 06 3A 60 C0 FF FF"},
       "#1 ok 93 05 00 1A 00 00 01 00 06 3A 60\n"},
      {"split between DB and the byte it escapes", {"C0 01 DB", "DC 02 C0"}, "#1 ok 01 C0 02\n"},
      {"split after the start delimiter, then after the packet",
       {"FF C0", "01 02 03", "C0 FF"},
       "#2 ok 01 02 03\n"},
      {"two frames in one block, in order",
       {"C0 01 02 C0 FF FF FF FF FF C0 03 04 C0 FF FF FF FF FF"},
       "#0 ok 01 02\n#0 ok 03 04\n"},
      {"a start delimiter right after an end delimiter",
       {"C0 01 C0 C0 02 C0"},
       "#0 ok 01\n#0 ok 02\n"},
      {"bytes after an end delimiter are noise up to the next delimiter",
       {"C0 01 C0 05 06 C0 07 C0"},
       "#0 ok 01\n#0 ok 07\n"},
      {"a run of delimiters starts the frame at its last one",
       {"C0 C0 C0 41 42 C0"},
       "#0 ok 41 42\n"},
      {"garbage before a frame, escape bytes included",
       {"41 DB 42 DB DC FF C0 01 02 C0"},
       "#0 ok 01 02\n"},
      {"DB followed by 41 spoils its frame only",
       {"C0 01 02 DB 41 05 06 C0 FF C0 07 08 C0"},
       "#0 bad-escape\n#0 ok 07 08\n"},
      {"a bad escape is reported when its frame ends",
       {"C0 01 DB 41 02", "03 C0"},
       "#1 bad-escape\n"},
      {"DB right before the end delimiter is dropped", {"C0 01 02 DB C0"}, "#0 ok 01 02\n"},
      {"an open frame reports nothing", {"C0 01 02 03", "FF FF"}, ""},
  };
  for (const Row& row : rows) {
    std::vector<Bytes> blocks;
    for (const char* text : row.blocks) blocks.push_back(Hex(text));
    auto reader = std::make_unique<FrameReader>();
    EXPECT_EQ(Trace(*reader, blocks), row.expected) << row.name;
  }
}

TEST(SimFrameReader, APacketLongerThanTheReaderHoldsIsRefusedAndTheNextOneRead) {
  // A frame of n packet bytes 0x55, delimiters included.
  const auto frameOf = [](std::size_t n) {
    Bytes frame(n + 2, 0x55);
    frame.front() = 0xC0;
    frame.back() = 0xC0;
    return frame;
  };
  const Bytes tooLong = frameOf(FrameReader::kMaxPacket + 1);
  const Bytes block = frameOf(FrameReader::kMaxPacket);
  auto reader = std::make_unique<FrameReader>();
  std::string trace = Trace(*reader, {tooLong, Hex("C0 01 C0")});
  EXPECT_EQ(trace, "#0 too-long\n#1 ok 01\n");

  std::size_t length = 0;
  reader->Read(block, [&](FrameReader::Status status, std::span<const std::uint8_t> packet) {
    EXPECT_EQ(status, FrameReader::Status::Ok);
    length = packet.size();
  });
  EXPECT_EQ(length, FrameReader::kMaxPacket);
}

}  // namespace
}  // namespace korvan::sim
