#include "platform/endpoints/MachineServiceStarter.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>

#include "platform/core/Process.h"
#include "platform/core/UniqueFd.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/RemoteMachine.h"

namespace vn {
namespace {

// Where to reach a service listening on `address`: an any-address listener is
// reached on loopback.
std::string PingAddress(const std::string& address) {
  if (address == "0.0.0.0" || address.empty()) return "127.0.0.1";
  if (address == "[::]") return "[::1]";
  return address;
}

std::filesystem::path ServiceProgram() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return self.parent_path() / "vnmachined";
}

// Runs the launcher, which returns once the service is ready or has failed;
// its output (one line) goes to *detail.
bool Launch(const std::filesystem::path& program, const std::filesystem::path& home, std::string* detail) {
  int error = 0;
  PipeEnds out = MakePipe(&error);
  if (!out.read) {
    if (detail) *detail = std::string("pipe: ") + std::strerror(error);
    return false;
  }
  ProcessOptions options;
  options.program = program.string();
  options.arguments = {"--home", home.string(), "--background"};
  options.input = ChildStream::Null();
  options.output = ChildStream::Descriptor(out.write.Get());
  options.error = ChildStream::SameAsOutput();
  pid_t pid = 0;
  std::string startError;
  if (StartProcess(options, &pid, &startError) != 0) {
    if (detail) *detail = startError;
    return false;
  }
  out.write.Reset();
  std::string text = ReadToEnd(out.read);
  const ProcessExit exit = WaitProcess(pid);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (detail) *detail = text;
  return exit.Succeeded();
}

// True while a service (running or still starting) holds the pid file's lock.
bool PidFileHeld(const std::filesystem::path& home) {
  const UniqueFd fd(::open((home / "vnmachined.pid").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  return ::flock(fd.Get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

// The pid of the service holding the pid file's lock, or 0. A file nobody
// holds is left over from a service that died: its pid means nothing.
int LockedServicePid(const std::filesystem::path& home) {
  const UniqueFd fd(::open((home / "vnmachined.pid").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return 0;
  if (::flock(fd.Get(), LOCK_SH | LOCK_NB) == 0 || errno != EWOULDBLOCK) return 0;
  char text[32] = {};
  const ssize_t length = ::pread(fd.Get(), text, sizeof text - 1, 0);
  if (length <= 0) return 0;   // still starting: the pid is not written yet
  int pid = 0;
  const auto [end, error] = std::from_chars(text, text + length, pid);
  return error == std::errc() && (end == text + length || *end == '\n') && pid > 1 ? pid : 0;
}

std::string ServiceAddress(const MachineConfig& config) {
  return PingAddress(config.listenAddress) + ":" + std::to_string(config.port);
}

// True when a service answers on the configured address and port with the
// machine's name, whichever home it serves.
bool AnswersAs(const MachineConfig& config) {
  RemoteMachine service(config.name, ServiceAddress(config), config.domain, &LocalIdentity);
  ServerInfo info;
  return service.GetServerInfo(&info) == ERROR_SUCCESS && info.name == config.name;
}

}  // namespace

bool LocalMachineServiceAnswers() {
  const auto config = LocalMachineConfig();
  return PidFileHeld(config->home) && AnswersAs(*config);
}

LONG EnsureLocalMachineService(std::string* detail, bool* started, std::chrono::milliseconds timeout) {
  if (started) *started = false;
  if (LocalMachineServiceAnswers()) return ERROR_SUCCESS;
  const auto config = LocalMachineConfig();
  if (const char* off = std::getenv("VORNAL_NO_AUTOSTART"); off && std::string_view(off) == "1") {
    if (detail) *detail = "not started (VORNAL_NO_AUTOSTART=1)";
    return ERROR_SERVICE_DISABLED;
  }
  const auto program = ServiceProgram();
  std::error_code ec;
  if (program.empty() || !std::filesystem::exists(program, ec)) {
    if (detail) *detail = "no machine service program at " + program.string();
    return ERROR_FILE_NOT_FOUND;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // The launcher fails when another service already holds the machine (one
  // that is still starting, say): then wait for that one to answer.
  const bool launched = Launch(program, config->home, detail);
  while (std::chrono::steady_clock::now() < deadline) {
    if (LocalMachineServiceAnswers()) {
      if (started) *started = launched;
      return ERROR_SUCCESS;
    }
    if (!launched && !PidFileHeld(config->home)) break;  // it could not start, and nobody else is starting it
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (detail && !PidFileHeld(config->home) && AnswersAs(*config)) {
    if (!detail->empty()) *detail += "; ";
    *detail += "the service answering on " + ServiceAddress(*config) + " as " + config->name +
               " serves another home, not " + config->home.string() +
               ": give this machine an address or port of its own (Listen in machine.ini)";
  }
  return ERROR_SERVICE_REQUEST_TIMEOUT;
}

LocalMachineServiceState QueryLocalMachineService() {
  const auto config = LocalMachineConfig();
  LocalMachineServiceState state;
  state.name = config->name;
  state.domain = config->domain;
  state.address = config->listenAddress + ":" + std::to_string(config->port);
  state.pid = LockedServicePid(config->home);
  state.running = state.pid != 0;
  state.answers = state.running && AnswersAs(*config);
  return state;
}

LONG StopLocalMachineService(std::chrono::milliseconds timeout, int* pid) {
  const auto config = LocalMachineConfig();
  const int service = LockedServicePid(config->home);
  if (pid) *pid = service;
  if (service == 0) return ERROR_SERVICE_NOT_ACTIVE;
  if (const int error = SignalProcess(service, SIGTERM); error != 0)
    return error == ESRCH ? ERROR_SERVICE_NOT_ACTIVE : ERROR_ACCESS_DENIED;
  return WaitForProcessEnd(service, timeout) ? ERROR_SUCCESS : ERROR_SERVICE_REQUEST_TIMEOUT;
}

}  // namespace vn
