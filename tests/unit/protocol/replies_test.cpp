// The data of the replies that carry some, read from hand-written reply packets.
#include "core/protocol/replies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace korvan {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Replies, DataLiesBetweenTheEightHeaderBytesAndTheCrc) {
  // A chip-ID reply: echo 93 05 00 1A 10 03, body length 13, status 00, 12 UID bytes, CRC.
  const Bytes chipId = {0x93, 0x05, 0x00, 0x1A, 0x10, 0x03, 0x0D, 0x00, 0x00, 0x11, 0x22, 0x33,
                        0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDE, 0xAD};
  const auto all = protocol::ReplyData(chipId);
  EXPECT_EQ(Bytes(all.begin(), all.end()),
            (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC}));
  const auto id = protocol::ReplyData(chipId, protocol::kChipIdBytes + 1);
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id->size(), 13u);
  EXPECT_EQ((*id)[12], 0xCC);

  struct Row {
    const char* what;
    std::size_t length;  // of the packet
    std::size_t count;   // data bytes asked for
    bool carried;
  } rows[] = {
      {"exactly the bytes and the CRC", 8 + 13 + 2, 13, true},
      {"one byte short", 8 + 12 + 2, 13, false},
      {"header and CRC only, nothing asked", 10, 0, true},
      {"no room for the CRC", 9, 0, false},
      {"a full 4 KiB block", 8 + 4096 + 2, protocol::kReplyBlockBytes, true},
      {"a block cut short", 8 + 4095 + 2, protocol::kReplyBlockBytes, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Bytes packet(row.length, 0x5A);
    EXPECT_EQ(protocol::ReplyData(packet, row.count).has_value(), row.carried);
    EXPECT_EQ(protocol::ReplyData(packet).size(), row.length >= 10 ? row.length - 10 : 0);
  }
}

}  // namespace
}  // namespace korvan
