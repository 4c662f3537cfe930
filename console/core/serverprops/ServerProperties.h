#pragma once
// What the property pages of one machine's reporting server read and write,
// without widgets: the service row (state, auditing, status), the auditing
// switch "ServerLogging", the server's mail settings and the version text.
// Every call reaches the machine's registry or service control manager over
// the network; results are 0 or a Win32 code.

#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"

namespace vn::console {

// The state text of a service state as the service control manager reports
// it ("Stopped", "Running", "Pending", "Paused"); *running is set for the
// states that count as running (start pending, running).
std::string ServiceStateText(DWORD state, bool* running);

// Whether a "ServerLogging" text turns auditing on: it contains "Enabled".
bool IsAuditingEnabled(std::string_view serverLogging);

// The one row of the services list.
struct ServerServiceRow {
  bool valid = false;        // false: the machine's product key could not be read (no row)
  bool running = false;
  bool auditing = false;
  std::string state;         // "Stopped", "Running"...
  std::string auditingText;  // "Enabled" or "Disabled"
  std::string status;        // empty, "Not Installed", or the system text of the query's code
};
ServerServiceRow ReadServerServiceRow(std::string_view machine);
// Refreshes only the state, running flag and status of `row`.
void RefreshServiceState(std::string_view machine, ServerServiceRow* row);

// Writes "ServerLogging" as "Enabled" or "Disabled".
[[nodiscard]] LONG WriteServerLogging(std::string_view machine, bool enabled);

// The server's mail settings: the SMTP server and sender under
// "Software\Halvard\Mail", the profile and password ("MailProfile", and
// "MailInfo": 81 bytes, the password and zero bytes) under the product key.
// Each text at most 80 characters.
struct ServerMailSettings {
  std::string profile;
  std::string password;
  std::string smtpServer;
  std::string sender;
};
inline constexpr int kMailFieldLength = 80;
inline constexpr DWORD kMailInfoSize = 81;
// Values that are missing stay empty; the result is the registry connection's code.
[[nodiscard]] LONG ReadServerMail(std::string_view machine, ServerMailSettings* settings);
// Writes all four in the order above; the first failure stops the writing
// (what was written before it stays) and is returned.
[[nodiscard]] LONG WriteServerMail(std::string_view machine, const ServerMailSettings& settings);

// "Application Version 4.0 (Build 434) Linux" from the server's first three
// property texts.
std::string FormatVersionText(std::string_view version, std::string_view build, std::string_view platform);

}  // namespace vn::console
