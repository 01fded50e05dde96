#include "core/protocol/codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/protocol/constants.h"
#include "support/hex_bytes.h"

namespace korvan::protocol {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Hex(const char* text) {
  return korvan::testing::HexBytes(text);
}

std::string ToHex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char cell[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, out.empty() ? "%02X" : " %02X", b);
    out += cell;
  }
  return out;
}

// How a row's input is used, and what its expected text describes.
enum class Op {
  Crc,      // PacketCrc over the input: four hex digits
  Encode,   // EncodePacket of the input as it stands: the frame
  Request,  // AppendPacketCrc, then EncodePacket: the frame
  Receive,  // the input blocks through the receive path: one line per dispatched frame
            // "#block cut=<frame> code=XX [reply=XX]" and "#block left=N" after each block
};

struct Row {
  const char* name;
  Op op;
  std::vector<const char*> input;
  std::string expected;
};

std::string RunRow(const Row& row) {
  switch (row.op) {
    case Op::Crc: {
      char text[8];
      std::snprintf(text, sizeof text, "%04X", PacketCrc(Hex(row.input.at(0))));
      return text;
    }
    case Op::Encode:
    case Op::Request: {
      Bytes packet = Hex(row.input.at(0));
      std::size_t n = packet.size();
      if (row.op == Op::Request) {
        packet.resize(n + 2);
        n = AppendPacketCrc(packet, n);
      }
      Bytes frame(2 * n + 7);
      frame.resize(EncodePacket(std::span(packet).first(n), frame));
      return ToHex(frame);
    }
    case Op::Receive: {
      auto link = std::make_unique<LinkBuffers>();
      std::string trace;
      int index = 0;
      for (const char* text : row.input) {
        const Bytes block = Hex(text);
        link->ReceiveData(block, [&](std::span<const std::uint8_t> frame) {
          const DecodeResult d = DecodeFrame(frame, link->packet);
          char line[64];
          std::snprintf(line, sizeof line, " code=%02X", d.code);
          trace += "#" + std::to_string(index) + " cut=" + ToHex(frame) + line;
          if (d.code == kStatusOk) {
            std::snprintf(line, sizeof line, " reply=%02X",
                          CheckReply(std::span(link->packet).first(d.length)));
            trace += line;
          }
          trace += "\n";
        });
        trace +=
            "#" + std::to_string(index) + " left=" + std::to_string(link->ReceiveCount()) + "\n";
        ++index;
      }
      return trace;
    }
  }
  return {};
}

// Hand-written vectors: the emulator reuses this codec, so a codec fault must not pass by
// agreeing with itself.
TEST(Codec, HandWrittenVectors) {
  const Row rows[] = {
      {"crc of abc", Op::Crc, {"61 62 63"}, "2543"},
      {"crc of sixteen FF", Op::Crc, {"FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"}, "4A1A"},
      {"crc of one byte is the byte", Op::Crc, {"7E"}, "007E"},
      {"crc of the restart request", Op::Crc, {"8A 52 45 53 54 A8 02 00 00 00"}, "02CD"},
      {"restart request frame",
       Op::Request,
       {"8A 52 45 53 54 A8 02 00 00 00"},
       "C0 8A 52 45 53 54 A8 02 00 00 00 CD 02 C0 FF FF FF FF FF"},
      {"delimiters and escapes double",
       Op::Encode,
       {"C0 DB DB C0"},
       "C0 DB DC DB DD DB DD DB DC C0 FF FF FF FF FF"},
      {"status reply decoded and checked",
       Op::Receive,
       {"C0 93 03 00 1A 00 00 01 00 00 02 58 C0 FF FF FF FF FF"},
       "#0 cut=C0 93 03 00 1A 00 00 01 00 00 02 58 C0 code=00 reply=00\n#0 left=5\n"},
      {"seven decoded bytes are too few, eight are enough",
       Op::Receive,
       {"C0 01 02 03 04 05 06 07 C0 C0 01 02 03 04 05 06 07 08 C0"},
       "#0 cut=C0 01 02 03 04 05 06 07 C0 code=2A\n"
       "#0 cut=C0 01 02 03 04 05 06 07 08 C0 code=00 reply=23\n#0 left=0\n"},
      {"DB followed by 41 is a bad escape",
       Op::Receive,
       {"C0 01 02 03 DB 41 05 06 07 08 C0"},
       "#0 cut=C0 01 02 03 DB 41 05 06 07 08 C0 code=2A\n#0 left=0\n"},
      {"a run of delimiters starts the frame at its last one",
       Op::Receive,
       {"C0 C0 C0 41 93 03 00 1A 00 00 00 C0"},
       "#0 cut=C0 41 93 03 00 1A 00 00 00 C0 code=00 reply=23\n#0 left=0\n"},
      {"a frame split over two blocks waits for its end, with the bytes before it",
       Op::Receive,
       {"11 22 C0 93 05 00 1A 00", "00 01 00 06 3A 60 C0 FF FF"},
       "#0 left=8\n#1 cut=C0 93 05 00 1A 00 00 01 00 06 3A 60 C0 code=00 reply=06\n#1 left=2\n"},
      {"two frames in one block are dispatched in order",
       Op::Receive,
       {"C0 93 05 00 1A 00 00 01 00 15 29 60 C0 FF FF FF FF FF "
        "C0 93 03 00 1A 00 00 01 00 00 02 58 C0 FF FF FF FF FF"},
       "#0 cut=C0 93 05 00 1A 00 00 01 00 15 29 60 C0 code=00 reply=15\n"
       "#0 cut=C0 93 03 00 1A 00 00 01 00 00 02 58 C0 code=00 reply=00\n#0 left=5\n"},
      {"a wrong CRC is 0x23 even with status byte 0",
       Op::Receive,
       {"C0 93 03 00 1A 00 00 01 00 00 02 59 C0"},
       "#0 cut=C0 93 03 00 1A 00 00 01 00 00 02 59 C0 code=00 reply=23\n#0 left=0\n"},
      {"escaped CRC bytes are undone before the check",
       Op::Receive,
       // Status 0xFC gives the CRC 0x60C0: its low byte travels escaped.
       {"C0 93 05 00 1A 00 00 01 00 FC DB DC 60 C0"},
       "#0 cut=C0 93 05 00 1A 00 00 01 00 FC DB DC 60 C0 code=00 reply=FC\n#0 left=0\n"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RunRow(row), row.expected) << row.name;
  }
}

TEST(Codec, ChecksumRangesOutsideTheDataGiveTheDefinedValues) {
  const Bytes data = Hex("01 02 03 FF");
  EXPECT_EQ(PacketCrc(data, 1, 0), 0);
  EXPECT_EQ(PacketCrc(data, 0, 4), 0);  // past the end of the data
  EXPECT_EQ(PacketCrc(data, 0x1000000, 0x1000000), 0);
  EXPECT_EQ(PacketCrc(data, 2, 2), 3);

  EXPECT_EQ(SumComplement16(data, 0, 3), 0x10000u - 0x105u);
  EXPECT_EQ(SumComplement16(Hex("00 00"), 0, 1), 0x10000u);
  EXPECT_EQ(SumComplement16(data, 3, 2), 0x10000u);
  EXPECT_EQ(SumComplement16(data, 0, 0x1000000), 0u);
  EXPECT_EQ(SumComplement16(data, 0, 9), 0u);
  // The 16-bit sum wraps: 258 bytes of 0xFF sum to 0x100FE, kept as 0x00FE.
  const Bytes ff(258, 0xFF);
  EXPECT_EQ(SumComplement16(ff, 0, 257), 0x10000u - 0xFEu);
}

// The codec works eight bytes at a time where it can; these reference versions follow the
// byte-by-byte definitions, over lengths and data that cross every eight-byte boundary.
TEST(Codec, MatchesTheByteByByteDefinitions) {
  std::mt19937 random(1);
  const std::uint8_t alphabet[] = {0xC0, 0xDB, 0xDC, 0xDD, 0x00, 0xFF, 0x41};
  for (std::size_t n = 1; n <= 80; ++n) {
    Bytes packet(n);
    for (auto& b : packet) {
      b = (random() & 1) ? alphabet[random() % 7] : static_cast<std::uint8_t>(random());
    }
    std::uint16_t crc = 0;
    Bytes wire{0xC0};
    for (const std::uint8_t b : packet) {
      crc = static_cast<std::uint16_t>((crc >> 1) ^ b ^ ((crc & 1) ? 0x4A12 : 0));
      if (b == 0xC0) {
        wire.insert(wire.end(), {0xDB, 0xDC});
      } else if (b == 0xDB) {
        wire.insert(wire.end(), {0xDB, 0xDD});
      } else {
        wire.push_back(b);
      }
    }
    wire.insert(wire.end(), {0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_EQ(PacketCrc(packet), crc) << n;

    Bytes frame(2 * n + 7);
    frame.resize(EncodePacket(packet, frame));
    ASSERT_EQ(frame, wire) << n;

    Bytes decoded(n + 8);
    const DecodeResult r = DecodeFrame(frame, decoded);
    if (n < kPacketHeaderSize) {
      EXPECT_EQ(r.code, kStatusBadPacket) << n;
    } else {
      ASSERT_EQ(r.code, kStatusOk) << n;
      decoded.resize(r.length);
      EXPECT_EQ(decoded, packet) << n;
    }
  }
}

TEST(Codec, EncodeRefusesAFrameThatDoesNotFit) {
  const Bytes packet = Hex("C0 C0 41");
  Bytes frame(packet.size() + 7 + 1);  // room for one escape, not two
  EXPECT_EQ(EncodePacket(packet, frame), 0);
  frame.resize(packet.size() + 7 + 2);
  EXPECT_EQ(EncodePacket(packet, frame), frame.size());
  EXPECT_EQ(EncodePacket({}, frame), 0);

  Bytes full(10, 0x41);
  EXPECT_EQ(AppendPacketCrc(full, 9), 0u);  // no room for the CRC
  EXPECT_EQ(AppendPacketCrc(full, 8), 10u);
}

TEST(Codec, DecodeReportsWhatItConsumed) {
  Bytes packet(kPacketBufferSize);
  // Complete frame followed by more bytes: consumed through the end delimiter.
  DecodeResult r = DecodeFrame(Hex("FF C0 01 02 03 04 05 06 07 08 C0 FF FF"), packet);
  EXPECT_EQ(r.code, kStatusOk);
  EXPECT_EQ(r.length, 8u);
  EXPECT_EQ(r.consumed, 11u);
  // Bad escape: consumed through the offending byte; nothing when it is the last byte.
  r = DecodeFrame(Hex("C0 01 DB 02 03"), packet);
  EXPECT_EQ(r.code, kStatusBadPacket);
  EXPECT_EQ(r.consumed, 4u);
  r = DecodeFrame(Hex("C0 01 DB 02"), packet);
  EXPECT_EQ(r.code, kStatusBadPacket);
  EXPECT_EQ(r.consumed, 0u);
  // No end delimiter: nothing consumed.
  r = DecodeFrame(Hex("C0 01 02 03 04 05 06 07 08 09"), packet);
  EXPECT_EQ(r.code, kStatusIncomplete);
  EXPECT_EQ(r.consumed, 0u);
  // DB directly before the end delimiter is dropped.
  r = DecodeFrame(Hex("C0 01 02 03 04 05 06 07 08 DB C0"), packet);
  EXPECT_EQ(r.code, kStatusOk);
  EXPECT_EQ(r.length, 8u);
}

TEST(Codec, DecodeNeverWritesPastThePacketBuffer) {
  Bytes frame(1, kFrameEnd);
  frame.insert(frame.end(), 20, 0x41);
  frame.push_back(kFrameEnd);
  Bytes packet(16, 0);
  EXPECT_EQ(DecodeFrame(frame, std::span(packet).first(12)).code, kStatusBadPacket);
  EXPECT_EQ(packet[12], 0);
}

TEST(Codec, CheckReplyNeedsAStatusByteWhenOneIsAnnounced) {
  // Body length 1, but the packet ends with the CRC right after the header.
  Bytes packet = Hex("93 03 00 1A 00 00 01 00");
  packet.resize(10);
  AppendPacketCrc(packet, 8);
  EXPECT_EQ(CheckReply(packet), kStatusBadPacket);
  EXPECT_EQ(CheckReply(std::span(packet).first(5)), kStatusBadPacket);
}

// A stream of garbage must never wedge a channel: an overflowing block replaces what was
// buffered, and a frame following it is still found.
TEST(Codec, ReceiveOverflowDropsTheBufferedBytes) {
  auto link = std::make_unique<LinkBuffers>();
  const Bytes garbage(2048, 0x55);
  int frames = 0;
  auto count = [&](std::span<const std::uint8_t>) { ++frames; };
  for (int i = 0; i < 8; ++i) link->ReceiveData(garbage, count);
  EXPECT_EQ(link->ReceiveCount(), kReceiveBufferSize);

  Bytes block(garbage.begin(), garbage.begin() + 100);
  const Bytes reply = Hex("C0 93 03 00 1A 00 00 01 00 00 02 58 C0");
  block.insert(block.end(), reply.begin(), reply.end());
  link->ReceiveData(block, count);
  EXPECT_EQ(frames, 1);
  EXPECT_EQ(link->ReceiveCount(), 0);

  // A block larger than the whole buffer keeps its newest bytes.
  Bytes huge(kReceiveBufferSize + 100, 0x55);
  huge.insert(huge.end(), reply.begin(), reply.end());
  link->ReceiveData(huge, count);
  EXPECT_EQ(frames, 2);
}

}  // namespace
}  // namespace korvan::protocol
