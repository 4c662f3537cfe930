#pragma once
// The reporting server's service "RODuduro" on one machine, through that
// machine's service control manager. Each routine opens the manager and the
// service, does its one thing and closes both on every path; the result is 0
// or the Win32 code of the call that failed. `machine` is a computer name
// (leading backslashes tolerated); an empty name is this machine.

#include <string>
#include <string_view>

#include "platform/core/Win32Types.h"
#include "platform/services/ServiceControl.h"

namespace vn::console {

inline constexpr const char* kServerServiceName = "RODuduro";

// The service control "stop". A service that is not running gives 1062.
[[nodiscard]] DWORD StopServerService(std::string_view machine);
[[nodiscard]] DWORD StartServerService(std::string_view machine);
[[nodiscard]] DWORD DeleteServerService(std::string_view machine);
[[nodiscard]] DWORD QueryServerService(std::string_view machine, SERVICE_STATUS* status);
// Defines the service as an own-process, automatic-start service with normal
// error control running `binary` as the local system account, and starts it.
// An existing service of the name is deleted first; when the machine still
// says the name exists (1073), the existing service is started instead.
[[nodiscard]] DWORD CreateServerService(std::string_view machine, const std::string& binary);

}  // namespace vn::console
