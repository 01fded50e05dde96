#include "support/cli_runner.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvan::testing {

namespace {

std::string Take(const std::filesystem::path& file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  std::filesystem::remove(file);
  return text.str();
}

}  // namespace

CliResult RunKorvanCli(const std::string& folder, const std::string& arguments,
                       const std::string& environment, const std::string& program) {
  const std::string cli = program.empty() ? KORVAN_BINARY_DIR "/src/cli/korvan-cli" : program;
  const std::string command = "cd '" + folder + "' && " + environment + " '" + cli + "' " +
                              arguments + " >cli-stdout.txt 2>cli-stderr.txt";
  const int raw = std::system(command.c_str());
  const std::filesystem::path dir(folder);
  CliResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Take(dir / "cli-stdout.txt"), ""};
  result.err = Take(dir / "cli-stderr.txt");
  return result;
}

}  // namespace korvan::testing
