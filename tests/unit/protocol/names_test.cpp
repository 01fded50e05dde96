// The names of commands and status codes, and the operator's status texts, written out by hand
// against the codes as they travel (not the constants): a row lost, swapped or mistyped in the
// protocol's table shows here, in the wire trace and in the information panel alike.
#include "core/protocol/names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/protocol/replies.h"

namespace korvan {
namespace {

TEST(ProtocolNames, EveryStatusHasItsNameAndText) {
  const struct {
    std::uint8_t status;
    const char* name;
    const char* text;
  } rows[] = {
      {0x00, "ok", "操作成功！"},
      {0x04, "not-erased", "芯片未擦除！"},
      {0x06, "done", "操作成功！"},
      {0x0B, "no-response", "芯片没有响应！"},
      {0x10, "write-protected", "芯片已被写保护！"},
      {0x13, "read-protected", "芯片已被读保护！"},
      {0x15, "not-blank", "操作失败！错误代码: 021(0x15)！"},
      {0x20, "incomplete", "操作失败！错误代码: 032(0x20)！"},
      {0x23, "crc-mismatch", "数据包校验错误！"},
      {0x25, "unknown-command", "不认识的命令！"},
      {0x2A, "bad-packet", "数据包错误！"},
      {0x2C, "flash-error", "Flash Memory错误！"},
      {0x2D, "otp-write-error", "写EEP/OTP数据错误！"},
      {0x31, "verify-mismatch", "数据校验错误！"},
      {0x34, "checksum-wrong", "芯片校验和不正确！"},
      {0x36, "chip-type-wrong", "芯片类型不正确！"},
      {0x38, "chip-maker-wrong", "芯片厂家型号不正确！"},
      {0x40, "command-timeout", "命令执行超时！"},
      {0x45, "command-failed", "命令执行错误！"},
      {0x47, "serial-number-write-error", "写序列好数据错误！"},
      {0x4F, "option-byte-write-error", "写Option Byte出错！"},
      {0x51, "flash-size-mismatch", "Flash的大小与芯片不匹配"},
      {0x55, "address-out-of-range", "地址空间超出芯片范围！"},
      {0x60, "interface-init-error", "初始化编程接口错误！"},
      {0xE0, "serial-link-error", "串口通讯错误！"},
      // No row: no name, and the text of an unknown code.
      {0x77, "", "操作失败！错误代码: 0119(0x77)！"},
      {0xFF, "", "操作失败！错误代码: 0255(0xFF)！"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.status));
    EXPECT_EQ(protocol::StatusName(row.status), row.name);
    EXPECT_EQ(protocol::StatusText(row.status), row.text);
  }
  EXPECT_EQ(std::size(protocol::kStatusRows), std::size(rows) - 2);
}

TEST(ProtocolNames, EveryRequestHasItsNameAChipCommandByItsSubCommand) {
  const struct {
    std::uint8_t command;
    std::uint16_t parameter;
    const char* name;
  } rows[] = {
      {0x53, 0x0000, "download-settings"},
      {0x55, 0x0004, "download-image"},
      {0x8A, 0x4552, "restart"},
      {0x95, 0x8010, "program"},
      {0x99, 0x5000, "write-otp"},
      {0x9B, 0x0001, "read-back"},
      {0x9D, 0x0000, "read-otp"},
      {0xB7, 0x0400, "firmware-block"},
      {0xA3, 0x35A5, "identity"},
      {0x93, 0x0003, "erase"},
      {0x93, 0x0005, "blank-check"},
      {0x93, 0x0033, "read-ob"},
      {0x93, 0x0035, "write-ob"},
      {0x93, 0x003C, "chip-id"},
      {0x93, 0x0079, "read-address"},
      // A sub-command is the whole parameter; one the table does not know is a chip command.
      {0x93, 0x0103, "chip"},
      {0x93, 0x0077, "chip"},
      // A sub-command's value under another command names nothing of its own.
      {0x95, 0x0003, "program"},
      {0x00, 0x0003, ""},
      {0x94, 0x0000, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.command));
    EXPECT_EQ(protocol::CommandName(row.command, row.parameter), row.name);
  }
}

}  // namespace
}  // namespace korvan
