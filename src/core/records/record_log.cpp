#include "core/records/record_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/util/format.h"

namespace korvan {

namespace fs = std::filesystem;

std::optional<RecordDay> ParseRecordDay(std::string_view text) {
  // yyyy-MM-dd exactly.
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  auto digits = [&](std::size_t from, std::size_t count) -> std::optional<int> {
    int value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  const auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2);
  if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) {
    return std::nullopt;
  }
  return RecordDay{*year, *month, *day};
}

std::string RecordFileStem(const RecordDay& day) {
  return Format("records_%04d_%02d_%02d", day.year, day.month, day.day);
}

namespace {

std::string ErrorText(const fs::path& file, const char* what, int error) {
  return Format("Cannot %s record file \"%s\": %s", what, file.c_str(), std::strerror(error));
}

// The file is created whole with `header` as its contents, so no reader or writer ever sees it
// without its header. Several writers may race: the first link wins and the others use its
// file.
std::optional<std::string> CreateWithHeader(const fs::path& file, const std::string& header) {
  if (::access(file.c_str(), F_OK) == 0) return std::nullopt;
  std::string temp = file.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return ErrorText(file, "create", errno);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  const bool written =
      ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
  const int writeError = errno;
  ::close(fd);
  std::optional<std::string> error;
  if (!written) {
    error = ErrorText(file, "write", writeError);
  } else if (::link(temp.c_str(), file.c_str()) != 0 && errno != EEXIST) {
    error = ErrorText(file, "create", errno);
  }
  ::unlink(temp.c_str());
  return error;
}

// The length of the file up to and including its last line feed (0 when it has none).
off_t WholeLinesLength(int fd, off_t size) {
  char chunk[4096];
  off_t end = size;
  while (end > 0) {
    const off_t from = end > static_cast<off_t>(sizeof chunk) ? end - sizeof chunk : 0;
    const ssize_t n = ::pread(fd, chunk, static_cast<std::size_t>(end - from), from);
    if (n <= 0) return size;  // unreadable: leave the file as it is
    for (ssize_t i = n; i > 0; --i) {
      if (chunk[i - 1] == '\n') return from + i;
    }
    end = from;
  }
  return 0;
}

// One record file opened for appending under the exclusive lock every writer takes. A writer
// killed in the middle of its write (the kernel may stop a write at a page boundary for a fatal
// signal) leaves a line without its line feed at the end of the file; since no live writer can
// be inside its write while we hold the lock, that tail is dead and is cut off on opening.
class LockedAppend {
 public:
  LockedAppend(const fs::path& file) : file_(file) {
    fd_ = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
      error_ = ErrorText(file, "open", errno);
      return;
    }
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = ErrorText(file, "lock", errno);
        return;
      }
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
      error_ = ErrorText(file, "read", errno);
      return;
    }
    size_ = st.st_size;
    if (size_ > 0) {
      const off_t whole = WholeLinesLength(fd_, size_);
      if (whole != size_) {
        if (::ftruncate(fd_, whole) != 0) {
          error_ = ErrorText(file, "repair", errno);
          return;
        }
        size_ = whole;
      }
    }
  }
  ~LockedAppend() {
    if (fd_ >= 0) ::close(fd_);  // also releases the lock
  }
  LockedAppend(const LockedAppend&) = delete;
  LockedAppend& operator=(const LockedAppend&) = delete;

  const std::optional<std::string>& error() const { return error_; }

  // Appends `line` whole: a write that stops short (a full disk) or fails is undone by cutting
  // the file back to its length before it, so the file never holds half a line.
  std::optional<std::string> Write(const std::string& line, const RecordWriteFunction& write) {
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t n = write(fd_, line.data() + done, line.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const std::string error = ErrorText(file_, "write", n < 0 ? errno : ENOSPC);
        RollBack();
        return error;
      }
      done += static_cast<std::size_t>(n);
    }
    written_ = true;
    return std::nullopt;
  }

  std::optional<std::string> Sync(Durability durability) {
    if (durability == Durability::Synced && ::fdatasync(fd_) != 0) {
      return ErrorText(file_, "write", errno);
    }
    return std::nullopt;
  }

  // Takes back what Write appended (the other file of the pair failed).
  void RollBack() {
    if (::ftruncate(fd_, size_) == 0) written_ = false;
  }

 private:
  fs::path file_;
  int fd_ = -1;
  off_t size_ = 0;
  bool written_ = false;
  std::optional<std::string> error_;
};

}  // namespace

RecordWriteFunction DefaultRecordWrite() {
  return [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); };
}

std::optional<std::string> RecordLog::Append(const ProductionRecord& record) const {
  const auto day = ParseRecordDay(std::string_view(record.time).substr(0, 10));
  if (!day) return "Record without a valid time: \"" + record.time + "\"";
  const std::string stem = RecordFileStem(*day);
  // No folder could be named (no HOME): never fall back to the working folder.
  if (folder_.empty()) return std::string("No folder for the production records");
  const fs::path jsonl = folder_ / (stem + ".jsonl");
  const fs::path csv = folder_ / (stem + ".csv");

  // Both files or neither: the CSV file is made (with its header) before anything is written,
  // both are locked in the same order by every writer, and a record that does not reach the
  // second file is taken back from the first.
  if (auto error = CreateWithHeader(csv, RecordCsvHeader())) return error;
  LockedAppend json(jsonl);
  if (json.error()) return json.error();
  LockedAppend table(csv);
  if (table.error()) return table.error();
  if (auto error = json.Write(RecordJsonLine(record), write_)) return error;
  if (auto error = table.Write(RecordCsvLine(record), write_)) {
    json.RollBack();
    return error;
  }
  std::optional<std::string> error = json.Sync(durability_);
  if (!error) error = table.Sync(durability_);
  if (error) {
    table.RollBack();
    json.RollBack();
  }
  return error;
}

RecordListing ReadRecords(const fs::path& folder, std::optional<RecordDay> since) {
  RecordListing listing;
  std::vector<std::pair<RecordDay, fs::path>> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    // records_yyyy_MM_dd.jsonl
    if (name.size() != 24 || name.compare(0, 8, "records_") != 0 ||
        name.compare(18, 6, ".jsonl") != 0) {
      continue;
    }
    std::string date = name.substr(8, 10);
    std::replace(date.begin(), date.end(), '_', '-');
    const auto day = ParseRecordDay(date);
    if (!day || (since && *day < *since)) continue;
    files.emplace_back(*day, it->path());
  }
  std::sort(files.begin(), files.end());

  for (const auto& [day, file] : files) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) {
      listing.errors.push_back(ErrorText(file, "read", errno));
      continue;
    }
    const std::string contents = text.str();
    std::size_t start = 0;
    while (start < contents.size()) {
      const std::size_t end = contents.find('\n', start);
      if (end == std::string::npos) {
        // A line without its line feed was being written or was cut short.
        ++listing.skippedLines;
        break;
      }
      std::string_view line(contents.data() + start, end - start);
      start = end + 1;
      if (line.empty()) continue;
      if (auto record = ParseRecordJson(line)) {
        listing.entries.push_back({std::move(*record), std::string(line)});
      } else {
        ++listing.skippedLines;
      }
    }
  }
  return listing;
}

}  // namespace korvan
