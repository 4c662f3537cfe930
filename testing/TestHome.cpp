#include "testing/TestHome.h"

#include <cstdlib>

namespace vn::testing {

TestProcessHome::TestProcessHome() {
  if (const char* env = std::getenv("VORNAL_HOME"); env && *env) return;
  m_dir = std::make_unique<QTemporaryDir>();
  ::setenv("VORNAL_HOME", m_dir->path().toLocal8Bit().constData(), 1);
}

TestProcessHome::~TestProcessHome() {
  if (m_dir) ::unsetenv("VORNAL_HOME");
}

}  // namespace vn::testing
