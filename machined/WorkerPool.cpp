#include "machined/WorkerPool.h"

#include <utility>

namespace vn {

WorkerPool::WorkerPool(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back([this] { Run(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_ready.notify_all();
  for (std::thread& thread : m_threads) thread.join();
}

void WorkerPool::Post(std::function<void()> job) {
  {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
  }
  m_ready.notify_one();
}

void WorkerPool::Run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_ready.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
    if (m_jobs.empty()) return;  // stopping, and nothing left to do
    std::function<void()> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    lock.unlock();
    job();
    job = nullptr;
    lock.lock();
  }
}

}  // namespace vn
