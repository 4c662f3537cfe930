#include "testing/TempMachineHome.h"

#include <fstream>

namespace vn::testing {

std::filesystem::path TempMachineHome::Prepare(const QTemporaryDir& dir, const std::string& computerName) {
  std::filesystem::path path(dir.path().toStdString());
  if (!computerName.empty()) std::ofstream(path / "machine.ini") << "[Machine]\nName=" << computerName << "\n";
  return path;
}

TempMachineHome::TempMachineHome(const std::string& computerName)
    : m_path(Prepare(m_dir, computerName)), m_local(m_path) {}

}  // namespace vn::testing
