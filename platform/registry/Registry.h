#pragma once
// The registry calls of Win32, over Vornal's own hives.
//
// Every machine keeps its registry in one SQLite database in its home (see
// Machine.h). Only HKEY_LOCAL_MACHINE exists; the other predefined roots are
// refused with ERROR_INVALID_HANDLE. Key and value names compare without case,
// value data is kept as exactly the bytes written, and every call that changes
// the hive is one transaction, so several processes may use one hive at once
// and a process killed at any moment leaves it consistent.
//
// Results are Win32 error codes (ERROR_SUCCESS = 0). Handles are valid from the
// call that returns them to RegCloseKey; a closed or unknown handle gives
// ERROR_INVALID_HANDLE, never a crash. Closing a predefined key succeeds and
// does nothing. The calls are safe from any thread.
//
// RegConnectRegistryA returns the local hive for this machine's own name and
// asks the installed RemoteRegistryConnector (below) for any other machine;
// without one, other machines give ERROR_BAD_NETPATH.
//
// Rules where Windows leaves room or where the hive has no counterpart:
// - Subkey paths are relative: a leading backslash is refused with
//   ERROR_INVALID_PARAMETER; doubled and trailing backslashes are ignored. Key
//   names are at most 255 characters and value names at most 16383
//   (ERROR_INVALID_PARAMETER beyond).
// - Handles are numbers that are never handed out twice in a process. A handle
//   keeps the hive it was opened on and the rights it asked for (generic rights
//   and MAXIMUM_ALLOWED are mapped to key rights); HKEY_LOCAL_MACHINE and the
//   handles of RegConnectRegistryA have every right. Closing HKEY_LOCAL_MACHINE
//   does nothing.
// - RegDeleteKeyA needs no right on hKey: the hive grants every user every
//   right on every key, and Windows checks the right on the key being deleted,
//   not on its parent. An empty lpSubKey deletes hKey's own key (the root
//   itself is refused with ERROR_ACCESS_DENIED), as does a key with subkeys.
// - When a name does not fit its buffer, the enumeration calls return
//   ERROR_MORE_DATA and leave the buffer and its count as they were. When only
//   RegEnumValueA's data does not fit, the name and type are returned and
//   *lpcbData is the size needed.
// - Keys have no class and no security; REG_OPTION_VOLATILE keys are kept like
//   any other.

#include <functional>
#include <memory>
#include <string_view>

#include "platform/core/Win32Types.h"

[[nodiscard]] LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
[[nodiscard]] LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                                   REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition);
LONG RegCloseKey(HKEY hKey);
[[nodiscard]] LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                    LPDWORD lpcbData);
[[nodiscard]] LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                  DWORD cbData);
[[nodiscard]] LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                                 LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
[[nodiscard]] LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                                 LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
[[nodiscard]] LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);
[[nodiscard]] LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
[[nodiscard]] LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
[[nodiscard]] LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult);

namespace vn {

class RegistryHive;

// Connects to the registry of another machine. `machine` is the bare name, as the
// caller gave it. Returns a Win32 or network error code.
using RemoteRegistryConnector =
    std::function<LONG(std::string_view machine, std::shared_ptr<RegistryHive>* hive)>;

// Installs the connector RegConnectRegistryA uses for machines other than this
// one (the machine service's client does this); an empty function removes it.
void SetRemoteRegistryConnector(RemoteRegistryConnector connector);

}  // namespace vn
