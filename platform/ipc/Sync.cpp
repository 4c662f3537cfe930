#include "platform/ipc/Sync.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "platform/core/CallResult.h"
#include "platform/core/HandleTable.h"

using vn::Fail;

namespace {

// Something a wait can be on: a flag behind a mutex and a condition variable.
// `autoReset` makes a successful wait take the flag down again.
struct Waitable {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
  bool autoReset = false;

  DWORD Wait(DWORD milliseconds) {
    std::unique_lock lock(mutex);
    const auto ready = [this] { return signalled; };
    if (milliseconds == INFINITE) {
      changed.wait(lock, ready);
    } else if (!changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
      return WAIT_TIMEOUT;
    }
    if (autoReset) signalled = false;
    return WAIT_OBJECT_0;
  }

  void Set() {
    {
      std::lock_guard lock(mutex);
      signalled = true;
    }
    // An auto-reset event lets one waiter through; the others see the flag
    // already taken and wait on.
    if (autoReset) changed.notify_one();
    else changed.notify_all();
  }
};

struct Event {
  Waitable state;
  std::string name;
};

struct Thread {
  Waitable finished;  // manual: every wait sees the end
  std::atomic<DWORD> exitCode{STILL_ACTIVE};
};

// The tables are never destroyed: threads still running at exit may use them.
vn::HandleTable<std::shared_ptr<Event>>& Events() {
  static auto* table = new vn::HandleTable<std::shared_ptr<Event>>;
  return *table;
}

vn::HandleTable<std::shared_ptr<Thread>>& Threads() {
  static auto* table = new vn::HandleTable<std::shared_ptr<Thread>>;
  return *table;
}

// Named events of the process. The entry lives as long as some handle holds
// the event.
struct NamedEvents {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<Event>> byName;
};

NamedEvents& Names() {
  static auto* names = new NamedEvents;
  return *names;
}

template <typename T>
std::shared_ptr<T> Find(vn::HandleTable<std::shared_ptr<T>>& table, HANDLE handle) {
  std::shared_ptr<T> found;
  table.With(handle, [&](std::shared_ptr<T>& item) { found = item; });
  return found;
}

// Thread ids are handed out in order and never reused within the process.
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
  static std::atomic<DWORD> next{1};
  return next.fetch_add(1);
}

bool CloseEvent(HANDLE handle, BOOL* result) {
  std::optional<std::shared_ptr<Event>> event = Events().Remove(handle);
  if (!event) return false;
  if (!(*event)->name.empty()) {
    NamedEvents& names = Names();
    std::lock_guard lock(names.mutex);
    const std::string name = (*event)->name;
    event->reset();
    // The last handle gone: the name is free again.
    const auto it = names.byName.find(name);
    if (it != names.byName.end() && it->second.expired()) names.byName.erase(it);
  }
  *result = TRUE;
  return true;
}

bool WaitEvent(HANDLE handle, DWORD milliseconds, DWORD* result) {
  const std::shared_ptr<Event> event = Find(Events(), handle);
  if (!event) return false;
  *result = event->state.Wait(milliseconds);
  return true;
}

bool CloseThread(HANDLE handle, BOOL* result) {
  if (!Threads().Remove(handle)) return false;
  *result = TRUE;
  return true;
}

bool WaitThread(HANDLE handle, DWORD milliseconds, DWORD* result) {
  const std::shared_ptr<Thread> thread = Find(Threads(), handle);
  if (!thread) return false;
  *result = thread->finished.Wait(milliseconds);
  return true;
}

const vn::HandleKind kEventKind{&CloseEvent, &WaitEvent, nullptr, nullptr};
const vn::HandleKind kThreadKind{&CloseThread, &WaitThread, nullptr, nullptr};
const bool g_registered = vn::RegisterHandleKind(&kEventKind) && vn::RegisterHandleKind(&kThreadKind);

}  // namespace

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  (void)g_registered;
  if (lpName == nullptr || *lpName == '\0') {
    auto event = std::make_shared<Event>();
    event->state.autoReset = !bManualReset;
    event->state.signalled = bInitialState != FALSE;
    SetLastError(ERROR_SUCCESS);
    return Events().Add(std::move(event));
  }
  if (std::string_view(lpName).size() > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  NamedEvents& names = Names();
  std::lock_guard lock(names.mutex);
  std::weak_ptr<Event>& slot = names.byName[lpName];
  if (std::shared_ptr<Event> existing = slot.lock()) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return Events().Add(std::move(existing));
  }
  auto event = std::make_shared<Event>();
  event->name = lpName;
  event->state.autoReset = !bManualReset;
  event->state.signalled = bInitialState != FALSE;
  slot = event;
  SetLastError(ERROR_SUCCESS);
  return Events().Add(std::move(event));
}

HANDLE OpenEventA(DWORD, BOOL, LPCSTR lpName) {
  if (lpName == nullptr || *lpName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  NamedEvents& names = Names();
  std::lock_guard lock(names.mutex);
  const auto it = names.byName.find(lpName);
  std::shared_ptr<Event> existing = it == names.byName.end() ? nullptr : it->second.lock();
  if (!existing) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return Events().Add(std::move(existing));
}

BOOL SetEvent(HANDLE hEvent) {
  const std::shared_ptr<Event> event = Find(Events(), hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  event->state.Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE hEvent) {
  const std::shared_ptr<Event> event = Find(Events(), hEvent);
  if (!event) return Fail(ERROR_INVALID_HANDLE);
  std::lock_guard lock(event->state.mutex);
  event->state.signalled = false;
  return TRUE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, std::size_t, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                    DWORD dwCreationFlags, LPDWORD lpThreadId) {
  (void)g_registered;
  if (lpStartAddress == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (dwCreationFlags & CREATE_SUSPENDED) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  const DWORD id = NewThreadId();
  try {
    std::thread([thread, lpStartAddress, lpParameter, id] {
      t_threadId = id;
      const DWORD code = lpStartAddress(lpParameter);
      thread->exitCode.store(code);
      thread->finished.Set();
    }).detach();
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (lpThreadId) *lpThreadId = id;
  return Threads().Add(std::move(thread));
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  const std::shared_ptr<Thread> thread = Find(Threads(), hThread);
  if (!thread) return Fail(ERROR_INVALID_HANDLE);
  if (lpExitCode == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *lpExitCode = thread->exitCode.load();
  return TRUE;
}

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = NewThreadId();
  return t_threadId;
}

void Sleep(DWORD dwMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds)); }
