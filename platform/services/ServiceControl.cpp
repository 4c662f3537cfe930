#include "platform/services/ServiceControl.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "machine.grpc.pb.h"
#include "platform/core/AsciiText.h"
#include "platform/core/CallResult.h"
#include "platform/core/HandleTable.h"
#include "platform/core/LastError.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/endpoints/RemoteMachine.h"
#include "platform/machine/MachineConfig.h"

namespace vn {
namespace {

namespace pb = vornal::machine;

constexpr std::size_t kMaxServiceName = 256;

struct ScObject {
  std::shared_ptr<RemoteMachine> machine;
  bool manager = true;
  std::string service;   // service handles: the name as opened
  DWORD access = 0;
};

HandleTable<ScObject>& Handles() {
  static HandleTable<ScObject> table;
  return table;
}

SC_HANDLE ToHandle(HANDLE handle) { return reinterpret_cast<SC_HANDLE>(handle); }
HANDLE FromHandle(SC_HANDLE handle) { return reinterpret_cast<HANDLE>(handle); }

bool ValidName(LPCSTR name) {
  return name != nullptr && *name != '\0' && std::strlen(name) <= kMaxServiceName &&
         std::strpbrk(name, "\\/") == nullptr;
}

SC_HANDLE FailHandle(LONG error) {
  SetLastError(static_cast<DWORD>(error));
  return nullptr;
}

// The object behind a handle of the wanted kind; false (with the last error
// set) for an unknown handle or one of the other kind.
bool Lookup(SC_HANDLE handle, bool manager, ScObject* object) {
  bool ok = false;
  Handles().With(FromHandle(handle), [&](ScObject& found) {
    if (found.manager != manager) return;
    *object = found;
    ok = true;
  });
  if (!ok) SetLastError(ERROR_INVALID_HANDLE);
  return ok;
}

void FromProto(const pb::ServiceStatus& status, SERVICE_STATUS* out) {
  out->dwServiceType = status.service_type();
  out->dwCurrentState = status.current_state();
  out->dwControlsAccepted = status.controls_accepted();
  out->dwWin32ExitCode = status.win32_exit_code();
  out->dwServiceSpecificExitCode = status.service_specific_exit_code();
  out->dwCheckPoint = status.check_point();
  out->dwWaitHint = status.wait_hint();
}

BOOL Result(LONG error) {
  if (error != ERROR_SUCCESS) return Fail(MapUnreachable(error));
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // namespace
}  // namespace vn

namespace pb = vornal::machine;
using vn::FindMachineService;
using vn::EqualsIgnoringCase;
using vn::Fail;
using vn::FailHandle;
using vn::FromHandle;
using vn::FromProto;
using vn::Handles;
using vn::Lookup;
using vn::MapUnreachable;
using vn::RemoteMachine;
using vn::Result;
using vn::ScObject;
using vn::ToHandle;
using vn::ValidName;

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
  if (lpDatabaseName && *lpDatabaseName && !EqualsIgnoringCase(lpDatabaseName, SERVICES_ACTIVE_DATABASEA))
    return FailHandle(ERROR_DATABASE_DOES_NOT_EXIST);
  std::shared_ptr<RemoteMachine> machine;
  if (const LONG error = FindMachineService(lpMachineName ? lpMachineName : "", &machine)) return FailHandle(error);
  pb::ErrorReply reply;
  if (const LONG error = machine->OpenSCManager(pb::OpenSCManagerRequest(), &reply))
    return FailHandle(MapUnreachable(error));
  SetLastError(ERROR_SUCCESS);
  return ToHandle(Handles().Add(ScObject{std::move(machine), true, {}, dwDesiredAccess}));
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  ScObject manager;
  if (!Lookup(hSCManager, true, &manager)) return nullptr;
  if (!ValidName(lpServiceName)) return FailHandle(ERROR_INVALID_NAME);
  pb::ServiceRequest request;
  request.set_name(lpServiceName);
  pb::ErrorReply reply;
  if (const LONG error = manager.machine->OpenService(request, &reply)) return FailHandle(MapUnreachable(error));
  SetLastError(ERROR_SUCCESS);
  return ToHandle(Handles().Add(ScObject{manager.machine, false, lpServiceName, dwDesiredAccess}));
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                         LPCSTR lpServiceStartName, LPCSTR /*lpPassword: services run as the machine service's user*/) {
  ScObject manager;
  if (!Lookup(hSCManager, true, &manager)) return nullptr;
  if (!ValidName(lpServiceName)) return FailHandle(ERROR_INVALID_NAME);
  if (lpBinaryPathName == nullptr || *lpBinaryPathName == '\0') return FailHandle(ERROR_INVALID_PARAMETER);
  pb::CreateServiceRequest request;
  request.set_name(lpServiceName);
  if (lpDisplayName) request.set_display_name(lpDisplayName);
  request.set_service_type(dwServiceType);
  request.set_start_type(dwStartType);
  request.set_error_control(dwErrorControl);
  request.set_binary_path(lpBinaryPathName);
  if (lpLoadOrderGroup) request.set_load_order_group(lpLoadOrderGroup);
  for (const char* name = lpDependencies; name && *name; name += std::strlen(name) + 1) request.add_dependencies(name);
  if (lpServiceStartName) request.set_service_start_name(lpServiceStartName);
  pb::ErrorReply reply;
  if (const LONG error = manager.machine->CreateService(request, &reply)) return FailHandle(MapUnreachable(error));
  if (lpdwTagId) *lpdwTagId = 0;
  SetLastError(ERROR_SUCCESS);
  return ToHandle(Handles().Add(ScObject{manager.machine, false, lpServiceName, dwDesiredAccess}));
}

BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors) {
  ScObject service;
  if (!Lookup(hService, false, &service)) return FALSE;
  pb::StartServiceRequest request;
  request.set_name(service.service);
  for (DWORD i = 0; lpServiceArgVectors && i < dwNumServiceArgs; ++i)
    request.add_arguments(lpServiceArgVectors[i] ? lpServiceArgVectors[i] : "");
  pb::ErrorReply reply;
  return Result(service.machine->StartService(request, &reply));
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  ScObject service;
  if (!Lookup(hService, false, &service)) return FALSE;
  if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  pb::ControlServiceRequest request;
  request.set_name(service.service);
  request.set_control(dwControl);
  pb::ServiceStatusReply reply;
  const LONG error = service.machine->ControlService(request, &reply);
  if (error == ERROR_SUCCESS) FromProto(reply.status(), lpServiceStatus);
  return Result(error);
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  ScObject service;
  if (!Lookup(hService, false, &service)) return FALSE;
  if (lpServiceStatus == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  pb::ServiceRequest request;
  request.set_name(service.service);
  pb::ServiceStatusReply reply;
  const LONG error = service.machine->QueryServiceStatus(request, &reply);
  if (error == ERROR_SUCCESS) FromProto(reply.status(), lpServiceStatus);
  return Result(error);
}

BOOL DeleteService(SC_HANDLE hService) {
  ScObject service;
  if (!Lookup(hService, false, &service)) return FALSE;
  pb::ServiceRequest request;
  request.set_name(service.service);
  pb::ErrorReply reply;
  return Result(service.machine->DeleteService(request, &reply));
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  if (!Handles().Remove(FromHandle(hSCObject))) return Fail(ERROR_INVALID_HANDLE);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
