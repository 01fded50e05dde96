// GBK text for the fields that other stations and the programmers read: project-file names and
// the text fields of requests. The station works in UTF-8 everywhere else.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvan {

// UTF-8 to GBK. Characters GBK lacks (and malformed UTF-8) become '?'. With `maxBytes`, the
// result is cut to at most that many bytes without splitting a double-byte character.
std::string Utf8ToGbk(std::string_view utf8, std::size_t maxBytes = std::string::npos);

// GBK to UTF-8. Bytes that form no GBK character become '?'.
std::string GbkToUtf8(std::string_view gbk);

// The GBK bytes to store or send for a text shown as `utf8`: `stored` itself when it holds the
// bytes the text was read as (not empty, at most `maxBytes`, and shown as `utf8`), so that a
// name read from a file travels byte for byte, even one that no character set can show whole;
// otherwise `utf8` converted (and cut to `maxBytes`).
std::string GbkForStorage(std::string_view utf8, std::string_view stored,
                          std::size_t maxBytes = std::string::npos);

}  // namespace korvan
