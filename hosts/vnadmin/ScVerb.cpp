// sc: the services of a machine, through its service control manager.
#include "hosts/vnadmin/AdminVerbs.h"

#include <map>
#include <optional>
#include <ostream>

#include "hosts/vnadmin/AdminOutput.h"
#include "platform/core/AsciiText.h"
#include "platform/core/LastError.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"

namespace vn::admin {
namespace {

constexpr std::string_view kVerb = "sc";
constexpr const char* kServicesKey = "SYSTEM\\CurrentControlSet\\Services";

// A service control handle closed when it goes.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
  ~ScHandle() {
    if (m_handle) CloseServiceHandle(m_handle);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }

 private:
  SC_HANDLE m_handle;
};

std::string StateText(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return std::to_string(state);
  }
}

std::string TypeText(DWORD type) {
  switch (type & ~SERVICE_INTERACTIVE_PROCESS) {
    case SERVICE_WIN32_OWN_PROCESS: return "OWN_PROCESS";
    case SERVICE_WIN32_SHARE_PROCESS: return "SHARE_PROCESS";
    case SERVICE_KERNEL_DRIVER: return "KERNEL_DRIVER";
    case SERVICE_FILE_SYSTEM_DRIVER: return "FILE_SYSTEM_DRIVER";
    default: return std::to_string(type);
  }
}

// The machine's service control manager; null with the failure reported.
SC_HANDLE Connect(const std::string& machine, std::ostream& err) {
  const SC_HANDLE manager = OpenSCManagerA(machine.empty() ? nullptr : machine.c_str(), nullptr, SC_MANAGER_ALL_ACCESS);
  // Only the message: every caller ends with kExitFailure on a null manager.
  if (!manager) (void)Fail(err, machine.empty() ? "this machine's services" : machine, GetLastError());
  return manager;
}

Table StatusTable() { return Table({"Service", "State", "Type", "Exit"}); }

void AddStatus(Table* table, const std::string& name, const SERVICE_STATUS& status) {
  const DWORD exit = status.dwWin32ExitCode == static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR)
                         ? status.dwServiceSpecificExitCode
                         : status.dwWin32ExitCode;
  table->Add({name, StateText(status.dwCurrentState), TypeText(status.dwServiceType), std::to_string(exit)});
}

// What an error is about: the service, on its machine when it is another.
std::string About(const std::string& machine, const std::string& name) {
  return machine.empty() ? name : machine + " " + name;
}

// The names of the machine's services, from its registry.
LONG ServiceNames(const std::string& machine, std::vector<std::string>* names) {
  HKEY root = nullptr;
  LONG error = RegConnectRegistryA(machine.empty() ? nullptr : machine.c_str(), HKEY_LOCAL_MACHINE, &root);
  if (error != ERROR_SUCCESS) return error;
  HKEY services = nullptr;
  error = RegOpenKeyExA(root, kServicesKey, 0, KEY_READ, &services);
  RegCloseKey(root);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;   // none defined yet
  if (error != ERROR_SUCCESS) return error;
  for (DWORD index = 0;; ++index) {
    char name[256] = {};
    DWORD length = sizeof name;
    error = RegEnumKeyExA(services, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS) break;
    names->emplace_back(name, length);
  }
  RegCloseKey(services);
  return error == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : error;
}

int Query(const std::string& machine, const Arguments& rest, std::ostream& out,
          std::ostream& err) {
  if (rest.size() > 1) return BadUsage(err, kVerb, "query takes at most one service name");
  const ScHandle manager(Connect(machine, err));
  if (!manager) return kExitFailure;
  std::vector<std::string> names = rest;
  if (names.empty()) {
    if (const LONG error = ServiceNames(machine, &names); error != ERROR_SUCCESS)
      return Fail(err, machine.empty() ? "this machine's services" : machine + " services", static_cast<DWORD>(error));
  }
  Table table = StatusTable();
  for (const auto& name : names) {
    const ScHandle service(OpenServiceA(manager.Get(), name.c_str(), SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.Get(), &status)) {
      const DWORD error = GetLastError();
      // In a listing, a service deleted since the names were read is skipped.
      if (rest.empty() && error == static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST)) continue;
      return Fail(err, About(machine, name), error);
    }
    AddStatus(&table, name, status);
  }
  table.Print(out);
  return kExitSuccess;
}

int Start(const std::string& machine, const Arguments& rest, std::ostream& out,
          std::ostream& err) {
  if (rest.empty()) return BadUsage(err, kVerb, "start needs a service name");
  const ScHandle manager(Connect(machine, err));
  if (!manager) return kExitFailure;
  const std::string& name = rest[0];
  const ScHandle service(OpenServiceA(manager.Get(), name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS));
  if (!service) return Fail(err, About(machine, name), GetLastError());
  std::vector<LPCSTR> arguments;
  for (std::size_t i = 1; i < rest.size(); ++i) arguments.push_back(rest[i].c_str());
  if (!StartServiceA(service.Get(), static_cast<DWORD>(arguments.size()), arguments.data()))
    return Fail(err, About(machine, name), GetLastError());
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.Get(), &status)) return Fail(err, About(machine, name), GetLastError());
  Table table = StatusTable();
  AddStatus(&table, name, status);
  table.Print(out);
  return kExitSuccess;
}

int Stop(const std::string& machine, const Arguments& rest, std::ostream& out,
         std::ostream& err) {
  if (rest.size() != 1) return BadUsage(err, kVerb, "stop takes one service name");
  const ScHandle manager(Connect(machine, err));
  if (!manager) return kExitFailure;
  const std::string& name = rest[0];
  const ScHandle service(OpenServiceA(manager.Get(), name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS));
  if (!service) return Fail(err, About(machine, name), GetLastError());
  SERVICE_STATUS status{};
  if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status))
    return Fail(err, About(machine, name), GetLastError());
  Table table = StatusTable();
  AddStatus(&table, name, status);
  table.Print(out);
  return kExitSuccess;
}

// The values of create's "option= value" pairs, by upper-case option name.
bool ParseCreateOptions(const Arguments& rest, std::map<std::string, std::string>* options, std::string* why) {
  for (std::size_t i = 1; i < rest.size(); ++i) {
    const std::string& arg = rest[i];
    const std::size_t equals = arg.find('=');
    if (equals == std::string::npos || equals == 0) {
      *why = "expected option= value, not " + arg;
      return false;
    }
    std::string value = arg.substr(equals + 1);
    if (value.empty()) {   // "option= value": the value is the next argument
      if (i + 1 >= rest.size()) {
        *why = arg + " needs a value";
        return false;
      }
      value = rest[++i];
    }
    const std::string key = ToUpperAscii(arg.substr(0, equals));
    if (options->contains(key)) {
      *why = arg + " given twice";
      return false;
    }
    (*options)[key] = value;
  }
  return true;
}

std::optional<DWORD> Lookup(const std::map<std::string, DWORD>& table, const std::string& text) {
  const auto it = table.find(ToUpperAscii(text));
  return it == table.end() ? std::nullopt : std::optional<DWORD>(it->second);
}

int Create(const std::string& machine, const Arguments& rest, std::ostream& out,
           std::ostream& err) {
  if (rest.empty()) return BadUsage(err, kVerb, "create needs a service name");
  const std::string& name = rest[0];
  std::map<std::string, std::string> options;
  if (std::string why; !ParseCreateOptions(rest, &options, &why)) return BadUsage(err, kVerb, why);
  static const std::map<std::string, DWORD> kStarts = {{"BOOT", SERVICE_BOOT_START},
                                                       {"SYSTEM", SERVICE_SYSTEM_START},
                                                       {"AUTO", SERVICE_AUTO_START},
                                                       {"DEMAND", SERVICE_DEMAND_START},
                                                       {"DISABLED", SERVICE_DISABLED}};
  static const std::map<std::string, DWORD> kTypes = {{"OWN", SERVICE_WIN32_OWN_PROCESS},
                                                      {"SHARE", SERVICE_WIN32_SHARE_PROCESS}};
  static const std::map<std::string, DWORD> kErrors = {{"IGNORE", SERVICE_ERROR_IGNORE},
                                                       {"NORMAL", SERVICE_ERROR_NORMAL},
                                                       {"SEVERE", SERVICE_ERROR_SEVERE},
                                                       {"CRITICAL", SERVICE_ERROR_CRITICAL}};
  DWORD start = SERVICE_DEMAND_START, type = SERVICE_WIN32_OWN_PROCESS, errorControl = SERVICE_ERROR_NORMAL;
  std::string binary, display = name, dependencies;
  bool hasDependencies = false;
  for (const auto& [key, value] : options) {
    std::optional<DWORD> parsed;
    if (key == "BINPATH") {
      binary = value;
      continue;
    }
    if (key == "DISPLAYNAME") {
      display = value;
      continue;
    }
    if (key == "DEPEND") {
      // "A/B" becomes the list "A\0B\0\0".
      hasDependencies = true;
      for (const char c : value) dependencies += c == '/' ? '\0' : c;
      dependencies += '\0';
      continue;
    }
    if (key == "START") {
      parsed = Lookup(kStarts, value);
      if (parsed) start = *parsed;
    } else if (key == "TYPE") {
      parsed = Lookup(kTypes, value);
      if (parsed) type = *parsed;
    } else if (key == "ERROR") {
      parsed = Lookup(kErrors, value);
      if (parsed) errorControl = *parsed;
    } else {
      return BadUsage(err, kVerb, "unknown option " + key + "=");
    }
    if (!parsed) return BadUsage(err, kVerb, "unknown value " + value + " for " + key + "=");
  }
  if (binary.empty()) return BadUsage(err, kVerb, "create needs binPath= PATH");
  const ScHandle manager(Connect(machine, err));
  if (!manager) return kExitFailure;
  const ScHandle service(CreateServiceA(manager.Get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS, type,
                                        start, errorControl, binary.c_str(), nullptr, nullptr,
                                        hasDependencies ? dependencies.c_str() : nullptr, nullptr, nullptr));
  if (!service) return Fail(err, About(machine, name), GetLastError());
  out << "Created service " << name << "\n";
  return kExitSuccess;
}

int Delete(const std::string& machine, const Arguments& rest, std::ostream& out,
           std::ostream& err) {
  if (rest.size() != 1) return BadUsage(err, kVerb, "delete takes one service name");
  const ScHandle manager(Connect(machine, err));
  if (!manager) return kExitFailure;
  const std::string& name = rest[0];
  const ScHandle service(OpenServiceA(manager.Get(), name.c_str(), SERVICE_ALL_ACCESS));
  if (!service) return Fail(err, About(machine, name), GetLastError());
  if (!DeleteService(service.Get())) return Fail(err, About(machine, name), GetLastError());
  SERVICE_STATUS status{};
  const bool running = QueryServiceStatus(service.Get(), &status) && status.dwCurrentState != SERVICE_STOPPED;
  out << (running ? "Marked service " + name + " for deletion: it goes when it stops\n"
                  : "Deleted service " + name + "\n");
  return kExitSuccess;
}

}  // namespace

int ScVerb(const Arguments& args, std::ostream& out, std::ostream& err) {
  std::size_t next = 0;
  std::string machine;
  if (!args.empty() && IsMachineArgument(args[0])) machine = args[next++];
  if (next >= args.size()) return BadUsage(err, kVerb, "no operation given");
  const std::string operation = ToUpperAscii(args[next]);
  const Arguments rest(args.begin() + static_cast<std::ptrdiff_t>(next) + 1, args.end());
  using Operation = int (*)(const std::string&, const Arguments&, std::ostream&, std::ostream&);
  static const std::map<std::string, Operation> kOperations = {
      {"QUERY", Query}, {"START", Start}, {"STOP", Stop}, {"CREATE", Create}, {"DELETE", Delete}};
  const auto found = kOperations.find(operation);
  if (found == kOperations.end()) return BadUsage(err, kVerb, "unknown operation " + args[next]);
  return found->second(machine, rest, out, err);
}

}  // namespace vn::admin
