// The serial-number feature on the station's side. The programmers place and advance the
// numbers in the parts; the station keeps one start value per channel, shows the values in
// hexadecimal or decimal and, with online serial numbers allowed, follows production by
// advancing its own copies after every successful automatic cycle.
#pragma once

#include <optional>
#include <string>

#include "core/job/job_form.h"
#include "core/model/job_settings.h"

namespace korvan {

// CheckBoxSN's click: the serial-number edits, the byte order and the online box are usable
// only with the feature on; snEnable follows the box at once.
void CheckBoxSNClick(JobForm& form, JobSettings& settings);

// ChkBoxSNDP's click: rewrites the four start values in the form the box now asks for, "%u"
// when ticked, "0x%08X" otherwise (low 32 bits kept). GainEdit and AddrEdit are left as typed.
// A start value that holds no number changes nothing and returns the conversion error.
std::optional<std::string> ChkBoxSNDPClick(JobForm& form);

// After a successful automatic cycle of any channel: with both CheckBoxPCSN and CheckBoxSN
// ticked, adds snGain to all four start values (32-bit, wrapping) and shows them in the current
// display form. Otherwise nothing changes.
void AdvanceSerialNumbers(JobForm& form, JobSettings& settings);

// A start value as the edits show it in the given display form.
std::string SerialNumberText(std::uint32_t value, bool decimal);

}  // namespace korvan
