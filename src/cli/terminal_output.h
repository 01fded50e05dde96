// The operator's text on a terminal: the panel lines and step results scroll as in the plain
// output, and below them one live line per working channel (step, percent, KiB, rate, time
// left) is redrawn in place. Piped output stays plain (MakeTextOutput).
#pragma once

#include <iosfwd>
#include <memory>

#include "cli/run_output.h"

namespace korvan::cli {

struct TerminalOptions {
  int columns = 80;     // live lines are cut to this width so that none wraps
  bool colour = false;  // the gauge's colour on the bar (off with NO_COLOR or TERM=dumb)
};

// True when `fd` is a terminal that understands cursor movement (TERM set and not "dumb").
bool IsLiveTerminal(int fd);
// The options for the terminal on `fd`: its width, and colour unless NO_COLOR is set.
TerminalOptions TerminalOptionsFor(int fd);

std::unique_ptr<RunOutput> MakeTerminalOutput(std::ostream& out, std::ostream& err,
                                              TerminalOptions options);

}  // namespace korvan::cli
