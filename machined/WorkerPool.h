#pragma once
// A few threads of the machine service's own for the disk work of its file
// streams, so that gRPC's threads never wait on a disk. Jobs are short
// (one chunk read or written, one file opened, one directory listed) and run
// in the order posted.
//
// Ownership: the pool must outlive every job's owner; the destructor runs the
// jobs still queued, then joins. Threads: Post from any thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vn {

class WorkerPool {
 public:
  explicit WorkerPool(unsigned threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Post(std::function<void()> job);

 private:
  void Run();

  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<std::function<void()>> m_jobs;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

}  // namespace vn
