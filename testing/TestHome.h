#pragma once
// The machine home of a whole test process, set up by the test mains before
// any test runs: unless VORNAL_HOME already names one, a temporary home that
// is removed at exit. Tests that need a machine make their own
// (TempMachineHome, MachineNetwork); this one only makes sure that a test
// which forgets never reaches the default home of the machine it runs on
// (/var/lib/vornal for root), nor do the processes it starts.

#include <QTemporaryDir>
#include <memory>

namespace vn::testing {

class TestProcessHome {
 public:
  TestProcessHome();
  ~TestProcessHome();
  TestProcessHome(const TestProcessHome&) = delete;
  TestProcessHome& operator=(const TestProcessHome&) = delete;

 private:
  std::unique_ptr<QTemporaryDir> m_dir;
};

}  // namespace vn::testing
