// Runs korvan-cli as a script on a production line runs it: through the shell, in a folder of
// the test's, its output and errors caught whole.
#pragma once

#include <string>

namespace korvan::testing {

struct CliResult {
  int status;  // the exit status; -1 when it did not exit (killed by a signal)
  std::string out, err;
};

// `korvan-cli ARGUMENTS` in `folder` (ARGUMENTS as the shell reads them), with `environment`
// ("NAME='value' ...", may be empty) before it. The output files are removed afterwards.
// `program` is the build's korvan-cli unless given (a copy laid out as installed, say).
CliResult RunKorvanCli(const std::string& folder, const std::string& arguments,
                       const std::string& environment = "", const std::string& program = "");

}  // namespace korvan::testing
