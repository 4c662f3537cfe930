#pragma once
// What stands behind an HKEY: a hive, local (SQLite in a machine home) or, once
// the machine service connects other machines, remote. The Reg* calls of
// Registry.h check handles and access rights and then ask the key's hive.
//
// Keys are named by a KeyId that is stable for the life of the key; a deleted
// key's id is never reused, so a call on a handle whose key was deleted gives
// ERROR_KEY_DELETED. kRootKey is HKEY_LOCAL_MACHINE of the hive.
//
// Implementations are safe from any thread and return Win32 error codes.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn {

using KeyId = std::int64_t;
inline constexpr KeyId kRootKey = 1;

struct RegValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegKeyInfo {
  DWORD subKeys = 0;
  DWORD maxSubKeyLen = 0;
  DWORD values = 0;
  DWORD maxValueNameLen = 0;
  DWORD maxValueLen = 0;
  // When the key or its list of values or subkeys last changed, in FILETIME
  // ticks (100 ns since 1601); 0 when the hive keeps no time.
  std::uint64_t lastWriteTime = 0;
};

class RegistryHive {
 public:
  virtual ~RegistryHive() = default;

  // `path` is one or more key names separated by backslashes, relative to `parent`;
  // an empty path names `parent` itself.
  [[nodiscard]] virtual LONG OpenKey(KeyId parent, std::string_view path, KeyId* key) = 0;
  // Creates every missing key along `path`; *created says whether the last one is new.
  [[nodiscard]] virtual LONG CreateKey(KeyId parent, std::string_view path, KeyId* key, bool* created) = 0;
  // Refuses (ERROR_ACCESS_DENIED) a key that still has subkeys, and the root.
  [[nodiscard]] virtual LONG DeleteKey(KeyId parent, std::string_view path) = 0;
  // Subkeys are enumerated in name order (without case), values in the order
  // they were first written; ERROR_NO_MORE_ITEMS past the end.
  // *lastWriteTime (when not null) gets the subkey's last write time, as in RegKeyInfo.
  [[nodiscard]] virtual LONG EnumKey(KeyId key, DWORD index, std::string* name, std::uint64_t* lastWriteTime) = 0;
  [[nodiscard]] virtual LONG EnumValue(KeyId key, DWORD index, RegValue* value) = 0;
  [[nodiscard]] virtual LONG QueryValue(KeyId key, std::string_view name, RegValue* value) = 0;
  [[nodiscard]] virtual LONG SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data, DWORD size) = 0;
  [[nodiscard]] virtual LONG DeleteValue(KeyId key, std::string_view name) = 0;
  [[nodiscard]] virtual LONG QueryInfo(KeyId key, RegKeyInfo* info) = 0;
};

// The hive of the machine whose home is `home`, shared by every handle of this
// process that uses it; opened (and created, with its root key) on first use.
// On failure *error holds the code and the result is null.
std::shared_ptr<RegistryHive> OpenLocalHive(const std::string& home, LONG* error);

}  // namespace vn
