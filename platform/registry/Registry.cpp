#include "platform/registry/Registry.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/HandleTable.h"
#include "platform/hive/RegistryHive.h"
#include "platform/machine/Machine.h"

namespace vn {
namespace {

struct OpenKey {
  std::shared_ptr<RegistryHive> hive;
  KeyId key = kRootKey;
  REGSAM access = 0;
};

// Key handles are numbers, not addresses, drawn from the numbers of every
// other handle of the process (NextHandleValue): a number is never handed out
// twice, so a closed key stays invalid even when a new key is opened after it,
// and a key handle is never taken for an event or a search, nor one of those
// for a key. The predefined roots (0x80000000 and up) are never drawn.
struct KeyTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, OpenKey> keys;

  // The hive of the current local machine stays open while that machine is
  // the local one, so calls through HKEY_LOCAL_MACHINE do not reopen it.
  std::string localHome;
  std::shared_ptr<RegistryHive> localHive;

  RemoteRegistryConnector connector;
};

KeyTable& Table() {
  static KeyTable table;
  return table;
}

// Generic rights are mapped to key rights as the system does; every key grants
// everyone every right, so MAXIMUM_ALLOWED is all of them.
REGSAM MapAccess(REGSAM sam) {
  REGSAM access = sam & KEY_ALL_ACCESS;
  if (sam & GENERIC_READ) access |= KEY_READ;
  if (sam & GENERIC_WRITE) access |= KEY_WRITE;
  if (sam & GENERIC_EXECUTE) access |= KEY_EXECUTE;
  if (sam & (GENERIC_ALL | MAXIMUM_ALLOWED)) access |= KEY_ALL_ACCESS;
  return access;
}

LONG LocalMachineHive(std::shared_ptr<RegistryHive>* hive) {
  const std::string home = MachineHome().string();
  KeyTable& table = Table();
  {
    std::lock_guard lock(table.mutex);
    if (table.localHive && table.localHome == home) {
      *hive = table.localHive;
      return ERROR_SUCCESS;
    }
  }
  // Opening may wait for another process that is creating the hive; other
  // handles of this process go on meanwhile.
  LONG error = ERROR_SUCCESS;
  auto opened = OpenLocalHive(home, &error);
  if (!opened) return error;
  std::shared_ptr<RegistryHive> previous;  // closed after the lock is released
  {
    std::lock_guard lock(table.mutex);
    previous = std::exchange(table.localHive, opened);
    table.localHome = home;
  }
  *hive = std::move(opened);
  return ERROR_SUCCESS;
}

// What `hKey` stands for: an open handle, or HKEY_LOCAL_MACHINE with every right.
LONG Resolve(HKEY hKey, OpenKey* key) {
  if (hKey == HKEY_LOCAL_MACHINE) {
    key->key = kRootKey;
    key->access = KEY_ALL_ACCESS;
    return LocalMachineHive(&key->hive);
  }
  KeyTable& table = Table();
  std::lock_guard lock(table.mutex);
  const auto it = table.keys.find(reinterpret_cast<std::uintptr_t>(hKey));
  if (it == table.keys.end()) return ERROR_INVALID_HANDLE;
  *key = it->second;
  return ERROR_SUCCESS;
}

LONG ResolveFor(HKEY hKey, REGSAM needed, OpenKey* key) {
  if (const LONG error = Resolve(hKey, key); error != ERROR_SUCCESS) return error;
  return (key->access & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY AddHandle(OpenKey key) {
  KeyTable& table = Table();
  std::lock_guard lock(table.mutex);
  const std::uintptr_t handle = NextHandleValue();
  table.keys.emplace(handle, std::move(key));
  return reinterpret_cast<HKEY>(handle);
}

// A subkey path may not start with a backslash: it names a key below hKey,
// never one from the top of the hive.
bool IsRelative(LPCSTR path) { return !path || path[0] != '\\'; }

std::string_view View(LPCSTR text) { return text ? std::string_view(text) : std::string_view(); }

// Copies a name into a caller's buffer of *cch characters, terminator included.
// On success *cch becomes the length without the terminator; when it does not
// fit, nothing is written and *cch is left as it was.
LONG CopyName(const std::string& name, LPSTR buffer, LPDWORD cch) {
  if (name.size() + 1 > *cch) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// The data half of the query calls: size only when there is no buffer,
// ERROR_MORE_DATA (with the size needed) when the buffer is too small.
LONG CopyData(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD cb) {
  if (!cb) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(data.size());
  const bool fits = size <= *cb;
  *cb = size;
  if (!buffer) return ERROR_SUCCESS;
  if (!fits) return ERROR_MORE_DATA;
  if (size) std::memcpy(buffer, data.data(), size);
  return ERROR_SUCCESS;
}

void ToFileTime(std::uint64_t ticks, PFILETIME time) {
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // namespace

void SetRemoteRegistryConnector(RemoteRegistryConnector connector) {
  KeyTable& table = Table();
  std::lock_guard lock(table.mutex);
  table.connector = std::move(connector);
}

}  // namespace vn

using vn::OpenKey;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (!vn::IsRelative(lpSubKey)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::Resolve(hKey, &key); error != ERROR_SUCCESS) return error;
  vn::KeyId id = 0;
  if (const LONG error = key.hive->OpenKey(key.key, vn::View(lpSubKey), &id); error != ERROR_SUCCESS) return error;
  *phkResult = vn::AddHandle({std::move(key.hive), id, vn::MapAccess(samDesired)});
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/, DWORD /*dwOptions*/,
                     REGSAM samDesired, const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  if (!phkResult || !lpSubKey) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (!vn::IsRelative(lpSubKey)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::Resolve(hKey, &key); error != ERROR_SUCCESS) return error;
  // An existing key is only opened, which needs no right on the parent.
  vn::KeyId id = 0;
  bool created = false;
  LONG error = key.hive->OpenKey(key.key, lpSubKey, &id);
  if (error == ERROR_FILE_NOT_FOUND) {
    if (!(key.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    error = key.hive->CreateKey(key.key, lpSubKey, &id, &created);
  }
  if (error != ERROR_SUCCESS) return error;
  *phkResult = vn::AddHandle({std::move(key.hive), id, vn::MapAccess(samDesired)});
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  // The predefined keys are never opened, so closing one does nothing.
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_CLASSES_ROOT || hKey == HKEY_USERS)
    return ERROR_SUCCESS;
  std::shared_ptr<vn::RegistryHive> last;  // released after the lock, should it close the hive
  vn::KeyTable& table = vn::Table();
  std::lock_guard lock(table.mutex);
  const auto it = table.keys.find(reinterpret_cast<std::uintptr_t>(hKey));
  if (it == table.keys.end()) return ERROR_INVALID_HANDLE;
  last = std::move(it->second.hive);
  table.keys.erase(it);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::ResolveFor(hKey, KEY_QUERY_VALUE, &key); error != ERROR_SUCCESS) return error;
  vn::RegValue value;
  if (const LONG error = key.hive->QueryValue(key.key, vn::View(lpValueName), &value); error != ERROR_SUCCESS)
    return error;
  if (lpType) *lpType = value.type;
  return vn::CopyData(value.data, lpData, lpcbData);
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType, const BYTE* lpData, DWORD cbData) {
  if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::ResolveFor(hKey, KEY_SET_VALUE, &key); error != ERROR_SUCCESS) return error;
  return key.hive->SetValue(key.key, vn::View(lpValueName), dwType, lpData, cbData);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::ResolveFor(hKey, KEY_ENUMERATE_SUB_KEYS, &key); error != ERROR_SUCCESS) return error;
  std::string name;
  std::uint64_t lastWriteTime = 0;
  if (const LONG error = key.hive->EnumKey(key.key, dwIndex, &name, &lastWriteTime); error != ERROR_SUCCESS)
    return error;
  if (lpClass && *lpcchClass == 0) return ERROR_MORE_DATA;
  if (const LONG error = vn::CopyName(name, lpName, lpcchName); error != ERROR_SUCCESS) return error;
  // Keys have no class.
  if (lpClass) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) vn::ToFileTime(lastWriteTime, lpftLastWriteTime);
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::ResolveFor(hKey, KEY_QUERY_VALUE, &key); error != ERROR_SUCCESS) return error;
  vn::RegValue value;
  if (const LONG error = key.hive->EnumValue(key.key, dwIndex, &value); error != ERROR_SUCCESS) return error;
  if (const LONG error = vn::CopyName(value.name, lpValueName, lpcchValueName); error != ERROR_SUCCESS) return error;
  if (lpType) *lpType = value.type;
  return vn::CopyData(value.data, lpData, lpcbData);
}

LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                      LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
  if (lpReserved || (lpClass && !lpcchClass)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::ResolveFor(hKey, KEY_QUERY_VALUE, &key); error != ERROR_SUCCESS) return error;
  vn::RegKeyInfo info;
  if (const LONG error = key.hive->QueryInfo(key.key, &info); error != ERROR_SUCCESS) return error;
  if (lpClass) {
    if (*lpcchClass == 0) return ERROR_MORE_DATA;
    lpClass[0] = '\0';
  }
  if (lpcchClass) *lpcchClass = 0;
  if (lpcSubKeys) *lpcSubKeys = info.subKeys;
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubKeyLen;
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = info.values;
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueNameLen;
  if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueLen;
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) vn::ToFileTime(info.lastWriteTime, lpftLastWriteTime);
  return ERROR_SUCCESS;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  if (!vn::IsRelative(lpSubKey)) return ERROR_INVALID_PARAMETER;
  OpenKey key;
  if (const LONG error = vn::Resolve(hKey, &key); error != ERROR_SUCCESS) return error;
  return key.hive->DeleteKey(key.key, lpSubKey);
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  OpenKey key;
  if (const LONG error = vn::ResolveFor(hKey, KEY_SET_VALUE, &key); error != ERROR_SUCCESS) return error;
  return key.hive->DeleteValue(key.key, vn::View(lpValueName));
}

LONG RegConnectRegistryA(LPCSTR lpMachineName, HKEY hKey, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  if (hKey != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  std::string_view machine = vn::View(lpMachineName);
  std::shared_ptr<vn::RegistryHive> hive;
  if (machine.empty() || vn::IsLocalMachineName(machine)) {
    if (const LONG error = vn::LocalMachineHive(&hive); error != ERROR_SUCCESS) return error;
  } else {
    vn::RemoteRegistryConnector connector;
    {
      vn::KeyTable& table = vn::Table();
      std::lock_guard lock(table.mutex);
      connector = table.connector;
    }
    if (!connector) return ERROR_BAD_NETPATH;
    if (machine.starts_with("\\\\")) machine.remove_prefix(2);
    if (const LONG error = connector(machine, &hive); error != ERROR_SUCCESS) return error;
    if (!hive) return ERROR_BAD_NETPATH;
  }
  *phkResult = vn::AddHandle({std::move(hive), vn::kRootKey, KEY_ALL_ACCESS});
  return ERROR_SUCCESS;
}
