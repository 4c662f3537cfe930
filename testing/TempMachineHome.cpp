#include "testing/TempMachineHome.h"

#include <fstream>

namespace vn::testing {

std::filesystem::path TempMachineHome::Prepare(const QTemporaryDir& dir, const std::string& computerName) {
  std::filesystem::path path(dir.path().toStdString());
  // Names not in the (empty) hosts file are unknown at once: a test never
  // asks the host's resolver.
  std::ofstream ini(path / "machine.ini");
  ini << "[Machine]\n";
  if (!computerName.empty()) ini << "Name=" << computerName << "\n";
  ini << "HostResolver=no\n";
  ini.close();
  std::ofstream(path / "hosts") << "# No other machines: names not listed here are unknown.\n";
  return path;
}

TempMachineHome::TempMachineHome(const std::string& computerName)
    : m_path(Prepare(m_dir, computerName)), m_local(m_path) {}

}  // namespace vn::testing
