#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace korvan::testing {

PtyPair::PtyPair() {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
    throw std::system_error(errno, std::generic_category(), "openpty");
  }
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  CloseMaster();
  CloseSlave();
}

void PtyPair::WriteMaster(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category(), "write master");
    done += static_cast<std::size_t>(n);
  }
}

std::vector<std::uint8_t> PtyPair::ReadMaster(std::size_t count, int timeoutMs) {
  std::vector<std::uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::uint8_t buffer[4096];
  while (out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    out.insert(out.end(), buffer, buffer + n);
  }
  return out;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPair::CloseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

}  // namespace korvan::testing
