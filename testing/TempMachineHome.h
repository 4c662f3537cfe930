#pragma once
// A machine of its own for one test: a fresh temporary home that becomes the
// local machine of the test process (and, through VORNAL_HOME, of every process
// the test starts). The previous home and environment come back when it ends.
//
// The machine knows only the machines of its hosts file (empty at first) and
// asks no resolver about others ("HostResolver = no" in machine.ini), so an
// unknown name fails at once with ERROR_BAD_NETPATH and no test reaches the
// network. A test that writes its own machine.ini and names machines the
// hosts file does not hold writes that line too.

#include <QTemporaryDir>
#include <filesystem>
#include <string>

#include "testing/ScopedLocalMachine.h"

namespace vn::testing {

class TempMachineHome {
 public:
  // `computerName` goes into the home's machine.ini when given; without one the
  // machine is named after the host.
  explicit TempMachineHome(const std::string& computerName = "TESTPC");
  TempMachineHome(const TempMachineHome&) = delete;
  TempMachineHome& operator=(const TempMachineHome&) = delete;

  const std::filesystem::path& path() const { return m_path; }

 private:
  static std::filesystem::path Prepare(const QTemporaryDir& dir, const std::string& computerName);

  QTemporaryDir m_dir;
  std::filesystem::path m_path;
  ScopedLocalMachine m_local;
};

}  // namespace vn::testing
