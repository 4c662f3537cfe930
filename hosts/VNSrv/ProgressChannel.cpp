#include "hosts/VNSrv/ProgressChannel.h"

#include <cstring>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"

namespace vn::vnsrv {

using Clock = std::chrono::steady_clock;

ProgressChannel::ProgressChannel(std::string pipeName, const std::atomic<bool>* stopping)
    : m_pipeName(std::move(pipeName)), m_stopping(stopping) {
  if (!m_pipeName.empty()) m_thread = std::thread([this] { Run(); });
}

ProgressChannel::~ProgressChannel() { Finish(); }

void ProgressChannel::Begin(std::string text, std::chrono::milliseconds wait) {
  if (m_pipeName.empty()) return;
  std::unique_lock lock(m_mutex);
  const int before = m_exchanges;
  m_pending = std::move(text);
  m_hasPending = true;
  m_wake.notify_all();
  m_wake.wait_for(lock, wait, [&] { return m_exchanges > before || m_finishing; });
}

void ProgressChannel::Progress(std::string_view text) {
  if (m_pipeName.empty()) return;
  std::lock_guard lock(m_mutex);
  m_pending.assign(text.substr(0, kMaxText));
  m_hasPending = true;
  m_wake.notify_all();
}

bool ProgressChannel::Cancelled() const {
  return m_cancelled.load() || (m_stopping && m_stopping->load());
}

void ProgressChannel::Finish() {
  {
    std::lock_guard lock(m_mutex);
    m_finishing = true;
    if (m_pipe) CloseHandle(m_pipe);  // wakes a read or write blocked on it
    m_pipe = nullptr;
    m_wake.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
}

bool ProgressChannel::Exchange(const std::string& text) {
  HANDLE pipe = nullptr;
  {
    std::lock_guard lock(m_mutex);
    pipe = m_pipe;
  }
  std::string message = text.substr(0, kMaxText);
  message.push_back('\0');
  DWORD count = 0;
  if (!WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &count, nullptr)) return false;
  char reply[64] = {};
  count = 0;
  if (!ReadFile(pipe, reply, sizeof reply - 1, &count, nullptr) &&
      GetLastError() != static_cast<DWORD>(ERROR_MORE_DATA)) {
    return false;
  }
  if (std::strncmp(reply, "CANCEL", 6) == 0) m_cancelled = true;
  return true;
}

void ProgressChannel::Run() {
  Clock::time_point nextSend{};
  Clock::time_point nextOpen{};
  for (;;) {
    std::string text;
    {
      std::unique_lock lock(m_mutex);
      for (;;) {
        if (m_finishing) return;
        const auto now = Clock::now();
        if (m_hasPending && now >= nextSend) break;
        if (m_hasPending) {
          m_wake.wait_until(lock, nextSend);
        } else {
          m_wake.wait(lock);
        }
      }
      text = std::move(m_pending);
      m_hasPending = false;
    }
    if (Clock::now() >= nextOpen) {
      HANDLE current = nullptr;
      {
        std::lock_guard lock(m_mutex);
        current = m_pipe;
      }
      if (!current) {
        HANDLE opened = CreateFileA(m_pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        std::lock_guard lock(m_mutex);
        if (opened != INVALID_HANDLE_VALUE) {
          if (m_finishing) {
            CloseHandle(opened);
            return;
          }
          m_pipe = current = opened;
        }
      }
      if (!current || !Exchange(text)) {
        std::lock_guard lock(m_mutex);
        if (m_pipe) CloseHandle(m_pipe);
        m_pipe = nullptr;
        nextOpen = Clock::now() + kRetry;
      }
    }
    {
      std::lock_guard lock(m_mutex);
      ++m_exchanges;
      m_wake.notify_all();
    }
    nextSend = Clock::now() + kInterval;
  }
}

}  // namespace vn::vnsrv
