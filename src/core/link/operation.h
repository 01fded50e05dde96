// An operation as a channel's link runs it: the pending command its replies come under, how it
// starts on a channel (stale bytes, Auto flag, gauge, time-out), how its gauge moves, what its
// time-out says, how a record names it and, for the operations that move the flash block by
// block, how its blocks go; and the Auto cycle composed of such operations.
// The job's side of an operation (its command's checks, its requests' contents, what it does
// with a block read back, its panel lines) belongs to the station that owns the links.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/link/channel.h"
#include "core/model/chip_record.h"
#include "core/model/job_settings.h"

namespace korvan {

// The channel's Auto flag left as it is.
inline constexpr int kAutoFlagKept = -1;

// The time-out's panel line of an operation on the chip (%d the channel); also the line of a
// time-out under a pending command no operation awaits.
inline constexpr char kChipTimeoutText[] = "芯片 %d ：操作超时！";

// How an operation moves the flash block by block (download, program, verify, read): one
// request per block of protocol::kImageBlockStepKiB KiB, the next one sent once the programmer
// answered the last, until the block index reaches the channel's block count. The gauge counts
// KiB: block index + 1.
struct BlockTransfer {
  // A settings request goes first; its accepted reply starts the blocks at block 0 (download).
  bool settingsFirst;
  // Each reply carries the block read back (verify, read): it counts only when it says OK and
  // carries the whole block. The others' replies count when they accept the block.
  bool readsBack;
  // Ticks each request of the transfer may wait for its reply.
  std::int16_t timeout;
};

// Ticks a download request or a read-back request waits for its reply.
inline constexpr std::int16_t kBlockReplyTimeout = 300;

// The download (settings, then the image for stand-alone work), the program, and the read
// back of verify and read.
inline constexpr BlockTransfer kDownloadBlocks{
    .settingsFirst = true, .readsBack = false, .timeout = kBlockReplyTimeout};
inline constexpr BlockTransfer kProgramBlocks{
    .settingsFirst = false, .readsBack = false, .timeout = kOperationTimeout};
inline constexpr BlockTransfer kReadBackBlocks{
    .settingsFirst = false, .readsBack = true, .timeout = kBlockReplyTimeout};

// What a reply within a block transfer brought.
struct BlockReply {
  // The status the operation fails with; nullopt when the block counts.
  std::optional<std::uint8_t> failure = std::nullopt;
  // The block read back, when the transfer reads back and the block counts.
  std::span<const std::uint8_t> data = {};
};

// Checks the reply (`status` from the reply check, the decoded `packet`) to a request of `t`.
BlockReply ReadBlockReply(const BlockTransfer& t, std::uint8_t status,
                          std::span<const std::uint8_t> packet);

struct LinkOperation {
  // The pending command its replies are awaited under; kPendingIdle when it awaits none.
  std::uint8_t pending;
  // How a production record names it when it is cut short ("blank check"); nullptr when it
  // awaits no reply of its own.
  const char* recordName;
  // Its name as a step of the Auto cycle ("Auto (blank check)"); nullptr: not a step of it.
  const char* autoStepName = nullptr;
  bool timedGauge;          // reports no progress: the gauge moves with the tick
  const char* timeoutText;  // the time-out's panel line, %d the channel
  int autoFlag;             // the channel's Auto flag becomes 0 or 1, or kAutoFlagKept
  bool dropsStaleBytes;     // the bytes of an earlier exchange go before its first request
  // The gauge's maximum as it starts (nullptr: it is not started by the link's start).
  std::uint16_t (*gaugeMaximum)(const ChipRecord& chip);
  // Set once the first request went out (nullptr: the block transfer's, or as it was).
  std::int16_t (*timeout)(const ChipRecord& chip) = nullptr;
  // How its blocks go; nullptr when it moves no flash block by block.
  const BlockTransfer* blocks = nullptr;

  // A step of the Auto cycle: its outcome belongs to the cycle when the channel's Auto flag is
  // set.
  bool autoStep() const { return autoStepName != nullptr; }
};

// Gauge maxima: operations that report progress count KiB of flash; the timed ones run to 500
// with the tick, an erase longer the larger the flash; the OTP write shows four steps.
std::uint16_t FlashKiBGauge(const ChipRecord& chip);
std::uint16_t TimedGauge(const ChipRecord& chip);
std::uint16_t EraseGauge(const ChipRecord& chip);
std::uint16_t OtpGauge(const ChipRecord& chip);

// Time-outs set once the first request went out: the standard one, and a whole-chip erase's,
// longer the larger the flash.
std::int16_t StandardTimeout(const ChipRecord& chip);
std::int16_t EraseTimeout(const ChipRecord& chip);

// How a step of the Auto cycle ended, as far as the cycle goes on from it.
enum class AutoOutcome { Blank, NotBlank, Protected, Done };

// One move of the Auto cycle: after the step awaiting `after` ended with `when` (and `applies`
// holds for the job, where given), the panel shows `line` (%d the channel) and the channel goes
// on with the operation awaiting `next`, its gauge at 1 of `gaugeMaximum`, its first request
// sent. A step with no move ends the cycle.
struct AutoTransition {
  std::uint8_t after;
  AutoOutcome when;
  bool (*applies)(const JobSettings& job);
  std::uint8_t next;
  const char* line;
  std::uint16_t (*gaugeMaximum)(const ChipRecord& chip);
};

// The Auto cycle: blank check, then erase or program, verify, option bytes.
std::span<const AutoTransition> AutoSequence();

// The move of the Auto cycle from the step awaiting `after` that ended with `outcome`, for
// `job`; nullptr when the cycle ends there.
const AutoTransition* NextAutoMove(std::uint8_t after, AutoOutcome outcome, const JobSettings& job);

}  // namespace korvan
