#include "console/core/reports/ReportGeneratorDll.h"

#include <algorithm>
#include <vector>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "platform/registry/RegistryKey.h"

namespace vn::console {
namespace {

std::string KeyPath(std::string_view name) {
  std::string path(KSLoadString(IDS_CUSTOM_REPORT_KEY_FMT));
  if (const auto at = path.find("%s"); at != std::string::npos) path.replace(at, 2, name);
  return path;
}

bool IsStoredName(std::string_view name) { return !name.empty() && name.find('\\') == std::string_view::npos; }

// The "Def." values of `key`; ERROR_INVALID_DATA with `message` for one that
// is no text or too long.
LONG ReadDefinitionValues(HKEY key, std::vector<reportdef::NamedValue>& values, std::string& message) {
  for (DWORD index = 0;; ++index) {
    char name[1025];
    DWORD nameLength = sizeof name;
    std::string data(1025, '\0');
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG rc =
        RegEnumValueA(key, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &dataLength);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return rc;
    const std::string valueName(name, nameLength);
    if (!valueName.starts_with(reportdef::kValuePrefix)) continue;
    if (rc == ERROR_MORE_DATA || type != REG_SZ) {
      message = "The stored value " + valueName + (rc == ERROR_MORE_DATA ? " is too long" : " is not a text");
      return ERROR_INVALID_DATA;
    }
    data.resize(std::min<std::size_t>(dataLength, data.size()));
    if (const auto zero = data.find('\0'); zero != std::string::npos) data.resize(zero);
    values.push_back({valueName, std::move(data)});
  }
}

}  // namespace

LONG ReportGeneratorDll::LoadReportDefinition(std::string_view machine, std::string_view reportName) {
  m_loadMessage.clear();
  if (!IsStoredName(reportName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine)) return rc;
  RegistryKey key;
  if (const LONG rc = RegOpenKeyExA(root.get(), KeyPath(reportName).c_str(), 0, KEY_READ, key.Out())) return rc;
  std::vector<reportdef::NamedValue> values;
  if (const LONG rc = ReadDefinitionValues(key.get(), values, m_loadMessage)) return rc;
  if (values.empty()) {
    // Options saved without a definition (by hand, or by an older console):
    // nothing is damaged, there is just nothing to load.
    m_loadMessage = "The custom report has no stored definition";
    return ERROR_FILE_NOT_FOUND;
  }
  if (!Decode(values, m_loadMessage)) return ERROR_INVALID_DATA;
  return ERROR_SUCCESS;
}

LONG ReportGeneratorDll::SaveReportDefinition(std::string_view machine, std::string_view reportName) const {
  if (!IsStoredName(reportName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine)) return rc;
  RegistryKey key;
  if (const LONG rc = RegCreateKeyExA(root.get(), KeyPath(reportName).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, key.Out(), nullptr))
    return rc;
  const std::vector<reportdef::NamedValue> values = Encode();
  for (const reportdef::NamedValue& v : values) {
    if (const LONG rc = RegSetValueExA(key.get(), v.name.c_str(), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(v.text.c_str()),
                                       static_cast<DWORD>(v.text.size() + 1)))
      return rc;
  }
  // Values of an earlier definition this one no longer has (the totals of a
  // break since removed) go, so that a copy of the key carries nothing stale.
  std::vector<std::string> stale;
  for (DWORD index = 0;; ++index) {
    char name[1025];
    DWORD nameLength = sizeof name;
    const LONG rc = RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) break;
    const std::string valueName(name, nameLength);
    if (valueName.starts_with(reportdef::kValuePrefix) &&
        std::none_of(values.begin(), values.end(), [&](const auto& v) { return v.name == valueName; }))
      stale.push_back(valueName);
  }
  for (const std::string& name : stale)
    if (const LONG rc = RegDeleteValueA(key.get(), name.c_str())) return rc;
  return ERROR_SUCCESS;
}

}  // namespace vn::console
