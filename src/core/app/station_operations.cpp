// The station's operations, one row each: everything the links, the front ends, the commands,
// the records and the reply dispatch need to know of an operation besides its reply step
// (station_replies.cpp, station_link.cpp) and its request sender (station_link.cpp). A row
// starts with what the channel's link runs: pending command, record name, Auto step name,
// timed gauge, time-out line, Auto flag, stale bytes dropped, gauge maximum, time-out.
#include <algorithm>

#include "core/app/station.h"

namespace korvan {

namespace {

constexpr char kProgrammer[] = "编程器 %d ：操作超时！";

}  // namespace

std::span<const StationOperation> Station::Operations() {
  using A = StepArgument;
  using C = OperationChannels;
  static const StationOperation kOperations[] = {
      {{kPendingDownload, "download", nullptr, false, kProgrammer, kAutoFlagKept, true,
        &FlashKiBGauge, nullptr, &kDownloadBlocks},
       "download",
       A::None,
       "SpdBtnDownLoadClick",
       &Station::SpdBtnDownLoadClick,
       {"Download1", "SpdBtnDownLoad"},
       &Station::DownloadStep,
       {.channels = C::Idle, .needsImage = true, .assembles = true, .numbersParts = true},
       &Station::PrepareDownload,
       "编程器%d ：下载数据......",
       &Station::SendDownload},
      // Auto is the blank check with the Auto flag set; the link's AutoSequence() moves the cycle
      // on from each step's reply to the next step.
      {{kPendingBlankCheck, "Auto", "Auto (blank check)", true, kChipTimeoutText, 1, true,
        &TimedGauge, nullptr, nullptr},
       "auto",
       A::None,
       "AutoSpdBtnClick",
       &Station::AutoSpdBtnClick,
       {"AutoProgram1", "AutoSpdBtn"},
       nullptr,
       {.channels = C::Idle, .needsImage = true, .assembles = true, .numbersParts = true},
       &Station::PrepareAuto,
       "芯片%d ：芯片查空......",
       &Station::SendBlankCheck},
      {{kPendingBlankCheck, "blank check", "Auto (blank check)", true, kChipTimeoutText, 0, true,
        &TimedGauge, nullptr, nullptr},
       "blank-check",
       A::None,
       "SpdBtnBlankChkClick",
       &Station::SpdBtnBlankChkClick,
       {"BlankCheck1", "SpdBtnBlankChk"},
       &Station::BlankCheckResult,
       {C::Idle, false, true},
       nullptr,
       "芯片%d ：芯片查空......",
       &Station::SendBlankCheck},
      {{kPendingErase, "erase", "Auto (erase)", true, kChipTimeoutText, 0, true, &EraseGauge,
        &EraseTimeout, nullptr},
       "erase",
       A::None,
       "SpdBtnEraseClick",
       &Station::SpdBtnEraseClick,
       {"EraseChip1", "SpdBtnErase"},
       &Station::EraseResult,
       {C::Idle, false, true},
       nullptr,
       "芯片%d ：芯片擦除......",
       &Station::SendErase},
      {{kPendingProgram, "program", "Auto (program)", false, kChipTimeoutText, 0, true,
        &FlashKiBGauge, nullptr, &kProgramBlocks},
       "program",
       A::None,
       "SpdBtnProgClick",
       &Station::SpdBtnProgClick,
       {"Programming1", "SpdBtnProg"},
       &Station::ProgramStep,
       {.channels = C::Idle, .needsImage = true, .assembles = true, .numbersParts = true},
       nullptr,
       "芯片%d ：开始芯片编程 ......",
       &Station::SendProgramBlock},
      {{kPendingVerify, "verify", "Auto (verify)", false, kChipTimeoutText, 0, true, &FlashKiBGauge,
        nullptr, &kReadBackBlocks},
       "verify",
       A::None,
       "SpdBtnVerifyClick",
       &Station::SpdBtnVerifyClick,
       {"Verification1", "SpdBtnVerify"},
       &Station::VerifyStep,
       {C::Idle, true, false},
       nullptr,
       "芯片%d ：开始数据校验......",
       &Station::SendReadBack},
      {{kPendingReadOptionBytes, "read option bytes", nullptr, true, kChipTimeoutText,
        kAutoFlagKept, true, &TimedGauge, nullptr, nullptr},
       "read-ob",
       A::None,
       "ReadOptionByte1Click",
       &Station::ReadOptionByte1Click,
       {"ReadOptionByte1", nullptr},
       &Station::ReadOptionBytesResult,
       {C::Idle, false, true},
       nullptr,
       "芯片%d ：读Option Byte ......",
       &Station::SendReadOptionBytes},
      {{kPendingWriteOptionBytes, "write option bytes", "Auto (option bytes)", true,
        kChipTimeoutText, 0, true, &TimedGauge, nullptr, nullptr},
       "write-ob",
       A::None,
       "SpdBtnWrtOPBClick",
       &Station::SpdBtnWrtOPBClick,
       {"WriteOptionByte1", "SpdBtnWrtOPB"},
       &Station::WriteOptionBytesResult,
       {C::Idle, false, true},
       nullptr,
       "芯片%d ：写Option Byte ......",
       &Station::SendWriteOptionBytes},
      {{kPendingReadChipId, "read chip ID", nullptr, false, kChipTimeoutText, kAutoFlagKept, true,
        &FlashKiBGauge, nullptr, nullptr},
       "chip-id",
       A::None,
       "ReadMG32xxChipID1Click",
       &Station::ReadMG32xxChipID1Click,
       {"ReadMG32xxChipID1", nullptr},
       &Station::ChipIdResult,
       {C::Idle, false, false},
       nullptr,
       "芯片%d ：读取芯片......",
       &Station::SendReadChipId},
      {{kPendingWriteOtp, "write OTP", nullptr, false, kChipTimeoutText, 0, true, &OtpGauge,
        nullptr, nullptr},
       "write-otp",
       A::None,
       "WriteOTPDataMemory1Click",
       &Station::WriteOTPDataMemory1Click,
       {"WriteOTPDataMemory1", nullptr},
       &Station::WriteOtpResult,
       {C::Idle, true, true},
       nullptr,
       "芯片%d ：编程芯片OTP数据 ......",
       &Station::SendWriteOtp},
      // The read-OTP request goes even while bytes of an earlier exchange are still buffered.
      {{kPendingReadOtp, "read OTP", nullptr, false, kChipTimeoutText, 0, false, &FlashKiBGauge,
        &StandardTimeout, nullptr},
       "read-otp",
       A::None,
       "ReadOTPMemory1Click",
       &Station::ReadOTPMemory1Click,
       {"ReadOTPMemory1", nullptr},
       &Station::ReadOtpResult,
       {C::First, false, false},
       nullptr,
       "芯片%d ：读取芯片OTP数据......",
       &Station::SendReadOtp},
      {{kPendingReadChipMemory, "read memory", nullptr, false, kChipTimeoutText, 0, true,
        &FlashKiBGauge, nullptr, &kReadBackBlocks},
       "read-memory",
       A::OutputFile,
       "ReadChipMemoryX1Click",
       &Station::ReadChipMemoryX1Click,
       {"ReadChipMemoryX1", nullptr},
       &Station::ReadStep,
       {C::First, false, false},
       nullptr,
       "芯片%d ：开始读取芯片数据......",
       &Station::SendReadBack},
      // Its handler asks for the address and length first and starts on channel 1 without the
      // checks of the others.
      {{kPendingReadAddress, "read address", nullptr, false, kChipTimeoutText, kAutoFlagKept, true,
        &TimedGauge, nullptr, nullptr},
       "read-address",
       A::AddressAndLength,
       "ReadAddress1Click",
       &Station::ReadAddress1Click,
       {"ReadAddress1", nullptr},
       &Station::ReadAddressResult,
       {C::Own, false, false},
       nullptr,
       nullptr,
       &Station::SendReadAddress},
      // The monitor request is answered by no reply step: its answer is set aside.
      {{kPendingIdle, nullptr, nullptr, false, kChipTimeoutText, kAutoFlagKept, false, nullptr,
        nullptr, nullptr},
       "monitor",
       A::None,
       "EnterOffLineMonitor1Click",
       &Station::EnterOffLineMonitor1Click,
       {"EnterOffLineMonitor1", nullptr},
       nullptr,
       {C::Own, false, false},
       nullptr,
       nullptr,
       &Station::SendRestart},
      {{kPendingFirmwareUpgrade, "firmware upgrade", nullptr, false, kChipTimeoutText,
        kAutoFlagKept, false, nullptr, nullptr, nullptr},
       "upgrade",
       A::None,
       "DoFirmWareUpgrade1Click",
       &Station::DoFirmWareUpgrade1Click,
       {"DoFirmWareUpgrade1", nullptr},
       &Station::ContinueFirmwareUpgrade,
       {C::Own, false, false},
       nullptr,
       nullptr,
       &Station::SendFirmwareBlock},
  };
  return kOperations;
}

const StationOperation* Station::OperationAwaiting(std::uint8_t pending) {
  const auto ops = Operations();
  const auto it = std::find_if(ops.begin(), ops.end(), [pending](const StationOperation& op) {
    return op.pending == pending && op.reply != nullptr;
  });
  return it == ops.end() ? nullptr : &*it;
}

const StationOperation& Station::OperationStartedBy(void (Station::*handler)()) {
  const auto ops = Operations();
  const auto it = std::find_if(ops.begin(), ops.end(), [handler](const StationOperation& op) {
    return op.start == handler;
  });
  return *it;
}

}  // namespace korvan
