#include "console/core/objects/BackgroundWork.h"

namespace vn::console {

CBackgroundWork::CBackgroundWork(int threads, QObject* parent) : QObject(parent) {
  m_pool.setMaxThreadCount(threads);
}

CBackgroundWork::~CBackgroundWork() {
  {
    const std::lock_guard<std::mutex> lock(m_gate->mutex);
    m_gate->open = false;
  }
  m_pool.waitForDone();
}

}  // namespace vn::console
