#include "server/service/CustomDefinitions.h"

#include <vector>

#include "platform/registry/Registry.h"
#include "reportdef/ReportDefinition.h"

namespace vn::vnsrv {
namespace {

constexpr const char* kCustomReportsKey = "Software\\Halvard\\Vornal\\4.0\\Custom Reports\\";

struct Key {
  HKEY key = nullptr;
  ~Key() {
    if (key) (void)RegCloseKey(key);  // nothing to do about a failed close of a read-only key
  }
};

}  // namespace

LoadedDefinition LoadCustomDefinition(std::string_view customReport) {
  LoadedDefinition out;
  const std::string full(customReport);
  const std::size_t slash = full.size() > 2 ? full.find('\\', 2) : std::string::npos;
  if (!full.starts_with("\\\\") || slash == std::string::npos || slash == 2 || slash + 1 == full.size()) {
    out.error = ERROR_INVALID_DATA;
    out.message = "The custom report name " + full + " is not of the form \\\\MACHINE\\Name.";
    return out;
  }
  const std::string machine = full.substr(0, slash);
  const std::string name = full.substr(slash + 1);
  Key root;
  if (const LONG e = RegConnectRegistryA(machine.c_str(), HKEY_LOCAL_MACHINE, &root.key)) {
    out.error = e;
    out.message = "The registry of " + machine.substr(2) + ", where the custom report " + name +
                  " is stored, cannot be reached.";
    root.key = nullptr;
    return out;
  }
  Key report;
  if (const LONG e = RegOpenKeyExA(root.key, (kCustomReportsKey + name).c_str(), 0, KEY_READ, &report.key)) {
    out.error = e;
    out.message = e == ERROR_FILE_NOT_FOUND ? "There is no custom report " + name + " on " + machine.substr(2) + "."
                                            : "The custom report " + full + " cannot be read.";
    report.key = nullptr;
    return out;
  }
  std::vector<reportdef::NamedValue> values;
  auto damaged = [&](std::string why) {
    out.error = ERROR_INVALID_DATA;
    out.message = "The custom report " + full + " cannot be run: its definition is damaged. " + why;
    return out;
  };
  for (DWORD index = 0;; ++index) {
    char valueName[1025];
    DWORD nameLength = sizeof valueName;
    std::string data(1025, '\0');
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG e = RegEnumValueA(report.key, index, valueName, &nameLength, nullptr, &type,
                                 reinterpret_cast<BYTE*>(data.data()), &dataLength);
    if (e == ERROR_NO_MORE_ITEMS) break;
    const std::string_view valueView(valueName, e == ERROR_SUCCESS || e == ERROR_MORE_DATA ? nameLength : 0);
    if (e == ERROR_MORE_DATA && valueView.starts_with(reportdef::kValuePrefix))
      return damaged("The stored value " + std::string(valueView) + " is too long.");
    if (e == ERROR_MORE_DATA) continue;  // an option value: not ours to read
    if (e != ERROR_SUCCESS) {
      out.error = e;
      out.message = "The custom report " + full + " cannot be read.";
      return out;
    }
    if (!valueView.starts_with(reportdef::kValuePrefix)) continue;
    if (type != REG_SZ) return damaged("The stored value " + std::string(valueView) + " is not a text.");
    data.resize(std::min<std::size_t>(dataLength, data.size()));
    if (const auto zero = data.find('\0'); zero != std::string::npos) data.resize(zero);
    values.push_back({std::string(valueView), std::move(data)});
  }
  if (values.empty()) {
    out.error = ERROR_INVALID_DATA;
    out.message = "The custom report " + full + " has no definition; open it in the designer and save it.";
    return out;
  }
  auto definition = std::make_shared<reportdef::ReportDefinition>();
  std::string why;
  if (!definition->Decode(values, why)) return damaged(why + ".");
  out.definition = std::move(definition);
  return out;
}

}  // namespace vn::vnsrv
