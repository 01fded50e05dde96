// The sub-commands' registry and the helpers every sub-command shares.
#include <cstring>

#include "cli/command.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {
std::vector<RegisteredCommand>& Registry() {
  static std::vector<RegisteredCommand> registry;
  return registry;
}
}  // namespace

bool RegisterCommand(const char* name, CommandFactory factory) {
  Registry().push_back({name, factory});
  return true;
}

const std::vector<RegisteredCommand>& RegisteredCommands() {
  return Registry();
}

std::string SignalName(int signalNumber) {
  const char* name = sigabbrev_np(signalNumber);
  return name ? std::string("SIG") + name : Format("signal %d", signalNumber);
}

std::string RangeProblem(const std::string& option, const std::string& text, std::uint64_t max) {
  const auto value = ParseInteger(text);
  if (!value) return option + ": " + NotAnIntegerMessage(text);
  if (*value < 0 || static_cast<std::uint64_t>(*value) > max) {
    return Format("%s: %s is out of range (0..0x%llX)", option.c_str(), text.c_str(),
                  static_cast<unsigned long long>(max));
  }
  return "";
}

}  // namespace korvan::cli
