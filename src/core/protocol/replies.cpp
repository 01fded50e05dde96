#include "core/protocol/replies.h"

#include <algorithm>

#include "core/protocol/constants.h"
#include "core/protocol/names.h"
#include "core/util/format.h"

namespace korvan::protocol {

std::string StatusText(std::uint8_t code) {
  if (const StatusRow* row = FindStatus(code); row && !row->text.empty()) {
    return std::string(row->text);
  }
  return Format("操作失败！错误代码: 0%d(0x%02X)！", code, code);
}

std::optional<ProgressReport> ReadProgressReport(std::span<const std::uint8_t> packet) {
  using R = ProgressReport;
  if (packet.size() < R::kLength) return std::nullopt;
  unsigned sum = 0;
  for (std::size_t i = 0; i < R::kLength; ++i) sum += packet[i];
  if (sum % 256 != 0) return std::nullopt;
  const auto u16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>(packet[at] | packet[at + 1] << 8);
  };
  R r;
  r.stage = packet[R::kStageOffset];
  r.result = packet[R::kResultOffset];
  r.value = u16(R::kValueOffset);
  r.maximum = u16(R::kMaximumOffset);
  return r;
}

std::span<const std::uint8_t> ReplyData(std::span<const std::uint8_t> packet) {
  if (packet.size() < kReplyDataOffset + kReplyCrcBytes) return {};
  return packet.subspan(kReplyDataOffset, packet.size() - kReplyDataOffset - kReplyCrcBytes);
}

std::optional<std::span<const std::uint8_t>> ReplyData(std::span<const std::uint8_t> packet,
                                                       std::size_t count) {
  if (packet.size() < kReplyDataOffset + count + kReplyCrcBytes) return std::nullopt;
  return packet.subspan(kReplyDataOffset, count);
}

}  // namespace korvan::protocol
