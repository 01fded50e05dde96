// The state of one channel (one programmer on its serial port), four of them side by side.
// Its link (link/channel_link.h) owns it with the channel's port and buffers and alone assigns
// it; the station's command and reply steps move it through the link's named steps. Front ends
// and records see it read only, as a ChannelSnapshot.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvan {

inline constexpr int kChannelCount = 4;

// Code of the operation awaiting a reply on a channel.
enum PendingCommand : std::uint8_t {
  kPendingDownload = 0,
  kPendingErase = 3,
  kPendingBlankCheck = 5,  // also the first step of Auto
  kPendingProgram = 7,
  kPendingVerify = 9,
  kPendingReadChipMemory = 13,
  kPendingWriteOptionBytes = 19,
  kPendingReadOptionBytes = 21,
  kPendingReadChipId = 22,
  kPendingWriteOtp = 25,
  kPendingReadOtp = 27,
  kPendingReadAddress = 37,
  kPendingIdle = 48,
  kPendingFirmwareUpgrade = 160,
};

// Ticks of the 10 ms timer an operation may wait for a reply.
inline constexpr std::int16_t kOperationTimeout = 1000;
// Ticks a firmware upgrade waits for the answer to its first block (every block received
// then gives the standard time-out again).
inline constexpr std::int16_t kUpgradeTimeout = 500;
// Ticks a channel waits for the answer to a restart request before it stops expecting one.
// Requests for the channel are held back meanwhile.
inline constexpr std::int16_t kRestartAnswerWait = 300;

enum class GaugeColour { Blue, Red };

// A channel's progress gauge (Gauge1..Gauge4).
struct GaugeState {
  bool enabled = true;
  int progress = 0;
  int maximum = 100;
  GaugeColour colour = GaugeColour::Blue;
};

// How an operation on a channel ended.
enum class OperationResult { Ok, Failed, TimedOut };

// What a caller (the command line, the production record) needs of one finished operation.
struct OperationOutcome {
  std::uint8_t command = kPendingIdle;  // the pending command the operation ran under
  // True when the operation was an Auto cycle (started by Auto, ended at any of its steps).
  bool autoCycle = false;
  OperationResult result = OperationResult::Ok;
  // The status code behind the result: 0 on success, the programmer's code, 0x20/0x23/0x2A
  // from the receive path, 0x31 for a verify mismatch, 0x40 for a time-out.
  std::uint8_t status = 0;
  std::string message;  // the panel text that reported the end, without time prefix
  std::string chipName;
  // The serial number this part was given, when serial numbers are on (Auto cycles).
  std::optional<std::uint32_t> serialNumber;
  // The part's ID bytes, when the operation read them, and as the panel shows them ("%02X " each).
  std::vector<std::uint8_t> chipUidBytes;
  std::string chipUid;
  // Counters after the operation.
  std::int32_t totalCounter = 0;
  std::uint32_t okCount = 0;  // this channel's stand-alone OK and NG counts
  std::uint32_t ngCount = 0;
};

// A channel as the front ends, the records and the tests see it: read only, current whenever
// it is looked at on the station's thread (copy it to keep it). Only the channel's link
// assigns it.
struct ChannelSnapshot {
  std::uint8_t connected = 0;  // the programmer answered the identity request
  std::uint8_t busy = 0;       // an operation runs and a reply is awaited
  std::uint8_t autoFlag = 0;   // the running blank check is the first step of Auto
  std::uint8_t pendingCommand = kPendingIdle;
  std::int16_t timeout = 0;      // remaining ticks of the 10 ms timer
  std::uint8_t dataPhase = 0;    // 0 at the start of every operation; picks first or follow-on
  std::uint16_t blockCount = 0;  // flash size in KiB, set at the start of every operation
  std::uint16_t blockIndex = 0;  // next block to send or expect
  std::string portName;          // port bound to the channel by the last device search
  GaugeState gauge;
  std::string identity;              // the identity text of the programmer that answered
  std::uint8_t upgrading = 0;        // a firmware upgrade runs on the channel
  std::uint16_t upgradeAddress = 0;  // firmware block in flight, in programmer address units
  std::uint16_t upgradeBlocks = 0;   // blocks of the upgrade
  std::uint32_t okCount = 0;         // stand-alone parts programmed on this channel
  std::uint32_t ngCount = 0;         // stand-alone parts failed on this channel
  std::optional<OperationOutcome> lastOutcome;  // how the last operation ended
  // Ticks left to wait for the programmer's answer to a restart request (at the end of a
  // download or an upgrade, or the monitor command); 0 when none is due. That answer is the
  // next frame the channel receives and belongs to no operation: until it comes or the wait
  // ends, the channel's requests are held back in `held`, to be sent in order then.
  std::int16_t restartAnswerDue = 0;
};

// The channel's whole state inside its link: the snapshot and the requests held back.
struct ChannelState : ChannelSnapshot {
  std::vector<std::function<void()>> held;

  // Before the first request of an operation: busy, block index 0, block count = flash size in
  // KiB, time-out 1000 ticks, gauge at 1 of `gaugeMaximum`, blue.
  void BeginOperation(std::uint16_t gaugeMaximum, std::uint16_t flashSizeKB) {
    dataPhase = 0;
    blockIndex = 0;
    busy = 1;
    blockCount = flashSizeKB;
    timeout = kOperationTimeout;
    gauge.progress = 1;
    gauge.maximum = gaugeMaximum;
    gauge.colour = GaugeColour::Blue;
  }

  // After the last reply, or a failure: idle again, gauge full, red when failed.
  void EndOperation(bool failed) {
    busy = 0;
    pendingCommand = kPendingIdle;
    gauge.colour = failed ? GaugeColour::Red : GaugeColour::Blue;
    gauge.progress = gauge.maximum;
  }
};

}  // namespace korvan
