// The names of the protocol's commands and status codes, one row each: the short names the wire
// trace gives frames ("program", "erase", "crc-mismatch"...) and the operator's text of each
// status (StatusText, replies.h). A command or status added to constants.h gets its row here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "core/protocol/constants.h"

namespace korvan::protocol {

struct CommandRow {
  std::uint8_t command;
  std::string_view name;
};

// Byte 0 of a request packet. The identity request's frame starts with the signature's first
// byte; a chip command is named by its sub-command (below), "chip" when it has no row there.
inline constexpr CommandRow kCommandRows[] = {
    {.command = kCmdDownloadSettings, .name = "download-settings"},
    {.command = kCmdDownloadImage, .name = "download-image"},
    {.command = kCmdRestart, .name = "restart"},
    {.command = kCmdChip, .name = "chip"},
    {.command = kCmdProgram, .name = "program"},
    {.command = kCmdWriteOtp, .name = "write-otp"},
    {.command = kCmdReadBack, .name = "read-back"},
    {.command = kCmdReadOtp, .name = "read-otp"},
    {.command = kCmdFirmwareBlock, .name = "firmware-block"},
    {.command = kIdentitySignature[0], .name = "identity"},
};

struct ChipCommandRow {
  std::uint16_t parameter;  // the sub-command, the whole 16-bit parameter
  std::string_view name;
};

inline constexpr ChipCommandRow kChipCommandRows[] = {
    {.parameter = kSubErase, .name = "erase"},
    {.parameter = kSubBlankCheck, .name = "blank-check"},
    {.parameter = kSubReadOptionBytes, .name = "read-ob"},
    {.parameter = kSubWriteOptionBytes, .name = "write-ob"},
    {.parameter = kSubReadChipId, .name = "chip-id"},
    {.parameter = kSubReadAddress, .name = "read-address"},
};

struct StatusRow {
  std::uint8_t status;
  std::string_view name;
  // What the operator reads; empty where the code has no text of its own (StatusText then says
  // "操作失败！错误代码: ..." as for an unknown code).
  std::string_view text;
};

inline constexpr StatusRow kStatusRows[] = {
    {.status = kStatusOk, .name = "ok", .text = "操作成功！"},
    {.status = kStatusNotErased, .name = "not-erased", .text = "芯片未擦除！"},
    {.status = kStatusDone, .name = "done", .text = "操作成功！"},
    {.status = kStatusNoResponse, .name = "no-response", .text = "芯片没有响应！"},
    {.status = kStatusWriteProtected, .name = "write-protected", .text = "芯片已被写保护！"},
    {.status = kStatusReadProtected, .name = "read-protected", .text = "芯片已被读保护！"},
    {.status = kStatusNotBlank, .name = "not-blank", .text = ""},
    {.status = kStatusIncomplete, .name = "incomplete", .text = ""},
    {.status = kStatusCrcMismatch, .name = "crc-mismatch", .text = "数据包校验错误！"},
    {.status = kStatusUnknownCommand, .name = "unknown-command", .text = "不认识的命令！"},
    {.status = kStatusBadPacket, .name = "bad-packet", .text = "数据包错误！"},
    {.status = kStatusFlashError, .name = "flash-error", .text = "Flash Memory错误！"},
    {.status = kStatusOtpWriteError, .name = "otp-write-error", .text = "写EEP/OTP数据错误！"},
    {.status = kStatusVerifyMismatch, .name = "verify-mismatch", .text = "数据校验错误！"},
    {.status = kStatusChecksumWrong, .name = "checksum-wrong", .text = "芯片校验和不正确！"},
    {.status = kStatusChipTypeWrong, .name = "chip-type-wrong", .text = "芯片类型不正确！"},
    {.status = kStatusChipMakerWrong, .name = "chip-maker-wrong", .text = "芯片厂家型号不正确！"},
    {.status = kStatusCommandTimeout, .name = "command-timeout", .text = "命令执行超时！"},
    {.status = kStatusCommandFailed, .name = "command-failed", .text = "命令执行错误！"},
    {.status = kStatusSerialNumberWriteError,
     .name = "serial-number-write-error",
     .text = "写序列好数据错误！"},
    {.status = kStatusOptionByteWriteError,
     .name = "option-byte-write-error",
     .text = "写Option Byte出错！"},
    {.status = kStatusFlashSizeMismatch,
     .name = "flash-size-mismatch",
     .text = "Flash的大小与芯片不匹配"},
    {.status = kStatusAddressOutOfRange,
     .name = "address-out-of-range",
     .text = "地址空间超出芯片范围！"},
    {.status = kStatusInterfaceInitError,
     .name = "interface-init-error",
     .text = "初始化编程接口错误！"},
    {.status = kStatusSerialLinkError, .name = "serial-link-error", .text = "串口通讯错误！"},
};

// A code named twice would answer with whichever row comes first: refused at compile time.
template <typename Row, typename Key>
constexpr bool KeysDiffer(const Row* rows, std::size_t count, Key Row::*key) {
  for (std::size_t i = 0; i < count; ++i) {
    for (std::size_t k = i + 1; k < count; ++k) {
      if (rows[i].*key == rows[k].*key) return false;
    }
  }
  return true;
}
static_assert(KeysDiffer(kCommandRows, std::size(kCommandRows), &CommandRow::command));
static_assert(KeysDiffer(kChipCommandRows, std::size(kChipCommandRows),
                         &ChipCommandRow::parameter));
static_assert(KeysDiffer(kStatusRows, std::size(kStatusRows), &StatusRow::status));

// The name of a request by its command byte and parameter; empty when it has none.
std::string_view CommandName(std::uint8_t command, std::uint16_t parameter);
// The row of a status code; nullptr when it has none.
const StatusRow* FindStatus(std::uint8_t status);
// The name of a status code; empty when it has none.
std::string_view StatusName(std::uint8_t status);

}  // namespace korvan::protocol
