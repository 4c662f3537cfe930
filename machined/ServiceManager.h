#pragma once
// The service control manager of one machine: runs the services defined in
// the machine's registry as child processes of the machine service.
//
// A service is the key "SYSTEM\CurrentControlSet\Services\<name>" with
//   Type          REG_DWORD  SERVICE_WIN32_OWN_PROCESS (0x10) or _SHARE_PROCESS (0x20)
//   Start         REG_DWORD  2 automatic, 3 on demand, 4 disabled
//   ErrorControl  REG_DWORD  0..3 (kept, not acted on)
//   ImagePath     REG_EXPAND_SZ or REG_SZ: the command line, a path on the machine
//   DisplayName, ObjectName (the account; services run as the host user of
//   the machine service whatever it says), Group, DependOnService (kept only)
//   DeleteFlag    REG_DWORD 1 while marked for delete
// The definitions are read at each call, so a service written with the
// registry calls is as good as one made by Create.
//
// Command line (ImagePath): %SystemRoot% and %windir% are replaced by the
// Windows directory. A program path in double quotes is taken as it stands,
// the arguments follow it. An unquoted one is read as Windows reads it: the
// words are tried from the shortest prefix to the whole line until one names
// an existing file ("C:\Program Files\X\bin\VNSrv.exe -d" finds the program
// even without quotes); the rest are the arguments. Arguments are split at
// blanks, double quotes group blanks into one argument (and are removed).
// The program path goes through the machine's drive map (PathMap.h); only
// drive paths are programs.
//
// Running: the program starts (vn::StartProcess) in its own process group,
// in the Windows directory, with stdin from /dev/null, stdout and stderr
// appended to <home>/services/<name>.log, VORNAL_HOME set to the machine's
// home, default signal dispositions and mask, no descriptor of the machine
// service. It is RUNNING once its program runs; a program that cannot be run
// fails the start with its code. Stop sends SIGTERM to the group
// (STOP_PENDING, wait hint kStopWait), and SIGKILL when the wait is over. A
// program that ends by itself is STOPPED with exit code 0, or
// ERROR_SERVICE_SPECIFIC_ERROR and its exit status, or ERROR_PROCESS_ABORTED
// when a signal it was not sent by a stop ended it. A service never started
// since the machine service started reports ERROR_SERVICE_NEVER_STARTED.
//
// No service outlives its machine service: every service process is started
// by the supervisor thread, which lives as long as the manager, with SIGKILL
// as its parent-death signal, so a machine service that is killed or crashes
// takes its services' processes with it. (Linux sends that signal when the
// starting *thread* ends, which is why the calls, made on the server's pool
// threads, hand the start to the supervisor.) What a service started itself
// in its group is not reached by that signal: <home>/services/<name>.pid
// holds the pid and start time of each running service, a machine service
// that was killed leaves them behind, and its successor kills those process
// groups before it starts anything (when the pid still names the same
// process, or names none while its group lives on).
//
// "Schedule" is built in: defined at Start when missing (automatic start), it
// has no process; starting and stopping it only switch its state, which
// ScheduleRunning reports to the job scheduler.
//
// Each start, stop, end, failure to start, install and removal of a service
// is an event of the machine's event log (platform/services/EventLog.h).
//
// Threads: every call from any thread (one lock); a supervisor thread starts
// and reaps the children. Failures are Win32 codes (ServiceControl.h lists them).

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/core/Process.h"
#include "platform/hive/RegistryHive.h"
#include "platform/machine/MachineConfig.h"
#include "platform/services/ServiceControl.h"

namespace vn {

inline constexpr auto kStopWait = std::chrono::seconds(10);
inline constexpr const char* kScheduleService = "Schedule";

struct ServiceDefinition {
  std::string name;
  std::string displayName;   // empty = the name
  DWORD type = SERVICE_WIN32_OWN_PROCESS;
  DWORD start = SERVICE_DEMAND_START;
  DWORD errorControl = SERVICE_ERROR_NORMAL;
  std::string imagePath;
  std::string loadOrderGroup;
  std::vector<std::string> dependencies;
  std::string objectName;    // empty = "LocalSystem"
};

// A command line read from ImagePath.
struct ServiceCommand {
  std::filesystem::path program;        // host path of an existing file
  std::vector<std::string> arguments;   // without the program
};

// Reads `imagePath` as described above for the machine `config`. Errors:
// ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when no program is found,
// ERROR_INVALID_PARAMETER for an empty line or an unclosed quote, and the
// codes of ResolvePath.
[[nodiscard]] LONG ParseImagePath(const MachineConfig& config, std::string_view imagePath, ServiceCommand* command);

class ServiceManager {
 public:
  ServiceManager(std::shared_ptr<const MachineConfig> config, std::shared_ptr<RegistryHive> hive);
  // Stops every service (StopAll).
  ~ServiceManager();
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;

  // Kills services an earlier, killed machine service left running, defines
  // "Schedule" when missing, removes services marked for delete and starts
  // the automatic ones. A service that fails to start is reported on
  // stderr and left stopped.
  void Start();
  // Stops every running service: SIGTERM, up to `wait` for all of them, then SIGKILL.
  void StopAll(std::chrono::milliseconds wait = kStopWait);

  [[nodiscard]] LONG Open(std::string_view name);
  [[nodiscard]] LONG Query(std::string_view name, SERVICE_STATUS* status);
  [[nodiscard]] LONG StartService(std::string_view name, const std::vector<std::string>& arguments);
  // SERVICE_CONTROL_STOP waits up to a second for the service to end.
  [[nodiscard]] LONG Control(std::string_view name, DWORD control, SERVICE_STATUS* status);
  [[nodiscard]] LONG Create(const ServiceDefinition& definition);
  [[nodiscard]] LONG Delete(std::string_view name);

  // Whether the built-in "Schedule" service is running.
  bool ScheduleRunning() const;

 private:
  struct Runtime {
    pid_t pid = 0;
    DWORD state = SERVICE_STOPPED;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD win32ExitCode = ERROR_SERVICE_NEVER_STARTED;
    DWORD specificExitCode = 0;
    DWORD checkPoint = 0;
    bool stopRequested = false;
    std::chrono::steady_clock::time_point killAt;
    std::string name;   // as the key is named, for the pid file
  };
  struct Stored;
  // A process for the supervisor to start.
  struct Spawn {
    ProcessOptions options;
    bool done = false;
    int error = 0;
    pid_t pid = 0;
    std::string detail;
  };

  [[nodiscard]] LONG Read(std::string_view name, Stored* stored);
  void KillLeftovers();
  [[nodiscard]] LONG StartLocked(std::unique_lock<std::mutex>& lock, std::string_view name, const Stored& stored,
                                 const std::vector<std::string>& arguments);
  // Has the supervisor start `spawn` and waits for the outcome (the lock is
  // released meanwhile).
  void SpawnOnSupervisor(std::unique_lock<std::mutex>& lock, Spawn* spawn);
  void RunSpawns();
  void Signal(Runtime& runtime, int signal);
  void Supervise();
  void Reap(const std::string& key, Runtime& runtime, const ProcessExit& exit);
  void RemoveIfDeleted(std::string_view name);
  SERVICE_STATUS StatusOf(const Runtime& runtime) const;
  // An event of the machine's event log, source "Service Control Manager".
  void LogEvent(WORD type, DWORD id, const std::string& text) const;

  std::shared_ptr<const MachineConfig> m_config;
  std::shared_ptr<RegistryHive> m_hive;
  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::map<std::string, Runtime> m_runtime;   // upper-case name -> state
  std::deque<Spawn*> m_spawns;                // waiting for the supervisor; owned by their callers
  bool m_ending = false;
  std::thread m_supervisor;
};

}  // namespace vn
