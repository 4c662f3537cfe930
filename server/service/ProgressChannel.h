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
// at once; after the scan, the server sends its delivery texts the same way,
// so that none replaces another before it is sent. Finish stops the thread (closing the pipe wakes a blocked read)
// and waits for it at most kFinishWait: a thread still stuck in opening a
// pipe of a machine that does not answer is handed to `park`, which joins it
// later, so the run's answer never waits for the console's machine. The
// destructor finishes too.
//
// Threads: Progress and Cancelled from any thread; the rest from the thread
// that owns the run.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Win32Types.h"
#include "server/engine/ReportEngine.h"

namespace vn::vnsrv {

// Takes threads that could not be joined at once and joins them later: each
// Adopt joins those that have ended by then (`ended` says so), JoinAll the
// rest (ReportServer calls it when it stops). Any thread.
class ThreadPark {
 public:
  ~ThreadPark() { JoinAll(); }
  void Adopt(std::thread thread, std::function<bool()> ended);
  void JoinAll();

 private:
  std::mutex m_mutex;
  std::vector<std::pair<std::thread, std::function<bool()>>> m_threads;
};

class ProgressChannel : public server::ProgressSink {
 public:
  static constexpr std::chrono::milliseconds kInterval{250};
  static constexpr std::chrono::milliseconds kRetry{3000};
  static constexpr std::chrono::milliseconds kFinishWait{1000};
  // The longest text sent (the console reads messages of 260 bytes).
  static constexpr std::size_t kMaxText = 259;

  // `pipeName` may be empty (no progress is sent). `stopping`, when set,
  // cancels the run too (the server is stopping). `park` outlives the channel.
  ProgressChannel(std::string pipeName, const std::atomic<bool>* stopping, ThreadPark* park);
  ~ProgressChannel() override;
  ProgressChannel(const ProgressChannel&) = delete;
  ProgressChannel& operator=(const ProgressChannel&) = delete;

  void Begin(std::string text, std::chrono::milliseconds wait);
  void Progress(std::string_view text) override;
  bool Cancelled() const override;
  void Finish();

 private:
  // What the channel's thread uses; it holds it as long as it runs.
  struct State {
    std::string pipeName;
    std::atomic<bool> cancelled{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::string pending;       // latest text not yet sent
    bool hasPending = false;
    bool finishing = false;
    bool exited = false;
    int exchanges = 0;         // texts answered or given up on
    HANDLE pipe = nullptr;     // closed by Finish to wake the thread
  };
  static void Run(const std::shared_ptr<State>& state);
  [[nodiscard]] static bool Exchange(State& state, const std::string& text);  // false: the pipe failed

  std::shared_ptr<State> m_state;
  const std::atomic<bool>* m_stopping;
  ThreadPark* m_park;
  std::thread m_thread;
};

}  // namespace vn::vnsrv
