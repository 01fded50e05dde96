#include "core/job/serial_numbers.h"

#include <array>
#include <cstdint>

#include "core/util/format.h"

namespace korvan {

void CheckBoxSNClick(JobForm& form, JobSettings& settings) {
  const bool on = form.CheckBoxSN.checked;
  for (EditState* edit : {&form.AddrEdit, &form.SNEdit1, &form.SNEdit2, &form.SNEdit3,
                          &form.SNEdit4, &form.GainEdit}) {
    edit->enabled = on;
  }
  form.SNOrderChk.enabled = on;
  form.ChkBoxPCSN.enabled = on;
  settings.snEnable = on ? kEnabled : 0;
}

std::string SerialNumberText(std::uint32_t value, bool decimal) {
  return decimal ? Format("%u", value) : Format("0x%.8X", value);
}

std::optional<std::string> ChkBoxSNDPClick(JobForm& form) {
  std::array<std::uint32_t, 4> values{};
  for (int i = 0; i < 4; ++i) {
    const auto value = ParseInteger(form.SNEdit(i).text);
    if (!value) return NotAnIntegerMessage(form.SNEdit(i).text);
    values[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(*value);
  }
  for (int i = 0; i < 4; ++i) {
    form.SNEdit(i).text =
        SerialNumberText(values[static_cast<std::size_t>(i)], form.ChkBoxSNDP.checked);
  }
  return std::nullopt;
}

void AdvanceSerialNumbers(JobForm& form, JobSettings& settings) {
  if (!form.ChkBoxPCSN.checked || !form.CheckBoxSN.checked) return;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t& start = settings.snStart[static_cast<std::size_t>(i)];
    start += settings.snGain;
    form.SNEdit(i).text = SerialNumberText(start, form.ChkBoxSNDP.checked);
  }
}

}  // namespace korvan
