#include "testing/TempMachineHome.h"

#include <cstdlib>
#include <fstream>

#include "platform/machine/Machine.h"

namespace vn::testing {

TempMachineHome::TempMachineHome(const std::string& computerName) {
  m_path = std::filesystem::path(m_dir.path().toStdString());
  std::ofstream ini(m_path / "machine.ini");
  ini << "[Machine]\n";
  if (!computerName.empty()) ini << "Name=" << computerName << "\n";
  ini << "HostResolver=no\n";
  ini.close();
  std::ofstream(m_path / "hosts") << "# No other machines: names not listed here are unknown.\n";
  if (const char* env = std::getenv("VORNAL_HOME")) m_previousEnv = env;
  m_previousHome = vn::MachineHomeSetting();
  ::setenv("VORNAL_HOME", m_path.c_str(), 1);
  vn::SetMachineHome(m_path);
}

TempMachineHome::~TempMachineHome() {
  if (m_previousEnv)
    ::setenv("VORNAL_HOME", m_previousEnv->c_str(), 1);
  else
    ::unsetenv("VORNAL_HOME");
  vn::SetMachineHome(m_previousHome);
}

}  // namespace vn::testing
