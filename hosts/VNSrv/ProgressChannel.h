#pragma once
// The server's end of a run's progress pipe: the console (or vnadmin) serves
// a named pipe, possibly on another machine; the run sends it short texts and
// reads one reply to each, where "CANCEL" cancels the run.
//
// All pipe I/O runs on the channel's own thread, so the engine's calls
// (Progress, Cancelled) never block: Progress only keeps the latest text, and
// the thread sends it when at least kInterval has passed since the last one
// (a few texts per second at most). A pipe that cannot be opened is tried
// again at most every kRetry; one that breaks is dropped and tried again the
// same way. Nothing of the pipe ever fails the run.
//
// Begin sends the first text before the scan starts and waits for its reply
// for at most `wait`, so a cancel pressed before the run got going is seen
// at once. Finish stops the thread (closing the pipe wakes a blocked read)
// and joins it; the destructor finishes too.
//
// Threads: Progress and Cancelled from any thread; the rest from the thread
// that owns the run.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/core/Win32Types.h"
#include "server/ReportEngine.h"

namespace vn::vnsrv {

class ProgressChannel : public server::ProgressSink {
 public:
  static constexpr std::chrono::milliseconds kInterval{250};
  static constexpr std::chrono::milliseconds kRetry{3000};
  // The longest text sent (the console reads messages of 260 bytes).
  static constexpr std::size_t kMaxText = 259;

  // `pipeName` may be empty (no progress is sent). `stopping`, when set,
  // cancels the run too (the server is stopping).
  ProgressChannel(std::string pipeName, const std::atomic<bool>* stopping);
  ~ProgressChannel() override;
  ProgressChannel(const ProgressChannel&) = delete;
  ProgressChannel& operator=(const ProgressChannel&) = delete;

  void Begin(std::string text, std::chrono::milliseconds wait);
  void Progress(std::string_view text) override;
  bool Cancelled() const override;
  void Finish();

 private:
  void Run();
  bool Exchange(const std::string& text);  // false: the pipe failed

  const std::string m_pipeName;
  const std::atomic<bool>* m_stopping;
  std::atomic<bool> m_cancelled{false};
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::string m_pending;         // latest text not yet sent
  bool m_hasPending = false;
  bool m_finishing = false;
  int m_exchanges = 0;           // texts answered or given up on
  HANDLE m_pipe = nullptr;       // guarded by m_mutex for Finish's close
  std::thread m_thread;
};

}  // namespace vn::vnsrv
