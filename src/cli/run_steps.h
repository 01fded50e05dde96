// The steps of `korvan-cli run`: what each word on the command line asks of the station.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/app/station.h"

namespace korvan::cli {

// A step: one of the station's operations (Station::Operations()), or watch=N when
// `operation` is null.
struct Step {
  const StationOperation* operation = nullptr;
  std::string text;      // as given ("read-memory=out.bin")
  std::string argument;  // the output file, or the address text
  int count = 0;         // read length, or stand-alone results to wait for
};

// Parses one step word. nullopt when `text` is no step; then `error` says why when the word
// looks like a step with a bad argument ("read-address=x,5"), and stays empty when it is no
// step word at all (an input file, for instance).
std::optional<Step> ParseStep(const std::string& text, std::string* error);

// When `text` is no step but looks like a misspelt one (no file extension, not an existing file):
// "unknown step 'atuo' (nearest: auto)"; "" otherwise.
std::string UnknownStepMessage(const std::string& text);

// The step words, for the help text.
const char* StepHelp();

}  // namespace korvan::cli
