#pragma once
// Flushing files to the disk behind their writers. A writer that must have
// its file on the disk before it reports success (a copy's commit) waits in
// its last fsync for everything it wrote; on a disk whose flush costs in
// proportion to what was written, that is a second wait about as long as a
// network transfer. A writer hands each few MiB to a FlushBehind instead,
// which flushes them on its own thread while the writer goes on, so that the
// last fsync finds little left to do.
//
// Threads: Post from any thread. The flusher's thread starts with the first
// Post; the destructor waits for the flush in progress and drops the rest.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/core/UniqueFd.h"

namespace vn {

class FlushBehind {
 public:
  FlushBehind() = default;
  ~FlushBehind();
  FlushBehind(const FlushBehind&) = delete;
  FlushBehind& operator=(const FlushBehind&) = delete;

  // Flushes the data of `file` (a descriptor of its own, closed once flushed)
  // soon. With kMostQueued flushes waiting already, it is dropped: the
  // writers' own fsync still covers everything.
  void Post(UniqueFd file);

  static constexpr std::size_t kMostQueued = 16;

 private:
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<UniqueFd> m_queue;
  bool m_stop = false;
  std::thread m_thread;
};

}  // namespace vn
