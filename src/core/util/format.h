// Text helpers shared by every module: printf-style formatting into std::string (the station's
// messages are printf formats, "Line %d Data Error : %d."), and the integer parsing of edit
// boxes (decimal, "0x..." or "$..." hexadecimal).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvan {

// printf into a std::string. Hexadecimal conversions are written by the caller with "%X" when
// upper-case digits are wanted (the station prints "0x%0.2X" as 0xFE).
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Parses an edit box's text as an integer: optional blanks around it, an optional sign, then
// decimal digits, or hexadecimal digits after "0x"/"0X" or "$". Returns nullopt for anything
// else, and for values outside the 64-bit signed range.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// The conversion error of an edit box that holds no number: "'%s' is not a valid integer value".
std::string NotAnIntegerMessage(std::string_view text);

}  // namespace korvan
