#include "console/core/reports/ReportTree.h"

#include <algorithm>
#include <cstring>

#include "console/core/reports/ReportSetStore.h"
#include "console/core/support/Resources.h"
#include "platform/machine/Machine.h"
#include "platform/registry/RegistryKey.h"

namespace vn::console {
namespace {

constexpr DWORD kFilterNameSize = 1026;   // names up to 1025 characters
constexpr DWORD kFilterValueSize = 1025;  // the user names of one filter
constexpr DWORD kSetNameSize = 101;       // report set names up to 100 characters
constexpr DWORD kKeyNameSize = 256;
constexpr DWORD kReportNameSize = 41;     // catalogue names up to 40 characters

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view BareMachine(std::string_view machine) {
  if (machine.starts_with("\\\\")) machine.remove_prefix(2);
  return machine;
}

// HKEY_LOCAL_MACHINE of a machine and one key under it, both closed at the end.
class OpenedKey {
 public:
  LONG Open(std::string_view machine, const std::string& path, REGSAM access) {
    if (const LONG rc = m_root.Connect(machine); rc != ERROR_SUCCESS) return rc;
    return RegOpenKeyExA(m_root.get(), path.c_str(), 0, access, m_key.Out());
  }
  HKEY get() const { return m_key.get(); }

 private:
  MachineRoot m_root;
  RegistryKey m_key;  // closed before the root it is under
};

LONG ReadSubkeys(std::string_view machine, const std::string& path, REGSAM access, DWORD nameSize,
                 std::vector<std::string>& names) {
  names.clear();
  OpenedKey key;
  if (const LONG rc = key.Open(machine, path, access); rc != ERROR_SUCCESS) return rc;
  std::vector<char> name(std::max(nameSize, kKeyNameSize));
  for (DWORD i = 0;; ++i) {
    DWORD length = static_cast<DWORD>(name.size());
    const LONG rc = RegEnumKeyExA(key.get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    if (length < nameSize) names.emplace_back(name.data(), length);
  }
}

std::string SetKeyPath(std::string_view setName) {
  std::string path(KSLoadString(IDS_REPORT_SET_KEY_FMT));
  if (const auto at = path.find("%s"); at != std::string::npos) path.replace(at, 2, setName);
  return path;
}

}  // namespace

int ReportItemImage(int kind) {
  switch (kind) {
    case kReportLocalRoot: return 0;
    case kReportNetworkRoot: return 1;
    case kReportDomain: return 2;
    case kReportMachine: return 3;
    case kReportSetFolder: return 4;
    case kReportSetItem: return 5;
    case kCustomReportFolder: return 6;
    case kCustomReportItem: return 7;
    case kUserFilterFolder: return 8;
    case kUserFilterItem: return 9;
    default: return 0;
  }
}

std::string ReportItemMachine(std::span<const ReportPathStep> path) {
  for (auto step = path.rbegin(); step != path.rend(); ++step)
    if (step->kind == kReportMachine) return step->text;
  if (!path.empty() && path.front().kind == kReportLocalRoot) return vn::LocalComputerName();
  return {};
}

bool ReportTextLess(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return AsciiLower(x) < AsciiLower(y); });
}

bool ReportTextEqual(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

LONG ReadUserFilters(std::string_view machine, std::vector<UserFilterRecord>& filters) {
  filters.clear();
  OpenedKey key;
  if (const LONG rc = key.Open(machine, std::string(KSLoadString(IDS_USER_FILTER_KEY)), KEY_READ);
      rc != ERROR_SUCCESS)
    return rc;
  std::vector<char> name(kFilterNameSize);
  std::vector<BYTE> value(kFilterValueSize);
  for (DWORD i = 0;; ++i) {
    DWORD nameLength = kFilterNameSize, size = kFilterValueSize, type = 0;
    LONG rc = RegEnumValueA(key.get(), i, name.data(), &nameLength, nullptr, &type, value.data(), &size);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      // A value longer than a filter holds: keep the name, read no users.
      nameLength = kFilterNameSize;
      rc = RegEnumValueA(key.get(), i, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
      size = 0;
    }
    if (rc != ERROR_SUCCESS) return rc;
    UserFilterRecord filter;
    filter.name.assign(name.data(), nameLength);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      const char* text = reinterpret_cast<const char*>(value.data());
      filter.value.assign(text, strnlen(text, size));
    }
    filters.push_back(std::move(filter));
  }
  std::ranges::stable_sort(filters, [](const auto& a, const auto& b) { return ReportTextLess(a.name, b.name); });
  return ERROR_SUCCESS;
}

LONG ReadReportSetNames(std::string_view machine, std::vector<std::string>& names) {
  const LONG rc = ReadSubkeys(machine, std::string(KSLoadString(IDS_REPORT_SET_KEY)), KEY_READ, kSetNameSize, names);
  std::ranges::stable_sort(names, ReportTextLess);
  return rc;
}

LONG ReadCustomReportNames(std::string_view machine, std::vector<std::string>& names) {
  return ReadSubkeys(machine, std::string(KSLoadString(IDS_CUSTOM_REPORT_ROOT_KEY)), KEY_ENUMERATE_SUB_KEYS,
                     kKeyNameSize, names);
}

LONG ReadReportsOfSet(std::string_view machine, std::string_view setName, std::vector<std::string>& reports) {
  if (setName.empty() || setName.find('\\') != std::string_view::npos) {
    reports.clear();
    return ERROR_INVALID_NAME;
  }
  return ReadSubkeys(machine, SetKeyPath(setName), KEY_READ, kReportNameSize, reports);
}

MachineReportFolders ReadMachineReportFolders(std::string_view machine) {
  MachineReportFolders folders;
  folders.userFiltersResult = ReadUserFilters(machine, folders.userFilters);
  folders.reportSetsResult = ReadReportSetNames(machine, folders.reportSets);
  folders.customReportsResult = ReadCustomReportNames(machine, folders.customReports);
  return folders;
}

LONG DeleteReportItem(int kind, std::string_view machine, std::string_view name) {
  switch (kind) {
    case kUserFilterItem: return DeleteUserFilter(machine, name);
    case kReportSetItem: return DeleteReportSet(machine, name);
    case kCustomReportItem: return DeleteCustomReport(machine, name);
    default: return ERROR_INVALID_FUNCTION;
  }
}

std::vector<char> EncodeReportClip(std::span<const ReportClipEntry> entries) {
  std::vector<char> data;
  const auto put32 = [&data](std::uint32_t n) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
  };
  put32(static_cast<std::uint32_t>(entries.size()));
  for (const ReportClipEntry& entry : entries) {
    put32(entry.sourceItem);
    const std::string_view text(entry.text.c_str());  // cut at an inner NUL
    data.insert(data.end(), text.begin(), text.end());
    data.push_back('\0');
  }
  return data;
}

std::optional<std::vector<ReportClipEntry>> DecodeReportClip(std::span<const char> data) {
  std::size_t at = 0;
  const auto get32 = [&](std::uint32_t& n) {
    if (data.size() - at < 4) return false;
    n = 0;
    for (int i = 0; i < 4; ++i) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[at + i])) << (8 * i);
    at += 4;
    return true;
  };
  std::uint32_t count = 0;
  if (!get32(count)) return std::nullopt;
  // Every entry takes at least its source item and a terminator.
  if (count > (data.size() - at) / 5) return std::nullopt;
  std::vector<ReportClipEntry> entries;
  entries.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    ReportClipEntry entry;
    if (!get32(entry.sourceItem)) return std::nullopt;
    const auto end = std::find(data.begin() + static_cast<std::ptrdiff_t>(at), data.end(), '\0');
    if (end == data.end()) return std::nullopt;
    entry.text.assign(data.begin() + static_cast<std::ptrdiff_t>(at), end);
    at = static_cast<std::size_t>(end - data.begin()) + 1;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string ReportClipText(std::string_view machine, std::string_view name) {
  std::string text(machine);
  text += '\\';
  text += name;
  return text;
}

std::optional<PasteSource> SplitReportClipText(std::string_view text) {
  const auto at = text.find('\\');
  if (at == std::string_view::npos || at + 1 == text.size()) return std::nullopt;
  return PasteSource{std::string(text.substr(0, at)), std::string(text.substr(at + 1))};
}

bool IsSameStoredReport(std::string_view sourceMachine, std::string_view sourceName,
                        std::string_view destinationMachine, std::string_view destinationName) {
  return ReportTextEqual(BareMachine(sourceMachine), BareMachine(destinationMachine)) &&
         ReportTextEqual(sourceName, destinationName);
}

bool ReportChildLess(const ReportPathStep& a, const ReportPathStep& b) {
  const auto rank = [](int kind) { return kind == kReportSetFolder ? 0 : kind == kCustomReportItem ? 2 : 1; };
  if (rank(a.kind) != rank(b.kind)) return rank(a.kind) < rank(b.kind);
  return ReportTextLess(a.text, b.text);
}

void SortReportChildren(std::vector<ReportPathStep>& children) {
  std::ranges::stable_sort(children, ReportChildLess);
}

}  // namespace vn::console
