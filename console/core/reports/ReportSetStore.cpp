#include "console/core/reports/ReportSetStore.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "console/core/support/Resources.h"
#include "platform/machine/Machine.h"
#include "platform/registry/RegistryKey.h"

namespace vn::console {
namespace {

// REG_DWORD data is the number's little-endian bytes, which is how the record
// holds it, so numbers move between record and store by plain byte copies.
static_assert(std::endian::native == std::endian::little);

// Report subkeys are looked up by catalogue name; no catalogue name reaches
// this length, so a longer subkey name is no report.
constexpr DWORD kReportNameSize = 40;
// Any registry key name fits (255 characters and the terminator).
constexpr DWORD kKeyNameSize = 256;
constexpr DWORD kCopyNameSize = 1025;
constexpr DWORD kCopyDataSize = 1025;
// The mail profile and password are stored as 80 bytes of their 81-byte fields.
constexpr DWORD kMailBinaryStoredSize = 80;

std::string_view BareMachineName(std::string_view machine) {
  if (machine.starts_with("\\\\")) machine.remove_prefix(2);
  return machine;
}

// Set and custom report names are single key names. An empty name would make
// the key path name the parent key (the list of all sets), and a backslash
// would reach into another key, so such names are refused.
bool IsStoredName(std::string_view name) { return !name.empty() && name.find('\\') == std::string_view::npos; }

// String `formatId` with `name` put in for its "%s".
std::string KeyPath(UINT formatId, std::string_view name) {
  std::string path(KSLoadString(formatId));
  if (const auto at = path.find("%s"); at != std::string::npos) path.replace(at, 2, name);
  return path;
}

LONG CreateKey(HKEY parent, const std::string& path, RegistryKey& key) {
  return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                         nullptr);
}

LONG OpenKey(HKEY parent, const std::string& path, REGSAM access, RegistryKey& key) {
  return RegOpenKeyExA(parent, path.c_str(), 0, access, key.Out());
}

// Deletes the subkeys of `key` (which must have none of their own).
LONG DeleteSubkeys(HKEY key) {
  for (;;) {
    char name[kKeyNameSize];
    DWORD length = sizeof name;
    const LONG rc = RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    if (const LONG deleted = RegDeleteKeyA(key, name); deleted != ERROR_SUCCESS) return deleted;
  }
}

// One stored value of a ReportOptions record: its name, how it is stored, and
// where its field lies in the record. `size` is the field size, which is also
// the read buffer.
enum class ValueKind { Number, Text, Binary };

struct StoredValue {
  std::string name;
  ValueKind kind;
  std::size_t offset;
  std::size_t size;
};

constexpr std::size_t kMailOffset = offsetof(ReportOptions, Mail);

const StoredValue kReportValue{"Report", ValueKind::Number, offsetof(ReportOptions, Report), 4};
const StoredValue kOptionsValue{"Options", ValueKind::Number, offsetof(ReportOptions, Options), 4};
const StoredValue kFieldsValue{"Fields", ValueKind::Number, offsetof(ReportOptions, Fields), 4};
const StoredValue kCustomReportValue{"CustomReport", ValueKind::Text, offsetof(ReportOptions, CustomReport),
                                     sizeof(ReportOptions::CustomReport)};
const StoredValue kRptLenValue{"RptLen", ValueKind::Number, offsetof(ReportOptions, RptLen), 4};
const StoredValue kFileFilterValue{"FileFilter", ValueKind::Text, offsetof(ReportOptions, FileFilter),
                                   sizeof(ReportOptions::FileFilter)};
const StoredValue kOwnerFilterValue{"OwnerFilter", ValueKind::Text, offsetof(ReportOptions, OwnerFilter),
                                    sizeof(ReportOptions::OwnerFilter)};
const StoredValue kMailProfileValue{"MailProfile", ValueKind::Binary, kMailOffset + offsetof(MailSettings, MailProfile),
                                    sizeof(MailSettings::MailProfile)};
const StoredValue kMailPasswordValue{"MailPassword", ValueKind::Binary,
                                     kMailOffset + offsetof(MailSettings, MailPassword),
                                     sizeof(MailSettings::MailPassword)};
const StoredValue kMailToValue{"MailTo", ValueKind::Text, kMailOffset + offsetof(MailSettings, MailTo),
                               sizeof(MailSettings::MailTo)};
const StoredValue kMailCCValue{"MailCC", ValueKind::Text, kMailOffset + offsetof(MailSettings, MailCC),
                               sizeof(MailSettings::MailCC)};
const StoredValue kMailSubjectValue{"MailSubject", ValueKind::Text, kMailOffset + offsetof(MailSettings, MailSubject),
                                    sizeof(MailSettings::MailSubject)};
const StoredValue kBatchCommandValue{"BatchCommand", ValueKind::Text, offsetof(ReportOptions, BatchCommand),
                                     sizeof(ReportOptions::BatchCommand)};

// "Value<slot>.<field>" of criterion slot `slot`.
StoredValue SlotValue(int slot, const char* field, ValueKind kind, std::size_t fieldOffset) {
  return {"Value" + std::to_string(slot) + "." + field, kind,
          offsetof(ReportOptions, Criteria) + static_cast<std::size_t>(slot) * sizeof(ReportCriterion) + fieldOffset,
          kind == ValueKind::Number ? 4 : sizeof(ReportCriterion::Value1)};
}

StoredValue SlotScope(int slot) {
  return SlotValue(slot, "Scope", ValueKind::Number, offsetof(ReportCriterion, Scope));
}
StoredValue SlotMeasure(int slot) {
  return SlotValue(slot, "Measure", ValueKind::Number, offsetof(ReportCriterion, Measure));
}
StoredValue SlotValue1(int slot) {
  return SlotValue(slot, "Value1", ValueKind::Text, offsetof(ReportCriterion, Value1));
}
StoredValue SlotValue2(int slot) {
  return SlotValue(slot, "Value2", ValueKind::Text, offsetof(ReportCriterion, Value2));
}

// The values of report `index` of a set, in the order they are written.
std::vector<StoredValue> ReportSetValues(int index) {
  std::vector<StoredValue> values = {
      SlotScope(0),
      SlotMeasure(0),
      SlotValue1(0),
      SlotValue2(0),
      SlotValue(0, "ReadOnly", ValueKind::Number, offsetof(ReportCriterion, ReadOnly)),
      SlotValue(0, "Archive", ValueKind::Number, offsetof(ReportCriterion, Archive)),
      SlotValue(0, "Compress", ValueKind::Number, offsetof(ReportCriterion, Compress)),
      SlotValue(0, "Hidden", ValueKind::Number, offsetof(ReportCriterion, Hidden)),
      SlotValue(0, "System", ValueKind::Number, offsetof(ReportCriterion, System)),
      SlotValue(0, "Temp", ValueKind::Number, offsetof(ReportCriterion, Temp)),
      SlotValue(0, "Compare", ValueKind::Number, offsetof(ReportCriterion, Compare)),
  };
  // Directory levels (2), name and extension match percentages (11), and the
  // three further criteria groups of the wasted space report (13).
  constexpr int kSpaceByDirectory = 2, kDuplicateFiles = 11, kWastedSpace = 13;
  if (index == kSpaceByDirectory) {
    values.push_back(SlotValue1(1));
  } else if (index == kDuplicateFiles) {
    values.push_back(SlotValue1(1));
    values.push_back(SlotValue1(2));
  } else if (index == kWastedSpace) {
    for (int slot = 1; slot <= 3; ++slot) {
      values.push_back(SlotScope(slot));
      values.push_back(SlotMeasure(slot));
      values.push_back(SlotValue1(slot));
      values.push_back(SlotValue2(slot));
    }
  }
  values.insert(values.end(), {kReportValue, kOptionsValue, kFieldsValue, kCustomReportValue, kRptLenValue,
                               kFileFilterValue, kOwnerFilterValue, kMailProfileValue, kMailPasswordValue, kMailToValue,
                               kMailCCValue, kMailSubjectValue, kBatchCommandValue});
  return values;
}

// The option values of a custom report, in the order they are written.
const std::vector<StoredValue>& CustomReportValues() {
  static const std::vector<StoredValue> values = {
      kFileFilterValue, kOwnerFilterValue, kOptionsValue,     kMailProfileValue,  kMailPasswordValue,
      kMailToValue,     kMailCCValue,      kMailSubjectValue, kBatchCommandValue, kRptLenValue,
  };
  return values;
}

LONG WriteValue(HKEY key, const StoredValue& value, const ReportOptions& options) {
  const BYTE* field = reinterpret_cast<const BYTE*>(&options) + value.offset;
  switch (value.kind) {
    case ValueKind::Number:
      return RegSetValueExA(key, value.name.c_str(), 0, REG_DWORD, field, 4);
    case ValueKind::Binary:
      return RegSetValueExA(key, value.name.c_str(), 0, REG_BINARY, field, kMailBinaryStoredSize);
    case ValueKind::Text: {
      // A field without a terminator is stored as far as its last-but-one byte.
      const char* text = reinterpret_cast<const char*>(field);
      const std::string stored(text, strnlen(text, value.size - 1));
      return RegSetValueExA(key, value.name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.c_str()),
                            static_cast<DWORD>(stored.size() + 1));
    }
  }
  return ERROR_INVALID_PARAMETER;
}

LONG WriteValues(HKEY key, const std::vector<StoredValue>& values, const ReportOptions& options) {
  for (const StoredValue& value : values) {
    if (const LONG rc = WriteValue(key, value, options); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

// A value that is missing, or does not fit its field, leaves the field alone.
void ReadValue(HKEY key, const StoredValue& value, ReportOptions& options) {
  BYTE buffer[kCopyDataSize] = {};
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(value.size);
  if (RegQueryValueExA(key, value.name.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS) return;
  BYTE* field = reinterpret_cast<BYTE*>(&options) + value.offset;
  switch (value.kind) {
    case ValueKind::Number:
      if (size == 4) std::memcpy(field, buffer, 4);
      break;
    case ValueKind::Binary:
      std::memcpy(field, buffer, size);
      break;
    case ValueKind::Text:
      std::memset(field, 0, value.size);
      std::memcpy(field, buffer, std::min<std::size_t>(size, value.size - 1));
      break;
  }
}

void ReadValues(HKEY key, const std::vector<StoredValue>& values, ReportOptions& options) {
  for (const StoredValue& value : values) ReadValue(key, value, options);
}

void CopyText(char* field, std::size_t size, std::string_view text) {
  const std::size_t length = std::min(text.size(), size - 1);
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, size - length);
}

}  // namespace

LONG ConnectMachineRegistry(std::string_view machine, HKEY* key) {
  if (machine.empty() || vn::IsLocalMachineName(machine)) {
    *key = HKEY_LOCAL_MACHINE;
    return ERROR_SUCCESS;
  }
  const std::string uncName = "\\\\" + std::string(BareMachineName(machine));
  HKEY remote = nullptr;
  const LONG rc = RegConnectRegistryA(uncName.c_str(), HKEY_LOCAL_MACHINE, &remote);
  if (rc == ERROR_SUCCESS) *key = remote;
  return rc;
}

void CloseMachineRegistry(HKEY key) {
  if (key && key != HKEY_LOCAL_MACHINE) RegCloseKey(key);
}

LONG LoadReportSet(std::string_view machine, std::string_view setName, ReportSet& set) {
  if (!IsStoredName(setName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  RegistryKey setKey;
  if (const LONG rc = OpenKey(root.get(), KeyPath(IDS_REPORT_SET_KEY_FMT, setName), KEY_READ, setKey);
      rc != ERROR_SUCCESS)
    return rc;

  for (DWORD i = 0;; ++i) {
    char name[kReportNameSize];
    DWORD length = sizeof name;
    const LONG rc = RegEnumKeyExA(setKey.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return rc;
    const int index = ReportIndexFromName(name);
    if (index < 0) continue;

    ReportSetEntry& entry = set[index];
    entry.Selected = 1;
    RegistryKey reportKey;
    if (OpenKey(setKey.get(), name, KEY_QUERY_VALUE, reportKey) == ERROR_SUCCESS)
      ReadValues(reportKey.get(), ReportSetValues(index), entry.Options);
  }
}

LONG SaveReportSet(std::string_view machine, std::string_view setName, const ReportSet& set) {
  if (!IsStoredName(setName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  const std::string setPath = KeyPath(IDS_REPORT_SET_KEY_FMT, setName);
  RegistryKey setKey;
  if (const LONG rc = CreateKey(root.get(), setPath, setKey); rc != ERROR_SUCCESS) return rc;
  if (const LONG rc = DeleteSubkeys(setKey.get()); rc != ERROR_SUCCESS) return rc;

  for (int index = 0; index < kReportCount; ++index) {
    if (!set[index].Selected) continue;
    RegistryKey reportKey;
    const std::string reportPath = setPath + "\\" + std::string(ReportNameFromIndex(index));
    if (const LONG rc = CreateKey(root.get(), reportPath, reportKey); rc != ERROR_SUCCESS) return rc;
    if (const LONG rc = WriteValues(reportKey.get(), ReportSetValues(index), set[index].Options); rc != ERROR_SUCCESS)
      return rc;
  }
  return ERROR_SUCCESS;
}

LONG DeleteReportSet(std::string_view machine, std::string_view setName) {
  if (!IsStoredName(setName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  const std::string setPath = KeyPath(IDS_REPORT_SET_KEY_FMT, setName);
  {
    RegistryKey setKey;
    if (const LONG rc = OpenKey(root.get(), setPath, KEY_ALL_ACCESS, setKey); rc != ERROR_SUCCESS) return rc;
    if (const LONG rc = DeleteSubkeys(setKey.get()); rc != ERROR_SUCCESS) return rc;
  }
  return RegDeleteKeyA(root.get(), setPath.c_str());
}

LONG LoadCustomReportOptions(std::string_view machine, std::string_view reportName, ReportOptions& options) {
  if (!IsStoredName(reportName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  RegistryKey key;
  if (const LONG rc = OpenKey(root.get(), KeyPath(IDS_CUSTOM_REPORT_KEY_FMT, reportName), KEY_READ, key);
      rc != ERROR_SUCCESS)
    return rc;
  ReadValues(key.get(), CustomReportValues(), options);
  // The servers that run the report read its definition where CustomReport
  // says, so the local machine is named too.
  std::string local;
  if (machine.empty()) {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size)) local.assign(name, size);
  }
  if (!machine.empty() || !local.empty()) {
    const std::string path = "\\\\" + std::string(machine.empty() ? std::string_view(local) : BareMachineName(machine)) +
                             "\\" + std::string(reportName);
    CopyText(options.CustomReport, sizeof options.CustomReport, path);
  }
  return ERROR_SUCCESS;
}

LONG SaveCustomReportOptions(std::string_view machine, std::string_view reportName, const ReportOptions& options) {
  if (!IsStoredName(reportName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  RegistryKey key;
  if (const LONG rc = CreateKey(root.get(), KeyPath(IDS_CUSTOM_REPORT_KEY_FMT, reportName), key); rc != ERROR_SUCCESS)
    return rc;
  return WriteValues(key.get(), CustomReportValues(), options);
}

LONG DeleteCustomReport(std::string_view machine, std::string_view reportName) {
  if (!IsStoredName(reportName)) return ERROR_INVALID_NAME;
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  return RegDeleteKeyA(root.get(), KeyPath(IDS_CUSTOM_REPORT_KEY_FMT, reportName).c_str());
}

bool RegistryKeyExists(std::string_view machine, std::string_view name, UINT formatId) {
  if (!IsStoredName(name)) return false;
  MachineRoot root;
  if (root.Connect(machine) != ERROR_SUCCESS) return false;
  RegistryKey key;
  return OpenKey(root.get(), KeyPath(formatId, name), KEY_READ, key) == ERROR_SUCCESS;
}

namespace {

// Removes from `destination` the subkeys (a set's reports) or, for a custom
// report, the values that `source` lacks. Names are gathered first: a key is
// not enumerated while it changes.
LONG PruneToSource(HKEY source, HKEY destination, StoredReportKind kind) {
  std::vector<std::string> extra;
  for (DWORD i = 0;; ++i) {
    char name[kCopyNameSize];
    DWORD length = sizeof name;
    const LONG rc = kind == StoredReportKind::CustomReport
                        ? RegEnumValueA(destination, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                        : RegEnumKeyExA(destination, i, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    LONG found = ERROR_SUCCESS;
    if (kind == StoredReportKind::CustomReport) {
      found = RegQueryValueExA(source, name, nullptr, nullptr, nullptr, nullptr);
    } else {
      RegistryKey probe;
      found = OpenKey(source, name, KEY_READ, probe);
    }
    if (found == ERROR_FILE_NOT_FOUND) extra.emplace_back(name);
  }
  for (const std::string& name : extra) {
    const LONG rc = kind == StoredReportKind::CustomReport ? RegDeleteValueA(destination, name.c_str())
                                                           : RegDeleteKeyA(destination, name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  return ERROR_SUCCESS;
}

LONG CopyStored(std::string_view sourceMachine, std::string_view sourceName, std::string_view destinationMachine,
                std::string_view destinationName, StoredReportKind kind, bool replace) {
  if (!IsStoredName(sourceName) || !(destinationName.empty() || IsStoredName(destinationName)))
    return ERROR_INVALID_NAME;
  MachineRoot sourceRoot;
  MachineRoot destinationRoot;
  if (const LONG rc = sourceRoot.Connect(sourceMachine); rc != ERROR_SUCCESS) return rc;
  if (const LONG rc = destinationRoot.Connect(destinationMachine); rc != ERROR_SUCCESS) return rc;

  const UINT format = kind == StoredReportKind::CustomReport ? IDS_CUSTOM_REPORT_KEY_FMT : IDS_REPORT_SET_KEY_FMT;
  RegistryKey source;
  if (const LONG rc = OpenKey(sourceRoot.get(), KeyPath(format, sourceName), KEY_READ, source); rc != ERROR_SUCCESS)
    return rc;
  RegistryKey destination;
  const std::string_view name = destinationName.empty() ? sourceName : destinationName;
  if (const LONG rc = CreateKey(destinationRoot.get(), KeyPath(format, name), destination); rc != ERROR_SUCCESS)
    return rc;

  if (kind == StoredReportKind::CustomReport) {
    if (const LONG rc = CopyRegistryValues(source.get(), destination.get()); rc != ERROR_SUCCESS) return rc;
    return replace ? PruneToSource(source.get(), destination.get(), kind) : ERROR_SUCCESS;
  }

  for (DWORD i = 0;; ++i) {
    char subkey[kKeyNameSize];
    DWORD length = sizeof subkey;
    LONG rc = RegEnumKeyExA(source.get(), i, subkey, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    RegistryKey from;
    RegistryKey to;
    if ((rc = CreateKey(destination.get(), subkey, to)) != ERROR_SUCCESS) return rc;
    if ((rc = OpenKey(source.get(), subkey, KEY_READ, from)) != ERROR_SUCCESS) return rc;
    if ((rc = CopyRegistryValues(from.get(), to.get())) != ERROR_SUCCESS) return rc;
  }
  return replace ? PruneToSource(source.get(), destination.get(), kind) : ERROR_SUCCESS;
}

}  // namespace

LONG CopyStoredReport(std::string_view sourceMachine, std::string_view sourceName, std::string_view destinationMachine,
                      std::string_view destinationName, StoredReportKind kind) {
  return CopyStored(sourceMachine, sourceName, destinationMachine, destinationName, kind, false);
}

LONG ReplaceStoredReport(std::string_view sourceMachine, std::string_view sourceName,
                         std::string_view destinationMachine, std::string_view destinationName,
                         StoredReportKind kind) {
  return CopyStored(sourceMachine, sourceName, destinationMachine, destinationName, kind, true);
}

LONG CopyRegistryValues(HKEY source, HKEY destination) {
  for (DWORD i = 0;; ++i) {
    char name[kCopyNameSize];
    BYTE data[kCopyDataSize];
    DWORD nameLength = sizeof name;
    DWORD dataSize = sizeof data;
    DWORD type = REG_NONE;
    LONG rc = RegEnumValueA(source, i, name, &nameLength, nullptr, &type, data, &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    if ((rc = RegSetValueExA(destination, name, 0, type, data, dataSize)) != ERROR_SUCCESS) return rc;
  }
}

LONG DeleteUserFilter(std::string_view machine, std::string_view filterName) {
  MachineRoot root;
  if (const LONG rc = root.Connect(machine); rc != ERROR_SUCCESS) return rc;
  RegistryKey key;
  if (const LONG rc = OpenKey(root.get(), std::string(KSLoadString(IDS_USER_FILTER_KEY)), KEY_SET_VALUE, key);
      rc != ERROR_SUCCESS)
    return rc;
  return RegDeleteValueA(key.get(), std::string(filterName).c_str());
}

}  // namespace vn::console
