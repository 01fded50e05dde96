// Part names on korvan-cli's command line. A production line names a part from the catalogue;
// the chip dialog's typing rules turn any other text into some part (a misspelt name becomes a
// 1024 KiB part at 0x08000000), so the commands that program or convert take such a name only
// when asked to (--typed-name).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvan::cli {

// The catalogue's spelling of `text` when a list holds it, letter case ignored.
std::optional<std::string> CataloguePart(std::string_view text);

// The catalogue names nearest to `text` (fewest letters changed, case ignored), best first.
// Letters to insert, delete or change to turn `a` into `b`, case ignored: how near a misspelt
// name is to a known one.
std::size_t EditDistance(std::string_view a, std::string_view b);

std::vector<std::string> NearestParts(std::string_view text, std::size_t count = 3);

// "unknown part 'FOO123' (not in the catalogue); nearest: A, B, C".
std::string UnknownPartMessage(std::string_view text);

// What the chip dialog's rules derive from a typed `name` in `series` (default 0): "typed part
// 'X' taken as the chip dialog derives it: 1024 KiB flash at 0x08000000..0x080FFFFF, family
// 0x00".
std::string TypedPartNote(std::string_view name, std::optional<int> series);

// Resolves --chip for run and convert: the catalogue spelling, or with `typedName` the text as
// given (the note then goes to `note`). nullopt with `error` set when the name is refused.
std::optional<std::string> ResolvePart(const std::string& text, bool typedName,
                                       std::optional<int> series, std::string& note,
                                       std::string& error);

}  // namespace korvan::cli
