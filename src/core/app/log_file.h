// Log files of the information panel: one per run at shutdown ("Log" folder,
// NAT_yyyy_MM_dd_HH_mm_ss.log) and one every 500 stand-alone results (NATx_..., its parent). A log
// file is written whole or not at all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/util/clock.h"

namespace korvan {

// Where the station writes its logs (and the production records, in `shutdownDir`).
struct LogLocation {
  std::filesystem::path shutdownDir;  // the "Log" folder
  std::filesystem::path periodicDir;  // its parent
  // False when the logs go to the user's state folder rather than beside the executable (an
  // installed station, or an executable folder that cannot be written); the station says so
  // in the information panel.
  bool besideExecutable = true;
  // Set (and both folders empty) when no folder may be used: installed, or the executable's
  // folder not writable, with neither XDG_STATE_HOME nor HOME set. Nothing is then written
  // rather than into a shared folder.
  std::string problem;
};

// The folder of the running executable (/proc/self/exe); empty when it cannot be read.
std::filesystem::path ExecutableDirectory();

// Run from the build tree (`installed` false): creates the "Log" folder beside the executable
// when that folder can be written. Installed, or when it cannot be written: under
// $XDG_STATE_HOME/korvan200nat (or $HOME/.local/state/korvan200nat when XDG_STATE_HOME is
// unset, empty or not absolute). `xdgStateHome` and `home` are the environment's values
// (nullptr when unset). The folders are created as needed; a failure to create them shows up
// when a log is written.
LogLocation PrepareLogLocation(const std::filesystem::path& exeDir, const char* xdgStateHome,
                               const char* home, bool installed = false);

// The same with the real executable folder and environment.
LogLocation PrepareLogLocation();

// "NAT_2024_01_05_14_03_22.log" for the moment of closing.
std::string ShutdownLogName(const LocalTime& t);
// "NATx_2024_01_05_14_03_22.log" for the periodic log.
std::string PeriodicLogName(const LocalTime& t);

// Writes `lines` with CR LF line ends to `file`, or, when a file of that name is there already
// (another run closed in the same second), to the first free of NAME-2.log, NAME-3.log, ...: a
// log is never overwritten. The text goes to a temporary file in the same folder that gets its
// name only when complete, so a failure leaves no partial log. Returns the error text on
// failure; the name written goes to `written` when given.
std::optional<std::string> WriteLogFile(const std::filesystem::path& file,
                                        const std::vector<std::string>& lines,
                                        std::filesystem::path* written = nullptr);

// A panel with more lines than this is written at shutdown.
inline constexpr std::size_t kShutdownLogMinLines = 6;

}  // namespace korvan
