// One emulated Korvan200NAT programmer with the target part in its socket.
//
// It reads requests from the bytes the station writes, answers each with exactly one frame,
// keeps the job a download stored, and runs stand-alone cycles after a restart. It does no
// I/O of its own: the emulator feeds it the bytes read from its pseudo-terminal and writes
// what it queues, each piece not before its due time (wire time and flash time with
// --realtime, at once otherwise).
//
// The request layouts are read here on their own, not through the station's senders, and the
// frames are cut by the programmer's own reader (lib/frame_reader.h), not by the station's
// receive path, so that a layout or framing fault on either side shows against the other.
//
// Firmware upgrade: each 0xB7 block is deciphered with the transport cipher
// (core/image/firmware_cipher.h) and kept at its place in a firmware buffer laid out as the
// station's (two bytes per address unit from 0x2000); a block index 0, or a block count other
// than the one in progress, starts a new upgrade. The blocks carry no version of their own: the
// firmware holds its identity text, as the real one does. At the restart request that follows
// a complete upgrade (every block 0..count-1 received), the received firmware is searched for
// "Korvan200NAT V"; from then on the identity reply carries that text, up to its first byte
// that is not printable ASCII (at most 40 characters). A restart after an incomplete upgrade,
// or firmware without the text, discards the blocks and leaves the identity as it was.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "lib/frame_reader.h"
#include "lib/options.h"

namespace korvan::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

inline constexpr std::size_t kOptionBytesSize = 128;
inline constexpr std::size_t kOtpSize = 4096;
inline constexpr std::uint32_t kOptionBytesAddress = 0x1FFFF800;
inline constexpr std::uint32_t kDefaultFlashStart = 0x08000000;

// The part in the socket.
struct TargetPart {
  std::vector<std::uint8_t> flash;  // from the part's first flash byte; its size is the part's
  std::array<std::uint8_t, kOptionBytesSize> optionBytes{};
  std::array<std::uint8_t, kOtpSize> otp{};
  // Read protection is on at level 1 or 2 whenever the first option byte is not 0xA5.
  bool ReadProtected() const { return optionBytes[0] != 0xA5; }
};

// What the last download stored in the programmer's own flash.
struct StoredJob {
  bool present = false;
  std::array<std::uint8_t, 64> header{};  // the settings header as sent
  std::uint8_t snEnable = 0;
  std::uint8_t snSize = 0;
  std::uint16_t snGain = 0;
  std::uint32_t snAddress = 0;
  std::uint32_t snStart = 0;
  std::uint8_t countEnable = 0;
  std::uint32_t countLimit = 0;
  std::array<std::uint8_t, kOptionBytesSize> optionBytes{};
  std::string chipName;
  std::string fileName;
  std::vector<std::uint8_t> otp;    // 528 bytes when the download carried OTP data
  std::vector<std::uint8_t> image;  // from the flash start, 0xFF where no block came
  unsigned imageBlocks = 0;         // 4 KiB image blocks received

  unsigned FlashSizeKb() const { return header[20] | (header[21] << 8); }
};

// A copy of a channel's state for tests and the dump.
struct ChannelSnapshot {
  TargetPart target;
  StoredJob job;
  std::string identity;   // the identity text the programmer reports now
  unsigned requests = 0;  // requests answered or not, the identity request included
  unsigned writes = 0;    // writes that carried bytes to the station
  unsigned partsOk = 0;   // stand-alone parts programmed since the last download
  unsigned partsNg = 0;
  std::uint32_t nextSerial = 0;  // the serial number the next good part gets
  bool standaloneRunning = false;
};

class Programmer {
 public:
  Programmer(int channel, const Options& options);
  ~Programmer();
  Programmer(const Programmer&) = delete;
  Programmer& operator=(const Programmer&) = delete;

  int Channel() const { return channel_; }

  // A block read from the pseudo-terminal at `now`. With realtime it is taken in once its
  // bytes would have crossed the wire.
  void OnRead(std::span<const std::uint8_t> block, TimePoint now);
  // Does whatever is due by `now`: takes in received bytes, steps the stand-alone cycle.
  void Advance(TimePoint now);
  // When something is due next (received bytes, a stand-alone step, and output unless
  // `includeOutput` is false), if anything.
  std::optional<TimePoint> NextDue(bool includeOutput = true) const;

  // The bytes to write at `now` (empty when nothing is due), and how many were written.
  std::span<const std::uint8_t> WriteNow(TimePoint now) const;
  void Written(std::size_t n);

  // The hang-up fault: true once the pseudo-terminal is to be closed.
  bool HangupDue() const;

  ChannelSnapshot Snapshot() const;
  // Writes chipN.bin, chipN.ob, chipN.otp and chipN.txt into `dir`; false on a write error.
  bool Dump(const std::string& dir, std::string* error) const;

 private:
  struct Chunk {
    TimePoint due;
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
  };
  enum class Stage { Idle, Start, BlankCheck, Erase, Program, Verify, OptionBytes, Done };

  // One frame from the reader: the identity request, a request, or a bad frame (answered 0x2A).
  void OnFrame(FrameReader::Status status, std::span<const std::uint8_t> packet, TimePoint at);
  void HandleRequest(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleDownloadSettings(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleDownloadImage(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleRestart(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleChipCommand(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleProgram(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleReadBack(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleReadOtp(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleWriteOtp(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleReadAddress(std::span<const std::uint8_t> packet, TimePoint at);
  void HandleFirmwareBlock(std::span<const std::uint8_t> packet, TimePoint at);

  // Takes the part's flash size from a request's settings header; false when the header's
  // two size fields disagree or name no size the emulator can hold.
  bool ApplyGeometry(std::span<const std::uint8_t> header);
  TargetPart FreshPart(unsigned flashKb) const;
  void ResizeFlash(TargetPart& part, std::size_t size) const;
  void EraseTarget();

  // Replies: header bytes 0..5 echo the request, then the body length, body and CRC.
  void Reply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> body,
             TimePoint ready);
  void ReplyStatus(std::span<const std::uint8_t> request, std::uint8_t status, TimePoint ready);
  void ReplyIdentity(TimePoint ready);
  // Frames a packet and queues it, applying the channel's faults; `isReply` is false for
  // stand-alone progress reports.
  void SendPacket(std::vector<std::uint8_t> packet, TimePoint ready, bool isReply);
  void Queue(std::vector<std::uint8_t> bytes, TimePoint ready, bool split);
  // When work that takes `processing` and starts no earlier than `at` is done.
  TimePoint Busy(TimePoint at, std::chrono::microseconds processing);
  std::chrono::microseconds FlashTime(unsigned blocks) const;

  void StartStandalone(TimePoint at);
  void StepStandalone(TimePoint now);
  void SendReport(std::uint8_t stage, std::uint8_t result, std::uint16_t value,
                  std::uint16_t maximum, TimePoint at);
  void WriteSerialNumber();
  bool VerifyAgainstJob() const;

  std::string IdentityText() const;
  // At a restart: takes the identity of a completely received firmware, then forgets the
  // received blocks.
  void InstallFirmware();

  const int channel_;
  const Options options_;  // a copy: a programmer outlives any temporary it was built from
  std::unique_ptr<FrameReader> reader_;
  TargetPart target_;
  StoredJob job_;

  std::deque<Chunk> incoming_;
  std::deque<Chunk> outgoing_;
  TimePoint inLineFree_{};
  TimePoint outLineFree_{};
  TimePoint busyUntil_{};

  unsigned requests_ = 0;
  unsigned replies_ = 0;
  unsigned writes_ = 0;
  bool hangupPending_ = false;
  std::uint64_t garbageSeed_;

  std::string model_;
  std::string version_;

  // Firmware upgrade in progress.
  std::vector<std::uint8_t> upgradeImage_;  // deciphered, from address unit 0x2000
  std::vector<bool> upgradeReceived_;       // by block index
  unsigned upgradeCount_ = 0;               // block count of the upgrade; 0 when none

  // Stand-alone work.
  Stage stage_ = Stage::Idle;
  TimePoint stageDue_{};
  unsigned partsLeft_ = 0;
  unsigned partNumber_ = 0;
  unsigned partsOk_ = 0;
  unsigned partsNg_ = 0;
  std::uint32_t nextSerial_ = 0;
  std::uint32_t progress_ = 0;
  bool partVerified_ = false;
};

}  // namespace korvan::sim
