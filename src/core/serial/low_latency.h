// Low latency on USB serial adapters.
//
// USB serial chips hold short replies back: FTDI chips send what they received only when their
// buffer fills or their latency timer runs out, 16 ms by default. The station sends short
// requests and waits for short replies, so each one would cost that much. When a port opens,
// the driver is asked for low latency (the ASYNC_LOW_LATENCY flag, through TIOCGSERIAL and
// TIOCSSERIAL); where the driver refuses it, the adapter's latency_timer in sysfs is lowered to
// 1 ms when it can be written. Where neither works the port still opens: the latency is only
// slower, and the caller tells the operator how to fix it (the udev rule the station installs).
#pragma once

#include <linux/serial.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace korvan {

// How the driver and sysfs are reached; tests put their own in place.
struct LowLatencyAccess {
  // TIOCGSERIAL and TIOCSSERIAL on the open port: 0, or -1 with errno set.
  std::function<int(int fd, serial_struct& settings)> getSerial;
  std::function<int(int fd, const serial_struct& settings)> setSerial;
  // Writes `text` to a sysfs attribute: 0, or the errno of the failure.
  std::function<int(const std::filesystem::path& file, const std::string& text)> writeAttribute;
  // Where the port's device is looked up (<root>/dev/char/<major>:<minor>).
  std::filesystem::path sysfsRoot = "/sys";
};

// The ioctls, the file system and /sys.
LowLatencyAccess SystemLowLatencyAccess();

enum class LatencyWay {
  NotAnAdapter,  // sysfs shows no device behind the port (a pseudo-terminal): nothing to do
  DriverFlag,    // the driver took ASYNC_LOW_LATENCY
  TimerLow,      // the latency timer is 1 ms or less (set so before, or lowered now)
  NoTimer,       // the driver refused the flag and the adapter has no latency timer
  Kept,          // neither worked: the adapter keeps its latency timer
};

struct LatencyResult {
  LatencyWay way = LatencyWay::NotAnAdapter;
  std::filesystem::path timerFile;  // the latency_timer attribute, when the adapter has one
  std::optional<int> latencyMs;     // the timer's value afterwards, when it could be read
  bool lowered = false;             // TimerLow: this call wrote 1 to the timer
};

// Asks for low latency on the open terminal `fd`. Never fails: the result says what was done.
LatencyResult RequestLowLatency(int fd, const LowLatencyAccess& access = SystemLowLatencyAccess());

// The operator's note for a port that keeps its latency (LatencyWay::Kept): which latency, and
// how to lower it. "" for every other result.
std::string KeptLatencyNote(const std::string& port, const LatencyResult& result);

}  // namespace korvan
