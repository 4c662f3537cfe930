#pragma once
// The service control manager calls (OpenSCManagerA, CreateServiceA,
// StartServiceA, ControlService, QueryServiceStatus, DeleteService...), on
// this machine or on a named one.
//
// Services are defined in a machine's registry under
// "SYSTEM\CurrentControlSet\Services\<name>" and run by that machine's service
// (vnmachined) as its child processes, so every call — for this machine too —
// is a call of a machine service (proto/machine.proto, "Service control
// manager"): this machine's is reached on the address and port of its own
// configuration, another machine's through the machine directory. Both are
// authenticated by the domain identities as every machine service call is.
//
// Handles are numbers of this process (HandleTable.h), never reused; a handle
// remembers its machine and, for a service, the service's name. A handle does
// not keep anything open on the machine: a service deleted under it answers
// ERROR_SERVICE_DOES_NOT_EXIST at the next call. Access masks are recorded
// but not checked: whoever holds an identity in the domain administers the machine.
//
// Errors (GetLastError after FALSE or a null handle), besides the service
// control codes of each call:
//   unknown handle, or a manager handle where a service handle is wanted (and
//   the other way round)                                  ERROR_INVALID_HANDLE (6)
//   a machine name that cannot be found                   ERROR_BAD_NETPATH (53)
//   the machine's service (this machine's included) does not answer
//                                                         RPC_S_SERVER_UNAVAILABLE (1722)
//   the caller holds no identity in the domain            ERROR_ACCESS_DENIED (5)
//   a database other than "ServicesActive"                ERROR_DATABASE_DOES_NOT_EXIST (1065)
//   a name that is empty, too long or holds '\' or '/'    ERROR_INVALID_NAME (123)
//
// Threads: any; calls block for one round trip of the machine service (30 s
// at most).

#include "platform/core/Win32Types.h"

struct SC_HANDLE__;
using SC_HANDLE = SC_HANDLE__*;

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

// Service types.
inline constexpr DWORD SERVICE_KERNEL_DRIVER = 0x00000001;
inline constexpr DWORD SERVICE_FILE_SYSTEM_DRIVER = 0x00000002;
inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x00000010;
inline constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x00000020;
inline constexpr DWORD SERVICE_INTERACTIVE_PROCESS = 0x00000100;
// Start types.
inline constexpr DWORD SERVICE_BOOT_START = 0;
inline constexpr DWORD SERVICE_SYSTEM_START = 1;
inline constexpr DWORD SERVICE_AUTO_START = 2;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_DISABLED = 4;
// Error control.
inline constexpr DWORD SERVICE_ERROR_IGNORE = 0;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;
inline constexpr DWORD SERVICE_ERROR_SEVERE = 2;
inline constexpr DWORD SERVICE_ERROR_CRITICAL = 3;
// Current states.
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;
// Controls, and the controls a service accepts.
inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_ACCEPT_STOP = 0x00000001;
// Access rights (recorded, not checked).
inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;

// The default database, the only one there is.
inline constexpr const char* SERVICES_ACTIVE_DATABASEA = "ServicesActive";

// `lpMachineName`: null or "" for this machine, else "\\NAME" or "NAME".
// Asks the machine's service once, so an unreachable machine fails here.
SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess);

// ERROR_SERVICE_DOES_NOT_EXIST (1060) when the machine has no such service.
SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess);

// Defines a service: own- or share-process type, start type 2..4, error
// control 0..3, a binary path on the machine (quoted when it holds spaces and
// arguments follow; the machine service's docs tell how it is read).
// `lpDependencies` is a list of NUL-terminated names ending with an empty one.
// The password is not used. ERROR_SERVICE_EXISTS (1073), or
// ERROR_SERVICE_MARKED_FOR_DELETE (1072) while a deleted service of the name
// still runs; ERROR_INVALID_PARAMETER (87) for a type, start type or error
// control out of range or an empty binary path. `lpdwTagId` gets 0.
SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                         LPCSTR lpServiceStartName, LPCSTR lpPassword);

// Starts the service's binary; the arguments follow those of its binary path.
// ERROR_SERVICE_ALREADY_RUNNING (1056), ERROR_SERVICE_DISABLED (1058),
// ERROR_SERVICE_MARKED_FOR_DELETE (1072); a binary that is missing
// ERROR_FILE_NOT_FOUND (2) or ERROR_PATH_NOT_FOUND (3), not executable
// ERROR_ACCESS_DENIED (5), not a program ERROR_BAD_EXE_FORMAT (193).
[[nodiscard]] BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors);

// SERVICE_CONTROL_STOP or SERVICE_CONTROL_INTERROGATE; *lpServiceStatus gets
// the status after the control (STOP_PENDING when the service has not ended
// within a second; it is killed when it has not ended within the wait hint).
// ERROR_SERVICE_NOT_ACTIVE (1062) when it is not running,
// ERROR_SERVICE_CANNOT_ACCEPT_CTRL (1061) while it is stopping,
// ERROR_INVALID_SERVICE_CONTROL (1052) for pause, continue and the rest.
[[nodiscard]] BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);

[[nodiscard]] BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);

// Marks the service for delete; it leaves the registry as soon as it is
// stopped (at once when it is). ERROR_SERVICE_MARKED_FOR_DELETE when marked already.
[[nodiscard]] BOOL DeleteService(SC_HANDLE hService);

// ERROR_INVALID_HANDLE (6) for a handle that is not open.
BOOL CloseServiceHandle(SC_HANDLE hSCObject);
