#pragma once
// The fan-out of one report over its machines: every machine's call is
// started at once, up to a bound, while the report thread takes the calls'
// outcomes in the order the selection lists the machines. A call that ends
// early waits for its turn; one that is slow holds back only the hand-over
// of the calls after it, never their work.
//
// CFanOut starts work(i) for i = 0, 1, ... count-1, in that order, on at
// most `width` threads of its own. Await(i) returns when call i has ended
// (true) or will never start because Stop came first (false). Stop lets the
// calls that run finish and starts no more; the destructor stops and waits
// for every call that started. Await, Stop and Finished may be called from
// any thread; `work` runs on the fan-out's threads and must not throw.
//
// The bound: RunFanOutWidth() is what a run uses: the width set for this
// process (SetRunFanOutWidth, VN's /p option), else the profile's value
// "ParallelMachines" in section "VNReport" when it is 1 or more, else
// DefaultFanOutWidth(), four calls per processor.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vn::console {

inline constexpr const char* kFanOutSection = "VNReport";
inline constexpr const char* kFanOutEntry = "ParallelMachines";
// Past this many threads a run gains nothing but memory.
inline constexpr int kMaxFanOutWidth = 256;

int DefaultFanOutWidth();
// 0 gives the profile's value (or the default) back.
void SetRunFanOutWidth(int width);
int RunFanOutWidth();

class CFanOut {
 public:
  CFanOut(std::size_t count, int width, std::function<void(std::size_t)> work);
  ~CFanOut();
  CFanOut(const CFanOut&) = delete;
  CFanOut& operator=(const CFanOut&) = delete;

  [[nodiscard]] bool Await(std::size_t index);
  void Stop();
  // Calls that have ended so far.
  std::size_t Finished() const;

 private:
  enum class State { Waiting, Running, Ended, Skipped };
  void Worker();

  std::function<void(std::size_t)> m_work;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<State> m_states;
  std::size_t m_next = 0;      // the next call to start
  std::size_t m_finished = 0;  // calls ended
  bool m_stopped = false;
  std::vector<std::thread> m_threads;
};

}  // namespace vn::console
