#include "console/core/run/FanOut.h"

#include <algorithm>
#include <atomic>

#include "platform/core/SystemInfo.h"
#include "platform/machine/Profile.h"

namespace vn::console {

namespace {

std::atomic<int> g_width{0};

}  // namespace

int DefaultFanOutWidth() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return static_cast<int>(std::clamp<DWORD>(info.dwNumberOfProcessors, 1, 64)) * 4;
}

void SetRunFanOutWidth(int width) { g_width = std::clamp(width, 0, kMaxFanOutWidth); }

int RunFanOutWidth() {
  if (const int set = g_width.load(); set > 0) return set;
  const int stored = static_cast<int>(GetProfileInt(kFanOutSection, kFanOutEntry, 0));
  if (stored > 0) return std::min(stored, kMaxFanOutWidth);
  return DefaultFanOutWidth();
}

CFanOut::CFanOut(std::size_t count, int width, std::function<void(std::size_t)> work)
    : m_work(std::move(work)), m_states(count, State::Waiting) {
  const std::size_t threads = std::min<std::size_t>(count, static_cast<std::size_t>(std::clamp(width, 1, kMaxFanOutWidth)));
  m_threads.reserve(threads);
  for (std::size_t i = 0; i < threads; ++i) m_threads.emplace_back([this] { Worker(); });
}

CFanOut::~CFanOut() {
  Stop();
  for (auto& thread : m_threads) thread.join();
}

void CFanOut::Worker() {
  for (;;) {
    std::size_t index = 0;
    {
      std::lock_guard lock(m_mutex);
      if (m_stopped || m_next >= m_states.size()) return;
      index = m_next++;
      m_states[index] = State::Running;
    }
    m_work(index);
    {
      std::lock_guard lock(m_mutex);
      m_states[index] = State::Ended;
      ++m_finished;
    }
    m_changed.notify_all();
  }
}

bool CFanOut::Await(std::size_t index) {
  std::unique_lock lock(m_mutex);
  if (index >= m_states.size()) return false;
  m_changed.wait(lock, [&] { return m_states[index] == State::Ended || m_states[index] == State::Skipped; });
  return m_states[index] == State::Ended;
}

void CFanOut::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopped = true;
    for (std::size_t i = m_next; i < m_states.size(); ++i) m_states[i] = State::Skipped;
    m_next = m_states.size();
  }
  m_changed.notify_all();
}

std::size_t CFanOut::Finished() const {
  std::lock_guard lock(m_mutex);
  return m_finished;
}

}  // namespace vn::console
