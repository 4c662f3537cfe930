#include "console/core/serverprops/ServerProperties.h"

#include <algorithm>
#include <cstring>

#include "console/core/deploy/ServerDeploy.h"
#include "console/core/deploy/ServerService.h"
#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/SystemErrorText.h"
#include "platform/registry/RegistryKey.h"

namespace vn::console {
namespace {

std::string SystemText(DWORD code) { return SystemErrorLine(code, 260); }

// A machine's HKEY_LOCAL_MACHINE and one key below it, closed on every path.
class MachineKey {
 public:
  LONG Connect(std::string_view machine) { return m_root.Connect(machine); }
  LONG Open(const char* path, REGSAM access) { return RegOpenKeyExA(m_root.get(), path, 0, access, m_key.Out()); }
  LONG Create(const char* path) {
    return RegCreateKeyExA(m_root.get(), path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           m_key.Out(), nullptr);
  }
  HKEY get() const { return m_key.get(); }

 private:
  MachineRoot m_root;
  RegistryKey m_key;  // closed before the root it is under
};

// A value of at most `capacity` bytes as text; false when it cannot be read.
bool ReadText(HKEY key, const char* name, DWORD capacity, std::string* text) {
  std::string data(capacity + 1, '\0');
  DWORD type = 0, size = capacity;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return false;
  data.resize(std::strlen(data.c_str()));
  *text = data;
  return true;
}

std::string Cut(const std::string& text) { return text.substr(0, kMailFieldLength); }

LONG SetText(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

}  // namespace

std::string ServiceStateText(DWORD state, bool* running) {
  *running = false;
  switch (state) {
    case SERVICE_START_PENDING:
    case SERVICE_RUNNING:
      *running = true;
      return "Running";
    case SERVICE_CONTINUE_PENDING:
      return "Pending";
    case SERVICE_PAUSE_PENDING:
    case SERVICE_PAUSED:
      return "Paused";
    default:
      return "Stopped";
  }
}

bool IsAuditingEnabled(std::string_view serverLogging) {
  return serverLogging.find("Enabled") != std::string_view::npos;
}

void RefreshServiceState(std::string_view machine, ServerServiceRow* row) {
  SERVICE_STATUS status{};
  const DWORD code = QueryServerService(machine, &status);
  if (code) {
    row->running = false;
    row->state = "Stopped";
    const bool missing =
        code == static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST) || code == static_cast<DWORD>(ERROR_INVALID_HANDLE);
    row->status = missing ? "Not Installed" : SystemText(code);
    return;
  }
  row->state = ServiceStateText(status.dwCurrentState, &row->running);
  row->status.clear();
}

ServerServiceRow ReadServerServiceRow(std::string_view machine) {
  ServerServiceRow row;
  MachineKey key;
  if (key.Connect(machine) || key.Open(kProductKey, KEY_READ)) return row;
  std::string logging;
  (void)ReadText(key.get(), "ServerLogging", 260, &logging);
  row.auditing = IsAuditingEnabled(logging);
  row.auditingText = row.auditing ? "Enabled" : "Disabled";
  RefreshServiceState(machine, &row);
  row.valid = true;
  return row;
}

LONG WriteServerLogging(std::string_view machine, bool enabled) {
  MachineKey key;
  if (const LONG code = key.Connect(machine)) return code;
  if (const LONG code = key.Open(kProductKey, KEY_ALL_ACCESS)) return code;
  return SetText(key.get(), "ServerLogging", enabled ? "Enabled" : "Disabled");
}

LONG ReadServerMail(std::string_view machine, ServerMailSettings* settings) {
  *settings = {};
  MachineKey key;
  if (const LONG code = key.Connect(machine)) return code;
  if (key.Open(kMailKey, KEY_READ) == ERROR_SUCCESS && ReadText(key.get(), "SMTP Server", 81, &settings->smtpServer))
    (void)ReadText(key.get(), "Sender", 81, &settings->sender);
  if (key.Open(kProductKey, KEY_READ) == ERROR_SUCCESS && ReadText(key.get(), "MailProfile", 81, &settings->profile))
    (void)ReadText(key.get(), "MailInfo", 81, &settings->password);
  return ERROR_SUCCESS;
}

LONG WriteServerMail(std::string_view machine, const ServerMailSettings& settings) {
  MachineKey key;
  if (const LONG code = key.Connect(machine)) return code;
  LONG code = key.Open(kMailKey, KEY_ALL_ACCESS);
  if (code) code = key.Create(kMailKey);
  if (!code) code = SetText(key.get(), "SMTP Server", Cut(settings.smtpServer));
  if (!code) code = SetText(key.get(), "Sender", Cut(settings.sender));
  if (!code) code = key.Open(kProductKey, KEY_ALL_ACCESS);
  if (!code) code = SetText(key.get(), "MailProfile", Cut(settings.profile));
  if (!code) {
    BYTE info[kMailInfoSize] = {};
    const std::string password = Cut(settings.password);
    std::copy(password.begin(), password.end(), info);
    code = RegSetValueExA(key.get(), "MailInfo", 0, REG_BINARY, info, sizeof info);
  }
  return code;
}

std::string FormatVersionText(std::string_view version, std::string_view build, std::string_view platform) {
  return "Application Version " + std::string(version) + " (Build " + std::string(build) + ") " +
         std::string(platform);
}

}  // namespace vn::console
