#pragma once
// Makes a home the local machine of the test process for a scope: through
// SetMachineHome for this process and VORNAL_HOME for the processes it starts.
// The previous setting of both comes back at the end of the scope, including
// "none": the default home is never looked at, so never created.

#include <filesystem>
#include <optional>
#include <string>

namespace vn::testing {

class ScopedLocalMachine {
 public:
  explicit ScopedLocalMachine(const std::filesystem::path& home);
  ~ScopedLocalMachine();
  ScopedLocalMachine(const ScopedLocalMachine&) = delete;
  ScopedLocalMachine& operator=(const ScopedLocalMachine&) = delete;

 private:
  std::optional<std::string> m_previousEnv;
  std::optional<std::filesystem::path> m_previousHome;
};

}  // namespace vn::testing
