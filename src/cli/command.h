// Sub-commands of korvan-cli. Each verb is one class in its own source file that registers
// itself with KORVAN_REGISTER_COMMAND; main.cpp knows none of them by name.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

namespace korvan::cli {

// Exit statuses shared by every sub-command.
enum ExitStatus : int {
  kExitOk = 0,        // everything succeeded
  kExitFailed = 1,    // the work ran but something failed (a line error, a channel NG)
  kExitUsage = 2,     // bad command line
  kExitIo = 3,        // a file could not be read or written, or no programmer answered
};

class Command {
 public:
  virtual ~Command() = default;
  // Adds the sub-command with its options to `app` and returns it.
  virtual CLI::App* Setup(CLI::App& app) = 0;
  // Runs after a successful parse when this sub-command was given; returns the exit status.
  virtual int Run() = 0;
};

using CommandFactory = std::unique_ptr<Command> (*)();

// Registers a factory; called from static initialisers, so it only stores the pointer.
bool RegisterCommand(CommandFactory factory);
const std::vector<CommandFactory>& RegisteredCommands();

}  // namespace korvan::cli

#define KORVAN_REGISTER_COMMAND(ClassName)                                            \
  namespace {                                                                         \
  [[maybe_unused]] const bool registered_##ClassName = ::korvan::cli::RegisterCommand( \
      []() -> std::unique_ptr<::korvan::cli::Command> { return std::make_unique<ClassName>(); }); \
  }
