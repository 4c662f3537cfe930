#include "console/core/deploy/ServerDeploy.h"

#include <cstring>
#include <optional>

#include "console/core/deploy/ServerService.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/SystemErrorText.h"
#include "platform/core/AsciiText.h"
#include "platform/core/LastError.h"
#include "platform/machine/Machine.h"
#include "platform/net/Files.h"
#include "platform/net/WNet.h"
#include "platform/registry/RegistryKey.h"

namespace vn::console {
namespace {

constexpr const char* kEnvironmentKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const char* kUninstallerName = "pbuninst.exe";

std::string SystemText(DWORD code) { return SystemErrorString(code, 260); }

std::string LocalComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name) : std::string();
}

std::optional<std::string> ReadString(HKEY key, const char* name, DWORD capacity) {
  std::string data(capacity + 1, '\0');
  DWORD type = 0, size = capacity;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return std::nullopt;
  data.resize(std::strlen(data.c_str()));
  return data;
}

std::optional<DWORD> ReadNumber(HKEY key, const char* name) {
  DWORD value = 0, type = 0, size = sizeof value;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return std::nullopt;
  return value;
}

LONG SetString(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

LONG SetNumber(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG CreateKey(HKEY parent, const char* path, RegistryKey& key) {
  return RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                         nullptr);
}

// Deletes `subkey` of `parent` after all its subkeys, depth first.
LONG DeleteKeyTree(HKEY parent, const std::string& subkey) {
  {
    RegistryKey key;
    if (const LONG code = RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_ALL_ACCESS, key.Out())) return code;
    for (;;) {
      char name[1025] = {};
      DWORD size = sizeof name;
      // Always index 0: each pass deletes what it found.
      if (RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      if (DeleteKeyTree(key.get(), name) != ERROR_SUCCESS) break;
    }
  }
  return RegDeleteKeyA(parent, subkey.c_str());
}

// The redirected letter of one machine's administrative share, dropped
// (forced) when the machine's work ends.
class ShareConnection {
 public:
  ~ShareConnection() { Drop(); }
  DWORD Connect(void* owner, const std::string& remote) {
    NETRESOURCEA resource{};
    resource.dwType = RESOURCETYPE_DISK;
    std::string name = remote;
    resource.lpRemoteName = name.data();
    char access[260] = {};
    DWORD size = sizeof access, result = 0;
    const DWORD code = WNetUseConnectionA(owner, &resource, nullptr, nullptr, CONNECT_INTERACTIVE | CONNECT_REDIRECT,
                                          access, &size, &result);
    if (code == ERROR_SUCCESS) m_name = access;
    return code;
  }
  void Drop() {
    if (!m_name.empty()) WNetCancelConnectionA(m_name.c_str(), TRUE);
    m_name.clear();
  }
  const std::string& Name() const { return m_name; }

 private:
  std::string m_name;
};

// The progress window of one machine, closed on every path.
class ProgressScope {
 public:
  explicit ProgressScope(CDeployFront& front) : m_front(front) {}
  ~ProgressScope() {
    if (m_open) m_front.CloseProgress();
  }
  void Open(const std::string& title) {
    m_front.OpenProgress(title);
    m_open = true;
  }

 private:
  CDeployFront& m_front;
  bool m_open = false;
};

// The regular files of a directory listing `pattern`; the code of the search.
DWORD ListFiles(const std::string& pattern, std::vector<std::string>* names) {
  WIN32_FIND_DATAA data{};
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return GetLastError();
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names->push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return ERROR_SUCCESS;
}

// Creates `path` and every directory above it that is missing.
DWORD CreateDirectories(std::string path) {
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  std::vector<std::string> steps;
  const std::size_t first = path.find('\\');
  for (std::size_t at = path.find('\\', first + 1); first != std::string::npos && at != std::string::npos;
       at = path.find('\\', at + 1))
    steps.push_back(path.substr(0, at));
  steps.push_back(path);
  for (const auto& step : steps) {
    if (GetFileAttributesA(step.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!CreateDirectoryA(step.c_str(), nullptr) && GetLastError() != static_cast<DWORD>(ERROR_ALREADY_EXISTS))
      return GetLastError();
  }
  return ERROR_SUCCESS;
}

// "\\SRV1\S$" for a Windows directory "S:\WINNT".
std::string AdministrativeShare(const std::string& machine, const std::string& windowsDirectory) {
  return "\\\\" + machine + "\\" + std::string(1, windowsDirectory.empty() ? 'C' : windowsDirectory[0]) + "$";
}

// The console's own settings that go to every machine.
struct LocalSettings {
  std::string productDirectory;
  std::string mailProfile;
  std::string smtpServer;
  std::string sender;
};

LONG ReadLocalSettings(LocalSettings* settings) {
  RegistryKey product;
  if (const LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, product.Out())) return code;
  const auto directory = ReadString(product.get(), "Vornal_DIR", MAX_PATH);
  if (!directory) return ERROR_FILE_NOT_FOUND;
  settings->productDirectory = *directory;
  settings->mailProfile = ReadString(product.get(), "MailProfile", 80).value_or("");
  RegistryKey mail;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMailKey, 0, KEY_READ, mail.Out()) == ERROR_SUCCESS) {
    settings->smtpServer = ReadString(mail.get(), "SMTP Server", 80).value_or("");
    settings->sender = ReadString(mail.get(), "Sender", 80).value_or("");
  }
  return ERROR_SUCCESS;
}

std::string RegistryError(const std::string& machine, DWORD code) {
  return "Error accessing registry on " + machine + "\n" + SystemText(code);
}

void InstallOn(const std::string& machine, CDeployFront& front) {
  ProgressScope progress(front);
  ShareConnection share;
  MachineRoot registry;

  if (const LONG code = registry.Connect(machine)) return front.ShowMessage(RegistryError(machine, code));
  {
    RegistryKey environment;
    if (RegOpenKeyExA(registry.get(), kEnvironmentKey, 0, KEY_READ, environment.Out()) == ERROR_SUCCESS) {
      const auto architecture = ReadString(environment.get(), "PROCESSOR_ARCHITECTURE", 80);
      if (architecture && EqualsIgnoringCase(*architecture, "ALPHA"))
        return front.ShowMessage(
            "The push install does not include Alpha binaries.  Please install Vornal directly on the server.");
    }
  }
  bool update = false;
  std::string installRoot;
  {
    RegistryKey product;
    if (RegOpenKeyExA(registry.get(), kProductKey, 0, KEY_READ, product.Out()) == ERROR_SUCCESS) {
      if (auto root = ReadString(product.get(), "Vornal_DIR", MAX_PATH); root && root->size() >= 3) {
        update = true;
        installRoot = *root;
      }
    }
  }
  if (update) {
    LocalSettings local;
    (void)ReadLocalSettings(&local);
    const std::string search = local.productDirectory + "\\VNDist\\*.*";
    std::vector<std::string> names;
    if (const DWORD code = ListFiles(search, &names))
      return front.ShowMessage("Error copying files from " + search + "\n" + SystemText(code));
  }
  std::string windowsDirectory;
  {
    RegistryKey version;
    if (const LONG code = RegOpenKeyExA(registry.get(), kWindowsVersionKey, 0, KEY_READ, version.Out()))
      return front.ShowMessage(RegistryError(machine, code));
    const auto path = ReadString(version.get(), "PathName", MAX_PATH);
    const auto current = ReadString(version.get(), "CurrentVersion", 80);
    if (!path || path->size() < 3 || !current)
      return front.ShowMessage(RegistryError(machine, ERROR_FILE_NOT_FOUND));
    if (!EqualsIgnoringCase(*current, "4.0"))
      return front.ShowMessage("The installation supports Windows NT 4.0 Servers only.");
    windowsDirectory = *path;
  }
  registry.Close();

  LocalSettings local;
  if (const LONG code = ReadLocalSettings(&local))
    return front.ShowMessage("Error Accessing Vornal Local Registry.\n" + SystemText(code));

  progress.Open("Installing Vornal...");
  front.SetStatus("Connecting to " + machine + "...");
  if (const DWORD code = share.Connect(nullptr, AdministrativeShare(machine, windowsDirectory)))
    return front.ShowMessage(RegistryError(machine, code));

  front.SetStatus("Stopping Services on " + machine);
  if (update) (void)StopServerService(machine);

  const std::string drive = windowsDirectory.substr(0, 2);
  std::string suiteRoot, binDirectory;
  if (update) {
    binDirectory = share.Name() + "\\" + installRoot.substr(3) + "\\bin";
  } else {
    suiteRoot = drive + "\\Program Files\\Pemberlyn";
    installRoot = suiteRoot + "\\4.0";
    binDirectory = share.Name() + "\\Program Files\\Pemberlyn\\4.0\\bin";
  }
  front.SetStatus("Creating installation directories on " + machine + "...");
  if (const DWORD code = CreateDirectories(binDirectory))
    return front.ShowMessage("Can't Create directory on " + machine + "\n" + SystemText(code));

  const std::string distribution = local.productDirectory + "\\VNDist";
  std::vector<std::string> files;
  if (const DWORD code = ListFiles(distribution + "\\*.*", &files))
    return front.ShowMessage("Error copying files from " + distribution + "\n" + SystemText(code));
  const std::string windowsThroughShare = share.Name() + windowsDirectory.substr(2);
  for (const auto& file : files) {
    front.SetStatus("Copying " + file + " to " + machine + "...");
    const std::string target = EqualsIgnoringCase(file, kUninstallerName) ? windowsThroughShare + "\\" + file
                                                                           : binDirectory + "\\" + file;
    if (CopyFileA((distribution + "\\" + file).c_str(), target.c_str(), FALSE)) continue;
    const DWORD code = GetLastError();
    if (code == static_cast<DWORD>(ERROR_FILE_EXISTS) || code == static_cast<DWORD>(ERROR_SHARING_VIOLATION)) continue;
    return front.ShowMessage("Error copying files from " + distribution + "\n" + SystemText(code));
  }

  front.SetStatus("Updating registry on " + machine + "...");
  if (const LONG code = registry.Connect(machine)) return front.ShowMessage(RegistryError(machine, code));
  const auto entryError = [&](LONG code) {
    front.ShowMessage("Error creating registry entry on " + machine + "\n" + SystemText(static_cast<DWORD>(code)) +
                      ".\t\t\t\t\n");
  };
  if (!update) {
    RegistryKey suite;
    LONG code = CreateKey(registry.get(), kSuiteKey, suite);
    if (!code) code = SetString(suite.get(), "PBRoot", suiteRoot);
    if (code) return entryError(code);
  }
  {
    RegistryKey product;
    LONG code = CreateKey(registry.get(), kProductKey, product);
    if (!code) code = SetString(product.get(), "Vornal_DIR", installRoot);
    if (!code) code = SetString(product.get(), "ServerLogging", "Disabled");
    if (!code) code = SetString(product.get(), "ReleaseBuild", kReleaseBuild);
    if (!code) code = SetString(product.get(), "CurrentVersion", "4.0");
    if (!code) code = SetNumber(product.get(), "ServerInstalled", 1);
    if (!code && !local.mailProfile.empty()) code = SetString(product.get(), "MailProfile", local.mailProfile);
    if (code) return entryError(code);
  }
  if (!local.smtpServer.empty()) {
    RegistryKey mail;
    if (CreateKey(registry.get(), kMailKey, mail) == ERROR_SUCCESS) {
      (void)SetString(mail.get(), "SMTP Server", local.smtpServer);
      (void)SetString(mail.get(), "Sender", local.sender);
    }
  }
  {
    // The server's messages come from its message file; it reports errors,
    // warnings and information (1 | 2 | 4).
    RegistryKey source;
    if (CreateKey(registry.get(), kEventSourceKey, source) == ERROR_SUCCESS) {
      (void)SetString(source.get(), "EventMessageFile", installRoot + "\\bin\\vnmsgs.dll");
      (void)SetNumber(source.get(), "TypesSupported", 7);
    }
  }
  {
    RegistryKey uninstall;
    if (RegOpenKeyExA(registry.get(), kUninstallKey, 0, KEY_ALL_ACCESS, uninstall.Out()) == ERROR_SUCCESS) {
      RegistryKey entry;
      if (CreateKey(uninstall.get(), kUninstallEntry, entry) != ERROR_SUCCESS) return;
      (void)SetString(entry.get(), "UninstallString", drive + windowsDirectory.substr(2) + "\\PBUninst.exe");
      (void)SetString(entry.get(), "DisplayName", kUninstallEntry);
    }
  }
  registry.Close();
  front.SetStatus("Starting Vornal Service on " + machine + " ...");
  // A server that will not start is the one failure after the registry:
  // the machine keeps what was done, and a rerun starts it again.
  if (const DWORD code = CreateServerService(machine, installRoot + "\\bin\\VNSrv.exe"))
    return front.ShowMessage("Can't start the Vornal service on " + machine + "\n" + SystemText(code));
  share.Drop();
  front.Complete("Installation Completed on " + machine + "...");
}

// The console and sibling flags of a machine being cleared.
struct InstalledParts {
  bool console = false;        // a console of this product or the sibling's
  bool siblingServer = false;  // the sibling product's server
};

void DeinstallFrom(const std::string& machine, CDeployFront& front) {
  ProgressScope progress(front);
  ShareConnection share;
  MachineRoot registry;
  const std::string unc = "\\\\" + machine;

  if (const LONG code = registry.Connect(machine)) return front.ShowMessage(RegistryError(unc, code));
  InstalledParts parts;
  {
    RegistryKey sibling;
    if (RegOpenKeyExA(registry.get(), kSiblingKey, 0, KEY_READ, sibling.Out()) == ERROR_SUCCESS) {
      parts.console = ReadNumber(sibling.get(), "ClientInstalled") == DWORD{1};
      const auto server = ReadNumber(sibling.get(), "ServerInstalled");
      parts.siblingServer = server ? *server == 1 : ReadNumber(sibling.get(), "FDServerInstalled") == DWORD{1};
    }
  }
  std::string installRoot;
  {
    RegistryKey product;
    if (const LONG code = RegOpenKeyExA(registry.get(), kProductKey, 0, KEY_READ, product.Out()))
      return front.ShowMessage(RegistryError(unc, code));
    const auto root = ReadString(product.get(), "Vornal_DIR", MAX_PATH);
    if (!root || root->size() < 3) return front.ShowMessage(RegistryError(unc, ERROR_FILE_NOT_FOUND));
    installRoot = *root;
    if (ReadNumber(product.get(), "ClientInstalled") == DWORD{1}) parts.console = true;
  }
  std::string windowsDirectory;
  {
    RegistryKey version;
    if (const LONG code = RegOpenKeyExA(registry.get(), kWindowsVersionKey, 0, KEY_READ, version.Out()))
      return front.ShowMessage(RegistryError(unc, code));
    const auto path = ReadString(version.get(), "PathName", MAX_PATH);
    if (!path || path->size() < 3) return front.ShowMessage(RegistryError(unc, ERROR_FILE_NOT_FOUND));
    windowsDirectory = *path;
  }

  progress.Open("Deinstalling Vornal");
  front.SetStatus("Connecting to " + machine + "...");
  if (const DWORD code = share.Connect(nullptr, AdministrativeShare(machine, windowsDirectory)))
    return front.ShowMessage("Can't connect to " + unc + "\n" + SystemText(code));

  front.SetStatus("Stopping Services on " + machine);
  (void)StopServerService(machine);
  (void)DeleteServerService(machine);

  front.SetStatus("Removing Installation Files on " + machine + "...");
  const std::string rootThroughShare = share.Name() + "\\" + installRoot.substr(3);
  const std::string bin = rootThroughShare + "\\bin";
  std::vector<std::string> files;
  if (!parts.console && !parts.siblingServer) files.emplace_back("LUCli.dll");
  for (const char* name : {"Readme.txt", "VNReadme.txt", "VNRelnotes.html", "VNSrv.exe", "ReportsNT.dll",
                           "VNMsgs.dll", "VNMgr.exe", "RODuduro.log"})
    files.emplace_back(name);
  for (const auto& file : files) (void)DeleteFileA((bin + "\\" + file).c_str());
  (void)RemoveDirectoryA(bin.c_str());
  (void)RemoveDirectoryA(rootThroughShare.c_str());

  front.SetStatus("Updating registry on " + machine + "...");
  const std::string windowsThroughShare = share.Name() + windowsDirectory.substr(2);
  if (!parts.console) {
    (void)DeleteKeyTree(registry.get(), kProductRootKey);
    (void)DeleteKeyTree(registry.get(), kEventSourceKey);
    if (!parts.siblingServer) {
      RegistryKey uninstall;
      if (RegOpenKeyExA(registry.get(), kUninstallKey, 0, KEY_ALL_ACCESS, uninstall.Out()) == ERROR_SUCCESS)
        (void)DeleteKeyTree(uninstall.get(), kUninstallEntry);
      // The uninstaller under both the name the entry gives and the name the
      // push install copies.
      (void)DeleteFileA((windowsThroughShare + "\\PBUninstal.exe").c_str());
      (void)DeleteFileA((windowsThroughShare + "\\" + kUninstallerName).c_str());
    }
  } else {
    RegistryKey product;
    if (RegOpenKeyExA(registry.get(), kProductKey, 0, KEY_ALL_ACCESS, product.Out()) == ERROR_SUCCESS) {
      for (const char* value : {"ServerInstalled", "MailProfile", "MailInfo"})
        (void)RegDeleteValueA(product.get(), value);
    }
  }
  (void)RegDeleteKeyA(registry.get(), kMailKey);  // one that still has subkeys stays
  registry.Close();
  share.Drop();
  front.Complete("Deinstallation of Vornal is completed on " + machine + "...");
}

}  // namespace

int ParseReleaseBuild(std::string_view text) {
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 100'000'000) break;
  }
  return value;
}

ServerInstallState GetServerInstallState(std::string_view machine) {
  MachineRoot registry;
  if (registry.Connect(machine) != ERROR_SUCCESS) return kInstallStateUnknown;
  RegistryKey product;
  if (const LONG code = RegOpenKeyExA(registry.get(), kProductKey, 0, KEY_READ, product.Out()))
    return code == ERROR_ACCESS_DENIED ? kInstallStateUnknown : kNotInstalled;
  if (ReadNumber(product.get(), "ServerInstalled") != DWORD{1}) return kNotInstalled;
  const auto machineBuild = ReadString(product.get(), "ReleaseBuild", 10);
  RegistryKey console;
  std::optional<std::string> consoleBuild;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, console.Out()) == ERROR_SUCCESS)
    consoleBuild = ReadString(console.get(), "ReleaseBuild", 10);
  if (!machineBuild || !consoleBuild) return kNewerBuild;
  const int theirs = ParseReleaseBuild(*machineBuild), ours = ParseReleaseBuild(*consoleBuild);
  return ours > theirs ? kOlderBuild : ours == theirs ? kSameBuild : kNewerBuild;
}

std::vector<std::string> SplitMachineList(std::string_view list) {
  std::vector<std::string> machines;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) machines.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return machines;
}

void PushInstall(std::string_view machineList, CDeployFront& front) {
  const std::string local = LocalComputerName();
  {
    RegistryKey product;
    if (const LONG code = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, product.Out()))
      return front.ShowMessage(RegistryError(local, code));
    if (ReadNumber(product.get(), "ServerInstalled") != DWORD{1} ||
        !ReadString(product.get(), "Vornal_DIR", MAX_PATH))
      return front.ShowMessage(
          "Push Installs require the Management Station and Server to be installed on this system.  Please install "
          "the server or try again from a system with both of the Vornal components installed.");
  }
  if (!front.RunWizard()) return;
  front.BeginWork();
  for (const auto& machine : SplitMachineList(machineList)) InstallOn(machine, front);
  front.EndWork();
}

void DeinstallServer(std::string_view machineList, CDeployFront& front) {
  if (!front.RunWizard()) return;
  front.BeginWork();
  for (const auto& machine : SplitMachineList(machineList)) DeinstallFrom(machine, front);
  front.EndWork();
}

}  // namespace vn::console
