#include "core/protocol/replies.h"

#include <algorithm>

#include "core/protocol/constants.h"
#include "core/util/format.h"

namespace korvan::protocol {

std::string StatusText(std::uint8_t code) {
  switch (code) {
    case kStatusOk:
    case kStatusDone:
      return "操作成功！";
    case kStatusNotErased:
      return "芯片未擦除！";
    case kStatusNoResponse:
      return "芯片没有响应！";
    case kStatusWriteProtected:
      return "芯片已被写保护！";
    case kStatusReadProtected:
      return "芯片已被读保护！";
    case kStatusCrcMismatch:
      return "数据包校验错误！";
    case kStatusUnknownCommand:
      return "不认识的命令！";
    case kStatusBadPacket:
      return "数据包错误！";
    case kStatusFlashError:
      return "Flash Memory错误！";
    case kStatusOtpWriteError:
      return "写EEP/OTP数据错误！";
    case kStatusVerifyMismatch:
      return "数据校验错误！";
    case kStatusChecksumWrong:
      return "芯片校验和不正确！";
    case kStatusChipTypeWrong:
      return "芯片类型不正确！";
    case kStatusChipMakerWrong:
      return "芯片厂家型号不正确！";
    case kStatusCommandTimeout:
      return "命令执行超时！";
    case kStatusCommandFailed:
      return "命令执行错误！";
    case kStatusSerialNumberWriteError:
      return "写序列好数据错误！";
    case kStatusOptionByteWriteError:
      return "写Option Byte出错！";
    case kStatusFlashSizeMismatch:
      return "Flash的大小与芯片不匹配";
    case kStatusAddressOutOfRange:
      return "地址空间超出芯片范围！";
    case kStatusInterfaceInitError:
      return "初始化编程接口错误！";
    case kStatusSerialLinkError:
      return "串口通讯错误！";
    default:
      return Format("操作失败！错误代码: 0%d(0x%02X)！", code, code);
  }
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
