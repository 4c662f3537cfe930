#include "platform/ipc/PipeWatcher.h"

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/ipc/PipeRecords.h"

namespace vn {

PipeWatcher::PipeWatcher()
    : m_epoll(::epoll_create1(EPOLL_CLOEXEC)), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (!m_epoll || !m_wake) return;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = 0;  // no handle is 0
  if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, m_wake.Get(), &event) != 0) return;
  try {
    m_thread = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
  }
}

PipeWatcher::~PipeWatcher() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  if (m_thread.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake.Get(), &one, sizeof one);
    m_thread.join();
  }
}

void PipeWatcher::Arm(HANDLE pipe, const Entry& entry, bool added) {
  epoll_event event{};
  event.events = EPOLLONESHOT | (entry.readable ? EPOLLIN | EPOLLRDHUP : 0u) | (entry.writable ? EPOLLOUT : 0u);
  event.data.u64 = reinterpret_cast<std::uintptr_t>(pipe);
  ::epoll_ctl(m_epoll.Get(), added ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, entry.fd, &event);
}

LONG PipeWatcher::Watch(HANDLE pipe, Event event, std::function<void()> ready) {
  if (!m_thread.joinable()) return ERROR_NO_SYSTEM_RESOURCES;
  const int fd = PipeClientSocket(pipe);
  if (fd < 0 || pipe == nullptr) return ERROR_INVALID_HANDLE;
  std::lock_guard lock(m_mutex);
  const auto [it, added] = m_entries.try_emplace(pipe);
  Entry& entry = it->second;
  entry.fd = fd;
  (event == Event::Readable ? entry.readable : entry.writable) = std::move(ready);
  Arm(pipe, entry, added);
  return ERROR_SUCCESS;
}

void PipeWatcher::Forget(HANDLE pipe) {
  // Waits for a `ready` call in progress (unless it is this thread's).
  std::lock_guard dispatch(m_dispatch);
  std::lock_guard lock(m_mutex);
  const auto it = m_entries.find(pipe);
  if (it == m_entries.end()) return;
  ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, it->second.fd, nullptr);
  m_entries.erase(it);
}

void PipeWatcher::Run() {
  epoll_event events[64];
  for (;;) {
    const int count = ::epoll_wait(m_epoll.Get(), events, 64, -1);
    if (count < 0 && errno != EINTR) return;
    for (int i = 0; i < count; ++i) {
      if (events[i].data.u64 == 0) {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return;
        continue;
      }
      const auto pipe = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(events[i].data.u64));
      const std::uint32_t what = events[i].events;
      const bool gone = (what & (EPOLLHUP | EPOLLERR)) != 0;
      std::lock_guard dispatch(m_dispatch);
      std::function<void()> readable;
      std::function<void()> writable;
      {
        std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(pipe);
        if (it == m_entries.end()) continue;  // forgotten meanwhile
        Entry& entry = it->second;
        if (gone || (what & (EPOLLIN | EPOLLRDHUP))) readable = std::exchange(entry.readable, nullptr);
        if (gone || (what & EPOLLOUT)) writable = std::exchange(entry.writable, nullptr);
        // Whatever still waits is armed again (one-shot: the event disarmed it).
        if (entry.readable || entry.writable) Arm(pipe, entry, false);
      }
      if (readable) readable();
      if (writable) writable();
    }
  }
}

}  // namespace vn
