#include "core/image/readers.h"

#include <fcntl.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "core/image/address_rules.h"
#include "core/image/elf_reader.h"
#include "core/image/hex_digits.h"
#include "core/util/format.h"

namespace korvan {

namespace {

using detail::HexPair;

// Where a record's first address sends its bytes.
enum class Placement {
  Flash,    // destination[A - base + i]
  Eep,      // OTP data image[A - eepStart + i]
  Otp,      // OTP data image[A - otpStart + i]
  Option,   // option-byte image[A - optionStart + i]
  Outside,  // near the image but in no window: code 16, bytes counted
  Far,      // far from the image (HEX only): ignored, bytes not counted
};

struct Store {
  std::uint8_t* data = nullptr;
  std::int64_t size = 0;
  std::int64_t index = 0;  // index of the record's first byte (may lie outside the array)
};

Placement Place(std::uint32_t a, const ReadTarget& t, std::uint32_t optionLength, bool farIgnored,
                Store& store) {
  const ImageWindows& w = t.image->windows;
  if (w.InFlash(a)) {
    store = {t.destination.data(), static_cast<std::int64_t>(t.destination.size()),
             static_cast<std::int64_t>(a) - static_cast<std::int64_t>(t.base)};
    return Placement::Flash;
  }
  if (w.InEep(a)) {
    store = {t.image->otp.data(), kOtpImageSize, static_cast<std::int64_t>(a - w.eepStart)};
    return Placement::Eep;
  }
  if (w.InOtp(a)) {
    store = {t.image->otp.data(), kOtpImageSize, static_cast<std::int64_t>(a - w.otpStart)};
    return Placement::Otp;
  }
  if (ImageWindows::InSpan(a, w.optionStart, optionLength)) {
    store = {t.optionBytes.data(), static_cast<std::int64_t>(t.optionBytes.size()),
             static_cast<std::int64_t>(a - w.optionStart)};
    return Placement::Option;
  }
  if (farIgnored && static_cast<std::uint32_t>(a - t.base) >= kFlashImageSize) {
    return Placement::Far;
  }
  return Placement::Outside;
}

// Decodes `count` data bytes from `digits` (2 characters each), adds them to the line sum and,
// for a window, stores the ones whose index falls inside the array. Returns their sum.
std::uint32_t TakeData(const char* digits, std::uint32_t count, const Store& store, bool stores) {
  std::uint32_t sum = 0;
  if (!stores) {
    for (std::uint32_t i = 0; i < count; ++i) sum += HexPair(digits[2 * i], digits[2 * i + 1]);
    return sum;
  }
  if (store.index >= 0 && store.index + count <= store.size) {
    std::uint8_t* out = store.data + store.index;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint8_t b = HexPair(digits[2 * i], digits[2 * i + 1]);
      out[i] = b;
      sum += b;
    }
    return sum;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t b = HexPair(digits[2 * i], digits[2 * i + 1]);
    const std::int64_t index = store.index + i;
    if (index >= 0 && index < store.size) store.data[index] = b;
    sum += b;
  }
  return sum;
}

// The extent's highest address; a record that would run past 0xFFFFFFFF ends there.
std::uint32_t LastAddress(std::uint32_t first, std::uint32_t count) {
  const std::uint64_t last = static_cast<std::uint64_t>(first) + count - 1;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF));
}

}  // namespace

int ParseHexLine(std::string_view line, const ReadTarget& target, ReadCursor& cursor) {
  const char* c = line.data();
  const std::size_t length = line.size();
  if (length == 0 || c[0] != ':') return kRecordBadStart;
  if (length < 3) return kRecordBadChecksum;
  const std::uint32_t n = HexPair(c[1], c[2]);
  if (n == 0) return kRecordOk;  // an empty record is ignored whatever its type
  if (length < 9) return kRecordBadChecksum;
  const std::uint8_t a1 = HexPair(c[3], c[4]);
  const std::uint8_t a0 = HexPair(c[5], c[6]);
  const std::uint8_t type = HexPair(c[7], c[8]);
  std::uint32_t s = n + a1 + a0 + type;

  switch (type) {
    case 0x00: {
      if (length < 11 + 2 * static_cast<std::size_t>(n)) return kRecordBadChecksum;
      const std::uint32_t a = cursor.linearOffset + cursor.segmentOffset + (a1 << 8 | a0);
      cursor.lowest = std::min(cursor.lowest, a);
      cursor.highest = std::max(cursor.highest, LastAddress(a, n));
      Store store;
      const Placement place = Place(a, target, kOptionWindowLengthHex, true, store);
      const bool stores = place != Placement::Outside && place != Placement::Far;
      const std::uint32_t dataSum = TakeData(c + 9, n, store, stores);
      s += dataSum;
      if (place != Placement::Far) cursor.fileChecksum += dataSum;
      if (place == Placement::Option) target.image->programOptionBytes = true;
      s += HexPair(c[9 + 2 * n], c[10 + 2 * n]);
      if ((s & 0xFF) != 0) return kRecordBadChecksum;
      return place == Placement::Outside ? kRecordOutsideWindows : kRecordOk;
    }
    case 0x02:
    case 0x04: {
      if (a1 != 0 || a0 != 0) return kRecordBadAddressField;
      if (length < 15) return kRecordBadChecksum;
      const std::uint8_t v1 = HexPair(c[9], c[10]);
      const std::uint8_t v0 = HexPair(c[11], c[12]);
      const std::uint32_t v = static_cast<std::uint32_t>(v1) << 8 | v0;
      if (type == 0x02) {
        cursor.segmentOffset = v << 4;
      } else {
        cursor.linearOffset = v << 16;
      }
      s += v1 + v0 + HexPair(c[13], c[14]);
      return (s & 0xFF) != 0 ? kRecordBadChecksum : kRecordOk;
    }
    case 0x01:
    case 0x03:
    case 0x05:
      return kRecordOk;
    default:
      return kRecordBadHexType;
  }
}

int ParseS19Line(std::string_view line, const ReadTarget& target, ReadCursor& cursor) {
  const char* c = line.data();
  const std::size_t length = line.size();
  if (length == 0 || c[0] != 'S') return kRecordBadStart;
  if (length < 2) return kRecordBadS19Type;
  std::uint32_t addressBytes = 0;
  switch (c[1]) {
    case '1':
      addressBytes = 2;
      break;
    case '2':
      addressBytes = 3;
      break;
    case '3':
      addressBytes = 4;
      break;
    case '0':
    case '5':
    case '7':
    case '8':
    case '9':
      return kRecordOk;
    default:
      return kRecordBadS19Type;
  }
  if (length < 4) return kRecordBadChecksum;
  const std::uint32_t m = HexPair(c[2], c[3]);
  // The count covers address, data and checksum; a count too small for the address is as
  // broken as a wrong checksum, and the line must hold every character the count promises.
  if (m < addressBytes + 1 || length < 4 + 2 * static_cast<std::size_t>(m)) {
    return kRecordBadChecksum;
  }
  std::uint32_t s = m;
  std::uint32_t a = 0;
  for (std::uint32_t i = 0; i < addressBytes; ++i) {
    const std::uint8_t b = HexPair(c[4 + 2 * i], c[5 + 2 * i]);
    a = a << 8 | b;
    s += b;
  }
  const std::uint32_t d = m - addressBytes - 1;
  const char* data = c + 4 + 2 * addressBytes;
  if (d > 0) {
    cursor.lowest = std::min(cursor.lowest, a);
    cursor.highest = std::max(cursor.highest, LastAddress(a, d));
  }
  Store store;
  const Placement place = Place(a, target, kOptionWindowLengthS19, false, store);
  const bool stores = place != Placement::Outside;
  const std::uint32_t dataSum = TakeData(data, d, store, stores);
  s += dataSum;
  cursor.fileChecksum += dataSum;
  if (place == Placement::Option && d > 0) target.image->programOptionBytes = true;
  s += HexPair(data[2 * d], data[2 * d + 1]);
  if ((s & 0xFF) != 0xFF) return kRecordBadChecksum;
  // A record without data places nothing, so it cannot lie outside the windows.
  return place == Placement::Outside && d > 0 ? kRecordOutsideWindows : kRecordOk;
}

int PlaceDataRecord(std::uint32_t address, std::span<const std::uint8_t> data,
                    const ReadTarget& target, ReadCursor& cursor) {
  if (data.empty()) return kRecordOk;
  const auto n = static_cast<std::uint32_t>(data.size());
  cursor.lowest = std::min(cursor.lowest, address);
  cursor.highest = std::max(cursor.highest, LastAddress(address, n));
  Store store;
  const Placement place = Place(address, target, kOptionWindowLengthHex, true, store);
  if (place == Placement::Far) return kRecordOk;
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::int64_t index = store.index + i;
    if (place != Placement::Outside && index >= 0 && index < store.size) {
      store.data[index] = data[i];
    }
    sum += data[i];
  }
  cursor.fileChecksum += sum;
  if (place == Placement::Option) target.image->programOptionBytes = true;
  return place == Placement::Outside ? kRecordOutsideWindows : kRecordOk;
}

namespace {

enum class TextFormat { Hex, S19 };

// The position just past the line end at `p` (CR, LF or CR LF); `p` points at CR or LF.
const char* PastLineEnd(const char* p, const char* end) {
  return (*p == '\r' && p + 1 < end && p[1] == '\n') ? p + 2 : p + 1;
}

const char* FindLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
  // Sixteen characters at a time for CR or LF: a record's line is some 45 characters, so this
  // finds its end in three steps where two searches of the line would call out twice.
  const __m128i cr16 = _mm_set1_epi8('\r');
  const __m128i lf16 = _mm_set1_epi8('\n');
  for (; end - p >= 16; p += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int hits = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(chunk, cr16), _mm_cmpeq_epi8(chunk, lf16)));
    if (hits != 0) return p + __builtin_ctz(static_cast<unsigned>(hits));
  }
  for (; p < end; ++p) {
    if (*p == '\r' || *p == '\n') return p;
  }
  return end;
#else
  const auto* lf =
      static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  const char* stop = lf ? lf : end;
  const auto* cr =
      static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(stop - p)));
  return cr ? cr : stop;
#endif
}

// The lines of a text already in memory. CR, LF and CR LF all end a line; a line longer than
// kMaxObjectLineLength is cut there (no record is that long, and what follows a record's checksum
// is not read).
class TextLines {
 public:
  explicit TextLines(std::string_view text) : p_(text.data()), end_(p_ + text.size()) {}
  // The next line without its line end; false at the end of the text.
  bool Next(std::string_view& line) {
    if (p_ >= end_) return false;
    const char* eol = FindLineEnd(p_, end_);
    line = std::string_view(p_, std::min(static_cast<std::size_t>(eol - p_), kMaxObjectLineLength));
    p_ = eol < end_ ? PastLineEnd(eol, end_) : end_;
    return true;
  }
  bool Failed(std::string&) const { return false; }

 private:
  const char* p_;
  const char* end_;
};

// The lines of a file read in chunks, so that memory stays bounded whatever the file's size:
// a line longer than kMaxObjectLineLength is cut there as in memory, and its rest is skipped
// without being held.
class FileLines {
 public:
  FileLines(int fd, std::string path, std::size_t chunk)
      : fd_(fd),
        path_(std::move(path)),
        chunk_(std::max<std::size_t>(chunk, 1)),
        capacity_(chunk_ + kMaxObjectLineLength + 2),
        buffer_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

  // The next line without its line end; the view stays valid until the next call.
  bool Next(std::string_view& line) {
    for (;;) {
      if (pendingCr_) {
        // The last line ended in a CR at the end of what had been read: an LF that follows
        // belongs to the same line end.
        if (begin_ == end_ && !eof_) {
          Fill();
          continue;
        }
        if (begin_ < end_ && buffer_[begin_] == '\n') ++begin_;
        pendingCr_ = false;
      }
      const char* data = buffer_.get();
      const char* eol = FindLineEnd(data + begin_, data + end_);
      if (eol < data + end_) {
        std::size_t next = static_cast<std::size_t>(eol - data) + 1;
        if (*eol == '\r') {
          if (next < end_) {
            if (data[next] == '\n') ++next;
          } else {
            pendingCr_ = true;
          }
        }
        const bool skipped = skipping_;
        skipping_ = false;
        const std::size_t first = begin_;
        begin_ = next;
        if (skipped) continue;  // the end of a line already handed out cut
        line = std::string_view(
            data + first,
            std::min(static_cast<std::size_t>(eol - (data + first)), kMaxObjectLineLength));
        return true;
      }
      if (skipping_) {
        // Still inside the rest of a cut line: drop what has been read of it.
        begin_ = end_ = 0;
        if (!Fill()) return false;
        continue;
      }
      if (end_ - begin_ >= kMaxObjectLineLength) {
        // No line end within the limit: hand out the line's start and skip the rest.
        line = std::string_view(data + begin_, kMaxObjectLineLength);
        begin_ += kMaxObjectLineLength;
        skipping_ = true;
        return true;
      }
      if (eof_) return Finish(line);
      Fill();
    }
  }

  // True when reading failed (the file layer's message in `error`).
  bool Failed(std::string& error) const {
    if (error_.empty()) return false;
    error = error_;
    return true;
  }

  // Reads the first chunk, so that a file that cannot be read at all fails before anything
  // changes.
  bool Prime(std::string& error) {
    Fill();
    return !Failed(error);
  }

 private:
  // Moves the unread tail to the front and reads more behind it; false at the end of the file
  // or on a read error. There is always room: the unread tail is shorter than the line limit.
  bool Fill() {
    if (eof_) return false;
    if (begin_ > 0) {
      std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    for (;;) {
      const ssize_t got = ::read(fd_, buffer_.get() + end_, std::min(chunk_, capacity_ - end_));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        error_ = korvan::Format("Cannot read file \"%s\": %s", path_.c_str(), std::strerror(errno));
        eof_ = true;
        return false;
      }
      if (got == 0) {
        eof_ = true;
        return false;
      }
      end_ += static_cast<std::size_t>(got);
      return true;
    }
  }

  // The last line, which has no line end.
  bool Finish(std::string_view& line) {
    if (begin_ >= end_) return false;
    line = std::string_view(buffer_.get() + begin_, end_ - begin_);
    begin_ = end_;
    return true;
  }

  int fd_;
  std::string path_;
  std::size_t chunk_;
  std::size_t capacity_;
  // Not filled when made: only what a read put there is ever looked at.
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  bool skipping_ = false;  // inside the rest of a line handed out cut
  bool pendingCr_ = false;
  std::string error_;
};

// Walks the lines, parses each and asks about the failing ones.
template <TextFormat kFormat, typename Lines>
LoadResult LoadLines(Lines& lines, const ReadTarget& target, OperatorDialogs& frontend,
                     ReadExtent& extent) {
  LoadResult result;
  ReadCursor cursor;
  bool parsedAny = false;
  std::uint32_t lineNumber = 0;  // 32-bit for both formats: no wrap after 65535
  std::string_view line;
  while (lines.Next(line)) {
    ++lineNumber;
    if (line.size() < 3) continue;
    if constexpr (kFormat == TextFormat::Hex) {
      if (line.size() == 11 && (line == ":00000001FF" || line == ":00FFFF0101")) break;
    }
    const int code = kFormat == TextFormat::Hex ? ParseHexLine(line, target, cursor)
                                                : ParseS19Line(line, target, cursor);
    parsedAny = true;
    if (code != kRecordOk) {
      if (result.lineErrors++ == 0) {
        result.firstErrorLine = lineNumber;
        result.firstErrorCode = code;
      }
      const Answer answer = frontend.Ask(
          MessageKind::Error, korvan::Format("Line %u Data Error : %d.", lineNumber, code),
          Buttons::OkAbort);
      if (answer == Answer::Abort) {
        result.status = LoadStatus::Aborted;
        break;
      }
    }
  }
  if (lines.Failed(result.message)) result.status = LoadStatus::IoError;
  // The caller's extent takes the running values after each parsed line; the values after the
  // last parsed line are the ones that stand.
  extent.fileChecksum = cursor.fileChecksum;
  result.lowest = cursor.lowest;
  result.highest = cursor.highest;
  if (parsedAny) {
    extent.lowest = cursor.lowest;
    extent.highest = cursor.highest;
  }
  return result;
}

template <TextFormat kFormat>
LoadResult LoadText(std::string_view text, const ReadTarget& target, OperatorDialogs& frontend,
                    ReadExtent& extent) {
  TextLines lines(text);
  return LoadLines<kFormat>(lines, target, frontend, extent);
}

LoadResult IoFailure(std::string message) {
  LoadResult result;
  result.status = LoadStatus::IoError;
  result.message = std::move(message);
  return result;
}

// An input file opened for reading; refuses what cannot be read as a file (a folder).
class InputFile {
 public:
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open(const std::string& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      error = korvan::Format("Cannot open file \"%s\": %s", path.c_str(), std::strerror(errno));
      return false;
    }
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
      error = korvan::Format("Cannot read file \"%s\": %s", path.c_str(), std::strerror(EISDIR));
      return false;
    }
    return true;
  }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// A whole input file as bytes, at most `limit` bytes (binary files: 1 MiB).
class FileBytes {
 public:
  bool Open(const std::string& path, std::string& error, std::uint64_t limit) {
    if (!ReadWholeFile(path, copy_, error, limit)) return false;
    return true;
  }
  std::string_view View() const { return copy_; }

 private:
  std::string copy_;
};

template <TextFormat kFormat>
LoadResult LoadTextFile(const std::string& path, const ReadTarget& target,
                        OperatorDialogs& frontend, ReadExtent& extent, std::size_t chunk) {
  InputFile file;
  std::string error;
  if (!file.Open(path, error)) return IoFailure(error);
  FileLines lines(file.Fd(), path, chunk);
  if (!lines.Prime(error)) return IoFailure(error);
  return LoadLines<kFormat>(lines, target, frontend, extent);
}

}  // namespace

LoadResult LoadHexText(std::string_view text, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent) {
  return LoadText<TextFormat::Hex>(text, target, frontend, extent);
}

LoadResult LoadS19Text(std::string_view text, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent) {
  return LoadText<TextFormat::S19>(text, target, frontend, extent);
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error,
                   std::uint64_t limit) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = korvan::Format("Cannot open file \"%s\": %s", path.c_str(), std::strerror(errno));
    return false;
  }
  try {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      out.reserve(static_cast<std::size_t>(
          std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), limit)));
    }
    char chunk[65536];
    while (out.size() < limit) {
      const std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, limit - out.size()));
      const ssize_t got = ::read(fd, chunk, want);
      if (got < 0) {
        if (errno == EINTR) continue;
        error = korvan::Format("Cannot read file \"%s\": %s", path.c_str(), std::strerror(errno));
        ::close(fd);
        return false;
      }
      if (got == 0) break;
      out.append(chunk, static_cast<std::size_t>(got));
    }
  } catch (const std::bad_alloc&) {
    // A file larger than the memory the station may use is refused, not a crash.
    error = korvan::Format("Cannot read file \"%s\": %s", path.c_str(), std::strerror(ENOMEM));
    out = std::string();
    ::close(fd);
    return false;
  }
  ::close(fd);
  return true;
}

LoadResult LoadHexFile(const std::string& path, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent) {
  return LoadTextFile<TextFormat::Hex>(path, target, frontend, extent, kObjectFileChunk);
}

LoadResult LoadS19File(const std::string& path, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent) {
  return LoadTextFile<TextFormat::S19>(path, target, frontend, extent, kObjectFileChunk);
}

namespace detail {

LoadResult LoadTextFileInChunks(const std::string& path, bool hex, const ReadTarget& target,
                                OperatorDialogs& frontend, ReadExtent& extent, std::size_t chunk) {
  return hex ? LoadTextFile<TextFormat::Hex>(path, target, frontend, extent, chunk)
             : LoadTextFile<TextFormat::S19>(path, target, frontend, extent, chunk);
}

}  // namespace detail

namespace {

// Copies `bytes` to destination[offset + j], dropping what falls outside; returns their sum.
std::uint32_t PlaceBinary(std::string_view bytes, std::span<std::uint8_t> destination,
                          std::int64_t offset) {
  std::uint32_t sum = 0;
  const std::int64_t size = static_cast<std::int64_t>(destination.size());
  const std::int64_t first = std::max<std::int64_t>(0, -offset);
  const std::int64_t last =
      std::min<std::int64_t>(static_cast<std::int64_t>(bytes.size()), size - offset);
  for (std::int64_t j = first; j < last; ++j) {
    const auto b = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(j)]);
    destination[static_cast<std::size_t>(offset + j)] = b;
    sum += b;
  }
  return sum;
}

}  // namespace

LoadResult LoadBinFile(const std::string& path, std::span<std::uint8_t> destination,
                       std::int64_t destinationOffset, std::uint32_t& highestIndex) {
  std::uint32_t ignored = 0;
  return LoadBinFileSum(path, destination, destinationOffset, highestIndex, ignored);
}

LoadResult LoadBinFileSum(const std::string& path, std::span<std::uint8_t> destination,
                          std::int64_t destinationOffset, std::uint32_t& highestIndex,
                          std::uint32_t& fileChecksum) {
  FileBytes file;
  std::string error;
  if (!file.Open(path, error, kBinFileLimit)) return IoFailure(error);
  highestIndex = static_cast<std::uint32_t>(file.View().size()) - 1;
  fileChecksum = PlaceBinary(file.View(), destination, destinationOffset);
  return {};
}

ObjectFileKind ObjectFileKindOf(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
    return ObjectFileKind::Unknown;
  }
  std::string ext(path.substr(dot));
  for (char& ch : ext) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  if (ext == ".HEX") return ObjectFileKind::IntelHex;
  if (ext.size() >= 4 && ext[1] == 'S' && ext[2] == '1' && ext[3] >= '0' && ext[3] <= '9') {
    return ObjectFileKind::SRecord;
  }
  if (ext == ".BIN") return ObjectFileKind::Binary;
  if (ext == ".ELF" || ext == ".AXF" || ext == ".OUT") return ObjectFileKind::Elf;
  return ObjectFileKind::Unknown;
}

LoadResult LoadObjectFile(const std::string& path, ImageBuffer& image,
                          std::span<std::uint8_t> optionBytes, OperatorDialogs& frontend,
                          LoadMode mode, ObjectFileKind kind,
                          const std::function<void()>& accepted) {
  LoadResult result;
  const ImageWindows& w = image.windows;
  std::string error;

  std::int32_t loadOffset = 0;
  if (kind == ObjectFileKind::Binary) {
    // Asked before anything changes: declining leaves the image as it was.
    const auto entered = frontend.AskLoadOffset(LoadOffsetShownText(w.flashStart));
    if (!entered) {
      result.status = LoadStatus::Cancelled;
      return result;
    }
    const auto offset = LoadOffsetFromText(*entered, w.flashStart);
    if (!offset) {
      frontend.Ask(MessageKind::Error, NotAnIntegerMessage(*entered), Buttons::Ok);
      result.status = LoadStatus::Cancelled;
      return result;
    }
    loadOffset = *offset;
  }
  // A binary file (at most 1 MiB) is read whole, and so is an ELF file (mapped); a text file
  // is read line by line, so memory stays bounded for any file. Either way a file that cannot
  // be opened or read at all fails before anything changes.
  FileBytes binary;
  InputFile text;
  std::optional<FileLines> lines;
  if (kind == ObjectFileKind::Binary) {
    if (!binary.Open(path, error, kBinFileLimit)) return IoFailure(error);
  } else if (kind == ObjectFileKind::Elf) {
    // Debugging information makes ELF files large, but never this large for a part's flash.
    constexpr std::uint64_t kElfFileLimit = 256u << 20;
    if (!binary.Open(path, error, kElfFileLimit)) return IoFailure(error);
  } else if (kind != ObjectFileKind::Unknown) {
    if (!text.Open(path, error)) return IoFailure(error);
    lines.emplace(text.Fd(), path, kObjectFileChunk);
    if (!lines->Prime(error)) return IoFailure(error);
  }
  // What the load would change, kept until it has succeeded: a read that fails half-way
  // leaves the image as it was.
  std::optional<ImageBuffer> before;
  std::vector<std::uint8_t> optionBefore;
  if (lines) {
    before.emplace(image);
    optionBefore.assign(optionBytes.begin(), optionBytes.end());
  }
  std::vector<ElfSegment> segments;
  if (kind == ObjectFileKind::Elf) {
    // Headers first: a broken ELF file leaves the image as it was.
    if (auto refused = ReadElfSegments(binary.View(), segments)) {
      return IoFailure(
          korvan::Format("Cannot read ELF file \"%s\": %s", path.c_str(), refused->c_str()));
    }
  }

  if (accepted) accepted();
  if (mode == LoadMode::NewImage) image.EraseAll();
  image.dataLoaded = true;
  // A record is stored when its first address lies in the flash window; its bytes (at most
  // 255) may run on past the window's end, within the picture.
  const std::uint64_t flashReach =
      w.flashEnd >= w.flashStart ? std::uint64_t{w.flashEnd} - w.flashStart + 1 + 255 : 0;
  const ReadTarget target{
      kind == ObjectFileKind::Binary
          ? std::span<std::uint8_t>()
          : image.flash.First(std::min<std::uint64_t>(flashReach, FlashPicture::size())),
      w.flashStart, &image, optionBytes};
  ReadExtent extent{image.fileChecksum, image.highest, image.lowest};
  switch (kind) {
    case ObjectFileKind::IntelHex:
      result = LoadLines<TextFormat::Hex>(*lines, target, frontend, extent);
      break;
    case ObjectFileKind::SRecord:
      result = LoadLines<TextFormat::S19>(*lines, target, frontend, extent);
      break;
    case ObjectFileKind::Binary: {
      const std::string_view contents = binary.View();
      const std::int64_t offset = LoadOffsetIndex(loadOffset);
      const std::int64_t reach = std::clamp<std::int64_t>(
          offset + static_cast<std::int64_t>(contents.size()), 0, FlashPicture::size());
      extent.fileChecksum =
          PlaceBinary(contents, image.flash.First(static_cast<std::size_t>(reach)), offset);
      // The first address is the one entered (the offset wraps as 32-bit address arithmetic
      // does); from there addresses never wrap: data that would run past 0xFFFFFFFF end there,
      // outside the chip.
      const std::uint64_t first = w.flashStart + static_cast<std::uint32_t>(loadOffset);
      const std::uint64_t last = first + contents.size() - 1;
      extent.lowest = static_cast<std::uint32_t>(first);
      extent.highest = static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF));
      if (!contents.empty()) {
        result.lowest = extent.lowest;
        result.highest = extent.highest;
      }
      break;
    }
    case ObjectFileKind::Elf:
      result = LoadElfSegments(binary.View(), segments, target, frontend, extent);
      break;
    case ObjectFileKind::Unknown:
      result.status = LoadStatus::NotRead;
      return result;
  }
  if (result.status == LoadStatus::IoError && before) {
    image = *before;
    std::copy(optionBefore.begin(), optionBefore.end(), optionBytes.begin());
    return result;
  }
  image.fileChecksum = extent.fileChecksum;
  image.lowest = extent.lowest;
  image.highest = extent.highest;
  if (image.lowest < w.flashStart || image.highest > w.flashEnd) {
    frontend.Ask(MessageKind::Warning, kOutsideChipWarning, Buttons::Ok);
  }
  return result;
}

}  // namespace korvan
