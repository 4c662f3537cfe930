#pragma once
// A machine of its own for one test: a fresh temporary home that becomes the
// local machine of the test process (and, through VORNAL_HOME, of every process
// the test starts). The previous home and environment come back when it ends.

#include <QTemporaryDir>
#include <filesystem>
#include <optional>
#include <string>

namespace vn::testing {

class TempMachineHome {
 public:
  // `computerName` goes into the home's machine.ini when given.
  explicit TempMachineHome(const std::string& computerName = "TESTPC");
  ~TempMachineHome();
  TempMachineHome(const TempMachineHome&) = delete;
  TempMachineHome& operator=(const TempMachineHome&) = delete;

  const std::filesystem::path& path() const { return m_path; }

 private:
  QTemporaryDir m_dir;
  std::filesystem::path m_path;
  std::optional<std::string> m_previousEnv;
  std::optional<std::filesystem::path> m_previousHome;
};

}  // namespace vn::testing
