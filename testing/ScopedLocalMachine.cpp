#include "testing/ScopedLocalMachine.h"

#include <cstdlib>

#include "platform/machine/Machine.h"

namespace vn::testing {

ScopedLocalMachine::ScopedLocalMachine(const std::filesystem::path& home)
    : m_previousHome(vn::ExplicitMachineHome()) {
  if (const char* env = std::getenv("VORNAL_HOME")) m_previousEnv = env;
  ::setenv("VORNAL_HOME", home.c_str(), 1);
  vn::SetMachineHome(home);
}

ScopedLocalMachine::~ScopedLocalMachine() {
  if (m_previousEnv)
    ::setenv("VORNAL_HOME", m_previousEnv->c_str(), 1);
  else
    ::unsetenv("VORNAL_HOME");
  vn::SetMachineHome(m_previousHome);
}

}  // namespace vn::testing
