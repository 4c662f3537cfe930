#include "machined/StreamLimits.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vn {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

}  // namespace

struct StreamLimits::Entry {
  Kind kind = Kind::Stream;
  std::string peer;
  std::int64_t idleMs = 0;
  std::atomic<std::int64_t> lastActive{0};
  // Held while `onIdle` runs and when the place is given up. Recursive: the
  // call may end, and give up its place, inside `onIdle` on the same thread.
  std::recursive_mutex action;
  std::function<void()> onIdle;  // emptied once run or once the place is given up
};

StreamLimits::StreamLimits(const ServiceLimits& limits) : m_limits(limits) {
  m_sweeper = std::thread([this] { Sweep(); });
}

StreamLimits::~StreamLimits() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  m_sweeper.join();
}

std::unique_ptr<StreamLimits::Place> StreamLimits::Admit(Kind kind, const std::string& peer,
                                                         std::function<void()> onIdle) {
  const bool stream = kind == Kind::Stream;
  const std::size_t perClient = stream ? m_limits.streamsPerClient : m_limits.pipesPerClient;
  const std::size_t total = stream ? m_limits.streamsTotal : m_limits.pipesTotal;
  auto entry = std::make_shared<Entry>();
  entry->kind = kind;
  entry->peer = peer;
  entry->idleMs = 1000 * static_cast<std::int64_t>(stream ? m_limits.streamIdleSeconds : m_limits.pipeIdleSeconds);
  entry->lastActive = Now();
  entry->onIdle = std::move(onIdle);
  std::lock_guard lock(m_mutex);
  Count& count = CountOf(kind);
  std::size_t& mine = count.byPeer[peer];
  if (count.total >= total || mine >= perClient) {
    if (mine == 0) count.byPeer.erase(peer);
    return nullptr;
  }
  ++mine;
  ++count.total;
  m_entries.insert(entry);
  return std::unique_ptr<Place>(new Place(this, std::move(entry)));
}

std::size_t StreamLimits::Held(Kind kind) const {
  std::lock_guard lock(m_mutex);
  return kind == Kind::Stream ? m_streams.total : m_pipes.total;
}

void StreamLimits::Release(const std::shared_ptr<Entry>& entry) {
  {
    // Waits for an idle action running on the sweeper (unless that is us).
    std::lock_guard action(entry->action);
    entry->onIdle = nullptr;
  }
  std::lock_guard lock(m_mutex);
  m_entries.erase(entry);
  Count& count = CountOf(entry->kind);
  --count.total;
  if (const auto it = count.byPeer.find(entry->peer); it != count.byPeer.end() && --it->second == 0)
    count.byPeer.erase(it);
}

void StreamLimits::Sweep() {
  // Looks often enough that a call ends within a quarter of its time-out
  // after it became idle, and at least once a second.
  const std::int64_t shortest = std::min(m_limits.streamIdleSeconds, m_limits.pipeIdleSeconds) * 1000LL;
  const auto period = std::chrono::milliseconds(std::clamp<std::int64_t>(shortest / 4, 50, 1000));
  std::unique_lock lock(m_mutex);
  while (!m_wake.wait_for(lock, period, [this] { return m_stopping; })) {
    const std::int64_t now = Now();
    std::vector<std::shared_ptr<Entry>> idle;
    for (const auto& entry : m_entries)
      if (now - entry->lastActive.load() > entry->idleMs) idle.push_back(entry);
    if (idle.empty()) continue;
    lock.unlock();
    for (const auto& entry : idle) {
      std::lock_guard action(entry->action);
      if (std::function<void()> onIdle = std::exchange(entry->onIdle, nullptr)) onIdle();
    }
    lock.lock();
  }
}

StreamLimits::Place::~Place() { m_owner->Release(m_entry); }

void StreamLimits::Place::Touch() { m_entry->lastActive = Now(); }

}  // namespace vn
