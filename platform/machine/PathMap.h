#pragma once
// Path translation: from a MachinePath (a share or drive root and a Windows
// path below it) to the host path of a machine, keeping every path inside its
// root. LocalMachine resolves every file call through here.
//
// Rules, in order:
// - The root is a share name (without case; IPC$ has no files: ERROR_BAD_NET_NAME)
//   or, when the caller allows drives, "X:" (unknown letter: ERROR_PATH_NOT_FOUND;
//   a drive whose directory is missing, an empty CD-ROM: ERROR_NOT_READY). A
//   drive root from a caller that allows only shares, or an unknown share:
//   ERROR_BAD_NET_NAME.
// - Backslashes and forward slashes both separate; doubled separators count as
//   one. "." is dropped; ".." goes up one component but never above the root
//   ("C:\..\x" is "C:\x", as Windows clamps it).
// - A component that is not "." or ".." loses its trailing dots and spaces, as
//   Windows does when it looks a name up ("file.txt. " is "file.txt"); one that
//   is nothing but dots and spaces is ERROR_INVALID_NAME. So files whose host
//   names end in a dot or space are listed but cannot be opened by name.
// - NUL, control characters and < > : " | ? * are ERROR_INVALID_NAME; the last
//   component of a search pattern may hold * and ?. A component longer than 255
//   bytes, or a host path longer than PATH_MAX: ERROR_FILENAME_EXCED_RANGE.
// - Each component that exists is looked up as written first; if there is no
//   such name, the directory is scanned for names equal without ASCII letter
//   case, and the first in byte order is taken. Components from the first one
//   that does not exist are kept as written (the path may name a file to create).
// - The existing part of the path is resolved through symbolic links; when it
//   leads outside the root's own directory (also resolved), the path is
//   ERROR_ACCESS_DENIED. Roots that are "/" have nothing to escape. A link as
//   the last component that dangles is left alone (deleting it deletes the link).
//   This is the early answer for names that lead out; the file calls then open
//   the path below a descriptor of the root (OpenBeneath.h), which holds also
//   when the tree changes after this check.
//
// Plain functions over a configuration the caller owns; safe from any thread.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Win32Types.h"
#include "platform/machine/MachineConfig.h"

namespace vn {

// A file as a machine's callers name it: a root (a share name, or "X:" for a
// drive of this machine) and a Windows path below it.
struct MachinePath {
  std::string root;            // share name, or "X:" for a local drive
  std::string path;            // below the root, backslash-separated, may be empty
};

// Splits a Windows path at backslashes and forward slashes, dropping empty
// components (a leading, trailing or doubled separator); "." and ".." are kept.
std::vector<std::string> SplitWindowsPath(std::string_view path);

// Joins components with single backslashes: {"Dir", "File.txt"} -> "Dir\File.txt".
std::string JoinWindowsPath(const std::vector<std::string>& components);

// Whether `root` names a drive: "C:" in either case.
bool IsDriveRoot(std::string_view root);

// Windows wildcard matching, without ASCII letter case: "*" is any run of
// characters, "?" exactly one, a pattern ending in ".*" also matches the names
// its stem matches without an extension (so "*.*" matches every name), and one
// ending in "." (such as "*.") also matches the names without a dot its stem matches.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

enum class RootAccess {
  SharesOnly,       // what other machines may use
  SharesAndDrives,  // the local machine's own callers
};

enum class PathKind {
  Name,           // the path names a file or directory
  SearchPattern,  // the last component is a wildcard pattern; it is not looked up
};

struct ResolvedPath {
  std::filesystem::path root;            // the host directory of the share or drive
  std::filesystem::path host;            // the host path (of the directory, for a search pattern)
  std::vector<std::string> components;   // below the root, with the names found on disk
  std::size_t existing = 0;              // how many leading components exist
  std::string pattern;                   // the last component of a search pattern
  const DriveMapping* drive = nullptr;   // the drive when the root is one (points into the config)
  const ShareDefinition* share = nullptr;  // the share when the root is one (points into the config)

  bool IsRoot() const { return components.empty(); }
  bool Exists() const { return existing == components.size(); }
  // The components as a Windows path below the root ("Dir\File.txt").
  std::string WindowsPath() const { return JoinWindowsPath(components); }
};

// Translates `path` on the machine `config` describes. 0 on success; the
// codes above otherwise, with *resolved unspecified.
[[nodiscard]] LONG ResolvePath(const MachineConfig& config, const MachinePath& path, RootAccess access, PathKind kind,
                               ResolvedPath* resolved);

// The other way: the drive path ("D:\\Dir\\File") by which the machine
// `config` describes names the host path `host` (absolute), through the drive
// whose directory holds it (the deepest such drive when several do; links in
// the existing part of the path are resolved first). False when no drive
// holds it, or when a component could not be named in a Windows path (it
// holds a backslash or a character Windows refuses). For host paths that
// come from outside the file calls, such as a folder chosen in a dialog.
[[nodiscard]] bool DrivePathOfHostPath(const MachineConfig& config, const std::filesystem::path& host,
                                       std::string* drivePath);

// The Win32 code for a POSIX errno. ENOENT is ERROR_FILE_NOT_FOUND, or
// ERROR_PATH_NOT_FOUND when `missingIsPath` (a directory on the way is missing);
// EEXIST is ERROR_ALREADY_EXISTS; unknown errors are ERROR_GEN_FAILURE.
LONG Win32FromErrno(int error, bool missingIsPath = false);

}  // namespace vn
