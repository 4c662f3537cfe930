#include "platform/core/FlushBehind.h"

#include <unistd.h>

#include <system_error>

namespace vn {

FlushBehind::~FlushBehind() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
    m_queue.clear();
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void FlushBehind::Post(UniqueFd file) {
  if (!file) return;
  std::lock_guard lock(m_mutex);
  if (m_stop || m_queue.size() >= kMostQueued) return;
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return;  // no thread to be had: the writer's own fsync does it all
    }
  }
  m_queue.push_back(std::move(file));
  m_wake.notify_one();
}

void FlushBehind::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
    if (m_stop) return;
    UniqueFd file = std::move(m_queue.front());
    m_queue.pop_front();
    lock.unlock();
    ::fdatasync(file.Get());  // errors show at the writer's own fsync
    file.Reset();
    lock.lock();
  }
}

}  // namespace vn
