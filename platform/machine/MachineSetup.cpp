#include "platform/machine/MachineSetup.h"

#include <sys/utsname.h>

#include <system_error>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/hive/RegistryHive.h"

namespace vn {
namespace {

struct InitialValue {
  const char* key;
  const char* name;
  std::string data;
};

LONG SetIfMissing(RegistryHive& hive, const InitialValue& value) {
  KeyId key = 0;
  bool created = false;
  if (LONG error = hive.CreateKey(kRootKey, value.key, &key, &created)) return error;
  RegValue existing;
  const LONG query = hive.QueryValue(key, value.name, &existing);
  if (query == ERROR_SUCCESS) return ERROR_SUCCESS;
  if (query != ERROR_FILE_NOT_FOUND) return query;
  // REG_SZ data holds its terminating NUL, as RegSetValueExA callers write it.
  return hive.SetValue(key, value.name, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()),
                       static_cast<DWORD>(value.data.size() + 1));
}

}  // namespace

std::filesystem::path WindowsDirectoryPath(const MachineConfig& config) {
  for (const auto& drive : config.drives)
    if (drive.letter == config.systemDrive) return drive.root / "WINNT";
  return config.home / "system" / "WINNT";
}

std::string ProcessorArchitectureOf(std::string_view machine) {
  const bool x86 = machine == "x86_64" || machine == "amd64" || machine == "x86" ||
                   (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86");
  if (x86) return "x86";
  if (machine == "aarch64" || machine == "arm64") return "ARM64";
  return machine.empty() ? std::string("UNKNOWN") : ToUpperAscii(machine);
}

LONG InitialiseMachine(const MachineConfig& config) {
  std::error_code ec;
  std::filesystem::create_directories(WindowsDirectoryPath(config), ec);
  if (ec) return ERROR_CANTWRITE;

  LONG error = ERROR_SUCCESS;
  const auto hive = OpenLocalHive(config.home.string(), &error);
  if (!hive) return error ? error : ERROR_CANTOPEN;

  utsname host{};
  const std::string machine = ::uname(&host) == 0 ? host.machine : "";
  const char* currentVersion = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  const std::vector<InitialValue> values = {
      {currentVersion, "PathName", config.windowsDirectory},
      {currentVersion, "CurrentVersion", "4.0"},
      {currentVersion, "CurrentBuildNumber", "1381"},
      {"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "PROCESSOR_ARCHITECTURE",
       ProcessorArchitectureOf(machine)},
  };
  for (const auto& value : values)
    if (LONG failed = SetIfMissing(*hive, value)) return failed;
  // Keys every machine has, which installs write below: the services, the
  // event log's sources and the uninstall entries.
  for (const char* path :
       {"SYSTEM\\CurrentControlSet\\Services", "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}) {
    KeyId key = 0;
    bool created = false;
    if (const LONG failed = hive->CreateKey(kRootKey, path, &key, &created)) return failed;
  }
  return ERROR_SUCCESS;
}

}  // namespace vn
