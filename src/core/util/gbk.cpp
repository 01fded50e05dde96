#include "core/util/gbk.h"

#include <iconv.h>
#include <algorithm>
#include <cerrno>

namespace korvan {

namespace {

// Converts with one iconv descriptor; an unconvertible or malformed sequence is replaced by
// '?' and skipped by `skip(input)` bytes (one character of the input).
template <typename Skip>
std::string Convert(const char* to, const char* from, std::string_view input, Skip skip) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter on this system: keep the ASCII characters, mark the rest.
    for (unsigned char c : input) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }
  out.reserve(input.size() * 2);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  char buffer[512];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (done != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a sequence cut at the end): one '?' for the character, then go on.
    out.push_back('?');
    const std::size_t n = std::min(inLeft, skip(std::string_view(in, inLeft)));
    in += n;
    inLeft -= n;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  return out;
}

std::size_t Utf8CharLength(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  // Do not swallow the start of the next character when this one is malformed.
  for (std::size_t i = 1; i < n; ++i) {
    if (i >= s.size() || (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return i;
  }
  return n;
}

std::size_t GbkCharLength(std::string_view s) {
  return static_cast<unsigned char>(s[0]) >= 0x81 && s.size() >= 2 ? 2 : 1;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8, std::size_t maxBytes) {
  std::string gbk = Convert("GBK", "UTF-8", utf8, Utf8CharLength);
  if (gbk.size() <= maxBytes) return gbk;
  // Walk whole characters so that a double-byte character is never split at the cut.
  std::size_t end = 0;
  while (end < gbk.size()) {
    const std::size_t n = GbkCharLength(std::string_view(gbk).substr(end));
    if (end + n > maxBytes) break;
    end += n;
  }
  gbk.resize(end);
  return gbk;
}

std::string GbkToUtf8(std::string_view gbk) {
  return Convert("UTF-8", "GBK", gbk, GbkCharLength);
}

std::string GbkForStorage(std::string_view utf8, std::string_view stored, std::size_t maxBytes) {
  if (!stored.empty() && stored.size() <= maxBytes && GbkToUtf8(stored) == utf8) {
    return std::string(stored);
  }
  return Utf8ToGbk(utf8, maxBytes);
}

}  // namespace korvan
