#include "platform/machine/PathMap.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/core/AsciiText.h"

namespace vn {
namespace {

namespace fs = std::filesystem;

bool IsForbidden(unsigned char c, bool wildcardsAllowed) {
  if (c < 0x20) return true;
  if (wildcardsAllowed && (c == '*' || c == '?')) return false;
  return std::strchr("<>:\"|?*", c) != nullptr;
}

// "*" and "?" matching without case, by backtracking over the last star.
bool MatchSimple(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || ToUpperAscii(pattern[p]) == ToUpperAscii(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The name in `directory` equal to `name` without case, first in byte order;
// empty when there is none or the directory cannot be read.
std::string FindWithoutCase(const fs::path& directory, const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), &::closedir);
  if (!dir) return {};
  std::string best;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view candidate(entry->d_name);
    if (EqualsIgnoringCase(candidate, name) && (best.empty() || candidate < best)) best = std::string(candidate);
  }
  return best;
}

bool IsInside(const std::string& path, const std::string& root) {
  return root == "/" || path == root || (path.size() > root.size() && path.starts_with(root) && path[root.size()] == '/');
}

// Resolves the existing part of `resolved` through links; false when it leaves the root.
LONG CheckContainment(ResolvedPath* resolved, const std::string& realRoot) {
  if (realRoot == "/") return ERROR_SUCCESS;
  // The last existing component may be a dangling link: then its directory is what counts.
  for (std::size_t count = resolved->existing;; --count) {
    fs::path prefix = resolved->root;
    for (std::size_t i = 0; i < count; ++i) prefix /= resolved->components[i];
    char buffer[PATH_MAX];
    if (::realpath(prefix.c_str(), buffer)) {
      return IsInside(buffer, realRoot) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    const int error = errno;
    if (error == ELOOP) return ERROR_CANT_RESOLVE_FILENAME;
    if (count == 0 || (error != ENOENT && error != ENOTDIR)) return Win32FromErrno(error, true);
    // A dangling link anywhere but last would have made the lookup stop before it.
  }
}

}  // namespace

std::vector<std::string> SplitWindowsPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto end = path.find_first_of("\\/", start);
    const auto part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!part.empty()) parts.emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

std::string JoinWindowsPath(const std::vector<std::string>& components) {
  std::string path;
  for (const auto& component : components) {
    if (!path.empty()) path += '\\';
    path += component;
  }
  return path;
}

bool IsDriveRoot(std::string_view root) {
  return root.size() == 2 && root[1] == ':' && IsAsciiLetter(root[0]);
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (MatchSimple(pattern, name)) return true;
  if (pattern.ends_with(".*") && MatchSimple(pattern.substr(0, pattern.size() - 2), name)) return true;
  if (pattern.size() > 1 && pattern.ends_with('.') && name.find('.') == std::string_view::npos &&
      MatchSimple(pattern.substr(0, pattern.size() - 1), name))
    return true;
  return false;
}

LONG ResolvePath(const MachineConfig& config, const MachinePath& path, RootAccess access, PathKind kind,
                 ResolvedPath* resolved) {
  *resolved = {};
  if (IsDriveRoot(path.root)) {
    if (access != RootAccess::SharesAndDrives) return ERROR_BAD_NET_NAME;
    const char letter = ToUpperAscii(path.root[0]);
    const auto drive = std::find_if(config.drives.begin(), config.drives.end(),
                                    [&](const DriveMapping& d) { return d.letter == letter; });
    if (drive == config.drives.end()) return ERROR_PATH_NOT_FOUND;
    resolved->drive = &*drive;
    resolved->root = drive->root;
  } else {
    const auto share = std::find_if(config.shares.begin(), config.shares.end(),
                                    [&](const ShareDefinition& s) { return EqualsIgnoringCase(s.name, path.root); });
    if (share == config.shares.end() || (share->type & ~STYPE_SPECIAL) != STYPE_DISKTREE || share->root.empty())
      return ERROR_BAD_NET_NAME;
    resolved->share = &*share;
    resolved->root = share->root;
  }

  if (path.path.find('\0') != std::string::npos) return ERROR_INVALID_NAME;
  std::vector<std::string> parts = SplitWindowsPath(path.path);
  std::vector<std::string> components;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    std::string part = std::move(parts[i]);
    const bool last = i + 1 == parts.size();
    const bool isPattern = last && kind == PathKind::SearchPattern;
    if (part == ".") continue;
    if (part == "..") {
      if (!components.empty()) components.pop_back();
      continue;
    }
    if (std::any_of(part.begin(), part.end(), [&](unsigned char c) { return IsForbidden(c, isPattern); }))
      return ERROR_INVALID_NAME;
    // A wildcard pattern keeps its dots: "*." means "names without an extension".
    if (!isPattern || part.find_first_of("*?") == std::string::npos) {
      const auto keep = part.find_last_not_of(". ");
      if (keep == std::string::npos) return ERROR_INVALID_NAME;
      part.resize(keep + 1);
    }
    if (part.size() > NAME_MAX) return ERROR_FILENAME_EXCED_RANGE;
    components.push_back(std::move(part));
  }
  if (kind == PathKind::SearchPattern && !components.empty()) {
    resolved->pattern = std::move(components.back());
    components.pop_back();
  }

  struct stat st {};
  if (::stat(resolved->root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    return resolved->drive ? ERROR_NOT_READY : ERROR_BAD_NET_NAME;

  fs::path current = resolved->root;
  bool exists = true;
  for (auto& component : components) {
    if (exists) {
      fs::path candidate = current / component;
      if (::lstat(candidate.c_str(), &st) != 0) {
        std::string found = errno == ENOENT ? FindWithoutCase(current, component) : std::string();
        if (found.empty()) {
          exists = false;
        } else {
          component = std::move(found);
        }
      }
      if (exists) ++resolved->existing;
    }
    current /= component;
  }
  if (std::strlen(current.c_str()) >= PATH_MAX) return ERROR_FILENAME_EXCED_RANGE;
  resolved->components = std::move(components);
  resolved->host = std::move(current);

  char realRoot[PATH_MAX];
  if (!::realpath(resolved->root.c_str(), realRoot)) return Win32FromErrno(errno, true);
  return CheckContainment(resolved, realRoot);
}

LONG Win32FromErrno(int error, bool missingIsPath) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return missingIsPath ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return ERROR_NOT_READY;
    case EIO: return ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

bool DrivePathOfHostPath(const MachineConfig& config, const fs::path& host, std::string* drivePath) {
  if (!host.is_absolute()) return false;
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(host, ec);
  if (ec) return false;
  const DriveMapping* best = nullptr;
  fs::path bestRoot;
  for (const DriveMapping& drive : config.drives) {
    const fs::path root = fs::weakly_canonical(drive.root, ec);
    if (ec) continue;
    // Component by component, so that /data does not hold /database.
    auto [rootEnd, targetAt] = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
    const bool holds = rootEnd == root.end() || (std::next(rootEnd) == root.end() && rootEnd->empty());
    if (!holds) continue;
    if (!best || std::distance(root.begin(), root.end()) > std::distance(bestRoot.begin(), bestRoot.end())) {
      best = &drive;
      bestRoot = root;
    }
  }
  if (!best) return false;
  std::vector<std::string> components;
  for (const fs::path& part : target.lexically_relative(bestRoot)) {
    const std::string name = part.string();
    if (name.empty() || name == ".") continue;
    if (name == ".." || name.find('\\') != std::string::npos ||
        std::any_of(name.begin(), name.end(), [](unsigned char c) { return IsForbidden(c, false); }))
      return false;
    components.push_back(name);
  }
  *drivePath = std::string(1, best->letter) + ":\\" + JoinWindowsPath(components);
  return true;
}

}  // namespace vn
