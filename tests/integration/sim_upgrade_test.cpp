// The emulated programmer takes a firmware upgrade block by block and reports the received
// firmware's version after the restart.
#include <gtest/gtest.h>

#include <cstring>

#include "core/image/firmware_cipher.h"
#include "lib/emulator.h"
#include "sim_port.h"

namespace korvan::sim {
namespace {

using namespace korvan::sim::testing;

const Bytes kRestart = {0x8A, 0x52, 0x45, 0x53, 0x54, 0xA8, 0x02, 0x00, 0x00, 0x00, 0xCD, 0x02};

// Raw firmware of `count` blocks whose identity text straddles the boundary of blocks 1 and 2,
// so that a block stored at the wrong place or deciphered with the wrong index loses it.
Bytes Firmware(unsigned count, const char* identity) {
  Bytes firmware(count * 2048);
  for (std::size_t i = 0; i < firmware.size(); ++i) {
    firmware[i] = static_cast<std::uint8_t>((i * 7 + 3) % 251);
  }
  const std::size_t at = 2 * 2048 - 6;
  std::memcpy(firmware.data() + at, identity, std::strlen(identity) + 1);
  return firmware;
}

// The 0xB7 request for block `index`: address, index, count, 0F 00 08, the 2048 data bytes
// enciphered (byte i XOR key[(i + index) % 16] XOR low byte of (index * 0x9D + i / 4)), CRC.
Bytes UpgradeBlock(const Bytes& firmware, unsigned index, unsigned count) {
  Bytes p(2058, 0);
  p[0] = 0xB7;
  PutLe16(p, 1, 0x2000 + index * 1024);
  p[3] = static_cast<std::uint8_t>(index);
  p[4] = static_cast<std::uint8_t>(count);
  p[5] = 0x0F;
  p[6] = 0x00;
  p[7] = 0x08;
  for (unsigned i = 0; i < 2048; ++i) {
    p[8 + i] = firmware[index * 2048 + i] ^ kfw::kTransportKeys[(i + index) % 16] ^
               static_cast<std::uint8_t>(index * 0x9D + i / 4);
  }
  PutLe16(p, 2056, protocol::PacketCrc(std::span(p).first(2056)));
  return p;
}

TEST(SimUpgrade, CompleteUpgradeChangesTheIdentityAtRestartAndBadBlocksAreRejected) {
  Options options;
  options.count = 1;
  options.model = "MMN";
  options.version = "2.1";
  Emulator emulator(options);
  std::string error;
  ASSERT_TRUE(emulator.Start(&error)) << error;
  SimPort port(emulator.Paths()[0]);
  ASSERT_TRUE(port.IsOpen());
  const Bytes firmware = Firmware(3, "Korvan200NAT V3.4");

  // Block 2 arrives with a wrong CRC: rejected, so the upgrade is incomplete and the restart
  // keeps the old firmware.
  EXPECT_EQ(Status(port.Exchange(UpgradeBlock(firmware, 0, 3))), 0x00);
  EXPECT_EQ(Status(port.Exchange(UpgradeBlock(firmware, 1, 3))), 0x00);
  Bytes damaged = UpgradeBlock(firmware, 2, 3);
  damaged[2056] ^= 0x01;
  EXPECT_EQ(Status(port.Exchange(damaged)), 0x23);
  EXPECT_EQ(Status(port.Exchange(kRestart)), 0x00);
  EXPECT_EQ(SimPort::IdentityText(port.Identity()), "Korvan200MMN V2.1");

  // A block whose index does not match its address is refused.
  Bytes misplaced = UpgradeBlock(firmware, 1, 3);
  misplaced[3] = 2;
  PutLe16(misplaced, 2056, protocol::PacketCrc(std::span(misplaced).first(2056)));
  EXPECT_EQ(Status(port.Exchange(misplaced)), 0x55);

  // Every block answered with success; the new identity only after the restart.
  for (unsigned index = 0; index < 3; ++index) {
    EXPECT_EQ(Status(port.Exchange(UpgradeBlock(firmware, index, 3))), 0x00) << index;
  }
  EXPECT_EQ(SimPort::IdentityText(port.Identity()), "Korvan200MMN V2.1");
  EXPECT_EQ(Status(port.Exchange(kRestart)), 0x00);
  EXPECT_EQ(SimPort::IdentityText(port.Identity()), "Korvan200NAT V3.4");
  EXPECT_EQ(emulator.Snapshot(1).identity, "Korvan200NAT V3.4");
}

}  // namespace
}  // namespace korvan::sim
