// korvan-cli: the command-line station for scripts and production lines.
#include <csignal>
#include <cstring>
#include <iostream>

#include "cli/command.h"
#include "core/util/version.h"

int main(int argc, char** argv) {
  using namespace korvan::cli;
  // A reader that goes away (korvan-cli run ... | head) ends the printing, not the run: the
  // parts at work are finished and recorded.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "Korvan200NAT programmer station, command line.\n\n"
      "Exit status: 0 success, 1 a step or channel failed, 2 usage error,\n"
      "3 a file could not be read or written, or no programmer answered,\n"
      "4 a production record could not be written, 128+N stopped by signal N.",
      "korvan-cli"};
  app.set_version_flag("--version", std::string("korvan-cli ") + korvan::kStationVersion);
  app.require_subcommand(0, 1);

  // A run names its sub-command first: only that one is set up, since setting up the options
  // of every sub-command costs each start; the top level's help, a mistyped name and anything
  // else set up all of them.
  const RegisteredCommand* named = nullptr;
  for (const RegisteredCommand& c : RegisteredCommands()) {
    if (argc > 1 && std::strcmp(argv[1], c.name) == 0) named = &c;
  }
  std::vector<std::unique_ptr<Command>> commands;
  std::vector<std::pair<CLI::App*, Command*>> bound;
  for (const RegisteredCommand& c : RegisteredCommands()) {
    if (named && named != &c) continue;
    commands.push_back(c.make());
    bound.emplace_back(commands.back()->Setup(app), commands.back().get());
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  for (auto& [sub, command] : bound) {
    if (sub->parsed()) return command->Run();
  }
  std::cout << app.help();
  return kExitOk;
}
