#include "lib/options.h"

#include <charconv>

namespace korvan::sim {

namespace {

struct KindName {
  std::string_view name;
  FaultKind kind;
};
constexpr KindName kFaultNames[] = {
    {"silent", FaultKind::Silent}, {"drop", FaultKind::Drop},           {"crc", FaultKind::Crc},
    {"escape", FaultKind::Escape}, {"garbage", FaultKind::Garbage},     {"split", FaultKind::Split},
    {"hangup", FaultKind::Hangup}, {"duplicate", FaultKind::Duplicate},
};

std::optional<unsigned> ParseUnsigned(std::string_view text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

// Splits "NAME@CHANNEL" into its name and channel (0 when absent).
bool SplitChannel(std::string_view text, std::string_view* name, int* channel) {
  const std::size_t at = text.find('@');
  *name = text.substr(0, at);
  *channel = 0;
  if (at == std::string_view::npos) return true;
  const auto value = ParseUnsigned(text.substr(at + 1));
  if (!value || *value == 0 || *value > 64) return false;
  *channel = static_cast<int>(*value);
  return true;
}

}  // namespace

ChipState Options::ChipStateOf(int channel) const {
  ChipState state = ChipState::Blank;
  for (const auto& setting : chipStates) {
    if (setting.channel == 0 || setting.channel == channel) state = setting.state;
  }
  return state;
}

std::optional<Fault> Options::FaultOf(FaultKind kind, int channel) const {
  std::optional<Fault> found;
  for (const auto& fault : faults) {
    if (fault.kind != kind) continue;
    if (fault.channel == channel) return fault;
    if (fault.channel == 0) found = fault;
  }
  return found;
}

std::optional<Fault> ParseFault(std::string_view text, std::string* error) {
  Fault fault;
  std::string_view head = text;
  const std::size_t colon = text.find(':');
  bool haveN = false;
  if (colon != std::string_view::npos) {
    head = text.substr(0, colon);
    const auto n = ParseUnsigned(text.substr(colon + 1));
    if (!n || *n == 0) {
      *error = "fault '" + std::string(text) + "': N must be a number of at least 1";
      return std::nullopt;
    }
    fault.n = *n;
    haveN = true;
  }
  std::string_view name;
  if (!SplitChannel(head, &name, &fault.channel)) {
    *error = "fault '" + std::string(text) + "': CHANNEL must be a number from 1";
    return std::nullopt;
  }
  for (const auto& entry : kFaultNames) {
    if (entry.name == name) {
      fault.kind = entry.kind;
      if (!haveN && fault.kind == FaultKind::Garbage) fault.n = 16;
      return fault;
    }
  }
  *error = "fault '" + std::string(text) +
           "': unknown kind (silent, drop, crc, escape, garbage, split, hangup, duplicate)";
  return std::nullopt;
}

std::optional<ChipStateSetting> ParseChipState(std::string_view text, std::string* error) {
  ChipStateSetting setting;
  std::string_view name;
  if (!SplitChannel(text, &name, &setting.channel)) {
    *error = "chip state '" + std::string(text) + "': CHANNEL must be a number from 1";
    return std::nullopt;
  }
  if (name == "blank") {
    setting.state = ChipState::Blank;
  } else if (name == "programmed") {
    setting.state = ChipState::Programmed;
  } else if (name == "protected") {
    setting.state = ChipState::Protected;
  } else {
    *error = "chip state '" + std::string(text) + "': expected blank, programmed or protected";
    return std::nullopt;
  }
  return setting;
}

}  // namespace korvan::sim
