#include "server/service/ProgressChannel.h"

#include <cstring>

#include "platform/core/Handles.h"
#include "platform/core/LastError.h"
#include "platform/ipc/Pipes.h"

namespace vn::vnsrv {

using Clock = std::chrono::steady_clock;

void ThreadPark::Adopt(std::thread thread, std::function<bool()> ended) {
  std::vector<std::pair<std::thread, std::function<bool()>>> done;
  {
    std::lock_guard lock(m_mutex);
    for (auto it = m_threads.begin(); it != m_threads.end();) {
      if (it->second()) {
        done.push_back(std::move(*it));
        it = m_threads.erase(it);
      } else {
        ++it;
      }
    }
    m_threads.emplace_back(std::move(thread), std::move(ended));
  }
  for (auto& [ended, unused] : done) ended.join();
}

void ThreadPark::JoinAll() {
  std::vector<std::pair<std::thread, std::function<bool()>>> threads;
  {
    std::lock_guard lock(m_mutex);
    threads.swap(m_threads);
  }
  for (auto& [thread, unused] : threads) thread.join();
}

ProgressChannel::ProgressChannel(std::string pipeName, const std::atomic<bool>* stopping, ThreadPark* park)
    : m_state(std::make_shared<State>()), m_stopping(stopping), m_park(park) {
  m_state->pipeName = std::move(pipeName);
  if (!m_state->pipeName.empty()) m_thread = std::thread([state = m_state] { Run(state); });
}

ProgressChannel::~ProgressChannel() { Finish(); }

void ProgressChannel::Begin(std::string text, std::chrono::milliseconds wait) {
  if (!m_thread.joinable()) return;
  State& state = *m_state;
  std::unique_lock lock(state.mutex);
  const int before = state.exchanges;
  state.pending = std::move(text);
  state.hasPending = true;
  state.wake.notify_all();
  state.wake.wait_for(lock, wait, [&] { return state.exchanges > before || state.finishing; });
}

void ProgressChannel::Progress(std::string_view text) {
  if (!m_thread.joinable()) return;
  std::lock_guard lock(m_state->mutex);
  m_state->pending.assign(text.substr(0, kMaxText));
  m_state->hasPending = true;
  m_state->wake.notify_all();
}

bool ProgressChannel::Cancelled() const {
  return m_state->cancelled.load() || (m_stopping && m_stopping->load());
}

void ProgressChannel::Finish() {
  if (!m_thread.joinable()) return;
  State& state = *m_state;
  bool exited = false;
  {
    std::unique_lock lock(state.mutex);
    state.finishing = true;
    if (state.pipe) CloseHandle(state.pipe);  // wakes a read or write blocked on it
    state.pipe = nullptr;
    state.wake.notify_all();
    exited = state.wake.wait_for(lock, kFinishWait, [&] { return state.exited; });
  }
  if (exited || !m_park) {
    m_thread.join();
  } else {
    m_park->Adopt(std::move(m_thread), [state = m_state] {
      std::lock_guard lock(state->mutex);
      return state->exited;
    });
  }
}

bool ProgressChannel::Exchange(State& state, const std::string& text) {
  HANDLE pipe = nullptr;
  {
    std::lock_guard lock(state.mutex);
    pipe = state.pipe;
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
  if (std::strncmp(reply, "CANCEL", 6) == 0) state.cancelled = true;
  return true;
}

void ProgressChannel::Run(const std::shared_ptr<State>& shared) {
  State& state = *shared;
  const auto exit = [&] {
    std::lock_guard lock(state.mutex);
    if (state.pipe) CloseHandle(state.pipe);
    state.pipe = nullptr;
    state.exited = true;
    state.wake.notify_all();
  };
  Clock::time_point nextSend{};
  Clock::time_point nextOpen{};
  for (;;) {
    std::string text;
    {
      std::unique_lock lock(state.mutex);
      for (;;) {
        if (state.finishing) break;
        if (state.hasPending && Clock::now() >= nextSend) break;
        if (state.hasPending) {
          state.wake.wait_until(lock, nextSend);
        } else {
          state.wake.wait(lock);
        }
      }
      if (state.finishing) {
        lock.unlock();
        return exit();
      }
      text = std::move(state.pending);
      state.hasPending = false;
    }
    if (Clock::now() >= nextOpen) {
      HANDLE current = nullptr;
      {
        std::lock_guard lock(state.mutex);
        current = state.pipe;
      }
      if (!current) {
        // May block for a while when the console's machine does not answer;
        // Finish does not wait for it.
        HANDLE opened = CreateFileA(state.pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr);
        std::lock_guard lock(state.mutex);
        if (opened != INVALID_HANDLE_VALUE) {
          if (state.finishing) {
            CloseHandle(opened);
          } else {
            state.pipe = current = opened;
          }
        }
      }
      if (!current || !Exchange(state, text)) {
        std::lock_guard lock(state.mutex);
        if (state.pipe) CloseHandle(state.pipe);
        state.pipe = nullptr;
        nextOpen = Clock::now() + kRetry;
      }
    }
    {
      std::lock_guard lock(state.mutex);
      ++state.exchanges;
      state.wake.notify_all();
    }
    nextSend = Clock::now() + kInterval;
  }
}

}  // namespace vn::vnsrv
