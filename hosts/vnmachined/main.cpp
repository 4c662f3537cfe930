// vnmachined: the machine service of one Vornal machine. It serves the
// machine's registry, server information, browse list, shares and files to
// the other machines (proto/machine.proto, docs/protocol.md), and runs the
// machine's services (machined/ServiceManager.h): the automatic ones start
// once it listens, and all of them are stopped before it exits. Its job
// scheduler (machined/JobScheduler.h) runs the machine's scheduled jobs.
//
//   vnmachined [--home DIR] [--background]
//
// In the foreground (the default, used by tests) it prints one line when it is
// ready, "vnmachined: NAME listening on ADDR:PORT", and runs until SIGTERM or
// SIGINT. --background detaches it from the terminal and the session that
// started it (the console starts the local service this way, so it outlives
// the console): the starting process waits until the service is ready, prints
// the same line and exits 0, or exits 1 with the reason; the service writes
// to <home>/vnmachined.log from then on.
//
// <home>/vnmachined.pid holds the pid of the running service under an
// exclusive lock, so a second service for the same machine refuses to start.
// The service also ends by itself when its pid file disappears (its home was
// removed). Exit codes: 0 after a clean shutdown, 1 when the service cannot start, 2 for
// a bad command line or configuration.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "machined/JobScheduler.h"
#include "machined/MachineServer.h"
#include "machined/ServiceManager.h"
#include "platform/endpoints/LocalMachine.h"
#include "platform/machine/Machine.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/MachineSetup.h"
#include "platform/registry/RegistryHive.h"

namespace {

int g_readyFd = -1;  // background mode: the pipe to the starting process

// Tells the starting process (or the terminal) how the start went.
void Report(const std::string& line, bool ok) {
  std::FILE* out = ok ? stdout : stderr;
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
  if (g_readyFd >= 0) {
    const std::string message = line + "\n";
    [[maybe_unused]] auto written = ::write(g_readyFd, message.data(), message.size());
    ::close(g_readyFd);
    g_readyFd = -1;
  }
}

// Detaches: the caller waits on a pipe for the service's first line and exits
// with its outcome; the service continues in a new session, its output in the log.
void Daemonise(const std::filesystem::path& home) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    std::perror("vnmachined: pipe");
    std::exit(1);
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("vnmachined: fork");
    std::exit(1);
  }
  if (child > 0) {
    ::close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    // The middle process ends as soon as it has started the service; reap it
    // here so it never lingers as a zombie.
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    const bool ready = text.find(" listening on ") != std::string::npos;
    if (text.empty()) text = "vnmachined: the service ended before it was ready\n";
    std::fputs(text.c_str(), ready ? stdout : stderr);
    std::fflush(nullptr);
    std::_Exit(ready ? 0 : 1);
  }
  ::close(fds[0]);
  ::setsid();
  if (const pid_t again = ::fork(); again != 0) std::_Exit(again < 0 ? 1 : 0);  // never a session leader
  g_readyFd = fds[1];
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int log = ::open((home / "vnmachined.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (null >= 0) ::dup2(null, STDIN_FILENO);
  if (log >= 0) {
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
  }
  if (null > STDERR_FILENO) ::close(null);
  if (log > STDERR_FILENO) ::close(log);
  [[maybe_unused]] int ignored = ::chdir("/");
}

// The pid file, locked for the life of the service.
class PidFile {
 public:
  explicit PidFile(std::filesystem::path path) : m_path(std::move(path)) {}
  ~PidFile() {
    if (m_fd < 0) return;
    ::unlink(m_path.c_str());
    ::close(m_fd);
  }

  bool Acquire(std::string* error) {
    m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
      *error = "cannot open " + m_path.string() + ": " + std::strerror(errno);
      return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      char running[32] = {};
      [[maybe_unused]] auto n = ::pread(m_fd, running, sizeof running - 1, 0);
      *error = "another service is running for this machine (pid " + std::string(running, std::strcspn(running, "\n")) +
               ", " + m_path.string() + ")";
      ::close(m_fd);
      m_fd = -1;
      return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
      *error = "cannot write " + m_path.string();
      return false;
    }
    return true;
  }

 private:
  std::filesystem::path m_path;
  int m_fd = -1;
};

int Usage() {
  std::fprintf(stderr, "usage: vnmachined [--home DIR] [--background]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path home;
  bool background = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--home" && i + 1 < argc) {
      home = argv[++i];
    } else if (arg.starts_with("--home=")) {
      home = arg.substr(7);
    } else if (arg == "--background" || arg == "--daemon") {
      background = true;
    } else {
      return Usage();
    }
  }
  if (!home.empty()) {
    std::error_code ec;
    home = std::filesystem::absolute(home, ec);
    vn::SetMachineHome(home);
  }
  home = vn::MachineHome();

  auto config = std::make_shared<vn::MachineConfig>();
  if (std::string error; !vn::LoadMachineConfig(home, config.get(), &error)) {
    std::fprintf(stderr, "vnmachined: %s\n", error.c_str());
    return 2;
  }

  if (background) Daemonise(home);
  ::signal(SIGPIPE, SIG_IGN);

  PidFile pidFile(home / "vnmachined.pid");
  if (std::string error; !pidFile.Acquire(&error)) {
    Report("vnmachined: " + error, false);
    return 1;
  }
  if (const LONG error = vn::InitialiseMachine(*config); error != ERROR_SUCCESS) {
    Report("vnmachined: cannot initialise the machine " + config->name + " (error " + std::to_string(error) + ")",
           false);
    return 1;
  }

  // The signals that stop the service go to one thread that waits for them;
  // every other thread (gRPC's included) inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  // Other machines reach shares only, never drive roots.
  auto machine = std::make_shared<vn::LocalMachine>(config, vn::RootAccess::SharesOnly);
  LONG hiveError = ERROR_SUCCESS;
  auto hive = vn::OpenLocalHive(home.string(), &hiveError);
  if (!hive) {
    Report("vnmachined: cannot open the registry of " + config->name + " (error " + std::to_string(hiveError) + ")",
           false);
    return 1;
  }
  auto services = std::make_shared<vn::ServiceManager>(config, hive);
  vn::MachineServer server(machine, config, services);
  if (std::string error; !server.Start(&error)) {
    Report("vnmachined: " + config->name + ": " + error, false);
    return 1;
  }
  services->Start();
  // The job scheduler runs jobs while the "Schedule" service runs; VN is the
  // command-line host installed beside this executable.
  std::error_code exeError;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", exeError);
  auto scheduler = std::make_shared<vn::JobScheduler>(
      config, home / "jobs.txt", [services] { return services->ScheduleRunning(); }, vn::JobClockFromEnvironment(),
      self.parent_path() / "VN");
  scheduler->Start();
  vn::SetMachineScheduler(scheduler);
  // Stops on a signal, and also when the home has gone (a test or demo
  // network removed its temporary directory): a service must not outlive its
  // machine.
  const std::filesystem::path pidPath = home / "vnmachined.pid";
  std::thread stopper([&] {
    const timespec tick{2, 0};
    for (;;) {
      if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) break;
      if (std::error_code ec; !std::filesystem::exists(pidPath, ec)) {
        std::fprintf(stderr, "vnmachined: %s: the machine home is gone\n", config->name.c_str());
        break;
      }
    }
    server.Shutdown();
  });
  Report("vnmachined: " + config->name + " listening on " + server.Address(), true);
  server.Wait();
  stopper.join();
  vn::SetMachineScheduler(nullptr);
  scheduler->Stop();
  services->StopAll();
  std::fprintf(stderr, "vnmachined: %s stopped\n", config->name.c_str());
  return 0;
}
