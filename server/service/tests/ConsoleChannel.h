#pragma once
// The console's end of a progress pipe, as the report run's channel thread
// serves it: a message-mode pipe of this (the CONSOLE) machine that records
// each text a server sends and answers it with an empty text, or with
// "CANCEL" once when a cancel was asked for. `closeAfter` > 0 closes the pipe
// for good after that many texts (a console that goes away).
// Threads: the pipe is served on its own thread; the rest from any thread.

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::testing {

class ConsoleChannel {
 public:
  explicit ConsoleChannel(bool cancelFirst = false, int closeAfter = 0);
  ~ConsoleChannel();

  // "\\CONSOLE\pipe\NAME": the name a server on another machine is given.
  std::string RemoteName() const;
  std::vector<std::string> Texts() const;
  void CancelNext() { m_cancel = true; }

 private:
  void Serve();

  std::string m_name;
  std::atomic<bool> m_cancel;
  int m_closeAfter;
  HANDLE m_pipe = nullptr;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_texts;
  std::thread m_thread;
};

}  // namespace vn::testing
