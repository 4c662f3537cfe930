#include "machined/ServiceManager.h"

#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "platform/core/Messages.h"
#include "platform/services/EventLog.h"
#include "platform/core/AsciiText.h"
#include "platform/machine/MachineSetup.h"
#include "platform/machine/PathMap.h"

namespace vn {

namespace {

constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";
constexpr std::size_t kMaxServiceName = 256;
constexpr auto kTick = std::chrono::milliseconds(50);
constexpr auto kStopReplyWait = std::chrono::seconds(1);

bool ValidServiceName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxServiceName && name.find_first_of("\\/") == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool IsSchedule(std::string_view name) { return EqualsIgnoringCase(name, kScheduleService); }

LONG ReadDword(RegistryHive& hive, KeyId key, std::string_view name, DWORD* value) {
  RegValue data;
  if (const LONG error = hive.QueryValue(key, name, &data); error != ERROR_SUCCESS) return error;
  if (data.type != REG_DWORD || data.data.size() != 4) return ERROR_INVALID_DATA;  // a value of the wrong type
  *value = static_cast<DWORD>(data.data[0]) | static_cast<DWORD>(data.data[1]) << 8 |
           static_cast<DWORD>(data.data[2]) << 16 | static_cast<DWORD>(data.data[3]) << 24;
  return ERROR_SUCCESS;
}

LONG WriteDword(RegistryHive& hive, KeyId key, std::string_view name, DWORD value) {
  const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                        static_cast<BYTE>(value >> 24)};
  return hive.SetValue(key, name, REG_DWORD, data, 4);
}

// REG_SZ and REG_EXPAND_SZ data hold their terminating NUL.
LONG WriteString(RegistryHive& hive, KeyId key, std::string_view name, DWORD type, const std::string& text) {
  return hive.SetValue(key, name, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
}

// Deletes `name` below `parent` with every key under it.
LONG DeleteTree(RegistryHive& hive, KeyId parent, const std::string& name) {
  KeyId key = 0;
  if (const LONG error = hive.OpenKey(parent, name, &key); error != ERROR_SUCCESS) return error;
  std::string child;
  while (hive.EnumKey(key, 0, &child, nullptr) == ERROR_SUCCESS)
    if (const LONG error = DeleteTree(hive, key, child); error != ERROR_SUCCESS) return error;
  return hive.DeleteKey(parent, name);
}

// Replaces %SystemRoot% and %windir% (without case) by the Windows directory.
std::string ExpandSystemRoot(std::string_view line, const std::string& windows) {
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    bool replaced = false;
    for (std::string_view variable : {std::string_view("%SystemRoot%"), std::string_view("%windir%")}) {
      if (EqualsIgnoringCase(line.substr(i, variable.size()), variable)) {
        out += windows;
        i += variable.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += line[i++];
  }
  return out;
}

// Splits at blanks; double quotes group and are removed. False for an unclosed quote.
bool SplitArguments(std::string_view text, std::vector<std::string>* words) {
  std::string word;
  bool inWord = false, quoted = false;
  for (const char c : text) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) words->push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quoted) return false;
  if (inWord) words->push_back(word);
  return true;
}

// The host path of the program at the Windows path `path` ("C:\dir\x.exe").
LONG ResolveProgram(const MachineConfig& config, std::string_view path, std::filesystem::path* host) {
  if (path.size() < 3 || !IsDriveRoot(path.substr(0, 2)) || (path[2] != '\\' && path[2] != '/'))
    return ERROR_PATH_NOT_FOUND;
  ResolvedPath resolved;
  const MachinePath machinePath{std::string(path.substr(0, 2)), std::string(path.substr(3))};
  if (const LONG error = ResolvePath(config, machinePath, RootAccess::SharesAndDrives, PathKind::Name, &resolved))
    return error;
  if (!resolved.Exists()) return resolved.existing + 1 < resolved.components.size() ? ERROR_PATH_NOT_FOUND
                                                                                     : ERROR_FILE_NOT_FOUND;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(resolved.host, ec)) return ERROR_FILE_NOT_FOUND;
  *host = resolved.host;
  return ERROR_SUCCESS;
}

// The start time of process `pid` in clock ticks since boot (field 22 of
// /proc/<pid>/stat), or 0 when there is no such process. With the pid it
// names one process: a pid used again later has another start time.
unsigned long long ProcessStartTime(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i)
    if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
  return 0;
}

}  // namespace

LONG ParseImagePath(const MachineConfig& config, std::string_view imagePath, ServiceCommand* command) {
  const std::string line = ExpandSystemRoot(imagePath, config.windowsDirectory);
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return ERROR_INVALID_PARAMETER;
  std::string_view rest = std::string_view(line).substr(start);
  command->arguments.clear();
  if (rest.front() == '"') {
    const std::size_t close = rest.find('"', 1);
    if (close == std::string_view::npos) return ERROR_INVALID_PARAMETER;
    if (const LONG error = ResolveProgram(config, rest.substr(1, close - 1), &command->program)) return error;
    return SplitArguments(rest.substr(close + 1), &command->arguments) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  }
  // Unquoted: the shortest prefix ending before a blank (or the whole line)
  // that names an existing file is the program.
  // When none does, the whole line's error is the answer.
  LONG last = ERROR_FILE_NOT_FOUND;
  for (std::size_t end = 0; end != std::string_view::npos;) {
    end = rest.find(' ', end + 1);
    const std::string_view candidate = rest.substr(0, end);
    const LONG error = ResolveProgram(config, candidate, &command->program);
    if (error == ERROR_SUCCESS) {
      const std::string_view arguments = end == std::string_view::npos ? std::string_view() : rest.substr(end);
      return SplitArguments(arguments, &command->arguments) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    last = error;
  }
  return last;
}

struct ServiceManager::Stored {
  std::string name;     // as the key is named
  DWORD type = SERVICE_WIN32_OWN_PROCESS;
  DWORD start = SERVICE_DEMAND_START;
  std::string imagePath;
  bool deleted = false;
};

ServiceManager::ServiceManager(std::shared_ptr<const MachineConfig> config, std::shared_ptr<RegistryHive> hive)
    : m_config(std::move(config)), m_hive(std::move(hive)) {
  m_supervisor = std::thread([this] { Supervise(); });
}

ServiceManager::~ServiceManager() {
  StopAll();
  {
    std::lock_guard lock(m_mutex);
    m_ending = true;
  }
  m_changed.notify_all();
  m_supervisor.join();
}

LONG ServiceManager::Read(std::string_view name, Stored* stored) {
  if (!ValidServiceName(name)) return ERROR_INVALID_NAME;
  KeyId key = 0;
  const LONG error = m_hive->OpenKey(kRootKey, std::string(kServicesKey) + "\\" + std::string(name), &key);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SERVICE_DOES_NOT_EXIST;
  if (error != ERROR_SUCCESS) return error;
  stored->name = std::string(name);
  ReadDword(*m_hive, key, "Type", &stored->type);
  ReadDword(*m_hive, key, "Start", &stored->start);
  DWORD deleted = 0;
  stored->deleted = ReadDword(*m_hive, key, "DeleteFlag", &deleted) == ERROR_SUCCESS && deleted != 0;
  RegValue image;
  if (m_hive->QueryValue(key, "ImagePath", &image) == ERROR_SUCCESS &&
      (image.type == REG_SZ || image.type == REG_EXPAND_SZ)) {
    stored->imagePath.assign(image.data.begin(), image.data.end());
    stored->imagePath.resize(std::strlen(stored->imagePath.c_str()));
  }
  return ERROR_SUCCESS;
}

void ServiceManager::KillLeftovers() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(m_config->home / "services", ec)) {
    if (entry.path().extension() != ".pid") continue;
    long long pid = 0;
    unsigned long long started = 0;
    std::ifstream(entry.path()) >> pid >> started;
    if (pid > 1 && started != 0) {
      // The service's group is the earlier service's when its leader is still
      // the recorded process, or when the leader is gone and the group lives
      // on (a pid cannot be handed out again while a group of that id has
      // members). A pid used again by another process is left alone.
      const pid_t leader = static_cast<pid_t>(pid);
      const unsigned long long now = ProcessStartTime(leader);
      if (now == started || (now == 0 && SignalProcessGroup(leader, 0) == 0)) {
        std::fprintf(stderr, "vnmachined: ending %s left running by an earlier machine service (pid %lld)\n",
                     entry.path().stem().c_str(), pid);
        SignalProcessGroup(leader, SIGKILL);
        if (now != 0) SignalProcess(leader, SIGKILL);
      }
    }
    std::filesystem::remove(entry.path(), ec);
  }
}

void ServiceManager::Start() {
  KillLeftovers();
  {
    std::lock_guard lock(m_mutex);
    KeyId key = 0;
    bool created = false;
    const std::string schedule = std::string(kServicesKey) + "\\" + kScheduleService;
    if (m_hive->CreateKey(kRootKey, schedule, &key, &created) == ERROR_SUCCESS && created) {
      WriteDword(*m_hive, key, "Type", SERVICE_WIN32_OWN_PROCESS);
      WriteDword(*m_hive, key, "Start", SERVICE_AUTO_START);
      WriteDword(*m_hive, key, "ErrorControl", SERVICE_ERROR_NORMAL);
      WriteString(*m_hive, key, "ImagePath", REG_EXPAND_SZ, "%SystemRoot%\\System32\\AtSvc.Exe");
      WriteString(*m_hive, key, "DisplayName", REG_SZ, kScheduleService);
      WriteString(*m_hive, key, "ObjectName", REG_SZ, "LocalSystem");
    }
  }
  std::vector<std::string> names;
  KeyId services = 0;
  if (m_hive->OpenKey(kRootKey, kServicesKey, &services) == ERROR_SUCCESS) {
    std::string name;
    for (DWORD i = 0; m_hive->EnumKey(services, i, &name, nullptr) == ERROR_SUCCESS; ++i) names.push_back(name);
  }
  for (const auto& name : names) {
    std::unique_lock lock(m_mutex);
    Stored stored;
    if (Read(name, &stored) != ERROR_SUCCESS) continue;
    if (stored.deleted) {
      RemoveIfDeleted(name);
    } else if (stored.start == SERVICE_AUTO_START) {
      if (const LONG error = StartLocked(lock, name, stored, {}); error != ERROR_SUCCESS)
        std::fprintf(stderr, "vnmachined: service %s did not start (error %d)\n", name.c_str(),
                     static_cast<int>(error));
    }
  }
}

void ServiceManager::StopAll(std::chrono::milliseconds wait) {
  std::unique_lock lock(m_mutex);
  const auto killAt = std::chrono::steady_clock::now() + wait;
  // Services still being started are waited for and stopped too; the
  // supervisor reaps them all and kills what outstays the wait.
  for (;;) {
    bool running = !m_spawns.empty();
    for (auto& [key, runtime] : m_runtime) {
      if (runtime.pid <= 0) {
        if (runtime.state == SERVICE_START_PENDING) {
          running = true;   // its start settles under the lock soon
        } else {
          runtime.state = SERVICE_STOPPED;
        }
        continue;
      }
      running = true;
      if (!runtime.stopRequested) Signal(runtime, SIGTERM);
      runtime.killAt = std::min(runtime.killAt, killAt);
    }
    if (!running) return;
    m_changed.notify_all();
    m_changed.wait(lock);
  }
}

void ServiceManager::Signal(Runtime& runtime, int signal) {
  if (signal == SIGTERM) {
    runtime.stopRequested = true;
    runtime.state = SERVICE_STOP_PENDING;
    runtime.checkPoint = 1;
    runtime.killAt = std::chrono::steady_clock::now() + kStopWait;
  }
  // The whole group: a script's own children end with it.
  if (SignalProcessGroup(runtime.pid, signal) != 0) SignalProcess(runtime.pid, signal);
}

void ServiceManager::Supervise() {
  std::unique_lock lock(m_mutex);
  while (!m_ending) {
    RunSpawns();
    m_changed.wait_for(lock, kTick, [this] { return m_ending || !m_spawns.empty(); });
    RunSpawns();
    bool changed = false;
    const auto now = std::chrono::steady_clock::now();
    for (auto& [key, runtime] : m_runtime) {
      if (runtime.pid <= 0) continue;
      if (const auto exit = TryWaitProcess(runtime.pid)) {
        Reap(key, runtime, *exit);
        changed = true;
      } else if (runtime.stopRequested && now >= runtime.killAt) {
        Signal(runtime, SIGKILL);
        runtime.killAt = now + std::chrono::hours(1);
      }
    }
    if (changed) {
      // Services marked for delete leave the registry once stopped.
      std::vector<std::string> stopped;
      for (const auto& [key, runtime] : m_runtime)
        if (runtime.state == SERVICE_STOPPED) stopped.push_back(key);
      for (const auto& key : stopped) RemoveIfDeleted(key);
      m_changed.notify_all();
    }
  }
  // Nobody starts anything any more: callers still waiting hear so.
  for (Spawn* spawn : m_spawns) {
    spawn->done = true;
    spawn->error = ECANCELED;
    spawn->detail = "the service manager is ending";
  }
  m_spawns.clear();
  m_changed.notify_all();
}

void ServiceManager::RunSpawns() {
  if (m_spawns.empty()) return;
  while (!m_spawns.empty()) {
    Spawn* spawn = m_spawns.front();
    m_spawns.pop_front();
    spawn->error = StartProcess(spawn->options, &spawn->pid, &spawn->detail);
    spawn->done = true;
  }
  m_changed.notify_all();
}

void ServiceManager::SpawnOnSupervisor(std::unique_lock<std::mutex>& lock, Spawn* spawn) {
  if (std::this_thread::get_id() == m_supervisor.get_id()) {
    spawn->error = StartProcess(spawn->options, &spawn->pid, &spawn->detail);
    spawn->done = true;
    return;
  }
  if (m_ending) {
    spawn->done = true;
    spawn->error = ECANCELED;
    spawn->detail = "the service manager is ending";
    return;
  }
  m_spawns.push_back(spawn);
  m_changed.notify_all();
  m_changed.wait(lock, [spawn] { return spawn->done; });
}

namespace {

// The system's text of a code, for an event.
std::string CodeText(LONG code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string out(text, length);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out.empty() ? "error " + std::to_string(code) : out;
}

}  // namespace

void ServiceManager::LogEvent(WORD type, DWORD id, const std::string& text) const {
  (void)WriteMachineEvent(*m_config, type, kServiceControlSource, id, text);
}

void ServiceManager::Reap(const std::string& key, Runtime& runtime, const ProcessExit& exit) {
  std::error_code ec;
  std::filesystem::remove(m_config->home / "services" / (runtime.name + ".pid"), ec);
  runtime.pid = 0;
  runtime.state = SERVICE_STOPPED;
  runtime.checkPoint = 0;
  runtime.specificExitCode = 0;
  if (exit.Exited() && exit.code != 0) {
    runtime.win32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    runtime.specificExitCode = static_cast<DWORD>(exit.code);
  } else if (!exit.Exited() && !runtime.stopRequested) {
    runtime.win32ExitCode = ERROR_PROCESS_ABORTED;
  } else {
    runtime.win32ExitCode = ERROR_SUCCESS;
  }
  const std::string shown = runtime.name.empty() ? key : runtime.name;
  if (runtime.win32ExitCode == static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR)) {
    LogEvent(EVENTLOG_ERROR_TYPE, 7024,
             "The " + shown + " service terminated with service-specific error " +
                 std::to_string(runtime.specificExitCode) + ".");
  } else if (runtime.win32ExitCode == static_cast<DWORD>(ERROR_PROCESS_ABORTED)) {
    LogEvent(EVENTLOG_ERROR_TYPE, 7034, "The " + shown + " service terminated unexpectedly.");
  } else {
    LogEvent(EVENTLOG_INFORMATION_TYPE, 7036, "The " + shown + " service entered the stopped state.");
  }
  runtime.stopRequested = false;
  std::fprintf(stderr, "vnmachined: service %s stopped (exit code %u/%u)\n", key.c_str(),
               static_cast<unsigned>(runtime.win32ExitCode), static_cast<unsigned>(runtime.specificExitCode));
}

void ServiceManager::RemoveIfDeleted(std::string_view name) {
  Stored stored;
  if (Read(name, &stored) != ERROR_SUCCESS || !stored.deleted) return;
  KeyId services = 0;
  if (m_hive->OpenKey(kRootKey, kServicesKey, &services) != ERROR_SUCCESS) return;
  // The key's own spelling, for the hive's delete.
  std::string keyName;
  for (DWORD i = 0; m_hive->EnumKey(services, i, &keyName, nullptr) == ERROR_SUCCESS; ++i)
    if (EqualsIgnoringCase(keyName, name)) break;
  DeleteTree(*m_hive, services, keyName);
  m_runtime.erase(ToUpperAscii(name));
  LogEvent(EVENTLOG_INFORMATION_TYPE, 7046, "The " + keyName + " service was removed from the system.");
}

SERVICE_STATUS ServiceManager::StatusOf(const Runtime& runtime) const {
  SERVICE_STATUS status{};
  status.dwServiceType = runtime.type;
  status.dwCurrentState = runtime.state;
  status.dwControlsAccepted = runtime.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = runtime.win32ExitCode;
  status.dwServiceSpecificExitCode = runtime.specificExitCode;
  const bool pending = runtime.state == SERVICE_START_PENDING || runtime.state == SERVICE_STOP_PENDING;
  status.dwCheckPoint = pending ? runtime.checkPoint : 0;
  status.dwWaitHint =
      pending ? static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(kStopWait).count()) : 0;
  return status;
}

LONG ServiceManager::Open(std::string_view name) {
  std::lock_guard lock(m_mutex);
  Stored stored;
  return Read(name, &stored);
}

LONG ServiceManager::Query(std::string_view name, SERVICE_STATUS* status) {
  std::lock_guard lock(m_mutex);
  Stored stored;
  if (const LONG error = Read(name, &stored)) return error;
  Runtime& runtime = m_runtime[ToUpperAscii(name)];
  if (runtime.state == SERVICE_STOPPED) runtime.type = stored.type;
  *status = StatusOf(runtime);
  return ERROR_SUCCESS;
}

LONG ServiceManager::StartService(std::string_view name, const std::vector<std::string>& arguments) {
  std::unique_lock lock(m_mutex);
  Stored stored;
  if (const LONG error = Read(name, &stored)) return error;
  return StartLocked(lock, name, stored, arguments);
}

LONG ServiceManager::StartLocked(std::unique_lock<std::mutex>& lock, std::string_view name, const Stored& stored,
                                 const std::vector<std::string>& arguments) {
  if (stored.deleted) return ERROR_SERVICE_MARKED_FOR_DELETE;
  if (stored.start == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
  Runtime& runtime = m_runtime[ToUpperAscii(name)];
  if (runtime.state != SERVICE_STOPPED) return ERROR_SERVICE_ALREADY_RUNNING;
  runtime.type = stored.type;
  runtime.specificExitCode = 0;
  if (IsSchedule(name)) {
    runtime.state = SERVICE_RUNNING;
    runtime.win32ExitCode = ERROR_SUCCESS;
    return ERROR_SUCCESS;
  }

  ServiceCommand command;
  if (const LONG error = ParseImagePath(*m_config, stored.imagePath, &command)) return error;
  Spawn spawn;
  ProcessOptions& options = spawn.options;
  options.program = command.program.string();
  options.arguments = command.arguments;
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  // The machine's home for the platform calls of the service, the rest of
  // the environment as the machine service has it.
  options.environment = {"VORNAL_HOME=" + m_config->home.string()};
  std::error_code ec;
  const auto logDir = m_config->home / "services";
  std::filesystem::create_directories(logDir, ec);
  options.workingDirectory = WindowsDirectoryPath(*m_config);
  if (!std::filesystem::is_directory(options.workingDirectory, ec)) options.workingDirectory = "/";
  options.input = ChildStream::Null();
  options.output = ChildStream::AppendTo(logDir / (stored.name + ".log"));
  options.error = ChildStream::SameAsOutput();
  options.group = ProcessGroup::NewGroup;
  options.parentDeathSignal = SIGKILL;

  runtime.state = SERVICE_START_PENDING;
  SpawnOnSupervisor(lock, &spawn);
  // Other calls ran while the lock was released: find the entry again.
  Runtime& started = m_runtime[ToUpperAscii(name)];
  if (spawn.error != 0) {
    std::fprintf(stderr, "vnmachined: service %s: %s\n", stored.name.c_str(), spawn.detail.c_str());
    started.state = SERVICE_STOPPED;
    started.win32ExitCode = static_cast<DWORD>(Win32FromStartError(spawn.error));
    LogEvent(EVENTLOG_ERROR_TYPE, 7000,
             "The " + stored.name + " service failed to start due to the following error: " +
                 CodeText(Win32FromStartError(spawn.error)));
    return Win32FromStartError(spawn.error);
  }
  std::ofstream(logDir / (stored.name + ".pid")) << spawn.pid << ' ' << ProcessStartTime(spawn.pid) << '\n';
  started.pid = spawn.pid;
  started.name = stored.name;
  started.state = SERVICE_RUNNING;
  started.win32ExitCode = ERROR_SUCCESS;
  started.stopRequested = false;
  m_changed.notify_all();
  LogEvent(EVENTLOG_INFORMATION_TYPE, 7036, "The " + stored.name + " service entered the running state.");
  return ERROR_SUCCESS;
}

LONG ServiceManager::Control(std::string_view name, DWORD control, SERVICE_STATUS* status) {
  std::unique_lock lock(m_mutex);
  Stored stored;
  if (const LONG error = Read(name, &stored)) return error;
  const std::string key = ToUpperAscii(name);
  Runtime& runtime = m_runtime[key];
  if (control != SERVICE_CONTROL_STOP && control != SERVICE_CONTROL_INTERROGATE)
    return ERROR_INVALID_SERVICE_CONTROL;
  if (runtime.state == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  if (control == SERVICE_CONTROL_INTERROGATE) {
    *status = StatusOf(runtime);
    return ERROR_SUCCESS;
  }
  if (runtime.state == SERVICE_STOP_PENDING) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  if (runtime.pid <= 0) {
    // "Schedule": no process to end.
    runtime.state = SERVICE_STOPPED;
    runtime.win32ExitCode = ERROR_SUCCESS;
    *status = StatusOf(runtime);
    RemoveIfDeleted(name);
    return ERROR_SUCCESS;
  }
  Signal(runtime, SIGTERM);
  m_changed.notify_all();
  // The entry may go (a deleted service leaves once stopped): look it up again.
  m_changed.wait_for(lock, kStopReplyWait, [&] {
    const auto it = m_runtime.find(key);
    return it == m_runtime.end() || it->second.state == SERVICE_STOPPED;
  });
  const auto it = m_runtime.find(key);
  if (it != m_runtime.end()) {
    *status = StatusOf(it->second);
  } else {
    Runtime gone;
    gone.type = stored.type;
    gone.win32ExitCode = ERROR_SUCCESS;
    *status = StatusOf(gone);
  }
  return ERROR_SUCCESS;
}

LONG ServiceManager::Create(const ServiceDefinition& definition) {
  if (!ValidServiceName(definition.name)) return ERROR_INVALID_NAME;
  const DWORD process = definition.type & ~SERVICE_INTERACTIVE_PROCESS;
  if (process != SERVICE_WIN32_OWN_PROCESS && process != SERVICE_WIN32_SHARE_PROCESS) return ERROR_INVALID_PARAMETER;
  if (definition.start < SERVICE_AUTO_START || definition.start > SERVICE_DISABLED) return ERROR_INVALID_PARAMETER;
  if (definition.errorControl > SERVICE_ERROR_CRITICAL || definition.imagePath.empty()) return ERROR_INVALID_PARAMETER;

  std::lock_guard lock(m_mutex);
  Stored stored;
  if (const LONG error = Read(definition.name, &stored); error == ERROR_SUCCESS)
    return stored.deleted ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
  else if (error != ERROR_SERVICE_DOES_NOT_EXIST)
    return error;

  KeyId key = 0;
  bool created = false;
  if (const LONG error = m_hive->CreateKey(kRootKey, std::string(kServicesKey) + "\\" + definition.name, &key,
                                           &created))
    return error;
  std::string dependencies;
  for (const auto& name : definition.dependencies) dependencies += name + '\0';
  LONG error = WriteDword(*m_hive, key, "Type", definition.type);
  if (!error) error = WriteDword(*m_hive, key, "Start", definition.start);
  if (!error) error = WriteDword(*m_hive, key, "ErrorControl", definition.errorControl);
  if (!error) error = WriteString(*m_hive, key, "ImagePath", REG_EXPAND_SZ, definition.imagePath);
  if (!error)
    error = WriteString(*m_hive, key, "DisplayName", REG_SZ,
                        definition.displayName.empty() ? definition.name : definition.displayName);
  if (!error)
    error = WriteString(*m_hive, key, "ObjectName", REG_SZ,
                        definition.objectName.empty() ? std::string("LocalSystem") : definition.objectName);
  if (!error && !definition.loadOrderGroup.empty())
    error = WriteString(*m_hive, key, "Group", REG_SZ, definition.loadOrderGroup);
  if (!error && !dependencies.empty()) error = WriteString(*m_hive, key, "DependOnService", REG_MULTI_SZ, dependencies);
  if (error) return error;
  Runtime& runtime = m_runtime[ToUpperAscii(definition.name)];
  runtime = Runtime{};
  runtime.type = definition.type;
  LogEvent(EVENTLOG_INFORMATION_TYPE, 7045,
           "A service was installed in the system: " + definition.name + ", " + definition.imagePath + ".");
  return ERROR_SUCCESS;
}

LONG ServiceManager::Delete(std::string_view name) {
  std::lock_guard lock(m_mutex);
  Stored stored;
  if (const LONG error = Read(name, &stored)) return error;
  if (stored.deleted) return ERROR_SERVICE_MARKED_FOR_DELETE;
  KeyId key = 0;
  if (const LONG error = m_hive->OpenKey(kRootKey, std::string(kServicesKey) + "\\" + std::string(name), &key))
    return error;
  if (const LONG error = WriteDword(*m_hive, key, "DeleteFlag", 1)) return error;
  const auto it = m_runtime.find(ToUpperAscii(name));
  if (it == m_runtime.end() || it->second.state == SERVICE_STOPPED) RemoveIfDeleted(name);
  return ERROR_SUCCESS;
}

bool ServiceManager::ScheduleRunning() const {
  std::lock_guard lock(m_mutex);
  const auto it = m_runtime.find(ToUpperAscii(kScheduleService));
  return it != m_runtime.end() && it->second.state == SERVICE_RUNNING;
}

}  // namespace vn
