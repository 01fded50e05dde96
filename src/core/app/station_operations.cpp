// The station's operations, one row each: everything the front ends, the commands and the reply
// dispatch need to know of an operation besides its reply step (station_replies.cpp,
// station_link.cpp) and its request sender (station_link.cpp).
#include <algorithm>

#include "core/app/station.h"

namespace korvan {

namespace {

constexpr char kChip[] = "芯片 %d ：操作超时！";
constexpr char kProgrammer[] = "编程器 %d ：操作超时！";

// Gauge maxima: operations that report progress count KiB of flash; the timed ones run to 500
// with the tick, an erase longer the larger the flash; the OTP write shows four steps.
std::uint16_t FlashKiB(const ChipRecord& chip) {
  return chip.flashSizeKB;
}
std::uint16_t Timed(const ChipRecord&) {
  return 500;
}
std::uint16_t EraseGauge(const ChipRecord& chip) {
  return static_cast<std::uint16_t>(chip.flashSizeKB / 5 + 900);
}
std::uint16_t OtpGauge(const ChipRecord&) {
  return 4;
}

// Time-outs set once the first request went out. A whole-chip erase takes longer the larger
// the flash.
std::int16_t EraseTimeout(const ChipRecord& chip) {
  return static_cast<std::int16_t>(chip.flashSizeKB / 5 + kOperationTimeout);
}
std::int16_t StandardTimeout(const ChipRecord&) {
  return kOperationTimeout;
}

}  // namespace

std::span<const StationOperation> Station::Operations() {
  using A = StepArgument;
  using C = OperationChannels;
  static const StationOperation kOperations[] = {
      {"download",
       A::None,
       "SpdBtnDownLoadClick",
       &Station::SpdBtnDownLoadClick,
       {"Download1", "SpdBtnDownLoad"},
       kPendingDownload,
       &Station::DownloadStep,
       false,
       false,
       kProgrammer,
       {C::Idle, true, true, kAutoFlagKept, true},
       &Station::PrepareDownload,
       "编程器%d ：下载数据......",
       &FlashKiB,
       nullptr,
       &Station::SendDownload},
      // Auto is the blank check with the Auto flag set; AutoSequence() moves the cycle on from
      // each step's reply to the next step.
      {"auto",
       A::None,
       "AutoSpdBtnClick",
       &Station::AutoSpdBtnClick,
       {"AutoProgram1", "AutoSpdBtn"},
       kPendingBlankCheck,
       nullptr,
       true,
       true,
       kChip,
       {C::Idle, true, true, 1, true},
       &Station::PrepareAuto,
       "芯片%d ：芯片查空......",
       &Timed,
       nullptr,
       &Station::SendBlankCheck},
      {"blank-check",
       A::None,
       "SpdBtnBlankChkClick",
       &Station::SpdBtnBlankChkClick,
       {"BlankCheck1", "SpdBtnBlankChk"},
       kPendingBlankCheck,
       &Station::BlankCheckResult,
       true,
       true,
       kChip,
       {C::Idle, false, true, 0, true},
       nullptr,
       "芯片%d ：芯片查空......",
       &Timed,
       nullptr,
       &Station::SendBlankCheck},
      {"erase",
       A::None,
       "SpdBtnEraseClick",
       &Station::SpdBtnEraseClick,
       {"EraseChip1", "SpdBtnErase"},
       kPendingErase,
       &Station::EraseResult,
       true,
       true,
       kChip,
       {C::Idle, false, true, 0, true},
       nullptr,
       "芯片%d ：芯片擦除......",
       &EraseGauge,
       &EraseTimeout,
       &Station::SendErase},
      {"program",
       A::None,
       "SpdBtnProgClick",
       &Station::SpdBtnProgClick,
       {"Programming1", "SpdBtnProg"},
       kPendingProgram,
       &Station::ProgramStep,
       true,
       false,
       kChip,
       {C::Idle, true, true, 0, true},
       nullptr,
       "芯片%d ：开始芯片编程 ......",
       &FlashKiB,
       nullptr,
       &Station::SendProgramBlock},
      {"verify",
       A::None,
       "SpdBtnVerifyClick",
       &Station::SpdBtnVerifyClick,
       {"Verification1", "SpdBtnVerify"},
       kPendingVerify,
       &Station::VerifyStep,
       true,
       false,
       kChip,
       {C::Idle, true, false, 0, true},
       nullptr,
       "芯片%d ：开始数据校验......",
       &FlashKiB,
       nullptr,
       &Station::SendReadBack},
      {"read-ob",
       A::None,
       "ReadOptionByte1Click",
       &Station::ReadOptionByte1Click,
       {"ReadOptionByte1", nullptr},
       kPendingReadOptionBytes,
       &Station::ReadOptionBytesResult,
       false,
       true,
       kChip,
       {C::Idle, false, true, kAutoFlagKept, true},
       nullptr,
       "芯片%d ：读Option Byte ......",
       &Timed,
       nullptr,
       &Station::SendReadOptionBytes},
      {"write-ob",
       A::None,
       "SpdBtnWrtOPBClick",
       &Station::SpdBtnWrtOPBClick,
       {"WriteOptionByte1", "SpdBtnWrtOPB"},
       kPendingWriteOptionBytes,
       &Station::WriteOptionBytesResult,
       true,
       true,
       kChip,
       {C::Idle, false, true, 0, true},
       nullptr,
       "芯片%d ：写Option Byte ......",
       &Timed,
       nullptr,
       &Station::SendWriteOptionBytes},
      {"chip-id",
       A::None,
       "ReadMG32xxChipID1Click",
       &Station::ReadMG32xxChipID1Click,
       {"ReadMG32xxChipID1", nullptr},
       kPendingReadChipId,
       &Station::ChipIdResult,
       false,
       false,
       kChip,
       {C::Idle, false, false, kAutoFlagKept, true},
       nullptr,
       "芯片%d ：读取芯片......",
       &FlashKiB,
       nullptr,
       &Station::SendReadChipId},
      {"write-otp",
       A::None,
       "WriteOTPDataMemory1Click",
       &Station::WriteOTPDataMemory1Click,
       {"WriteOTPDataMemory1", nullptr},
       kPendingWriteOtp,
       &Station::WriteOtpResult,
       false,
       false,
       kChip,
       {C::Idle, true, true, 0, true},
       nullptr,
       "芯片%d ：编程芯片OTP数据 ......",
       &OtpGauge,
       nullptr,
       &Station::SendWriteOtp},
      // The read-OTP request goes even while bytes of an earlier exchange are still buffered.
      {"read-otp",
       A::None,
       "ReadOTPMemory1Click",
       &Station::ReadOTPMemory1Click,
       {"ReadOTPMemory1", nullptr},
       kPendingReadOtp,
       &Station::ReadOtpResult,
       false,
       false,
       kChip,
       {C::First, false, false, 0, false},
       nullptr,
       "芯片%d ：读取芯片OTP数据......",
       &FlashKiB,
       &StandardTimeout,
       &Station::SendReadOtp},
      {"read-memory",
       A::OutputFile,
       "ReadChipMemoryX1Click",
       &Station::ReadChipMemoryX1Click,
       {"ReadChipMemoryX1", nullptr},
       kPendingReadChipMemory,
       &Station::ReadStep,
       false,
       false,
       kChip,
       {C::First, false, false, 0, true},
       nullptr,
       "芯片%d ：开始读取芯片数据......",
       &FlashKiB,
       nullptr,
       &Station::SendReadBack},
      // Its handler asks for the address and length first and starts on channel 1 without the
      // checks of the others.
      {"read-address",
       A::AddressAndLength,
       "ReadAddress1Click",
       &Station::ReadAddress1Click,
       {"ReadAddress1", nullptr},
       kPendingReadAddress,
       &Station::ReadAddressResult,
       false,
       false,
       kChip,
       {C::Own, false, false, kAutoFlagKept, true},
       nullptr,
       nullptr,
       &Timed,
       nullptr,
       &Station::SendReadAddress},
      // The monitor request is answered by no reply step: its answer is set aside.
      {"monitor",
       A::None,
       "EnterOffLineMonitor1Click",
       &Station::EnterOffLineMonitor1Click,
       {"EnterOffLineMonitor1", nullptr},
       kPendingIdle,
       nullptr,
       false,
       false,
       kChip,
       {C::Own, false, false, kAutoFlagKept, false},
       nullptr,
       nullptr,
       nullptr,
       nullptr,
       &Station::SendRestart},
      {"upgrade",
       A::None,
       "DoFirmWareUpgrade1Click",
       &Station::DoFirmWareUpgrade1Click,
       {"DoFirmWareUpgrade1", nullptr},
       kPendingFirmwareUpgrade,
       &Station::ContinueFirmwareUpgrade,
       false,
       false,
       kChip,
       {C::Own, false, false, kAutoFlagKept, false},
       nullptr,
       nullptr,
       nullptr,
       nullptr,
       &Station::SendFirmwareBlock},
  };
  return kOperations;
}

std::span<const AutoTransition> Station::AutoSequence() {
  using O = AutoOutcome;
  // The erase of an Auto cycle runs under the timed gauge and the standard time-out, not the
  // erase command's.
  static const AutoTransition kSequence[] = {
      {kPendingBlankCheck, O::Blank, nullptr, kPendingProgram, "芯片%d ：开始芯片编程...",
       &FlashKiB},
      {kPendingBlankCheck, O::NotBlank, nullptr, kPendingErase, "芯片%d ：芯片擦除......", &Timed},
      {kPendingBlankCheck, O::Protected, nullptr, kPendingErase, "芯片%d ：芯片已保护，擦除芯片...",
       &Timed},
      {kPendingErase, O::Done, nullptr, kPendingProgram, "芯片%d ：开始芯片编程...", &FlashKiB},
      {kPendingProgram, O::Done, nullptr, kPendingVerify, "芯片%d ：开始数据校验......", &FlashKiB},
      {kPendingVerify, O::Done, [](const JobSettings& job) { return job.programOptionBytes != 0; },
       kPendingWriteOptionBytes, "芯片%d ：写Option Byte......", &Timed},
  };
  return kSequence;
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
