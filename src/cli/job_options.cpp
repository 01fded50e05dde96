#include "cli/job_options.h"

#include "cli/command.h"
#include "cli/station_session.h"
#include "core/job/serial_numbers.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

// Splits a comma-separated list.
std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::string::size_type from = 0;
  while (true) {
    const auto comma = text.find(',', from);
    items.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return items;
}

}  // namespace

void JobOptions::Add(CLI::App* sub) {
  const char* const job = "Job settings";
  sub->add_option("--serial-numbers", serialNumbers,
                  "Serial numbers on, starting at SN1[,SN2,...] for channels 1, 2, ... (at "
                  "most one per channel found; each 0..4294967295, decimal or 0x...); a "
                  "channel without a number of its own starts where the form does (up to four "
                  "channels: 1st at 0, 2nd at 0x40000000, 3rd at 0x80000000, 4th at "
                  "0xC0000000; with N > 4 channels, channel c at (c-1) * 2^32/N). "
                  "`continue`: each channel starts after the highest number the record store "
                  "holds for the chip, address and channel. Two channels whose numbers would "
                  "overlap (over the count limit, else over the run's Auto cycles and watched "
                  "parts) refuse the run (exit 2); numbers an OK part already got (same chip "
                  "and address, in the record store) are refused")
      ->group(job);
  sub->add_option("--sn-gain", snGain, "Serial-number step, 0..0xFFFF (default 0x01)")->group(job);
  sub->add_option("--sn-address", snAddress,
                  "Where the serial number is written, 0..0xFFFFFFFF (default 0x0000FFF0)")
      ->group(job);
  sub->add_flag("--sn-little-endian", snLittleEndian, "Write serial numbers little-endian")
      ->group(job);
  sub->add_option("--count-limit", countLimit, "Limit the parts programmed (0: no limit)")
      ->check(CLI::Range(0, 999999999))
      ->group(job);
  sub->add_flag("--no-chip-detect", noChipDetect, "Turn automatic chip detection off")->group(job);
  sub->add_option("--insert-ms", insertMs, "Settle time after a chip is inserted, 300..1500")
      ->check(CLI::Range(300, 1500))
      ->group(job);
  sub->add_option("--remove-ms", removeMs, "Settle time after a chip is removed, 300..2000")
      ->check(CLI::Range(300, 2000))
      ->group(job);
  sub->add_flag("--keep-power", keepPower, "Leave the target powered after programming")
      ->group(job);
  sub->add_option("--power-on-ms", powerOnMs, "Power-up settle time, 10..2000")
      ->check(CLI::Range(10, 2000))
      ->group(job);
  sub->add_option("--power-off-ms", powerOffMs, "Power-down settle time, 10..2000")
      ->check(CLI::Range(10, 2000))
      ->group(job);
  sub->add_option("--reset", reset, "Reset output after programming: low, hi-z or pulse")
      ->check(CLI::IsMember({"low", "hi-z", "pulse"}))
      ->group(job);
  sub->add_flag("--run-after", runAfter, "Start the part after programming")->group(job);
  sub->add_flag("--run-and-shut", runAndShut, "Run the part, then shut it down")->group(job);
  sub->add_option("--run-ms", runMs, "Run time before the shut-down, 100..2000")
      ->check(CLI::Range(100, 2000))
      ->group(job);
  sub->add_flag("--program-ob", programOptionBytes, "Program the option bytes")->group(job);
  sub->add_flag("--no-program-ob", noProgramOptionBytes, "Do not program the option bytes")
      ->group(job);
  sub->add_flag("--blank-error", blankError, "A part that is not blank is an error")->group(job);
  sub->add_flag("--erase-directly", eraseDirectly, "Erase without a blank check")->group(job);
  sub->add_option("--voltage", voltage, "Interface level: 3.3 or 5.0")
      ->check(CLI::IsMember({"3.3", "5.0", "5"}))
      ->group(job);
  sub->add_option("--swclk", swclk, "SWD clock: slow or fast")
      ->check(CLI::IsMember({"slow", "fast"}))
      ->group(job);
}

std::string JobOptions::Check() const {
  if (programOptionBytes && noProgramOptionBytes) {
    return "--program-ob and --no-program-ob exclude each other";
  }
  std::vector<std::string> numbers;
  if (serialNumbers && !ContinuesSerialNumbers()) {
    numbers = SplitList(*serialNumbers);
    if (numbers.size() > static_cast<std::size_t>(kMaxChannels)) {
      return Format("--serial-numbers takes at most %d numbers", kMaxChannels);
    }
  }
  for (const auto& text : numbers) {
    if (auto problem = RangeProblem("--serial-numbers", text, 0xFFFFFFFF); !problem.empty()) {
      return problem;
    }
  }
  if (snGain) {
    if (auto problem = RangeProblem("--sn-gain", *snGain, 0xFFFF); !problem.empty()) {
      return problem;
    }
  }
  if (snAddress) {
    if (auto problem = RangeProblem("--sn-address", *snAddress, 0xFFFFFFFF); !problem.empty()) {
      return problem;
    }
  }
  return "";
}

std::size_t JobOptions::SerialNumberCount() const {
  return serialNumbers && !ContinuesSerialNumbers() ? SplitList(*serialNumbers).size() : 0;
}

void JobOptions::Apply(JobDesk& desk, int s, int channelCount) const {
  JobForm& form = desk.job().form;
  if (serialNumbers) {
    form.CheckBoxSN.checked = true;
    desk.CheckBoxSNClick();
    const auto numbers =
        ContinuesSerialNumbers() ? std::vector<std::string>{} : SplitList(*serialNumbers);
    const auto first = static_cast<std::size_t>(SessionChannel(s, 1) - 1);
    for (std::size_t i = first; i < first + kChannelCount; ++i) {
      const int local = static_cast<int>(i - first);
      if (i < numbers.size()) {
        form.SNEdit(local).text = numbers[i];
      } else if (channelCount > kChannelCount) {
        form.SNEdit(local).text = SerialNumberText(
            DefaultSerialStart(static_cast<int>(i) + 1, channelCount), form.ChkBoxSNDP.checked);
      }
    }
  }
  if (snGain) form.GainEdit.text = *snGain;
  if (snAddress) form.AddrEdit.text = *snAddress;
  if (snLittleEndian) form.SNOrderChk.checked = false;
  if (countLimit) {
    form.CheckBoxCtrl.checked = *countLimit > 0;
    desk.CheckBoxCtrlClick();
    form.SpinEditNum.Set(*countLimit);
  }
  if (noChipDetect) {
    form.ChkBoxAuto.checked = false;
    desk.ChkBoxAutoClick();
  }
  if (insertMs) form.SpinEditIn.Set(*insertMs);
  if (removeMs) form.SpinEditOut.Set(*removeMs);
  if (keepPower) form.ChkBoxVDD.checked = false;
  if (powerOnMs) form.SpinEditVddTim.Set(*powerOnMs);
  if (powerOffMs) form.SpinEditRstTim.Set(*powerOffMs);
  if (reset) form.RadioGrpRST.itemIndex = *reset == "low" ? 0 : *reset == "hi-z" ? 1 : 2;
  if (runAfter) form.CheckBoxRun.checked = true;
  if (runAndShut) form.ChkBoxRunSHT.checked = true;
  if (runMs) form.SpinEditRTM.Set(*runMs);
  if (programOptionBytes) form.CheckBoxOpt.checked = true;
  if (noProgramOptionBytes) form.CheckBoxOpt.checked = false;
  if (blankError) form.ChkBoxBlkEr.checked = true;
  if (eraseDirectly) form.ChkBoxEras.checked = true;
  if (voltage) form.RadioGpVolt.itemIndex = *voltage == "3.3" ? 0 : 1;
  if (swclk) form.RadioGrpSpdF.itemIndex = *swclk == "slow" ? 0 : 1;
}

}  // namespace korvan::cli
