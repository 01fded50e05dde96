// The operation commands: each checks its preconditions, refreshes the job settings where it
// needs them and starts its first request on every connected, idle channel. From then on the
// replies and the tick drive the channels; nothing here waits.
#include "core/app/station.h"
#include "core/image/address_rules.h"
#include "core/protocol/constants.h"
#include "core/util/format.h"

namespace korvan {

namespace p = protocol;

namespace {

constexpr std::uint16_t kTimedGaugeMaximum = 500;
constexpr std::uint16_t kOtpGaugeMaximum = 4;
constexpr std::uint16_t kReadAddressGaugeProgress = 250;

}  // namespace

bool Station::OperationAllowed(bool needsImage) {
  if (!chip_.chipConfirmed) {
    frontend_.Inform("请选择并确认芯片型号！");
    return false;
  }
  if (needsImage && !image_.dataLoaded) {
    frontend_.Inform("请加载目标文件！");
    return false;
  }
  return true;
}

template <typename Send>
void Station::FanOut(const Operation& op, Send send) {
  window_.ViewPageCtrl = MainTab::ChipSetting;
  Notify(ViewPart::Window);
  if (!OperationAllowed(op.needsImage)) return;
  if (op.assembles && !AssembleJobSettings()) return;
  bool started = false;
  for (int n = 1; n <= kChannelCount; ++n) {
    ChannelState& ch = Channel(n);
    if (!ch.connected || ch.busy) continue;
    DropStaleBytes(n);
    ch.pendingCommand = op.code;
    if (op.autoFlag >= 0) ch.autoFlag = static_cast<std::uint8_t>(op.autoFlag);
    info_.AddInfoLine(Format(op.message, n));
    BeginOperation(n, op.gaugeMaximum);
    SendWhenFree(n, [send, n] { send(n); });
    started = true;
  }
  if (!started) frontend_.Inform("请连接好设备！");
}

void Station::FormKeyPress(char key) {
  if (key == ' ' || key == '\r' || key == '\n') AutoSpdBtnClick();
}

void Station::SpdBtnDownLoadClick() {
  info_.AddSeparator();
  if (chip_.optionByteLength) ShowOptionBytes();
  const OptionChecksum sum = OptionSum(optionBytes_);
  settings_.optionSum = sum.optionSum;
  settings_.optionSumInv = sum.optionSumInv;
  FanOut({kPendingDownload, true, true, -1, "编程器%d ：下载数据......", chip_.flashSizeKB},
         [this](int n) { SendDownload(n); });
}

void Station::AutoSpdBtnClick() {
  info_.AddSeparator();
  if (chip_.optionByteLength) ShowOptionBytes();
  FanOut({kPendingBlankCheck, true, true, 1, "芯片%d ：芯片查空......", kTimedGaugeMaximum},
         [this](int n) { SendBlankCheck(n); });
}

void Station::SpdBtnBlankChkClick() {
  FanOut({kPendingBlankCheck, false, true, 0, "芯片%d ：芯片查空......", kTimedGaugeMaximum},
         [this](int n) { SendBlankCheck(n); });
}

void Station::SpdBtnEraseClick() {
  const auto gauge = static_cast<std::uint16_t>(chip_.flashSizeKB / 5 + 900);
  FanOut({kPendingErase, false, true, 0, "芯片%d ：芯片擦除......", gauge}, [this](int n) {
    SendErase(n);
    // A whole-chip erase takes longer the larger the flash.
    Channel(n).timeout = static_cast<std::int16_t>(chip_.flashSizeKB / 5 + kOperationTimeout);
  });
}

void Station::SpdBtnProgClick() {
  FanOut({kPendingProgram, true, true, 0, "芯片%d ：开始芯片编程 ......", chip_.flashSizeKB},
         [this](int n) { SendProgramBlock(n); });
}

void Station::SpdBtnVerifyClick() {
  FanOut({kPendingVerify, true, false, 0, "芯片%d ：开始数据校验......", chip_.flashSizeKB},
         [this](int n) { SendReadBack(n); });
}

void Station::ReadOptionByte1Click() {
  FanOut({kPendingReadOptionBytes, false, true, -1, "芯片%d ：读Option Byte ......",
          kTimedGaugeMaximum},
         [this](int n) { SendReadOptionBytes(n); });
}

void Station::SpdBtnWrtOPBClick() {
  FanOut({kPendingWriteOptionBytes, false, true, 0, "芯片%d ：写Option Byte ......",
          kTimedGaugeMaximum},
         [this](int n) { SendWriteOptionBytes(n); });
}

void Station::ReadMG32xxChipID1Click() {
  FanOut({kPendingReadChipId, false, false, -1, "芯片%d ：读取芯片......", chip_.flashSizeKB},
         [this](int n) { SendReadChipId(n); });
}

void Station::WriteOTPDataMemory1Click() {
  FanOut({kPendingWriteOtp, true, true, 0, "芯片%d ：编程芯片OTP数据 ......", kOtpGaugeMaximum},
         [this](int n) { SendWriteOtp(n); });
}

bool Station::FirstChannelReady() {
  if (!OperationAllowed(false)) return false;
  if (!Channel(1).connected) {
    frontend_.Inform("请连接好设备！");
    return false;
  }
  return true;
}

void Station::ReadChipMemoryX1Click() {
  if (!FirstChannelReady()) return;
  ChannelState& ch = Channel(1);
  DropStaleBytes(1);
  ch.pendingCommand = kPendingReadChipMemory;
  ch.autoFlag = 0;
  info_.AddInfoLine("芯片1 ：开始读取芯片数据......");
  BeginOperation(1, chip_.flashSizeKB);
  SendWhenFree(1, [this] { SendReadBack(1); });
}

void Station::ReadOTPMemory1Click() {
  if (!FirstChannelReady()) return;
  ChannelState& ch = Channel(1);
  ch.pendingCommand = kPendingReadOtp;
  ch.autoFlag = 0;
  info_.AddInfoLine("芯片1 ：读取芯片OTP数据......");
  BeginOperation(1, chip_.flashSizeKB);
  SendWhenFree(1, [this] {
    SendReadOtp(1);
    Channel(1).timeout = kOperationTimeout;
  });
}

void Station::ReadAddress1Click() {
  const auto entry =
      frontend_.AskReadAddress(ReadAddressShownText(settings_.readAddress), settings_.readLength);
  if (entry) {
    if (const auto address = ReadAddressFromText(entry->addressText)) {
      settings_.readAddress = *address;
    } else {
      ShowError(NotAnIntegerMessage(entry->addressText));
    }
    settings_.readLength = ReadLengthFromSpin(entry->length);
  }
  ChannelState& ch = Channel(1);
  DropStaleBytes(1);
  ch.pendingCommand = kPendingReadAddress;
  BeginOperation(1, kTimedGaugeMaximum);
  ch.gauge.progress = kReadAddressGaugeProgress;
  SendWhenFree(1, [this] { SendReadAddress(1); });
}

void Station::EnterOffLineMonitor1Click() {
  for (int n = 1; n <= kChannelCount; ++n) {
    if (!Channel(n).connected) continue;
    if (Channel(n).busy) {
      // On a busy channel the frames that follow still go to the running operation.
      SendRestart(n);
      continue;
    }
    // After an earlier restart, this one goes once that one is answered.
    SendWhenFree(n, [this, n] {
      SendRestart(n);
      ExpectRestartAnswer(n);
    });
  }
}

void Station::DoFirmWareUpgrade1Click() {
  for (int n = 1; n <= kChannelCount; ++n) {
    if (Channel(n).connected) StartFirmwareUpgrade(n);
  }
}

}  // namespace korvan
