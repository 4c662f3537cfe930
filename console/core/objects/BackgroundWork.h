#pragma once
// Work done off the user-interface thread whose result is applied on it: the
// listing of another machine's browse list, shares or folders, which may wait
// for a machine that is switched off.
//
// Run(work, apply) runs work() on one of the object's own threads and then
// apply(result) on the thread that owns this object, through its event loop,
// in the order results arrive. Destroying the object drops every result not
// yet applied and waits for the work still running (which the platform bounds
// by its connection time-out). Owned by a window or the loader; the owning
// thread only.

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>
#include <memory>
#include <mutex>
#include <utility>

namespace vn::console {

class CBackgroundWork : public QObject {
 public:
  explicit CBackgroundWork(int threads, QObject* parent = nullptr);
  ~CBackgroundWork() override;

  template <class Work, class Apply>
  void Run(Work work, Apply apply);
  // Work started whose result has not been applied (or dropped) yet.
  int Pending() const { return m_pending; }

 private:
  // Lets work hand its result over only while this object exists.
  struct Gate {
    std::mutex mutex;
    bool open = true;
  };

  QThreadPool m_pool;
  std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
  int m_pending = 0;
};

template <class Work, class Apply>
void CBackgroundWork::Run(Work work, Apply apply) {
  ++m_pending;
  m_pool.start([this, gate = m_gate, work = std::move(work), apply = std::move(apply)]() mutable {
    auto result = std::make_shared<decltype(work())>(work());
    const std::lock_guard<std::mutex> lock(gate->mutex);
    if (!gate->open) return;
    QMetaObject::invokeMethod(
        this,
        [this, result, apply = std::move(apply)]() mutable {
          --m_pending;
          apply(*result);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace vn::console
