#include "console/core/deploy/ServerService.h"

#include "platform/core/LastError.h"

namespace vn::console {
namespace {

std::string ManagerName(std::string_view machine) {
  if (machine.starts_with("\\\\")) machine.remove_prefix(2);
  return machine.empty() ? std::string() : "\\\\" + std::string(machine);
}

DWORD LastCode() { return GetLastError(); }

// Opens the manager and the service, runs `act` on the service and closes both.
template <typename Act>
DWORD WithService(std::string_view machine, DWORD access, Act act) {
  const std::string name = ManagerName(machine);
  SC_HANDLE manager = OpenSCManagerA(name.empty() ? nullptr : name.c_str(), nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return LastCode();
  SC_HANDLE service = OpenServiceA(manager, kServerServiceName, access);
  DWORD code = ERROR_SUCCESS;
  if (!service) {
    code = LastCode();
  } else {
    code = act(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return code;
}

}  // namespace

DWORD StopServerService(std::string_view machine) {
  return WithService(machine, SERVICE_ALL_ACCESS, [](SC_HANDLE service) -> DWORD {
    SERVICE_STATUS status{};
    return ControlService(service, SERVICE_CONTROL_STOP, &status) ? ERROR_SUCCESS : LastCode();
  });
}

DWORD StartServerService(std::string_view machine) {
  return WithService(machine, SERVICE_ALL_ACCESS, [](SC_HANDLE service) -> DWORD {
    return StartServiceA(service, 0, nullptr) ? ERROR_SUCCESS : LastCode();
  });
}

DWORD DeleteServerService(std::string_view machine) {
  return WithService(machine, SERVICE_ALL_ACCESS, [](SC_HANDLE service) -> DWORD {
    return DeleteService(service) ? ERROR_SUCCESS : LastCode();
  });
}

DWORD QueryServerService(std::string_view machine, SERVICE_STATUS* status) {
  return WithService(machine, SERVICE_QUERY_STATUS, [status](SC_HANDLE service) -> DWORD {
    return QueryServiceStatus(service, status) ? ERROR_SUCCESS : LastCode();
  });
}

DWORD CreateServerService(std::string_view machine, const std::string& binary) {
  (void)DeleteServerService(machine);  // an older definition goes first; none is no error
  const std::string name = ManagerName(machine);
  SC_HANDLE manager = OpenSCManagerA(name.empty() ? nullptr : name.c_str(), nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) return LastCode();
  SC_HANDLE service =
      CreateServiceA(manager, kServerServiceName, kServerServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                     SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr, nullptr, nullptr,
                     nullptr);
  const DWORD created = service ? ERROR_SUCCESS : LastCode();
  if (service) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (created && created != static_cast<DWORD>(ERROR_SERVICE_EXISTS)) return created;
  return StartServerService(machine);
}

}  // namespace vn::console
