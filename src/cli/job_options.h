// The job settings a korvan-cli command may set on the job form, as an operator sets the
// window's controls: `run` sets them on each station's job, `job show` and `job approve` on the
// job they fingerprint, so that the same options give the same job.
#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/job/job_desk.h"

namespace korvan::cli {

// The most channels one run drives (stations of four in one process).
inline constexpr int kMaxChannels = 256;

// The job form's settings a command line may change. Unset members leave the control as the
// chip choice and the loaded project left it.
struct JobOptions {
  std::optional<std::string> serialNumbers;  // SN1[,SN2[,...]], one per channel
  std::optional<std::string> snGain;
  std::optional<std::string> snAddress;
  bool snLittleEndian = false;
  std::optional<int> countLimit;
  bool noChipDetect = false;
  std::optional<int> insertMs, removeMs;
  bool keepPower = false;
  std::optional<int> powerOnMs, powerOffMs;
  std::optional<std::string> reset;  // low, hi-z or pulse
  bool runAfter = false;
  bool runAndShut = false;
  std::optional<int> runMs;
  bool programOptionBytes = false;
  bool noProgramOptionBytes = false;
  bool blankError = false;
  bool eraseDirectly = false;
  std::optional<std::string> voltage;  // 3.3 or 5.0
  std::optional<std::string> swclk;    // slow or fast

  // Adds the options to `sub`, in the group "Job settings".
  void Add(CLI::App* sub);

  // The text of a usage error, "" when the options fit together.
  std::string Check() const;

  // --serial-numbers continue: each channel starts after the highest number the record store
  // holds for it (ContinueSerialNumbers, once the programmers are found).
  bool ContinuesSerialNumbers() const { return serialNumbers && *serialNumbers == "continue"; }

  // How many serial numbers were given (0: none).
  std::size_t SerialNumberCount() const;

  // Ticks and fills the controls of the job of station `s` (its channels (s - 1) * 4 + 1 ...)
  // as an operator would, each with its click handler. `channelCount` is the run's channels
  // over all stations: with more than four, a channel without a serial number of its own starts
  // at its share of the 32-bit range (DefaultSerialStart), so that no two stations repeat the
  // form's four defaults.
  void Apply(JobDesk& desk, int s, int channelCount) const;
};

}  // namespace korvan::cli
