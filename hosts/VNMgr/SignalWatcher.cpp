#include "hosts/VNMgr/SignalWatcher.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <QSocketNotifier>

namespace {

// The write end for the handler; -1 while no watcher is installed.
volatile sig_atomic_t g_writeFd = -1;

}  // namespace

CSignalWatcher::CSignalWatcher(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal)) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
  m_read.Reset(fds[0]);
  m_write.Reset(fds[1]);
  g_writeFd = m_write.Get();
  m_notifier = std::make_unique<QSocketNotifier>(m_read.Get(), QSocketNotifier::Read);
  QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { OnReadable(); });

  for (int signo : signalNumbers) {
    struct sigaction action = {};
    action.sa_handler = &CSignalWatcher::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previous = {};
    if (::sigaction(signo, &action, &previous) == 0) m_previous.emplace_back(signo, previous);
  }
}

CSignalWatcher::~CSignalWatcher() {
  for (const auto& [signo, previous] : m_previous) ::sigaction(signo, &previous, nullptr);
  g_writeFd = -1;
  m_notifier.reset();
}

void CSignalWatcher::Handler(int signo) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (const int fd = g_writeFd; fd >= 0) {
    // A full pipe means the loop already has signals to act on: dropping this
    // one loses nothing.
    if (::write(fd, &byte, 1) < 0) {
    }
  }
  errno = savedErrno;
}

void CSignalWatcher::OnReadable() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t n = ::read(m_read.Get(), bytes, sizeof bytes);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) m_onSignal(bytes[i]);
  }
}
