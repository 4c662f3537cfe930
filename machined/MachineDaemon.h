#pragma once
// The machine service of one machine as one object, wired as vnmachined runs
// it: the machine's configuration, the pid file that says who serves the
// machine, the machine's setup, its registry, its services (ServiceManager),
// its scheduled jobs (JobScheduler), and the gRPC server around them
// (MachineServer), plus a watcher that ends the service when its home goes.
// vnmachined's main is the command line and signals around it; a test builds,
// starts and stops one in its own process.
//
// Start, in order: reads <home>/machine.ini and the hosts file (Configure),
// takes an exclusive lock on <home>/vnmachined.pid and writes this process's
// pid into it (a second service for the same machine is refused), sets the
// machine up (InitialiseMachine), gives it an identity in its domain when it
// has none (EnsureMachineIdentity), removes the temporary files that writes
// of a killed service left in its shares (PartialCopies.h), opens its
// registry, loads the scheduled jobs, listens,
// then starts the automatic services. A failure undoes what was done (the pid
// file included) and says why in *error.
//
// Stop: no new calls are taken, calls in progress get a short grace; Wait
// then stops the job scheduler (running jobs run on), stops every service
// (SIGTERM, then SIGKILL after kStopWait) and removes the pid file. The
// service also stops by itself when its pid file disappears (its home was
// removed): a service must not outlive its machine.
//
// Process-wide state is the caller's: the signal dispositions and mask, and
// the local machine of the process (vn::SetMachineHome), which the named pipe
// relay uses. vnmachined makes the daemon's home the process's machine home.
//
// Threads: Configure, Start and Wait from one thread; Stop from any (a signal
// thread, say). The destructor stops and waits.

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine/MachineConfig.h"

namespace vn {

class JobScheduler;
class MachineServer;
class ServiceManager;

class MachineDaemon {
 public:
  // Serves the machine whose home is `home` (made absolute). Jobs whose
  // program is "VN" run `vnHost`; empty: VN beside the running executable.
  explicit MachineDaemon(std::filesystem::path home, std::filesystem::path vnHost = {});
  ~MachineDaemon();
  MachineDaemon(const MachineDaemon&) = delete;
  MachineDaemon& operator=(const MachineDaemon&) = delete;

  // Reads the configuration (done by Start when not done yet): false with
  // the configuration's error.
  [[nodiscard]] bool Configure(std::string* error);
  // Starts serving (see above). False with a message; then nothing runs.
  [[nodiscard]] bool Start(std::string* error);
  // Asks the service to stop; returns at once.
  void Stop();
  // Blocks until the service has stopped (Stop, or its pid file gone), then
  // stops the jobs' scheduler and the services and removes the pid file.
  void Wait();

  // Once configured.
  const MachineConfig& Config() const { return *m_config; }
  // The problems of the hosts file found by Configure, one per skipped line
  // ("FILE:LINE: problem; line ignored"; never the line itself). vnmachined
  // prints them with its start output. While the service runs, the watcher
  // reads the file again when it changes and writes its problems to stderr
  // (the service's log in the background).
  const std::vector<std::string>& HostsWarnings() const { return m_hostsWarnings; }
  // Once started: the port listened on, and "address:port".
  std::uint16_t Port() const;
  std::string Address() const;

 private:
  class PidFile;
  void Watch();
  // Reads the hosts file again when it changed since the last look; true
  // (with its warnings) when it did.
  bool HostsChanged(std::vector<std::string>* warnings);

  std::filesystem::path m_home;
  std::filesystem::path m_vnHost;
  std::shared_ptr<MachineConfig> m_config;
  std::vector<std::string> m_hostsWarnings;
  std::string m_hostsStamp;   // size, inode and change time of the hosts file when last read
  std::unique_ptr<PidFile> m_pidFile;
  std::shared_ptr<ServiceManager> m_services;
  std::shared_ptr<JobScheduler> m_scheduler;
  std::unique_ptr<MachineServer> m_server;
  std::thread m_watcher;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;
  bool m_running = false;
};

}  // namespace vn
