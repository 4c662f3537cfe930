#pragma once
// Turns POSIX signals (SIGTERM, SIGINT) into calls on the user-interface
// thread. The signal handler only writes the signal number into a socket pair;
// a socket notifier reads it in the event loop and calls the callback there, so
// no Qt code ever runs inside a signal handler.
//
// One watcher per process at a time; it restores the previous handlers when it
// is destroyed. Construct and destroy it on the user-interface thread, after
// the Qt application object exists. If the socket pair cannot be made the
// watcher is not valid and the signals keep their previous handling.

#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "platform/core/UniqueFd.h"

class QSocketNotifier;

class CSignalWatcher {
 public:
  CSignalWatcher(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal);
  ~CSignalWatcher();
  CSignalWatcher(const CSignalWatcher&) = delete;
  CSignalWatcher& operator=(const CSignalWatcher&) = delete;

  bool IsValid() const { return m_notifier != nullptr; }

 private:
  static void Handler(int signo);
  void OnReadable();

  std::function<void(int)> m_onSignal;
  vn::UniqueFd m_read;    // read in the event loop
  vn::UniqueFd m_write;   // written by the handler
  std::unique_ptr<QSocketNotifier> m_notifier;
  std::vector<std::pair<int, struct sigaction>> m_previous;
};
