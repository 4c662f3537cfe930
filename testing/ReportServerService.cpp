#include "testing/ReportServerService.h"

#include "platform/ipc/Pipes.h"
#include "testing/TestFiles.h"
#include "testing/Wait.h"

namespace vn::testing {

SC_HANDLE InstallReportServer(const TestMachine& machine, const std::filesystem::path& program,
                              const std::string& arguments) {
  WriteScript(machine.driveD, "vnsrv.sh", "exec '" + program.string() + "' \"$@\"\n");
  const std::string unc = "\\\\" + machine.name;
  SC_HANDLE manager = OpenSCManagerA(unc.c_str(), nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return nullptr;
  const std::string command = arguments.empty() ? "D:\\vnsrv.sh" : "D:\\vnsrv.sh " + arguments;
  SC_HANDLE service = CreateServiceA(manager, "RODuduro", "RODuduro", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  const DWORD error = GetLastError();
  CloseServiceHandle(manager);
  SetLastError(error);
  return service;
}

bool StartReportServer(SC_HANDLE service, const std::string& machine, DWORD argc, LPCSTR* argv) {
  if (!StartServiceA(service, argc, argv)) return false;
  const std::string pipe = "\\\\" + machine + "\\pipe\\RODuduro";
  return WaitUntil([&] { return WaitNamedPipeA(pipe.c_str(), 1000) != FALSE; });
}

bool StopReportServer(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    // Already stopped is what the caller wants; any other failure is not.
    return GetLastError() == ERROR_SERVICE_NOT_ACTIVE;
  }
  return WaitUntil([&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED; });
}

}  // namespace vn::testing
