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

std::optional<std::string> WriteLogFile(const fs::path& file,
                                        const std::vector<std::string>& lines) {
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
  if (!error && std::rename(temp.c_str(), file.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temp.c_str());
    return ErrorText(file, error);
  }
  return std::nullopt;
}

}  // namespace korvan
