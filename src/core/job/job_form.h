// The job form: the state of the main window's setting controls, owned by the core. Commands
// read it (AssembleJobSettings), a project load writes it (SetFormFromSettings), and the window
// binds its widgets to it both ways, so every command works without a widget.
//
// Member names are the controls' names; each control carries its value and its enabled and
// visible state. Defaults are those the window opens with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/chips/chip_view.h"
#include "core/model/chip_record.h"
#include "core/model/job_settings.h"

namespace korvan {

struct CheckBoxState {
  bool checked = false;
  bool enabled = true;
  bool visible = true;
};

// A spin edit keeps its value inside [minValue, maxValue]; Set clamps, as the control does.
struct SpinEditState {
  int value = 0;
  int minValue = 0;
  int maxValue = 0;
  int increment = 1;
  bool enabled = true;
  bool visible = true;

  void Set(int v) { value = v < minValue ? minValue : (v > maxValue ? maxValue : v); }
};

struct EditState {
  std::string text;
  int maxLength = 0;  // characters the operator may type; 0 = no limit
  bool enabled = true;
  bool visible = true;
};

struct RadioGroupState {
  int itemIndex = 0;
  std::vector<std::string> items;
  bool enabled = true;
};

struct ButtonState {
  bool enabled = true;
  bool visible = true;
};

struct LabelState {
  std::string caption;
  bool visible = true;
};

// The tabs of PageControlSet, in order.
enum class SettingsTab { SerialNumbers = 0, CountAndDetection = 1, SignalOutput = 2 };

inline constexpr const char* kNoChipText = "请选择目标MCU的型号...";

// The "Chip Setting" tab's settings and the three tabs of PageControlSet. The part of the form
// that applying a part changes (ChkBoxDlySkp, RadioGpVolt, lbFlashSize) is the ChipView base, so
// the form is handed to ApplyChip as it is.
struct JobForm : ChipView {
  // --- group "芯片设置" ---
  EditState MCUNameEdit{kNoChipText, 16, true, true};  // read-only; set by the chip choice
  LabelState lbEEPSize{"", false};                     // OTP size, "%dByte" or "NILL"
  // " 编程速度 ": item 0 "Slow SWCLK" (linkCtrl bit 4 set), item 1 "Fast SWCLK".
  RadioGroupState RadioGrpSpdF{1, {"Slow SWCLK", "Fast SWCLK"}, true};
  CheckBoxState ChkBoxBlkEr{};                  // "非空报错退出"
  CheckBoxState CheckBoxOpt{true, true, true};  // "Program Option Byte"
  ButtonState ButtonOpt{true, false};           // "Set Option Byte", for parts with option bytes
  CheckBoxState ChkBoxEras{};                   // "直接擦除"

  // --- PageControlSet ---
  SettingsTab PageControlSet = SettingsTab::SerialNumbers;

  // Tab "序列号设置": the edits are enabled only while CheckBoxSN is ticked.
  CheckBoxState CheckBoxSN{};  // "添加序列号功能"
  EditState SNEdit1{"0x00000000", 10, false, true};
  EditState SNEdit2{"0x40000000", 10, false, true};
  EditState SNEdit3{"0x80000000", 10, false, true};
  EditState SNEdit4{"0xC0000000", 10, false, true};
  EditState GainEdit{"0x01", 4, false, true};
  EditState AddrEdit{"0x0000FFF0", 10, false, true};
  CheckBoxState SNOrderChk{true, false, true};   // "大端模式(Big Endian)"
  CheckBoxState ChkBoxSNDP{};                    // "序列号十进制显示", always enabled
  CheckBoxState ChkBoxPCSN{false, false, true};  // "允许联机序列号"
  // Hidden maintenance controls: reconnect the channel SpinEdit1 names (0 = channel 1).
  SpinEditState SpinEdit1{0, 0, 8, 1, true, false};
  ButtonState BitBtn1{true, false};

  // Tab "数量设置和芯片检测".
  CheckBoxState CheckBoxCtrl{};                                  // "限制烧写总数"
  SpinEditState SpinEditNum{0, 0, 999999999, 100, false, true};  // enabled while ticked
  CheckBoxState ChkBoxAuto{true, true, true};                    // "自动芯片检测"
  SpinEditState SpinEditIn{510, 300, 1500, 10, true, true};      // ms, enabled while ChkBoxAuto
  SpinEditState SpinEditOut{510, 300, 2000, 10, true, true};     // ms, enabled while ChkBoxAuto

  // Tab "信号输出控制".
  CheckBoxState ChkBoxVDD{true, true, true};  // "编程完成后关闭电源输出"
  RadioGroupState RadioGrpRST{0, {"输出常低电平", "关闭输出(高阻)", "输出复位后关闭"}, true};
  CheckBoxState CheckBoxRun{};                                  // "编程完成后启动芯片"
  CheckBoxState ChkBoxRunSHT{};                                 // "Run and then Shut"
  SpinEditState SpinEditRTM{500, 100, 2000, 10, true, true};    // run time, ms
  SpinEditState SpinEditVddTim{100, 10, 2000, 10, true, true};  // "上电稳定时间(ms)："
  SpinEditState SpinEditRstTim{100, 10, 2000, 10, true, true};  // "掉电稳定时间(ms)："

  // The four serial-number edits by channel index 0..3.
  EditState& SNEdit(int index);
  const EditState& SNEdit(int index) const;
};

// Reads the form into `settings` for the confirmed part `chip`. The number texts (GainEdit
// always; SNEdit1..4 and AddrEdit while serial numbers are on) are read as decimal, "0x..." or
// "$..."; when one of them holds no number, nothing is changed, neither settings nor form, and
// the conversion error "'%s' is not a valid integer value" is returned. A ticked count limit of
// 0 is unticked here, which switches the limit off.
std::optional<std::string> AssembleJobSettings(JobForm& form, const ChipRecord& chip,
                                               JobSettings& settings);

// The line the assembly adds to the information panel, without time:
// "> Control Setting(Hex): FF,PP,SSSS,OOOO,pw,lk,tg,ad,er,ck,fm,ol."
std::string ControlSettingLine(const ChipRecord& chip, const JobSettings& settings);

// Sets the controls from settings restored from a project file; `snDisplayFlags` of the
// settings gives the decimal display. The inverse of the assembly, control by control.
void SetFormFromSettings(JobForm& form, const JobSettings& settings);

// ChkBoxAuto's click: the settle-time spin edits are usable only with chip detection on.
void ChkBoxAutoClick(JobForm& form);

// CheckBoxCtrl's click: SpinEditNum follows the box, and countEnable changes at once.
void CheckBoxCtrlClick(JobForm& form, JobSettings& settings);

}  // namespace korvan
