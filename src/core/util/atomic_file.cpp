#include "core/util/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/util/format.h"

namespace korvan {

namespace {
std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}
}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error,
                         Durability durability) {
  const std::string folder = FolderOf(path);
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = Format("Cannot create file \"%s\": %s", path.c_str(), std::strerror(errno));
    return false;
  }
  auto fail = [&](const char* what) {
    error = Format("Cannot %s file \"%s\": %s", what, path.c_str(), std::strerror(errno));
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  // mkstemp creates 0600; a saved file gets the usual permissions of a new file.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  const char* p = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    const ssize_t written = ::write(fd, p, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return fail("write");
    }
    p += written;
    left -= static_cast<std::size_t>(written);
  }
  if (durability == Durability::Synced && ::fsync(fd) != 0) return fail("write");
  if (::close(fd) != 0) {
    error = Format("Cannot write file \"%s\": %s", path.c_str(), std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = Format("Cannot write file \"%s\": %s", path.c_str(), std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
  }
  if (durability == Durability::Flushed) return true;
  // Make the rename itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace korvan
