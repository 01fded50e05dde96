// The operation commands: each starts its row of Operations() — checks its preconditions,
// refreshes the job settings where the row asks for them and sends the row's first request on
// every connected, idle channel (or on channel 1). From then on the replies and the tick drive
// the channels; nothing here waits.
#include "core/app/station.h"
#include "core/image/address_rules.h"
#include "core/job/job_fingerprint.h"
#include "core/util/format.h"

namespace korvan {

namespace {

constexpr int kReadAddressGaugeProgress = 250;
constexpr const char* kJobFingerprintLine = "Job fingerprint: ";

}  // namespace

bool Station::OperationAllowed(bool needsImage) {
  if (!job_.chip.chipConfirmed) {
    frontend_.Inform("请选择并确认芯片型号！");
    return false;
  }
  if (needsImage && !job_.Image().dataLoaded) {
    frontend_.Inform("请加载目标文件！");
    return false;
  }
  return true;
}

bool Station::FirstChannelReady() {
  if (!OperationAllowed(false)) return false;
  if (!Channel(1).connected) {
    frontend_.Inform("请连接好设备！");
    return false;
  }
  return true;
}

void Station::StartOperation(const StationOperation& op) {
  if (op.flags.numbersParts && jobCheck_) {
    if (const auto fingerprint = FingerprintJob(job_);
        fingerprint && !jobCheck_(fingerprint->hex)) {
      return;
    }
  }
  if (op.flags.numbersParts && serialNumberCheck_ && !serialNumberCheck_()) return;
  if (op.prepare) (this->*op.prepare)();
  if (op.flags.channels == OperationChannels::First) {
    if (FirstChannelReady()) StartOn(1, op);
    return;
  }
  window_.ViewPageCtrl = MainTab::ChipSetting;
  Notify(ViewPart::Window);
  if (!OperationAllowed(op.flags.needsImage)) return;
  if (op.flags.assembles && !AssembleJobSettings()) return;
  // The job each channel's parts get, for their records.
  std::string fingerprint;
  if (op.flags.numbersParts) {
    if (const auto fp = FingerprintJob(job_)) {
      fingerprint = fp->hex;
      info_.AddInfoLine(std::string(kJobFingerprintLine) + ShortFingerprint(fingerprint));
    }
  }
  bool started = false;
  for (int n = 1; n <= kChannelCount; ++n) {
    const ChannelState& ch = Channel(n);
    if (!ch.connected || ch.busy) continue;
    if (op.flags.numbersParts) channelFingerprint_[static_cast<std::size_t>(n - 1)] = fingerprint;
    StartOn(n, op);
    started = true;
  }
  if (!started) frontend_.Inform("请连接好设备！");
}

void Station::ShowJobFingerprint() {
  if (const auto fp = FingerprintJob(job_)) {
    info_.AddInfoLine(std::string(kJobFingerprintLine) + ShortFingerprint(fp->hex));
  }
}

void Station::StartOn(int n, const StationOperation& op) {
  Link(n).BeginOperation(op.link, job_.chip);
  if (op.message) info_.AddInfoLine(Format(op.message, n));
  Notify(ViewPart::Gauges);
  Link(n).SendFirstRequest(op.link, job_.chip, [this, n, &op] { (this->*op.send)(n); });
}

void Station::FormKeyPress(char key) {
  if (key == ' ' || key == '\r' || key == '\n') AutoSpdBtnClick();
}

void Station::PrepareAuto() {
  info_.AddSeparator();
  if (job_.chip.optionByteLength) ShowOptionBytes();
}

void Station::PrepareDownload() {
  PrepareAuto();
  const OptionChecksum sum = OptionSum(job_.optionBytes);
  job_.settings.optionSum = sum.optionSum;
  job_.settings.optionSumInv = sum.optionSumInv;
}

void Station::SpdBtnDownLoadClick() {
  StartOperation(OperationStartedBy(&Station::SpdBtnDownLoadClick));
}

void Station::AutoSpdBtnClick() {
  StartOperation(OperationStartedBy(&Station::AutoSpdBtnClick));
}

void Station::SpdBtnBlankChkClick() {
  StartOperation(OperationStartedBy(&Station::SpdBtnBlankChkClick));
}

void Station::SpdBtnEraseClick() {
  StartOperation(OperationStartedBy(&Station::SpdBtnEraseClick));
}

void Station::SpdBtnProgClick() {
  StartOperation(OperationStartedBy(&Station::SpdBtnProgClick));
}

void Station::SpdBtnVerifyClick() {
  StartOperation(OperationStartedBy(&Station::SpdBtnVerifyClick));
}

void Station::ReadOptionByte1Click() {
  StartOperation(OperationStartedBy(&Station::ReadOptionByte1Click));
}

void Station::SpdBtnWrtOPBClick() {
  StartOperation(OperationStartedBy(&Station::SpdBtnWrtOPBClick));
}

void Station::ReadMG32xxChipID1Click() {
  StartOperation(OperationStartedBy(&Station::ReadMG32xxChipID1Click));
}

void Station::WriteOTPDataMemory1Click() {
  StartOperation(OperationStartedBy(&Station::WriteOTPDataMemory1Click));
}

void Station::ReadChipMemoryX1Click() {
  StartOperation(OperationStartedBy(&Station::ReadChipMemoryX1Click));
}

void Station::ReadOTPMemory1Click() {
  StartOperation(OperationStartedBy(&Station::ReadOTPMemory1Click));
}

void Station::ReadAddress1Click() {
  const StationOperation& op = OperationStartedBy(&Station::ReadAddress1Click);
  const auto entry = frontend_.AskReadAddress(ReadAddressShownText(job_.settings.readAddress),
                                              job_.settings.readLength);
  if (entry) {
    if (const auto address = ReadAddressFromText(entry->addressText)) {
      job_.settings.readAddress = *address;
    } else {
      ShowError(NotAnIntegerMessage(entry->addressText));
    }
    job_.settings.readLength = ReadLengthFromSpin(entry->length);
  }
  Link(1).BeginOperation(op.link, job_.chip);
  Notify(ViewPart::Gauges);
  Link(1).MoveGauge(kReadAddressGaugeProgress);
  Link(1).SendFirstRequest(op.link, job_.chip, [this, &op] { (this->*op.send)(1); });
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
