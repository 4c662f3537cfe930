#include "machined/MachineDaemon.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "machined/JobScheduler.h"
#include "machined/MachineServer.h"
#include "machined/ServiceManager.h"
#include "platform/core/UniqueFd.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/hive/RegistryHive.h"
#include "platform/machine/HostsFile.h"
#include "platform/machine/DomainIdentity.h"
#include "platform/machine/MachineSetup.h"
#include "platform/machine/PartialCopies.h"

namespace vn {

namespace {

// How often the watcher looks for the pid file.
constexpr auto kWatchTick = std::chrono::seconds(2);

std::filesystem::path BesideThisExecutable(const char* name) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path(name) : self.parent_path() / name;
}

}  // namespace

// <home>/vnmachined.pid, locked for the life of the service; removed (then
// unlocked) when the service ends.
class MachineDaemon::PidFile {
 public:
  explicit PidFile(std::filesystem::path path) : m_path(std::move(path)) {}
  ~PidFile() {
    if (!m_fd) return;
    ::unlink(m_path.c_str());
  }
  PidFile(const PidFile&) = delete;
  PidFile& operator=(const PidFile&) = delete;

  bool Acquire(std::string* error) {
    UniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) {
      *error = "cannot open " + m_path.string() + ": " + std::strerror(errno);
      return false;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      char running[32] = {};
      [[maybe_unused]] auto n = ::pread(fd.Get(), running, sizeof running - 1, 0);
      *error = "another service is running for this machine (pid " + std::string(running, std::strcspn(running, "\n")) +
               ", " + m_path.string() + ")";
      return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.Get(), 0) != 0 ||
        ::pwrite(fd.Get(), pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
      *error = "cannot write " + m_path.string() + ": " + std::strerror(errno);
      ::unlink(m_path.c_str());
      return false;
    }
    m_fd = std::move(fd);
    return true;
  }

 private:
  std::filesystem::path m_path;
  UniqueFd m_fd;
};

MachineDaemon::MachineDaemon(std::filesystem::path home, std::filesystem::path vnHost)
    : m_vnHost(vnHost.empty() ? BesideThisExecutable("VN") : std::move(vnHost)) {
  std::error_code ec;
  m_home = std::filesystem::absolute(home, ec);
  if (ec) m_home = std::move(home);
}

MachineDaemon::~MachineDaemon() {
  Stop();
  Wait();
}

bool MachineDaemon::Configure(std::string* error) {
  if (m_config) return true;
  auto config = std::make_shared<MachineConfig>();
  if (!LoadMachineConfig(m_home, config.get(), error)) return false;
  m_config = std::move(config);
  HostsChanged(&m_hostsWarnings);
  return true;
}

bool MachineDaemon::HostsChanged(std::vector<std::string>* warnings) {
  struct stat st {};
  std::string stamp = "missing";
  if (::stat(m_config->hostsFile.c_str(), &st) == 0)
    stamp = std::to_string(st.st_size) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) +
            "." + std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_nsec);
  if (stamp == m_hostsStamp) return false;
  m_hostsStamp = std::move(stamp);
  warnings->clear();
  HostsFile::Load(m_config->hostsFile, warnings);
  return true;
}

bool MachineDaemon::Start(std::string* error) {
  if (!Configure(error)) return false;
  if (m_running) {
    *error = "the service of " + m_config->name + " is already running";
    return false;
  }
  auto pidFile = std::make_unique<PidFile>(m_home / "vnmachined.pid");
  if (!pidFile->Acquire(error)) return false;
  if (const LONG code = InitialiseMachine(*m_config); code != ERROR_SUCCESS) {
    *error = "cannot initialise the machine " + m_config->name + " (error " + std::to_string(code) + ")";
    return false;
  }
  if (const std::size_t removed = RemovePartialCopies(*m_config); removed > 0)
    std::fprintf(stderr, "vnmachined: %s: removed %zu temporary file%s of interrupted writes\n", m_config->name.c_str(),
                 removed, removed == 1 ? "" : "s");
  // A machine on its own becomes its domain's authority; one that joins an
  // existing domain has had its bundle installed before (docs/protocol.md).
  if (std::string note; !EnsureMachineIdentity(m_home, m_config->name, m_config->domain, &note, error)) {
    return false;
  } else if (!note.empty()) {
    std::fprintf(stderr, "vnmachined: %s: %s\n", m_config->name.c_str(), note.c_str());
  }
  LONG hiveError = ERROR_SUCCESS;
  auto hive = OpenLocalHive(m_home.string(), &hiveError);
  if (!hive) {
    *error = "cannot open the registry of " + m_config->name + " (error " + std::to_string(hiveError) + ")";
    return false;
  }
  auto services = std::make_shared<ServiceManager>(m_config, hive);
  // The scheduler runs jobs only while the "Schedule" service runs, so it may
  // load its jobs and start before anything is served.
  auto scheduler = std::make_shared<JobScheduler>(
      m_config, m_home / "jobs.txt", [services] { return services->ScheduleRunning(); }, JobClockFromEnvironment(),
      m_vnHost);
  scheduler->Start();
  // Other machines reach shares only, never drive roots.
  auto server = std::make_unique<MachineServer>(std::make_shared<LocalMachine>(m_config, RootAccess::SharesOnly),
                                                m_config, services, scheduler);
  if (std::string listenError; !server->Start(&listenError)) {
    *error = m_config->name + ": " + listenError;
    return false;   // the scheduler and the manager stop as they go; nothing was started
  }
  services->Start();

  m_pidFile = std::move(pidFile);
  m_services = std::move(services);
  m_scheduler = std::move(scheduler);
  m_server = std::move(server);
  {
    std::lock_guard lock(m_mutex);
    m_stopping = false;
    m_running = true;
  }
  m_watcher = std::thread([this] { Watch(); });
  return true;
}

void MachineDaemon::Watch() {
  const std::filesystem::path pidPath = m_home / "vnmachined.pid";
  std::unique_lock lock(m_mutex);
  while (!m_stopping) {
    m_wake.wait_for(lock, kWatchTick, [this] { return m_stopping; });
    if (m_stopping) break;
    if (std::error_code ec; !std::filesystem::exists(pidPath, ec)) {
      std::fprintf(stderr, "vnmachined: %s: the machine home is gone\n", m_config->name.c_str());
      m_stopping = true;
    }
    if (std::vector<std::string> warnings; HostsChanged(&warnings)) {
      for (const auto& warning : warnings) std::fprintf(stderr, "vnmachined: warning: %s\n", warning.c_str());
      std::fflush(stderr);
    }
  }
  lock.unlock();
  m_server->Shutdown();
}

void MachineDaemon::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
}

void MachineDaemon::Wait() {
  if (!m_running) return;
  m_server->Wait();
  m_watcher.join();
  m_scheduler->Stop();
  m_services->StopAll();
  m_server.reset();
  m_scheduler.reset();
  m_services.reset();
  m_pidFile.reset();
  m_running = false;
  std::fprintf(stderr, "vnmachined: %s stopped\n", m_config->name.c_str());
}

std::uint16_t MachineDaemon::Port() const { return m_server ? m_server->Port() : 0; }

std::string MachineDaemon::Address() const { return m_server ? m_server->Address() : std::string(); }

}  // namespace vn
