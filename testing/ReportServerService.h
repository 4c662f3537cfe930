#pragma once
// The reporting server of a test machine: the VNSrv program of the build,
// made the machine's demand-start service "RODuduro" the way an install
// makes it (through a small script on the machine's drive D:, since a
// service's program is named by a path of its machine), started, and
// stopped again.

#include <filesystem>
#include <string>

#include "platform/services/ServiceControl.h"
#include "testing/MachineNetwork.h"

namespace vn::testing {

// Creates the service running `program` with `arguments` after it. The open
// service handle, which the caller closes; null with GetLastError when the
// machine's service manager refused.
SC_HANDLE InstallReportServer(const TestMachine& machine, const std::filesystem::path& program,
                              const std::string& arguments = {});

// Starts the installed server with `argc` extra arguments and waits until its
// pipe on `machine` answers. False when either did not happen.
[[nodiscard]] bool StartReportServer(SC_HANDLE service, const std::string& machine, DWORD argc = 0,
                                     LPCSTR* argv = nullptr);

// Asks a running server to stop and waits until it has. True when it stopped
// or was not running.
[[nodiscard]] bool StopReportServer(SC_HANDLE service);

}  // namespace vn::testing
