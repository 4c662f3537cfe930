#pragma once
// The places the machine service has for long calls: file streams (ReadFile,
// FindFiles, WriteFile) and relayed pipes. Each kind has a limit per caller
// (PeerIdentity) and a total; a call that finds no place is answered at once
// with ERROR_REQ_NOT_ACCEP and holds nothing. A held place remembers when its
// call last made progress; one idle for longer than its kind's time-out is
// ended by its `onIdle` action, called once from this object's sweeper thread.
//
// Ownership: Admit hands back a Place owned by the call; destroying it frees
// the place and guarantees that `onIdle` is not running and will not run.
// The StreamLimits must outlive every Place. Threads: any.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/machine/MachineConfig.h"

namespace vn {

class StreamLimits {
 public:
  enum class Kind { Stream, Pipe };

  class Place;

  explicit StreamLimits(const ServiceLimits& limits);
  ~StreamLimits();
  StreamLimits(const StreamLimits&) = delete;
  StreamLimits& operator=(const StreamLimits&) = delete;

  // A place for a call of `peer`, or null when `peer` or everyone holds as
  // many as allowed. `onIdle` must only start ending the call (cancel it): it
  // runs on the sweeper thread, and the call may finish inside it.
  std::unique_ptr<Place> Admit(Kind kind, const std::string& peer, std::function<void()> onIdle);

  // Places held now, of one kind (for tests and the log).
  std::size_t Held(Kind kind) const;

 private:
  struct Entry;
  struct Count {
    std::size_t total = 0;
    std::map<std::string, std::size_t> byPeer;
  };

  void Release(const std::shared_ptr<Entry>& entry);
  void Sweep();
  Count& CountOf(Kind kind) { return kind == Kind::Stream ? m_streams : m_pipes; }

  const ServiceLimits m_limits;
  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;
  Count m_streams;
  Count m_pipes;
  std::set<std::shared_ptr<Entry>> m_entries;
  std::thread m_sweeper;
};

class StreamLimits::Place {
 public:
  ~Place();
  Place(const Place&) = delete;
  Place& operator=(const Place&) = delete;
  // The call made progress: its idle time starts again.
  void Touch();

 private:
  friend class StreamLimits;
  Place(StreamLimits* owner, std::shared_ptr<Entry> entry) : m_owner(owner), m_entry(std::move(entry)) {}
  StreamLimits* m_owner;
  std::shared_ptr<Entry> m_entry;
};

}  // namespace vn
