// korvan-sim: emulated Korvan200NAT programmers on pseudo-terminals, for trying the station,
// training operators and testing scripts without programmer hardware.
//
// The first line printed is KORVAN_PORTS=/tmp/korvan-sim-XXXXXX/ttyNAT01:..., the variable the
// station's port list reads; then it serves until SIGINT or SIGTERM.
// Exit status: 0 after a signal, 2 for a bad command line, 3 when no pseudo-terminal could be
// had or the dump could not be written.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "core/util/version.h"
#include "lib/emulator.h"

int main(int argc, char** argv) {
  using namespace korvan::sim;
  Options options;
  std::vector<std::string> faults;
  std::vector<std::string> chipStates;

  CLI::App app{
      "Emulated Korvan200NAT programmers on pseudo-terminals.\n"
      "Prints KORVAN_PORTS=<slave paths, colon separated> and serves until SIGINT/SIGTERM.",
      "korvan-sim"};
  app.footer(
      "The programmers take firmware upgrades; after the restart that ends a complete upgrade "
      "each reports the identity text \"Korvan200NAT V...\" found in the firmware it received, "
      "so firmware packed with korvan-kfw for simulation should contain that text. A @CHANNEL "
      "beyond --count is refused.");
  app.add_option("--count", options.count, "Number of programmers (channels)")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.set_version_flag("--version", std::string("korvan-sim ") + korvan::kStationVersion);
  app.add_option("--programmer-version", options.version,
                 "Firmware version the emulated programmers report after the model name")
      ->capture_default_str();
  app.add_option("--model", options.model,
                 "NAT (Korvan200NAT), or MMN (Korvan200MMN, a programmer that needs firmware)")
      ->check(CLI::IsMember({"NAT", "MMN"}))
      ->capture_default_str();
  app.add_option("--standalone-parts", options.standaloneParts,
                 "Parts programmed stand-alone after each restart (0: none)")
      ->capture_default_str();
  app.add_option("--ng-every", options.ngEvery,
                 "Every K-th stand-alone part fails with result 0x2C (0: none)")
      ->capture_default_str();
  app.add_option("--chip-state", chipStates,
                 "Target part: blank|programmed|protected[@CHANNEL] (repeatable; default blank)");
  app.add_option("--fault", faults,
                 "KIND[@CHANNEL][:N], KIND one of silent, drop, crc, escape, garbage, split, "
                 "hangup, duplicate (repeatable)");
  app.add_flag("--realtime", options.realtime,
               "Emulate the wire time of 1,000,000 baud 8N2 and the flash time");
  app.add_option("--flash-ms", options.flashMs,
                 "With --realtime: milliseconds per 4 KiB programmed or verified")
      ->capture_default_str();
  app.add_option("--reply-delay", options.replyDelayMs,
                 "Milliseconds each reply (each firmware block's too) comes later")
      ->capture_default_str();
  app.add_option("--restart-delay", options.restartDelayMs,
                 "Milliseconds the answer to a restart request comes later still")
      ->capture_default_str();
  app.add_option("--dump-dir", options.dumpDir,
                 "On exit write chipN.bin, chipN.ob, chipN.otp and chipN.txt here");
  std::string traceFile;
  bool traceFull = false;
  auto* traceOption = app.add_option(
      "--trace", traceFile,
      "Write a wire trace to FILE: one JSON line per frame, noise run and hang-up on every "
      "channel, as the programmers see them (korvan-cli trace FILE reads it); a file that cannot "
      "be written is said once on stderr and the emulator goes on");
  app.add_flag("--trace-full", traceFull,
               "With --trace: every frame's bytes in full (bodies over 64 bytes are otherwise "
               "written as their header, length and CRC verdict)")
      ->needs(traceOption);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version answer 0; a bad command line is a usage error, 2.
    return app.exit(e) == 0 ? 0 : 2;
  }

  std::string error;
  for (const auto& text : faults) {
    const auto fault = ParseFault(text, &error);
    if (!fault) {
      std::cerr << "korvan-sim: " << error << "\n";
      return 2;
    }
    if (fault->channel > options.count) {
      std::cerr << "korvan-sim: " << text << ": there is no channel " << fault->channel
                << " with --count " << options.count << "\n";
      return 2;
    }
    options.faults.push_back(*fault);
  }
  for (const auto& text : chipStates) {
    const auto state = ParseChipState(text, &error);
    if (!state) {
      std::cerr << "korvan-sim: " << error << "\n";
      return 2;
    }
    if (state->channel > options.count) {
      std::cerr << "korvan-sim: " << text << ": there is no channel " << state->channel
                << " with --count " << options.count << "\n";
      return 2;
    }
    options.chipStates.push_back(*state);
  }

  // Block the stop signals before the emulator's thread starts, so that only sigwait below
  // takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // Made before the emulator so that it outlives the emulator's thread, which writes to it.
  std::shared_ptr<korvan::trace::WireTrace> trace;
  if (!traceFile.empty()) {
    korvan::trace::TraceOptions traceOptions;
    traceOptions.full = traceFull;
    traceOptions.program = "korvan-sim";
    traceOptions.problem = [](const std::string& text) {
      std::cerr << "korvan-sim: " << text << "\n";
    };
    trace = std::make_shared<korvan::trace::WireTrace>(traceFile, std::move(traceOptions));
  }
  Emulator emulator(options);
  emulator.SetTrace(trace);
  if (!emulator.Start(&error)) {
    std::cerr << "korvan-sim: " << error << "\n";
    return 3;
  }
  std::string line = "KORVAN_PORTS=";
  for (std::size_t i = 0; i < emulator.Paths().size(); ++i) {
    if (i > 0) line += ':';
    line += emulator.Paths()[i];
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  const bool stopped = emulator.Stop(&error);
  if (trace) trace->Close();
  if (!stopped) {
    std::cerr << "korvan-sim: " << error << "\n";
    return 3;
  }
  return 0;
}
