#include "platform/core/UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace vn {

void UniqueFd::Reset(int fd) {
  if (m_fd >= 0 && m_fd != fd) ::close(m_fd);
  m_fd = fd;
}

int UniqueFd::Close() {
  if (m_fd < 0) return 0;
  const int fd = std::exchange(m_fd, -1);
  // Linux releases the descriptor even when close is interrupted: never retry.
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

PipeEnds MakePipe(int* error) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    if (error) *error = errno;
    return {};
  }
  if (error) *error = 0;
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::string ReadToEnd(const UniqueFd& fd) {
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(fd.Get(), buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace vn
