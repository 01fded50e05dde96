#include "core/job/job_form.h"

#include <array>
#include <cstdint>

#include "core/job/serial_numbers.h"
#include "core/util/format.h"

namespace korvan {

EditState& JobForm::SNEdit(int index) {
  std::array<EditState*, 4> edits = {&SNEdit1, &SNEdit2, &SNEdit3, &SNEdit4};
  return *edits.at(static_cast<std::size_t>(index));
}

const EditState& JobForm::SNEdit(int index) const {
  return const_cast<JobForm*>(this)->SNEdit(index);
}

namespace {

std::uint8_t SetBit(std::uint8_t byte, std::uint8_t mask, bool on) {
  return static_cast<std::uint8_t>(on ? (byte | mask) : (byte & ~mask));
}

// The number texts the assembly reads, converted before anything is assigned so that a text
// that holds no number leaves settings and form as they were.
struct NumberTexts {
  std::uint16_t gain = 0;
  std::array<std::uint32_t, 4> starts{};
  std::uint32_t address = 0;
};

std::optional<std::string> ReadNumberTexts(const JobForm& form, NumberTexts& out) {
  const auto gain = ParseInteger(form.GainEdit.text);
  if (!gain) return NotAnIntegerMessage(form.GainEdit.text);
  out.gain = static_cast<std::uint16_t>(*gain);
  if (!form.CheckBoxSN.checked) return std::nullopt;
  for (int i = 0; i < 4; ++i) {
    const auto start = ParseInteger(form.SNEdit(i).text);
    if (!start) return NotAnIntegerMessage(form.SNEdit(i).text);
    out.starts[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(*start);
  }
  const auto address = ParseInteger(form.AddrEdit.text);
  if (!address) return NotAnIntegerMessage(form.AddrEdit.text);
  out.address = static_cast<std::uint32_t>(*address);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> AssembleJobSettings(JobForm& form, const ChipRecord& chip,
                                               JobSettings& s) {
  NumberTexts numbers;
  if (auto error = ReadNumberTexts(form, numbers)) return error;

  std::uint8_t target = form.RadioGpVolt.itemIndex == 1 ? kTarget5V : 0;
  if (!form.CheckBoxOpt.checked) target |= kTargetNoOptionBytes;
  s.programOptionBytes = form.CheckBoxOpt.checked ? 1 : 0;
  if (chip.isM0Family) target |= kTargetM0;
  if (chip.isM0FamilyCopy) target |= kTargetM0Copy;
  if (chip.isG43xOrL4Family) target |= kTargetG43xOrL4;
  s.targetCtrl = target;

  s.linkCtrl = SetBit(s.linkCtrl, kLinkBigEndianSn, form.SNOrderChk.checked);
  s.linkCtrl = SetBit(s.linkCtrl, kLinkSlowClock, form.RadioGrpSpdF.itemIndex == 0);
  s.linkCtrl = SetBit(s.linkCtrl, kLinkSwdioShared, form.ChkBoxDlySkp.checked);

  s.autoDetect = form.ChkBoxAuto.checked ? kEnabled : 0;
  s.insertSettle = static_cast<std::uint16_t>(form.SpinEditIn.value / 30);
  s.removeSettle = static_cast<std::uint16_t>(form.SpinEditOut.value / 30);
  s.powerOnTime = static_cast<std::uint8_t>(form.SpinEditVddTim.value / 10);
  s.powerOffTime = static_cast<std::uint8_t>(form.SpinEditRstTim.value / 10);

  std::uint8_t power = form.ChkBoxVDD.checked ? 0 : kPowerStaysOn;
  power |= static_cast<std::uint8_t>(form.RadioGrpRST.itemIndex) & kPowerResetMask;
  if (form.CheckBoxRun.checked) power |= kPowerRunAfter;
  s.checkCtrl = SetBit(s.checkCtrl, kCheckStopIfNotBlank, form.ChkBoxBlkEr.checked);
  if (form.ChkBoxRunSHT.checked) power |= kPowerRunThenShut;
  s.powerCtrl = power;
  s.runTime = static_cast<std::uint16_t>(form.SpinEditRTM.value / 10);

  if (form.CheckBoxCtrl.checked) {
    if (form.SpinEditNum.value == 0) {
      // A limit of nothing is no limit: the box is unticked and the programmers count freely.
      form.CheckBoxCtrl.checked = false;
      CheckBoxCtrlClick(form, s);
      s.countLimit = 0;
    } else {
      s.countEnable = kEnabled;
      s.countLimit = static_cast<std::uint32_t>(form.SpinEditNum.value);
    }
  } else {
    s.countEnable = 0;
    s.countLimit = kNoCountLimit;
  }

  s.snSize = 4;
  s.snEnable = form.CheckBoxSN.checked ? kEnabled : 0;
  s.snGain = numbers.gain;
  if (form.CheckBoxSN.checked) {
    s.snStart = numbers.starts;
    s.snAddress = numbers.address;
  } else {
    s.snStart = {0, 0, 0, 0};
    s.snAddress = kNoSerialAddress;
  }

  s.eraseCtrl = SetBit(s.eraseCtrl, kEraseDirect, form.ChkBoxEras.checked);
  s.familyCtrl = SetBit(s.familyCtrl, kFamilyCtrlN32G003, chip.chipName.starts_with("N32G003"));
  return std::nullopt;
}

std::string ControlSettingLine(const ChipRecord& chip, const JobSettings& s) {
  return Format("> Control Setting(Hex): %.2X,%.2X,%.4X,%.4X,", chip.familyCode, chip.partIndex,
                chip.flashSizeKB, chip.otpSize) +
         Format("%.2X,%.2X,%.2X,%.2X,", s.powerCtrl, s.linkCtrl, s.targetCtrl, s.autoDetect) +
         Format("%.2X,%.2X,%.2X,%.2X.", s.eraseCtrl, s.checkCtrl, s.familyCtrl,
                chip.optionByteLength);
}

namespace {

void SetRadio(RadioGroupState& group, int index) {
  const int last = static_cast<int>(group.items.size()) - 1;
  group.itemIndex = index > last ? last : index;
}

}  // namespace

void SetFormFromSettings(JobForm& form, const JobSettings& s) {
  const bool snOn = s.snEnable != 0;
  form.CheckBoxSN.checked = snOn;
  for (EditState* edit : {&form.AddrEdit, &form.SNEdit1, &form.SNEdit2, &form.SNEdit3,
                          &form.SNEdit4, &form.GainEdit}) {
    edit->enabled = snOn;
  }
  form.SNOrderChk.enabled = snOn;
  form.ChkBoxPCSN.enabled = snOn;
  form.GainEdit.text = Format("%d", s.snGain);
  const bool decimal = (s.snDisplayFlags & 0x01) != 0;
  form.ChkBoxSNDP.checked = decimal;
  form.SNOrderChk.checked = (s.linkCtrl & kLinkBigEndianSn) != 0;

  // Two items: "3.3V" and "5.0V".
  form.RadioGpVolt.itemIndex = (s.targetCtrl & 0x03) != 0 ? 1 : 0;
  form.CheckBoxOpt.checked = (s.targetCtrl & kTargetNoOptionBytes) == 0;
  // The stop-if-not-blank tick travels in checkCtrl bit 0, where the assembly puts it.
  form.ChkBoxBlkEr.checked = (s.checkCtrl & kCheckStopIfNotBlank) != 0;
  // Controls the assembly reads back into the same bytes; restoring them keeps the project's
  // choice from being overwritten by the window at the next command.
  form.ChkBoxEras.checked = (s.eraseCtrl & kEraseDirect) != 0;
  SetRadio(form.RadioGrpSpdF, (s.linkCtrl & kLinkSlowClock) ? 0 : 1);
  form.ChkBoxDlySkp.checked = (s.linkCtrl & kLinkSwdioShared) != 0;

  form.ChkBoxAuto.checked = s.autoDetect != 0;
  ChkBoxAutoClick(form);
  form.SpinEditIn.Set(s.insertSettle * 30);
  form.SpinEditOut.Set(s.removeSettle * 30);
  form.SpinEditVddTim.Set(s.powerOnTime * 10);
  form.SpinEditRstTim.Set(s.powerOffTime * 10);
  form.SpinEditRTM.Set(s.runTime * 10);

  form.ChkBoxVDD.checked = (s.powerCtrl & kPowerStaysOn) == 0;
  SetRadio(form.RadioGrpRST, s.powerCtrl & kPowerResetMask);
  form.CheckBoxRun.checked = (s.powerCtrl & kPowerRunAfter) != 0;
  form.ChkBoxRunSHT.checked = (s.powerCtrl & kPowerRunThenShut) != 0;

  if (s.countLimit == kNoCountLimit) {
    form.SpinEditNum.Set(0);
    form.CheckBoxCtrl.checked = false;
  } else {
    form.SpinEditNum.Set(s.countLimit > 999999999u ? 999999999 : static_cast<int>(s.countLimit));
    form.CheckBoxCtrl.checked = s.countLimit != 0;
  }
  form.SpinEditNum.enabled = form.CheckBoxCtrl.checked;

  form.SNEdit1.text = snOn ? SerialNumberText(s.snStart[0], decimal) : "0x00000000";
  form.AddrEdit.text = snOn ? Format("0x%.8X", s.snAddress) : "0x0000FFF0";
  for (int i = 1; i < 4; ++i) {
    form.SNEdit(i).text = SerialNumberText(s.snStart[static_cast<std::size_t>(i)], decimal);
  }
}

void ChkBoxAutoClick(JobForm& form) {
  form.SpinEditIn.enabled = form.ChkBoxAuto.checked;
  form.SpinEditOut.enabled = form.ChkBoxAuto.checked;
}

void CheckBoxCtrlClick(JobForm& form, JobSettings& settings) {
  form.SpinEditNum.enabled = form.CheckBoxCtrl.checked;
  settings.countEnable = form.CheckBoxCtrl.checked ? kEnabled : 0;
}

}  // namespace korvan
