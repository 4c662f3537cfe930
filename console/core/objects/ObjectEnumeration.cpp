#include "console/core/objects/ObjectEnumeration.h"

#include <QString>
#include <algorithm>
#include <cstring>
#include <memory>

#include "console/core/support/Resources.h"
#include "platform/core/AsciiText.h"
#include "platform/core/WideString.h"
#include "platform/machine/Profile.h"
#include "platform/net/Files.h"
#include "platform/net/Net.h"
#include "platform/net/WNet.h"

namespace vn::console {
namespace {

constexpr DWORD kFirstBrowseBuffer = 16000;

char ToLowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A search pattern in the directory: path + "\" + what, or path + what when
// the path already ends with a separator.
std::string Pattern(std::string_view path, std::string_view what) {
  std::string pattern(path);
  if (pattern.empty() || (pattern.back() != '\\' && pattern.back() != '/')) pattern += '\\';
  pattern += what;
  return pattern;
}

bool IsDots(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

struct FindCloser {
  void operator()(HANDLE handle) const { FindClose(handle); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

// Calls `each` for every subdirectory matching `pattern` until it returns false.
template <class Each>
void ForEachSubdirectory(const std::string& pattern, Each each) {
  WIN32_FIND_DATAA found{};
  HANDLE raw = FindFirstFileA(pattern.c_str(), &found);
  if (raw == INVALID_HANDLE_VALUE) return;
  const FindHandle search(raw);
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !IsDots(found.cFileName))
      if (!each(found.cFileName)) return;
  } while (FindNextFileA(raw, &found));
}

struct EnumCloser {
  void operator()(HANDLE handle) const { WNetCloseEnum(handle); }
};

}  // namespace

std::vector<DriveEntry> ListDrives() {
  char buffer[260];
  const DWORD length = GetLogicalDriveStringsA(sizeof buffer, buffer);
  std::vector<DriveEntry> drives;
  if (length == 0 || length >= sizeof buffer) return drives;
  for (const char* root = buffer; *root; root += std::strlen(root) + 1) {
    switch (GetDriveTypeA(root)) {
      case DRIVE_FIXED: drives.push_back({root, KS_FIXED_DRIVE}); break;
      case DRIVE_REMOTE: drives.push_back({root, KS_REMOTE_DRIVE}); break;
      case DRIVE_CDROM: drives.push_back({root, KS_CDROM_DRIVE}); break;
      default: break;  // removable, RAM and unknown drives are not offered
    }
  }
  return drives;
}

std::string ShapeName(std::string_view name) {
  std::string shaped(name);
  for (std::size_t i = 0; i < shaped.size(); ++i) shaped[i] = i == 0 ? ToUpperAscii(shaped[i]) : ToLowerAscii(shaped[i]);
  return shaped;
}

void GetNetResource(const NETRESOURCEA* parent, const std::string* domain, const std::string* server,
                    std::vector<std::string>& list, bool collect) {
  HANDLE raw = nullptr;
  if (WNetOpenEnumA(RESOURCE_GLOBALNET, RESOURCETYPE_ANY, 0, const_cast<NETRESOURCEA*>(parent), &raw) != 0) return;
  const std::unique_ptr<void, EnumCloser> enumeration(raw);
  std::vector<std::uint64_t> storage(kFirstBrowseBuffer / sizeof(std::uint64_t) + 1);
  DWORD bufferSize = kFirstBrowseBuffer;
  for (;;) {
    DWORD count = 0xFFFFFFFF;
    DWORD size = bufferSize;
    const DWORD result = WNetEnumResourceA(raw, &count, storage.data(), &size);
    if (result == static_cast<DWORD>(ERROR_MORE_DATA)) {
      bufferSize = std::max(size, bufferSize * 2);
      storage.assign(bufferSize / sizeof(std::uint64_t) + 1, 0);
      continue;
    }
    if (result != 0) break;  // ERROR_NO_MORE_ITEMS or a failure: done
    const auto* entries = reinterpret_cast<const NETRESOURCEA*>(storage.data());
    for (DWORD i = 0; i < count; ++i) {
      const NETRESOURCEA& entry = entries[i];
      const std::string_view remote = entry.lpRemoteName ? entry.lpRemoteName : "";
      if (collect) {
        if (server) {
          std::string_view share = remote.size() > 2 ? remote.substr(2) : std::string_view();
          const auto slash = share.find('\\');
          list.emplace_back(slash == std::string_view::npos ? share : share.substr(slash + 1));
        } else if (domain) {
          list.push_back(ShapeName(remote.size() > 2 ? remote.substr(2) : std::string_view()));
        } else {
          list.push_back(ShapeName(remote));
        }
        continue;
      }
      if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_NETWORK && EqualsIgnoringCase(remote, kWindowsNetworkName)) {
        GetNetResource(&entry, domain, server, list, !domain && !server);
        break;
      }
      if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_DOMAIN && (!domain || EqualsIgnoringCase(remote, *domain))) {
        GetNetResource(&entry, domain, server, list, !server);
        break;
      }
      if (entry.dwDisplayType == RESOURCEDISPLAYTYPE_SERVER && server &&
          EqualsIgnoringCase(remote.substr(std::min<std::size_t>(2, remote.size())), *server)) {
        GetNetResource(&entry, domain, server, list, true);
        break;
      }
    }
  }
}

void SortShares(std::vector<std::string>& shares) {
  std::stable_sort(shares.begin(), shares.end(), [](const std::string& a, const std::string& b) {
    const bool hiddenA = !a.empty() && a.back() == '$';
    const bool hiddenB = !b.empty() && b.back() == '$';
    if (hiddenA != hiddenB) return hiddenB;
    return LessIgnoringCase(a, b);
  });
}

void GetNetShare(std::string_view machine, std::vector<std::string>& list) {
  const std::u16string server = ToWide("\\\\" + std::string(machine));
  DWORD resume = 0;
  std::vector<std::string> shares;
  for (;;) {
    LPBYTE buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status =
        NetShareEnum(server.c_str(), 1, &buffer, MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (status != NERR_Success && status != static_cast<DWORD>(ERROR_MORE_DATA)) {
      NetApiBufferFree(buffer);
      break;
    }
    const auto* entries = reinterpret_cast<const SHARE_INFO_1*>(buffer);
    for (DWORD i = 0; i < read; ++i)
      if (entries[i].shi1_type == STYPE_DISKTREE || entries[i].shi1_type == STYPE_SPECIAL)
        shares.push_back(ToUtf8(entries[i].shi1_netname));
    NetApiBufferFree(buffer);
    if (status == NERR_Success || resume == 0 || read == 0) break;
  }
  SortShares(shares);
  list.insert(list.end(), shares.begin(), shares.end());
}

bool HasSubfolder(std::string_view path) {
  bool found = false;
  ForEachSubdirectory(Pattern(path, "*"), [&found](const char*) {
    found = true;
    return false;
  });
  return found;
}

std::vector<std::string> ListSubfolderNames(std::string_view path) {
  std::vector<std::string> names;
  ForEachSubdirectory(Pattern(path, "*.*"), [&names](const char* name) {
    names.emplace_back(name);
    return true;
  });
  return names;
}

std::vector<FolderEntry> ListSubfolders(std::string_view path, std::size_t tested) {
  std::vector<std::string> names = ListSubfolderNames(path);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) { return LessIgnoringCase(a, b); });
  std::vector<FolderEntry> folders;
  folders.reserve(names.size());
  const std::string base = Pattern(path, "");
  for (std::string& name : names) {
    const bool test = folders.size() < tested;
    const bool sub = test && HasSubfolder(base + name);
    folders.push_back({std::move(name), sub, test});
  }
  return folders;
}

int IsNTMachine(std::string_view machine) {
  std::string name(machine);
  if (name.substr(0, 2) != "\\\\") name = "\\\\" + name;
  const std::u16string wide = ToWide(name);
  LPBYTE buffer = nullptr;
  if (NetServerGetInfo(wide.c_str(), 101, &buffer) != NERR_Success) return 0;
  const bool nt = buffer && (reinterpret_cast<const SERVER_INFO_101*>(buffer)->sv101_type & SV_TYPE_NT);
  NetApiBufferFree(buffer);
  return nt ? 1 : 0;
}

std::vector<std::string> ParsePreferredMachines(std::string_view stored) {
  std::vector<std::string> machines;
  std::size_t start = 0;
  while (start < stored.size()) {
    std::size_t end = stored.find(';', start);
    if (end == std::string_view::npos) end = stored.size();
    if (end > start) machines.emplace_back(stored.substr(start, end - start));
    start = end + 1;
  }
  return machines;
}

std::string FormatPreferredMachines(const std::vector<std::string>& machines) {
  std::string stored;
  for (const std::string& machine : machines) stored += machine + ";";
  return stored;
}

std::vector<std::string> GetPreferredMachines() {
  const std::string section(KSLoadString(IDS_PROFILE_SECTION_VNMGR));
  const std::string value(KSLoadString(IDS_PREFERRED_MACHINES_VALUE));
  return ParsePreferredMachines(::GetProfileString(section.c_str(), value.c_str()).toStdString());
}

void SavePreferredMachines(const std::vector<std::string>& machines) {
  const std::string section(KSLoadString(IDS_PROFILE_SECTION_VNMGR));
  const std::string value(KSLoadString(IDS_PREFERRED_MACHINES_VALUE));
  // A profile that cannot be written keeps its old list: the tree shows the
  // new one until the console ends, and nobody is told (as for every setting).
  (void)::WriteProfileString(section.c_str(), value.c_str(), QString::fromStdString(FormatPreferredMachines(machines)));
}

DWORD EnumServerNames(DWORD type, const std::string& domain, const std::function<void(std::string name)>& each) {
  constexpr DWORD kPreferredLength = 65536;
  const std::u16string wideDomain = ToWide(domain);
  DWORD resume = 0;
  for (;;) {
    LPBYTE buffer = nullptr;
    DWORD read = 0;
    DWORD total = 0;
    const NET_API_STATUS status = NetServerEnum(nullptr, 100, &buffer, kPreferredLength, &read, &total, type,
                                                domain.empty() ? nullptr : wideDomain.c_str(), &resume);
    if (status != NERR_Success && status != static_cast<DWORD>(ERROR_MORE_DATA)) {
      NetApiBufferFree(buffer);
      return status;
    }
    const auto* servers = reinterpret_cast<const SERVER_INFO_100*>(buffer);
    for (DWORD i = 0; i < read; ++i) each(ToUtf8(servers[i].sv100_name));
    NetApiBufferFree(buffer);
    if (status == NERR_Success || resume == 0 || read == 0) return 0;
  }
}

}  // namespace vn::console
