#include "platform/net/Files.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/AsciiText.h"
#include "platform/core/CallResult.h"
#include "platform/core/HandleTable.h"
#include "platform/endpoints/MachineDirectory.h"
#include "platform/net/WNet.h"

namespace vn {
namespace {

constexpr std::uint64_t kDwordMax = 0xFFFFFFFF;

// Characters Windows never allows in a file name; wildcards only in a pattern.
bool IsValidComponent(std::string_view name, bool wildcards) {
  return std::none_of(name.begin(), name.end(), [&](unsigned char c) {
    return c < 0x20 || std::strchr("<>\"|:", c) != nullptr || (!wildcards && (c == '*' || c == '?'));
  });
}

// Splits what follows the root into its components, resolving "." and ".."
// (which stops at the root) and dropping empty components.
LONG NormaliseBelowRoot(std::string_view rest, bool pattern, std::string* path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= rest.size()) {
    auto end = rest.find('\\', start);
    if (end == std::string_view::npos) end = rest.size();
    parts.push_back(rest.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string_view> kept;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    if (!IsValidComponent(part, pattern && i + 1 == parts.size())) return ERROR_INVALID_NAME;
    kept.push_back(part);
  }
  path->clear();
  for (const auto part : kept) {
    if (!path->empty()) *path += '\\';
    *path += part;
  }
  return ERROR_SUCCESS;
}

LONG Endpoint(const std::string& machine, std::shared_ptr<MachineEndpoint>* endpoint) {
  if (const LONG error = FindMachine(machine, endpoint)) return error;
  return *endpoint ? ERROR_SUCCESS : ERROR_BAD_NETPATH;
}

bool IsUncPath(std::string_view path) {
  return path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/');
}

void ToFileTime(std::uint64_t ticks, FILETIME* time) {
  time->dwLowDateTime = static_cast<DWORD>(ticks);
  time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

void CopyTruncated(const std::string& text, char* out, std::size_t capacity) {
  const std::size_t size = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), size);
  out[size] = '\0';
}

void FillFindData(const FileEntry& entry, WIN32_FIND_DATAA* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = entry.attributes;
  ToFileTime(entry.creationTime, &data->ftCreationTime);
  ToFileTime(entry.lastAccessTime, &data->ftLastAccessTime);
  ToFileTime(entry.lastWriteTime, &data->ftLastWriteTime);
  data->nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(entry.size);
  CopyTruncated(entry.name, data->cFileName, sizeof data->cFileName);
  CopyTruncated(entry.alternateName, data->cAlternateFileName, sizeof data->cAlternateFileName);
}

struct Search {
  std::vector<FileEntry> entries;
  std::size_t next = 0;
};

HandleTable<Search>& Searches() {
  static HandleTable<Search> table;
  return table;
}

// This machine's drives and this process's redirected letters, by letter.
LONG Drives(std::vector<DriveInfo>* drives) {
  const auto local = LocalMachineEndpoint();
  if (!local) return ERROR_BAD_NETPATH;
  if (const LONG error = local->GetDrives(drives)) return error;
  for (const auto& connection : DriveConnections())
    if (connection.letter &&
        std::none_of(drives->begin(), drives->end(), [&](const DriveInfo& d) { return d.letter == connection.letter; }))
      drives->push_back({connection.letter, DRIVE_REMOTE});
  std::sort(drives->begin(), drives->end(), [](const DriveInfo& a, const DriveInfo& b) { return a.letter < b.letter; });
  return ERROR_SUCCESS;
}

// A root for the drive calls: null is "C:\".
std::string_view RootOrDefault(LPCSTR root) { return root ? std::string_view(root) : std::string_view("C:\\"); }

LONG ResolveExisting(LPCSTR path, FileLocation* resolved) {
  if (!path) return ERROR_INVALID_PARAMETER;
  return LocateFile(path, false, resolved);
}

// Creates, removes or deletes what `path` names through its machine; a root
// is never changed.
BOOL ChangeBelowRoot(LPCSTR path, LONG (MachineEndpoint::*change)(const MachinePath&)) {
  FileLocation resolved;
  if (const LONG error = ResolveExisting(path, &resolved)) return Fail(error);
  if (resolved.path.path.empty()) return Fail(ERROR_ACCESS_DENIED);
  if (const LONG error = (resolved.endpoint.get()->*change)(resolved.path)) return Fail(error);
  return Succeed();
}

}  // namespace

LONG LocateFile(std::string_view input, bool pattern, FileLocation* resolved) {
  std::string text(input);
  std::replace(text.begin(), text.end(), '/', '\\');
  std::string machine;
  std::string_view rest;
  const std::string_view view(text);
  char letter = 0;
  if (view.starts_with("\\\\")) {
    std::string_view unc = view.substr(2);
    const auto slash = unc.find('\\');
    const std::string_view server = unc.substr(0, slash);
    if (server.empty() || server == "." || server == "?") return ERROR_INVALID_NAME;
    if (slash == std::string_view::npos) return ERROR_BAD_NETPATH;
    unc.remove_prefix(slash + 1);
    const auto end = unc.find('\\');
    const std::string_view share = unc.substr(0, end);
    if (share.empty()) return ERROR_BAD_NETPATH;
    if (!IsValidComponent(share, false)) return ERROR_BAD_NET_NAME;
    machine = std::string(server);
    resolved->path.root = std::string(share);
    resolved->remote = true;
    rest = end == std::string_view::npos ? std::string_view() : unc.substr(end);
  } else if (view.size() >= 2 && IsAsciiLetter(view[0]) && view[1] == ':') {
    letter = ToUpperAscii(view[0]);
    rest = view.substr(2);
    if (!rest.empty() && rest[0] != '\\') return ERROR_INVALID_NAME;
  } else {
    return ERROR_INVALID_NAME;
  }
  resolved->trailingSeparator = rest.size() > 1 && rest.back() == '\\';
  if (const LONG error = NormaliseBelowRoot(rest, pattern, &resolved->path.path)) return error;

  if (letter) {
    if (const auto connection = FindDriveConnection(letter)) {
      resolved->path.root = connection->share;
      resolved->remote = true;
      return Endpoint(connection->server, &resolved->endpoint);
    }
    resolved->path.root = std::string(1, letter) + ":";
    resolved->remote = false;
    resolved->endpoint = LocalMachineEndpoint();
    return resolved->endpoint ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
  }
  return Endpoint(machine, &resolved->endpoint);
}

}  // namespace vn

using vn::FileLocation;

DWORD GetLogicalDriveStringsA(DWORD nBufferLength, LPSTR lpBuffer) {
  std::vector<vn::DriveInfo> drives;
  if (const LONG error = vn::Drives(&drives)) {
    SetLastError(static_cast<DWORD>(error));
    return 0;
  }
  std::string text;
  for (const auto& drive : drives) {
    text += drive.letter;
    text += ":\\";
    text += '\0';
  }
  const auto needed = static_cast<DWORD>(text.size() + 1);
  SetLastError(ERROR_SUCCESS);
  if (!lpBuffer || nBufferLength < needed) return needed;
  std::memcpy(lpBuffer, text.data(), text.size());
  lpBuffer[text.size()] = '\0';
  return static_cast<DWORD>(text.size());
}

DWORD GetLogicalDrives() {
  std::vector<vn::DriveInfo> drives;
  if (const LONG error = vn::Drives(&drives)) {
    SetLastError(static_cast<DWORD>(error));
    return 0;
  }
  DWORD mask = 0;
  for (const auto& drive : drives)
    if (drive.letter >= 'A' && drive.letter <= 'Z') mask |= DWORD{1} << (drive.letter - 'A');
  SetLastError(ERROR_SUCCESS);
  return mask;
}

UINT GetDriveTypeA(LPCSTR lpRootPathName) {
  const std::string_view root = vn::RootOrDefault(lpRootPathName);
  FileLocation resolved;
  if (vn::LocateFile(root, false, &resolved) != ERROR_SUCCESS || !resolved.path.path.empty())
    return DRIVE_NO_ROOT_DIR;
  if (vn::IsUncPath(root)) {
    std::vector<vn::ShareInfo> shares;
    if (resolved.endpoint->EnumShares(&shares) != ERROR_SUCCESS) return DRIVE_NO_ROOT_DIR;
    const bool found = std::any_of(shares.begin(), shares.end(), [&](const vn::ShareInfo& share) {
      return (share.type & ~STYPE_SPECIAL) == STYPE_DISKTREE && vn::EqualsIgnoringCase(share.name, resolved.path.root);
    });
    return found ? DRIVE_REMOTE : DRIVE_NO_ROOT_DIR;
  }
  std::vector<vn::DriveInfo> drives;
  if (vn::Drives(&drives) != ERROR_SUCCESS) return DRIVE_NO_ROOT_DIR;
  const char letter = vn::ToUpperAscii(root[0]);
  for (const auto& drive : drives)
    if (drive.letter == letter) return drive.type;
  return DRIVE_NO_ROOT_DIR;
}

BOOL GetVolumeInformationA(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength, LPDWORD lpFileSystemFlags,
                           LPSTR lpFileSystemNameBuffer, DWORD nFileSystemNameSize) {
  FileLocation resolved;
  if (const LONG error = vn::LocateFile(vn::RootOrDefault(lpRootPathName), false, &resolved))
    return vn::Fail(error);
  if (!resolved.path.path.empty()) return vn::Fail(ERROR_DIR_NOT_ROOT);
  vn::VolumeInfo info;
  if (const LONG error = resolved.endpoint->GetVolumeInfo(resolved.path, &info)) return vn::Fail(error);
  if ((lpVolumeNameBuffer && info.label.size() + 1 > nVolumeNameSize) ||
      (lpFileSystemNameBuffer && info.fileSystem.size() + 1 > nFileSystemNameSize))
    return vn::Fail(ERROR_INSUFFICIENT_BUFFER);
  if (lpVolumeNameBuffer) std::memcpy(lpVolumeNameBuffer, info.label.c_str(), info.label.size() + 1);
  if (lpFileSystemNameBuffer) std::memcpy(lpFileSystemNameBuffer, info.fileSystem.c_str(), info.fileSystem.size() + 1);
  if (lpVolumeSerialNumber) *lpVolumeSerialNumber = info.serialNumber;
  if (lpMaximumComponentLength) *lpMaximumComponentLength = info.maxComponentLength;
  if (lpFileSystemFlags) *lpFileSystemFlags = info.flags;
  return vn::Succeed();
}

BOOL GetDiskFreeSpaceExA(LPCSTR lpDirectoryName, PULARGE_INTEGER lpFreeBytesAvailableToCaller,
                         PULARGE_INTEGER lpTotalNumberOfBytes, PULARGE_INTEGER lpTotalNumberOfFreeBytes) {
  FileLocation resolved;
  if (const LONG error = vn::LocateFile(vn::RootOrDefault(lpDirectoryName), false, &resolved))
    return vn::Fail(error);
  vn::DiskSpace space;
  if (const LONG error = resolved.endpoint->GetDiskSpace(resolved.path, &space)) return vn::Fail(error);
  if (lpFreeBytesAvailableToCaller) lpFreeBytesAvailableToCaller->QuadPart = space.freeBytesToCaller;
  if (lpTotalNumberOfBytes) lpTotalNumberOfBytes->QuadPart = space.totalBytes;
  if (lpTotalNumberOfFreeBytes) lpTotalNumberOfFreeBytes->QuadPart = space.totalFreeBytes;
  return vn::Succeed();
}

BOOL GetDiskFreeSpaceA(LPCSTR lpRootPathName, LPDWORD lpSectorsPerCluster, LPDWORD lpBytesPerSector,
                       LPDWORD lpNumberOfFreeClusters, LPDWORD lpTotalNumberOfClusters) {
  FileLocation resolved;
  if (const LONG error = vn::LocateFile(vn::RootOrDefault(lpRootPathName), false, &resolved))
    return vn::Fail(error);
  vn::DiskSpace space;
  if (const LONG error = resolved.endpoint->GetDiskSpace(resolved.path, &space)) return vn::Fail(error);
  const DWORD bytesPerSector = std::max<DWORD>(space.bytesPerSector, 1);
  const DWORD sectorsPerCluster = std::max<DWORD>(space.sectorsPerCluster, 1);
  const std::uint64_t cluster = std::uint64_t{bytesPerSector} * sectorsPerCluster;
  if (lpSectorsPerCluster) *lpSectorsPerCluster = sectorsPerCluster;
  if (lpBytesPerSector) *lpBytesPerSector = bytesPerSector;
  if (lpNumberOfFreeClusters)
    *lpNumberOfFreeClusters = static_cast<DWORD>(std::min(space.freeBytesToCaller / cluster, vn::kDwordMax));
  if (lpTotalNumberOfClusters)
    *lpTotalNumberOfClusters = static_cast<DWORD>(std::min(space.totalBytes / cluster, vn::kDwordMax));
  return vn::Succeed();
}

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFileName || !lpFindFileData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  FileLocation resolved;
  LONG error = vn::LocateFile(lpFileName, true, &resolved);
  // A pattern must name something below its directory: "C:\" or "C:\Dir\" matches nothing.
  if (!error && (resolved.path.path.empty() || resolved.trailingSeparator)) error = ERROR_FILE_NOT_FOUND;
  vn::Search search;
  if (!error) error = resolved.endpoint->FindFiles(resolved.path, &search.entries);
  if (!error && search.entries.empty()) error = ERROR_FILE_NOT_FOUND;
  if (error) {
    SetLastError(static_cast<DWORD>(error));
    return INVALID_HANDLE_VALUE;
  }
  vn::FillFindData(search.entries[0], lpFindFileData);
  search.next = 1;
  SetLastError(ERROR_SUCCESS);
  return vn::Searches().Add(std::move(search));
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  if (!lpFindFileData) return vn::Fail(ERROR_INVALID_PARAMETER);
  LONG error = ERROR_SUCCESS;
  const bool known = vn::Searches().With(hFindFile, [&](vn::Search& search) {
    if (search.next >= search.entries.size()) {
      error = ERROR_NO_MORE_FILES;
      return;
    }
    vn::FillFindData(search.entries[search.next++], lpFindFileData);
  });
  if (!known) return vn::Fail(ERROR_INVALID_HANDLE);
  return error ? vn::Fail(error) : vn::Succeed();
}

BOOL FindClose(HANDLE hFindFile) {
  return vn::Searches().Remove(hFindFile) ? vn::Succeed() : vn::Fail(ERROR_INVALID_HANDLE);
}

DWORD GetFileAttributesA(LPCSTR lpFileName) {
  FileLocation resolved;
  vn::FileEntry entry;
  LONG error = vn::ResolveExisting(lpFileName, &resolved);
  if (!error) error = resolved.endpoint->GetFileInfo(resolved.path, &entry);
  if (error) {
    SetLastError(static_cast<DWORD>(error));
    return INVALID_FILE_ATTRIBUTES;
  }
  SetLastError(ERROR_SUCCESS);
  return entry.attributes;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
  return vn::ChangeBelowRoot(lpPathName, &vn::MachineEndpoint::CreateDirectory);
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) { return vn::ChangeBelowRoot(lpPathName, &vn::MachineEndpoint::RemoveDirectory); }

BOOL DeleteFileA(LPCSTR lpFileName) { return vn::ChangeBelowRoot(lpFileName, &vn::MachineEndpoint::DeleteFile); }
