#include "hosts/vnsetup/ProductSetup.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "console/core/reports/ReportCatalogue.h"
#include "console/core/reports/ReportSet.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "platform/core/LastError.h"
#include "platform/core/Messages.h"
#include "platform/endpoints/MachineServiceStarter.h"
#include "platform/machine/Machine.h"
#include "platform/machine/MachineConfig.h"
#include "platform/machine/PathMap.h"
#include "platform/registry/Registry.h"
#include "platform/services/ServiceControl.h"

namespace vn::vnsetup {
namespace {

namespace fs = std::filesystem;

constexpr const char* kProductKey = "Software\\Halvard\\Vornal\\4.0";
constexpr const char* kSuiteKey = "Software\\Halvard\\Pemberlyn\\4.0";
constexpr const char* kServiceName = "RODuduro";

std::string SystemText(LONG code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string out(text, length);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out.empty() ? "Error " + std::to_string(code) + "." : out;
}

struct DistFile {
  std::string name;
  std::string content;
  bool program = false;
};

// What a push install copies to other machines. Linux has no message DLLs or
// report libraries: those files hold our own short texts so that the install
// and deinstall find every file they name.
std::vector<DistFile> Distribution(const std::string& server) {
  return {
      {"VNSrv.exe", server, true},
      {"pbuninst.exe",
       "#!/bin/sh\n"
       "echo 'Remove the Vornal server with the Deinstall command of the management console.'\n"
       "exit 1\n",
       true},
      {"VNMsgs.dll", "Vornal 4.0 server messages: the server writes its own texts to its service log.\r\n"},
      {"ReportsNT.dll", "Vornal 4.0 standard reports: built into VNSrv.exe on this platform.\r\n"},
      {"Readme.txt",
       "Vornal 4.0 reporting server (RODuduro).\r\n"
       "VNSrv.exe runs as the service RODuduro and answers the management console's report requests.\r\n"},
      {"VNReadme.txt",
       "Vornal 4.0, build 434.\r\n"
       "Install the server on other machines with the console's Install Server command.\r\n"},
      {"VNRelnotes.html",
       "<html><head><title>Vornal 4.0 release notes</title></head><body>"
       "<h1>Vornal 4.0 (build 434)</h1><p>The reporting server runs the twenty standard reports.</p>"
       "</body></html>\r\n"},
  };
}

bool ReadWhole(const fs::path& path, std::string* content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// Writes `file` into `directory` unless it already holds exactly that.
// *changed says whether it wrote.
LONG EnsureFile(const fs::path& directory, const DistFile& file, bool* changed) {
  *changed = false;
  const fs::path path = directory / file.name;
  std::string existing;
  std::error_code error;
  const auto wanted = file.program ? fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                         fs::perms::others_read | fs::perms::others_exec
                                   : fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                         fs::perms::others_read;
  if (ReadWhole(path, &existing) && existing == file.content &&
      (fs::status(path, error).permissions() & fs::perms::all) == wanted) {
    return ERROR_SUCCESS;
  }
  const fs::path temporary = directory / (file.name + ".new");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(file.content.data(), static_cast<std::streamsize>(file.content.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, error);
      return ERROR_WRITE_FAULT;
    }
  }
  fs::permissions(temporary, wanted, error);
  if (!error) fs::rename(temporary, path, error);
  if (error) {
    const LONG code = Win32FromErrno(error.value());
    fs::remove(temporary, error);
    return code;
  }
  *changed = true;
  return ERROR_SUCCESS;
}

LONG EnsureString(HKEY key, const char* name, const std::string& value, bool onlyWhenMissing, std::ostream& out) {
  char current[1024] = {};
  DWORD type = 0, size = sizeof current - 1;
  const LONG read = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(current), &size);
  if (read == ERROR_SUCCESS && (onlyWhenMissing || (type == REG_SZ && std::string(current) == value)))
    return ERROR_SUCCESS;
  const LONG error = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>(value.size() + 1));
  if (!error) out << "set " << name << " = \"" << value << "\"\n";
  return error;
}

LONG EnsureNumber(HKEY key, const char* name, DWORD value, std::ostream& out) {
  DWORD current = 0, type = 0, size = sizeof current;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&current), &size) == ERROR_SUCCESS &&
      type == REG_DWORD && current == value) {
    return ERROR_SUCCESS;
  }
  const LONG error = RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  if (!error) out << "set " << name << " = " << value << "\n";
  return error;
}

LONG WriteRegistry(const std::string& product, const std::string& suite, std::ostream& out) {
  HKEY key = nullptr;
  LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
  if (error) return error;
  if (!error) error = EnsureString(key, "Vornal_DIR", product, false, out);
  if (!error) error = EnsureNumber(key, "ServerInstalled", 1, out);
  if (!error) error = EnsureNumber(key, "ClientInstalled", 1, out);
  if (!error) error = EnsureString(key, "ReleaseBuild", "434", false, out);
  if (!error) error = EnsureString(key, "CurrentVersion", "4.0", false, out);
  if (!error) error = EnsureString(key, "ServerLogging", "Disabled", true, out);
  RegCloseKey(key);
  if (error) return error;
  error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSuiteKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key, nullptr);
  if (error) return error;
  error = EnsureString(key, "PBRoot", suite, false, out);
  RegCloseKey(key);
  return error;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
  SERVICE_STATUS status{};
  for (int i = 0; i < 150; ++i) {
    if (QueryServiceStatus(service, &status) && status.dwCurrentState == state) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

LONG EnsureService(const std::string& program, bool replaced, std::ostream& out) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return static_cast<LONG>(GetLastError());
  SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
  if (!service && GetLastError() == static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST)) {
    const std::string image = "\"" + program + "\"";
    service = CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                             nullptr, nullptr);
    if (service) out << "created the service " << kServiceName << " (automatic start)\n";
  }
  LONG error = service ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
  CloseServiceHandle(manager);
  if (error) return error;
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING && replaced) {
    // The old server must be gone before the new one can start; one that
    // stopped meanwhile (ERROR_SERVICE_NOT_ACTIVE) is as good.
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE)) {
      error = static_cast<LONG>(GetLastError());
    } else if (!WaitForState(service, SERVICE_STOPPED)) {
      error = ERROR_SERVICE_REQUEST_TIMEOUT;
    } else {
      out << "stopped " << kServiceName << " to run the new server\n";
    }
  }
  if (!error && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING) {
    if (StartServiceA(service, 0, nullptr)) {
      out << "started " << kServiceName << "\n";
    } else if (GetLastError() != static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING)) {
      error = static_cast<LONG>(GetLastError());
    }
  }
  CloseServiceHandle(service);
  return error;
}

console::ReportSetEntry& Select(console::ReportSet& set, std::string_view report) {
  auto& entry = set[console::ReportIndexFromName(report)];
  entry.Selected = 1;
  return entry;
}

void SetValue(char (&field)[40], const char* text) { std::snprintf(field, sizeof field, "%s", text); }

LONG EnsureReportSets(std::ostream& out) {
  struct Ready {
    const char* name;
    void (*fill)(console::ReportSet&);
  };
  const Ready sets[] = {
      {"Daily Space Check",
       [](console::ReportSet& set) {
         Select(set, "Partition Summary");
         auto& directories = Select(set, "Space By Directory").Options;
         directories.Criteria[0].Scope = 5;
         SetValue(directories.Criteria[1].Value1, "2");  // directory levels
         Select(set, "Space By User").Options.Criteria[0].Scope = 5;
       }},
      {"Cleanup Candidates",
       [](console::ReportSet& set) {
         auto& old = Select(set, "Files By Access Date").Options;
         old.Criteria[0].Scope = 3;  // not accessed for more than...
         old.Criteria[0].Measure = 5;
         SetValue(old.Criteria[0].Value1, "180");  // ...days
         old.RptLen = 1000;
         auto& large = Select(set, "Files By Size").Options;
         large.Criteria[0].Scope = 3;
         large.Criteria[0].Measure = 1;
         SetValue(large.Criteria[0].Value1, "100");  // MB
         large.RptLen = 1000;
         auto& duplicates = Select(set, "Duplicate Files").Options;
         SetValue(duplicates.Criteria[1].Value1, "100");  // name match, percent
         SetValue(duplicates.Criteria[2].Value1, "100");  // extension match, percent
         duplicates.RptLen = 1000;
       }},
      {"Security Audit",
       [](console::ReportSet& set) {
         Select(set, "Insecure Files");
         Select(set, "Files With Undefined Owners");
         Select(set, "Files With ACL");
       }},
  };
  for (const auto& ready : sets) {
    if (console::RegistryKeyExists("", ready.name, console::IDS_REPORT_SET_KEY_FMT)) continue;
    console::ReportSet set;
    ready.fill(set);
    if (const LONG error = console::SaveReportSet("", ready.name, set)) return error;
    out << "stored the report set \"" << ready.name << "\"\n";
  }
  return ERROR_SUCCESS;
}

}  // namespace

LONG SetUpThisMachine(const SetupOptions& options, std::ostream& out, std::ostream& err) {
  const auto fail = [&](const std::string& step, LONG code) {
    err << "vnsetup: " << step << ": " << SystemText(code) << "\n";
    return code;
  };
  std::string detail;
  if (const LONG error = CheckMachineHome(&detail)) {
    err << "vnsetup: cannot use the machine home: " << detail << "\n";
    return error;
  }
  // The machine's service runs the server, and its first start sets the
  // machine's home up (the system drive included).
  bool started = false;
  if (const LONG error = EnsureLocalMachineService(&detail, &started)) {
    err << "vnsetup: this machine's service does not run: " << detail << "\n";
    return error;
  }
  if (started) out << "started this machine's service (vnmachined)\n";
  MachineConfig config;
  if (!LoadMachineConfig(MachineHome(), &config, &detail)) {
    err << "vnsetup: " << detail << "\n";
    return ERROR_INVALID_DATA;
  }
  std::string server;
  if (!ReadWhole(options.serverProgram, &server) || server.empty())
    return fail("cannot read the server program " + options.serverProgram.string(), ERROR_FILE_NOT_FOUND);

  const std::string drive = std::string(1, config.systemDrive) + ":";
  const std::string suite = drive + "\\Program Files\\Pemberlyn";
  const std::string product = suite + "\\4.0";
  ResolvedPath productPath, windowsPath;
  if (const LONG error = ResolvePath(config, {drive, "Program Files\\Pemberlyn\\4.0"}, RootAccess::SharesAndDrives,
                                     PathKind::Name, &productPath))
    return fail("the product directory " + product, error);
  if (const LONG error = ResolvePath(config, {drive, config.windowsDirectory.substr(std::min<std::size_t>(
                                                         3, config.windowsDirectory.size()))},
                                     RootAccess::SharesAndDrives, PathKind::Name, &windowsPath))
    return fail("the Windows directory " + config.windowsDirectory, error);

  const fs::path bin = productPath.host / "bin";
  const fs::path dist = productPath.host / "VNDist";
  std::error_code error;
  for (const auto& directory : {bin, dist, windowsPath.host}) {
    if (fs::create_directories(directory, error)) out << "created " << directory.string() << "\n";
    if (error) return fail("cannot create " + directory.string(), Win32FromErrno(error.value()));
  }
  bool serverReplaced = false;
  for (const auto& file : Distribution(server)) {
    bool changed = false;
    const fs::path target = file.name == "pbuninst.exe" ? windowsPath.host : bin;
    for (const auto& directory : {dist, target}) {
      if (const LONG code = EnsureFile(directory, file, &changed))
        return fail("cannot write " + (directory / file.name).string(), code);
      if (changed) out << "wrote " << (directory / file.name).string() << "\n";
      if (changed && directory == bin && file.name == "VNSrv.exe") serverReplaced = true;
    }
  }
  if (const LONG code = WriteRegistry(product, suite, out)) return fail("cannot write the product key", code);
  if (const LONG code = EnsureService(product + "\\bin\\VNSrv.exe", serverReplaced, out))
    return fail("the service RODuduro", code);
  if (const LONG code = EnsureReportSets(out)) return fail("cannot store the report sets", code);
  return ERROR_SUCCESS;
}

}  // namespace vn::vnsetup
