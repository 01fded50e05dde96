#include "cli/run_steps.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <utility>
#include <vector>

#include "cli/job_files.h"
#include "cli/part_names.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

std::optional<int> ParseCount(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Step> ParseStep(const std::string& text, std::string* error) {
  error->clear();
  const auto eq = text.find('=');
  const std::string word = text.substr(0, eq);
  const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
  const StationOperation* op = nullptr;
  for (const StationOperation& candidate : Station::Operations()) {
    if (word == candidate.step) op = &candidate;
  }
  // A plain step is its word alone; the others need their argument after "=".
  if (op && (op->argument == StepArgument::None) != (eq == std::string::npos)) op = nullptr;
  if (op && op->argument == StepArgument::None) return Step{op, text, "", 0};
  if (eq == std::string::npos) return std::nullopt;

  if (op && op->argument == StepArgument::OutputFile) {
    const OutputKind kind = OutputKindOf(value);
    if (kind == OutputKind::Unknown || kind == OutputKind::Project) {
      *error = "read-memory=OUT: OUT must end in .bin, .hex, .s19, .srec or .mot: " + text;
      return std::nullopt;
    }
    return Step{op, text, value, 0};
  }
  if (op && op->argument == StepArgument::AddressAndLength) {
    const auto comma = value.find(',');
    const std::string address = value.substr(0, comma);
    const int length =
        comma == std::string::npos ? -1 : ParseCount(value.substr(comma + 1)).value_or(-1);
    const auto number = ParseInteger(address);
    if (!number) {
      *error = "read-address=ADDR,LEN: " + NotAnIntegerMessage(address);
      return std::nullopt;
    }
    if (*number < 0 || *number > 0xFFFFFFFF) {
      *error = "read-address=ADDR,LEN: ADDR must be 0..0xFFFFFFFF: " + address;
      return std::nullopt;
    }
    // The read-address dialog's spin edit: 16..4096 in steps of 16.
    if (length < 16 || length > 4096 || length % 16 != 0) {
      *error = "read-address=ADDR,LEN: LEN must be 16..4096 in steps of 16: " + text;
      return std::nullopt;
    }
    return Step{op, text, address, length};
  }
  if (word == "watch") {
    const auto count = ParseCount(value);
    if (!count || *count < 1) {
      *error = "watch=N: N must be a whole number of at least 1: " + text;
      return std::nullopt;
    }
    return Step{nullptr, text, "", *count};
  }
  return std::nullopt;
}

std::string UnknownStepMessage(const std::string& text) {
  const std::string word = text.substr(0, text.find('='));
  std::error_code ec;
  if (word.empty() || !LowerExtension(text).empty() || std::filesystem::exists(text, ec)) {
    return "";
  }
  std::vector<std::string> words;
  for (const StationOperation& op : Station::Operations()) words.emplace_back(op.step);
  words.emplace_back("watch");
  std::string nearest;
  std::size_t best = SIZE_MAX;
  for (const std::string& w : words) {
    const std::size_t d = EditDistance(word, w);
    if (d < best) {
      best = d;
      nearest = w;
    }
  }
  return "unknown step '" + text + "' (nearest: " + nearest + ")";
}

const char* StepHelp() {
  return "STEP, in order, each on every connected idle channel:\n"
         "  download        store image and settings in the programmers\n"
         "  auto            blank check, erase when needed, program, verify, option bytes\n"
         "  blank-check, erase, program, verify\n"
         "  read-ob, write-ob   read or write the option bytes\n"
         "  chip-id         read the chip ID\n"
         "  write-otp, read-otp (read: channel 1)\n"
         "  read-memory=OUT read the whole flash on channel 1 and save it (.bin/.hex/.s19)\n"
         "  read-address=ADDR,LEN  read LEN (16..4096, step 16) bytes at ADDR on channel 1\n"
         "  monitor         put the programmers into their off-line monitor\n"
         "  upgrade         send the firmware image KorvanNAT.KFW to the programmers\n"
         "  watch=N         wait for N parts programmed stand-alone (all channels together)";
}

}  // namespace korvan::cli
