#pragma once
// A network of Vornal machines on this one host, for integration tests: each
// machine has its own temporary home, computer name, loopback port and drives
// (temporary directories), and runs a real machine service process. All
// machines share one hosts file and know the secrets of every test domain.
//
// The test process itself is the machine "CONSOLE" (domain of the first
// machine added unless given): constructing the network makes CONSOLE's home
// the local machine of the process, as TempMachineHome does; its service is
// not started unless asked for. Destroying the network stops every service and
// restores the previous local machine. Nothing touches the developer's own
// machine home or the well-known port.

#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MachineConfig.h"

namespace vn::testing {

struct TestMachineSpec {
  std::string name;
  std::string domain = "TESTDOM";
  MachineRole role = MachineRole::Server;
  // Disk shares to create: name -> directory made under the machine's D: drive.
  std::vector<std::string> shares;
};

struct TestMachine {
  std::string name;
  std::string domain;
  std::filesystem::path home;
  std::uint16_t port = 0;
  std::filesystem::path driveC;   // C:
  std::filesystem::path driveD;   // D:
  std::filesystem::path ShareDir(const std::string& share) const { return driveD / share; }
};

class MachineNetwork {
 public:
  explicit MachineNetwork(std::string consoleDomain = "TESTDOM");
  ~MachineNetwork();
  MachineNetwork(const MachineNetwork&) = delete;
  MachineNetwork& operator=(const MachineNetwork&) = delete;

  // Creates the machine's home, configuration and hosts entry; does not start it.
  const TestMachine& Add(const TestMachineSpec& spec);
  // Starts the machine's service and waits until it answers (fails the test if not).
  void Start(const std::string& name);
  void StartAll();
  // Stops the service politely (SIGTERM) or at once (SIGKILL).
  void Stop(const std::string& name, bool kill = false);
  bool IsRunning(const std::string& name) const;

  const TestMachine& Machine(const std::string& name) const;
  const TestMachine& Console() const;
  const std::filesystem::path& HostsFile() const;

 private:
  struct Process;
  QTemporaryDir m_dir;
  std::filesystem::path m_root;
  std::vector<TestMachine> m_machines;
  std::vector<std::unique_ptr<Process>> m_processes;
  std::optional<std::string> m_previousEnv;
  std::filesystem::path m_previousHome;
};

}  // namespace vn::testing
