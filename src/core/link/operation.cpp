#include "core/link/operation.h"

#include <algorithm>

#include "core/link/channel.h"
#include "core/protocol/constants.h"
#include "core/protocol/requests.h"

namespace korvan {

BlockReply ReadBlockReply(const BlockTransfer& t, std::uint8_t status,
                          std::span<const std::uint8_t> packet) {
  namespace p = protocol;
  if (!t.readsBack) {
    if (status == p::kStatusOk || status == p::kStatusDone) return {};
    return {.failure = status};
  }
  if (status != p::kStatusOk) return {.failure = status};
  // A reply without its whole block cannot be compared or stored.
  const auto block = p::ReadBackRequest::ReadReply(packet);
  if (!block) return {.failure = p::kStatusBadPacket};
  return {.data = *block};
}

std::uint16_t FlashKiBGauge(const ChipRecord& chip) {
  return chip.flashSizeKB;
}

std::uint16_t TimedGauge(const ChipRecord&) {
  return 500;
}

std::uint16_t EraseGauge(const ChipRecord& chip) {
  return static_cast<std::uint16_t>(chip.flashSizeKB / 5 + 900);
}

std::uint16_t OtpGauge(const ChipRecord&) {
  return 4;
}

std::int16_t StandardTimeout(const ChipRecord&) {
  return kOperationTimeout;
}

std::int16_t EraseTimeout(const ChipRecord& chip) {
  return static_cast<std::int16_t>(chip.flashSizeKB / 5 + kOperationTimeout);
}

std::span<const AutoTransition> AutoSequence() {
  using O = AutoOutcome;
  // The erase of an Auto cycle runs under the timed gauge and the standard time-out, not the
  // erase command's.
  static const AutoTransition kSequence[] = {
      {kPendingBlankCheck, O::Blank, nullptr, kPendingProgram, "芯片%d ：开始芯片编程...",
       &FlashKiBGauge},
      {kPendingBlankCheck, O::NotBlank, nullptr, kPendingErase, "芯片%d ：芯片擦除......",
       &TimedGauge},
      {kPendingBlankCheck, O::Protected, nullptr, kPendingErase, "芯片%d ：芯片已保护，擦除芯片...",
       &TimedGauge},
      {kPendingErase, O::Done, nullptr, kPendingProgram, "芯片%d ：开始芯片编程...",
       &FlashKiBGauge},
      {kPendingProgram, O::Done, nullptr, kPendingVerify, "芯片%d ：开始数据校验......",
       &FlashKiBGauge},
      {kPendingVerify, O::Done, [](const JobSettings& job) { return job.programOptionBytes != 0; },
       kPendingWriteOptionBytes, "芯片%d ：写Option Byte......", &TimedGauge},
  };
  return kSequence;
}

const AutoTransition* NextAutoMove(std::uint8_t after, AutoOutcome outcome,
                                   const JobSettings& job) {
  const auto sequence = AutoSequence();
  const auto it = std::find_if(sequence.begin(), sequence.end(), [&](const AutoTransition& move) {
    return move.after == after && move.when == outcome && (!move.applies || move.applies(job));
  });
  return it == sequence.end() ? nullptr : &*it;
}

}  // namespace korvan
