#include "core/job/job_fingerprint.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/chips/chip_setup.h"
#include "core/chips/option_bytes.h"

namespace korvan {
namespace {

// A 128 KiB part with option bytes, a small image, serial numbers on: every covered field has
// something to change.
Job BaseJob() {
  Job job;
  JobSettings& s = job.settings;
  ConfirmAndApplyChip(job.chip, {s.linkCtrl, s.eraseCtrl, s.checkCtrl, s.familyCtrl},
                      job.optionBytes, job.form, "N32G452CBL7");
  ImageBuffer& image = job.MutableImage();
  for (std::size_t i = 0; i < 3000; ++i) image.flash[i] = static_cast<std::uint8_t>(i * 7);
  image.dataLoaded = true;
  job.fileLoaded = true;
  job.settings.loadedFileName = "fw.hex";
  job.form.CheckBoxSN.checked = true;
  return job;
}

struct Change {
  const char* what;
  std::function<void(Job&)> apply;
  bool covered;
};

TEST(JobFingerprint, EveryCoveredChangeGivesAnotherAndNothingElseDoes) {
  const auto base = FingerprintJob(BaseJob());
  ASSERT_TRUE(base);
  ASSERT_EQ(base->hex.size(), 64u);
  EXPECT_EQ(ShortFingerprint(base->hex), base->hex.substr(0, 16));

  const Change changes[] = {
      // The part and what the download sends of the image.
      {"part name", [](Job& j) { j.chip.chipName = "N32G452CCL7"; }, true},
      {"part index", [](Job& j) { j.chip.partIndex ^= 1; }, true},
      {"flash size", [](Job& j) { j.chip.flashSizeKB = 256; }, true},
      {"first flash byte", [](Job& j) { j.MutableImage().flash[0] ^= 1; }, true},
      {"last byte the download sends", [](Job& j) { j.MutableImage().flash[128 * 1024 - 1] = 0; },
       true},
      {"a byte past what the download sends",
       [](Job& j) { j.MutableImage().flash[128 * 1024] = 0; }, false},
      {"OTP data of a part without OTP", [](Job& j) { j.MutableImage().otp[0] = 0; }, false},
      {"OTP data of a part with OTP",
       [](Job& j) {
         j.chip.otpPresent = 1;
         j.MutableImage().otp[0] = 0;
       },
       true},
      {"an option byte", [](Job& j) { SetOptionPair(j.optionBytes, 2, 0x00); }, true},
      {"read protection",
       [](Job& j) { WriteReadProtection(j.optionBytes, ReadProtection::L1, kRdp2Index); }, true},
      {"option bytes not programmed", [](Job& j) { j.form.CheckBoxOpt.checked = false; }, true},
      // The settings that act on the part.
      {"5.0 V", [](Job& j) { j.form.RadioGpVolt.itemIndex = 1 - j.form.RadioGpVolt.itemIndex; },
       true},
      {"slow SWCLK", [](Job& j) { j.form.RadioGrpSpdF.itemIndex = 0; }, true},
      {"power stays on", [](Job& j) { j.form.ChkBoxVDD.checked = false; }, true},
      {"reset hi-z", [](Job& j) { j.form.RadioGrpRST.itemIndex = 1; }, true},
      {"run after", [](Job& j) { j.form.CheckBoxRun.checked = true; }, true},
      {"run and shut", [](Job& j) { j.form.ChkBoxRunSHT.checked = true; }, true},
      {"run time", [](Job& j) { j.form.SpinEditRTM.Set(1000); }, true},
      {"power-up time", [](Job& j) { j.form.SpinEditVddTim.Set(200); }, true},
      {"erase directly", [](Job& j) { j.form.ChkBoxEras.checked = true; }, true},
      {"not blank is an error", [](Job& j) { j.form.ChkBoxBlkEr.checked = true; }, true},
      {"chip detection off", [](Job& j) { j.form.ChkBoxAuto.checked = false; }, true},
      {"insert settle time", [](Job& j) { j.form.SpinEditIn.Set(900); }, true},
      // 520 ms is sent as 17 units of 30 ms, as 510 ms is.
      {"settle time within one unit", [](Job& j) { j.form.SpinEditIn.Set(520); }, false},
      {"count limit",
       [](Job& j) {
         j.form.CheckBoxCtrl.checked = true;
         j.form.SpinEditNum.Set(500);
       },
       true},
      {"serial numbers off", [](Job& j) { j.form.CheckBoxSN.checked = false; }, true},
      {"serial-number address", [](Job& j) { j.form.AddrEdit.text = "0x0001FFF0"; }, true},
      {"serial-number step", [](Job& j) { j.form.GainEdit.text = "2"; }, true},
      {"serial-number byte order", [](Job& j) { j.form.SNOrderChk.checked = false; }, true},
      // Per part, per file, or derived: not what decides the job.
      {"serial-number start values",
       [](Job& j) {
         j.form.SNEdit1.text = "1000";
         j.form.SNEdit4.text = "0x12345678";
       },
       false},
      {"decimal display of serial numbers", [](Job& j) { j.form.ChkBoxSNDP.checked = true; },
       false},
      {"file name", [](Job& j) { j.settings.loadedFileName = "other.bin"; }, false},
      {"checksum words",
       [](Job& j) {
         j.settings.fileCrc ^= 0x1234;
         j.settings.optionSum ^= 1;
       },
       false},
      {"read address", [](Job& j) { j.settings.readAddress = 0x100; }, false},
  };
  for (const Change& change : changes) {
    Job job = BaseJob();
    change.apply(job);
    std::string error;
    const auto fp = FingerprintJob(job, &error);
    ASSERT_TRUE(fp) << change.what << ": " << error;
    EXPECT_EQ(fp->hex != base->hex, change.covered) << change.what;
  }
}

TEST(JobFingerprint, AJobThatCannotBeSentHasNone) {
  std::string error;
  EXPECT_FALSE(FingerprintJob(Job{}, &error));
  EXPECT_EQ(error, "no part is chosen");

  Job empty = BaseJob();
  empty.MutableImage().dataLoaded = false;
  EXPECT_FALSE(FingerprintJob(empty, &error));
  EXPECT_EQ(error, "no data are loaded");

  Job badNumber = BaseJob();
  badNumber.form.AddrEdit.text = "0xZZ";
  EXPECT_FALSE(FingerprintJob(badNumber, &error));
  EXPECT_EQ(error, "'0xZZ' is not a valid integer value");
}

// The list `job show` prints names every covered field once, in the canonical order.
TEST(JobFingerprint, ListsWhatItCovers) {
  const auto fp = FingerprintJob(BaseJob());
  ASSERT_TRUE(fp);
  std::vector<std::string> names;
  for (const FingerprintItem& item : fp->covered) names.push_back(item.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"part.name", "part.identity", "part.geometry", "flash", "otp",
                                      "option_bytes", "option_bytes.programmed", "read_protection",
                                      "settings.control", "settings.detection", "settings.power",
                                      "settings.count", "settings.serial_numbers"}));
  EXPECT_EQ(fp->covered[0].shown, "N32G452CBL7");
  EXPECT_EQ(fp->covered[3].shown, "131072 bytes from 0x08000000, as the download sends them");
}

// Approved lists and records keep fingerprints for years: the canonical form must not drift. A
// change of it is a new version mark ("KJF2"), never a quiet change of this value.
TEST(JobFingerprint, TheCanonicalFormStaysAsItWas) {
  const auto fp = FingerprintJob(BaseJob());
  ASSERT_TRUE(fp);
  EXPECT_EQ(fp->hex, "a571da06e698d2eecf38c765e3a74058dcc7c95ba2e595ba1ea8ebd4b5a6ccd9");
}

TEST(JobFingerprint, TellsWholeFingerprintsApart) {
  EXPECT_TRUE(IsFingerprint(std::string(64, 'a')));
  EXPECT_TRUE(IsFingerprint(std::string(32, 'F') + std::string(32, '0')));
  EXPECT_FALSE(IsFingerprint(std::string(63, 'a')));
  EXPECT_FALSE(IsFingerprint(std::string(63, 'a') + "g"));
  EXPECT_FALSE(IsFingerprint(""));
}

}  // namespace
}  // namespace korvan
