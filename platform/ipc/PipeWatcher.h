#pragma once
// Waits on many client ends of local pipes with one thread: tells when a pipe
// handle has a message to read (or its server has gone) or has room for the
// next message, so that one thread serves any number of pipes opened in
// PIPE_NOWAIT mode (SetNamedPipeHandleState). The machine service relays
// other machines' pipes this way.
//
// Threads: Watch and Forget from any thread, also from inside a `ready`
// call. `ready` runs on the watcher's own thread, one at a time, and must not
// block. Ownership: the watcher must outlive the handles it watches; the
// caller closes a handle only after Forget.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/core/Win32Types.h"
#include "platform/core/UniqueFd.h"

namespace vn {

class PipeWatcher {
 public:
  enum class Event { Readable, Writable };

  // Starts the thread. A watcher that could not get its epoll instance or
  // thread refuses every Watch with ERROR_NO_SYSTEM_RESOURCES.
  PipeWatcher();
  ~PipeWatcher();
  PipeWatcher(const PipeWatcher&) = delete;
  PipeWatcher& operator=(const PipeWatcher&) = delete;

  // Calls `ready` once when `pipe` (a client end from CreateFileA of a pipe
  // of this machine) is ready for `event`, or when its other end has gone.
  // One watch per event and handle at a time (a second replaces the first).
  // ERROR_INVALID_HANDLE for any other handle.
  [[nodiscard]] LONG Watch(HANDLE pipe, Event event, std::function<void()> ready);
  // Drops the watches on `pipe`. When Forget returns, none of its `ready`
  // calls runs or will run, except one that called Forget itself.
  void Forget(HANDLE pipe);

 private:
  struct Entry {
    int fd = -1;
    std::function<void()> readable;
    std::function<void()> writable;
  };

  void Run();
  void Arm(HANDLE pipe, const Entry& entry, bool added);

  UniqueFd m_epoll;
  UniqueFd m_wake;
  std::recursive_mutex m_dispatch;  // held while `ready` calls run
  std::mutex m_mutex;               // guards m_entries and m_stopping
  std::map<HANDLE, Entry> m_entries;
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace vn
