#pragma once
// A network of Vornal machines on this one host, for integration tests: each
// machine has its own temporary home, computer name, loopback port and drives
// (temporary directories), and runs a real machine service process (vnmachined
// in the foreground). All machines share one hosts file, ask no resolver about
// names it does not hold (they are unknown at once), and hold an identity in
// every test domain, issued by that domain's authority (one per domain, made
// in memory by the network; platform/machine/DomainIdentity.h).
//
// The test process itself is the machine "CONSOLE" of `consoleDomain`:
// constructing the network makes CONSOLE's home the local machine of the
// process (and, through VORNAL_HOME, of the processes it starts), as
// TempMachineHome does; its service is not started unless asked for. Destroying
// the network stops every machine service politely (each stops its services)
// and restores the previous local machine. Should the test process die, its
// machine services get SIGTERM (their parent-death signal) and stop too.
// Nothing touches the developer's own machine home or the well-known port.
//
// Usage:
//   MachineNetwork net("SALES");
//   net.Add({"SRV1", "SALES", MachineRole::PrimaryDomainController, {"Data"}});
//   net.StartAll();
//   RegConnectRegistryA("\\\\SRV1", HKEY_LOCAL_MACHINE, &key);   // reaches SRV1's service
//   net.Stop("SRV1", /*kill=*/true);  net.Start("SRV1");           // same port again
//
// Add every machine before starting any: a domain added later has identities
// written to every home, but running services read theirs at start.
// Failures (a service that does not answer within 10 s) are reported as
// GoogleTest failures with the service's log.
// Threads: one test thread, which outlives the network (the machine services
// get their parent-death signal when the thread that started them ends).

#include <sys/types.h>

#include <QTemporaryDir>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/UniqueFd.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/MachineConfig.h"
#include "testing/ScopedLocalMachine.h"

namespace vn::testing {

struct TestMachineOptions {
  std::string name;
  std::string domain = "TESTDOM";
  MachineRole role = MachineRole::Server;
  // Disk shares to create: name -> directory made under the machine's D: drive.
  std::vector<std::string> shares;
  // Extra vnmachined options for every start ("--max-files", "200").
  std::vector<std::string> serviceArguments;
};

// Which identity a machine holds in a domain.
enum class TestIdentity {
  Issued,    // issued by the domain's authority (the default)
  None,      // none: it can neither prove membership nor check the domain's machines
  Foreign,   // the same names, issued by another authority (an impostor's)
};

struct TestMachine {
  std::string name;
  std::string domain;
  MachineRole role = MachineRole::Server;
  std::filesystem::path home;
  std::uint16_t port = 0;
  std::filesystem::path driveC;   // C:
  std::filesystem::path driveD;   // D:
  std::vector<std::string> serviceArguments;
  std::filesystem::path ShareDir(const std::string& share) const { return driveD / share; }
};

class MachineNetwork {
 public:
  explicit MachineNetwork(std::string consoleDomain = "TESTDOM");
  ~MachineNetwork();
  MachineNetwork(const MachineNetwork&) = delete;
  MachineNetwork& operator=(const MachineNetwork&) = delete;

  // Creates the machine's home, configuration and hosts entry; does not start it.
  const TestMachine& Add(const TestMachineOptions& wanted);
  // Starts the machine's service and waits until it answers (fails the test
  // if not). A machine keeps its port across restarts. Returns success.
  [[nodiscard]] bool Start(const std::string& name);
  // Every machine added, CONSOLE excepted: all started at once, then each
  // waited for.
  [[nodiscard]] bool StartAll();
  // Stops the service politely (SIGTERM: it stops its services first) or at
  // once (SIGKILL: its services' processes are killed with it), and waits for it.
  void Stop(const std::string& name, bool kill = false);
  // In a sanitizer build, what the sanitizers reported inside the machines'
  // processes (the machine services and the services they started, VNSrv
  // among them) fails the test: each service writes its reports to a file of
  // its own under the network's root instead of a log the test deletes. Each
  // report fails the test once, here or when the network ends.
  void CheckSanitizerReports();
  bool IsRunning(const std::string& name) const;
  // The pid of the machine's running service, or 0.
  int Pid(const std::string& name) const;

  const TestMachine& Machine(const std::string& name) const;
  const TestMachine& Console() const;
  const std::filesystem::path& HostsFile() const;
  const std::filesystem::path& Root() const { return m_root; }

  // The authority of `domain` (created when first named).
  const DomainAuthority& Authority(const std::string& domain);
  // Replaces one machine's identity in `domain`. The console sees the change
  // at its next call; a running service at its next start.
  void SetIdentity(const std::string& machine, const std::string& domain, TestIdentity identity);
  // Points the hosts file's entry of `machine` at another loopback port
  // (0: back to its own), as a misdirected or spoofed name would.
  void Redirect(const std::string& machine, std::uint16_t port);

 private:
  struct Process;
  // A service started and not yet ready: its ready line comes on `ready`.
  struct Launch {
    std::string name;
    pid_t pid = 0;
    UniqueFd ready;
    std::filesystem::path log;
  };
  std::optional<Launch> Begin(const std::string& name);
  bool AwaitReady(Launch& launch, std::chrono::steady_clock::time_point deadline);
  TestMachine& Find(const std::string& name);
  const TestMachine* FindConst(const std::string& name) const;
  TestMachine Create(const TestMachineOptions& wanted);
  void WriteIdentities(const TestMachine& machine);
  void WriteHostsFile();

  QTemporaryDir m_dir;
  std::filesystem::path m_root;
  std::filesystem::path m_hostsFile;
  std::filesystem::path m_sanitizerDir;  // where the services' sanitizer reports go
  std::deque<TestMachine> m_machines;    // CONSOLE first; references stay valid as machines are added
  std::map<std::string, std::unique_ptr<Process>> m_processes;
  std::map<std::string, DomainAuthority> m_authorities;                       // by domain
  std::map<std::string, std::map<std::string, TestIdentity>> m_overrides;     // machine -> domain -> identity
  std::map<std::string, std::uint16_t> m_redirects;                           // machine -> port
  std::optional<ScopedLocalMachine> m_local;   // CONSOLE as this process's machine
};

}  // namespace vn::testing
