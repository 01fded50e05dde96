#include "core/job/job_form.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/job/serial_numbers.h"

namespace korvan {
namespace {

ChipRecord Chip(const char* name) {
  ChipRecord chip;
  chip.chipName = name;
  chip.chipConfirmed = 1;
  return chip;
}

TEST(AssembleJobSettings, TheWindowAsItOpensGivesTheDefaultRecordAndControlLine) {
  JobForm form;
  JobSettings s;
  ASSERT_FALSE(AssembleJobSettings(form, ChipRecord{}, s));
  EXPECT_EQ(s.targetCtrl, 0x01);  // "5.0V", option bytes programmed
  EXPECT_EQ(s.programOptionBytes, 1);
  EXPECT_EQ(s.linkCtrl, 0x68);  // 0x7C with big-endian kept, fast clock, no SWDIO sharing
  EXPECT_EQ(s.autoDetect, 15);
  EXPECT_EQ(s.insertSettle, 17);
  EXPECT_EQ(s.removeSettle, 17);
  EXPECT_EQ(s.powerOnTime, 10);
  EXPECT_EQ(s.powerOffTime, 10);
  EXPECT_EQ(s.powerCtrl, 0x00);
  EXPECT_EQ(s.runTime, 50);
  EXPECT_EQ(s.countEnable, 0);
  EXPECT_EQ(s.countLimit, 0xFFFFFFFFu);
  EXPECT_EQ(s.snEnable, 0);
  EXPECT_EQ(s.snSize, 4);
  EXPECT_EQ(s.snGain, 1);
  EXPECT_EQ(s.snAddress, 0xFFFFFFFFu);
  EXPECT_EQ(s.eraseCtrl, 0x80);
  EXPECT_EQ(s.familyCtrl, 0x00);
  EXPECT_EQ(ControlSettingLine(ChipRecord{}, s),
            "> Control Setting(Hex): 00,00,0080,0000,00,68,01,0F,80,00,00,00.");
}

TEST(AssembleJobSettings, EachControlLandsInItsField) {
  struct Row {
    const char* what;
    const char* chipName;
    std::function<void(JobForm&, ChipRecord&, JobSettings&)> set;
    std::function<void(const JobSettings&)> check;
  };
  const Row rows[] = {
      {"settle times at 510 ms", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) {
         f.SpinEditIn.Set(510);
         f.SpinEditOut.Set(510);
       },
       [](const JobSettings& s) {
         EXPECT_EQ(s.insertSettle, 17);
         EXPECT_EQ(s.removeSettle, 17);
       }},
      {"settle times at their maximum", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) {
         f.SpinEditIn.Set(1500);
         f.SpinEditOut.Set(2000);
       },
       [](const JobSettings& s) {
         EXPECT_EQ(s.insertSettle, 50);
         EXPECT_EQ(s.removeSettle, 66);
       }},
      {"power and run times", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) {
         f.SpinEditVddTim.Set(2000);
         f.SpinEditRstTim.Set(10);
         f.SpinEditRTM.Set(2000);
       },
       [](const JobSettings& s) {
         EXPECT_EQ(s.powerOnTime, 200);
         EXPECT_EQ(s.powerOffTime, 1);
         EXPECT_EQ(s.runTime, 200);
       }},
      {"power left on sets two bits", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) { f.ChkBoxVDD.checked = false; },
       [](const JobSettings& s) { EXPECT_EQ(s.powerCtrl, 0x30); }},
      {"reset mode, run, run-then-shut", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) {
         f.RadioGrpRST.itemIndex = 2;
         f.CheckBoxRun.checked = true;
         f.ChkBoxRunSHT.checked = true;
       },
       [](const JobSettings& s) { EXPECT_EQ(s.powerCtrl, 0x86); }},
      {"3.3 V without option bytes", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) {
         f.RadioGpVolt.itemIndex = 0;
         f.CheckBoxOpt.checked = false;
       },
       [](const JobSettings& s) {
         EXPECT_EQ(s.targetCtrl, 0x20);
         EXPECT_EQ(s.programOptionBytes, 0);
       }},
      {"family bits of the chip, copies apart", "N32G031K8L7",
       [](JobForm&, ChipRecord& c, JobSettings&) {
         c.isM0Family = 1;
         c.isM0FamilyCopy = 0;
         c.isG43xOrL4Family = 1;
       },
       [](const JobSettings& s) { EXPECT_EQ(s.targetCtrl, 0x91); }},
      {"slow clock and SWDIO sharing, other link bits kept", "N32WB031KEQ6",
       [](JobForm& f, ChipRecord&, JobSettings& s) {
         s.linkCtrl = 0x03;
         f.RadioGrpSpdF.itemIndex = 0;
         f.ChkBoxDlySkp.checked = true;
         f.SNOrderChk.checked = false;
       },
       [](const JobSettings& s) { EXPECT_EQ(s.linkCtrl, 0x17); }},
      {"no chip detection", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings&) { f.ChkBoxAuto.checked = false; },
       [](const JobSettings& s) { EXPECT_EQ(s.autoDetect, 0); }},
      {"stop if not blank keeps the chip's bits", "N32G003F5Q7",
       [](JobForm& f, ChipRecord&, JobSettings& s) {
         s.checkCtrl = 0x06;
         f.ChkBoxBlkEr.checked = true;
       },
       [](const JobSettings& s) { EXPECT_EQ(s.checkCtrl, 0x07); }},
      {"direct erase", "N32G452CBL7",
       [](JobForm& f, ChipRecord&, JobSettings& s) {
         s.eraseCtrl = 0;
         f.ChkBoxEras.checked = true;
       },
       [](const JobSettings& s) { EXPECT_EQ(s.eraseCtrl, 0x20); }},
      {"any N32G003 name sets family bit 4", "N32G003whatever",
       [](JobForm&, ChipRecord&, JobSettings& s) { s.familyCtrl = 0x01; },
       [](const JobSettings& s) { EXPECT_EQ(s.familyCtrl, 0x11); }},
      {"a shorter name does not", "N32G00",
       [](JobForm&, ChipRecord&, JobSettings& s) { s.familyCtrl = 0x10; },
       [](const JobSettings& s) { EXPECT_EQ(s.familyCtrl, 0x00); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    JobForm form;
    ChipRecord chip = Chip(row.chipName);
    JobSettings s;
    row.set(form, chip, s);
    ASSERT_FALSE(AssembleJobSettings(form, chip, s));
    row.check(s);
  }
}

TEST(AssembleJobSettings, CountLimitOnOffAndTheUntickAtZero) {
  JobForm form;
  JobSettings s;
  const ChipRecord chip = Chip("N32G452CBL7");
  form.CheckBoxCtrl.checked = true;
  CheckBoxCtrlClick(form, s);
  EXPECT_TRUE(form.SpinEditNum.enabled);
  EXPECT_EQ(s.countEnable, 15);
  form.SpinEditNum.Set(1000);
  ASSERT_FALSE(AssembleJobSettings(form, chip, s));
  EXPECT_EQ(s.countEnable, 15);
  EXPECT_EQ(s.countLimit, 1000u);

  form.SpinEditNum.Set(0);
  ASSERT_FALSE(AssembleJobSettings(form, chip, s));
  EXPECT_FALSE(form.CheckBoxCtrl.checked);
  EXPECT_FALSE(form.SpinEditNum.enabled);
  EXPECT_EQ(s.countEnable, 0);
  EXPECT_EQ(s.countLimit, 0u);

  ASSERT_FALSE(AssembleJobSettings(form, chip, s));
  EXPECT_EQ(s.countLimit, 0xFFFFFFFFu);
}

TEST(AssembleJobSettings, SerialNumbersOnReadTheEditsOffSendTheOffValues) {
  JobForm form;
  JobSettings s;
  const ChipRecord chip = Chip("N32G452CBL7");
  form.CheckBoxSN.checked = true;
  form.SNEdit1.text = "0x10";
  form.SNEdit2.text = "$20";
  form.SNEdit3.text = "300";
  form.SNEdit4.text = "0x1FFFFFFFF";  // wider than 32 bits: the low 32 bits count
  form.GainEdit.text = "0x12345";     // wider than 16 bits: the low 16 bits count
  form.AddrEdit.text = "0x0000FFF0";
  ASSERT_FALSE(AssembleJobSettings(form, chip, s));
  EXPECT_EQ(s.snEnable, 15);
  EXPECT_EQ(s.snStart, (std::array<std::uint32_t, 4>{0x10, 0x20, 300, 0xFFFFFFFF}));
  EXPECT_EQ(s.snGain, 0x2345);
  EXPECT_EQ(s.snAddress, 0xFFF0u);

  form.CheckBoxSN.checked = false;
  form.GainEdit.text = "7";
  form.SNEdit2.text = "not read while off";
  ASSERT_FALSE(AssembleJobSettings(form, chip, s));
  EXPECT_EQ(s.snEnable, 0);
  EXPECT_EQ(s.snStart, (std::array<std::uint32_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(s.snAddress, 0xFFFFFFFFu);
  EXPECT_EQ(s.snGain, 7);
}

TEST(AssembleJobSettings, ATextThatIsNoNumberStopsWithoutChangingAnything) {
  struct Row {
    const char* what;
    std::function<void(JobForm&)> spoil;
    const char* error;
  } rows[] = {
      {"gain, read even with serial numbers off", [](JobForm& f) { f.GainEdit.text = "0x0G"; },
       "'0x0G' is not a valid integer value"},
      {"a start value",
       [](JobForm& f) {
         f.CheckBoxSN.checked = true;
         f.SNEdit3.text = "12 34";
       },
       "'12 34' is not a valid integer value"},
      {"the address",
       [](JobForm& f) {
         f.CheckBoxSN.checked = true;
         f.AddrEdit.text = "";
       },
       "'' is not a valid integer value"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    JobForm form;
    form.CheckBoxCtrl.checked = true;  // would be unticked by a completed assembly
    form.ChkBoxVDD.checked = false;
    row.spoil(form);
    JobSettings s;
    const JobSettings before = s;
    EXPECT_EQ(AssembleJobSettings(form, Chip("N32G452CBL7"), s), row.error);
    EXPECT_EQ(s, before);
    EXPECT_TRUE(form.CheckBoxCtrl.checked);
  }
}

TEST(SetFormFromSettings, RestoresEveryControlTheAssemblyRead) {
  JobForm saved;
  saved.RadioGpVolt.itemIndex = 0;
  saved.CheckBoxOpt.checked = false;
  saved.ChkBoxBlkEr.checked = true;
  saved.ChkBoxEras.checked = true;
  saved.RadioGrpSpdF.itemIndex = 0;
  saved.ChkBoxAuto.checked = false;
  saved.SpinEditIn.Set(900);
  saved.SpinEditOut.Set(1200);
  saved.SpinEditVddTim.Set(250);
  saved.SpinEditRstTim.Set(30);
  saved.SpinEditRTM.Set(1000);
  saved.ChkBoxVDD.checked = false;
  saved.RadioGrpRST.itemIndex = 1;
  saved.CheckBoxRun.checked = true;
  saved.ChkBoxRunSHT.checked = true;
  saved.CheckBoxCtrl.checked = true;
  saved.SpinEditNum.Set(5000);
  saved.CheckBoxSN.checked = true;
  saved.ChkBoxSNDP.checked = true;
  saved.SNOrderChk.checked = false;
  saved.SNEdit1.text = "3000000000";
  saved.SNEdit2.text = "2";
  saved.SNEdit3.text = "3";
  saved.SNEdit4.text = "4";
  saved.GainEdit.text = "16";
  saved.AddrEdit.text = "0x08001000";
  JobSettings s;
  ASSERT_FALSE(AssembleJobSettings(saved, Chip("N32G452CBL7"), s));
  s.snDisplayFlags = 0x01;

  JobForm restored;
  SetFormFromSettings(restored, s);
  EXPECT_EQ(restored.RadioGpVolt.itemIndex, 0);
  EXPECT_FALSE(restored.CheckBoxOpt.checked);
  EXPECT_TRUE(restored.ChkBoxBlkEr.checked);
  EXPECT_TRUE(restored.ChkBoxEras.checked);
  EXPECT_EQ(restored.RadioGrpSpdF.itemIndex, 0);
  EXPECT_FALSE(restored.ChkBoxAuto.checked);
  EXPECT_FALSE(restored.SpinEditIn.enabled);
  EXPECT_EQ(restored.SpinEditIn.value, 900);
  EXPECT_EQ(restored.SpinEditOut.value, 1200);
  EXPECT_EQ(restored.SpinEditVddTim.value, 250);
  EXPECT_EQ(restored.SpinEditRstTim.value, 30);
  EXPECT_EQ(restored.SpinEditRTM.value, 1000);
  EXPECT_FALSE(restored.ChkBoxVDD.checked);
  EXPECT_EQ(restored.RadioGrpRST.itemIndex, 1);
  EXPECT_TRUE(restored.CheckBoxRun.checked);
  EXPECT_TRUE(restored.ChkBoxRunSHT.checked);
  EXPECT_TRUE(restored.CheckBoxCtrl.checked);
  EXPECT_TRUE(restored.SpinEditNum.enabled);
  EXPECT_EQ(restored.SpinEditNum.value, 5000);
  EXPECT_TRUE(restored.CheckBoxSN.checked);
  EXPECT_TRUE(restored.SNEdit1.enabled);
  EXPECT_TRUE(restored.ChkBoxSNDP.checked);
  EXPECT_FALSE(restored.SNOrderChk.checked);
  EXPECT_EQ(restored.SNEdit1.text, "3000000000");
  EXPECT_EQ(restored.SNEdit4.text, "4");
  EXPECT_EQ(restored.GainEdit.text, "16");
  EXPECT_EQ(restored.AddrEdit.text, "0x08001000");

  JobSettings again = s;
  ASSERT_FALSE(AssembleJobSettings(restored, Chip("N32G452CBL7"), again));
  EXPECT_EQ(again, s);
}

TEST(SetFormFromSettings, NoLimitAndSerialNumbersOffShowTheirNeutralTexts) {
  JobSettings s;
  s.countLimit = 0xFFFFFFFF;
  s.snEnable = 0;
  s.snStart = {0, 0, 0, 0};
  JobForm form;
  form.CheckBoxCtrl.checked = true;
  form.SNEdit1.text = "123";
  SetFormFromSettings(form, s);
  EXPECT_FALSE(form.CheckBoxCtrl.checked);
  EXPECT_EQ(form.SpinEditNum.value, 0);
  EXPECT_EQ(form.SNEdit1.text, "0x00000000");
  EXPECT_EQ(form.SNEdit2.text, "0x00000000");
  EXPECT_EQ(form.AddrEdit.text, "0x0000FFF0");
  EXPECT_FALSE(form.GainEdit.enabled);
}

TEST(SerialNumbers, TheBoxEnablesTheEditsAndSwitchesTheFeature) {
  JobForm form;
  JobSettings s;
  form.CheckBoxSN.checked = true;
  CheckBoxSNClick(form, s);
  EXPECT_EQ(s.snEnable, 15);
  for (const EditState* e : {&form.SNEdit1, &form.SNEdit4, &form.GainEdit, &form.AddrEdit}) {
    EXPECT_TRUE(e->enabled);
  }
  EXPECT_TRUE(form.SNOrderChk.enabled);
  EXPECT_TRUE(form.ChkBoxPCSN.enabled);
  form.CheckBoxSN.checked = false;
  CheckBoxSNClick(form, s);
  EXPECT_EQ(s.snEnable, 0);
  EXPECT_FALSE(form.SNEdit2.enabled);
  EXPECT_FALSE(form.ChkBoxPCSN.enabled);
  EXPECT_TRUE(form.ChkBoxSNDP.enabled);
}

TEST(SerialNumbers, DisplayConvertsBetweenHexAndDecimal) {
  JobForm form;
  form.SNEdit1.text = "0xFFFFFFFF";
  form.SNEdit2.text = "$10";
  form.GainEdit.text = "0x01";
  form.ChkBoxSNDP.checked = true;
  ASSERT_FALSE(ChkBoxSNDPClick(form));
  EXPECT_EQ(form.SNEdit1.text, "4294967295");
  EXPECT_EQ(form.SNEdit2.text, "16");
  EXPECT_EQ(form.SNEdit3.text, "2147483648");
  EXPECT_EQ(form.GainEdit.text, "0x01");
  form.ChkBoxSNDP.checked = false;
  ASSERT_FALSE(ChkBoxSNDPClick(form));
  EXPECT_EQ(form.SNEdit1.text, "0xFFFFFFFF");
  EXPECT_EQ(form.SNEdit2.text, "0x00000010");

  form.SNEdit4.text = "x1";
  form.ChkBoxSNDP.checked = true;
  EXPECT_EQ(ChkBoxSNDPClick(form), "'x1' is not a valid integer value");
  EXPECT_EQ(form.SNEdit1.text, "0xFFFFFFFF");
}

TEST(SerialNumbers, OnlineAdvanceWrapsAndNeedsBothBoxes) {
  JobForm form;
  JobSettings s;
  s.snStart = {0xFFFFFFFF, 0x40000000, 0x80000000, 0xC0000000};
  s.snGain = 1;
  form.ChkBoxPCSN.checked = true;
  AdvanceSerialNumbers(form, s);  // serial numbers off: nothing moves
  EXPECT_EQ(s.snStart[0], 0xFFFFFFFFu);
  EXPECT_EQ(form.SNEdit1.text, "0x00000000");

  form.CheckBoxSN.checked = true;
  AdvanceSerialNumbers(form, s);
  EXPECT_EQ(s.snStart, (std::array<std::uint32_t, 4>{0, 0x40000001, 0x80000001, 0xC0000001}));
  EXPECT_EQ(form.SNEdit1.text, "0x00000000");
  EXPECT_EQ(form.SNEdit4.text, "0xC0000001");

  s.snGain = 0x100;
  form.ChkBoxSNDP.checked = true;
  AdvanceSerialNumbers(form, s);
  AdvanceSerialNumbers(form, s);
  EXPECT_EQ(form.SNEdit1.text, "512");
  EXPECT_EQ(s.snStart[1], 0x40000201u);

  form.ChkBoxPCSN.checked = false;
  AdvanceSerialNumbers(form, s);
  EXPECT_EQ(form.SNEdit1.text, "512");
}

}  // namespace
}  // namespace korvan
