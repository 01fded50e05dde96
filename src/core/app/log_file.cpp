#include "core/app/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "core/app/places.h"
#include "core/util/format.h"

namespace korvan {

namespace fs = std::filesystem;

fs::path ExecutableDirectory() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

LogLocation PrepareLogLocation(const fs::path& exeDir, const char* xdgStateHome, const char* home,
                               bool installed) {
  std::error_code ec;
  if (!installed && !exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0) {
    const fs::path logDir = exeDir / "Log";
    fs::create_directories(logDir, ec);
    if (!ec && ::access(logDir.c_str(), W_OK) == 0) return {logDir, exeDir, true, {}};
  }
  const fs::path state =
      XdgBaseFolder(xdgStateHome ? xdgStateHome : "", home ? home : "", ".local/state");
  if (state.empty()) {
    return {{},
            {},
            false,
            "Neither XDG_STATE_HOME nor HOME is set: no folder for log files and production "
            "records (set HOME)"};
  }
  const fs::path base = state / kPlacesFolderName;
  fs::create_directories(base / "Log", ec);
  return {base / "Log", base, false, {}};
}

LogLocation PrepareLogLocation() {
  const fs::path exeDir = ExecutableDirectory();
  return PrepareLogLocation(exeDir, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"),
                            !InBuildTree(exeDir));
}

namespace {

std::string Stamp(const LocalTime& t) {
  return Format("%04d_%02d_%02d_%02d_%02d_%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
}

// Logs of one name (runs closed in the same second) before writing one more is given up.
constexpr int kMaxLogsPerName = 1000;

// Gives the complete temporary file `temp` the name `name` unless a file has that name: 0, or
// the error (EEXIST when the name is taken). An existing log is never replaced.
int TakeName(const std::string& temp, const fs::path& name) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without that rename: a hard link takes a name only while it is free.
  if (::link(temp.c_str(), name.c_str()) != 0) return errno;
  ::unlink(temp.c_str());
  return 0;
}

std::string ErrorText(const fs::path& file, int error) {
  return file.string() + ": " + std::strerror(error);
}

}  // namespace

std::string ShutdownLogName(const LocalTime& t) {
  return "NAT_" + Stamp(t) + ".log";
}

std::string PeriodicLogName(const LocalTime& t) {
  return "NATx_" + Stamp(t) + ".log";
}

std::optional<std::string> WriteLogFile(const fs::path& file, const std::vector<std::string>& lines,
                                        fs::path* written) {
  if (!file.has_parent_path()) return file.string() + ": no folder for log files";
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  std::string temp = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return ErrorText(file, errno);
  int error = 0;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (!error && ::fchmod(fd, 0644) != 0) error = errno;
  if (!error && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && !error) error = errno;
  fs::path name = file;
  for (int k = 2; !error; ++k) {
    const int taken = TakeName(temp, name);
    if (taken == 0) break;
    if (taken != EEXIST || k > kMaxLogsPerName) {
      error = taken;
      break;
    }
    name = file.parent_path() /
           (file.stem().string() + "-" + std::to_string(k) + file.extension().string());
  }
  if (error) {
    ::unlink(temp.c_str());
    return ErrorText(file, error);
  }
  if (written) *written = name;
  return std::nullopt;
}

}  // namespace korvan
