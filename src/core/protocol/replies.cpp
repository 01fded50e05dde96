#include "core/protocol/replies.h"

#include <algorithm>

#include "core/protocol/constants.h"
#include "core/util/format.h"

namespace korvan::protocol {

std::uint8_t CheckIdentity(std::span<const std::uint8_t> packet, std::string_view expected,
                           std::string& identity) {
  if (packet.size() < 4 ||
      !std::equal(kIdentitySignature.begin(), kIdentitySignature.end(), packet.begin()) ||
      packet[3] == 0) {
    return kIdentityBadSignature;
  }
  std::string text;
  for (std::size_t i = kIdentityTextOffset;
       i < packet.size() && i < kIdentityTextOffset + kIdentityTextMax; ++i) {
    if (packet[i] < 0x20 || packet[i] > 0x7F) break;
    text += static_cast<char>(packet[i]);
  }
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const int have = k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
    const int want = static_cast<unsigned char>(expected[k]);
    if (have != want) return static_cast<std::uint8_t>(have - want == 0 ? 1 : have - want);
  }
  identity = std::move(text);
  return 0;
}

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
  if (packet.size() < 8) return std::nullopt;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 8; ++i) sum += packet[i];
  if (sum % 256 != 0) return std::nullopt;
  ProgressReport r;
  r.stage = packet[1];
  r.result = packet[2];
  r.value = static_cast<std::uint16_t>(packet[3] | packet[4] << 8);
  r.maximum = static_cast<std::uint16_t>(packet[5] | packet[6] << 8);
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
