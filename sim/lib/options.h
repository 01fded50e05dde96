// What korvan-sim is told on its command line, and the same for a test that runs the emulator
// in its own process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvan::sim {

// The target part on a channel when the emulator starts (and each part the stand-alone cycle
// puts in the socket).
enum class ChipState {
  Blank,       // flash all 0xFF, option bytes at their defaults
  Programmed,  // flash holds data, not read-protected
  Protected,   // flash holds data and the option bytes set read protection (level 1)
};

enum class FaultKind {
  Silent,     // no replies at all
  Drop,       // every N-th reply is not sent
  Crc,        // every N-th reply carries a wrong CRC
  Escape,     // the N-th reply carries a bad escape sequence
  Garbage,    // N random bytes (never 0xC0) before every frame
  Split,      // every frame is written one byte at a time
  Hangup,     // the pseudo-terminal closes after the N-th request is answered
  Duplicate,  // the N-th reply is sent twice
};

struct Fault {
  FaultKind kind = FaultKind::Silent;
  int channel = 0;  // 1..count, or 0 for every channel
  unsigned n = 1;
};

struct ChipStateSetting {
  ChipState state = ChipState::Blank;
  int channel = 0;  // 1..count, or 0 for every channel
};

struct Options {
  int count = 4;
  std::string version = "V2.9";              // reported after the model name and a blank
  std::string model = "NAT";                 // NAT, or MMN for a programmer that needs firmware
  unsigned standaloneParts = 0;              // parts per stand-alone run after a restart
  unsigned ngEvery = 0;                      // every K-th stand-alone part fails (0: none)
  std::vector<ChipStateSetting> chipStates;  // later settings win
  std::vector<Fault> faults;
  bool realtime = false;  // 11 us per byte each way, plus flashMs per 4 KiB
  unsigned flashMs = 20;  // per 4 KiB programmed or verified, with realtime
  // A slow programmer, with or without realtime: every reply (identity, status, data, each
  // firmware block) comes this much later than it would, and the answer to a restart request
  // this much later again; the programmer takes no request meanwhile.
  unsigned replyDelayMs = 0;
  unsigned restartDelayMs = 0;
  std::string dumpDir;  // where to write the channels' state on exit (empty: nowhere)

  ChipState ChipStateOf(int channel) const;
  // The fault of this kind that applies to the channel (a channel's own before "all").
  std::optional<Fault> FaultOf(FaultKind kind, int channel) const;
};

// Parses "KIND[@CHANNEL][:N]", KIND one of silent, drop, crc, escape, garbage, split, hangup,
// duplicate. N defaults to 1 (16 bytes for garbage). Sets `error` and returns nullopt on a
// malformed text.
std::optional<Fault> ParseFault(std::string_view text, std::string* error);

// Parses "STATE[@CHANNEL]", STATE one of blank, programmed, protected.
std::optional<ChipStateSetting> ParseChipState(std::string_view text, std::string* error);

}  // namespace korvan::sim
