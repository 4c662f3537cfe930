#pragma once
// What the result window's Delete, Copy to and Move to do to the files a
// result lists, on whatever machine the rows' paths name: local drive paths
// ("C:\Data\a.txt") or shares of other machines ("\\SRV1\Data\a.txt"). Every
// file call goes through the platform's file calls, so the machines' own path
// rules apply (no path leaves its drive or share).
//
// Results are Win32 error codes, 0 for success. Nothing is undone after a
// failure: what was deleted, copied or moved before it stays so. User-interface
// thread (the calls block while the machines answer).

#include <cstddef>
#include <string>
#include <vector>

#include "platform/core/Win32Types.h"

namespace vn::console {

// Deletes the file or the directory at `path`. A directory goes with
// everything in it: every entry of "<path>\*.*" but "." and ".." is deleted
// the same way, directories depth first, stopping at the first failure; then
// the directory itself is removed. A link to a directory is removed as a link:
// what it leads to is left alone. Returns 0 or the code of the first failure
// (also when the path's attributes cannot be read).
[[nodiscard]] DWORD DeleteFileOrTree(const std::string& path);

// One listed file to copy or move: its path and the name it gets in the
// destination.
struct FileToCopy {
  std::string source;
  std::string fileName;
};

struct CopyOutcome {
  std::size_t done = 0;      // files copied (or moved) before the failure, or all of them
  DWORD error = 0;           // 0, or the code of the failure
  std::string failedSource;  // the source that failed
};

// Copies each file to `destination` (a backslash is added unless it ends with
// one) plus its file name, never over an existing file; for a move, deletes
// the source after its copy. Stops at the first failure: a copy that failed
// (ERROR_FILE_EXISTS when the target exists) or a moved source that could not
// be deleted (its copy then stays).
[[nodiscard]] CopyOutcome CopyFilesTo(const std::vector<FileToCopy>& files, const std::string& destination, bool move);

}  // namespace vn::console
