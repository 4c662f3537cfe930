#include "console/core/reports/UserFilters.h"

#include <algorithm>
#include <cstring>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "platform/registry/Registry.h"

namespace vn::console {
namespace {

constexpr DWORD kValueBuffer = 1025;

std::string FilterKeyName() { return std::string(KSLoadString(IDS_USER_FILTER_KEY)); }

}  // namespace

std::vector<std::string> SplitUserFilter(std::string_view value) {
  std::string text(value);
  if (text.empty() || text.back() != ';') text.push_back(';');
  std::vector<std::string> names;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(';', start)) != std::string::npos; start = end + 1)
    if (end > start) names.push_back(text.substr(start, end - start));
  return names;
}

std::string JoinUserFilter(const std::vector<std::string>& names) {
  std::string value;
  for (const std::string& name : names) {
    if (!value.empty()) value.push_back(';');
    value += name;
  }
  return value;
}

int AddUserFilterNames(std::vector<std::string>* names, const std::vector<std::string>& added) {
  int count = 0;
  for (const std::string& name : added) {
    if (name.empty() || std::find(names->begin(), names->end(), name) != names->end()) continue;
    names->push_back(name);
    ++count;
  }
  return count;
}

LONG ReadUserFilter(std::string_view machine, std::string_view name, std::string* value) {
  const MachineRoot registry(machine);
  if (registry.Code() != ERROR_SUCCESS) return registry.Code();
  HKEY key = nullptr;
  LONG code = RegOpenKeyExA(registry.get(), FilterKeyName().c_str(), 0, KEY_READ, &key);
  if (code != ERROR_SUCCESS) return code;
  char data[kValueBuffer + 1] = {};  // a terminator after the buffer, whatever was stored
  DWORD size = kValueBuffer;
  DWORD type = 0;
  code = RegQueryValueExA(key, std::string(name).c_str(), nullptr, &type, reinterpret_cast<LPBYTE>(data), &size);
  RegCloseKey(key);
  if (code == ERROR_SUCCESS) *value = std::string(data, ::strnlen(data, size));
  return code;
}

LONG StoreUserFilter(std::string_view machine, std::string_view name, const std::vector<std::string>& names,
                     bool newFilter) {
  if (name.empty() || names.empty()) return ERROR_INVALID_PARAMETER;
  const std::string value = JoinUserFilter(names);
  if (value.size() > kUserFilterMax) return ERROR_BUFFER_OVERFLOW;
  const MachineRoot registry(machine);
  if (registry.Code() != ERROR_SUCCESS) return registry.Code();
  HKEY key = nullptr;
  LONG code =
      RegCreateKeyExA(registry.get(), FilterKeyName().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (code != ERROR_SUCCESS) return code;
  const std::string valueName(name);
  if (newFilter) {
    DWORD size = 0;
    DWORD type = 0;
    const LONG probe = RegQueryValueExA(key, valueName.c_str(), nullptr, &type, nullptr, &size);
    if (probe == ERROR_SUCCESS || probe == ERROR_MORE_DATA) {
      RegCloseKey(key);
      return ERROR_ALREADY_EXISTS;
    }
  }
  code = RegSetValueExA(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  return code;
}

}  // namespace vn::console
