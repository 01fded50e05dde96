// Sub-commands of korvan-cli. Each verb is one class in its own source file that registers
// itself with KORVAN_REGISTER_COMMAND; main.cpp knows none of them by name.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvan::cli {

// Exit statuses shared by every sub-command.
enum ExitStatus : int {
  kExitOk = 0,      // everything succeeded
  kExitFailed = 1,  // the work ran but something failed (a line error, a channel NG)
  kExitUsage = 2,   // bad command line
  kExitIo = 3,      // a file could not be read or written, or no programmer answered
  kExitRecord = 4,  // a production record could not be written
  // A stop signal ends a run with 128 + its number, as a shell shows a process it killed.
};

// "SIGTERM".
std::string SignalName(int signalNumber);

// The text of a usage error when `text` is no whole number in [0, max] ("" when it is one):
// "--sn-gain: 0x10000 is out of range (0..0xFFFF)".
std::string RangeProblem(const std::string& option, const std::string& text, std::uint64_t max);

class Command {
 public:
  virtual ~Command() = default;
  // Adds the sub-command with its options to `app` and returns it.
  virtual CLI::App* Setup(CLI::App& app) = 0;
  // Runs after a successful parse when this sub-command was given; returns the exit status.
  virtual int Run() = 0;
};

using CommandFactory = std::unique_ptr<Command> (*)();

// A sub-command's name (the one its Setup gives it) and its factory.
struct RegisteredCommand {
  const char* name;
  CommandFactory make;
};

// Registers a factory; called from static initialisers, so it only stores the pointers.
bool RegisterCommand(const char* name, CommandFactory factory);
const std::vector<RegisteredCommand>& RegisteredCommands();

}  // namespace korvan::cli

#define KORVAN_REGISTER_COMMAND(ClassName, name)                                                  \
  namespace {                                                                                     \
  [[maybe_unused]] const bool registered_##ClassName = ::korvan::cli::RegisterCommand(            \
      name,                                                                                       \
      []() -> std::unique_ptr<::korvan::cli::Command> { return std::make_unique<ClassName>(); }); \
  }
